// move -a X Y Z N... | move -r X Y Z N...
#include <array>
#include <cmath>
#include <memory>
#include <utility>
#include <vector>

#include "../Interpreter.h"
#include "../SceneObjects.h"

namespace rova::lang {
namespace {

host::Status run(CommandContext& context) {
    auto& host = context.host();
    const auto& in = context.in();
    const bool relative = in.has("r");
    const auto& words = in.values(relative ? "r" : "a");
    std::array<double, 3> by{};
    for (std::size_t k = 0; k < 3; ++k) by[k] = *parseNumber(words[k]);
    // Check every object first: a statement that fails changes nothing.
    std::vector<std::pair<std::string, std::string>> objects;  // transform, its translate plug
    for (const auto& object : in.args()) {
        const auto transform = host::scene::transformOf(object);
        if (!transform.ok())
            return transform.status;
        objects.emplace_back(transform.value, transform.value + ".translate");
    }
    // Work out every new translation first: one that a double cannot hold refuses the statement.
    std::vector<std::pair<host::PlugValue, host::PlugValue>> moves;  // before, after
    for (const auto& [transform, plug] : objects) {
        auto before = host.storedPlug(plug);
        if (!before.ok())
            return before.status;
        // An object named twice (or by its transform and its shape) moves twice.
        for (std::size_t k = 0; k < moves.size(); ++k)
            if (objects[k].second == plug)
                before.value = moves[k].second;
        const auto& at = before.value.double3;
        const auto after = relative ? tripleValue(at[0] + by[0], at[1] + by[1], at[2] + by[2])
                                    : tripleValue(by[0], by[1], by[2]);
        for (const double component : after.double3)
            if (!std::isfinite(component))
                return host::Status::failure("cannot move '" + transform + "' from " +
                                             host::formatValue(before.value) + " by " +
                                             host::formatValue(tripleValue(by[0], by[1], by[2])) +
                                             ": the translation would not be a finite number");
        moves.emplace_back(before.value, after);
    }
    for (std::size_t k = 0; k < objects.size(); ++k) {
        const std::string& plug = objects[k].second;
        const auto& [before, after] = moves[k];
        if (host::Status status = host.setPlugValue(plug, after); !status)
            return status;
        context.recordUndo(
            context.statement().text(),
            [&host, plug, value = before] { return host.setPlugValue(plug, value); },
            [&host, plug, value = after] { return host.setPlugValue(plug, value); });
    }
    return {};
}

host::Status validate(const Invocation& in) {
    if (in.has("a") == in.has("r"))
        return host::Status::failure("give one of -a (absolute) and -r (relative)");
    return {};
}

const CommandRegistration registration{{
    .name = "move",
    .synopsis = "-a X Y Z N...\n-r X Y Z N...",
    .summary = "Set the translation of objects N (transform or shape names: the transform moves) "
               "to X Y Z (-a), or add X Y Z to it (-r).",
    .flags = {{.name = "a",
               .values = 3,
               .kind = ValueKind::kNumber,
               .valueName = "X Y Z",
               .help = "absolute translation"},
              {.name = "r",
               .values = 3,
               .kind = ValueKind::kNumber,
               .valueName = "X Y Z",
               .help = "relative translation"}},
    .minArgs = 1,
    .maxArgs = -1,
    .validate = validate,
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
