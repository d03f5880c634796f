// intersect -from X Y Z -direction X Y Z [N]
#include <array>

#include "../Interpreter.h"
#include "../SceneObjects.h"

namespace rova::lang {
namespace {

std::array<double, 3> triple(const std::vector<std::string>& words) {
    return {*parseNumber(words[0]), *parseNumber(words[1]), *parseNumber(words[2])};
}

host::Status run(CommandContext& context) {
    const auto& in = context.in();
    const auto source = triple(in.values("from"));
    const auto direction = triple(in.values("direction"));
    const auto hits = in.args().empty()
                          ? host::scene::intersectScene(source, direction)
                          : host::scene::intersect(in.args().front(), source, direction);
    if (!hits.ok())
        return hits.status;
    for (const auto& hit : hits.value)
        context.result(hit.mesh + " " + std::to_string(hit.polygon) + " " +
                       host::formatDouble(hit.point[0]) + " " + host::formatDouble(hit.point[1]) +
                       " " + host::formatDouble(hit.point[2]));
    return {};
}

host::Status validate(const Invocation& in) {
    if (!in.has("from") || !in.has("direction"))
        return host::Status::failure("-from X Y Z and -direction X Y Z are required");
    return {};
}

const CommandRegistration registration{{
    .name = "intersect",
    .synopsis = "-from X Y Z -direction X Y Z [N]",
    .summary = "Cast the ray from X Y Z along the direction (world space) at mesh N, or at every "
               "mesh, and print each hit nearest first as `MESH POLYGON x y z`.",
    .flags = {{.name = "from",
               .values = 3,
               .kind = ValueKind::kNumber,
               .valueName = "X Y Z",
               .help = "where the ray starts"},
              {.name = "direction",
               .values = 3,
               .kind = ValueKind::kNumber,
               .valueName = "X Y Z",
               .help = "which way it goes (any non-zero length)"}},
    .minArgs = 0,
    .maxArgs = 1,
    .validate = validate,
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
