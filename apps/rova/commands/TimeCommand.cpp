// time [-frame F | -seconds S] [-fps R]
#include <cmath>

#include "../Command.h"
#include "../Interpreter.h"

namespace rova::lang {
namespace {

host::Status run(CommandContext& context) {
    auto& host = context.host();
    const auto& in = context.in();
    const double oldSeconds = host.time();
    const double oldFps = host.fps();
    bool changed = false;
    // Refused before anything changes: a rate or frame that puts the scene at no finite time.
    const bool settingFps = in.has("fps") && !in.values("fps").empty();
    const double fps = settingFps ? *parseNumber(in.value("fps")) : oldFps;
    if (settingFps && !(fps > 0))
        return host::Status::failure("-fps must be greater than 0, got " + in.value("fps"));
    if (in.has("frame") && !in.values("frame").empty() &&
        !std::isfinite(*parseNumber(in.value("frame")) / fps))
        return host::Status::failure("frame " + in.value("frame") + " at " +
                                     host::formatDouble(fps) +
                                     " frames per second is not a finite time");
    if (in.has("fps")) {
        if (in.values("fps").empty()) {
            context.result(host::formatDouble(host.fps()));
        } else {
            host.setFps(fps);
            changed = true;
        }
    }
    if (in.has("frame")) {
        if (in.values("frame").empty()) {
            context.result(host::formatDouble(host.time() * host.fps()));
        } else {
            host.setTime(*parseNumber(in.value("frame")) / host.fps());
            changed = true;
        }
    }
    if (in.has("seconds")) {
        if (in.values("seconds").empty()) {
            context.result(host::formatDouble(host.time()));
        } else {
            host.setTime(*parseNumber(in.value("seconds")));
            changed = true;
        }
    }
    if (in.flagCount() == 0)
        context.result(host::formatDouble(host.time()));
    if (changed) {
        const double newSeconds = host.time();
        const double newFps = host.fps();
        context.recordUndo(
            context.statement().text(),
            [&host, oldSeconds, oldFps] {
                host.setFps(oldFps);
                host.setTime(oldSeconds);
                return host::Status{};
            },
            [&host, newSeconds, newFps] {
                host.setFps(newFps);
                host.setTime(newSeconds);
                return host::Status{};
            });
    }
    return {};
}

const CommandRegistration registration{{
    .name = "time",
    .synopsis = "[-frame F | -seconds S] [-fps R]",
    .summary = "Set the scene time by frame or in seconds, or the frame rate; a flag without its "
               "value prints that value, and time alone prints the time in seconds. Changing the "
               "time dirties everything connected to sceneTime.time.",
    .flags = {{.name = "frame",
               .values = 1,
               .optionalValue = true,
               .kind = ValueKind::kNumber,
               .valueName = "F",
               .help = "go to frame F (at the current frame rate)"},
              {.name = "seconds",
               .values = 1,
               .optionalValue = true,
               .kind = ValueKind::kNumber,
               .valueName = "S",
               .help = "go to S seconds"},
              {.name = "fps",
               .values = 1,
               .optionalValue = true,
               .kind = ValueKind::kNumber,
               .valueName = "R",
               .help = "frames per second (default 24)"}},
    .validate =
        [](const Invocation& in) {
            if (in.has("frame") && in.has("seconds"))
                return host::Status::failure("give -frame or -seconds, not both");
            return host::Status{};
        },
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
