// plane [-name N] [-size S] [-divisions D] [-parent P]
#include "../Interpreter.h"
#include "../SceneObjects.h"

namespace rova::lang {
namespace {

host::Status run(CommandContext& context) {
    const auto size = positiveFlag(context.in(), "size", 1.0);
    if (!size.ok())
        return size.status;
    const auto divisions = integerFlag(context.in(), "divisions", 1, 1, 1000);
    if (!divisions.ok())
        return divisions.status;
    const auto geometry = host::scene::plane(size.value, divisions.value);
    return createObject(context, "plane", host::scene::ShapeType::kMesh, &geometry);
}

const CommandRegistration registration{{
    .name = "plane",
    .synopsis = "[-name N] [-size S] [-divisions D] [-parent P]",
    .summary = "Create a square of side S (default 1) in the XZ plane facing +Y, centred at the "
               "origin, of D x D quads (default 1) and (D + 1)^2 vertices, row by row from -Z to "
               "+Z, each row from -X to +X; print N.",
    .flags = {kNameFlag,
              {.name = "size",
               .values = 1,
               .kind = ValueKind::kNumber,
               .valueName = "S",
               .help = "side length"},
              {.name = "divisions",
               .values = 1,
               .kind = ValueKind::kInteger,
               .valueName = "D",
               .help = "quads along each side, 1 to 1000"},
              kParentFlag},
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
