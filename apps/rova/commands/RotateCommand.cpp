// rotate -os X Y Z N...

#include "../Interpreter.h"
#include "../SceneObjects.h"

namespace rova::lang {
namespace {

host::Status run(CommandContext& context) {
    const auto& words = context.in().values("os");
    const auto rotation =
        tripleValue(*parseNumber(words[0]), *parseNumber(words[1]), *parseNumber(words[2]));
    return setTransformTriples(context, "rotate", [&](const std::string&, const host::PlugValue&) {
        return host::Result<host::PlugValue>{.value = rotation, .status = {}};
    });
}

host::Status validate(const Invocation& in) {
    if (!in.has("os"))
        return host::Status::failure("-os X Y Z is required");
    return {};
}

const CommandRegistration registration{{
    .name = "rotate",
    .synopsis = "-os X Y Z N...",
    .summary = "Set the rotation of objects N (transform or shape names) to the Euler angles X Y "
               "Z in degrees, applied about x, then y, then z, in the transform's own space.",
    .flags = {tripleFlag("os", "absolute rotation in object space, degrees")},
    .minArgs = 1,
    .maxArgs = -1,
    .validate = validate,
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
