// rotate -os X Y Z N...
#include <array>

#include "../Interpreter.h"
#include "../SceneObjects.h"

namespace rova::lang {
namespace {

host::Status run(CommandContext& context) {
    auto& host = context.host();
    const auto& in = context.in();
    const auto& words = in.values("os");
    const auto rotation =
        tripleValue(*parseNumber(words[0]), *parseNumber(words[1]), *parseNumber(words[2]));
    std::vector<std::string> plugs;
    for (const auto& object : in.args()) {
        const auto transform = host::scene::transformOf(object);
        if (!transform.ok())
            return transform.status;
        plugs.push_back(transform.value + ".rotate");
    }
    for (const auto& plug : plugs) {
        const auto before = host.storedPlug(plug);
        if (!before.ok())
            return before.status;
        if (host::Status status = host.setPlugValue(plug, rotation); !status)
            return status;
        context.recordUndo(
            context.statement().text(),
            [&host, plug, value = before.value] { return host.setPlugValue(plug, value); },
            [&host, plug, value = rotation] { return host.setPlugValue(plug, value); });
    }
    return {};
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
    .flags = {{.name = "os",
               .values = 3,
               .kind = ValueKind::kNumber,
               .valueName = "X Y Z",
               .help = "absolute rotation in object space, degrees"}},
    .minArgs = 1,
    .maxArgs = -1,
    .validate = validate,
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
