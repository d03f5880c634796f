// Throughput of the simulated device: frames to listeners and to frame(0) readers, lockstep
// replay, gestures(since), and the timing accuracy of real-time replay.
//
//   build/<preset>/bin/kivo_bench                      all
//   build/<preset>/bin/kivo_bench --benchmark_filter=Since
#include <kivo/DeviceService.h>
#include <kivo/Kivo.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

std::string dataPath(const std::string& relative) {
    return std::string(KIVO_BENCH_DATA) + "/" + relative;
}

Kivo::Recording readOrThrow(const std::string& relative) {
    Kivo::Recording r;
    std::string error;
    if (!Kivo::readRecording(dataPath(relative), r, error)) {
        throw std::runtime_error(error);
    }
    return r;
}

const Kivo::Recording& realRecording() {
    static const Kivo::Recording rec = readOrThrow("real/asl-fingerspelling.kivo");
    return rec;
}

std::vector<Kivo::FrameRecord> realFrames() {
    std::vector<Kivo::FrameRecord> frames;
    for (const auto& e : realRecording().entries) {
        if (const auto* f = std::get_if<Kivo::FrameRecord>(&e)) {
            frames.push_back(*f);
        }
    }
    return frames;
}

// Baseline: the least a service can do per frame (copy it into shared storage).
void BM_BaselineFrameCopy(benchmark::State& state) {
    const auto frames = realFrames();
    std::size_t i = 0;
    for (auto _ : state) {
        auto copy = std::make_shared<const Kivo::FrameRecord>(frames[i++ % frames.size()]);
        benchmark::DoNotOptimize(copy);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BaselineFrameCopy);

// Lockstep replay of real hand motion with gesture recognition: frames per second delivered.
void BM_LockstepAdvance(benchmark::State& state) {
    Kivo::DeviceService::reset();
    Kivo::ReplayOptions options;
    options.loop = true;
    Kivo::DeviceService::replay(realRecording(), "real", options);
    for (auto _ : state) {
        benchmark::DoNotOptimize(Kivo::DeviceService::advance());
    }
    state.SetItemsProcessed(state.iterations());
    Kivo::DeviceService::stop();
}
BENCHMARK(BM_LockstepAdvance);

// Gesture recognition's cost per hand per frame: a looping lockstep replay with recognition on
// (range 1 = 1) against the same replay with it off (range 1 = 0); the difference between the two
// times per item is the recogniser's, and items are hand-frames. Range 0 picks the motion: 0 the
// real fingerspelling (one hand, 25 frames per second), 1 a fast circle (the path fit's worst
// case), 2 an open hand swiping, 3 two hands (60 frames per second), 4 a reach that taps.
//
//   kivo_bench --benchmark_filter='Recognition|Baseline'
// The budget is 2 us per hand per frame; the frame copy above is the yardstick for machines.
void BM_RecognitionPerHandFrame(benchmark::State& state) {
    static const std::vector<Kivo::Recording> recordings{
        realRecording(), readOrThrow("generated/fast-circle.kivo"),
        readOrThrow("generated/open-hand-swipe.kivo"), readOrThrow("generated/two-hands.kivo"),
        readOrThrow("generated/reach-tap.kivo")};
    const auto& rec = recordings.at(static_cast<std::size_t>(state.range(0)));
    std::size_t hands = 0;
    std::size_t frames = 0;
    for (const auto& e : rec.entries) {
        if (const auto* f = std::get_if<Kivo::FrameRecord>(&e)) {
            hands += f->hands.size();
            ++frames;
        }
    }
    Kivo::DeviceService::reset();
    Kivo::Controller().config().setBool("recognizer.enabled", state.range(1) != 0);
    Kivo::ReplayOptions options;
    options.loop = true;
    Kivo::DeviceService::replay(rec, "bench", options);
    for (auto _ : state) {
        benchmark::DoNotOptimize(Kivo::DeviceService::advance());
    }
    const double handsPerFrame = static_cast<double>(hands) / static_cast<double>(frames);
    state.SetItemsProcessed(
        static_cast<std::int64_t>(static_cast<double>(state.iterations()) * handsPerFrame));
    state.counters["hands_per_frame"] = handsPerFrame;
    Kivo::DeviceService::stop();
    Kivo::DeviceService::reset();
}
BENCHMARK(BM_RecognitionPerHandFrame)
    ->ArgNames({"motion", "recognise"})
    ->ArgsProduct({{0, 1, 2, 3, 4}, {0, 1}});

// Frames injected from code, seen by one listener that reads each notified frame.
void BM_ListenerDelivery(benchmark::State& state) {
    Kivo::DeviceService::reset();
    struct Reader : Kivo::Listener {
        std::atomic<std::int64_t> lastId{-1};
        std::atomic<std::int64_t> callbacks{0};
        void handleFrame(const Kivo::Controller& c) override {
            lastId.store(c.frame(0).id(), std::memory_order_release);
            callbacks.fetch_add(1, std::memory_order_relaxed);
        }
    } reader;
    Kivo::Controller controller;
    controller.addListener(reader);
    const auto frames = realFrames();
    std::size_t i = 0;
    std::int64_t newest = -1;
    for (auto _ : state) {
        Kivo::DeviceService::inject(Kivo::RecordEntry{frames[i++ % frames.size()]});
        newest = controller.frame(0).id();
    }
    while (reader.lastId.load(std::memory_order_acquire) < newest) {
        std::this_thread::yield();
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["callbacks_per_frame"] =
        static_cast<double>(reader.callbacks.load()) / static_cast<double>(state.iterations());
    controller.removeListener(reader);
    Kivo::DeviceService::stop();
}
BENCHMARK(BM_ListenerDelivery)->UseRealTime();

// frame(0) calls per second on data threads while a lockstep replay publishes as fast as it can
// (range: number of reader threads; 0 publishers as the baseline is BM_Frame0Idle).
void BM_Frame0Idle(benchmark::State& state) {
    Kivo::DeviceService::reset();
    Kivo::DeviceService::connect();
    Kivo::Controller controller;
    for (auto _ : state) {
        benchmark::DoNotOptimize(controller.frame(0).id());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Frame0Idle);

void BM_Frame0WhilePublishing(benchmark::State& state) {
    static std::atomic<bool> stop{false};
    static std::thread publisher;
    if (state.thread_index() == 0) {
        Kivo::DeviceService::reset();
        Kivo::ReplayOptions options;
        options.loop = true;
        Kivo::DeviceService::replay(realRecording(), "real", options);
        stop = false;
        publisher = std::thread([] {
            while (!stop.load()) {
                Kivo::DeviceService::advance();
            }
        });
    }
    Kivo::Controller controller;
    std::int64_t distinct = 0;
    std::int64_t last = -1;
    for (auto _ : state) {
        const auto frame = controller.frame(0);
        if (frame.id() != last) {
            ++distinct;
            last = frame.id();
        }
        benchmark::DoNotOptimize(frame.hands().count());
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["new_frames_seen"] =
        benchmark::Counter(static_cast<double>(distinct), benchmark::Counter::kIsRate);
    if (state.thread_index() == 0) {
        stop = true;
        publisher.join();
        Kivo::DeviceService::stop();
    }
}
BENCHMARK(BM_Frame0WhilePublishing)->Threads(1)->Threads(2)->UseRealTime();

// gestures(since) over a span of frames that each carry two gesture updates; range 0 is the
// span (1 = the newest frame only, the baseline).
void BM_GesturesSince(benchmark::State& state) {
    Kivo::DeviceService::reset();
    Kivo::Controller controller;
    for (int type : {1, 4, 5, 6}) {
        controller.enableGesture(type);
    }
    const std::string line =
        "frame 1 t=0; gesture 1 type=circle state=update duration=10 hand=0 pointable=0 "
        "center=0,0,0 normal=0,0,1 radius=30 progress=1; gesture 2 type=key-tap state=stop "
        "duration=10 hand=0 pointable=0 position=0,0,0 direction=0,-1,0";
    for (int i = 0; i < 120; ++i) {
        Kivo::DeviceService::inject(line);
    }
    const auto span = static_cast<int>(state.range(0));
    const Kivo::Frame newest = controller.frame(0);
    const Kivo::Frame since = controller.frame(span);
    for (auto _ : state) {
        const auto list = newest.gestures(since);
        benchmark::DoNotOptimize(list.count());
    }
    state.counters["gestures"] = static_cast<double>(newest.gestures(since).count());
    Kivo::DeviceService::stop();
}
BENCHMARK(BM_GesturesSince)->Arg(1)->Arg(10)->Arg(100);

// Real-time replay of the real session for two seconds: the delivered rate against the recorded
// rate. Reported as counters: rate_error_percent should stay within 2.
void BM_RealTimeReplayRate(benchmark::State& state) {
    for (auto _ : state) {
        Kivo::DeviceService::reset();
        Kivo::ReplayOptions options;
        options.realtime = true;
        options.loop = true;
        Kivo::DeviceService::replay(realRecording(), "real", options);
        // Measure between two frame deliveries so the window holds whole frame periods.
        Kivo::Controller controller;
        const auto waitNew = [&](std::int64_t after) {
            while (controller.frame(0).id() <= after) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            return std::make_pair(controller.frame(0).id(), std::chrono::steady_clock::now());
        };
        const auto [firstId, t0] = waitNew(controller.frame(0).id());
        std::this_thread::sleep_for(std::chrono::milliseconds(1980));
        const auto [lastId, t1] = waitNew(controller.frame(0).id());
        Kivo::DeviceService::stop();
        const double seconds = std::chrono::duration<double>(t1 - t0).count();
        const double rate = static_cast<double>(lastId - firstId) / seconds;
        const double recorded = realRecording().header.rate;
        state.counters["recorded_fps"] = recorded;
        state.counters["delivered_fps"] = rate;
        state.counters["rate_error_percent"] = 100.0 * std::abs(rate - recorded) / recorded;
    }
}
BENCHMARK(BM_RealTimeReplayRate)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
