// cube [-name N] [-size S] [-parent P]
#include "../Interpreter.h"
#include "../SceneObjects.h"

namespace rova::lang {
namespace {

host::Status run(CommandContext& context) {
    const auto size = positiveFlag(context.in(), "size", 1.0);
    if (!size.ok())
        return size.status;
    const auto geometry = host::scene::cube(size.value);
    return createObject(context, "cube", host::scene::ShapeType::kMesh, &geometry);
}

const CommandRegistration registration{{
    .name = "cube",
    .synopsis = "[-name N] [-size S] [-parent P]",
    .summary = "Create an axis-aligned cube of edge S (default 1) centred at the origin: the "
               "transform N and its mesh NShape (8 vertices, 6 quads); print N.",
    .flags = {kNameFlag,
              {.name = "size",
               .values = 1,
               .kind = ValueKind::kNumber,
               .valueName = "S",
               .help = "edge length"},
              kParentFlag},
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
