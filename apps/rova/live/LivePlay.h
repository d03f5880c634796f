#pragma once
// The host in real time: ticks at the scene's frame rate until a limit, a signal or a stop
// request ends it, after the tick under way.
#include <functional>
#include <optional>
#include <string>

#include "PoseStream.h"
#include "rovahost/Host.h"

namespace rova::live {

enum class StopReason { kFrames, kSeconds, kSignal, kRequest, kError };

struct LiveLimits {
    std::optional<long long> frames;  // ticks
    std::optional<double> seconds;    // real time since the first tick
};

// How a live play went, as its progress line and its summary show it.
struct LiveProgress {
    long long ticks = 0;
    double seconds = 0.0;  // real time since the first tick
    double fps = 0.0;      // ticks per second over about the last second
    int hands = 0;         // in the device's newest frame
    long long late = 0;    // ticks that began more than a period after their time
};

struct LiveOutcome {
    LiveProgress progress;
    StopReason reason = StopReason::kFrames;
    int signal = 0;  // with kSignal: which one
};

// Ends the live play under way after its tick, from any thread (a page asking to stop). Does
// nothing while none runs.
void requestStop();
// Whether a live play is under way (a statement one of its ticks runs cannot start another).
bool playing();

// Runs ticks in real time: each sets the scene time one frame on, advances a lockstep device
// replay by one frame, runs a refresh and then hands the scene to `poses` (when given). Ticks are
// due every 1/fps seconds of the scene's rate; one that comes late moves the next ones back
// rather than hurrying them. While it runs, SIGINT, SIGTERM and SIGHUP end it after the tick
// under way instead of ending the program (the caller decides what the signal does then), unless
// the program was started with them ignored. When
// it ends, a device capture under way is completed; an error completing it fails the play.
// `progress` hears about every tick, and once before the first, when the signals are caught.
host::Result<LiveOutcome> playLive(host::Host& host, const LiveLimits& limits, PoseStream* poses,
                                   const std::function<void(const LiveProgress&)>& progress);

}  // namespace rova::live
