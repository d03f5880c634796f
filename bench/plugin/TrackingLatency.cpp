// The tracking-thread bench's latency runs: frames from their arrival in the device service to
// the end of the first tick that shows them.
#include <kivo/DeviceService.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <thread>
#include <variant>

#include "TrackingBench.h"

namespace tracking_bench {

Kivo::Recording taggedRecording(const std::string& path, std::size_t count, double rate) {
    Kivo::Recording source;
    std::string error;
    if (!Kivo::readRecording(path, source, error))
        fail(error);
    std::vector<Kivo::FrameRecord> frames;
    for (const auto& entry : source.entries)
        if (const auto* frame = std::get_if<Kivo::FrameRecord>(&entry);
            frame && !frame->hands.empty())
            frames.push_back(*frame);
    if (frames.empty())
        fail(path + ": no frame with a hand");
    Kivo::Recording out;
    out.header = source.header;
    out.header.rate = rate;
    for (std::size_t k = 0; k < count; ++k) {
        Kivo::FrameRecord frame = frames[k % frames.size()];
        frame.id = static_cast<std::int64_t>(k + 1);
        frame.timestamp =
            static_cast<std::int64_t>(std::llround(static_cast<double>(k) * 1e6 / rate));
        frame.hands[0].palmPosition.x = static_cast<float>(k + 1);
        out.entries.emplace_back(std::move(frame));
    }
    return out;
}

LatencyRun measureLatency(Host& host, const Node& tracking, const Node& gestures,
                          const Options& options, double speed) {
    LatencyRun run;
    const Kivo::Recording tagged = taggedRecording(options.recording, options.frames, kReplayRate);
    const std::int64_t base = Kivo::DeviceService::status().frameId;  // frame k has id base + k
    Kivo::ReplayOptions realtime;
    realtime.realtime = true;
    realtime.speed = speed;
    std::map<std::int64_t, Clock::time_point> arrivals;  // by sequence number
    std::vector<std::pair<Clock::time_point, std::int64_t>> trackingShown, gesturesShown;
    std::vector<Clock::time_point> tickStarts;
    std::int64_t collected = base;
    const auto collect = [&] {
        const std::int64_t newest = Kivo::DeviceService::status().frameId;
        for (std::int64_t id = collected + 1; id <= newest; ++id) {
            const auto arrival = Kivo::DeviceService::frameArrival(id);
            if (!arrival)
                fail("frame " + std::to_string(id) + " left the history before it was read");
            arrivals[id - base] = *arrival;
        }
        collected = newest;
    };
    checkService(Kivo::DeviceService::replay(tagged, "tagged-120fps", realtime));
    const auto period =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(kTickSeconds));
    const auto start = Clock::now();
    auto next = start;
    const auto last = static_cast<std::int64_t>(options.frames);
    const auto giveUp =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                    static_cast<double>(options.frames) / kReplayRate + 5.0));
    std::int64_t shownTracking = 0, shownGestures = 0;
    while ((shownTracking < last || shownGestures < last) && Clock::now() < giveUp) {
        next += period;
        std::this_thread::sleep_until(next);
        const auto tickStart = Clock::now();
        host.tick();
        const auto palm = host.storedPlug(tracking.shown);
        const auto frameId = host.storedPlug(gestures.shown);
        const auto shownAt = Clock::now();
        tickStarts.push_back(tickStart);
        run.tickMs.push_back(
            std::chrono::duration<double, std::milli>(shownAt - tickStart).count());
        if (!palm.ok() || !frameId.ok())
            fail("cannot read the outputs");
        shownTracking = std::llround(palm.value.matrix[12]);
        shownGestures = frameId.value.intValue - base;
        trackingShown.emplace_back(shownAt, shownTracking);
        gesturesShown.emplace_back(shownAt, shownGestures);
        collect();
    }
    if (Kivo::DeviceService::status().frameId != base + last)
        fail("the replay delivered " +
             std::to_string(Kivo::DeviceService::status().frameId - base) + " frames, not " +
             std::to_string(last));
    // For every frame: from its arrival to the end of the first tick showing it or a newer one.
    const auto latencies = [&](const std::vector<std::pair<Clock::time_point, std::int64_t>>& shown,
                               std::size_t& showedItself) {
        std::vector<double> out;
        std::set<std::int64_t> seen;
        for (const auto& tick : shown) seen.insert(tick.second);
        showedItself = 0;
        std::size_t t = 0;
        for (const auto& [k, arrival] : arrivals) {
            while (t < shown.size() && shown[t].second < k) ++t;
            if (t == shown.size())
                break;
            out.push_back(
                std::chrono::duration<double, std::milli>(shown[t].first - arrival).count());
            showedItself += seen.count(k);
        }
        return out;
    };
    run.tracking = latencies(trackingShown, run.trackingOwn);
    run.gestures = latencies(gesturesShown, run.gesturesOwn);
    std::size_t k = 0;
    for (const auto& [sequence, arrival] : arrivals) {
        if (k >= run.tracking.size())
            break;
        const auto after = std::upper_bound(tickStarts.begin(), tickStarts.end(), arrival);
        if (after != tickStarts.begin() &&
            std::chrono::duration<double, std::milli>(arrival - *(after - 1)).count() <
                kJustAfterTickMs)
            run.justAfterTick.push_back(run.tracking[k]);
        ++k;
    }
    // Let the replay's last frame go before the next run starts its own.
    Kivo::DeviceService::waitForReplay(2000);
    return run;
}

}  // namespace tracking_bench
