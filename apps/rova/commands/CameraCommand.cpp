// camera [-name N] [-parent P]
#include "../Interpreter.h"
#include "../SceneObjects.h"

namespace rova::lang {
namespace {

host::Status run(CommandContext& context) {
    return createObject(context, "camera", host::scene::ShapeType::kCamera);
}

const CommandRegistration registration{{
    .name = "camera",
    .synopsis = "[-name N] [-parent P]",
    .summary = "Create a camera: the transform N and its camera shape NShape, looking down its "
               "local -Z with +Y up; print N. `view -camera N` looks through it.",
    .flags = {kNameFlag, kParentFlag},
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
