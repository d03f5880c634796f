// device -replay PATH [-realtime] [-speed X] [-loop], device -connect, device -disconnect,
// device -focus on|off, device -inject TEXT, device -record PATH, device -stop, device -status,
// device -listen [-port P] [-root DIR], device -await N [-timeout S], device -config KEY VALUE
#include <kivo/Config.h>
#include <kivo/Controller.h>
#include <kivo/DeviceService.h>
#include <kivo_live/Live.h>

#include <array>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <string>

#include "../Command.h"
#include "../Interpreter.h"

namespace rova::lang {
namespace {

// The device service answers "" on success and a one-line message otherwise.
host::Status fromService(const std::string& message) {
    return message.empty() ? host::Status{} : host::Status::failure(message);
}

std::string formatSpeed(double speed);

// The tracker page's folder beside the program's: <dir of rova>/../tracker.
std::filesystem::path defaultPageRoot() {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return "tracker";
    return (self.parent_path() / ".." / "tracker").lexically_normal();
}

// The camera model from the device's configuration, as it stands when listening starts.
KivoTools::CameraModel cameraFromConfig() {
    KivoTools::CameraModel camera;
    const Kivo::Config config = Kivo::Controller().config();
    const auto read = [&](const char* key, float& value) {
        if (config.type(key) == Kivo::Config::Float)
            value = config.getFloat(key);
    };
    read("camera.fov", camera.fieldOfView);
    read("camera.hand_size", camera.handSize);
    read("camera.distance", camera.distance);
    read("camera.height", camera.height);
    return camera;
}

host::Status listen(CommandContext& context) {
    const auto& in = context.in();
    KivoLive::ListenOptions options;
    options.root = in.has("root") ? std::filesystem::path(in.value("root")) : defaultPageRoot();
    if (in.has("port"))
        options.port = static_cast<unsigned short>(*parseInteger(in.value("port")));
    options.camera = cameraFromConfig();
    if (auto error = KivoLive::listen(options); !error.empty())
        return host::Status::failure(error);
    context.result("listening on http://127.0.0.1:" + std::to_string(KivoLive::port()) + "/");
    return {};
}

// Sets a configuration value of the key's own type.
host::Status configure(const std::string& key, const std::string& value) {
    Kivo::Config config = Kivo::Controller().config();
    bool done = false;
    switch (config.type(key)) {
        case Kivo::Config::Float:
            if (const auto number = parseNumber(value))
                done = config.setFloat(key, static_cast<float>(*number));
            break;
        case Kivo::Config::Int32:
            if (const auto number = parseInteger(value))
                done = config.setInt32(key, static_cast<std::int32_t>(*number));
            break;
        case Kivo::Config::Bool:
            if (const auto on = parseSwitch(value))
                done = config.setBool(key, *on);
            break;
        case Kivo::Config::String:
            done = config.setString(key, value);
            break;
        default:
            return host::Status::failure("config: no such key '" + key + "'");
    }
    if (!done)
        return host::Status::failure("config: '" + value + "' is not a valid value for '" + key +
                                     "' (or the key is read-only)");
    return {};
}

host::Status runDevice(CommandContext& context) {
    const auto& in = context.in();
    if (in.has("listen"))
        return listen(context);
    if (in.has("await")) {
        // What the script printed so far (the page's address) is seen while it waits.
        std::cout.flush();
        const double seconds = in.has("timeout") ? *parseNumber(in.value("timeout")) : 10.0;
        const auto frames = static_cast<std::uint64_t>(*parseInteger(in.value("await")));
        if (Kivo::DeviceService::awaitLiveFrames(frames, static_cast<int>(seconds * 1000.0)))
            return {};
        const auto status = Kivo::DeviceService::status();
        if (status.source != Kivo::ServiceStatus::Source::Live)
            return host::Status::failure("await: no live source runs (" + status.describe() + ")");
        return host::Status::failure("await: " + std::to_string(frames) +
                                     " live frames did not arrive within " + formatSpeed(seconds) +
                                     " s (" + status.describe() + ")");
    }
    if (in.has("config")) {
        const auto& values = in.values("config");
        return configure(values.at(0), values.at(1));
    }
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

// The longest a script may wait for live frames.
constexpr double kMaxAwaitSeconds = 3600.0;

std::string formatSpeed(double speed) {
    std::array<char, 32> text{};
    const auto end = std::to_chars(text.data(), text.data() + text.size(), speed).ptr;
    return std::string(text.data(), end);
}

host::Status validate(const Invocation& in) {
    const int modes = int(in.has("replay")) + int(in.has("connect")) + int(in.has("disconnect")) +
                      int(in.has("focus")) + int(in.has("inject")) + int(in.has("record")) +
                      int(in.has("stop")) + int(in.has("status")) + int(in.has("listen")) +
                      int(in.has("await")) + int(in.has("config"));
    if (modes != 1)
        return host::Status::failure(
            "give one of -replay, -connect, -disconnect, -focus, -inject, -record, -stop, "
            "-status, -listen, -await or -config");
    if (!in.has("listen") && (in.has("port") || in.has("root")))
        return host::Status::failure("-port and -root go with -listen");
    if (in.has("port")) {
        const auto port = *parseInteger(in.value("port"));
        if (port < 0 || port > 65535)
            return host::Status::failure(
                "-port must be between 0 and 65535 (0: any free port), got " + in.value("port"));
    }
    if (!in.has("await") && in.has("timeout"))
        return host::Status::failure("-timeout goes with -await");
    if (in.has("await") && *parseInteger(in.value("await")) < 0)
        return host::Status::failure("-await takes a number of frames, 0 or more");
    if (in.has("timeout")) {
        const double seconds = *parseNumber(in.value("timeout"));
        if (!(seconds >= 0.0 && seconds <= kMaxAwaitSeconds))
            return host::Status::failure("-timeout must be between 0 and " +
                                         formatSpeed(kMaxAwaitSeconds) + " seconds, got " +
                                         in.value("timeout"));
    }
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
                "-focus on|off\n-inject TEXT\n-record PATH\n-stop\n-status\n"
                "-listen [-port P] [-root DIR]\n-await N [-timeout S]\n-config KEY VALUE",
    .summary = "Drive the simulated Kivo Sense device: replay a recording (in lockstep with the "
               "host's ticks unless -realtime), plug it in or out, give or take the focus, deliver "
               "one frame or event written as a line of the recording format, capture what it "
               "delivers into a recording, stop the source and any capture, print its state, "
               "listen for the camera tracker page (live frames from a browser on this machine), "
               "wait for live frames, or set a configuration value. Not undoable.",
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
              {.name = "status",
               .help = "print the source, connection, focus and frame counts; listening: the "
                       "address, the client, frames per second, latency and refusals"},
              {.name = "listen",
               .help = "serve the tracker page on http://127.0.0.1:P/ and take its stream of hand "
                       "landmarks as the device's live source (loopback only, one client)"},
              {.name = "port",
               .values = 1,
               .kind = ValueKind::kInteger,
               .valueName = "P",
               .help = "with -listen: the port (default 8765; 0: any free port)"},
              {.name = "root",
               .values = 1,
               .valueName = "DIR",
               .help = "with -listen: the page's folder (default: tracker beside the program's "
                       "folder)"},
              {.name = "await",
               .values = 1,
               .kind = ValueKind::kInteger,
               .valueName = "N",
               .help = "wait until the live source has received N frames since listening began"},
              {.name = "timeout",
               .values = 1,
               .kind = ValueKind::kNumber,
               .valueName = "S",
               .help = "with -await: give up after S seconds (default 10), failing"},
              {.name = "config",
               .values = 2,
               .valueName = "KEY VALUE",
               .help = "set a configuration value of the device (camera.fov 70), in its own "
                       "type"}},
    .validate = validate,
    .run = run,
}};

}  // namespace
}  // namespace rova::lang
