// export N PATH [-world]
#include "../Interpreter.h"
#include "../SceneObjects.h"

namespace rova::lang {
namespace {

host::Status run(CommandContext& context) {
    const auto& args = context.in().args();
    const auto geometry = host::scene::geometry(args[0], context.in().has("world"));
    if (!geometry.ok())
        return geometry.status;
    return host::scene::writeObj(args[1], geometry.value, args[0]);
}

const CommandRegistration registration{{
    .name = "export",
    .synopsis = "N PATH [-world]",
    .summary = "Write mesh N (transform or shape) to PATH as OBJ: its vertices in object space "
               "(with -world, in world space) and its polygons, numbers in the shortest text that "
               "reads back exactly.",
    .flags = {{.name = "world", .help = "write world-space positions"}},
    .minArgs = 2,
    .maxArgs = 2,
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
