// Sources of the device service: lockstep and real-time replay, capture, injection, status.
#include "KivoTestSupport.h"

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

namespace {

using kivo_test::dataPath;
using kivo_test::EventLog;
using kivo_test::replayLockstep;
using kivo_test::ServiceTest;

std::string tempPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            ("kivo-replay-" + std::to_string(::getpid()) + "-" + name))
        .string();
}

using LockstepReplay = ServiceTest;

TEST_F(LockstepReplay, GeneratedAndRealSessionsReplayIdenticallyTwice) {
    for (const auto& path :
         {dataPath("generated/circle.kivo"), dataPath("real/asl-fingerspelling.kivo")}) {
        Kivo::Recording rec;
        std::string error;
        ASSERT_TRUE(Kivo::readRecording(path, rec, error)) << error;
        const auto first = replayLockstep(path);
        const auto second = replayLockstep(path);
        ASSERT_EQ(first.size(), rec.frameCount()) << path;
        EXPECT_TRUE(first == second) << path;
        // What the connection sees is what the file holds.
        const auto& recorded = std::get<Kivo::FrameRecord>(rec.entries[10]);
        EXPECT_EQ(first[10].hands, recorded.hands);
        EXPECT_EQ(first[10].pointables, recorded.pointables);
    }
}

TEST_F(LockstepReplay, OneFramePerTickWithStatusAndEnd) {
    Kivo::Controller controller;
    const auto path = dataPath("generated/swipe.kivo");
    ASSERT_EQ(Kivo::DeviceService::replay(path), "");
    auto status = Kivo::DeviceService::status();
    EXPECT_EQ(status.source, Kivo::ServiceStatus::Source::Replay);
    EXPECT_EQ(status.replayPath, path);
    EXPECT_TRUE(status.connected) << "choosing a source plugs the device in";
    EXPECT_EQ(status.replayFrames, 90u);
    const auto before = status.framesDelivered;
    ASSERT_TRUE(Kivo::DeviceService::advance());
    const auto id = controller.frame(0).id();
    ASSERT_TRUE(Kivo::DeviceService::advance());
    EXPECT_EQ(controller.frame(0).id(), id + 1);
    int ticks = 2;
    while (Kivo::DeviceService::advance()) {
        ++ticks;
    }
    EXPECT_EQ(ticks, 90);
    status = Kivo::DeviceService::status();
    EXPECT_TRUE(status.replayFinished);
    EXPECT_EQ(status.replayPosition, 90u);
    EXPECT_EQ(status.framesDelivered, before + 90);
    EXPECT_EQ(status.frameId, controller.frame(0).id());
    EXPECT_NE(status.describe().find("lockstep"), std::string::npos) << status.describe();
    Kivo::DeviceService::stop();
    EXPECT_EQ(Kivo::DeviceService::status().source, Kivo::ServiceStatus::Source::None);
    EXPECT_FALSE(controller.isConnected());
}

// Unplugged midway, the device delivers nothing while the replay goes on; plugged in again, it
// delivers the frames due from then on.
TEST_F(LockstepReplay, AnUnpluggedDeviceDeliversNoFramesWhileTheReplayGoesOn) {
    Kivo::Controller controller;
    ASSERT_EQ(Kivo::DeviceService::replay(dataPath("generated/swipe.kivo")), "");
    const auto before = Kivo::DeviceService::status().framesDelivered;
    for (int k = 0; k < 10; ++k) ASSERT_TRUE(Kivo::DeviceService::advance());
    const auto shown = controller.frame(0).id();
    Kivo::DeviceService::disconnect();
    for (int k = 0; k < 20; ++k) ASSERT_TRUE(Kivo::DeviceService::advance());
    auto status = Kivo::DeviceService::status();
    EXPECT_EQ(status.framesDelivered, before + 10);
    EXPECT_EQ(status.replayPosition, 30u);
    EXPECT_EQ(status.frameId, shown);
    Kivo::DeviceService::connect();
    ASSERT_TRUE(Kivo::DeviceService::advance());
    status = Kivo::DeviceService::status();
    EXPECT_EQ(status.replayPosition, 31u);
    EXPECT_GT(controller.frame(0).id(), shown);
    EXPECT_FALSE(controller.frame(0).hands().isEmpty())
        << "frame 31 of the swipe, not an empty one";
    Kivo::DeviceService::stop();
}

TEST_F(LockstepReplay, LoopsKeepIdsAndTimeIncreasing) {
    Kivo::Controller controller;
    Kivo::ReplayOptions options;
    options.loop = true;
    ASSERT_EQ(Kivo::DeviceService::replay(dataPath("generated/key-tap.kivo"), options), "");
    std::int64_t lastTime = -1;
    for (int i = 0; i < 84 * 2 + 5; ++i) {
        ASSERT_TRUE(Kivo::DeviceService::advance());
        const auto t = controller.frame(0).timestamp();
        EXPECT_GT(t, lastTime);
        lastTime = t;
    }
    EXPECT_FALSE(Kivo::DeviceService::status().replayFinished);
}

TEST_F(LockstepReplay, RecordedEventsReachListenersAtTheirTick) {
    Kivo::Controller controller;
    EventLog log;
    controller.addListener(log);
    ASSERT_EQ(Kivo::DeviceService::replay(dataPath("generated/unplug-replug.kivo")), "");
    int unpluggedTicks = 0;
    while (Kivo::DeviceService::advance()) {
        unpluggedTicks += controller.isConnected() ? 0 : 1;
    }
    EXPECT_EQ(unpluggedTicks, 1) << "the tick that delivers the last frame before unplugging";
    Kivo::DeviceService::stop();
    ASSERT_TRUE(log.waitForEvent("disconnect", 2));
    controller.removeListener(log);
    auto events = log.events();
    events.erase(std::remove(events.begin(), events.end(), "frame"), events.end());
    EXPECT_EQ(events, (std::vector<std::string>{"init", "connect", "disconnect", "connect",
                                                "disconnect", "exit"}));
}

TEST_F(LockstepReplay, ABadRecordingChangesNothing) {
    ASSERT_EQ(Kivo::DeviceService::replay(dataPath("generated/swipe.kivo")), "");
    const auto path = tempPath("bad.kivo");
    std::ofstream(path) << "kivo-recording version=9 rate=60 length=mm time=us gestures=none\n";
    const auto error = Kivo::DeviceService::replay(path);
    EXPECT_EQ(error, "replay: " + path +
                         ":1: field 'version' of header: version 9 is not supported (this reader "
                         "reads version 1)");
    EXPECT_EQ(Kivo::DeviceService::status().replayPath, dataPath("generated/swipe.kivo"));
    ASSERT_NE(Kivo::DeviceService::replay(dataPath("generated/swipe.kivo"), {false, 0.0, false}),
              "");
    std::filesystem::remove(path);
}

// Two frames, the second at the largest time a recording can hold.
Kivo::Recording farApart() {
    Kivo::Recording rec;
    Kivo::FrameRecord frame;
    frame.id = 1;
    frame.hands.push_back({1, {0, 200, 0}, {0, -1, 0}, {0, 0, -1}});
    rec.entries.push_back(frame);
    frame.id = 2;
    frame.timestamp = Kivo::kMaxRecordingTime;
    rec.entries.push_back(frame);
    return rec;
}

TEST_F(LockstepReplay, ALoopReachingTheLargestTimeStaysThereAndCapturesReadBack) {
    const auto capture = tempPath("far-loop.kivo");
    ASSERT_EQ(Kivo::DeviceService::startRecording(capture), "");
    Kivo::Controller controller;
    Kivo::ReplayOptions options;
    options.loop = true;
    ASSERT_EQ(Kivo::DeviceService::replay(farApart(), "far", options), "");
    std::vector<std::int64_t> times;
    for (int i = 0; i < 7; ++i) {
        ASSERT_TRUE(Kivo::DeviceService::advance());
        times.push_back(controller.frame(0).timestamp());
    }
    ASSERT_EQ(Kivo::DeviceService::stop(), "");
    const auto max = Kivo::kMaxRecordingTime;
    EXPECT_EQ(times, (std::vector<std::int64_t>{0, max, max, max, max, max, max}));
    Kivo::Recording rec;
    std::string error;
    ASSERT_TRUE(Kivo::readRecording(capture, rec, error)) << error;
    EXPECT_EQ(rec.frameCount(), 7u);
    std::filesystem::remove(capture);
}

// Far-off times and slow speeds put an entry decades ahead; it must stay there.
TEST(RealTimeReplay, AnEntryDueInDecadesIsNotDeliveredEarly) {
    for (const double speed : {0.005, Kivo::ReplayOptions::kMinSpeed}) {
        SCOPED_TRACE(speed);
        Kivo::DeviceService::reset();
        Kivo::Controller controller;
        EventLog log;
        controller.addListener(log);
        Kivo::ReplayOptions options;
        options.realtime = true;
        options.speed = speed;
        options.loop = true;
        ASSERT_EQ(Kivo::DeviceService::replay(farApart(), "far", options), "");
        ASSERT_TRUE(log.waitForEvent("frame"));
        EXPECT_FALSE(Kivo::DeviceService::waitForReplay(100));
        EXPECT_EQ(Kivo::DeviceService::status().replayPosition, 1u);
        Kivo::DeviceService::stop();
        controller.removeListener(log);
    }
    Kivo::DeviceService::reset();
}

TEST(ReplayOptions, SpeedAndRateStayInTheirRanges) {
    Kivo::DeviceService::reset();
    const auto path = dataPath("generated/swipe.kivo");
    const auto withSpeed = [&](double speed) {
        return Kivo::DeviceService::replay(path, {true, speed, false});
    };
    for (const auto& [speed, text] : std::vector<std::pair<double, std::string>>{
             {1e-15, "1e-15"},
             {1e-12, "1e-12"},
             {0.0, "0"},
             {-1.0, "-1"},
             {1000.5, "1000.5"},
             {std::numeric_limits<double>::infinity(), "inf"},
             {std::numeric_limits<double>::quiet_NaN(), "nan"}}) {
        EXPECT_EQ(withSpeed(speed), "replay: speed must be between 0.001 and 1000, got " + text);
    }
    EXPECT_EQ(Kivo::DeviceService::status().source, Kivo::ServiceStatus::Source::None);
    EXPECT_EQ(withSpeed(0.001), "");
    EXPECT_EQ(withSpeed(1000), "");

    // Recordings made in code are held to what the reader checks.
    auto rec = farApart();
    rec.header.rate = 1e-300;
    EXPECT_EQ(Kivo::DeviceService::replay(rec, "slow", {false, 1.0, true}),
              "replay: slow: rate must be between 1 and 10000 frames per second, got 1e-300");
    rec.header.rate = 60;
    std::get<Kivo::FrameRecord>(rec.entries[1]).timestamp = -4;
    EXPECT_EQ(Kivo::DeviceService::replay(rec, "back", {false, 1.0, true}),
              "replay: back: entry 2: time -4 is out of order or not between 0 and "
              "1000000000000000");
    EXPECT_EQ(Kivo::DeviceService::status().replayPath, path);
    Kivo::DeviceService::reset();
}

// The replay's clock starts after replay() is called, so no frame may arrive before its recorded
// time (from the first frame seen) divided by the speed has passed since the call. How close to
// that time frames arrive is measured by the benches, not here.
TEST(RealTimeReplay, DeliversNoFrameBeforeItsRecordedTime) {
    using Clock = std::chrono::steady_clock;
    struct Seen {
        std::int64_t id, timestamp;
    };
    struct Collector : Kivo::Listener {
        std::mutex mutex;
        std::condition_variable added;
        std::vector<Seen> frames;
        void handleFrame(const Kivo::Controller& c) override {
            const auto frame = c.frame(0);
            {
                std::lock_guard lock(mutex);
                frames.push_back({frame.id(), frame.timestamp()});
            }
            added.notify_all();
        }
    } collector;
    Kivo::DeviceService::reset();
    Kivo::Controller controller;
    controller.addListener(collector);
    Kivo::ReplayOptions options;
    options.realtime = true;
    options.speed = 2.0;
    const auto start = Clock::now();
    ASSERT_EQ(Kivo::DeviceService::replay(dataPath("real/asl-fingerspelling.kivo"), options), "");
    constexpr std::size_t kFrames = 8;  // fewer than the history keeps
    std::vector<Seen> frames;
    {
        std::unique_lock lock(collector.mutex);
        ASSERT_TRUE(collector.added.wait_for(lock, std::chrono::seconds(20),
                                             [&] { return collector.frames.size() >= kFrames; }));
        frames = collector.frames;
    }
    for (const Seen& seen : frames) {
        const auto arrival = Kivo::DeviceService::frameArrival(seen.id);
        ASSERT_TRUE(arrival.has_value()) << "frame " << seen.id;
        const double due =
            static_cast<double>(seen.timestamp - frames.front().timestamp) / 1e6 / options.speed;
        EXPECT_GE(std::chrono::duration<double>(*arrival - start).count(), due)
            << "frame " << seen.id << " arrived early";
    }
    EXPECT_GT(frames.back().timestamp, frames.front().timestamp);
    Kivo::DeviceService::stop();
    controller.removeListener(collector);
    EXPECT_FALSE(controller.isConnected());
}

TEST(RealTimeReplay, FinishesAndCanBeStoppedEarly) {
    Kivo::DeviceService::reset();
    Kivo::ReplayOptions options;
    options.realtime = true;
    options.speed = 50.0;
    ASSERT_EQ(Kivo::DeviceService::replay(dataPath("generated/swipe.kivo"), options), "");
    EXPECT_FALSE(Kivo::DeviceService::advance()) << "ticks do not drive a real-time replay";
    ASSERT_TRUE(Kivo::DeviceService::waitForReplay(5000));
    EXPECT_EQ(Kivo::DeviceService::status().replayPosition, 90u);
    options.speed = 1.0;
    ASSERT_EQ(Kivo::DeviceService::replay(dataPath("real/asl-fingerspelling.kivo"), options), "");
    Kivo::DeviceService::stop();
    Kivo::DeviceService::reset();
}

// A loop of one frame at the highest rate and speed is due every 0.1 microseconds: each pass takes
// the least pass time instead, and callers get the service's lock between the thread's entries.
TEST(RealTimeReplay, ALoopOfOneFrameAtTopSpeedIsPacedAndLetsCallersIn) {
    Kivo::DeviceService::reset();
    Kivo::Recording rec;
    rec.header.rate = Kivo::kMaxRecordingRate;
    rec.entries.push_back(std::get<Kivo::FrameRecord>(farApart().entries[0]));
    Kivo::ReplayOptions options;
    options.realtime = true;
    options.loop = true;
    options.speed = Kivo::ReplayOptions::kMaxSpeed;
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    ASSERT_EQ(Kivo::DeviceService::replay(rec, "fast", options), "");
    std::uint64_t delivered = 0;
    for (int k = 0; k < 200; ++k) {
        delivered = Kivo::DeviceService::status().replayPosition;
    }
    const double passes = std::chrono::duration<double>(Clock::now() - start).count() /
                          Kivo::ReplayOptions::kMinLoopPassSeconds;
    // Pass n is not due before n least pass times have gone by.
    EXPECT_LE(static_cast<double>(delivered), passes + 1.0);
    EXPECT_EQ(Kivo::DeviceService::stop(), "");
    Kivo::DeviceService::reset();
}

using Capture = ServiceTest;

TEST_F(Capture, RecordsWhatAConnectionSeesAndReplaysIdentically) {
    const auto capture = tempPath("capture.kivo");
    ASSERT_EQ(Kivo::DeviceService::startRecording(capture), "");
    EXPECT_EQ(Kivo::DeviceService::status().recordingPath, capture);
    EXPECT_NE(Kivo::DeviceService::startRecording(capture), "") << "one capture at a time";
    const auto seen = replayLockstep(dataPath("generated/swipe.kivo"));  // stop() ends capture
    EXPECT_EQ(Kivo::DeviceService::status().recordingPath, "");
    Kivo::Recording rec;
    std::string error;
    ASSERT_TRUE(Kivo::readRecording(capture, rec, error)) << error;
    EXPECT_TRUE(rec.header.gesturesRecorded);
    const auto again = replayLockstep(capture);
    EXPECT_TRUE(seen == again);
    EXPECT_FALSE(kivo_test::gesturesOf(again).empty()) << "the swipe was captured";
    std::filesystem::remove(capture);
    EXPECT_EQ(Kivo::DeviceService::startRecording("/nonexistent/dir/x.kivo"),
              "record: /nonexistent/dir/x.kivo: cannot open the file for writing (No such file "
              "or directory)");
    EXPECT_EQ(Kivo::DeviceService::startRecording("/dev/full"),
              "record: /dev/full: cannot open the file for writing (not a regular file)");
    EXPECT_EQ(Kivo::DeviceService::status().recordingPath, "");
}

// Tells when a frame has been delivered, without polling.
class FrameSignal : public Kivo::Listener {
  public:
    void handleFrame(const Kivo::Controller&) override {
        {
            std::lock_guard lock(m_mutex);
            ++m_frames;
        }
        m_cv.notify_all();
    }
    bool waitForFrame() {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::seconds(20), [&] { return m_frames > 0; });
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    int m_frames = 0;
};

// A real-time replay delivers its first frame as it starts, usually before a capture begun right
// after it: the capture starts with the frame a connection sees then, so nothing of the replay is
// lost. Frames delivered by an earlier source are not the capture's.
TEST_F(Capture, StartsWithTheNewestFrameOfTheCurrentSource) {
    const auto capture = tempPath("started-late.kivo");
    Kivo::Controller controller;
    FrameSignal signal;
    controller.addListener(signal);
    Kivo::ReplayOptions options;
    options.realtime = true;
    ASSERT_EQ(Kivo::DeviceService::replay(farApart(), "far", options), "");
    ASSERT_TRUE(signal.waitForFrame());
    ASSERT_EQ(Kivo::DeviceService::startRecording(capture), "");
    ASSERT_EQ(Kivo::DeviceService::stop(), "");
    controller.removeListener(signal);
    Kivo::Recording rec;
    std::string error;
    ASSERT_TRUE(Kivo::readRecording(capture, rec, error)) << error;
    ASSERT_EQ(rec.frameCount(), 1u);
    EXPECT_EQ(std::get<Kivo::FrameRecord>(rec.entries[0]).hands,
              std::get<Kivo::FrameRecord>(farApart().entries[0]).hands);

    // Injection replaces the replay: the replay's frame is not carried into a new capture.
    ASSERT_EQ(Kivo::DeviceService::inject("event connect t=0"), "");
    ASSERT_EQ(Kivo::DeviceService::startRecording(capture), "");
    ASSERT_EQ(Kivo::DeviceService::stopRecording(), "");
    ASSERT_TRUE(Kivo::readRecording(capture, rec, error)) << error;
    EXPECT_EQ(rec.frameCount(), 0u);
    std::filesystem::remove(capture);
}

using Injection = ServiceTest;

TEST_F(Injection, ABadLineIsRefusedAndDeliversNothing) {
    const auto before = Kivo::DeviceService::status();
    EXPECT_EQ(Kivo::DeviceService::inject("frame 1 t=0; hand 1 palm=0,0,0 normal=0,1"),
              "inject: field 'normal' of hand 1: expected three numbers 'x,y,z', got '0,1'");
    EXPECT_EQ(Kivo::DeviceService::inject("event explode t=0"),
              "inject: field 'kind' of event: expected one of connect, disconnect, focus-gained, "
              "focus-lost, got 'explode'");
    const auto after = Kivo::DeviceService::status();
    EXPECT_EQ(after.framesDelivered, before.framesDelivered);
    EXPECT_EQ(after.source, Kivo::ServiceStatus::Source::None);
}

TEST_F(Injection, ReplacesAReplayAsTheSource) {
    Kivo::Controller controller;
    ASSERT_EQ(Kivo::DeviceService::replay(dataPath("generated/swipe.kivo")), "");
    ASSERT_EQ(
        Kivo::DeviceService::inject("frame 1 t=0; hand 3 palm=1,2,3 normal=0,-1,0 dir=0,0,-1"), "");
    EXPECT_EQ(Kivo::DeviceService::status().source, Kivo::ServiceStatus::Source::Inject);
    EXPECT_FALSE(Kivo::DeviceService::advance());
    EXPECT_EQ(controller.frame(0).hands()[0].id(), 3);
    EXPECT_NE(Kivo::DeviceService::status().describe().find("source inject, connected"),
              std::string::npos);
}

TEST_F(Injection, EachDeliveredFrameKeepsItsArrivalTimeWhileTheHistoryHoldsIt) {
    using Clock = std::chrono::steady_clock;
    Kivo::Controller controller;
    // -1 before the process's first frame.
    const std::int64_t before = Kivo::DeviceService::status().frameId;
    EXPECT_FALSE(Kivo::DeviceService::frameArrival(before + 1).has_value()) << "not delivered yet";
    struct Delivery {
        std::int64_t id;
        Clock::time_point from, to;  // around the call that delivered it
    };
    std::vector<Delivery> deliveries;
    constexpr int kFrames = 130;  // more than the history keeps
    for (int k = 0; k < kFrames; ++k) {
        const auto from = Clock::now();
        ASSERT_EQ(Kivo::DeviceService::inject("frame 1 t=" + std::to_string(k * 1000) +
                                              "; hand 3 palm=1,2,3 normal=0,-1,0 dir=0,0,-1"),
                  "");
        const auto to = Clock::now();
        deliveries.push_back({Kivo::DeviceService::status().frameId, from, to});
    }
    const std::int64_t newest = deliveries.back().id;
    EXPECT_EQ(newest, deliveries.front().id + kFrames - 1) << "ids are consecutive";
    EXPECT_EQ(controller.frame(0).id(), newest);
    const std::int64_t kept = controller.config().getInt32("history.frames");
    ASSERT_GT(kept, 1);
    ASSERT_LT(kept, kFrames);
    std::optional<Clock::time_point> previous;
    for (const Delivery& delivery : deliveries) {
        const auto arrival = Kivo::DeviceService::frameArrival(delivery.id);
        if (delivery.id <= newest - kept) {
            EXPECT_FALSE(arrival.has_value()) << "frame " << delivery.id << " left the history";
            continue;
        }
        ASSERT_TRUE(arrival.has_value()) << "frame " << delivery.id;
        EXPECT_GE(*arrival, delivery.from) << "frame " << delivery.id;
        EXPECT_LE(*arrival, delivery.to) << "frame " << delivery.id;
        if (previous) {
            EXPECT_GE(*arrival, *previous);
        }
        previous = arrival;
    }
    EXPECT_FALSE(Kivo::DeviceService::frameArrival(newest + 1).has_value());
    EXPECT_FALSE(Kivo::DeviceService::frameArrival(-1).has_value());
}

}  // namespace
