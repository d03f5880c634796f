// The plug-in's hand-tracking nodes (`kivoTransform`, `kivoGesturesNode`) loaded in the host as a
// user would load them, with the host ticking at 60 Hz:
//
//  1. CPU of each node's data thread, as a share of one core, with the device unplugged, plugged
//     in with no new frames, and replaying 120 frames per second in real time; each node alone
//     and both together. Baseline, in the same process: a thread running the nodes' loop shape
//     (check the device, read the newest frame, compare its id) with nothing that waits, which
//     is what the loops as written would cost without the host's waits: a whole core.
//  2. Latency from a frame's arrival in the device service (DeviceService::frameArrival) to the
//     end of the first tick whose outputs show it or a newer frame, over a real-time 120 fps
//     replay. The replay is a shipped recording retimed to 120 fps whose first hand's palm x is
//     the frame's sequence number, so the tracking node's outputPalm0 names the frame it shows;
//     the gestures node's frameId output names it directly. Baseline: one tick period. Two runs:
//     the replay one frame in N fast, so that arrivals sweep once through every phase of the
//     tick as a device's own clock does against the host's, and the replay exactly in step with
//     the ticks, frames arriving as ticks begin: the worst phase, held.
//  3. Cost of one kivoTransform evaluation (58 outputs from one pool record) against a plain
//     copy of that record (TrackingRecord), with the main thread free to change cores and
//     then kept on one; and, for reference, the same compute with everything warm.
//
// Usage: tracking_thread_cpu [--seconds S] [--frames N] [--evaluations N] [--recording PATH]
//                            [--idle-wait-ms MS] [--no-device-reports] [--json PATH]
// (defaults: 2 s per CPU state, 1200 latency frames a run, 2000 evaluations, the host's own idle
// wait; about 50 s in all). --idle-wait-ms sets the host's idle nap of data threads and
// --no-device-reports keeps the device's changes from the host, so that every tick asks every
// loop for a pass (what-if runs).
#include <pthread.h>
#include <sched.h>

#include <kivo/Controller.h>
#include <kivo/DeviceService.h>
#include <kivo/Frame.h>
#include <kivo/Recording.h>
#include <rovahost/Host.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "TrackingBench.h"
#include "apps/rova/DeviceChangeReports.h"
#include "tracking/TrackingRecord.h"

#include "CpuTime.h"
#include "FigureReport.h"
#include "TaskCpu.h"

namespace tracking_bench {

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "tracking_thread_cpu: %s\n", what.c_str());
    std::exit(1);
}

void check(const rova::host::Status& status) {
    if (!status)
        fail(status.message);
}

void checkService(const std::string& error) {
    if (!error.empty())
        fail(error);
}

}  // namespace tracking_bench

namespace {

using namespace tracking_bench;
using kivorova::bench::Figure;
using kivorova::bench::percentile;
using kivorova::bench::taskCpuSeconds;
using kivorova::bench::tasks;
using kivorova::bench::threadCpuSeconds;

std::vector<Figure> g_figures;

void add(Figure figure) {
    g_figures.push_back(std::move(figure));
}

constexpr double kCpuTargetPercent = 2.0;
constexpr double kLatencySlackMs = 0.2;

// ---------------------------------------------------------------- the scene

// The statements the manager queues for the host's main thread (notices, the handler switching
// `live`) are counted, not run: this bench sets `live` itself.
std::atomic<int> g_queuedStatements{0};

void setLive(Host& host, Node& node, bool live) {
    if (!live) {
        check(host.setPlug(node.name + ".live", {"false"}));
        check(host.watch(node.watched, false));
        node.threads.clear();
        return;
    }
    const std::set<long> before = tasks();
    check(host.setPlug(node.name + ".live", {"true"}));
    check(host.watch(node.watched, true));
    for (const long task : tasks())
        if (!before.count(task))
            node.threads.push_back(task);
    if (node.threads.size() != 1)
        fail("expected one new data thread for node '" + node.name + "', found " +
             std::to_string(node.threads.size()));
}

struct CpuFigures {
    double dataPercent = 0.0;     // the data threads of the nodes measured, % of one core
    double mainPercent = 0.0;     // the main thread: ticks and their evaluations
    double waitsPerSecond = 0.0;  // the data threads' waits (idle naps, slot waits), all nodes
};

// Ticks at 60 Hz for `seconds` while measuring the data threads of `nodes`.
CpuFigures tickAndMeasure(Host& host, const std::vector<Node*>& nodes, double seconds) {
    // Settle: the state change's first frames and queued statements are not part of the figure.
    for (int k = 0; k < 6; ++k) {
        std::this_thread::sleep_for(std::chrono::duration<double>(kTickSeconds));
        host.tick();
    }
    auto dataCpu = [&] {
        double sum = 0.0;
        for (const Node* node : nodes)
            for (const long task : node->threads) sum += taskCpuSeconds(task);
        return sum;
    };
    auto waits = [&] {
        std::uint64_t sum = 0;
        for (const Node* node : nodes) {
            const auto counts = host.threadWaitCounts(node->name);
            if (counts.ok())
                sum += counts.value.woken + counts.value.timedOut;
        }
        return sum;
    };
    const std::uint64_t waits0 = waits();
    const double data0 = dataCpu(), main0 = threadCpuSeconds();
    const auto start = Clock::now();
    const auto period =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(kTickSeconds));
    auto next = start;
    const auto end =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    while (next + period <= end) {
        next += period;
        std::this_thread::sleep_until(next);
        host.tick();
    }
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    return {100.0 * (dataCpu() - data0) / wall, 100.0 * (threadCpuSeconds() - main0) / wall,
            static_cast<double>(waits() - waits0) / wall};
}

// What the nodes' loops would cost with nothing that waits: the same shape (is the device
// there, the newest frame, is it new) spinning on a thread of its own, % of one core.
double busyLoopPercent(double seconds) {
    std::atomic<bool> done{false};
    std::atomic<double> percent{0.0};
    std::thread spinner([&] {
        const Kivo::Controller controller;
        std::int64_t last = -1;
        const double cpu0 = threadCpuSeconds();
        const auto start = Clock::now();
        while (!done.load(std::memory_order_relaxed)) {
            if (!controller.isConnected())
                continue;
            const Kivo::Frame frame = controller.frame(0);
            if (!frame.isValid() || frame.id() == last)
                continue;
            last = frame.id();
        }
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        percent = 100.0 * (threadCpuSeconds() - cpu0) / wall;
    });
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    done = true;
    spinner.join();
    return percent.load();
}

// The frame of the recording with the most hands and pointables.
Kivo::FrameRecord busiestFrame(const std::string& path) {
    Kivo::Recording source;
    std::string error;
    if (!Kivo::readRecording(path, source, error))
        fail(error);
    Kivo::FrameRecord best;
    for (const auto& entry : source.entries)
        if (const auto* frame = std::get_if<Kivo::FrameRecord>(&entry))
            if (frame->hands.size() * 100 + frame->pointables.size() >
                best.hands.size() * 100 + best.pointables.size())
                best = *frame;
    return best;
}

// Keeps the calling thread on the core it runs on; `previous` receives the set it had.
bool pinToCurrentCore(cpu_set_t& previous) {
    if (pthread_getaffinity_np(pthread_self(), sizeof previous, &previous) != 0)
        return false;
    const int core = sched_getcpu();
    if (core < 0)
        return false;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(core, &one);
    return pthread_setaffinity_np(pthread_self(), sizeof one, &one) == 0;
}

Options parse(int argc, char** argv) {
    Options o;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        const bool hasValue = k + 1 < argc;
        if (arg == "--seconds" && hasValue)
            o.seconds = std::atof(argv[++k]);
        else if (arg == "--frames" && hasValue)
            o.frames = static_cast<std::size_t>(std::atol(argv[++k]));
        else if (arg == "--evaluations" && hasValue)
            o.evaluations = std::atoi(argv[++k]);
        else if (arg == "--recording" && hasValue)
            o.recording = argv[++k];
        else if (arg == "--idle-wait-ms" && hasValue)
            o.idleWaitMs = std::atoi(argv[++k]);
        else if (arg == "--no-device-reports")
            o.deviceReports = false;
        else if (arg == "--json" && hasValue)
            o.json = argv[++k];
        else {
            std::fprintf(stderr,
                         "usage: tracking_thread_cpu [--seconds S] [--frames N] "
                         "[--evaluations N] [--recording PATH] [--idle-wait-ms MS] "
                         "[--no-device-reports] [--json PATH]\n");
            std::exit(2);
        }
    }
    if (!(o.seconds > 0.0) || o.frames < 10 || o.evaluations < 1)
        fail("--seconds, --frames (at least 10) and --evaluations must be positive");
    return o;
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);
    auto& host = Host::instance();
    host.setExecutor([](const std::string&, bool, bool, std::string*) {
        ++g_queuedStatements;
        return true;
    });
    if (options.idleWaitMs >= 0)
        host.setThreadWaits(
            {host.threadWaits().acquire, std::chrono::milliseconds(options.idleWaitMs)});
    const auto idleWaitMs = static_cast<long long>(host.threadWaits().idle.count());
    check(host.loadPlugin("kivo_rova"));
    Kivo::DeviceService::reset();  // unplugged, no source
    // As the rova program does: the device's changes reach the host.
    std::optional<rova::app::DeviceChangeReports> deviceReports;
    if (options.deviceReports)
        deviceReports.emplace(host);

    // The gestures node computes frameId (its refresh attribute) along with its other outputs.
    Node tracking{"tracking", "tracking.outputPalm0", "tracking.outputPalm0", {}};
    Node gestures{"gestures", "gestures.swipeState", "gestures.frameId", {}};
    if (auto made = host.createNode("kivoTransform", tracking.name); !made.ok())
        fail(made.status.message);
    if (auto made = host.createNode("kivoGesturesNode", gestures.name); !made.ok())
        fail(made.status.message);
    // Device millimetres straight through: outputPalm0's x is hand 0's palm x.
    check(host.setPlug("tracking.scale", {"1"}));

    const Kivo::Recording looped = taggedRecording(options.recording, 600, kReplayRate);
    Kivo::ReplayOptions realtimeLoop;
    realtimeLoop.realtime = true;
    realtimeLoop.loop = true;

    // ---- 1. CPU of the data threads.
    struct Config {
        const char* label;
        std::vector<Node*> nodes;
    };
    const std::vector<Config> configs = {{"kivoTransform", {&tracking}},
                                         {"kivoGesturesNode", {&gestures}},
                                         {"both nodes", {&tracking, &gestures}}};
    const char* states[] = {"unplugged", "plugged in, no new frames", "120 fps real-time replay"};
    struct Row {
        std::string config, state;
        CpuFigures cpu;
    };
    std::vector<Row> rows;
    for (const Config& config : configs) {
        Kivo::DeviceService::stop();
        Kivo::DeviceService::flushEvents();
        host.drainIdle();
        for (Node* node : config.nodes) setLive(host, *node, true);
        for (int s = 0; s < 3; ++s) {
            if (s == 1)
                Kivo::DeviceService::connect();
            if (s == 2)
                checkService(Kivo::DeviceService::replay(looped, "tagged-120fps", realtimeLoop));
            rows.push_back(
                {config.label, states[s], tickAndMeasure(host, config.nodes, options.seconds)});
        }
        Kivo::DeviceService::stop();
        for (Node* node : config.nodes) setLive(host, *node, false);
    }
    Kivo::DeviceService::flushEvents();
    host.drainIdle();

    const double busy = busyLoopPercent(options.seconds);

    // ---- 2. Latency, both nodes live, 120 fps real-time replays, ticks at 60 Hz.
    setLive(host, tracking, true);
    setLive(host, gestures, true);
    Kivo::DeviceService::connect();
    for (int k = 0; k < 3; ++k) host.tick();
    const double sweep = 1.0 + 1.0 / static_cast<double>(options.frames);
    const LatencyRun swept = measureLatency(host, tracking, gestures, options, sweep);
    const LatencyRun locked = measureLatency(host, tracking, gestures, options, 1.0);
    Kivo::DeviceService::stop();

    // ---- 3. One kivoTransform evaluation against a copy of its record.
    setLive(host, gestures, false);
    check(host.watch(tracking.watched, false));
    const Kivo::FrameRecord busiest = busiestFrame(options.recording);
    // Medians, so that a tick preempted by another process does not weigh on the figure. Two
    // passes: the main thread free to move, as the host runs, and kept on one core. A main
    // thread that wakes from the tick's wait on another core than it slept on finds everything
    // the evaluation touches cold; the second pass shows the evaluation's own cost.
    struct EvaluationRun {
        double evaluationNs = 0.0, cleanGetNs = 0.0;
    };
    auto measureEvaluations = [&](std::int64_t firstTime) {
        std::vector<double> evaluations, cleanGets;
        for (int k = 0; k < options.evaluations; ++k) {
            Kivo::FrameRecord frame = busiest;
            frame.timestamp = firstTime + k * 8333;
            checkService(Kivo::DeviceService::inject(Kivo::RecordEntry(frame)));
            Kivo::DeviceService::flushEvents();  // as `device -inject` does: the host heard of it
            host.tick();  // the data thread pushes the frame's record; the outputs become dirty
            const auto dirty = host.isDirty(tracking.watched);
            if (!dirty.ok() || !dirty.value)
                continue;
            const auto t0 = Clock::now();
            const auto value = host.getPlug(tracking.watched);  // compute: all 58 outputs
            const auto t1 = Clock::now();
            const auto again = host.getPlug(tracking.watched);  // clean: only the lookup
            const auto t2 = Clock::now();
            if (!value.ok() || !again.ok())
                fail("cannot read " + tracking.watched);
            evaluations.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count());
            cleanGets.push_back(std::chrono::duration<double, std::nano>(t2 - t1).count());
        }
        // Each injected frame must reach the outputs by the next tick: a tick that missed one
        // would be a fault, not noise.
        if (static_cast<int>(evaluations.size()) != options.evaluations)
            fail("only " + std::to_string(evaluations.size()) + " of " +
                 std::to_string(options.evaluations) +
                 " injected frames made the tracking outputs dirty at the next tick");
        return EvaluationRun{percentile(evaluations, 50), percentile(cleanGets, 50)};
    };
    const int evaluated = options.evaluations;
    const EvaluationRun roaming = measureEvaluations(0);
    cpu_set_t all;
    const bool pinned = pinToCurrentCore(all);
    const EvaluationRun onOneCore =
        measureEvaluations(static_cast<std::int64_t>(options.evaluations) * 8333);
    if (pinned)
        pthread_setaffinity_np(pthread_self(), sizeof all, &all);
    // The same compute with everything it touches warm: a changed scale makes it place the shown
    // record again (no record to pop and copy), right after the last one. What is left of the
    // evaluation once nothing is cold: the floor that the passes above approach.
    std::vector<double> replacements;
    for (int k = 0; k < options.evaluations; ++k) {
        check(host.setPlug("tracking.scale", {k % 2 == 0 ? "2" : "1"}));
        const auto t0 = Clock::now();
        const auto value = host.getPlug(tracking.watched);
        const auto t1 = Clock::now();
        if (!value.ok())
            fail("cannot read " + tracking.watched);
        replacements.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count());
    }
    check(host.setPlug("tracking.scale", {"1"}));
    const double warmNs = percentile(replacements, 50);
    const double evaluationNs = roaming.evaluationNs;
    const double cleanGetNs = roaming.cleanGetNs;
    Kivo::DeviceService::stop();
    setLive(host, tracking, false);

    // The copy baseline: batches of copies between two records, median batch.
    constexpr int kBatches = 200, kCopiesPerBatch = 1000;
    // Aligned to a cache line, so that the figure does not move with where the linker puts it
    // (unaligned, the same copy takes about 2.5 times as long).
    alignas(64) static kivo_rova::TrackingRecord records[2];
    std::vector<double> copies;
    for (int b = 0; b < kBatches; ++b) {
        const auto c0 = Clock::now();
        for (int k = 0; k < kCopiesPerBatch; ++k) {
            std::memcpy(&records[k & 1], &records[(k + 1) & 1], sizeof(kivo_rova::TrackingRecord));
            asm volatile("" : : "r"(records) : "memory");
        }
        copies.push_back(std::chrono::duration<double, std::nano>(Clock::now() - c0).count() /
                         kCopiesPerBatch);
    }
    const double copyNs = percentile(copies, 50);

    host.shutdown();

    // ---- the table
    std::printf(
        "tracking nodes in the host, ticks at 60 Hz; %.1f s per CPU state; data threads' "
        "idle wait %lld ms;\ndevice changes reported to the host (ticks pass over loops that "
        "read the newest frame): %s\n\n",
        options.seconds, idleWaitMs, options.deviceReports ? "yes" : "no");
    std::printf(
        "CPU of the data threads, %% of one core (target <= %.1f %%; baseline: the loop\n"
        "shape with nothing that waits, %.2f %%)\n",
        kCpuTargetPercent, busy);
    std::printf("  %-17s %-27s %9s %11s %9s %9s\n", "nodes", "device", "data thr.", "/ baseline",
                "waits/s", "main thr.");
    for (const Row& row : rows) {
        std::printf("  %-17s %-27s %8.3f%% %11.5f %9.0f %8.2f%%\n", row.config.c_str(),
                    row.state.c_str(), row.cpu.dataPercent,
                    busy > 0.0 ? row.cpu.dataPercent / busy : 0.0, row.cpu.waitsPerSecond,
                    row.cpu.mainPercent);
        add({"cpu " + row.config + ", " + row.state, "% of one core", row.cpu.dataPercent,
             "busy loop of the same shape", busy,
             row.config == std::string("both nodes") ? 2 * kCpuTargetPercent : kCpuTargetPercent});
        add({"main thread cpu " + row.config + ", " + row.state, "% of one core",
             row.cpu.mainPercent, "busy loop of the same shape", busy});
    }
    const double tickPeriodMs = kTickSeconds * 1e3;
    const double latencyTarget = tickPeriodMs + kLatencySlackMs;
    std::printf(
        "\nLatency, frame arrival in the device service -> end of the first tick showing it\n"
        "(or a newer frame); %zu frames at 120 fps a run, ticks at 60 Hz; baseline: one tick,\n"
        "%.2f ms; target p99 <= %.2f ms\n",
        options.frames, tickPeriodMs, latencyTarget);
    const auto latencyTable = [&](const LatencyRun& run, const std::string& suffix, double target) {
        std::printf("  %-17s %9s %9s %9s %12s %12s\n", "node", "p50 ms", "p99 ms", "max ms",
                    "p99 / tick", "frames shown");
        const auto row = [&](const char* name, const std::vector<double>& l, std::size_t own) {
            const double p50 = percentile(l, 50), p99 = percentile(l, 99), max = percentile(l, 100);
            std::printf("  %-17s %9.3f %9.3f %9.3f %12.4f %7zu/%zu\n", name, p50, p99, max,
                        p99 / tickPeriodMs, own, l.size());
            add({std::string("latency p50 ") + name + suffix, "ms", p50, "one tick", tickPeriodMs});
            add({std::string("latency p99 ") + name + suffix, "ms", p99, "one tick", tickPeriodMs,
                 target});
        };
        row("kivoTransform", run.tracking, run.trackingOwn);
        row("kivoGesturesNode", run.gestures, run.gesturesOwn);
        std::printf("  tick (tick + reading the outputs): p50 %.3f ms, p99 %.3f ms\n",
                    percentile(run.tickMs, 50), percentile(run.tickMs, 99));
        add({"tick duration p99" + suffix, "ms", percentile(run.tickMs, 99), "one tick",
             tickPeriodMs});
        if (!run.justAfterTick.empty())
            std::printf(
                "  kivoTransform frames arriving < %.1f ms after a tick began: %zu, latency p50 "
                "%.3f ms, max %.3f ms\n",
                kJustAfterTickMs, run.justAfterTick.size(), percentile(run.justAfterTick, 50),
                percentile(run.justAfterTick, 100));
    };
    std::printf(
        "phases sweeping: the device's clock %.3f %% fast against the host's, so that arrivals\n"
        "pass once through every phase of the tick, as independent clocks do (the figure for\n"
        "the target)\n",
        100.0 / static_cast<double>(options.frames));
    latencyTable(swept, "", latencyTarget);
    std::printf(
        "phases locked: the device's clock equal to the host's, frames arriving as ticks begin\n"
        "(the worst phase held throughout; a frame that just misses a tick waits for the next)\n");
    latencyTable(locked, ", phase locked", -1.0);

    std::printf(
        "\nkivoTransform evaluation (58 outputs from one record), median of %d evaluations\n",
        evaluated);
    std::printf("  evaluation (get of a dirty output)  %10.1f ns\n", evaluationNs);
    std::printf("  get of the clean output (lookup)    %10.1f ns\n", cleanGetNs);
    std::printf("  baseline: copy of the record (%zu B) %9.1f ns (median batch)\n",
                sizeof(kivo_rova::TrackingRecord), copyNs);
    std::printf("  ratio evaluation / copy             %10.1f\n",
                copyNs > 0.0 ? evaluationNs / copyNs : 0.0);
    if (pinned) {
        std::printf(
            "  main thread kept on one core: evaluation %.1f ns, clean get %.1f ns, "
            "ratio %.1f\n",
            onOneCore.evaluationNs, onOneCore.cleanGetNs,
            copyNs > 0.0 ? onOneCore.evaluationNs / copyNs : 0.0);
        add({"kivoTransform evaluation, main thread on one core", "ns", onOneCore.evaluationNs,
             "copy of a TrackingRecord", copyNs});
    }
    std::printf(
        "  warm, placing the shown record again after a scale change: %.1f ns, ratio %.1f\n",
        warmNs, copyNs > 0.0 ? warmNs / copyNs : 0.0);
    add({"kivoTransform evaluation, warm re-placement", "ns", warmNs, "copy of a TrackingRecord",
         copyNs});
    add({"kivoTransform evaluation", "ns", evaluationNs, "copy of a TrackingRecord", copyNs});
    add({"kivoTransform clean get", "ns", cleanGetNs, "copy of a TrackingRecord", copyNs});
    std::printf("\n(statements the manager queued for the host, counted not run: %d)\n",
                g_queuedStatements.load());

    if (!options.json.empty())
        if (!kivorova::bench::writeFigures(options.json, "tracking_thread_cpu", g_figures))
            fail("cannot write " + options.json);
    return 0;
}
