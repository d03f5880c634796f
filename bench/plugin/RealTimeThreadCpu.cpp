// CPU use of a live `realTime` node's data thread, the plug-in loaded by the host as a user
// would load it. The node's loop polls without sleeping of its own, so what keeps it cheap is
// the host's pool: a bounded wait for a free slot. Baseline, in the same process: a thread
// running the same kind of loop with nothing that waits.
//
// Usage: realtime_thread_cpu [SECONDS]   (default 2 per scenario)
#include <rovahost/Host.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "CpuTime.h"

namespace {

using kivorova::bench::processCpuSeconds;

using Clock = std::chrono::steady_clock;

// Share of one core that the process used while `during` ran (the main thread mostly sleeps).
template <class Body>
double corePercent(Body&& during) {
    const double cpu0 = processCpuSeconds();
    const auto wall0 = Clock::now();
    during();
    const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
    return 100.0 * (processCpuSeconds() - cpu0) / wall;
}

void fail(const std::string& what) {
    std::fprintf(stderr, "realtime_thread_cpu: %s\n", what.c_str());
    std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    const auto span = std::chrono::duration<double>(seconds > 0.0 ? seconds : 2.0);
    auto& host = rova::host::Host::instance();

    if (auto status = host.loadPlugin("kivo_rova"); !status)
        fail(status.message);
    auto clock = host.createNode("realTime", "clock");
    if (!clock.ok())
        fail(clock.status.message);

    // 1. Live, pool full: nobody reads, the five slots stay taken.
    if (auto status = host.setPlug("clock.live", {"true"}); !status)
        fail(status.message);
    const double full = corePercent([&] { std::this_thread::sleep_for(span); });

    // 2. Live, read at 60 ticks per second: each read frees slots the thread refills at once.
    int fresh = 0;
    double last = -1.0;
    const double reading = corePercent([&] {
        const auto end = Clock::now() + span;
        while (Clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::microseconds(16667));
            host.tick();
            auto value = host.getPlug("clock.elapsedTime");
            if (value.ok() && value.value.doubleValue != last) {
                ++fresh;
                last = value.value.doubleValue;
            }
        }
    });
    const int ticks = static_cast<int>(seconds * 60.0);

    host.setPlug("clock.live", {"false"});
    host.shutdown();

    // 3. Baseline: a loop of the same shape whose "no free slot" answer never waits.
    std::atomic<bool> done{false};
    std::atomic<long> passes{0};
    const double spinning = corePercent([&] {
        std::thread spinner([&] {
            while (!done.load(std::memory_order_relaxed))
                passes.fetch_add(1, std::memory_order_relaxed);
        });
        std::this_thread::sleep_for(span);
        done = true;
        spinner.join();
    });

    std::printf("realTime data thread, %% of one core, over %.1f s each\n", span.count());
    std::printf("  live, pool full (nobody reads)      %6.2f %%\n", full);
    std::printf("  live, read at 60 ticks per second   %6.2f %%  (%d fresh samples in ~%d ticks)\n",
                reading, fresh, ticks);
    std::printf("  baseline: same loop, never waits    %6.2f %%\n", spinning);
    std::printf("  ratio pool full / baseline          %6.4f\n",
                spinning > 0.0 ? full / spinning : 0.0);
    return 0;
}
