// set PLUG VALUE...
#include "../Command.h"
#include "../Interpreter.h"

namespace rova::lang {
namespace {

host::Status run(CommandContext& context) {
    auto& host = context.host();
    const auto& args = context.in().args();
    const std::string plug = args.front();
    auto before = host.storedPlug(plug);
    if (!before.ok())
        return before.status;
    const std::vector<std::string> words(args.begin() + 1, args.end());
    if (host::Status status = host.setPlug(plug, words); !status)
        return status;
    auto after = host.storedPlug(plug);
    if (!after.ok())
        return after.status;
    context.recordUndo(
        context.statement().text(),
        [&host, plug, value = before.value] { return host.setPlugValue(plug, value); },
        [&host, plug, value = after.value] { return host.setPlugValue(plug, value); });
    return {};
}

const CommandRegistration registration{{
    .name = "set",
    .synopsis = "PLUG VALUE...",
    .summary = "Write an attribute: VALUE in the form get prints it (booleans true/false/on/off/"
               "1/0, numbers, a compound's numbers one after another, a matrix's 16 numbers row "
               "by row, text).",
    .minArgs = 2,
    .maxArgs = -1,
    .flagsAreWords = true,
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
