#pragma once

// Helpers shared by the device tests: an event-logging listener, waiting, and reading frames
// back through the public API.
#include <kivo/Controller.h>
#include <kivo/DeviceService.h>
#include <kivo/Kivo.h>
#include <kivo/Recording.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kivo_test {

inline std::string dataPath(const std::string& relative) {
    return std::string(KIVO_TEST_DATA) + "/" + relative;
}

// Logs every callback with the thread it ran on. The waits return as soon as the awaited
// callback has run; their bound (20 s) only turns a missing callback into a failure.
class EventLog : public Kivo::Listener {
  public:
    void handleInit(const Kivo::Controller&) override { add("init"); }
    void handleConnect(const Kivo::Controller&) override { add("connect"); }
    void handleDisconnect(const Kivo::Controller&) override { add("disconnect"); }
    void handleExit(const Kivo::Controller&) override { add("exit"); }
    void handleFrame(const Kivo::Controller&) override { add("frame"); }
    void handleFocusGained(const Kivo::Controller&) override { add("focus-gained"); }
    void handleFocusLost(const Kivo::Controller&) override { add("focus-lost"); }

    std::vector<std::string> events() const {
        std::lock_guard lock(m_mutex);
        return m_events;
    }
    std::vector<std::thread::id> threads() const {
        std::lock_guard lock(m_mutex);
        return m_threads;
    }
    // Waits until `count` callbacks in all have run.
    bool waitFor(std::size_t count) const {
        return waitUntil([&] { return m_events.size() >= count; });
    }
    // Waits until `name` has been called `times` times.
    bool waitForEvent(const std::string& name, std::ptrdiff_t times = 1) const {
        return waitUntil(
            [&] { return std::count(m_events.begin(), m_events.end(), name) >= times; });
    }

  private:
    void add(const std::string& name) {
        {
            std::lock_guard lock(m_mutex);
            m_events.push_back(name);
            m_threads.push_back(std::this_thread::get_id());
        }
        m_added.notify_all();
    }
    template <typename Done>
    bool waitUntil(Done done) const {
        std::unique_lock lock(m_mutex);
        return m_added.wait_for(lock, std::chrono::seconds(20), done);
    }
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_added;
    std::vector<std::string> m_events;
    std::vector<std::thread::id> m_threads;
};

// A frame read back through the SDK's API, with the service's id cleared so that two replays
// can be compared.
inline Kivo::FrameRecord snapshot(const Kivo::Frame& frame) {
    Kivo::FrameRecord r;
    r.timestamp = frame.timestamp();
    for (int i = 0; i < frame.hands().count(); ++i) {
        const auto h = frame.hands()[i];
        r.hands.push_back({h.id(), h.palmPosition(), h.palmNormal(), h.direction()});
    }
    for (int i = 0; i < frame.pointables().count(); ++i) {
        const auto p = frame.pointables()[i];
        r.pointables.push_back({p.id(), p.handId(), p.tipPosition(), p.direction()});
    }
    for (int i = 0; i < frame.gestures().count(); ++i) {
        const auto g = frame.gestures()[i];
        Kivo::GestureRecord gr;
        gr.id = g.id();
        gr.type = g.type();
        gr.state = g.state();
        gr.duration = g.duration();
        gr.handId = g.handId();
        gr.pointableId = g.pointableId();
        const Kivo::SwipeGesture swipe(g);
        const Kivo::CircleGesture circle(g);
        const Kivo::ScreenTapGesture screenTap(g);
        const Kivo::KeyTapGesture keyTap(g);
        gr.startPosition = swipe.startPosition();
        gr.position = swipe.position() + screenTap.position() + keyTap.position();
        gr.direction = swipe.direction() + screenTap.direction() + keyTap.direction();
        gr.speed = swipe.speed();
        gr.center = circle.center();
        gr.normal = circle.normal();
        gr.radius = circle.radius();
        gr.progress = circle.progress();
        r.gestures.push_back(gr);
    }
    return r;
}

// Replays a recording in lockstep and returns every frame a connection with all gestures
// enabled sees.
inline std::vector<Kivo::FrameRecord> replayLockstep(const std::string& path) {
    Kivo::Controller controller;
    for (int type : {1, 4, 5, 6}) {
        controller.enableGesture(type);
    }
    std::vector<Kivo::FrameRecord> frames;
    const std::string error = Kivo::DeviceService::replay(path);
    EXPECT_EQ(error, "");
    std::int64_t last = controller.frame(0).id();
    while (Kivo::DeviceService::advance()) {
        const auto frame = controller.frame(0);
        if (frame.id() != last) {  // a tick may carry only an event
            frames.push_back(snapshot(frame));
            last = frame.id();
        }
    }
    Kivo::DeviceService::stop();
    return frames;
}

// Every gesture update in `frames`, in order.
inline std::vector<Kivo::GestureRecord> gesturesOf(const std::vector<Kivo::FrameRecord>& frames) {
    std::vector<Kivo::GestureRecord> out;
    for (const auto& f : frames) {
        out.insert(out.end(), f.gestures.begin(), f.gestures.end());
    }
    return out;
}

// Puts the process's device service back to its power-on state around each test.
class ServiceTest : public ::testing::Test {
  protected:
    void SetUp() override { Kivo::DeviceService::reset(); }
    void TearDown() override { Kivo::DeviceService::reset(); }
};

}  // namespace kivo_test
