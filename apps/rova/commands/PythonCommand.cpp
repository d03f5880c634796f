// python(TEXT)
#include "../Command.h"
#include "../Interpreter.h"
#include "../PythonBridge.h"

namespace rova::lang {
namespace {

host::Status run(CommandContext& context) {
    return context.interpreter().python().run(context.in().args().front());
}

const CommandRegistration registration{{
    .name = "python",
    .synopsis = "TEXT",
    .summary = "Run TEXT as Python code in the host's embedded interpreter (module rova: "
               "rova.eval, rova.get, rova.ls, rova.exists); an exception fails the statement.",
    .minArgs = 1,
    .maxArgs = 1,
    .flagsAreWords = true,
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
