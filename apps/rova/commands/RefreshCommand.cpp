// refresh
#include "../Command.h"
#include "../Interpreter.h"

namespace rova::lang {
namespace {

host::Status run(CommandContext& context) {
    context.host().tick();
    return {};
}

const CommandRegistration registration{{
    .name = "refresh",
    .synopsis = "",
    .summary = "One host tick: run the statements queued for idle time, mark the refresh "
               "attributes of device nodes that pushed data dirty, evaluate the watched plugs, "
               "then what the scene shows (every transform's worldMatrix and every mesh's "
               "outMesh, pulled through what is connected into them).",
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
