// play -frames N, play -live [-frames N | -seconds S] [-poses PATH]
#include <signal.h>
#include <unistd.h>

#include <kivo/DeviceService.h>
#include <kivo_live/Live.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>

#include "../Command.h"
#include "../Interpreter.h"
#include "../ProgressBar.h"
#include "../live/LivePlay.h"
#include "rovahost/ReplaceFile.h"

namespace rova::lang {
namespace {

host::Status playFrames(CommandContext& context) {
    const long long frames = *parseInteger(context.in().value("frames"));
    auto& host = context.host();
    const auto onTick = context.interpreter().takeFrameHook();
    ProgressBar progress("play", frames);
    progress.show(0);
    for (long long tick = 1; tick <= frames; ++tick) {
        // The device first, so that what it delivers is seen by this very tick: queued idle
        // statements run, threaded device nodes that pushed get refreshed.
        Kivo::DeviceService::advance();
        Kivo::DeviceService::flushEvents();
        host.tick();
        progress.show(tick);
        if (onTick)
            if (auto status = onTick(tick); !status)
                return host::Status::failure("tick " + std::to_string(tick) + ": " +
                                             status.message);
    }
    return {};
}

std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string plural(long long count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string why(const live::LiveOutcome& outcome) {
    switch (outcome.reason) {
        case live::StopReason::kFrames:
            return "-frames reached";
        case live::StopReason::kSeconds:
            return "-seconds reached";
        case live::StopReason::kRequest:
            return "stop requested";
        case live::StopReason::kSignal:
            return std::string("stopped by SIG") + ::sigabbrev_np(outcome.signal);
        case live::StopReason::kError:
            return "stopped by an error";
    }
    return {};
}

host::Status playLive(CommandContext& context) {
    if (live::playing())
        return host::Status::failure("a live play is already running");
    const auto& in = context.in();
    auto& host = context.host();
    live::LiveLimits limits;
    if (in.has("frames"))
        limits.frames = *parseInteger(in.value("frames"));
    if (in.has("seconds"))
        limits.seconds = *parseNumber(in.value("seconds"));

    // The scene goes to the page streaming to `device -listen`, and with -poses to the file too,
    // one message a line.
    std::unique_ptr<host::FileReplacement> log;
    if (in.has("poses")) {
        log = std::make_unique<host::FileReplacement>(in.value("poses"));
        if (!log->status())
            return log->status();
    }
    std::optional<live::PoseStream> poses;
    if (log || KivoLive::port() != 0)
        poses.emplace(
            [&log](std::string message) {
                if (log)
                    log->write(message + '\n');
                KivoLive::sendToClient(std::move(message));
            },
            KivoLive::clientSerial);
    // The page's stop button ends the play as Ctrl-C does.
    KivoLive::onStopRequest(live::requestStop);
    const struct StopRequestsEnd {
        ~StopRequestsEnd() { KivoLive::onStopRequest({}); }
    } stopRequestsEnd;

    const bool terminal = ::isatty(STDERR_FILENO) != 0;
    auto last = std::chrono::steady_clock::time_point{};
    const auto result = live::playLive(
        host, limits, poses ? &*poses : nullptr, [&](const live::LiveProgress& state) {
            if (state.ticks == 0) {
                // Said once the signals are caught: from here Ctrl-C ends the play, not the
                // program (what a script waiting for it to go live can rely on). What the
                // script printed before (where the page is) is seen while it plays.
                std::cout.flush();
                std::cerr << "play: live at " << host::formatDouble(host.fps()) << " fps"
                          << (terminal ? ", Ctrl-C stops" : "") << std::endl;
                return;
            }
            if (!terminal)
                return;
            // A few redraws a second are plenty for a person and cost the ticks nothing.
            const auto now = std::chrono::steady_clock::now();
            if (now - last < std::chrono::milliseconds(250))
                return;
            last = now;
            std::fprintf(stderr, "\rplay: %s, %s s, %s fps, %s, %lld late   ",
                         plural(state.ticks, "tick", "ticks").c_str(),
                         fixed(state.seconds, 1).c_str(), fixed(state.fps, 1).c_str(),
                         plural(state.hands, "hand", "hands").c_str(), state.late);
            std::fflush(stderr);
        });
    if (terminal)
        std::fputc('\n', stderr);
    host::Status status = result.status;
    if (log) {
        if (auto placed = log->putInPlace(); !placed && status)
            status = placed;
    }
    const live::LiveProgress& done = result.value.progress;
    context.result("played " + plural(done.ticks, "tick", "ticks") + " live in " +
                   fixed(done.seconds, 2) + " s (" + std::to_string(done.late) + " late), " +
                   why(result.value));
    const int signal = result.value.signal;
    if (signal == SIGTERM || signal == SIGHUP) {
        // Those ask the program to end: it does, as it would have without the play, once the
        // tick and the capture are complete.
        std::cout.flush();
        std::cerr.flush();
        ::raise(signal);
    }
    return status;
}

host::Status run(CommandContext& context) {
    return context.in().has("live") ? playLive(context) : playFrames(context);
}

host::Status validate(const Invocation& in) {
    if (in.has("frames") && *parseInteger(in.value("frames")) < 0)
        return host::Status::failure("-frames must be 0 or more, got " + in.value("frames"));
    if (!in.has("live")) {
        if (in.has("seconds") || in.has("poses"))
            return host::Status::failure("-seconds and -poses go with -live");
        if (!in.has("frames"))
            return host::Status::failure("-frames N is required (or -live)");
        return {};
    }
    if (in.has("frames") && in.has("seconds"))
        return host::Status::failure("give -frames or -seconds, not both");
    if (in.has("frames") && *parseInteger(in.value("frames")) < 1)
        return host::Status::failure("-frames must be 1 or more with -live, got " +
                                     in.value("frames"));
    if (in.has("seconds") && !(*parseNumber(in.value("seconds")) > 0))
        return host::Status::failure("-seconds must be greater than 0, got " + in.value("seconds"));
    return {};
}

const CommandRegistration registration{{
    .name = "play",
    .synopsis = "-frames N\n-live [-frames N | -seconds S] [-poses PATH]",
    .summary =
        "Run N host ticks; each first advances a lockstep device replay by one recorded frame, "
        "then runs a refresh. Shows a progress bar when standard error is a terminal. With -live, "
        "run in real time at the scene's frame rate until Ctrl-C (SIGINT), SIGTERM, the page's "
        "stop request or the limit: each tick sets the scene time one frame on, then does what "
        "a tick of play does and sends the scene's poses to the page streaming to device "
        "-listen; a device capture under way is completed when it ends; prints a summary line.",
    .flags = {{.name = "frames",
               .values = 1,
               .kind = ValueKind::kInteger,
               .valueName = "N",
               .help = "number of ticks"},
              {.name = "live", .help = "tick in real time until stopped"},
              {.name = "seconds",
               .values = 1,
               .kind = ValueKind::kNumber,
               .valueName = "S",
               .help = "with -live: stop after S seconds"},
              {.name = "poses",
               .values = 1,
               .valueName = "PATH",
               .help = "with -live: also write the scene and pose messages to PATH, one a line"}},
    .validate = validate,
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
