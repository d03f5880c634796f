// kivo-record: replays a recording through the device service and captures what a connection
// sees (with the gestures the service recognises); prints a summary of the gestures, and can
// write the motion as polylines for a mesh viewer.
#include <kivo/Controller.h>
#include <kivo/DeviceService.h>
#include <kivo/Recording.h>
#include <unistd.h>

#include <kivo_tools/SameFile.h>
#include <kivo_tools/ToolExit.h>
#include <CLI/CLI.hpp>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <utility>

#include "MotionPaths.h"

namespace {

// "kivo-record: 120/325 frames" redrawn in place on standard error, only when it is a terminal
// and only once a replay has run for a second, so quick replays and pipes stay quiet.
class ReplayProgress {
  public:
    ReplayProgress() : m_terminal(::isatty(STDERR_FILENO) != 0) {}
    ~ReplayProgress() {
        if (m_drawn) {
            draw();
            std::fputc('\n', stderr);
        }
    }
    ReplayProgress(const ReplayProgress&) = delete;
    ReplayProgress& operator=(const ReplayProgress&) = delete;

    void update() {
        if (!m_terminal) {
            return;
        }
        const auto now = Clock::now();
        if (now - m_start < std::chrono::seconds(1) ||
            (m_drawn && now - m_lastDraw < std::chrono::milliseconds(100))) {
            return;
        }
        m_lastDraw = now;
        m_drawn = true;
        draw();
    }

  private:
    using Clock = std::chrono::steady_clock;

    static void draw() {
        const auto status = Kivo::DeviceService::status();
        std::fprintf(stderr, "\rkivo-record: %llu/%llu frames",
                     static_cast<unsigned long long>(status.replayPosition),
                     static_cast<unsigned long long>(status.replayFrames));
        std::fflush(stderr);
    }

    bool m_terminal;
    bool m_drawn = false;
    Clock::time_point m_start = Clock::now();
    Clock::time_point m_lastDraw;
};

}  // namespace

static int run(int argc, char** argv) {
    // A capture that a signal interrupts is completed (end line, renamed into place) first.
    Kivo::finishRecordingsOnSignals();
    CLI::App app{
        "Replays a Kivo recording through the device service, capturing what a "
        "connection sees, and counts the gestures. Shows progress on standard error when it is "
        "a terminal and the replay takes more than a second."};
    std::string input;
    std::string output;
    std::string pathsOutput;
    Kivo::ReplayOptions options;
    app.add_option("input", input, "recording to replay")->required();
    app.add_option("-o,--output", output, "capture to write (optional)");
    app.add_option("--paths", pathsOutput,
                   "write what the connection saw as Wavefront OBJ polylines (millimetres, y "
                   "up): objects palm_HAND and pointable_ID trace each palm and tip, and a short "
                   "segment TYPE_ID marks each gesture (swipes from start to end)")
        ->type_name("FILE.obj");
    app.add_flag("--realtime", options.realtime, "replay at the recorded timing");
    app.add_option("--speed", options.speed, "real-time speed factor")->capture_default_str();
    CLI11_PARSE(app, argc, argv);

    if (app.get_option("--speed")->count() > 0 && !options.realtime) {
        std::cerr << "kivo-record: --speed sets the speed of a real-time replay: give --realtime "
                     "with it\n";
        return 1;
    }
    for (const char* option : {"--output", "--paths"}) {
        if (app.get_option(option)->count() > 0 &&
            app.get_option(option)->as<std::string>().empty()) {
            std::cerr << "kivo-record: " << option << " names no file\n";
            return 1;
        }
    }
    // An output that names the input, or both outputs one file, would overwrite what the other
    // wrote (or the recording being read).
    for (const auto& [written, what] :
         {std::pair{&output, "the capture (-o)"}, std::pair{&pathsOutput, "the paths (--paths)"}}) {
        if (!written->empty() && KivoTools::sameFile(*written, input)) {
            std::cerr << "kivo-record: " << what << " would overwrite the recording it replays, '"
                      << input << "'\n";
            return 1;
        }
    }
    if (!output.empty() && !pathsOutput.empty() && KivoTools::sameFile(output, pathsOutput)) {
        std::cerr << "kivo-record: -o and --paths name the same file, '" << output << "'\n";
        return 1;
    }
    if (!pathsOutput.empty()) {
        if (auto err = kivorecord::checkWritable(pathsOutput); !err.empty()) {
            std::cerr << "kivo-record: " << err << "\n";
            return 1;
        }
    }
    if (!output.empty()) {
        if (auto err = Kivo::DeviceService::startRecording(output); !err.empty()) {
            std::cerr << "kivo-record: " << err << "\n";
            return 1;
        }
    }
    if (auto err = Kivo::DeviceService::replay(input, options); !err.empty()) {
        // Nothing was replayed: a file already at the output keeps what it held.
        Kivo::DeviceService::discardRecording();
        std::cerr << "kivo-record: " << err << "\n";
        return 1;
    }
    Kivo::Controller controller;
    for (int type : {1, 4, 5, 6}) {
        controller.enableGesture(type);
    }
    std::map<std::string, int> started;
    kivorecord::MotionPaths paths;
    std::int64_t seen = 0;
    std::uint64_t frames = 0;
    const auto collect = [&] {
        const Kivo::Frame frame = controller.frame(0);
        if (!frame.isValid() || frame.id() <= seen) {
            return;
        }
        // Walk each new frame so nothing the history still holds is missed.
        for (std::int64_t id = seen + 1; id <= frame.id(); ++id) {
            const auto f = controller.frame(static_cast<int>(frame.id() - id));
            for (int i = 0; i < f.gestures().count(); ++i) {
                const auto g = f.gestures()[i];
                if (g.state() == Kivo::Gesture::StateStart) {
                    ++started[std::string(Kivo::gestureTypeName(g.type()))];
                }
            }
            if (!pathsOutput.empty()) {
                paths.add(f);
            }
            ++frames;
        }
        seen = frame.id();
    };
    {
        ReplayProgress progress;
        if (options.realtime) {
            while (!Kivo::DeviceService::waitForReplay(5)) {
                collect();
                progress.update();
            }
            collect();
        } else {
            while (Kivo::DeviceService::advance()) {
                collect();
                progress.update();
            }
        }
    }
    if (auto err = Kivo::DeviceService::stop(); !err.empty()) {
        std::cerr << "kivo-record: " << err << "\n";
        return 1;
    }
    if (!pathsOutput.empty()) {
        if (auto err = paths.write(pathsOutput, input); !err.empty()) {
            std::cerr << "kivo-record: " << err << "\n";
            return 1;
        }
    }
    std::cout << input << ": " << frames << " frames;";
    for (const char* type : {"swipe", "circle", "screen-tap", "key-tap"}) {
        std::cout << " " << type << " " << started[type];
    }
    std::cout << "\n";
    return 0;
}

int main(int argc, char** argv) {
    return KivoTools::exitAfterOutput("kivo-record", run(argc, argv));
}
