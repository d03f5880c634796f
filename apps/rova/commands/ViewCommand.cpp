// view [-camera N]
#include "../Interpreter.h"
#include "../SceneObjects.h"

namespace rova::lang {
namespace {

host::Status run(CommandContext& context) {
    const auto& in = context.in();
    const std::string before = host::scene::activeCamera();
    if (!in.has("camera")) {
        const std::string transform = before.empty() ? "persp" : host::scene::parentOf(before);
        context.result(transform.empty() ? before : transform);
        return {};
    }
    if (host::Status status = host::scene::setActiveCamera(in.value("camera")); !status)
        return status;
    const std::string after = host::scene::activeCamera();
    context.recordUndo(
        context.statement().text(), [before] { return host::scene::setActiveCamera(before); },
        [after] { return host::scene::setActiveCamera(after); });
    return {};
}

const CommandRegistration registration{{
    .name = "view",
    .synopsis = "-camera N\n",
    .summary = "Make camera N (transform or shape) the active 3D view's camera; without a flag, "
               "print the active camera's transform: `persp`, the host's default camera at "
               "(0, 0, 10) looking down -Z at the origin, until another is made active (or when "
               "the active one is deleted).",
    .flags =
        {{.name = "camera", .values = 1, .valueName = "N", .help = "the camera to look through"}},
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
