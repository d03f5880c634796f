// help [COMMAND]
#include <iostream>

#include "../Command.h"
#include "../Help.h"
#include "../Interpreter.h"

namespace rova::lang {
namespace {

host::Status run(CommandContext& context) {
    const auto& args = context.in().args();
    if (args.empty()) {
        std::cout << commandReference();
        return {};
    }
    const CommandDefinition* definition = findCommand(args.front());
    if (!definition) {
        if (context.host().hasPluginCommand(args.front())) {
            std::cout << args.front() << ": a command registered by a plug-in\n";
            return {};
        }
        return host::Status::failure("no built-in command named '" + args.front() + "'");
    }
    std::cout << commandHelp(*definition);
    return {};
}

const CommandRegistration registration{{
    .name = "help",
    .synopsis = "[COMMAND]",
    .summary = "Print the command reference, or one command's usage and flags.",
    .maxArgs = 1,
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
