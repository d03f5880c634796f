// rename OLD NEW
#include "../Command.h"
#include "../Interpreter.h"

namespace rova::lang {
namespace {

host::Status run(CommandContext& context) {
    auto& host = context.host();
    const std::string from = context.in().args()[0];
    const std::string to = context.in().args()[1];
    if (host::Status status = host.renameNode(from, to); !status)
        return status;
    context.recordUndo(
        context.statement().text(), [&host, from, to] { return host.renameNode(to, from); },
        [&host, from, to] { return host.renameNode(from, to); });
    return {};
}

const CommandRegistration registration{{
    .name = "rename",
    .synopsis = "OLD NEW",
    .summary = "Rename a node; NEW must be free and follow the node name rule.",
    .minArgs = 2,
    .maxArgs = 2,
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
