// CPU use of a live threaded device node's data thread, as a share of one core.
// The node's loop polls without sleeping, as device nodes do; the pool's bounded waits and the
// idle nap in isDone are what keep it cheap. Baseline: the same loop with nothing that waits.
#include <rova/Rova.h>
#include <rovahost/Host.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "CpuTime.h"

namespace {

using kivorova::bench::processCpuSeconds;
using kivorova::bench::threadCpuSeconds;

std::atomic<bool> g_deviceHasData{true};
std::atomic<long> g_pushes{0};
// When each push happened (steady clock, ns), by push number modulo the size.
std::array<std::atomic<std::int64_t>, 64> g_pushTimes{};

std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class PollingNode : public RPxThreadedDeviceNode {
  public:
    static RObject sample;
    static PollingNode* last;
    static void* create() { return last = new PollingNode(); }
    static RStatus initialize() {
        RFnNumericAttribute numeric;
        sample = numeric.create("sample", "smp", RFnNumericData::kDouble, 0.0);
        numeric.setWritable(false);
        return addAttribute(sample);
    }
    ~PollingNode() override { destroyMemoryPools(); }
    void postConstructor() override {
        RObjectArray refresh;
        refresh.append(sample);
        setRefreshOutputAttributes(refresh);
        createMemoryPools(5, 1, 16);
    }
    void runDeviceThread() override {
        setDone(false);
        double counter = 0.0;
        while (!isDone()) {
            if (!isLive() || !g_deviceHasData.load(std::memory_order_relaxed))
                continue;
            RCharBuffer buffer;
            if (!acquireDataStorage(buffer))
                continue;
            beginThreadLoop();
            *reinterpret_cast<double*>(buffer.ptr()) = ++counter;
            pushThreadData(buffer);
            const long pushed = g_pushes.load();
            g_pushTimes[static_cast<std::size_t>(pushed) % g_pushTimes.size()] = nowNs();
            g_pushes.store(pushed + 1);
            endThreadLoop();
        }
        setDone(true);
    }
    RStatus compute(const RPlug& plug, RDataBlock& block) override {
        if (plug != sample)
            return RStatus::kUnknownParameter;
        RCharBuffer buffer;
        if (!popThreadData(buffer))
            return RStatus::kFailure;
        block.outputValue(sample).set(*reinterpret_cast<const double*>(buffer.ptr()));
        block.setClean(plug);
        releaseDataStorage(buffer);
        return RStatus::kSuccess;
    }
};
RObject PollingNode::sample;
PollingNode* PollingNode::last = nullptr;

RStatus initializeBench(RObject plugin) {
    return RFnPlugin(plugin).registerNode("pollingNode", RTypeId(0x7e5a01), PollingNode::create,
                                          PollingNode::initialize, RPxNode::kThreadedDeviceNode);
}
RStatus uninitializeBench(RObject plugin) {
    return RFnPlugin(plugin).deregisterNode(RTypeId(0x7e5a01));
}

// Process CPU minus the main thread's own, over the wall time: the data thread's share of a core.
template <class MainLoop>
double measure(double seconds, MainLoop&& mainLoop) {
    const double processBefore = processCpuSeconds(), mainBefore = threadCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    mainLoop(start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                         std::chrono::duration<double>(seconds)));
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double other = (processCpuSeconds() - processBefore) - (threadCpuSeconds() - mainBefore);
    return 100.0 * other / wall;
}

void sleepUntil(std::chrono::steady_clock::time_point end) {
    std::this_thread::sleep_until(end);
}

// With the pool full, compute takes the newest record (the older ones go back to the pool) and
// releases it: how long until the data thread pushes again. The main thread sleeps meanwhile
// rather than spinning, so the woken data thread gets a core at once. Median and worst of the
// rounds, in microseconds.
std::pair<double, double> refillLatency(PollingNode& node, int rounds) {
    std::vector<double> latencies;
    for (int k = 0; k < rounds; ++k) {
        std::this_thread::sleep_for(std::chrono::milliseconds(15));  // full again, thread waiting
        const long before = g_pushes.load();
        const std::int64_t start = nowNs();
        RCharBuffer buffer;
        if (!node.popThreadData(buffer))
            continue;
        node.releaseDataStorage(buffer);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (g_pushes.load() == before)
            continue;
        const std::int64_t pushed =
            g_pushTimes[static_cast<std::size_t>(before) % g_pushTimes.size()].load();
        latencies.push_back(static_cast<double>(pushed - start) * 1e-3);
    }
    if (latencies.empty())
        return {0.0, 0.0};
    std::sort(latencies.begin(), latencies.end());
    return {latencies[latencies.size() / 2], latencies.back()};
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::stod(argv[1]) : 2.0;
    auto& host = rova::host::Host::instance();
    if (!host.registerBuiltinPlugin("bench", initializeBench, uninitializeBench))
        return 1;
    const std::string node = host.createNode("pollingNode", "poll").value;
    if (!host.setPlug("poll.live", {"true"}))
        return 1;

    const double full =
        measure(seconds, [](auto end) { sleepUntil(end); });  // nobody pops: the pool stays full

    g_deviceHasData = false;
    const double idle =
        measure(seconds, [](auto end) { sleepUntil(end); });  // live, but the device has nothing
    g_deviceHasData = true;

    long consumed = 0;
    double last = 0.0;
    const double ticking = measure(seconds, [&](std::chrono::steady_clock::time_point end) {
        auto next = std::chrono::steady_clock::now();
        while (next < end) {
            next += std::chrono::microseconds(16667);  // 60 ticks a second
            std::this_thread::sleep_until(next);
            host.tick();
            const double value = host.getPlug("poll.sample").value.doubleValue;
            if (value != last)
                ++consumed;
            last = value;
        }
    });
    const auto [refillMedian, refillWorst] = refillLatency(*PollingNode::last, 100);
    host.shutdown();

    std::atomic<bool> stop{false};
    const double baseline = measure(seconds, [&](std::chrono::steady_clock::time_point end) {
        std::thread spinner([&] {
            while (!stop.load(std::memory_order_relaxed)) {
            }
        });
        sleepUntil(end);
        stop = true;
        spinner.join();
    });

    std::printf("data thread CPU, %% of one core, over %.1f s each\n", seconds);
    std::printf("  live, pool full (nobody pops)      %6.2f %%\n", full);
    std::printf("  live, device has no data           %6.2f %%\n", idle);
    std::printf(
        "  live, 60 Hz ticks popping          %6.2f %%  (%ld new samples seen of %d ticks)\n",
        ticking, consumed, static_cast<int>(seconds * 60));
    std::printf("  baseline: the same loop, no waits  %6.2f %%\n", baseline);
    std::printf("slot handed back to next push: median %.0f us, worst %.0f us (100 rounds)\n",
                refillMedian, refillWorst);
    return 0;
}
