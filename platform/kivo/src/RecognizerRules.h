#pragma once
// What the recogniser's rules hold fixed, with the reason for each (the settings table holds what
// users may tune), and the small geometry the rules share. Private to the recogniser's units.
#include "Recognizer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>

namespace Kivo::detail::recognition {

// Steps a second at which a hand's motion is read, whatever the device's frame rate: each step's
// reading lies between the two frames around it. The rules below decide at the first step where a
// stroke, a reach or a press qualifies; read at every frame, a finer or coarser frame rate moved
// that step across a threshold and the same motion gave other gestures at 20, 30, 60 or 120
// frames per second. Thirty a second is the rate the thresholds were measured at, and people's
// gestures hold nothing faster than a tenth of a second that a rule reads.
inline constexpr double kStepRate = 30.0;
// The time of step k after the hand's first frame, which is step 0: frames at 30 a second are read
// as they are, and a tracker's frames that come at about that rate are read close to their time.
inline std::int64_t stepOffset(std::int64_t k) {
    return std::llround(static_cast<double>(k) * 1e6 / kStepRate);
}
// Steps read for one frame, at most: frames further apart than kMaxGapUs start the hand anew.
inline constexpr int kMaxStepsPerFrame = 10;

inline constexpr float kTwoPi = 2.0f * std::numbers::pi_v<float>;
inline constexpr float kInfinity = std::numeric_limits<float>::infinity();

// Velocities are measured over at least this span, so that 25 and 60 frames per second give the
// same readings and a millimetre of landmark noise does not read as speed.
inline constexpr std::int64_t kVelocitySpanUs = 30'000;
// Motion kept per hand: the longest swipe stroke people make lasts well under a second.
inline constexpr std::int64_t kSampleWindowUs = 1'000'000;
// Frames further apart than this (an unplug, a hand leaving and coming back) start the hand anew.
inline constexpr std::int64_t kMaxGapUs = 250'000;
// mm/s: a palm that moves faster than this from one frame to the next was lost and found again
// elsewhere by the tracker (no arm moves the hand at 4 m/s): as after a gap, it starts anew.
inline constexpr float kMaxHandSpeed = 4000.0f;
// How the fingers' positions relative to the palm are smoothed before their motion is summed:
// enough to keep landmark noise from adding up to a shape change, short against a grab (0.3 s).
inline constexpr std::int64_t kFingerSmoothingUs = 40'000;
// mm a smoothed fingertip may wander about its resting place without that counting as motion:
// more than a millimetre or two of landmark noise, less than any deliberate finger motion.
inline constexpr float kFingerSlack = 3.0f;

// Swipes. Below this share of the swipe speed the palm is at rest and its next stroke begins
// there; an active swipe ends below kSwipeEndShare of it, or when its heading turns by more than
// 60 degrees (the corner of a "V"). A stroke that turns by more than 60 degrees from its heading
// where it was fastest starts again at the corner (so the second stroke of a "V" is measured from
// the V's point, and a circle is cut into arcs that each bend too tightly for a swipe).
inline constexpr float kStrokeRestShare = 0.3f;
inline constexpr float kSwipeEndShare = 0.5f;
inline constexpr float kSwipeTurnCos = 0.5f;     // cos 60 degrees
inline constexpr float kStrokeCornerCos = 0.5f;  // cos 60 degrees
inline constexpr float kStrokeCornerMinLength =
    20.0f;  // mm: shorter strokes have no reliable heading
// A stroke rests or turns at a corner only once its point has been slow, or off its heading, for
// this long: a hand does not stop or turn within one frame of a 30 frames per second tracker,
// whose landmarks jump back or stall for a single frame in the middle of recorded people's swipes
// (cutting a 200 mm swipe into pieces too short for one).
inline constexpr std::int64_t kStrokeHitchUs = 30'000;
// mm of a stroke of the palm that only the arm makes: turning the hand about the wrist carries the
// palm's centre, which lies near the forearm's axis, 40-70 mm (recorded people's rotations).
inline constexpr float kArmStrokeLength = 120.0f;
// A stroke of the palm shorter than kArmStrokeLength during which the other fingers move about it
// by more than this many times its length is the hand turning over (or closing, or opening), not
// a swipe: turning the hand carries the palm a little way while the fingertips sweep about it; a
// swipe carries the fingertips along (recorded people's swipes: a median of 1.3, their hands
// turning back to rest after a rotation: 2.2). A longer stroke is the arm's, whatever the hand
// does on it: people roll the wrist as they swipe outwards, and the tracker's fingertips jitter
// (recorded swipes to the right of 110-170 mm moved the fingers by 2.1-2.9 times as much).
inline constexpr float kHandTurnRatio = 2.0f;
// A stroke of the palm shorter than kArmStrokeLength during which the hand's direction turns by
// more than 45 degrees is the hand turning about the wrist (a rotation of it, or its turning back
// to rest after one), not a swipe: the palm swings along a short arc while the fingers stay put
// about it. Recorded people's swipes that short turn the hand by less; it is the arm that
// carries their palm.
inline constexpr float kHandTurnMaxCos = 0.7071f;  // cos 45 degrees
// A stroke of the pointing finger must be this many times swipe.min_length: the fingertip sits
// about twice as far from the wrist as the palm's centre, so the same swing of the hand (a shake
// of the wrist, too) moves it twice as far.
inline constexpr float kPointerStrokeScale = 2.0f;
// A bent stroke ends (and is a swipe) once it slows below this share of its peak speed: a swipe
// brakes to a stop; a circle's finger keeps its speed from one arc to the next.
inline constexpr float kBentEndShare = 0.6f;
// A shake swings the hand back and forth: a swipe whose point comes back (within 45 degrees of
// the way it came) by this share of its length within kShakeWindowUs of its end, or which starts
// within that time of such a stroke along the same line (either way: the way back may have been
// too short for a swipe), is a stroke of a shake. People shake at
// 2-3 swings a second and turn at once (each swing's way back starts within 0.3 s of the last
// one slowing down); a hand drawn back after a swipe rests first, and the second stroke of a V
// turns by 120 degrees at most. Swipes are reported that much after they end.
inline constexpr float kShakeReturnShare = 0.4f;
inline constexpr std::int64_t kShakeWindowUs = 300'000;
inline constexpr float kShakeOppositeCos = -0.7f;  // cos 135 degrees
// mm of the palm (twice that of the pointing finger): the strokes of people's shakes are 60-130 mm
// long (a wrist or forearm swinging fast cannot swing far); a swipe longer than this is no
// shake's, and is reported at once and as it goes on.
inline constexpr float kShakeMaxLength = 200.0f;
// A shake's strokes vary: some are too short or slow for a swipe (the hand pauses at each end, a
// swing falls short), and break the chain of strokes above. The palm's swings are kept as well:
// strokes of at least kSwingShare of a swipe's length and speed. A swipe that starts within
// kShakeWindowUs of the end of a swing the other way, which itself started within that time of
// the end of a swing back the same way as the swipe, is the hand swinging to and fro: the third
// stroke of a shake. A wind-up before a swipe, or a return after one, is a single swing back.
// Strokes that go on the same way after a hitch (the hand slowing, or turning by less than 90
// degrees) make one swing.
// People bring the hand back 0.1-0.3 s after a swipe: a stroke that starts within kShakeWindowUs
// of the end of a swing the other way, and is no longer than it, is that swing's return and no
// swipe (a wind-up before a swipe is shorter than the swipe).
inline constexpr float kSwingShare = 0.5f;
// Many people rest before bringing the hand back, for up to about a second (recorded people's
// returns after swipes up, down and across, and after strokes down that reach towards the screen
// and are no swipes): a stroke back across the view (x, y) within this long after a swing that
// went at least as far out, the swing not itself a return, is its return.
inline constexpr std::int64_t kSwingReturnUs = 1'000'000;

// Circles: the path is sampled every 30 ms (every frame at 25-30 frames per second, every other
// one at 60) over the last 3 s, and fitted from 8 points on.
inline constexpr std::int64_t kPathSpacingUs = 30'000;
inline constexpr std::int64_t kPathWindowUs = 3'000'000;
inline constexpr std::size_t kMinCirclePath = 8;

// Taps: the turning point is confirmed once the finger has come back this far from it (mm, or
// this share of the tap's minimum distance when that is more); a finger that stays at its
// farthest point for longer than kTapMaxHoldUs made no tap (a finger stretching out, a pose).
inline constexpr float kTapMinRetreat = 4.0f;
inline constexpr float kTapRetreatShare = 0.5f;
inline constexpr std::int64_t kTapMaxHoldUs = 300'000;
// A tap goes out and back along a line: its path may bow off the line from its start to its
// turning point by this share of that line's length (a reach towards the screen bows by 0.1;
// a U-turn, by 0.5).
inline constexpr float kTapMaxBow = 0.3f;
// The hand's shape must have held still for this long before a tap starts, as well as during
// it: fingers drumming one after another are not tapping.
inline constexpr std::int64_t kTapShapeLeadUs = 200'000;
// A tap's finger presses alone: during it the other fingers may move about the palm by this share
// of what hand.max_shape_ratio allows a circle or a swipe of the finger, a fifth of the finger's
// path at its default, as far as a pressing finger's neighbours follow it. The fingertips of
// recorded people's swipes, turning hands and grabs that the tracker placed out and back, for a
// frame or a few, came with the other fingers moving by 0.2-0.3 of their path.
inline constexpr float kTapShapeShare = 2.0f / 3.0f;

// Taps made by reaching. The reach starts where the fingertip was farthest from the screen in the
// kReachLookbackUs before it first moved towards it fast enough (people wind up by 0.1-0.3 s), and
// its velocity is taken over kReachVelocitySpanUs: a tracked arm jitters by 10-30 mm from one frame
// to the next, enough to make a reach seem to stop or turn midway. It stops below kReachStopShare
// of its peak speed, or on turning back. The tap is confirmed once the fingertip has held there
// for kReachConfirmUs or come back kReachRetreat mm towards the user, with the finger still out
// and the thumb off it; most grabs close within that time. A fingertip that goes on across the
// view from the press instead (more than kReachMoveOnDistance mm, and kReachMoveOnRatio times as
// far across as back) makes no tap: people start swipes with a reach into the view. One that
// drops (down by more than kReachDropRatio times as far as it goes to the side) is the hand
// lowered after the press: recorded people drop it 90-210 mm within 0.15 s of the press, moving
// 0-50 mm to the side; only its sideways travel counts.
inline constexpr std::int64_t kReachLookbackUs = 400'000;
inline constexpr std::int64_t kReachVelocitySpanUs = 100'000;
inline constexpr float kReachStopShare = 0.3f;
inline constexpr std::int64_t kReachConfirmUs = 350'000;
inline constexpr float kReachRetreat = 50.0f;
inline constexpr float kReachMoveOnDistance = 90.0f;
inline constexpr float kReachMoveOnRatio = 2.0f;
inline constexpr float kReachDropRatio = 2.0f;
// People tap with the palm facing the screen or the floor, as they point or push: where a reach
// stops, the palm's normal points to the side by at most this much (33 degrees off the plane of
// up and depth), and not upwards. A hand turning (a rotation), sweeping into the view for a swipe
// or reaching round something to grab it turns the palm on its side or up as it goes. Recorded
// people's taps turned it by 27 degrees at most; their swipes and rotations that reached as a tap
// does, mostly by 35-90 degrees.
inline constexpr float kReachMaxPalmSide = 0.55f;
// People bring the hand back to rest once a tap is made, lowering it or drawing it back fast
// enough for a swipe: a stroke that starts within this time of a tap's report is its return, not
// a swipe. Recorded people's returns began 0-0.45 s after it, lowering the hand by 100-250 mm or
// raising it by 55-80 mm.
inline constexpr std::int64_t kTapReturnUs = 500'000;

// Whether a swipe's stroke, from its start to where it is now, goes across the view. Its start
// was (swipe.max_depth_ratio, or swipe.max_sweep_depth_ratio for a sweep of the arm), yet it may
// go on towards or away from the screen, deeper than any swipe goes: a reach (people lift the
// hand before reaching for the screen, and the lift started the stroke) or a drawing back. The
// larger of the two settings bounds it. Recorded people's swipes to the left, which arc forward
// the most, end within 0.65 of their travel across the view; their reaches that started with a
// lift, at 0.8-0.95.
inline bool wholeStrokeAcross(const Vector& chord, const RecognizerSettings& cfg) {
    return std::abs(chord.z) <= std::max(cfg.swipeMaxDepthRatio, cfg.swipeMaxSweepDepthRatio) *
                                    std::hypot(chord.x, chord.y);
}

inline std::int64_t toUs(float seconds) {
    return static_cast<std::int64_t>(std::llround(static_cast<double>(seconds) * 1e6));
}

inline Vector onPlane(const Vector& v, const Vector& n) {
    return v - n * v.dot(n);
}

inline float signedAngle(const Vector& a, const Vector& b, const Vector& n) {
    return std::atan2(n.dot(a.cross(b)), a.dot(b));
}

// atan2 within 1e-5 rad, several times cheaper than the library's; used where it runs over
// whole paths.
inline float fastAtan2(float y, float x) {
    const float ax = std::abs(x);
    const float ay = std::abs(y);
    const float hi = std::max(ax, ay);
    if (hi == 0.0f) {
        return 0.0f;
    }
    const float a = std::min(ax, ay) / hi;
    const float s = a * a;
    float r = ((-0.0464964749f * s + 0.15931422f) * s - 0.327622764f) * s * a + a;
    if (ay > ax) {
        r = 0.5f * std::numbers::pi_v<float> - r;
    }
    if (x < 0.0f) {
        r = std::numbers::pi_v<float> - r;
    }
    return y < 0.0f ? -r : r;
}

}  // namespace Kivo::detail::recognition
