// move -a X Y Z N... | move -r X Y Z N...
#include <array>
#include <memory>

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
    std::vector<std::string> plugs;
    for (const auto& object : in.args()) {
        const auto transform = host::scene::transformOf(object);
        if (!transform.ok())
            return transform.status;
        plugs.push_back(transform.value + ".translate");
    }
    for (const auto& plug : plugs) {
        const auto before = host.storedPlug(plug);
        if (!before.ok())
            return before.status;
        auto after =
            relative ? tripleValue(before.value.double3[0] + by[0], before.value.double3[1] + by[1],
                                   before.value.double3[2] + by[2])
                     : tripleValue(by[0], by[1], by[2]);
        if (host::Status status = host.setPlugValue(plug, after); !status)
            return status;
        context.recordUndo(
            context.statement().text(),
            [&host, plug, value = before.value] { return host.setPlugValue(plug, value); },
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
