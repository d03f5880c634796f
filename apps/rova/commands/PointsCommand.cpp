// points N [-world]
#include "../Interpreter.h"
#include "../SceneObjects.h"

namespace rova::lang {
namespace {

host::Status run(CommandContext& context) {
    const auto geometry =
        host::scene::geometry(context.in().args().front(), context.in().has("world"));
    if (!geometry.ok())
        return geometry.status;
    for (const auto& p : geometry.value.points)
        context.result(host::formatDouble(p[0]) + " " + host::formatDouble(p[1]) + " " +
                       host::formatDouble(p[2]));
    return {};
}

const CommandRegistration registration{{
    .name = "points",
    .synopsis = "N [-world]",
    .summary = "Print mesh N's vertex positions (N: the transform or the shape), one `x y z` line "
               "each in vertex order: in object space, or with -world through every transform "
               "above it (evaluating what is connected to them).",
    .flags = {{.name = "world", .help = "world-space positions"}},
    .minArgs = 1,
    .maxArgs = 1,
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
