// sphere [-name N] [-radius R] [-segments K] [-parent P]
#include "../Interpreter.h"
#include "../SceneObjects.h"

namespace rova::lang {
namespace {

host::Status run(CommandContext& context) {
    const auto radius = positiveFlag(context.in(), "radius", 1.0);
    if (!radius.ok())
        return radius.status;
    const auto segments = integerFlag(context.in(), "segments", 16, 3, 1000);
    if (!segments.ok())
        return segments.status;
    const auto geometry = host::scene::sphere(radius.value, segments.value);
    return createObject(context, "sphere", host::scene::ShapeType::kMesh, &geometry);
}

const CommandRegistration registration{{
    .name = "sphere",
    .synopsis = "[-name N] [-radius R] [-segments K] [-parent P]",
    .summary = "Create a sphere of radius R (default 1) centred at the origin, K slices around Y "
               "(default 16) and max(K / 2, 2) stacks: a vertex at each pole and (stacks - 1) "
               "rings of K vertices, top first; print N.",
    .flags = {kNameFlag,
              {.name = "radius",
               .values = 1,
               .kind = ValueKind::kNumber,
               .valueName = "R",
               .help = "radius"},
              {.name = "segments",
               .values = 1,
               .kind = ValueKind::kInteger,
               .valueName = "K",
               .help = "slices around Y, 3 to 1000"},
              kParentFlag},
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
