// kivo-record: replays a recording through the device service and captures what a connection
// sees (with the gestures the service recognises); prints a summary of the gestures.
#include <kivo/Controller.h>
#include <kivo/DeviceService.h>

#include <CLI/CLI.hpp>

#include <iostream>
#include <map>

namespace {

const char* typeName(int type) {
    switch (type) {
        case Kivo::Gesture::Swipe:
            return "swipe";
        case Kivo::Gesture::Circle:
            return "circle";
        case Kivo::Gesture::ScreenTap:
            return "screen-tap";
        case Kivo::Gesture::KeyTap:
            return "key-tap";
        default:
            return "other";
    }
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Replays a Kivo recording through the device service, capturing what a "
        "connection sees, and counts the gestures."};
    std::string input;
    std::string output;
    Kivo::ReplayOptions options;
    app.add_option("input", input, "recording to replay")->required();
    app.add_option("-o,--output", output, "capture to write (optional)");
    app.add_flag("--realtime", options.realtime, "replay at the recorded timing");
    app.add_option("--speed", options.speed, "real-time speed factor")->capture_default_str();
    CLI11_PARSE(app, argc, argv);

    if (!output.empty()) {
        if (auto err = Kivo::DeviceService::startRecording(output); !err.empty()) {
            std::cerr << "kivo-record: " << err << "\n";
            return 1;
        }
    }
    if (auto err = Kivo::DeviceService::replay(input, options); !err.empty()) {
        std::cerr << "kivo-record: " << err << "\n";
        return 1;
    }
    Kivo::Controller controller;
    for (int type : {1, 4, 5, 6}) {
        controller.enableGesture(type);
    }
    std::map<std::string, int> started;
    std::int64_t seen = 0;
    std::uint64_t frames = 0;
    const auto collect = [&] {
        const Kivo::Frame frame = controller.frame(0);
        if (!frame.isValid() || frame.id() <= seen) {
            return;
        }
        // Count by walking each new frame so nothing the history still holds is missed.
        for (std::int64_t id = seen + 1; id <= frame.id(); ++id) {
            const auto f = controller.frame(static_cast<int>(frame.id() - id));
            for (int i = 0; i < f.gestures().count(); ++i) {
                const auto g = f.gestures()[i];
                if (g.state() == Kivo::Gesture::StateStart) {
                    ++started[typeName(g.type())];
                }
            }
            ++frames;
        }
        seen = frame.id();
    };
    if (options.realtime) {
        while (!Kivo::DeviceService::waitForReplay(5)) {
            collect();
        }
        collect();
    } else {
        while (Kivo::DeviceService::advance()) {
            collect();
        }
    }
    if (auto err = Kivo::DeviceService::stop(); !err.empty()) {
        std::cerr << "kivo-record: " << err << "\n";
        return 1;
    }
    std::cout << input << ": " << frames << " frames;";
    for (const char* type : {"swipe", "circle", "screen-tap", "key-tap"}) {
        std::cout << " " << type << " " << started[type];
    }
    std::cout << "\n";
    return 0;
}
