// source FILE
#include "../Command.h"
#include "../Interpreter.h"

namespace rova::lang {
namespace {

host::Status run(CommandContext& context) {
    return context.interpreter().runFile(context.in().args().front());
}

const CommandRegistration registration{{
    .name = "source",
    .synopsis = "FILE",
    .summary = "Run the statements of a script file, found on the script path (or by path). The "
               "whole file is checked first and runs as one statement: a failure names the file "
               "and its line, and takes back what the file changed.",
    .minArgs = 1,
    .maxArgs = 1,
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
