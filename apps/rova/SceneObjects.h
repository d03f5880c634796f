#pragma once
// What the scene commands share: making an object (a transform, with a shape) as one undoable
// change, and the checks of their size flags.
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "Command.h"
#include "rovahost/Scene.h"

namespace rova::lang {

// The -name and -parent flags every object command takes.
inline const FlagDefinition kNameFlag{
    .name = "name", .values = 1, .valueName = "N", .help = "the transform's name"};
inline const FlagDefinition kParentFlag{.name = "parent",
                                        .values = 1,
                                        .valueName = "P",
                                        .help = "the object (transform or shape) to put it under"};

// Creates the transform named by -name (or BASE1, BASE2, ...) under -parent, with a shape of that
// type and, for a mesh, that geometry; records it for undo and prints the transform's name. What
// fails half-way is taken back.
host::Status createObject(CommandContext& context, const std::string& base,
                          std::optional<host::scene::ShapeType> shape,
                          const host::scene::MeshGeometry* geometry = nullptr);

// A flag that takes three numbers, X Y Z (a translation, a rotation).
inline FlagDefinition tripleFlag(std::string name, std::string help) {
    return {.name = std::move(name),
            .values = 3,
            .kind = ValueKind::kNumber,
            .valueName = "X Y Z",
            .help = std::move(help)};
}

// A compound of three numbers (translate, rotate), as the commands write it.
inline host::PlugValue tripleValue(double x, double y, double z) {
    host::PlugValue value;
    value.kind = host::PlugValue::Kind::kDouble3;
    value.double3 = {x, y, z};
    return value;
}

// Sets the compound plug `attribute` (translate, rotate) of the transform of every object the
// statement names to what `next` makes of the plug's value, each as one undoable change. `next`
// is given the transform's name and may refuse the statement. Every name is checked and every new
// value worked out before anything changes, so a statement that fails changes nothing; an object
// named twice (or by its transform and its shape) changes twice.
host::Status setTransformTriples(
    CommandContext& context, const std::string& attribute,
    const std::function<host::Result<host::PlugValue>(const std::string& transform,
                                                      const host::PlugValue& before)>& next);

// A flag's number that must be greater than zero (a finite number: binding checked that).
host::Result<double> positiveFlag(const Invocation& in, const std::string& flag, double fallback);
// A flag's integer within [minimum, maximum].
host::Result<int> integerFlag(const Invocation& in, const std::string& flag, int fallback,
                              int minimum, int maximum);

}  // namespace rova::lang
