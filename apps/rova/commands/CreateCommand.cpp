// create TYPE [-name N]
#include <memory>

#include "../Command.h"
#include "../Interpreter.h"

namespace rova::lang {
namespace {

host::Status run(CommandContext& context) {
    auto& host = context.host();
    const auto& in = context.in();
    if (auto named = checkNameFlag(in); !named)
        return named;
    auto created = host.createNode(in.args().front(), in.value("name"));
    if (!created.ok())
        return created.status;
    const std::string name = created.value;
    // The snapshot taken when the creation is undone is what redo re-creates.
    auto snapshot = std::make_shared<host::NodeSnapshot>();
    context.recordUndo(
        context.statement().text(),
        [&host, name, snapshot] {
            auto taken = host.snapshotNode(name);
            if (!taken.ok())
                return taken.status;
            *snapshot = taken.value;
            return host.deleteNode(name);
        },
        [&host, snapshot] { return host.restoreNode(*snapshot); });
    context.result(name);
    return {};
}

const CommandRegistration registration{{
    .name = "create",
    .synopsis = "TYPE [-name N]",
    .summary = "Create a dependency node of a registered type and print its name (a taken name "
               "gets a numeric suffix; the default name is the type name with a number).",
    .flags = {{.name = "name", .values = 1, .valueName = "N", .help = "the node's name"}},
    .minArgs = 1,
    .maxArgs = 1,
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
