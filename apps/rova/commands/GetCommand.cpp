// get PLUG
#include "../Command.h"
#include "../Interpreter.h"

namespace rova::lang {
namespace {

host::Status run(CommandContext& context) {
    auto value = context.host().getPlug(context.in().args().front());
    if (!value.ok())
        return value.status;
    context.result(host::formatValue(value.value));
    return {};
}

const CommandRegistration registration{{
    .name = "get",
    .synopsis = "PLUG",
    .summary = "Print an attribute's value, evaluating it first when it is dirty.",
    .minArgs = 1,
    .maxArgs = 1,
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
