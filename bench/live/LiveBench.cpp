// live_bench: the camera live source seen from the host. L1/L2: the latency from a frame's
// capture to the first host tick that shows it (30 Hz and 60 Hz ticks polling the newest device
// frame, as the plug-in's tracking loop does); L3: the CPU the host's threads spend receiving,
// parsing, converting and delivering 30 frames per second streamed by kivo-stream from another
// process. Frames are two hands of a real hand video's landmarks.
#include <kivo/Controller.h>
#include <kivo/DeviceService.h>
#include <kivo/Frame.h>
#include <kivo/Listener.h>
#include <kivo_live/Live.h>
#include <kivo_tools/Landmarks.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <CLI/CLI.hpp>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "CpuTime.h"
#include "FigureReport.h"
#include "TaskCpu.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using Clock = std::chrono::steady_clock;
using kivorova::bench::percentile;

[[noreturn]] void fail(const std::string& message) {
    throw std::runtime_error(message);
}

double msBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

double unixMs() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// ---------------------------------------------------------------------------------------------
// Messages

// The video the reference landmarks come from (pixels).
constexpr double kVideoWidth = 620.0;
constexpr double kVideoHeight = 1080.0;
// Wrist to the middle finger's knuckle of an adult hand: the scale of the world landmarks.
constexpr double kHandSizeMetres = 0.095;

double sixDecimals(double value) {
    return std::round(value * 1e6) / 1e6;
}

// One hand of the reference video as the page sends it: image landmarks from the pixels, world
// landmarks around the palm's centre scaled to an adult hand (the video has no world landmarks).
// `mirror` makes the other hand: mirrored in x, labelled left.
nlohmann::json pageHand(const nlohmann::json& pixels, bool mirror) {
    const auto at = [&](int k, int axis) { return pixels.at(k).at(axis).get<double>(); };
    double cx = 0.0, cy = 0.0;
    for (const int k : KivoTools::kPalmLandmarks) {
        cx += at(k, 0) / KivoTools::kPalmLandmarks.size();
        cy += at(k, 1) / KivoTools::kPalmLandmarks.size();
    }
    const double size = std::hypot(at(9, 0) - at(0, 0), at(9, 1) - at(0, 1));
    const double metresPerPixel = kHandSizeMetres / std::max(size, 1.0);
    const double sign = mirror ? -1.0 : 1.0;
    nlohmann::json image = nlohmann::json::array(), world = nlohmann::json::array();
    for (int k = 0; k < static_cast<int>(KivoTools::kHandLandmarks); ++k) {
        const double x = at(k, 0) / kVideoWidth;
        image.push_back({sixDecimals(mirror ? 1.0 - x : x), sixDecimals(at(k, 1) / kVideoHeight),
                         sixDecimals(at(k, 2) / kVideoWidth)});
        world.push_back({sixDecimals(sign * (at(k, 0) - cx) * metresPerPixel),
                         sixDecimals((at(k, 1) - cy) * metresPerPixel),
                         sixDecimals(at(k, 2) * metresPerPixel)});
    }
    return {{"handedness", mirror ? "Left" : "Right"},
            {"score", 0.97},
            {"image", std::move(image)},
            {"world", std::move(world)}};
}

// Two-hand frames of the reference video, one per video frame; "time" is filled in when sent.
std::vector<nlohmann::json> pageFrames(const fs::path& landmarks) {
    std::ifstream in(landmarks);
    const auto video = nlohmann::json::parse(in, nullptr, false);
    if (!video.is_array() || video.empty())
        fail(landmarks.string() + ": not an array of frames of 21 landmarks");
    std::vector<nlohmann::json> out;
    for (const auto& pixels : video) {
        if (!pixels.is_array() || pixels.size() != KivoTools::kHandLandmarks)
            fail(landmarks.string() + ": a frame without 21 landmarks");
        out.push_back({{"type", "frame"},
                       {"time", 0.0},
                       {"width", static_cast<int>(kVideoWidth)},
                       {"height", static_cast<int>(kVideoHeight)},
                       {"mirrored", false},
                       {"hands", {pageHand(pixels, false), pageHand(pixels, true)}}});
    }
    return out;
}

std::string message(std::vector<nlohmann::json>& frames, std::size_t k, double timeMs) {
    nlohmann::json& frame = frames[k % frames.size()];
    frame["time"] = timeMs;
    return frame.dump();
}

// ---------------------------------------------------------------------------------------------
// L1/L2: capture to the host's tick

struct Spread {
    double p50 = 0.0, p99 = 0.0;
};

// Out of line: inlined into main, GCC 12 sees a bad free in the percentiles' copies (a false
// -Wfree-nonheap-object).
[[gnu::noinline]] Spread spread(const std::vector<double>& values) {
    return {percentile(values, 50), percentile(values, 99)};
}

struct LatencyRun {
    std::vector<double> toTick;      // capture to the first tick showing the frame (or a newer one)
    std::vector<double> toListener;  // capture to the listener's notification of it
    std::vector<double> tickLate;    // how late the tick thread woke (the machine's load)
};

// Polls `ready` until it holds; fails after 10 s.
template <typename Ready>
void waitUntil(Ready ready, const std::string& what) {
    const auto giveUp = Clock::now() + std::chrono::seconds(10);
    while (!ready()) {
        if (Clock::now() > giveUp)
            fail(what + " did not happen within 10 s");
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// When the listener hears of each device timestamp.
class Arrivals : public Kivo::Listener {
  public:
    void handleFrame(const Kivo::Controller& controller) override {
        const auto now = Clock::now();
        const std::int64_t timestamp = controller.frame().timestamp();
        m_thread = static_cast<long>(gettid());
        std::lock_guard lock(m_mutex);
        m_heard.emplace_back(now, timestamp);
    }
    // The device's callback thread (0 before the first frame).
    long thread() const { return m_thread; }
    std::vector<std::pair<Clock::time_point, std::int64_t>> take() {
        std::lock_guard lock(m_mutex);
        return std::exchange(m_heard, {});
    }

  private:
    std::atomic<long> m_thread{0};
    std::mutex m_mutex;
    std::vector<std::pair<Clock::time_point, std::int64_t>> m_heard;
};

LatencyRun measureLatency(std::vector<nlohmann::json>& frames, const Kivo::Controller& controller,
                          Arrivals& arrivals, double frameRate, double tickRate, double seconds) {
    const auto count = static_cast<std::size_t>(std::llround(seconds * frameRate));
    std::vector<double> captureMs(count + 1);  // the "time" each frame carries (Unix ms)
    std::vector<Clock::time_point> sentAt(count + 1);
    std::atomic<bool> go{false}, done{false};
    std::string clientError;

    asio::io_context ioc;
    websocket::stream<asio::ip::tcp::socket> ws{ioc};
    ws.next_layer().connect({asio::ip::address_v4::loopback(), KivoLive::port()});
    // Each message goes at once, as from a browser (no Nagle's algorithm).
    ws.next_layer().set_option(asio::ip::tcp::no_delay(true));
    ws.handshake("127.0.0.1:" + std::to_string(KivoLive::port()), "/stream");
    ws.text(true);
    const std::uint64_t before = Kivo::DeviceService::status().live.framesReceived;
    const auto send = [&](std::size_t k) {
        // Captured the moment it is sent: no tracking time.
        sentAt[k] = Clock::now();
        captureMs[k] = unixMs();
        ws.write(asio::buffer(message(frames, k, captureMs[k])));
    };
    send(0);
    if (!Kivo::DeviceService::awaitLiveFrames(before + 1, 10'000))
        fail("the live source did not deliver the first frame");
    // The live source makes a frame's device timestamp its capture time relative to the stream's
    // first frame: the converter gives (time - first time) in microseconds, the device service
    // adds the stream's base (the device clock when the client came). So a device frame with
    // timestamp T shows the frames captured up to first time + (T - T0) / 1000 ms, where T0 is
    // the first frame's timestamp.
    const std::int64_t firstTimestamp = controller.frame().timestamp();
    arrivals.take();

    std::thread client([&] {
        while (!go) std::this_thread::yield();
        // Camera and host clocks are not locked to each other: a random moment within each frame
        // period samples every phase of the tick, keeping the rate.
        std::mt19937 random(7);
        std::uniform_real_distribution<double> within(0.0, 1.0);
        const auto start = Clock::now();
        try {
            for (std::size_t k = 1; k <= count; ++k) {
                std::this_thread::sleep_until(
                    start +
                    std::chrono::duration_cast<Clock::duration>(
                        std::chrono::duration<double>((k - 1 + within(random)) / frameRate)));
                send(k);
            }
        } catch (const std::exception& e) {
            clientError = e.what();
        }
        done = true;
    });
    std::vector<std::pair<Clock::time_point, std::int64_t>> ticks;  // when, the timestamp shown
    std::vector<double> tickLate;
    const auto period =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / tickRate));
    auto next = Clock::now();
    go = true;
    const auto giveUp = next + std::chrono::duration_cast<Clock::duration>(
                                   std::chrono::duration<double>(seconds + 5.0));
    const auto lastOffset = [&] {
        return std::llround((captureMs[count] - captureMs[0]) * 1000.0);
    };
    while (Clock::now() < giveUp) {
        next += period;
        std::this_thread::sleep_until(next);
        const Kivo::Frame frame = controller.frame();
        ticks.emplace_back(Clock::now(), frame.timestamp());
        tickLate.push_back(msBetween(next, ticks.back().first));
        if (done && frame.timestamp() - firstTimestamp >= lastOffset())
            break;
    }
    client.join();
    if (!clientError.empty())
        fail("the client: " + clientError);
    beast::error_code ignored;
    ws.close(websocket::close_code::normal, ignored);
    // The server takes one client at a time: the next run's comes once this one is gone.
    waitUntil([] { return Kivo::DeviceService::status().live.client.empty(); },
              "the client's leaving");

    // Each frame k >= 1 against the first tick (or notification) showing it or a newer frame.
    const auto latencies =
        [&](const std::vector<std::pair<Clock::time_point, std::int64_t>>& seen) {
            std::vector<double> out;
            std::size_t t = 0;
            for (std::size_t k = 1; k <= count; ++k) {
                const auto offset = std::llround((captureMs[k] - captureMs[0]) * 1000.0);
                while (t < seen.size() && seen[t].second - firstTimestamp < offset) ++t;
                if (t == seen.size())
                    break;
                out.push_back(msBetween(sentAt[k], seen[t].first));
            }
            return out;
        };
    LatencyRun run;
    run.toTick = latencies(ticks);
    run.toListener = latencies(arrivals.take());
    run.tickLate = std::move(tickLate);
    if (run.toTick.size() != count)
        fail("only " + std::to_string(run.toTick.size()) + " of " + std::to_string(count) +
             " frames reached a tick");
    return run;
}

// ---------------------------------------------------------------------------------------------
// L3: the host's threads' CPU

// CPU seconds of every thread of this process but the calling one (the host's tick thread here),
// by thread.
std::map<long, double> hostThreadsCpu() {
    std::map<long, double> out;
    const long self = static_cast<long>(gettid());
    for (const long task : kivorova::bench::tasks())
        if (task != self)
            out[task] = kivorova::bench::taskCpuSeconds(task);
    return out;
}

struct CpuWindow {
    double percent = 0.0;  // of one core, all host threads
    double seconds = 0.0;  // wall time measured
    std::map<long, double> byThread;
};

// The host threads' CPU from now until `until` returns.
template <typename Until>
CpuWindow hostCpuWhile(Until until) {
    const auto before = hostThreadsCpu();
    const auto start = Clock::now();
    until();
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    CpuWindow window;
    window.seconds = wall;
    for (const auto& [task, cpu] : hostThreadsCpu()) {
        const auto it = before.find(task);
        const double used = cpu - (it == before.end() ? 0.0 : it->second);
        window.byThread[task] = used / wall * 100.0;
        window.percent += used / wall * 100.0;
    }
    return window;
}

// Starts kivo-stream on `lines` (its output discarded); its process id.
pid_t startStream(const fs::path& program, const fs::path& lines, unsigned short port,
                  const std::vector<std::string>& flags) {
    std::vector<std::string> args{program.string(), lines.string(), "--port", std::to_string(port)};
    args.insert(args.end(), flags.begin(), flags.end());
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    std::fflush(stdout);  // its messages after ours
    const int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        fail("cannot start " + program.string() + ": " + std::strerror(error));
    return pid;
}

int awaitExit(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The CPU one frame's parsing and conversion alone take, in seconds (this thread, no I/O).
double parseAndConvertSeconds(std::vector<nlohmann::json>& frames, std::size_t count) {
    std::vector<std::string> texts;
    for (std::size_t k = 0; k < frames.size(); ++k)
        texts.push_back(message(frames, k, 1e12 + 33.0 * static_cast<double>(k)));
    KivoTools::LandmarkConverter converter;
    std::size_t hands = 0;
    const double start = kivorova::bench::threadCpuSeconds();
    for (std::size_t k = 0; k < count; ++k) {
        KivoTools::LandmarkFrame frame;
        bool hello = false;
        std::string error;
        if (!KivoTools::parseLandmarkMessage(texts[k % texts.size()], frame, hello, error))
            fail("a bench message is refused: " + error);
        frame.timeMs += 33.0 * static_cast<double>(k / texts.size() * texts.size());
        hands += converter.convert(frame).hands.size();
    }
    const double used = kivorova::bench::threadCpuSeconds() - start;
    if (hands == 0)
        fail("no hand converted");
    return used / static_cast<double>(count);
}

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    double one = 0.0, five = 0.0, fifteen = 0.0;
    in >> one >> five >> fifteen;
    char text[64];
    std::snprintf(text, sizeof text, "%.2f %.2f %.2f", one, five, fifteen);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Latency and host CPU of the camera live source (see docs/camera.md)."};
    double seconds = 8.0;
    double frameRate = 30.0;
    std::string json;
    fs::path landmarks = KIVOROVA_VIDEOS "/asl_hand.full.json";
    fs::path stream = fs::canonical("/proc/self/exe").parent_path() / "kivo-stream";
    app.add_option("--seconds", seconds, "seconds of frames in each run")
        ->check(CLI::Range(0.5, 60.0))
        ->capture_default_str();
    app.add_option("--rate", frameRate, "frames per second the client sends")
        ->check(CLI::Range(1.0, 240.0))
        ->capture_default_str();
    app.add_option("--json", json, "also write the figures to this JSON file");
    app.add_option("--landmarks", landmarks, "a video's reference landmarks (pixels)")
        ->check(CLI::ExistingFile);
    app.add_option("--stream", stream, "the kivo-stream program (the client of L3)")
        ->check(CLI::ExistingFile);
    CLI11_PARSE(app, argc, argv);

    try {
        auto frames = pageFrames(landmarks);
        std::printf(
            "messages: %zu frames of two hands (21 image and 21 world landmarks each), "
            "%zu bytes each on average; load average %s\n",
            frames.size(), message(frames, 0, unixMs()).size(), loadAverage().c_str());

        const fs::path work =
            fs::temp_directory_path() / ("live_bench." + std::to_string(getpid()));
        fs::create_directories(work);
        Kivo::DeviceService::reset();
        KivoLive::ListenOptions options;
        options.root = work;
        options.port = 0;
        if (const std::string error = KivoLive::listen(options); !error.empty())
            fail(error);
        Kivo::Controller controller;
        Arrivals arrivals;
        controller.addListener(arrivals);

        std::vector<kivorova::bench::Figure> figures;
        for (const double tickRate : {30.0, 60.0}) {
            const LatencyRun run =
                measureLatency(frames, controller, arrivals, frameRate, tickRate, seconds);
            const double tick = 1000.0 / tickRate;
            const auto [p50, p99] = spread(run.toTick);
            const auto [l50, l99] = spread(run.toListener);
            const auto [late50, late99] = spread(run.tickLate);
            std::printf(
                "L1 latency to the next %g Hz tick: p50 %.2f ms, p99 %.2f ms (one tick "
                "%.1f ms): p99/tick %.3f (%zu frames at %g/s)\n",
                tickRate, p50, p99, tick, p99 / tick, run.toTick.size(), frameRate);
            std::printf(
                "L2 latency to the listener (%g Hz run): p50 %.3f ms, p99 %.3f ms: "
                "p99/tick %.4f; the tick thread woke late by p50 %.2f ms, p99 %.2f ms\n",
                tickRate, l50, l99, l99 / tick, late50, late99);
            const std::string hz = std::to_string(static_cast<int>(tickRate)) + " Hz";
            figures.push_back(
                {"capture to the next " + hz + " tick, p99", "ms", p99, "one tick", tick, tick});
            figures.push_back(
                {"capture to the next " + hz + " tick, p50", "ms", p50, "one tick", tick});
            figures.push_back(
                {"capture to the listener, p99 (" + hz + " run)", "ms", l99, "one tick", tick});
        }

        // L3: kivo-stream in its own process. First connected and silent, then 30 frames/s.
        const unsigned short port = KivoLive::port();
        const fs::path hello = work / "hello.jsonl";
        std::ofstream(hello) << R"({"type":"hello"})" << '\n';
        const std::uint64_t clients = KivoLive::clientSerial();
        const pid_t idler = startStream(stream, hello, port, {"--hold"});
        waitUntil([&] { return KivoLive::clientSerial() > clients; }, "kivo-stream's connecting");
        const CpuWindow idle =
            hostCpuWhile([&] { std::this_thread::sleep_for(std::chrono::seconds(2)); });
        kill(idler, SIGTERM);
        awaitExit(idler);
        waitUntil([] { return Kivo::DeviceService::status().live.client.empty(); },
                  "kivo-stream's leaving");

        const auto count = static_cast<std::size_t>(std::llround(seconds * frameRate));
        const fs::path lines = work / "frames.jsonl";
        {
            std::ofstream out(lines);
            for (std::size_t k = 0; k < count; ++k)
                out << message(frames, k, 1e12 + 1000.0 * static_cast<double>(k) / frameRate)
                    << '\n';
        }
        const std::uint64_t received = Kivo::DeviceService::status().live.framesReceived;
        const pid_t streamer = startStream(stream, lines, port, {"--now"});
        // From the 5th frame to the 5th last: the connection's setup and end stay outside.
        const std::size_t margin = std::min<std::size_t>(5, count / 4);
        if (!Kivo::DeviceService::awaitLiveFrames(received + margin, 10'000))
            fail("kivo-stream's frames did not arrive");
        const CpuWindow busy = hostCpuWhile([&] {
            if (!Kivo::DeviceService::awaitLiveFrames(received + count - margin,
                                                      static_cast<int>(seconds * 1000) + 10'000))
                fail("kivo-stream's frames stopped arriving");
        });
        if (const int code = awaitExit(streamer); code != 0)
            fail("kivo-stream failed (exit status " + std::to_string(code) + ")");
        const double convertSeconds = parseAndConvertSeconds(frames, 3000);
        const double convertPercent = convertSeconds * frameRate * 100.0;
        std::printf(
            "L3 host CPU at %g frames/s: %.3f %% of one core (target 2 %%; parsing and "
            "converting alone %.3f %%: ratio %.2f; connected and idle %.3f %%) over "
            "%.1f s\n",
            frameRate, busy.percent, convertPercent, busy.percent / convertPercent, idle.percent,
            busy.seconds);
        double callback = 0.0;
        for (const auto& [task, percent] : busy.byThread)
            if (task == arrivals.thread())
                callback = percent;
        std::printf("   the device's callback thread %.3f %%, the others (the server's) %.3f %%",
                    callback, busy.percent - callback);
        std::printf("; one frame parsed and converted: %.1f us\n", convertSeconds * 1e6);
        std::printf("load average after: %s\n", loadAverage().c_str());
        figures.push_back(
            {"host CPU at " + std::to_string(static_cast<int>(frameRate)) + " frames/s",
             "% of one core", busy.percent, "parsing and converting alone", convertPercent, 2.0});

        controller.removeListener(arrivals);
        Kivo::DeviceService::reset();
        fs::remove_all(work);
        if (!json.empty() && !kivorova::bench::writeFigures(json, "live", figures))
            fail("cannot write " + json);
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "live_bench: " << e.what() << "\n";
        return 1;
    }
}
