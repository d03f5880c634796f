// evaluate PLUG: a diagnostic that asks a node to compute one plug, clean or not, input or not.
#include <string>

#include "../Command.h"
#include "../Interpreter.h"

namespace rova::lang {
namespace {

std::string outcome(const host::Host::ForcedCompute& answer) {
    switch (answer.status) {
        case 0:
            return "status 0, computed";
        case 5:
            return "status 5, stored value kept";
        case -1:
            return "threw (" + answer.error + "), stored value kept, plug left dirty";
        default:
            return "status " + std::to_string(answer.status) +
                   ", stored value kept, plug left dirty";
    }
}

host::Status run(CommandContext& context) {
    auto& host = context.host();
    const std::string& text = context.in().args().front();
    const auto plug = host.canonicalPlug(text);
    if (!plug.ok())
        return plug.status;
    const auto answer = host.forceCompute(text);
    if (!answer.ok())
        return answer.status;
    context.result("evaluate: " + plug.value + ": " + outcome(answer.value) + ": " +
                   host::formatValue(answer.value.value));
    return {};
}

const CommandRegistration registration{{
    .name = "evaluate",
    .synopsis = "PLUG",
    .summary =
        "Ask the plug's node to compute PLUG even when it is clean or an input (sources are not "
        "pulled first) and print what it answered and the value afterwards: \"evaluate: PLUG: "
        "status 0, computed: VALUE\"; status 5 (the node does not compute it) keeps the stored "
        "value and changes nothing; any other status keeps the stored value and leaves the plug "
        "dirty.",
    .minArgs = 1,
    .maxArgs = 1,
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
