#pragma once
// What the tracking-thread bench's parts share: the nodes measured, the options, and failing.
#include <kivo/Recording.h>
#include <rovahost/Host.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#ifndef KIVOROVA_RECORDINGS
#define KIVOROVA_RECORDINGS "data/recordings"
#endif

namespace tracking_bench {

using Clock = std::chrono::steady_clock;
using rova::host::Host;

constexpr double kTickSeconds = 1.0 / 60.0;
constexpr double kReplayRate = 120.0;

[[noreturn]] void fail(const std::string& what);
void check(const rova::host::Status& status);
void checkService(const std::string& error);

struct Node {
    std::string name;
    std::string watched;  // the output a tick evaluates, as a displayed plug would be
    std::string shown;    // the output that names the frame shown, written by that evaluation
    std::vector<long> threads;
};

struct Options {
    double seconds = 2.0;
    std::size_t frames = 1200;
    int evaluations = 2000;
    std::string recording = std::string(KIVOROVA_RECORDINGS) + "/generated/two-hands.kivo";
    std::string json;
    int idleWaitMs = -1;        // < 0: the host's default
    bool deviceReports = true;  // the device's changes reach the host, as in the rova program
};

// The shipped recording's frames, repeated and retimed to `rate`, `count` frames in all; hand 0's
// palm x is the frame's sequence number (1, 2, ...). Only frames with at least one hand are used.
Kivo::Recording taggedRecording(const std::string& path, std::size_t count, double rate);

// One latency run: a real-time replay of tagged frames at 120 fps times `speed`, both nodes live,
// the host ticking at 60 Hz from just after the replay starts.
struct LatencyRun {
    std::vector<double> tracking, gestures;        // per frame: arrival -> end of the tick, ms
    std::size_t trackingOwn = 0, gesturesOwn = 0;  // frames a tick showed themselves
    std::vector<double> tickMs;                    // tick + reading the outputs
    // Frames that arrived less than kJustAfterTickMs after a tick began: they wait for the next
    // tick, the worst case by construction.
    std::vector<double> justAfterTick;
};
constexpr double kJustAfterTickMs = 0.5;

LatencyRun measureLatency(Host& host, const Node& tracking, const Node& gestures,
                          const Options& options, double speed);

}  // namespace tracking_bench
