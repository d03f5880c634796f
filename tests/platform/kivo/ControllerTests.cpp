// Connections, listeners and frames as the plug-in sees them.
#include "KivoTestSupport.h"

#include <atomic>
#include <future>
#include <stdexcept>

namespace {

using kivo_test::EventLog;
using kivo_test::ServiceTest;

const std::string kHandFrame =
    "frame 1 t=1000; hand 7 palm=0,200,0 normal=0,-1,0 dir=0,0,-1; hand 8 palm=100,200,0 "
    "normal=0,-1,0 dir=0,0,-1; pointable 71 hand=7 tip=0,200,-80 dir=0,0,-1; pointable 81 hand=8 "
    "tip=100,200,-80 dir=0,0,-1; pointable 72 hand=7 tip=20,200,-70 dir=0,0,-1; pointable 90 "
    "hand=0 tip=5,5,5 dir=1,0,0";

std::string gestureFrame(int t, const std::string& type, int id, const std::string& state) {
    std::string extra = type == "circle"  ? " center=0,0,0 normal=0,0,1 radius=30 progress=1"
                        : type == "swipe" ? " start=0,0,0 position=1,0,0 direction=1,0,0 speed=900"
                                          : " position=0,0,0 direction=0,-1,0";
    return "frame 1 t=" + std::to_string(t) + "; gesture " + std::to_string(id) + " type=" + type +
           " state=" + state + " duration=" + std::to_string(t) + " hand=0 pointable=0" + extra;
}

using ListenerCallbacks = ServiceTest;

TEST_F(ListenerCallbacks, ArriveOnTheLibraryThreadInTheOrderOfEvents) {
    Kivo::Controller controller;
    EventLog log;
    ASSERT_TRUE(controller.addListener(log));
    ASSERT_TRUE(log.waitFor(1));
    Kivo::DeviceService::connect();  // plugs in and delivers one empty frame
    ASSERT_TRUE(log.waitFor(3));
    Kivo::DeviceService::setFocus(false);
    Kivo::DeviceService::setFocus(true);
    Kivo::DeviceService::disconnect();
    ASSERT_TRUE(log.waitFor(6));
    ASSERT_TRUE(controller.removeListener(log));
    EXPECT_EQ(log.events(), (std::vector<std::string>{"init", "connect", "frame", "focus-lost",
                                                      "focus-gained", "disconnect", "exit"}));
    for (const auto& id : log.threads()) {
        EXPECT_NE(id, std::this_thread::get_id());
        EXPECT_EQ(id, log.threads().front()) << "every callback runs on the one SDK thread";
    }
}

TEST_F(ListenerCallbacks, AddingToAPluggedDeviceSendsInitThenConnect) {
    Kivo::DeviceService::connect();
    Kivo::Controller controller;
    EventLog log;
    EXPECT_TRUE(controller.addListener(log));
    EXPECT_FALSE(controller.addListener(log)) << "already added";
    ASSERT_TRUE(log.waitFor(2));
    EXPECT_TRUE(controller.removeListener(log));
    EXPECT_FALSE(controller.removeListener(log)) << "no longer added";
    EXPECT_EQ(log.events(), (std::vector<std::string>{"init", "connect", "exit"}));
}

// The callback is held until removeListener is being called on another thread; however the two
// threads go on from there, removeListener returns only after the callback and the exit ran.
TEST_F(ListenerCallbacks, RemoveListenerWaitsForTheRunningCallback) {
    struct Blocking : Kivo::Listener {
        std::promise<void> entered;
        std::shared_future<void> release;
        std::atomic<bool> first{true};
        std::mutex mutex;
        std::vector<std::string> order;
        void note(const std::string& what) {
            std::lock_guard lock(mutex);
            order.push_back(what);
        }
        void handleFrame(const Kivo::Controller&) override {
            if (first.exchange(false)) {
                entered.set_value();
                release.wait();
                note("callback returned");
            }
        }
        void handleExit(const Kivo::Controller&) override { note("exit"); }
    } listener;
    std::promise<void> release;
    listener.release = release.get_future().share();
    auto entered = listener.entered.get_future();
    Kivo::Controller controller;
    controller.addListener(listener);
    ASSERT_EQ(Kivo::DeviceService::inject(kHandFrame), "");
    entered.wait();
    std::thread remover([&] {
        release.set_value();
        controller.removeListener(listener);
        listener.note("removed");
    });
    remover.join();
    EXPECT_EQ(listener.order, (std::vector<std::string>{"callback returned", "exit", "removed"}));
}

TEST_F(ListenerCallbacks, MayCallTheControllerAndRemoveListenersFromInside) {
    EventLog other;
    EventLog added;
    struct Meddler : Kivo::Listener {
        EventLog* other = nullptr;
        EventLog* added = nullptr;
        std::atomic<int> frames{0};
        std::atomic<bool> sawConnected{false};
        void handleFrame(const Kivo::Controller& c) override {
            sawConnected = c.isConnected() && c.frame(0).isValid() &&
                           c.config().type("recognizer.enabled") == Kivo::Config::Bool;
            if (frames++ == 0) {
                c.removeListener(*other);
                c.addListener(*added);
                c.removeListener(*this);
            }
        }
    } meddler;
    meddler.other = &other;
    meddler.added = &added;
    Kivo::Controller controller;
    controller.addListener(other);
    controller.addListener(meddler);
    ASSERT_EQ(Kivo::DeviceService::inject(kHandFrame), "");
    ASSERT_TRUE(other.waitForEvent("exit"));
    ASSERT_TRUE(added.waitForEvent("connect"));
    EXPECT_TRUE(meddler.sawConnected);
    EXPECT_FALSE(controller.removeListener(meddler)) << "it removed itself";
    EXPECT_FALSE(controller.removeListener(other));
    EXPECT_TRUE(controller.removeListener(added));
    EXPECT_EQ(meddler.frames, 1);
}

TEST_F(ListenerCallbacks, AThrowingCallbackDoesNotStopDelivery) {
    struct Thrower : Kivo::Listener {
        void handleFrame(const Kivo::Controller&) override { throw std::runtime_error("boom"); }
    } thrower;
    EventLog log;
    Kivo::Controller controller;
    controller.addListener(thrower);
    controller.addListener(log);
    ASSERT_EQ(Kivo::DeviceService::inject(kHandFrame), "");
    EXPECT_TRUE(log.waitForEvent("frame"));
    controller.removeListener(thrower);
    controller.removeListener(log);
}

TEST_F(ListenerCallbacks, ClosingTheLastHandleEndsDelivery) {
    auto log = std::make_unique<EventLog>();
    {
        Kivo::Controller controller;
        const Kivo::Controller copy = controller;
        EXPECT_TRUE(copy == controller);
        EXPECT_FALSE(copy == Kivo::Controller());
        copy.addListener(*log);
        ASSERT_TRUE(log->waitFor(1));
    }
    const auto before = log->events().size();
    ASSERT_EQ(Kivo::DeviceService::inject(kHandFrame), "");
    Kivo::DeviceService::setFocus(false);
    // A fresh listener on another connection sees those events; the closed one does not.
    EventLog witness;
    Kivo::Controller other;
    other.addListener(witness);
    Kivo::DeviceService::setFocus(true);
    ASSERT_TRUE(witness.waitForEvent("focus-gained"));
    other.removeListener(witness);
    EXPECT_EQ(log->events().size(), before);
    log.reset();
}

using ConnectionState = ServiceTest;

TEST_F(ConnectionState, IsCurrentAsSoonAsTheChangeReturns) {
    Kivo::Controller a;
    Kivo::Controller b;
    EXPECT_FALSE(a.isConnected()) << "no source: unplugged";
    EXPECT_TRUE(a.hasFocus());
    Kivo::DeviceService::connect();
    EXPECT_TRUE(a.isConnected());
    EXPECT_TRUE(b.isConnected());
    Kivo::DeviceService::setFocus(false);
    EXPECT_FALSE(b.hasFocus());
    ASSERT_EQ(Kivo::DeviceService::inject("event disconnect t=0"), "");
    EXPECT_FALSE(a.isConnected());
    ASSERT_EQ(Kivo::DeviceService::inject("event focus-gained t=0"), "");
    EXPECT_TRUE(a.hasFocus());
    Kivo::DeviceService::stop();
    EXPECT_FALSE(a.isConnected());
}

TEST_F(ConnectionState, PluggingInWithNoSourceShowsNoHands) {
    ASSERT_EQ(Kivo::DeviceService::inject(kHandFrame), "");
    Kivo::DeviceService::stop();
    Kivo::Controller controller;
    Kivo::DeviceService::connect();
    const auto frame = controller.frame(0);
    ASSERT_TRUE(frame.isValid());
    EXPECT_EQ(frame.hands().count(), 0);
    EXPECT_EQ(Kivo::DeviceService::status().source, Kivo::ServiceStatus::Source::None);
}

using Frames = ServiceTest;

TEST_F(Frames, HistoryIsBoundedAndIdsIncrease) {
    Kivo::Controller controller;
    const auto before = controller.frame(0);
    for (int i = 0; i < 130; ++i) {
        ASSERT_EQ(Kivo::DeviceService::inject(kHandFrame), "");
    }
    const auto newest = controller.frame(0);
    EXPECT_EQ(newest.id(), (before.isValid() ? before.id() : 0) + 130);
    EXPECT_EQ(controller.frame(1).id(), newest.id() - 1);
    const int size = controller.config().getInt32("history.frames");
    EXPECT_EQ(size, 120);
    EXPECT_TRUE(controller.frame(size - 1).isValid());
    EXPECT_FALSE(controller.frame(size).isValid());
    EXPECT_FALSE(controller.frame(-1).isValid());
    EXPECT_TRUE(newest == controller.frame(0));
    EXPECT_FALSE(newest == controller.frame(1));
    EXPECT_FALSE(Kivo::Frame() == Kivo::Frame()) << "invalid frames equal nothing";
    EXPECT_EQ(Kivo::Frame().id(), -1);
}

TEST_F(Frames, HandsOwnTheirPointables) {
    Kivo::Controller controller;
    ASSERT_EQ(Kivo::DeviceService::inject(kHandFrame), "");
    const auto frame = controller.frame(0);
    ASSERT_EQ(frame.hands().count(), 2);
    EXPECT_EQ(frame.pointables().count(), 4);
    const auto hand = frame.hands()[0];
    EXPECT_EQ(hand.id(), 7);
    EXPECT_EQ(hand.palmNormal(), (Kivo::Vector{0, -1, 0}));
    ASSERT_EQ(hand.pointables().count(), 2);
    EXPECT_EQ(hand.pointables()[1].id(), 72);
    EXPECT_EQ(frame.hands()[1].pointables().count(), 1);
    EXPECT_FALSE(frame.hands()[2].isValid());
    EXPECT_FALSE(hand.pointables()[5].isValid());
    EXPECT_EQ(frame.pointables()[3].handId(), 0);
}

TEST_F(Frames, GesturesFollowTheConnectionsEnabledTypesAndSinceCollectsUpdates) {
    Kivo::Controller circles;
    Kivo::Controller all;
    circles.enableGesture(Kivo::Gesture::Circle);
    for (int type : {1, 4, 5, 6}) {
        all.enableGesture(type);
    }
    all.enableGesture(6, false);
    EXPECT_FALSE(all.isGestureEnabled(Kivo::Gesture::KeyTap));
    ASSERT_EQ(Kivo::DeviceService::inject(gestureFrame(1, "swipe", 1, "start")), "");
    const auto first = all.frame(0);
    ASSERT_EQ(Kivo::DeviceService::inject(gestureFrame(2, "circle", 2, "start")), "");
    ASSERT_EQ(Kivo::DeviceService::inject(gestureFrame(3, "key-tap", 3, "start")), "");
    ASSERT_EQ(Kivo::DeviceService::inject(gestureFrame(4, "circle", 2, "update")), "");

    const auto last = all.frame(0);
    EXPECT_EQ(last.gestures().count(), 1);
    const auto since = last.gestures(first);
    ASSERT_EQ(since.count(), 2) << "circle start and update; the key tap is not enabled";
    EXPECT_EQ(since[0].state(), Kivo::Gesture::StateStart);
    EXPECT_EQ(since[1].state(), Kivo::Gesture::StateUpdate);
    const Kivo::CircleGesture circle(since[1]);
    EXPECT_TRUE(circle.isValid());
    EXPECT_FLOAT_EQ(circle.radius(), 30.0f);
    EXPECT_FALSE(Kivo::SwipeGesture(since[1]).isValid()) << "a view of another type is invalid";
    EXPECT_EQ(last.gestures(last).count(), 0);
    EXPECT_EQ(last.gestures(Kivo::Frame()).count() >= 3, true);

    EXPECT_EQ(circles.frame(0).gestures(circles.frame(3)).count(), 2);
    EXPECT_EQ(Kivo::SwipeGesture(all.frame(3).gestures()[0]).speed(), 900.0f);
    EXPECT_EQ(circles.frame(3).gestures().count(), 0) << "swipes are not enabled here";
}

using Configuration = ServiceTest;

TEST_F(Configuration, ReportsTypesAndRefusesWhatItCannotStore) {
    Kivo::Config config = Kivo::Controller().config();
    EXPECT_EQ(config.type("recognizer.swipe.min_length"), 6);
    EXPECT_EQ(config.type("recognizer.enabled"), Kivo::Config::Bool);
    EXPECT_EQ(config.type("no.such.key"), Kivo::Config::Undefined);
    EXPECT_EQ(config.type("device.name"), Kivo::Config::String);
    EXPECT_FLOAT_EQ(config.getFloat("recognizer.swipe.min_length"), 60.0f);
    EXPECT_TRUE(config.setFloat("recognizer.swipe.min_length", 80.0f));
    EXPECT_FLOAT_EQ(Kivo::Controller().config().getFloat("recognizer.swipe.min_length"), 80.0f)
        << "settings are the service's, shared by every connection";
    EXPECT_FALSE(config.setBool("recognizer.swipe.min_length", true)) << "wrong type";
    EXPECT_FALSE(config.setFloat("recognizer.swipe.min_length", NAN));
    EXPECT_FALSE(config.setFloat("no.such.key", 1.0f));
    EXPECT_FALSE(config.setInt32("history.frames", 5)) << "read-only";
    EXPECT_EQ(config.getFloat("recognizer.enabled"), 0.0f);
    EXPECT_TRUE(config.getBool("recognizer.enabled"));
    for (const auto& key : config.keys()) {
        if (key.rfind("recognizer.", 0) == 0 && key != "recognizer.enabled") {
            EXPECT_EQ(config.type(key), Kivo::Config::Float) << key;
        }
    }
}

}  // namespace
