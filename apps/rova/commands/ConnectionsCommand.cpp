// connections [N]
#include "../Command.h"
#include "../Interpreter.h"

namespace rova::lang {
namespace {

host::Status run(CommandContext& context) {
    const auto& args = context.in().args();
    if (!args.empty() && !context.host().hasNode(args.front()))
        return host::Status::failure("no node named '" + args.front() + "'");
    std::string line;
    for (const auto& [source, destination] :
         context.host().connections(args.empty() ? "" : args.front()))
        line += (line.empty() ? "" : " ") + source + "->" + destination;
    context.result(line);
    return {};
}

const CommandRegistration registration{{
    .name = "connections",
    .synopsis = "[N]",
    .summary = "Print every connection (or those that touch node N) on one line as "
               "SRC->DST pairs, in the order they were made.",
    .maxArgs = 1,
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
