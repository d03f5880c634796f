// ls [-type T]
#include "../Command.h"
#include "../Interpreter.h"

namespace rova::lang {
namespace {

host::Status run(CommandContext& context) {
    std::string line;
    for (const auto& name : context.host().nodeNames(context.in().value("type")))
        line += (line.empty() ? "" : " ") + name;
    context.result(line);
    return {};
}

const CommandRegistration registration{{
    .name = "ls",
    .synopsis = "[-type T]",
    .summary = "Print the names of all nodes (or of those of type T) on one line, in creation "
               "order.",
    .flags = {{.name = "type", .values = 1, .valueName = "T", .help = "only nodes of this type"}},
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
