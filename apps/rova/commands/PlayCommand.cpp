// play -frames N
#include <kivo/DeviceService.h>

#include "../Command.h"
#include "../Interpreter.h"
#include "../ProgressBar.h"

namespace rova::lang {
namespace {

host::Status run(CommandContext& context) {
    const long long frames = *parseInteger(context.in().value("frames"));
    auto& host = context.host();
    const auto onTick = context.interpreter().takeFrameHook();
    ProgressBar progress("play", frames);
    progress.show(0);
    for (long long tick = 1; tick <= frames; ++tick) {
        // The device first, so that what it delivers is seen by this very tick: queued idle
        // statements run, threaded device nodes that pushed get refreshed.
        Kivo::DeviceService::advance();
        Kivo::DeviceService::flushEvents();  // listeners have seen what it delivered
        host.tick();
        progress.show(tick);
        if (onTick)
            if (auto status = onTick(tick); !status)
                return host::Status::failure("tick " + std::to_string(tick) + ": " +
                                             status.message);
    }
    return {};
}

const CommandRegistration registration{{
    .name = "play",
    .synopsis = "-frames N",
    .summary = "Run N host ticks; each first advances a lockstep device replay by one recorded "
               "frame, then runs a refresh. Shows a progress bar when standard error is a "
               "terminal.",
    .flags = {{.name = "frames",
               .values = 1,
               .kind = ValueKind::kInteger,
               .valueName = "N",
               .help = "number of ticks"}},
    .validate =
        [](const Invocation& in) {
            if (!in.has("frames"))
                return host::Status::failure("-frames N is required");
            if (*parseInteger(in.value("frames")) < 0)
                return host::Status::failure("-frames must be 0 or more, got " +
                                             in.value("frames"));
            return host::Status{};
        },
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
