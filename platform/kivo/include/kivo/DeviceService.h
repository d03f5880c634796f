#pragma once

#include <kivo/Export.h>
#include <kivo/Recording.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace Kivo {

// Control of the process's one device service: which source feeds it, plugging and focus, and
// capture. The host's `device` command and tests drive it; the plug-in only sees Controllers.
//
// Sources: none (the power-on state: the device is unplugged), a replay of a recording, frames
// and events injected from code, or a live stream (frames delivered as a client sends them).
// Choosing a source stops the previous one and plugs the device in; stopping the source unplugs it.
// Gestures are recognised by the service for every source that carries none of its own.
//
// Every function may be called from any thread; calls are serialised. Functions returning a
// std::string return an empty string on success and a one-line message otherwise.

struct ReplayOptions {
    // The speeds a replay accepts.
    static constexpr double kMinSpeed = 0.001;
    static constexpr double kMaxSpeed = 1000.0;
    // The least real time one pass of a looped real-time replay takes, whatever its speed.
    static constexpr double kMinLoopPassSeconds = 0.001;

    bool realtime = false;  // false: lockstep, one frame per advance()
    double speed = 1.0;     // real time only: 2.0 plays twice as fast; kMinSpeed..kMaxSpeed
    bool loop = false;      // start over after the last entry
};

// What a live source tells the service when it starts.
struct LiveSource {
    std::string address;  // where it listens, "127.0.0.1:8765"; shown in the status
    // Called once when the live source ends (stopped, reset, or another source chosen), on the
    // thread that ended it, after the call that ended it has let go of the service: it may wait
    // for the source's own threads even while they are delivering.
    std::function<void()> onEnd;
};

// The live source's figures; every count runs from the start of listening.
struct LiveStatus {
    std::string address;
    std::string client;                // the streaming client's address; empty when none
    std::uint64_t framesReceived = 0;  // frames accepted and delivered
    double framesPerSecond = 0.0;      // of accepted frames, smoothed; 0 after 2 s without one
    std::optional<double> latencyMs;   // host clock minus capture time, smoothed; none while the
                                       // capture times are not the host's clock (a video's)
    std::uint64_t refused = 0;         // messages and connections refused
    std::string lastRefusal;           // the reason of the newest refusal
};

struct KIVO_API ServiceStatus {
    enum class Source { None, Replay, Inject, Live };
    Source source = Source::None;
    std::string replayPath;            // Replay only
    ReplayOptions replayOptions;       // Replay only
    bool replayFinished = false;       // Replay only: every entry delivered and not looping
    std::uint64_t replayPosition = 0;  // Replay only: frames of the recording delivered so far
    std::uint64_t replayFrames = 0;    // Replay only: frames in the recording
    double replayRate = 0.0;           // Replay only: the recording's nominal frames per second
    // Replay only: the recorded time (microseconds, looped passes counted on) of the last entry
    // delivered, -1 before the first.
    std::int64_t replayTime = -1;
    bool connected = false;
    bool focus = false;
    std::int64_t frameId = -1;          // newest frame's id, -1 before the first
    std::uint64_t framesDelivered = 0;  // since the process started
    std::string recordingPath;          // empty when not capturing
    LiveStatus live;                    // Live only

    // One line: "source replay FILE (lockstep, loop) 12/300, connected, focus on, frame 57,
    // 57 frames delivered, recording OUT"; a live source: "source live 127.0.0.1:8765 (client
    // 127.0.0.1:40312, 300 frames received, 29.8 frames/s, latency 41.2 ms, 1 refused, last:
    // REASON)".
    std::string describe() const;
};

class KIVO_API DeviceService {
  public:
    // Replays a recording (validated completely before anything changes). Lockstep replays
    // advance one recorded frame per advance(); real-time replays run on a thread of their own at
    // the recorded timing divided by `speed`, each looped pass taking at least
    // ReplayOptions::kMinLoopPassSeconds. A looped replay's delivered times keep increasing
    // until they reach kMaxRecordingTime, and stay there. Refuses a speed outside
    // ReplayOptions::kMinSpeed..kMaxSpeed ("replay: speed must be between ...").
    static std::string replay(const std::string& path, const ReplayOptions& options = {});
    // Replays a recording already in memory; `name` stands for its path in the status.
    static std::string replay(const Recording& recording, const std::string& name,
                              const ReplayOptions& options = {});
    // Plugs the device in or out. Plugging in with no source delivers one empty frame, so readers
    // see no hands until a source delivers.
    static void connect();
    static void disconnect();
    static void setFocus(bool focus);
    // One frame or event as a line of the recording format; makes injection the source. Returns
    // "inject: field 'palm' of hand 1: ..." on a bad line (nothing is delivered then).
    static std::string inject(std::string_view line);
    static std::string inject(const RecordEntry& entry);
    // Captures every frame and event the service delivers (with all gestures) into a recording,
    // written beside `path` and put in place by stopRecording() or stop() (see RecordingWriter).
    // It starts with what a connection sees at that moment: the newest frame, when the device is
    // plugged in and the current source delivered it (a real-time replay delivers its first frame
    // as it starts).
    // Fails at once when `path` cannot be written ("record: PATH: cannot open the file for
    // writing (REASON)"); a later write error is reported by stopRecording() or stop().
    static std::string startRecording(const std::string& path);
    // Stops the capture (the file is then complete); "" when none was running.
    static std::string stopRecording();
    // Stops the capture without putting its file in place: the path keeps what it held.
    static void discardRecording();
    // Stops the source (unplugging the device) and any capture.
    static std::string stop();
    // Why motion made no gesture, as recognition decides it: each stroke, reach or tap it
    // refused, with the figures and the setting that refused it, and the frame's timestamp
    // (microseconds). Called on the thread that recognises the frame, under the service's lock,
    // so the trace must not call the service. An empty function ends the trace; reset() ends it
    // too. For tuning the recogniser's settings on recorded motion.
    using RecognitionTrace = std::function<void(std::int64_t timestamp, std::string_view why)>;
    static void traceRecognition(RecognitionTrace trace);
    // One host tick: a lockstep replay delivers its next frame, with the events recorded before
    // it. An event recorded more than one frame period after the entry before it takes a tick of
    // its own (without a frame), so that a recorded unplug lasts at least one tick. Returns false
    // once there is nothing left to deliver, or when no lockstep replay is the source.
    static bool advance();
    // Returns once every listener callback of the events delivered so far has returned, so what a
    // listener does about an event (queue a host command, say) is done. Called on the callback
    // thread itself, it returns at once.
    static void flushEvents();
    // Waits until a real-time replay has finished or `timeoutMs` elapsed; true if finished.
    static bool waitForReplay(int timeoutMs);
    static ServiceStatus status();
    // When the service delivered the frame with this id (ServiceStatus::frameId, Frame::id()): the
    // moment it became the newest frame that controllers read, before listeners hear of it. For
    // measuring how long a frame takes to reach its readers. nullopt for an id not delivered yet
    // or older than the frame history the service keeps (Config "history.frames" frames).
    static std::optional<std::chrono::steady_clock::time_point> frameArrival(std::int64_t id);
    // Makes a live source the service's source (stopping the previous one, plugging the device
    // in and delivering an empty frame) and returns its session number for the calls below, which
    // the source makes from its own threads. They do nothing, and deliverLive returns false, once
    // that session is no longer the source.
    static std::uint64_t startLive(LiveSource source);
    // One frame as it arrives, recognised like any frame without gestures. Its timestamp counts
    // from the current client's first frame (the service places it after what it delivered
    // before); `captureMs` is its capture time on the host's clock (Unix epoch
    // milliseconds) when the client has one, for the latency; NaN otherwise.
    static bool deliverLive(std::uint64_t session, FrameRecord frame, double captureMs);
    // The streaming client's address, or "" once it has gone.
    static void liveClient(std::uint64_t session, const std::string& client);
    // A message or connection refused, with the reason.
    static void liveRefused(std::uint64_t session, const std::string& reason);
    // Waits until the live source has received `frames` frames since it started, or `timeoutMs`
    // elapsed, or no live source is running; true when they were received.
    static bool awaitLiveFrames(std::uint64_t frames, int timeoutMs);
    // Back to the power-on state (no source, unplugged, focus on, default configuration, no
    // capture). Frame ids keep increasing. For tests and the host's start-up.
    static void reset();
};

}  // namespace Kivo
