// The service's own gesture recognition, on the generated sessions and on real hand motion.
#include "KivoTestSupport.h"

#include <map>
#include <set>

namespace {

using kivo_test::dataPath;
using kivo_test::gesturesOf;
using kivo_test::replayLockstep;
using kivo_test::ServiceTest;

std::vector<Kivo::GestureRecord> gesturesIn(const std::string& session) {
    return gesturesOf(replayLockstep(dataPath("generated/" + session + ".kivo")));
}

// Checks that `updates` hold exactly one gesture of `type`, from start to stop.
void expectOneGesture(const std::vector<Kivo::GestureRecord>& updates, int type) {
    ASSERT_FALSE(updates.empty());
    std::set<std::int32_t> ids;
    for (const auto& g : updates) {
        ids.insert(g.id);
        EXPECT_EQ(g.type, type);
    }
    EXPECT_EQ(ids.size(), 1u);
    EXPECT_EQ(updates.front().state, Kivo::Gesture::StateStart);
    EXPECT_EQ(updates.back().state, Kivo::Gesture::StateStop);
    for (std::size_t i = 1; i + 1 < updates.size(); ++i) {
        EXPECT_EQ(updates[i].state, Kivo::Gesture::StateUpdate);
    }
    for (std::size_t i = 1; i < updates.size(); ++i) {
        EXPECT_GE(updates[i].duration, updates[i - 1].duration);
    }
    EXPECT_GT(updates.back().duration, 0);
}

using Recognition = ServiceTest;

TEST_F(Recognition, FindsTheSwipe) {
    const auto g = gesturesIn("swipe");
    expectOneGesture(g, Kivo::Gesture::Swipe);
    EXPECT_GT(g.back().direction.x, 0.95f);
    EXPECT_GT(g.back().position.x - g.back().startPosition.x, 120.0f);
    EXPECT_GT(g.front().speed, 700.0f);
}

TEST_F(Recognition, FindsTheCircleWithItsGeometry) {
    const auto g = gesturesIn("circle");
    expectOneGesture(g, Kivo::Gesture::Circle);
    const auto& last = g.back();
    EXPECT_NEAR(last.radius, 40.0f, 8.0f);
    EXPECT_GT(last.normal.z, 0.95f) << "counter-clockwise as seen from the user";
    // The index fingertip starts at (-22, 200, -85) and circles around a point 40 mm to its left.
    EXPECT_NEAR(last.center.x, -62.0f, 8.0f);
    EXPECT_NEAR(last.center.y, 200.0f, 8.0f);
    EXPECT_NEAR(last.center.z, -85.0f, 2.0f);
    EXPECT_GT(last.progress, 1.2f);
    EXPECT_LT(last.progress, 1.6f);
    for (std::size_t i = 1; i < g.size(); ++i) {
        EXPECT_GE(g[i].progress, g[i - 1].progress);
    }
}

TEST_F(Recognition, FindsTheScreenTap) {
    const auto g = gesturesIn("screen-tap");
    expectOneGesture(g, Kivo::Gesture::ScreenTap);
    EXPECT_LT(g.front().direction.z, -0.95f);
}

TEST_F(Recognition, FindsTheKeyTap) {
    const auto g = gesturesIn("key-tap");
    expectOneGesture(g, Kivo::Gesture::KeyTap);
    EXPECT_LT(g.front().direction.y, -0.95f);
}

TEST_F(Recognition, FindsNothingWhereNoGestureWasMade) {
    for (const char* session :
         {"still-hand", "poke", "pinch-carry", "two-hands", "unplug-replug"}) {
        EXPECT_TRUE(gesturesIn(session).empty()) << session;
    }
}

TEST_F(Recognition, RealHandMotionFalsePositives) {
    const auto g = gesturesOf(replayLockstep(dataPath("real/asl-fingerspelling.kivo")));
    std::map<int, int> started;
    for (const auto& u : g) {
        started[u.type] += u.state == Kivo::Gesture::StateStart ? 1 : 0;
    }
    // Fingerspelling holds no swipe, circle or tap; a few false starts would be tolerable, a
    // flood would mean the thresholds are wrong.
    int total = 0;
    for (const auto& [type, n] : started) {
        total += n;
    }
    RecordProperty("false_positives", total);
    EXPECT_LE(total, 3);
}

TEST_F(Recognition, ThresholdsAreSettableThroughTheConfiguration) {
    Kivo::Config config = Kivo::Controller().config();
    ASSERT_TRUE(config.setFloat("recognizer.swipe.min_length", 400.0f));
    EXPECT_TRUE(gesturesIn("swipe").empty()) << "the swipe is 300 mm long";
    ASSERT_TRUE(config.setFloat("recognizer.swipe.min_length", 120.0f));
    ASSERT_TRUE(config.setBool("recognizer.enabled", false));
    EXPECT_TRUE(gesturesIn("circle").empty());
    ASSERT_TRUE(config.setBool("recognizer.enabled", true));
    EXPECT_FALSE(gesturesIn("circle").empty());
}

TEST_F(Recognition, RecordedGesturesAreNotRecognisedAgain) {
    // A frame that carries a gesture of its own is delivered as it is.
    Kivo::Controller controller;
    controller.enableGesture(Kivo::Gesture::KeyTap);
    ASSERT_EQ(Kivo::DeviceService::inject(
                  "frame 1 t=5; hand 1 palm=0,200,0 normal=0,-1,0 dir=0,0,-1; gesture 42 "
                  "type=key-tap state=stop duration=7 hand=1 pointable=0 position=1,2,3 "
                  "direction=0,-1,0"),
              "");
    const auto gestures = controller.frame(0).gestures();
    ASSERT_EQ(gestures.count(), 1);
    EXPECT_EQ(gestures[0].id(), 42);
    EXPECT_EQ(gestures[0].duration(), 7);
    EXPECT_EQ(Kivo::KeyTapGesture(gestures[0]).position(), (Kivo::Vector{1, 2, 3}));
}

}  // namespace
