// print(TEXT)
#include <iostream>

#include "../Command.h"
#include "../Interpreter.h"

namespace rova::lang {
namespace {

host::Status run(CommandContext& context) {
    std::cout << context.in().args().front();
    return {};
}

const CommandRegistration registration{{
    .name = "print",
    .synopsis = "TEXT",
    .summary = "Write TEXT to standard output as it is (no line end is added: write \\n).",
    .minArgs = 1,
    .maxArgs = 1,
    .flagsAreWords = true,
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
