// device -replay PATH [-realtime] [-speed X] [-loop], device -connect, device -disconnect,
// device -focus on|off, device -inject TEXT, device -record PATH, device -stop, device -status
#include <kivo/DeviceService.h>

#include <array>
#include <charconv>
#include <string>

#include "../Command.h"
#include "../Interpreter.h"

namespace rova::lang {
namespace {

// The device service answers "" on success and a one-line message otherwise.
host::Status fromService(const std::string& message) {
    return message.empty() ? host::Status{} : host::Status::failure(message);
}

host::Status runDevice(CommandContext& context) {
    const auto& in = context.in();
    if (in.has("replay")) {
        Kivo::ReplayOptions options;
        options.realtime = in.has("realtime");
        options.loop = in.has("loop");
        if (in.has("speed"))
            options.speed = *parseNumber(in.value("speed"));
        return fromService(Kivo::DeviceService::replay(in.value("replay"), options));
    }
    if (in.has("connect")) {
        Kivo::DeviceService::connect();
        return {};
    }
    if (in.has("disconnect")) {
        Kivo::DeviceService::disconnect();
        return {};
    }
    if (in.has("focus")) {
        Kivo::DeviceService::setFocus(*parseSwitch(in.value("focus")));
        return {};
    }
    if (in.has("inject"))
        return fromService(Kivo::DeviceService::inject(in.value("inject")));
    if (in.has("record"))
        return fromService(Kivo::DeviceService::startRecording(in.value("record")));
    if (in.has("stop"))
        return fromService(Kivo::DeviceService::stop());
    context.result(Kivo::DeviceService::status().describe());
    return {};
}

// A device command returns once every listener has been called for what it caused, so a notice
// queued by an unplug is there for the next refresh.
host::Status run(CommandContext& context) {
    const host::Status status = runDevice(context);
    Kivo::DeviceService::flushEvents();
    return status;
}

std::string formatSpeed(double speed) {
    std::array<char, 32> text{};
    const auto end = std::to_chars(text.data(), text.data() + text.size(), speed).ptr;
    return std::string(text.data(), end);
}

host::Status validate(const Invocation& in) {
    const int modes = int(in.has("replay")) + int(in.has("connect")) + int(in.has("disconnect")) +
                      int(in.has("focus")) + int(in.has("inject")) + int(in.has("record")) +
                      int(in.has("stop")) + int(in.has("status"));
    if (modes != 1)
        return host::Status::failure(
            "give one of -replay, -connect, -disconnect, -focus, -inject, -record, -stop or "
            "-status");
    if (!in.has("replay") && (in.has("realtime") || in.has("speed") || in.has("loop")))
        return host::Status::failure("-realtime, -speed and -loop go with -replay");
    if (in.has("speed")) {
        if (!in.has("realtime"))
            return host::Status::failure(
                "-speed goes with -realtime (a lockstep replay follows "
                "the host's ticks)");
        const double speed = *parseNumber(in.value("speed"));
        if (!(speed >= Kivo::ReplayOptions::kMinSpeed && speed <= Kivo::ReplayOptions::kMaxSpeed))
            return host::Status::failure(
                "-speed must be between " + formatSpeed(Kivo::ReplayOptions::kMinSpeed) + " and " +
                formatSpeed(Kivo::ReplayOptions::kMaxSpeed) + ", got " + in.value("speed"));
    }
    return {};
}

const CommandRegistration registration{{
    .name = "device",
    .synopsis = "-replay PATH [-realtime] [-speed X] [-loop]\n-connect\n-disconnect\n"
                "-focus on|off\n-inject TEXT\n-record PATH\n-stop\n-status",
    .summary = "Drive the simulated Kivo Sense device: replay a recording (in lockstep with the "
               "host's ticks unless -realtime), plug it in or out, give or take the focus, deliver "
               "one frame or event written as a line of the recording format, capture what it "
               "delivers into a recording, stop the source and any capture, or print its state. "
               "Not undoable.",
    .flags = {{.name = "replay",
               .values = 1,
               .valueName = "PATH",
               .help = "replay a recording (lockstep: one recorded frame per tick)"},
              {.name = "realtime", .help = "with -replay: follow the recorded timing"},
              {.name = "speed",
               .values = 1,
               .kind = ValueKind::kNumber,
               .valueName = "X",
               .help = "with -replay -realtime: play X times as fast (0.001 to 1000)"},
              {.name = "loop", .help = "with -replay: start over after the last entry"},
              {.name = "connect", .help = "plug the device in"},
              {.name = "disconnect", .help = "plug the device out"},
              {.name = "focus",
               .values = 1,
               .kind = ValueKind::kSwitch,
               .valueName = "on|off",
               .help = "give or take the device service's focus"},
              {.name = "inject",
               .values = 1,
               .valueName = "TEXT",
               .help = "deliver one frame or event line of the recording format"},
              {.name = "record",
               .values = 1,
               .valueName = "PATH",
               .help = "capture every frame and event delivered into a recording"},
              {.name = "stop", .help = "stop the source (plugging the device out) and any capture"},
              {.name = "status", .help = "print the source, connection, focus and frame counts"}},
    .validate = validate,
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
