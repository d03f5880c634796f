#pragma once

#include <kivo/Recording.h>

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string_view>
#include <vector>

namespace Kivo::detail {

class ConfigStore;

// The thresholds' initial values, chosen from how people move (measured on recordings of several
// people's swipes, circles, taps and non-gestures replayed in lockstep; the generated sessions
// swipe/slow-swipe/v-swipe/fast-circle/arc-screen-tap/... reproduce the cases that set them).
// Each is the configuration value `recognizer.<key>` listed in kRecognizerKeys.
struct RecognizerDefaults {
    bool enabled = true;
    // s. No gesture is recognised in the first moments after a hand appears (or reappears after
    // a gap in the frames): hands come into view already moving, at up to 1500 mm/s over
    // 130-200 mm, which is a reach, not a swipe. Such an entry is over in 0.2 s.
    float handSettleTime = 0.25f;
    // mm. Another finger becomes the pointing finger only once it reaches this much farther along
    // the hand's direction than the current one. Fingers of an open hand lie within a few mm of
    // each other and trade the lead every few frames; the motion stays continuous across a
    // change either way.
    float pointerSwitchMargin = 10.0f;
    // mm the other fingers may move relative to the palm per mm of the pointing finger's path
    // during a tap, a circle or a swipe of the finger alone. Above it the hand is changing shape
    // (pinch, grab, spreading, drumming fingers) rather than gesturing; a tapping or circling
    // finger moves alone (its neighbours follow by a fifth of its motion at most), while recorded
    // people's pinches, grabs and spreads move the other fingers by 0.3 and more of it, and the
    // finger strokes and circles of their spreading, grabbing and shaking hands by 0.24-0.3 as
    // they start.
    float handMaxShapeRatio = 0.24f;

    // mm the palm (or the pointing finger, for a swipe of one finger) travels in one stroke
    // before a swipe starts. Each stroke of a "V" covers 80-110 mm, less the rounding of the V's
    // corner; recorded people's short flicks cover 60-80 mm.
    float swipeMinLength = 60.0f;
    // mm, as swipeMinLength for a stroke more up or down than sideways. Recorded people's swipes
    // up and down are shorter than their swipes across (the forearm swings up and down about the
    // elbow less freely than it sweeps across the body): a third of them move the palm less than
    // 60 mm. Shorter still lets the vertical strokes of grabs and turning hands through.
    float swipeMinVerticalLength = 50.0f;
    // mm/s the palm or finger must reach in the stroke; the swipe ends below half of it. Recorded
    // people's slower swipes up and down peak at 250-400 mm/s (a tenth of them under 340); a
    // swipe that runs on until the hand is this slow also shows its whole length and way, and
    // whether the hand swings back (a shake). A hand carrying a pinched object across moves at
    // up to about 350 mm/s: 250 would read some carries as swipes.
    float swipeMinSpeed = 300.0f;
    // mm. A stroke that bends no tighter than this (estimated from how far it bows off its
    // chord) starts a swipe at once. Tighter ones may be part of a circle: a fast 140 mm circle
    // has chords as long and as fast as a swipe, and the flatter sides of people's oval circles
    // bend at up to 1.25 times their radius, 200 mm for a wide one. Swipes swung about the elbow
    // bend at 300 mm and more.
    float swipeMinPathRadius = 250.0f;
    // mm. A stroke that bends tighter than swipeMinPathRadius but not tighter than this is a
    // swipe once it ends by slowing down; a circle's arcs never do, they turn on into the next
    // arc. Swipes swung about the wrist or flicked with one finger bend at 100-250 mm (people's
    // slower swipes, measured on recorded skeletons); a fast 140 mm circle at 70 mm.
    float swipeMinBentRadius = 60.0f;
    // Depth per unit of sideways travel allowed in a swipe: swipes go across the view; motion
    // towards or away from the screen (a reach that ends in a tap, drawing the hand back) is not
    // a swipe.
    float swipeMaxDepthRatio = 0.5f;
    // Depth per unit of travel to the side allowed in a swipe that sweeps the arm across the body
    // (at least 120 mm to the side): the hand swings about the shoulder, and arcs towards or away
    // from the screen as it goes (recorded people's swipes to the left sweep forward by 0.55-0.7
    // of their sideways travel). A reach has no such long sideways sweep.
    float swipeMaxSweepDepthRatio = 0.7f;

    // mm, the smallest circle radius.
    float circleMinRadius = 10.0f;
    // Turns of a round path before a circle starts. People's circles take 1 to 1.5 turns; the
    // loops that pinching or grabbing fingers draw take up to 0.8 and are refused by their shape
    // change as well.
    float circleMinTurns = 0.75f;
    // mm/s; slower motion ends a circle (and restarts the path).
    float circleMinSpeed = 60.0f;
    // Root-mean-square distance of the path from the fitted circle, per mm of radius. People draw
    // ovals (up to 2:1, about 0.25); thin out-and-back loops (a reach and return) score more.
    float circleMaxRoughness = 0.3f;

    // mm towards the screen (-z) before turning back.
    float screenTapMinDistance = 12.0f;
    // mm/s towards the screen to start a screen tap.
    float screenTapMinSpeed = 120.0f;
    // mm downwards (-y) before turning back.
    float keyTapMinDistance = 10.0f;
    // mm/s downwards to start a key tap.
    float keyTapMinSpeed = 120.0f;
    // s from the start of a tap's motion to its turning point. People reach forward and then
    // press: up to about 0.5 s.
    float tapMaxDuration = 0.6f;
    // mm along the tap's direction, at most: a press of the finger, or a short reach ending in
    // one, covers up to about 120 mm. A longer reach is read as a whole by the reach tap below,
    // which tells a grab's from a tap's; read here, a grab's closing fingers would make its
    // turning point.
    float tapMaxDistance = 200.0f;
    // Sideways travel allowed per mm of travel along the tap's direction, at its turning point:
    // a reach towards the screen arcs, sideways by 0.7-0.8 of its forward travel.
    float tapMaxLateralRatio = 1.0f;
    // s the finger must have been still (slower than the tap speeds) before a tap starts: a tap
    // begins from rest; fingers that keep moving (drumming, fidgeting) are not tapping.
    float tapMinRest = 0.1f;

    // Taps made by reaching: recorded people tap at the screen by carrying the hand 100-350 mm
    // towards it in 0.2-0.7 s with the pointing finger pressing out ahead of the palm, then hold
    // or draw back. A grab reaches as far and as fast; its fingers close at the end of the reach.
    // mm the pointing fingertip travels towards the screen (-z) in the reach.
    float reachTapMinDistance = 90.0f;
    // mm/s towards the screen the fingertip must reach; a slow push (300 mm in 2 s) is no tap.
    float reachTapMinSpeed = 300.0f;
    // mm the fingertip gains on the palm towards the screen during the reach: the finger points
    // at the screen as the arm carries it. A hand carried forward as a whole (a grab's reach, a
    // push) gains little.
    float reachTapMinLead = 70.0f;
    // mm the fingertip is ahead of the palm towards the screen at the end of the reach.
    float reachTapMinAhead = 70.0f;
    // Sideways and vertical travel allowed per mm of the reach towards the screen: people reach
    // towards a screen in front of them from a hand held off to the side, by up to about 1.2.
    float reachTapMaxLateralRatio = 1.3f;
    // Share of its longest extension during the reach (held for 30 ms) that the pointing finger
    // keeps (its tip's distance from the palm) until the tap is confirmed: a grab closes the
    // fingers to a half.
    float reachTapMinExtension = 0.7f;
    // s from the start of the reach to where it stops.
    float reachTapMaxDuration = 1.0f;
    // mm the thumb's tip keeps from the pointing fingertip until the tap is confirmed: a grab
    // brings them within 10-35 mm of each other as it closes, a tapping hand keeps 45-100 mm.
    float reachTapMinThumbGap = 40.0f;
};

struct RecognizerSettings : RecognizerDefaults {
    static RecognizerSettings fromConfig(const ConfigStore& store);
};

// The recogniser's float settings and their configuration keys: the one list that the
// configuration's defaults and RecognizerSettings::fromConfig are both made from.
struct RecognizerKey {
    const char* key;
    float RecognizerDefaults::*member;
};

inline constexpr std::array<RecognizerKey, 30> kRecognizerKeys{{
    {"recognizer.hand.settle_time", &RecognizerDefaults::handSettleTime},
    {"recognizer.hand.max_shape_ratio", &RecognizerDefaults::handMaxShapeRatio},
    {"recognizer.pointer.switch_margin", &RecognizerDefaults::pointerSwitchMargin},
    {"recognizer.swipe.min_length", &RecognizerDefaults::swipeMinLength},
    {"recognizer.swipe.min_vertical_length", &RecognizerDefaults::swipeMinVerticalLength},
    {"recognizer.swipe.min_speed", &RecognizerDefaults::swipeMinSpeed},
    {"recognizer.swipe.min_path_radius", &RecognizerDefaults::swipeMinPathRadius},
    {"recognizer.swipe.min_bent_radius", &RecognizerDefaults::swipeMinBentRadius},
    {"recognizer.swipe.max_depth_ratio", &RecognizerDefaults::swipeMaxDepthRatio},
    {"recognizer.swipe.max_sweep_depth_ratio", &RecognizerDefaults::swipeMaxSweepDepthRatio},
    {"recognizer.circle.min_radius", &RecognizerDefaults::circleMinRadius},
    {"recognizer.circle.min_turns", &RecognizerDefaults::circleMinTurns},
    {"recognizer.circle.min_speed", &RecognizerDefaults::circleMinSpeed},
    {"recognizer.circle.max_roughness", &RecognizerDefaults::circleMaxRoughness},
    {"recognizer.screen_tap.min_distance", &RecognizerDefaults::screenTapMinDistance},
    {"recognizer.screen_tap.min_speed", &RecognizerDefaults::screenTapMinSpeed},
    {"recognizer.key_tap.min_distance", &RecognizerDefaults::keyTapMinDistance},
    {"recognizer.key_tap.min_speed", &RecognizerDefaults::keyTapMinSpeed},
    {"recognizer.tap.max_duration", &RecognizerDefaults::tapMaxDuration},
    {"recognizer.tap.max_distance", &RecognizerDefaults::tapMaxDistance},
    {"recognizer.tap.max_lateral_ratio", &RecognizerDefaults::tapMaxLateralRatio},
    {"recognizer.tap.min_rest", &RecognizerDefaults::tapMinRest},
    {"recognizer.reach_tap.min_distance", &RecognizerDefaults::reachTapMinDistance},
    {"recognizer.reach_tap.min_speed", &RecognizerDefaults::reachTapMinSpeed},
    {"recognizer.reach_tap.min_lead", &RecognizerDefaults::reachTapMinLead},
    {"recognizer.reach_tap.min_ahead", &RecognizerDefaults::reachTapMinAhead},
    {"recognizer.reach_tap.max_lateral_ratio", &RecognizerDefaults::reachTapMaxLateralRatio},
    {"recognizer.reach_tap.min_extension", &RecognizerDefaults::reachTapMinExtension},
    {"recognizer.reach_tap.max_duration", &RecognizerDefaults::reachTapMaxDuration},
    {"recognizer.reach_tap.min_thumb_gap", &RecognizerDefaults::reachTapMinThumbGap},
}};

// Recognises swipes, circles, screen taps and key taps in the motion of each hand: swipes in the
// palm's motion or in its pointing finger's alone, circles and taps in the motion of its pointing
// finger (the one reaching farthest along the hand's direction, kept until another clearly
// reaches farther; the motion stays continuous when it changes). One motion gives one gesture: a
// circle in progress holds back swipes and taps, a swipe holds back circles and taps, a tap ends
// the path a circle would be drawn on. Deterministic: the same frames after a reset give the same
// gestures with the same ids.
class Recognizer {
  public:
    void reset();
    // Appends the gesture updates this frame completes to `frame.gestures`.
    void process(FrameRecord& frame, const RecognizerSettings& settings);
    // Told why a motion made no gesture (frame timestamp, reason), while set; reset() keeps it.
    using Trace = std::function<void(std::int64_t, std::string_view)>;
    void setTrace(Trace trace) { m_trace = std::move(trace); }

  private:
    struct Sample {
        std::int64_t t = 0;
        Vector p;             // the pointing finger's motion, continuous across pointer changes
        Vector tip;           // the pointing finger's tip
        Vector palm;          // the palm
        float travel = 0.0f;  // path length of p so far, mm
        float shape = 0.0f;   // motion of the other fingers relative to the palm so far, mm
        float speed = 0.0f;   // of p, mm/s
        float palmSpeed = 0.0f;
        float extension = 0.0f;  // the pointing finger's tip from the palm, mm
        float thumbGap = 0.0f;   // the thumb's tip from the pointing finger's, mm
        Vector direction;        // the hand's, from the palm towards the fingers
        Vector normal;           // the palm's, out of its inner side
    };
    // One hand as a frame shows it, or as it is read at a step between two frames.
    struct Reading {
        std::int64_t t = 0;
        HandRecord hand;
        std::vector<PointableRecord> pointables;  // the hand's, from the thumb
    };
    struct Finger {
        std::int32_t id = 0;
        Vector relative;  // tip - palm, smoothed
        Vector anchor;    // trails `relative` by up to the slack
    };
    // A straight run of one point's motion: the palm (a swipe of the whole hand) or the pointing
    // finger (a swipe of one finger, which moves the palm little).
    enum Source { Palm = 0, Pointer = 1 };
    // What last kept a stroke long enough for a swipe from starting one, for the trace.
    enum class Refusal : std::uint8_t { None, Slow, Deep, Shape, Bent, Pressing };
    struct Stroke {
        Sample start;
        float peak = 0.0f;
        Vector heading;     // the point's direction when it was fastest in the stroke
        bool bent = false;  // qualified as a swipe but for its bend: decided when it ends
        std::int64_t hitchSince = -1;  // since when it has been slow or turned; -1: it is not
        Sample hitchFrom;              // where it starts again if that lasts
        Refusal refused = Refusal::None;
        float refusedLength = 0.0f;  // mm, when it was refused
        Vector refusedChord;         // from its start to where it was refused
        float refusedFigure = 0.0f;  // what refused it, in the setting's unit
    };
    // A stroke of the palm long and fast enough to be a shake's, whether a swipe or not.
    struct Swing {
        std::int64_t start = -1;
        std::int64_t end = -1;
        Vector direction;
        Vector from;  // where the palm started
        float length = 0.0f;
        bool returning = false;  // itself the way back of an earlier swing
    };
    struct Track {
        std::int32_t handId = 0;
        std::int32_t pointerId = 0;
        bool hasPointer = false;
        Vector offset;  // added to the pointer's tip: keeps the motion continuous
        std::int64_t firstSeen = 0;
        std::vector<Finger> fingers;
        float shape = 0.0f;
        std::deque<Sample> samples;  // the last second, one a step
        // The motion is read at fixed steps from the hand's first frame (see kStepRate): the last
        // frame's reading of the hand (its time is when the hand was last seen), the next step to
        // read and when the last step was read.
        Reading frame;
        std::int64_t nextStep = 0;
        std::int64_t lastRead = 0;

        // swipe: the current stroke of the palm and of the pointing finger, and the swipe in
        // progress with the stroke it follows
        Stroke strokes[2];
        bool swipeActive = false;
        bool swipeLive = false;  // reported while it goes on
        int swipeSource = 0;
        GestureRecord swipe;
        // a swipe is reported once it has ended and the hand did not swing back (a shake): the
        // ended swipe waiting for that, or reported with its stop due in the next frame
        GestureRecord held;
        std::int64_t heldSince = -1;  // when it ended; -1: none waiting
        int heldSource = 0;
        Vector heldEnd;  // where its point stopped
        float heldLength = 0.0f;
        bool heldStopPending = false;
        std::int64_t shakeAt = -1;    // when a stroke of a shake was last seen
        std::array<Swing, 3> swings;  // the palm's latest swings, the latest first
        Vector shakeDirection;

        // circle: the pointer's path while it moves, and the circle in progress
        std::deque<Sample> path;
        bool circleActive = false;
        GestureRecord circle;
        Vector circleCenter;  // in the motion's coordinates (Sample::p)
        std::int64_t circleStartTime = 0;

        // taps
        bool tapMoving = false;
        std::int64_t restSince = -1;  // -1: moving
        Sample tapStart;
        Sample tapPeak;
        float tapPeakDistance = 0.0f;
        float tapScreenSpeed = 0.0f;  // peak speed towards the screen
        float tapKeySpeed = 0.0f;     // peak speed downwards
        bool tapPendingStop = false;
        GestureRecord tap;
        std::int64_t tapAt = -1;  // when the last tap was reported; -1: none

        // taps made by reaching: the reach's start, its farthest point towards the screen, and
        // when it stopped there (-1: still moving)
        bool reaching = false;
        Sample reachStart;
        Sample reachPeak;
        float reachPeakSpeed = 0.0f;
        float reachExtension = 0.0f;  // the pointing finger's longest during the reach
        std::int64_t reachStoppedAt = -1;
    };
    struct CircleFit {
        Vector center;
        Vector normal;
        float radius = 0.0f;
        float roughness = 0.0f;
        float turns = 0.0f;
    };

    // A new gesture of `type` by the hand's pointing finger, in its start state, with the next id.
    GestureRecord started(const Track& tr, int type);
    void stopAll(Track& tr, FrameRecord& frame, const RecognizerSettings& cfg);
    bool choosePointer(Track& tr, const Reading& reading, const RecognizerSettings& cfg);
    // Reads the hand's motion at one step.
    void step(Track& tr, const Reading& reading, const RecognizerSettings& cfg, FrameRecord& frame);
    // The hand at `t`, between its readings `a` and `b` (a.t < t < b.t), into `out`.
    static void between(const Reading& a, const Reading& b, std::int64_t t, Reading& out);
    // The gestures a frame's steps reported from `first` on: one record per gesture (its last),
    // in its start state if it started in the frame, and its stop after it if it stopped.
    static void mergeSteps(std::vector<GestureRecord>& gestures, std::size_t first);
    // The stops due since the last step or frame: a tap's, a reported swipe's.
    static void stopPending(Track& tr, std::int64_t t, FrameRecord& frame);
    // A frame that fell between two steps: the gestures in progress, as the last step left them.
    static void carryOn(const Track& tr, FrameRecord& frame);
    // The active swipe has ended at `s`: it waits to be reported, unless it swings back against
    // a stroke of a shake that ended just before it, or ended going towards or away from the
    // screen.
    void endSwipe(Track& tr, const Sample& s, const RecognizerSettings& cfg, FrameRecord& frame);
    void reportHeld(Track& tr, FrameRecord& frame);
    void updateSwipe(Track& tr, const Sample& s, const Vector& palmVelocity,
                     const Vector& pointerVelocity, const RecognizerSettings& cfg,
                     FrameRecord& frame);
    void updateCircle(Track& tr, const Sample& s, const RecognizerSettings& cfg,
                      FrameRecord& frame);
    void updateTap(Track& tr, const Sample& s, const Vector& v, const RecognizerSettings& cfg,
                   FrameRecord& frame);
    void updateReachTap(Track& tr, const Sample& s, const RecognizerSettings& cfg,
                        FrameRecord& frame);
    // Reports a tap of `type` that turned at `peak`, and starts the motion anew after it.
    void reportTap(Track& tr, int type, const Sample& start, const Sample& peak, const Sample& s,
                   FrameRecord& frame);
    static bool fitCircle(const std::deque<Sample>& path, std::size_t first, CircleFit& fit);
    static const Vector& pointOf(const Sample& s, int source) {
        return source == Palm ? s.palm : s.p;
    }
    // Whether a stroke of the palm `across` mm across the view (x, y) the way `direction` goes,
    // starting at `start`, brings the hand back from one of `swings` (from `first` on) that went
    // out at least as far the other way within kSwingReturnUs before it.
    static bool bringsBack(const std::array<Swing, 3>& swings, std::size_t first,
                           const Vector& direction, std::int64_t start, float across);
    static float strokeRadius(const Track& tr, const Stroke& stroke, Source source,
                              const Sample& s);
    // Tells the trace why `stroke` of `source` made no swipe.
    void traceRefusal(const Stroke& stroke, Source source, const RecognizerSettings& cfg) const;

    // Tells the trace, when one is set, why the motion made no gesture (printf style), with the
    // time of the frame being read.
    [[gnu::format(printf, 2, 3)]] void why(const char* format, ...) const;

    Trace m_trace;
    std::map<std::int32_t, Track> m_tracks;  // by hand id
    std::vector<std::int32_t> m_seen;        // hands of the frame being processed
    std::int32_t m_nextId = 1;
    std::int64_t m_frameTime = 0;  // the timestamp of the frame being read, for the trace
    Reading m_incoming;            // the frame being read, then the one before it
    Reading m_reading;             // the step being read between two frames
};

}  // namespace Kivo::detail
