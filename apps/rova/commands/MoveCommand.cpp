// move -a X Y Z N... | move -r X Y Z N...
#include <array>
#include <cmath>

#include "../Interpreter.h"
#include "../SceneObjects.h"

namespace rova::lang {
namespace {

host::Status run(CommandContext& context) {
    const auto& in = context.in();
    const bool relative = in.has("r");
    const auto& words = in.values(relative ? "r" : "a");
    std::array<double, 3> by{};
    for (std::size_t k = 0; k < 3; ++k) by[k] = *parseNumber(words[k]);
    return setTransformTriples(
        context, "translate",
        [&](const std::string& transform,
            const host::PlugValue& before) -> host::Result<host::PlugValue> {
            const auto& at = before.double3;
            auto after = relative ? tripleValue(at[0] + by[0], at[1] + by[1], at[2] + by[2])
                                  : tripleValue(by[0], by[1], by[2]);
            for (const double component : after.double3)
                if (!std::isfinite(component))
                    return {.status = host::Status::failure(
                                "cannot move '" + transform + "' from " +
                                host::formatValue(before) + " by " +
                                host::formatValue(tripleValue(by[0], by[1], by[2])) +
                                ": the translation would not be a finite number")};
            return {.value = after, .status = {}};
        });
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
    .flags = {tripleFlag("a", "absolute translation"), tripleFlag("r", "relative translation")},
    .minArgs = 1,
    .maxArgs = -1,
    .validate = validate,
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
