// The service's own gesture recognition, on the generated sessions and on real hand motion.
#include <kivo_tools/Generator.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <map>
#include <numbers>
#include <set>
#include <sstream>

#include "KivoTestSupport.h"

namespace {

using kivo_test::dataPath;
using kivo_test::gesturesOf;
using kivo_test::replayLockstep;
using kivo_test::ServiceTest;

std::vector<Kivo::GestureRecord> gesturesIn(const std::string& session) {
    return gesturesOf(replayLockstep(dataPath("generated/" + session + ".kivo")));
}

// Replays a recording held in memory in lockstep; the gesture updates of each frame.
std::vector<std::vector<Kivo::GestureRecord>> gesturesByFrame(const Kivo::Recording& rec) {
    Kivo::Controller controller;
    for (int type : {1, 4, 5, 6}) {
        controller.enableGesture(type);
    }
    EXPECT_EQ(Kivo::DeviceService::replay(rec, "take"), "");
    std::vector<std::vector<Kivo::GestureRecord>> out;
    std::int64_t last = controller.frame(0).id();
    while (Kivo::DeviceService::advance()) {
        const auto frame = controller.frame(0);
        if (frame.id() != last) {
            out.push_back(kivo_test::snapshot(frame).gestures);
            last = frame.id();
        }
    }
    Kivo::DeviceService::stop();
    return out;
}

// Every gesture update the recording gives, in order.
std::vector<Kivo::GestureRecord> gesturesIn(const Kivo::Recording& rec) {
    std::vector<Kivo::GestureRecord> out;
    for (const auto& frame : gesturesByFrame(rec)) {
        out.insert(out.end(), frame.begin(), frame.end());
    }
    return out;
}

// The recording's motion sampled `rate` times a second (on a grid from time 0), each frame
// between the two around it; its events in their places.
Kivo::Recording resampled(const Kivo::Recording& rec, double rate) {
    std::vector<const Kivo::FrameRecord*> frames;
    std::vector<Kivo::EventRecord> events;
    Kivo::Recording out;
    out.header = rec.header;
    out.header.rate = rate;
    for (const auto& entry : rec.entries) {
        if (const auto* frame = std::get_if<Kivo::FrameRecord>(&entry)) {
            frames.push_back(frame);
        } else {
            events.push_back(std::get<Kivo::EventRecord>(entry));
        }
    }
    std::size_t event = 0;
    const auto eventsUntil = [&](std::int64_t t) {
        for (; event < events.size() && events[event].timestamp <= t; ++event) {
            out.entries.emplace_back(events[event]);
        }
    };
    const auto mix = [](const Kivo::Vector& a, const Kivo::Vector& b, float w) {
        return a + (b - a) * w;
    };
    std::size_t next = 1;
    std::int64_t id = 1;
    for (std::int64_t k = 0;; ++k) {
        const auto t = std::llround(static_cast<double>(k) * 1e6 / rate);
        if (t < frames.front()->timestamp) {
            continue;
        }
        while (next < frames.size() && frames[next]->timestamp < t) {
            ++next;
        }
        if (next == frames.size()) {
            break;
        }
        const Kivo::FrameRecord& a = *frames[next - 1];
        const Kivo::FrameRecord& b = *frames[next];
        const float w =
            static_cast<float>(t - a.timestamp) / static_cast<float>(b.timestamp - a.timestamp);
        eventsUntil(t);
        Kivo::FrameRecord f = w < 1.0f ? a : b;
        f.id = id++;
        f.timestamp = t;
        if (a.hands.size() == b.hands.size() && a.pointables.size() == b.pointables.size()) {
            for (std::size_t h = 0; h < f.hands.size(); ++h) {
                f.hands[h].palmPosition = mix(a.hands[h].palmPosition, b.hands[h].palmPosition, w);
                f.hands[h].direction =
                    mix(a.hands[h].direction, b.hands[h].direction, w).normalized();
                f.hands[h].palmNormal =
                    mix(a.hands[h].palmNormal, b.hands[h].palmNormal, w).normalized();
            }
            for (std::size_t p = 0; p < f.pointables.size(); ++p) {
                f.pointables[p].tipPosition =
                    mix(a.pointables[p].tipPosition, b.pointables[p].tipPosition, w);
            }
        }
        out.entries.emplace_back(f);
    }
    eventsUntil(std::numeric_limits<std::int64_t>::max());
    return out;
}

// The gestures that start in `updates`, by type, in the order they start.
std::vector<int> startOrder(const std::vector<Kivo::GestureRecord>& updates) {
    std::vector<int> types;
    for (const auto& g : updates) {
        if (g.state == Kivo::Gesture::StateStart) {
            types.push_back(g.type);
        }
    }
    return types;
}

// The gestures that start in `updates`, by type.
std::map<int, int> startedByType(const std::vector<Kivo::GestureRecord>& updates) {
    std::map<int, int> started;
    for (const int type : startOrder(updates)) {
        ++started[type];
    }
    return started;
}

int gestureType(const std::string& label) {
    if (label == "swipe") {
        return Kivo::Gesture::Swipe;
    }
    if (label == "circle") {
        return Kivo::Gesture::Circle;
    }
    if (label == "screen-tap") {
        return Kivo::Gesture::ScreenTap;
    }
    return label == "key-tap" ? Kivo::Gesture::KeyTap : Kivo::Gesture::Invalid;
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

// A tap done fast is still a tap: a 40 mm tap peaking at 1000-1400 mm/s passes the speed at which
// a swipe could start, but 40 mm can never become a swipe.
TEST_F(Recognition, FastTapsAreStillTaps) {
    const auto screen = gesturesIn("fast-screen-tap");
    ASSERT_NO_FATAL_FAILURE(expectOneGesture(screen, Kivo::Gesture::ScreenTap));
    EXPECT_LT(screen.front().direction.z, -0.95f);
    const auto key = gesturesIn("fast-key-tap");
    ASSERT_NO_FATAL_FAILURE(expectOneGesture(key, Kivo::Gesture::KeyTap));
    EXPECT_LT(key.front().direction.y, -0.95f);
}

// Which finger reaches farthest changes during a swipe; the hand's motion is what counts.
TEST_F(Recognition, SwipesSurviveTheLeadingFingerChanging) {
    const auto swap = gesturesIn("finger-swap-swipe");
    ASSERT_NO_FATAL_FAILURE(expectOneGesture(swap, Kivo::Gesture::Swipe));
    EXPECT_GT(swap.back().direction.x, 0.95f);
    const auto open = gesturesIn("open-hand-swipe");
    ASSERT_NO_FATAL_FAILURE(expectOneGesture(open, Kivo::Gesture::Swipe));
    EXPECT_LT(open.back().direction.x, -0.95f);
}

TEST_F(Recognition, SwipesAsSlowAndShortAsPeopleMakeThem) {
    const auto slow = gesturesIn("slow-swipe");
    ASSERT_NO_FATAL_FAILURE(expectOneGesture(slow, Kivo::Gesture::Swipe));
    EXPECT_GT(slow.back().direction.x, 0.95f);
    EXPECT_LT(slow.front().speed, 700.0f);

    // Each stroke of the V is a swipe of its own: down and right, then up and right.
    const auto v = gesturesIn("v-swipe");
    std::map<std::int32_t, std::vector<Kivo::GestureRecord>> byId;
    for (const auto& g : v) {
        byId[g.id].push_back(g);
    }
    ASSERT_EQ(byId.size(), 2u);
    const auto& first = byId.begin()->second;
    const auto& second = byId.rbegin()->second;
    ASSERT_NO_FATAL_FAILURE(expectOneGesture(first, Kivo::Gesture::Swipe));
    ASSERT_NO_FATAL_FAILURE(expectOneGesture(second, Kivo::Gesture::Swipe));
    EXPECT_GT(first.back().direction.x, 0.5f);
    EXPECT_LT(first.back().direction.y, -0.5f);
    EXPECT_GT(second.back().direction.x, 0.5f);
    EXPECT_GT(second.back().direction.y, 0.5f);
}

// A reach towards the screen arcs sideways by three quarters of its travel, then the finger
// presses: one screen tap, at the press.
TEST_F(Recognition, AnArcingReachThenPressIsOneScreenTap) {
    const auto g = gesturesIn("arc-screen-tap");
    ASSERT_NO_FATAL_FAILURE(expectOneGesture(g, Kivo::Gesture::ScreenTap));
    EXPECT_LT(g.front().direction.z, -0.7f);
    // The fingertip starts at z = -45, the hand reaches 85 mm forward, the finger presses 15 mm.
    EXPECT_LT(g.front().position.z, -140.0f) << "the tap is where the finger pressed";
}

// One motion, one gesture: the chords of a fast, wide, uneven circle are as long and fast as a
// swipe, and its one and a third turns do not keep it from being a circle.
TEST_F(Recognition, AFastWideCircleIsACircleOnly) {
    const auto g = gesturesIn("fast-circle");
    ASSERT_NO_FATAL_FAILURE(expectOneGesture(g, Kivo::Gesture::Circle));
    EXPECT_NEAR(g.back().radius, 140.0f, 25.0f);
    EXPECT_GT(g.back().progress, 1.0f);
    EXPECT_GT(g.back().normal.z, 0.95f);
}

// A hand, palm 200 mm above the device and fingers towards the screen, moved by `hand(t)` (still
// when not given), whose index finger (and thumb) move by `index(t)` / `thumb(t)` from their
// resting places, t in seconds; 60 frames per second, 0.5 s still before the motion, which lasts
// `seconds`, and 0.5 s after it.
template <typename IndexMotion, typename ThumbMotion, typename HandMotion>
Kivo::Recording handWith(double seconds, IndexMotion index, ThumbMotion thumb, HandMotion hand) {
    Kivo::Recording rec;
    rec.header.rate = 60.0;
    const int frames = static_cast<int>((seconds + 1.0) * 60.0);
    for (int f = 0; f < frames; ++f) {
        const double t = std::clamp(f / 60.0 - 0.5, 0.0, seconds);
        const Kivo::Vector palm = Kivo::Vector{0.0f, 200.0f, 0.0f} + hand(t);
        Kivo::FrameRecord frame;
        frame.id = f + 1;
        frame.timestamp = std::llround(f * 1e6 / 60.0);
        frame.hands.push_back({1, palm, {0.0f, -1.0f, 0.0f}, {0.0f, 0.0f, -1.0f}});
        for (int k = 0; k < 5; ++k) {
            Kivo::Vector tip = palm + Kivo::Vector{-40.0f + 20.0f * static_cast<float>(k), 0.0f,
                                                   k == 1 ? -110.0f : -80.0f};
            tip += k == 1 ? index(t) : k == 0 ? thumb(t) : Kivo::Vector{};
            frame.pointables.push_back({10 + k, 1, tip, {0.0f, 0.0f, -1.0f}});
        }
        rec.entries.emplace_back(std::move(frame));
    }
    return rec;
}

template <typename IndexMotion, typename ThumbMotion>
Kivo::Recording handWith(double seconds, IndexMotion index, ThumbMotion thumb) {
    return handWith(seconds, index, thumb, [](double) { return Kivo::Vector{}; });
}

// Swipes that move the palm little: the index finger alone sweeps 135 mm to the right about its
// knuckle (an arc of 100 mm radius) in 0.25 s, braking to a stop. One swipe, going right.
TEST_F(Recognition, ASwipeOfOneFingerBentAboutItsKnuckleIsASwipe) {
    constexpr double kSeconds = 0.25;
    const auto sweep = [](double t) {
        const double a = 1.5 * (0.5 - 0.5 * std::cos(std::numbers::pi * t / kSeconds)) - 0.75;
        return Kivo::Vector{static_cast<float>(100.0 * std::sin(a)), 0.0f,
                            static_cast<float>(100.0 - 100.0 * std::cos(a))};
    };
    const auto still = [](double) { return Kivo::Vector{}; };
    const auto g = gesturesIn(handWith(kSeconds, sweep, still));
    ASSERT_NO_FATAL_FAILURE(expectOneGesture(g, Kivo::Gesture::Swipe));
    EXPECT_GT(g.back().direction.x, 0.9f);

    // The same finger motion while the thumb closes on it is a pinch, not a swipe.
    const auto closing = [](double t) {
        return Kivo::Vector{
            static_cast<float>(70.0 * (0.5 - 0.5 * std::cos(std::numbers::pi * t / kSeconds))),
            0.0f, 0.0f};
    };
    const auto pinch = gesturesIn(handWith(kSeconds, sweep, closing));
    EXPECT_TRUE(pinch.empty());
}

// An open hand, palm 200 mm above the device and fingers towards the screen, moved as a whole by
// `offset(t)` (mm, t in seconds) for `seconds` between 0.5 s still before and after; 60 frames
// per second.
template <typename Motion>
Kivo::Recording wholeHandWith(double seconds, Motion offset) {
    return handWith(
        seconds, [](double) { return Kivo::Vector{}; }, [](double) { return Kivo::Vector{}; },
        offset);
}

// A shake swings the hand from side to side: 100 mm strokes at up to 800 mm/s, each as straight
// and fast as a swipe, but each turning at once into one the other way. None is a swipe; the
// same hand's one stroke, braking to a stop, is one, reported after the moment that shows it
// did not swing back.
TEST_F(Recognition, AShakeOfTheHandIsNoSwipe) {
    constexpr double kPi = std::numbers::pi;
    const auto shake = [](double t) {
        return Kivo::Vector{static_cast<float>(50.0 * std::sin(2.0 * kPi * 2.5 * t)), 0.0f, 0.0f};
    };
    EXPECT_TRUE(gesturesIn(wholeHandWith(1.2, shake)).empty());

    const auto stroke = [](double t) {
        return Kivo::Vector{static_cast<float>(-50.0 * std::cos(2.0 * kPi * 2.5 * t)), 0.0f, 0.0f};
    };
    const auto g = gesturesIn(wholeHandWith(0.2, stroke));
    ASSERT_NO_FATAL_FAILURE(expectOneGesture(g, Kivo::Gesture::Swipe));
    EXPECT_GT(g.back().direction.x, 0.9f);
    EXPECT_GT(g.front().speed, 700.0f) << "the stroke's peak speed";
}

// A shake's swings vary: two short ones, each too short for a swipe, then a long one back the
// way the first went; or a swipe, a short swing back and the swipe again. The hand swung to and
// fro: no swipe. A single short swing back before the
// long one is a wind-up: one swipe.
TEST_F(Recognition, AShakeWhoseFirstSwingsAreShortIsNoSwipe) {
    // x(t) through `points` (mm), easing from each to the next in `steps` (s).
    const auto swings = [](std::vector<double> points, std::vector<double> steps) {
        return [points, steps](double t) {
            std::size_t i = 0;
            while (i + 1 < steps.size() && t > steps[i]) {
                t -= steps[i++];
            }
            const double u = std::clamp(t / steps[i], 0.0, 1.0);
            const double x = points[i] + (points[i + 1] - points[i]) *
                                             (0.5 - 0.5 * std::cos(std::numbers::pi * u));
            return Kivo::Vector{static_cast<float>(x), 0.0f, 0.0f};
        };
    };
    EXPECT_TRUE(
        gesturesIn(wholeHandWith(0.5, swings({0.0, 50.0, 0.0, 100.0}, {0.15, 0.15, 0.2}))).empty());
    // A swipe's swing back too short for a swing, and the same swipe again: the second stroke
    // along the line of the one the hand swung back from is the shake's too.
    EXPECT_TRUE(
        gesturesIn(wholeHandWith(0.5, swings({0.0, 65.0, 36.0, 136.0}, {0.15, 0.1, 0.2}))).empty());

    const auto g = gesturesIn(wholeHandWith(0.35, swings({0.0, -50.0, 100.0}, {0.15, 0.2})));
    ASSERT_NO_FATAL_FAILURE(expectOneGesture(g, Kivo::Gesture::Swipe));
    EXPECT_GT(g.back().direction.x, 0.9f);
}

// The tracker loses a hand and finds it again 150 mm higher from one frame to the next, just
// after a swipe down: no arm moves that fast, so the jump is neither a swing back (which would
// make the swipe a shake's stroke) nor a swipe up. One swipe, going down.
TEST_F(Recognition, AHandTheTrackerFindsElsewhereMakesNoStroke) {
    const auto swipeThenJump = [](double t) {
        const double down = t < 0.2 ? 50.0 - 50.0 * std::cos(std::numbers::pi * t / 0.2) : 100.0;
        return Kivo::Vector{0.0f, static_cast<float>(t < 0.3 ? -down : 50.0), 0.0f};
    };
    const auto g = gesturesIn(wholeHandWith(0.4, swipeThenJump));
    ASSERT_NO_FATAL_FAILURE(expectOneGesture(g, Kivo::Gesture::Swipe));
    EXPECT_LT(g.back().direction.y, -0.9f);
}

// People bring the hand back after a swipe, a moment after it stops: the stroke back, no longer
// than the swipe, is its return. One swipe, going right.
TEST_F(Recognition, TheHandBroughtBackAfterASwipeIsItsReturn) {
    constexpr double kPi = std::numbers::pi;
    const auto swipeAndBack = [](double t) {
        const double x = t < 0.25   ? 50.0 - 50.0 * std::cos(kPi * t / 0.25)
                         : t < 0.45 ? 100.0
                                    : 60.0 + 40.0 * std::cos(kPi * (t - 0.45) / 0.3);
        return Kivo::Vector{static_cast<float>(x), 0.0f, 0.0f};
    };
    const auto g = gesturesIn(wholeHandWith(0.75, swipeAndBack));
    ASSERT_NO_FATAL_FAILURE(expectOneGesture(g, Kivo::Gesture::Swipe));
    EXPECT_GT(g.back().direction.x, 0.9f);
}

// People also rest before they bring the hand back, up to about a second: the stroke back is no
// swipe either, nor is the way back from a stroke down that reached towards the screen (itself a
// reach, no swipe). Someone flipping pages swipes again after the way back: a swipe.
TEST_F(Recognition, TheHandBroughtBackAfterARestIsNoSwipeButTheNextSwipeIs) {
    // `to` from `from` on, eased over `seconds` starting at `at`.
    const auto eased = [](double t, double at, double seconds, Kivo::Vector to) {
        const double u = std::clamp((t - at) / seconds, 0.0, 1.0);
        return to * static_cast<float>(0.5 - 0.5 * std::cos(std::numbers::pi * u));
    };
    const auto swipesIn = [](const std::vector<Kivo::GestureRecord>& updates) {
        std::vector<Kivo::Vector> ways;  // each swipe's direction when it stopped
        for (const auto& g : updates) {
            EXPECT_EQ(g.type, Kivo::Gesture::Swipe);
            if (g.state == Kivo::Gesture::StateStop) {
                ways.push_back(g.direction);
            }
        }
        return ways;
    };
    // 100 mm to the right in 0.25 s, a rest of 0.7 s, and back.
    const auto rested = swipesIn(gesturesIn(wholeHandWith(1.25, [&](double t) {
        return eased(t, 0.0, 0.25, {100.0f, 0.0f, 0.0f}) +
               eased(t, 0.95, 0.3, {-100.0f, 0.0f, 0.0f});
    })));
    ASSERT_EQ(rested.size(), 1u);
    EXPECT_GT(rested[0].x, 0.9f);

    // 110 mm down and as far towards the screen, a rest of 0.6 s, and back up, staying forward.
    const auto reached = swipesIn(gesturesIn(wholeHandWith(1.25, [&](double t) {
        return eased(t, 0.0, 0.35, {0.0f, -110.0f, -110.0f}) +
               eased(t, 0.95, 0.3, {0.0f, 100.0f, 20.0f});
    })));
    EXPECT_TRUE(reached.empty());

    // Right, back after 0.5 s, and right again after 0.4 s.
    const auto pages = swipesIn(gesturesIn(wholeHandWith(1.95, [&](double t) {
        return eased(t, 0.0, 0.25, {100.0f, 0.0f, 0.0f}) +
               eased(t, 0.75, 0.3, {-100.0f, 0.0f, 0.0f}) +
               eased(t, 1.45, 0.25, {100.0f, 0.0f, 0.0f});
    })));
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_GT(pages[0].x, 0.9f);
    EXPECT_GT(pages[1].x, 0.9f);
}

// A tracker at 30 frames per second now and then repeats a frame, or places the hand one frame
// off, in the middle of a swipe: 100 mm to the right, whose halves are each too short for a swipe.
// The hand did not stop or turn there: one swipe, going right. A hand that does stop between the
// halves, for 0.1 s, made two strokes too short for a swipe: none.
TEST_F(Recognition, ATrackerStallingOrJumpingForAFrameDoesNotCutASwipe) {
    constexpr double kPi = std::numbers::pi;
    const auto stroke = [](double t) {
        return Kivo::Vector{static_cast<float>(50.0 - 50.0 * std::cos(kPi * t / 0.3)), 0.0f, 0.0f};
    };
    // Frame 39 is the stroke's middle (0.5 s still first, 60 frames per second); a 30 frames per
    // second frame lasts two of these.
    const auto moveHand = [](Kivo::FrameRecord& frame, const Kivo::FrameRecord& like,
                             Kivo::Vector by) {
        frame.hands = like.hands;
        frame.pointables = like.pointables;
        frame.hands[0].palmPosition += by;
        for (auto& p : frame.pointables) {
            p.tipPosition += by;
        }
    };
    Kivo::Recording stalled = wholeHandWith(0.3, stroke);
    for (const int f : {39, 40}) {
        moveHand(std::get<Kivo::FrameRecord>(stalled.entries[f]),
                 std::get<Kivo::FrameRecord>(stalled.entries[38]), {});
    }
    Kivo::Recording jumped = wholeHandWith(0.3, stroke);
    auto& off = std::get<Kivo::FrameRecord>(jumped.entries[39]);
    moveHand(off, Kivo::FrameRecord(off), {-30.0f, 0.0f, 0.0f});
    for (const auto* rec : {&stalled, &jumped}) {
        const auto g = gesturesIn(*rec);
        ASSERT_NO_FATAL_FAILURE(expectOneGesture(g, Kivo::Gesture::Swipe));
        EXPECT_GT(g.back().direction.x, 0.9f);
    }

    const auto pausing = [](double t) {
        const double x = t < 0.15   ? 25.0 - 25.0 * std::cos(kPi * t / 0.15)
                         : t < 0.25 ? 50.0
                                    : 75.0 - 25.0 * std::cos(kPi * (t - 0.25) / 0.15);
        return Kivo::Vector{static_cast<float>(x), 0.0f, 0.0f};
    };
    EXPECT_TRUE(gesturesIn(wholeHandWith(0.4, pausing)).empty());
}

// Turning the hand over carries the palm's centre, which lies near the forearm's axis, a little
// way, while the fingertips sweep about it: the palm moving 70 mm to the right as the hand turns
// palm up is no swipe. The same motion of a hand kept flat is one. A palm carried 150 mm is the
// arm's stroke, whatever the hand does on it (people roll the wrist as they swipe outwards, and
// a tracker's fingertips jitter): the hand rolling a quarter turn each way and back, twice, as the
// arm carries it for 0.6 s, which moves the fingers about the palm by far more than twice its
// travel, is a swipe too.
TEST_F(Recognition, AHandTurningOverIsNoSwipe) {
    const auto record = [](double turn, double travel = 70.0, double seconds = 0.25,
                           bool wobble = false) {
        Kivo::Recording rec;
        rec.header.rate = 60.0;
        const int frames = static_cast<int>((seconds + 1.0) * 60.0);
        for (int f = 0; f < frames; ++f) {
            const double t = std::clamp(f / 60.0 - 0.5, 0.0, seconds);
            const double u = 0.5 - 0.5 * std::cos(std::numbers::pi * t / seconds);
            const auto a = static_cast<float>(
                wobble ? turn * std::sin(4.0 * std::numbers::pi * t / seconds) : turn * u);
            // About the hand's direction (-z), through the palm.
            const auto turned = [a](float x, float y) {
                return Kivo::Vector{x * std::cos(a) - y * std::sin(a),
                                    x * std::sin(a) + y * std::cos(a), 0.0f};
            };
            const Kivo::Vector palm{static_cast<float>(travel * u), 200.0f, 0.0f};
            Kivo::FrameRecord frame;
            frame.id = f + 1;
            frame.timestamp = std::llround(f * 1e6 / 60.0);
            frame.hands.push_back({1, palm, turned(0.0f, -1.0f), {0.0f, 0.0f, -1.0f}});
            // Thumb, index (reaching farthest), middle, ring, little finger.
            const float across[5] = {-80.0f, -20.0f, 0.0f, 20.0f, 40.0f};
            for (int k = 0; k < 5; ++k) {
                const Kivo::Vector tip = palm + turned(across[k], 0.0f) +
                                         Kivo::Vector{0.0f, 0.0f,
                                                      k == 0   ? -40.0f
                                                      : k == 1 ? -110.0f
                                                               : -80.0f};
                frame.pointables.push_back({10 + k, 1, tip, {0.0f, 0.0f, -1.0f}});
            }
            rec.entries.emplace_back(std::move(frame));
        }
        return rec;
    };
    EXPECT_TRUE(gesturesIn(record(std::numbers::pi)).empty());
    for (const auto& rec : {record(0.0), record(std::numbers::pi / 2.0, 150.0, 0.6, true)}) {
        const auto g = gesturesIn(rec);
        ASSERT_NO_FATAL_FAILURE(expectOneGesture(g, Kivo::Gesture::Swipe));
        EXPECT_GT(g.back().direction.x, 0.9f);
    }
}

// Turning the hand about the wrist, as a rotation of it does (and its turning back to rest after
// one), swings the palm along a short arc: the hand upright, palm to the screen, turning 60
// degrees to the right about a wrist 80 mm below the palm carries the palm 80 mm, as fast as a
// swipe, while its fingers barely move about it per mm of that. No swipe. The palm carried
// along the same arc by the arm, the hand kept upright, is one.
TEST_F(Recognition, AHandTurningAboutTheWristIsNoSwipe) {
    const auto record = [](bool turning) {
        constexpr double kSeconds = 0.25;
        Kivo::Recording rec;
        rec.header.rate = 60.0;
        const int frames = static_cast<int>((kSeconds + 1.0) * 60.0);
        for (int f = 0; f < frames; ++f) {
            const double t = std::clamp(f / 60.0 - 0.5, 0.0, kSeconds);
            const auto a = static_cast<float>(
                std::numbers::pi / 3.0 * (0.5 - 0.5 * std::cos(std::numbers::pi * t / kSeconds)));
            const Kivo::Vector swung{std::sin(a), std::cos(a), 0.0f};
            const Kivo::Vector up = turning ? swung : Kivo::Vector{0.0f, 1.0f, 0.0f};
            const Kivo::Vector across{up.y, -up.x, 0.0f};
            const Kivo::Vector palm = Kivo::Vector{0.0f, 120.0f, 0.0f} + swung * 80.0f;
            Kivo::FrameRecord frame;
            frame.id = f + 1;
            frame.timestamp = std::llround(f * 1e6 / 60.0);
            frame.hands.push_back({1, palm, {0.0f, 0.0f, -1.0f}, up});
            // Thumb, index (reaching farthest), middle, ring, little finger.
            const float along[5] = {40.0f, 100.0f, 90.0f, 80.0f, 70.0f};
            for (int k = 0; k < 5; ++k) {
                const Kivo::Vector tip =
                    palm + up * along[k] + across * (-60.0f + 25.0f * static_cast<float>(k));
                frame.pointables.push_back({10 + k, 1, tip, up});
            }
            rec.entries.emplace_back(std::move(frame));
        }
        return rec;
    };
    EXPECT_TRUE(gesturesIn(record(true)).empty());
    const auto g = gesturesIn(record(false));
    ASSERT_NO_FATAL_FAILURE(expectOneGesture(g, Kivo::Gesture::Swipe));
    EXPECT_GT(g.back().direction.x, 0.8f);
}

// No shake swings a hand 250 mm: such a swipe is reported as it goes on, not once it has ended,
// even when the recording stops before it does.
TEST_F(Recognition, ASwipeLongerThanAShakesStrokesIsReportedAsItGoesOn) {
    constexpr double kSeconds = 0.4;
    const auto stroke = [](double t) {
        return Kivo::Vector{
            static_cast<float>(125.0 - 125.0 * std::cos(std::numbers::pi * t / kSeconds)), 0.0f,
            0.0f};
    };
    Kivo::Recording rec = wholeHandWith(kSeconds, stroke);
    rec.entries.resize(rec.entries.size() - 33);  // ends 0.05 s before the stroke does
    const auto g = gesturesIn(rec);
    ASSERT_FALSE(g.empty());
    EXPECT_EQ(g.front().state, Kivo::Gesture::StateStart);
    EXPECT_EQ(g.front().type, Kivo::Gesture::Swipe);
    EXPECT_GT(g.back().direction.x, 0.9f);
    EXPECT_GT(g.size(), 2u) << "updates while it goes on";
}

// People's swipes up and down are shorter than their swipes across: a 55 mm stroke of the whole
// hand is a swipe upwards, but not sideways.
TEST_F(Recognition, SwipesUpAndDownMayBeShorterThanSwipesAcross) {
    constexpr double kSeconds = 0.15;
    const auto stroke = [](Kivo::Vector way) {
        return [way](double t) {
            return way *
                   static_cast<float>(27.5 - 27.5 * std::cos(std::numbers::pi * t / kSeconds));
        };
    };
    const auto up = gesturesIn(wholeHandWith(kSeconds, stroke({0.0f, 1.0f, 0.0f})));
    ASSERT_NO_FATAL_FAILURE(expectOneGesture(up, Kivo::Gesture::Swipe));
    EXPECT_GT(up.back().direction.y, 0.9f);
    EXPECT_TRUE(gesturesIn(wholeHandWith(kSeconds, stroke({1.0f, 0.0f, 0.0f}))).empty());
}

// An arm sweeping the hand across the body swings it about the shoulder, 450 mm behind it: from
// 50 degrees off to the right to 10 degrees, the palm goes 266 mm to the left and 154 mm towards
// the screen. One swipe, going left. A stroke as deep per mm to the side but only 80 mm long is the
// hand turning about the wrist, and one deeper than the sweep's is a reach: neither is a swipe.
TEST_F(Recognition, ASwipeSweptAboutTheShoulderMayArcTowardsTheScreen) {
    constexpr double kSeconds = 0.3;
    const auto eased = [](double t) {
        return 0.5 - 0.5 * std::cos(std::numbers::pi * std::clamp(t / kSeconds, 0.0, 1.0));
    };
    const auto sweep = [eased](double t) {
        constexpr double kRadius = 450.0;
        constexpr double kFrom = 50.0 * std::numbers::pi / 180.0;
        const double a = kFrom - 40.0 * std::numbers::pi / 180.0 * eased(t);
        return Kivo::Vector{static_cast<float>(kRadius * (std::sin(a) - std::sin(kFrom))), 0.0f,
                            static_cast<float>(kRadius * (std::cos(kFrom) - std::cos(a)))};
    };
    const auto g = gesturesIn(wholeHandWith(kSeconds, sweep));
    ASSERT_NO_FATAL_FAILURE(expectOneGesture(g, Kivo::Gesture::Swipe));
    EXPECT_LT(g.back().direction.x, -0.8f);

    const auto line = [eased](Kivo::Vector to) {
        return [eased, to](double t) { return to * static_cast<float>(eased(t)); };
    };
    EXPECT_TRUE(gesturesIn(wholeHandWith(kSeconds, line({-80.0f, 0.0f, -50.0f}))).empty());
    EXPECT_TRUE(gesturesIn(wholeHandWith(kSeconds, line({-200.0f, 0.0f, -160.0f}))).empty());
}

// A pressing finger moves alone: its neighbours follow it by a fifth of its motion at most. The
// index finger pokes 25 mm towards the screen and back in 0.25 s: a screen tap. The same poke
// while the thumb swings 12 mm out and back, moving about the palm by a quarter of the fingertip's
// path, is the hand changing shape as a tracker shows a swipe or a turning hand: nothing.
TEST_F(Recognition, ATapIsAFingerPressingAlone) {
    constexpr double kSeconds = 0.25;
    const auto bump = [](double t) {
        return static_cast<float>(std::sin(std::numbers::pi * t / kSeconds));
    };
    const auto poke = [bump](double t) { return Kivo::Vector{0.0f, 0.0f, -25.0f * bump(t)}; };
    const auto still = [](double) { return Kivo::Vector{}; };
    EXPECT_EQ(startedByType(gesturesIn(handWith(kSeconds, poke, still))),
              (std::map<int, int>{{Kivo::Gesture::ScreenTap, 1}}));
    const auto swing = [bump](double t) { return Kivo::Vector{-12.0f * bump(t), 0.0f, 0.0f}; };
    EXPECT_TRUE(gesturesIn(handWith(kSeconds, poke, swing)).empty());
}

// People lift the hand before reaching for the screen: the palm rises 100 mm and goes 60 mm to the
// side, and only then goes 140 mm towards the screen. It starts like a swipe upwards but ends as a
// reach: nothing. A lift twice as large into a 300 mm reach, long enough for a swipe to be reported
// as it goes on, is nothing either. The same lift without the reach is one swipe, going up.
TEST_F(Recognition, AStrokeThatEndsReachingTowardsTheScreenIsNoSwipe) {
    constexpr double kSeconds = 0.35;
    const auto lift = [](float scale, float forward) {
        return [scale, forward](double t) {
            const auto u =
                static_cast<float>(0.5 - 0.5 * std::cos(std::numbers::pi * t / kSeconds));
            return Kivo::Vector{-60.0f * scale * u, 100.0f * scale * u, -forward * u * u * u};
        };
    };
    EXPECT_TRUE(gesturesIn(wholeHandWith(kSeconds, lift(1.0f, 140.0f))).empty());
    EXPECT_TRUE(gesturesIn(wholeHandWith(kSeconds, lift(2.0f, 300.0f))).empty());
    const auto up = gesturesIn(wholeHandWith(kSeconds, lift(1.0f, 0.0f)));
    ASSERT_NO_FATAL_FAILURE(expectOneGesture(up, Kivo::Gesture::Swipe));
    EXPECT_GT(up.back().direction.y, 0.8f);
}

// People tap at the screen by reaching: the arm carries the hand 100-350 mm towards it while the
// pointing finger presses out ahead of the palm. One screen tap, pointing towards the screen, at
// the reach's far end; the same reach closing into a grab is none.
TEST_F(Recognition, AReachWithTheFingerPressingAheadIsOneScreenTapAndAGrabIsNone) {
    const auto tap = gesturesIn("reach-tap");
    ASSERT_NO_FATAL_FAILURE(expectOneGesture(tap, Kivo::Gesture::ScreenTap));
    EXPECT_LT(tap.front().direction.z, -0.8f);
    EXPECT_LT(tap.front().position.z, -150.0f) << "the fingertip where the reach stopped";
    EXPECT_TRUE(gesturesIn("reach-grab").empty());
}

// The recognition trace says why the grab made no tap, at the frame that decided it; reset ends
// the trace.
TEST_F(Recognition, TheTraceTellsWhyAReachMadeNoTapUntilTheServiceIsReset) {
    std::vector<std::pair<std::int64_t, std::string>> lines;
    Kivo::DeviceService::traceRecognition([&lines](std::int64_t t, std::string_view why) {
        lines.emplace_back(t, std::string(why));
    });
    const auto frames = replayLockstep(dataPath("generated/reach-grab.kivo"));
    EXPECT_TRUE(gesturesOf(frames).empty());
    const auto refusal = std::find_if(lines.begin(), lines.end(), [](const auto& line) {
        return line.second.starts_with("reach: ") &&
               (line.second.find("(reach_tap.min_extension 0.70)") != std::string::npos ||
                line.second.find("(reach_tap.min_thumb_gap 40)") != std::string::npos);
    });
    ASSERT_NE(refusal, lines.end()) << "no reach refusal among " << lines.size() << " lines";
    ASSERT_FALSE(frames.empty());
    EXPECT_TRUE(std::any_of(frames.begin(), frames.end(), [&](const Kivo::FrameRecord& f) {
        return f.timestamp == refusal->first;
    })) << "the trace gives the timestamp of the frame that decided";

    Kivo::DeviceService::reset();
    const std::size_t before = lines.size();
    replayLockstep(dataPath("generated/reach-grab.kivo"));
    EXPECT_EQ(lines.size(), before);
}

// The pointing fingertip of a frame: the one reaching farthest towards the screen.
Kivo::Vector& pressingTip(Kivo::FrameRecord& f) {
    return std::min_element(
               f.pointables.begin(), f.pointables.end(),
               [](const auto& a, const auto& b) { return a.tipPosition.z < b.tipPosition.z; })
        ->tipPosition;
}

// The generated reach tap, and the index of its frame where the fingertip presses farthest.
std::pair<Kivo::Recording, std::size_t> reachTap() {
    Kivo::Recording rec;
    std::string error;
    EXPECT_TRUE(KivoTools::generateSession("reach-tap", rec, error)) << error;
    std::size_t farthest = 0;
    float most = 0.0f;
    for (std::size_t i = 0; i + 1 < rec.entries.size(); ++i) {
        auto* f = std::get_if<Kivo::FrameRecord>(&rec.entries[i]);
        if (f != nullptr && !f->pointables.empty() && -pressingTip(*f).z > most) {
            most = -pressingTip(*f).z;
            farthest = i;
        }
    }
    EXPECT_GT(most, 0.0f);
    return {std::move(rec), farthest};
}

// The same reach made with the palm turned to the side, or up, as a turning hand or a sweep into
// the view carries it: nothing. Turned over for a single frame where it stops, as trackers do now
// and then, it is still one screen tap.
TEST_F(Recognition, AReachWithThePalmOnItsSideIsNoTap) {
    const auto turned = [](Kivo::Vector normal, std::size_t from, std::size_t to) {
        auto [rec, farthest] = reachTap();
        for (std::size_t i = from; i < std::min(to, rec.entries.size()); ++i) {
            if (auto* f = std::get_if<Kivo::FrameRecord>(&rec.entries[i])) {
                for (auto& h : f->hands) {
                    h.palmNormal = normal;
                }
            }
        }
        return std::move(rec);
    };
    const std::size_t all = std::numeric_limits<std::size_t>::max();
    EXPECT_TRUE(gesturesIn(turned({-1.0f, 0.0f, 0.0f}, 0, all)).empty());
    EXPECT_TRUE(gesturesIn(turned({0.0f, 0.8f, -0.6f}, 0, all)).empty());
    const std::size_t farthest = reachTap().second;
    EXPECT_EQ(startedByType(gesturesIn(turned({-1.0f, 0.0f, 0.0f}, farthest, farthest + 1))),
              (std::map<int, int>{{Kivo::Gesture::ScreenTap, 1}}));
}

// The tracker places the pressing fingertip 60 % too far from the palm for one frame of a 30
// frames per second tracker, where the reach stops: the finger held out after it has not folded
// as a grab's does. One screen tap.
TEST_F(Recognition, AFingertipPlacedTooFarOutForAFrameDoesNotUndoAReachTap) {
    auto [rec, farthest] = reachTap();
    // The frame where it presses farthest, and the one after it (60 frames per second).
    for (const std::size_t i : {farthest, farthest + 1}) {
        auto& f = std::get<Kivo::FrameRecord>(rec.entries[i]);
        const Kivo::Vector palm = f.hands.front().palmPosition;
        Kivo::Vector& tip = pressingTip(f);
        tip = palm + (tip - palm) * 1.6f;
    }
    const auto g = gesturesIn(rec);
    ASSERT_NO_FATAL_FAILURE(expectOneGesture(g, Kivo::Gesture::ScreenTap));
    EXPECT_LT(g.front().direction.z, -0.8f);
}

// The generated reach tap with the whole hand carried `way` in `seconds` (smoothly, from rest to
// rest), starting `after` s past the frame where the fingertip presses farthest.
Kivo::Recording reachTapThenMoved(Kivo::Vector way, double after, double seconds) {
    auto [rec, farthest] = reachTap();
    const std::int64_t from = std::get<Kivo::FrameRecord>(rec.entries[farthest]).timestamp;
    for (std::size_t i = farthest + 1; i < rec.entries.size(); ++i) {
        auto* f = std::get_if<Kivo::FrameRecord>(&rec.entries[i]);
        if (f == nullptr) {
            continue;
        }
        const double t = std::clamp(
            (static_cast<double>(f->timestamp - from) * 1e-6 - after) / seconds, 0.0, 1.0);
        const Kivo::Vector by =
            way * static_cast<float>(0.5 - 0.5 * std::cos(std::numbers::pi * t));
        for (auto& h : f->hands) {
            h.palmPosition += by;
        }
        for (auto& p : f->pointables) {
            p.tipPosition += by;
        }
    }
    return std::move(rec);
}

// People lower the hand once they have pressed: from where the reach stops, the hand drops
// 120 mm in 0.2 s, drawing back 20 mm. That is the tap's return, not a stroke across the view:
// one screen tap. Carried 120 mm to the side instead, the hand moved on to something else: no tap.
TEST_F(Recognition, AHandLoweredAfterAReachTapKeepsTheTap) {
    const auto lowered = gesturesIn(reachTapThenMoved({0.0f, -120.0f, 20.0f}, 0.0, 0.2));
    ASSERT_NO_FATAL_FAILURE(expectOneGesture(lowered, Kivo::Gesture::ScreenTap));
    EXPECT_LT(lowered.front().direction.z, -0.8f);
    EXPECT_EQ(startedByType(gesturesIn(reachTapThenMoved({120.0f, 0.0f, 20.0f}, 0.0, 0.2)))
                  .count(Kivo::Gesture::ScreenTap),
              0u);
}

// Once the tap is made, the hand comes back to rest: held at the press until the tap is
// confirmed, it drops 200 mm in 0.25 s, or rises 80 mm, soon after. Either is as fast and as long
// as a swipe, and is the tap's return: one screen tap, nothing else.
TEST_F(Recognition, TheHandComingBackToRestAfterATapIsNoSwipe) {
    for (const float up : {-200.0f, 80.0f}) {
        const auto g =
            gesturesIn(reachTapThenMoved({0.0f, up, up < 0.0f ? 40.0f : 0.0f}, 0.35, 0.25));
        EXPECT_EQ(startedByType(g), (std::map<int, int>{{Kivo::Gesture::ScreenTap, 1}}))
            << "the hand moved " << up << " mm up";
    }
}

// Hands come into view moving; fingers drum, pinch and grab. None of it is a gesture.
TEST_F(Recognition, FindsNothingInHowHandsMoveBetweenGestures) {
    for (const char* session : {"fast-entry", "finger-wiggle", "pinch-grab"}) {
        EXPECT_TRUE(gesturesIn(session).empty()) << session;
    }
}

// Each of the checks above is made by the setting named, not by chance: with it turned off, the
// motion it is there for is misread.
TEST_F(Recognition, EachSafeguardIsTheSettingThatMakesIt) {
    Kivo::Config config = Kivo::Controller().config();
    ASSERT_TRUE(config.setFloat("recognizer.hand.settle_time", 0.0f));
    EXPECT_EQ(startedByType(gesturesIn("fast-entry"))[Kivo::Gesture::Swipe], 1);
    Kivo::DeviceService::reset();
    ASSERT_TRUE(config.setFloat("recognizer.hand.max_shape_ratio", 100.0f));
    EXPECT_GT(startedByType(gesturesIn("finger-wiggle"))[Kivo::Gesture::KeyTap], 0);
    Kivo::DeviceService::reset();
    ASSERT_TRUE(config.setFloat("recognizer.swipe.min_path_radius", 0.0f));
    EXPECT_GT(startedByType(gesturesIn("fast-circle"))[Kivo::Gesture::Swipe], 0);
    Kivo::DeviceService::reset();
    ASSERT_TRUE(config.setFloat("recognizer.swipe.max_depth_ratio", 100.0f));
    EXPECT_EQ(startedByType(gesturesIn("arc-screen-tap"))[Kivo::Gesture::Swipe], 1);
    Kivo::DeviceService::reset();
    ASSERT_TRUE(config.setFloat("recognizer.tap.max_lateral_ratio", 0.35f));
    EXPECT_TRUE(gesturesIn("arc-screen-tap").empty());
    Kivo::DeviceService::reset();
    ASSERT_TRUE(config.setFloat("recognizer.pointer.switch_margin", 0.0f));
    expectOneGesture(gesturesIn("finger-swap-swipe"), Kivo::Gesture::Swipe);
    Kivo::DeviceService::reset();
    // A grab's reach is told from a tap's by the fingers closing: the finger drawn in, the thumb
    // brought to it, and a turning point the closing fingers make.
    ASSERT_TRUE(config.setFloat("recognizer.reach_tap.min_extension", 0.0f));
    ASSERT_TRUE(config.setFloat("recognizer.reach_tap.min_thumb_gap", 0.0f));
    EXPECT_EQ(startedByType(gesturesIn("reach-grab"))[Kivo::Gesture::ScreenTap], 1);
    Kivo::DeviceService::reset();
    Kivo::Recording grab;  // a take whose fingers start closing as the reach stops
    std::string error;
    ASSERT_TRUE(KivoTools::generateSession("reach-grab", grab, error, 12, 3)) << error;
    EXPECT_TRUE(gesturesIn(grab).empty());
    Kivo::DeviceService::reset();
    // Its closing fingers make a turning point for a tap of the finger were it not too long, and
    // were the other fingers not closing about the palm as it turns.
    ASSERT_TRUE(config.setFloat("recognizer.tap.max_distance", 1e6f));
    EXPECT_TRUE(gesturesIn(grab).empty());
    Kivo::DeviceService::reset();
    ASSERT_TRUE(config.setFloat("recognizer.tap.max_distance", 1e6f));
    ASSERT_TRUE(config.setFloat("recognizer.hand.max_shape_ratio", 100.0f));
    EXPECT_EQ(startedByType(gesturesIn(grab))[Kivo::Gesture::ScreenTap], 1);
}

// Human-like variants of every session (speed, size, direction, timing, 25 to 60 frames per
// second, landmark noise): each gives its gesture and nothing else, or nothing where none was
// made; and the same take gives the same gestures, ids included, every time.
TEST_F(Recognition, VariedTakesOfEverySessionGiveTheirGesture) {
    constexpr std::uint32_t kTakes = 12;
    for (const auto& session : KivoTools::generatedSessions()) {
        for (std::uint32_t take = 1; take <= kTakes; ++take) {
            Kivo::Recording rec;
            std::string error;
            ASSERT_TRUE(KivoTools::generateSession(session.name, rec, error, take, 3)) << error;
            const auto g = gesturesIn(rec);
            const auto started = startedByType(g);
            const int type = gestureType(session.gesture);
            if (type == Kivo::Gesture::Invalid) {
                EXPECT_TRUE(started.empty()) << session.name << " take " << take;
                continue;
            }
            EXPECT_EQ(started.size(), 1u) << session.name << " take " << take;
            EXPECT_GE(started.count(type), 1u) << session.name << " take " << take;
            // Only a V is made of more than one gesture.
            EXPECT_LE(started.count(type) == 1 ? started.at(type) : 0,
                      session.name == "v-swipe" ? 2 : 1)
                << session.name << " take " << take;
            if (take == 1) {
                EXPECT_EQ(gesturesIn(rec), g) << session.name << ": not deterministic";
            }
        }
    }
}

TEST_F(Recognition, RealHandMotionGivesTheSameDecisionsAt30To120FramesASecond) {
    // Fingerspelling read with every threshold low enough that its motion makes many strokes,
    // presses and reaches, each decided near a threshold: where a finer frame rate moved the
    // reading that decides one, the gestures differ.
    Kivo::Config config = Kivo::Controller().config();
    for (const auto& [key, value] : {std::pair{"recognizer.swipe.min_length", 15.0f},
                                     {"recognizer.swipe.min_vertical_length", 15.0f},
                                     {"recognizer.swipe.min_speed", 40.0f},
                                     {"recognizer.swipe.max_depth_ratio", 2.0f},
                                     {"recognizer.screen_tap.min_speed", 30.0f},
                                     {"recognizer.key_tap.min_speed", 30.0f},
                                     {"recognizer.screen_tap.min_distance", 3.0f},
                                     {"recognizer.key_tap.min_distance", 3.0f},
                                     {"recognizer.tap.max_lateral_ratio", 3.0f},
                                     {"recognizer.tap.min_rest", 0.03f},
                                     {"recognizer.hand.max_shape_ratio", 5.0f}}) {
        ASSERT_TRUE(config.setFloat(key, value)) << key;
    }
    Kivo::Recording rec;
    std::string error;
    ASSERT_TRUE(Kivo::readRecording(dataPath("real/asl-fingerspelling.kivo"), rec, error)) << error;
    const Kivo::Recording at30 = resampled(rec, 30.0);
    const auto want = startOrder(gesturesIn(at30));
    EXPECT_GE(want.size(), 5u) << "too few decisions to compare";
    for (const double rate : {60.0, 120.0}) {
        EXPECT_EQ(startOrder(gesturesIn(resampled(at30, rate))), want)
            << "at " << rate << " frames a second";
    }
}

TEST_F(Recognition, EachFrameListsAGestureOnceAndEveryFrameOfASwipeListsIt) {
    Kivo::Recording rec;
    std::string error;
    ASSERT_TRUE(KivoTools::generateSession("swipe", rec, error, 1, 3)) << error;
    // Twenty frames a second: most frames hold two steps of the motion, each of which may update
    // the swipe; the frame lists it once, in its start state where it started.
    for (const auto& frame : gesturesByFrame(resampled(rec, 20.0))) {
        std::set<std::int32_t> ids;
        for (const auto& g : frame) {
            if (g.state != Kivo::Gesture::StateStop) {
                EXPECT_TRUE(ids.insert(g.id).second) << "gesture " << g.id << " twice in a frame";
            }
        }
    }
    // 120 frames a second: three frames in four fall between two steps, and still show the
    // swipe going on, from the frame it starts in to the frame it stops in.
    const auto frames = gesturesByFrame(resampled(rec, 120.0));
    std::int32_t swipe = 0;
    std::size_t shown = 0, between = 0;
    for (const auto& frame : frames) {
        const auto it = std::find_if(frame.begin(), frame.end(),
                                     [](const auto& g) { return g.type == Kivo::Gesture::Swipe; });
        if (swipe == 0 && it != frame.end() && it->state == Kivo::Gesture::StateStart) {
            swipe = it->id;
        }
        if (swipe == 0) {
            continue;
        }
        ASSERT_NE(it, frame.end()) << "a frame of the swipe without it";
        EXPECT_EQ(it->id, swipe);
        ++shown;
        if (it->state == Kivo::Gesture::StateStop) {
            break;
        }
        between += it->state == Kivo::Gesture::StateUpdate ? 1 : 0;
    }
    EXPECT_GT(between, 4u) << "the swipe went on for " << shown << " frames";
}

// Every recogniser setting is in the documentation's table with its default value.
TEST_F(Recognition, EverySettingIsDocumentedWithItsDefault) {
    std::ifstream in(dataPath("../../docs/recording-format.md"));
    ASSERT_TRUE(in) << "docs/recording-format.md";
    std::stringstream text;
    text << in.rdbuf();
    const Kivo::Config config = Kivo::Controller().config();
    int floats = 0;
    for (const auto& key : config.keys()) {
        if (key.rfind("recognizer.", 0) != 0 || config.type(key) != Kivo::Config::Float) {
            continue;
        }
        ++floats;
        std::ostringstream value;
        value << config.getFloat(key);
        EXPECT_NE(text.str().find("| `" + key + "` | " + value.str() + " |"), std::string::npos)
            << key << " = " << value.str() << " is not in the table";
    }
    EXPECT_EQ(floats, 30);
}

TEST_F(Recognition, RealHandMotionFalsePositives) {
    const auto g = gesturesOf(replayLockstep(dataPath("real/asl-fingerspelling.kivo")));
    std::map<int, int> started;
    for (const auto& u : g) {
        started[u.type] += u.state == Kivo::Gesture::StateStart ? 1 : 0;
    }
    // Fingerspelling holds no swipe, circle or tap: its changes of hand shape are not gestures.
    int total = 0;
    for (const auto& [type, n] : started) {
        total += n;
    }
    RecordProperty("false_positives", total);
    EXPECT_EQ(total, 0);
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
