#include "Recognizer.h"

#include "ConfigStore.h"

#include <kivo/Gesture.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace Kivo::detail {

namespace {

constexpr float kTwoPi = 2.0f * std::numbers::pi_v<float>;
constexpr float kInfinity = std::numeric_limits<float>::infinity();

// Velocities are measured over at least this span, so that 25 and 60 frames per second give the
// same readings and a millimetre of landmark noise does not read as speed.
constexpr std::int64_t kVelocitySpanUs = 30'000;
// Motion kept per hand: the longest swipe stroke people make lasts well under a second.
constexpr std::int64_t kSampleWindowUs = 1'000'000;
// Frames further apart than this (an unplug, a hand leaving and coming back) start the hand anew.
constexpr std::int64_t kMaxGapUs = 250'000;
// mm/s: a palm that moves faster than this from one frame to the next was lost and found again
// elsewhere by the tracker (no arm moves the hand at 4 m/s): as after a gap, it starts anew.
constexpr float kMaxHandSpeed = 4000.0f;
// How the fingers' positions relative to the palm are smoothed before their motion is summed:
// enough to keep landmark noise from adding up to a shape change, short against a grab (0.3 s).
constexpr std::int64_t kFingerSmoothingUs = 40'000;
// mm a smoothed fingertip may wander about its resting place without that counting as motion:
// more than a millimetre or two of landmark noise, less than any deliberate finger motion.
constexpr float kFingerSlack = 3.0f;

// Swipes. Below this share of the swipe speed the palm is at rest and its next stroke begins
// there; an active swipe ends below kSwipeEndShare of it, or when its heading turns by more than
// 60 degrees (the corner of a "V"). A stroke that turns by more than 60 degrees from its heading
// where it was fastest starts again at the corner (so the second stroke of a "V" is measured from
// the V's point, and a circle is cut into arcs that each bend too tightly for a swipe).
constexpr float kStrokeRestShare = 0.3f;
constexpr float kSwipeEndShare = 0.5f;
constexpr float kSwipeTurnCos = 0.5f;            // cos 60 degrees
constexpr float kStrokeCornerCos = 0.5f;         // cos 60 degrees
constexpr float kStrokeCornerMinLength = 20.0f;  // mm: shorter strokes have no reliable heading
// A stroke rests or turns at a corner only once its point has been slow, or off its heading, for
// this long: a hand does not stop or turn within one frame of a 30 frames per second tracker,
// whose landmarks jump back or stall for a single frame in the middle of recorded people's swipes
// (cutting a 200 mm swipe into pieces too short for one).
constexpr std::int64_t kStrokeHitchUs = 30'000;
// mm of a stroke of the palm that only the arm makes: turning the hand about the wrist carries the
// palm's centre, which lies near the forearm's axis, 40-70 mm (recorded people's rotations).
constexpr float kArmStrokeLength = 120.0f;
// A stroke of the palm shorter than kArmStrokeLength during which the other fingers move about it
// by more than this many times its length is the hand turning over (or closing, or opening), not
// a swipe: turning the hand carries the palm a little way while the fingertips sweep about it; a
// swipe carries the fingertips along (recorded people's swipes: a median of 1.3, their hands
// turning back to rest after a rotation: 2.2). A longer stroke is the arm's, whatever the hand
// does on it: people roll the wrist as they swipe outwards, and the tracker's fingertips jitter
// (recorded swipes to the right of 110-170 mm moved the fingers by 2.1-2.9 times as much).
constexpr float kHandTurnRatio = 2.0f;
// A stroke of the palm shorter than kArmStrokeLength during which the hand's direction turns by
// more than 45 degrees is the hand turning about the wrist (a rotation of it, or its turning back
// to rest after one), not a swipe: the palm swings along a short arc while the fingers stay put
// about it. Recorded people's swipes that short turn the hand by less; it is the arm that
// carries their palm.
constexpr float kHandTurnMaxCos = 0.7071f;  // cos 45 degrees
// A stroke of the pointing finger must be this many times swipe.min_length: the fingertip sits
// about twice as far from the wrist as the palm's centre, so the same swing of the hand (a shake
// of the wrist, too) moves it twice as far.
constexpr float kPointerStrokeScale = 2.0f;
// A bent stroke ends (and is a swipe) once it slows below this share of its peak speed: a swipe
// brakes to a stop; a circle's finger keeps its speed from one arc to the next.
constexpr float kBentEndShare = 0.6f;
// A shake swings the hand back and forth: a swipe whose point comes back (within 45 degrees of
// the way it came) by this share of its length within kShakeWindowUs of its end, or which starts
// within that time of such a stroke along the same line (either way: the way back may have been
// too short for a swipe), is a stroke of a shake. People shake at
// 2-3 swings a second and turn at once (each swing's way back starts within 0.3 s of the last
// one slowing down); a hand drawn back after a swipe rests first, and the second stroke of a V
// turns by 120 degrees at most. Swipes are reported that much after they end.
constexpr float kShakeReturnShare = 0.4f;
constexpr std::int64_t kShakeWindowUs = 300'000;
constexpr float kShakeOppositeCos = -0.7f;  // cos 135 degrees
// mm of the palm (twice that of the pointing finger): the strokes of people's shakes are 60-130 mm
// long (a wrist or forearm swinging fast cannot swing far); a swipe longer than this is no
// shake's, and is reported at once and as it goes on.
constexpr float kShakeMaxLength = 200.0f;
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
constexpr float kSwingShare = 0.5f;

// Circles: the path is sampled every 30 ms (every frame at 25-30 frames per second, every other
// one at 60) over the last 3 s, and fitted from 8 points on.
constexpr std::int64_t kPathSpacingUs = 30'000;
constexpr std::int64_t kPathWindowUs = 3'000'000;
constexpr std::size_t kMinCirclePath = 8;

// Taps: the turning point is confirmed once the finger has come back this far from it (mm, or
// this share of the tap's minimum distance when that is more); a finger that stays at its
// farthest point for longer than kTapMaxHoldUs made no tap (a finger stretching out, a pose).
constexpr float kTapMinRetreat = 4.0f;
constexpr float kTapRetreatShare = 0.5f;
constexpr std::int64_t kTapMaxHoldUs = 300'000;
// A tap goes out and back along a line: its path may bow off the line from its start to its
// turning point by this share of that line's length (a reach towards the screen bows by 0.1;
// a U-turn, by 0.5).
constexpr float kTapMaxBow = 0.3f;
// The hand's shape must have held still for this long before a tap starts, as well as during
// it: fingers drumming one after another are not tapping.
constexpr std::int64_t kTapShapeLeadUs = 200'000;

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
constexpr std::int64_t kReachLookbackUs = 400'000;
constexpr std::int64_t kReachVelocitySpanUs = 100'000;
constexpr float kReachStopShare = 0.3f;
constexpr std::int64_t kReachConfirmUs = 350'000;
constexpr float kReachRetreat = 50.0f;
constexpr float kReachMoveOnDistance = 90.0f;
constexpr float kReachMoveOnRatio = 2.0f;
constexpr float kReachDropRatio = 2.0f;

float floatOr(const ConfigStore& store, const char* key, float fallback) {
    const auto v = store.get(key);
    return v.type == Config::Float ? v.f : fallback;
}

std::int64_t toUs(float seconds) {
    return static_cast<std::int64_t>(std::llround(static_cast<double>(seconds) * 1e6));
}

Vector onPlane(const Vector& v, const Vector& n) {
    return v - n * v.dot(n);
}

float signedAngle(const Vector& a, const Vector& b, const Vector& n) {
    return std::atan2(n.dot(a.cross(b)), a.dot(b));
}

// atan2 within 1e-5 rad, several times cheaper than the library's; used where it runs over
// whole paths.
float fastAtan2(float y, float x) {
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

}  // namespace

RecognizerSettings RecognizerSettings::fromConfig(const ConfigStore& store) {
    RecognizerSettings s;
    const auto enabled = store.get("recognizer.enabled");
    s.enabled = enabled.type == Config::Bool ? enabled.b : true;
    for (const auto& k : kRecognizerKeys) {
        s.*k.member = floatOr(store, k.key, s.*k.member);
    }
    return s;
}

void Recognizer::reset() {
    m_tracks.clear();
    m_nextId = 1;
}

void Recognizer::endSwipe(Track& tr, const Sample& s, FrameRecord& frame) {
    tr.swipeActive = false;
    if (tr.heldSince >= 0) {
        // The swipe before did not swing back: this one went on another way (a V's second stroke).
        reportHeld(tr, frame);
        tr.held.state = Gesture::StateStop;
        frame.gestures.push_back(tr.held);
        tr.heldStopPending = false;
    }
    const int source = tr.swipeSource;
    const Stroke& stroke = tr.strokes[source];
    // The palm's last two swings before this stroke, the later first.
    const Swing* before[2] = {nullptr, nullptr};
    for (const Swing& w : tr.swings) {
        if (w.end < 0 || w.end > stroke.start.t + kShakeWindowUs / 2) {
            continue;
        }
        if (before[0] == nullptr) {
            before[0] = &w;
        } else if (before[1] == nullptr && w.end <= before[0]->start + kShakeWindowUs / 2) {
            before[1] = &w;
        }
    }
    const bool backAfterSwing = before[0] != nullptr &&
                                stroke.start.t - before[0]->end <= kShakeWindowUs &&
                                tr.swipe.direction.dot(before[0]->direction) < kShakeOppositeCos;
    // A stroke straight back after a swing at least as long is that swing's return.
    if (backAfterSwing && before[0]->length >= s.palm.distanceTo(stroke.start.palm)) {
        return;
    }
    const bool swungToAndFro = backAfterSwing && before[1] != nullptr &&
                               before[0]->start - before[1]->end <= kShakeWindowUs &&
                               before[0]->direction.dot(before[1]->direction) < kShakeOppositeCos;
    if (swungToAndFro ||
        (tr.shakeAt >= 0 && stroke.start.t - tr.shakeAt <= kShakeWindowUs &&
         std::abs(tr.swipe.direction.dot(tr.shakeDirection)) > -kShakeOppositeCos)) {
        // The stroke back (or on, or again) of a shake: so is this one.
        tr.shakeAt = s.t;
        tr.shakeDirection = tr.swipe.direction;
        return;
    }
    tr.held = tr.swipe;
    tr.heldSince = s.t;
    tr.heldSource = source;
    tr.heldEnd = pointOf(s, source);
    tr.heldLength = tr.heldEnd.distanceTo(pointOf(stroke.start, source));
}

void Recognizer::reportHeld(Track& tr, FrameRecord& frame) {
    tr.held.id = m_nextId++;
    tr.held.state = Gesture::StateStart;
    frame.gestures.push_back(tr.held);
    tr.heldSince = -1;
    tr.heldStopPending = true;
}

GestureRecord Recognizer::started(const Track& tr, int type) {
    GestureRecord g;
    g.id = m_nextId++;
    g.type = type;
    g.state = Gesture::StateStart;
    g.handId = tr.handId;
    g.pointableId = tr.pointerId;
    return g;
}

void Recognizer::stopAll(Track& tr, FrameRecord& frame) {
    if (tr.heldStopPending) {
        tr.held.state = Gesture::StateStop;
        frame.gestures.push_back(tr.held);
        tr.heldStopPending = false;
    }
    if (tr.swipeActive && tr.swipeLive) {
        tr.swipe.state = Gesture::StateStop;
        frame.gestures.push_back(tr.swipe);
    } else if (tr.swipeActive && !tr.samples.empty()) {
        endSwipe(tr, tr.samples.back(), frame);
    }
    // The hand left with the swipe ended: no swing back can follow.
    if (tr.heldSince >= 0) {
        reportHeld(tr, frame);
        tr.held.state = Gesture::StateStop;
        frame.gestures.push_back(tr.held);
    }
    if (tr.circleActive) {
        tr.circle.state = Gesture::StateStop;
        frame.gestures.push_back(tr.circle);
    }
    if (tr.tapPendingStop) {
        tr.tap.state = Gesture::StateStop;
        frame.gestures.push_back(tr.tap);
    } else if (tr.reaching && tr.reachStoppedAt >= 0 && !tr.samples.empty()) {
        // The hand left holding the press, with the finger still out: nothing can undo the tap.
        reportTap(tr, Gesture::ScreenTap, tr.reachStart, tr.reachPeak, tr.samples.back(), frame);
        tr.tap.state = Gesture::StateStop;
        frame.gestures.push_back(tr.tap);
    }
    tr = Track{};
}

bool Recognizer::choosePointer(Track& tr, const HandRecord& hand, const FrameRecord& frame,
                               const RecognizerSettings& cfg) {
    const PointableRecord* best = nullptr;
    const PointableRecord* current = nullptr;
    float bestReach = -kInfinity;
    float currentReach = -kInfinity;
    for (const auto& p : frame.pointables) {
        if (p.handId != hand.id) {
            continue;
        }
        const float reach = (p.tipPosition - hand.palmPosition).dot(hand.direction);
        if (reach > bestReach) {
            bestReach = reach;
            best = &p;
        }
        if (tr.hasPointer && p.id == tr.pointerId) {
            current = &p;
            currentReach = reach;
        }
    }
    if (best == nullptr) {
        return false;
    }
    const PointableRecord* chosen = current;
    if (current == nullptr ||
        (best != current && bestReach > currentReach + cfg.pointerSwitchMargin)) {
        chosen = best;
    }
    if (chosen != current) {
        // The motion carries on from where it was: from the old finger's tip when it is still
        // there, from the last position otherwise.
        const Vector before = current != nullptr   ? current->tipPosition + tr.offset
                              : tr.samples.empty() ? chosen->tipPosition
                                                   : tr.samples.back().p;
        tr.offset = tr.hasPointer ? before - chosen->tipPosition : Vector{};
        tr.pointerId = chosen->id;
        tr.hasPointer = true;
    }

    // How much the other fingers moved relative to the palm since the last frame: each finger's
    // smoothed position drags an anchor behind it on a kFingerSlack leash, and the anchor's
    // motion is what counts, so that landmark noise, which stays within the leash, adds nothing.
    const float dt = static_cast<float>(frame.timestamp - tr.lastSeen);
    const float alpha =
        tr.fingers.empty() ? 1.0f : dt / (static_cast<float>(kFingerSmoothingUs) + dt);
    float moved = 0.0f;
    std::size_t kept = 0;
    for (const auto& p : frame.pointables) {
        if (p.handId != hand.id) {
            continue;
        }
        const Vector relative = p.tipPosition - hand.palmPosition;
        auto it = std::find_if(tr.fingers.begin() + static_cast<std::ptrdiff_t>(kept),
                               tr.fingers.end(), [&](const Finger& f) { return f.id == p.id; });
        if (it == tr.fingers.end()) {
            tr.fingers.insert(tr.fingers.begin() + static_cast<std::ptrdiff_t>(kept),
                              Finger{p.id, relative, relative});
        } else {
            std::iter_swap(it, tr.fingers.begin() + static_cast<std::ptrdiff_t>(kept));
            Finger& f = tr.fingers[kept];
            f.relative += (relative - f.relative) * alpha;
            const Vector pull = f.relative - f.anchor;
            const float beyond = pull.magnitude() - kFingerSlack;
            if (beyond > 0.0f) {
                f.anchor += pull.normalized() * beyond;
                if (p.id != chosen->id) {
                    moved = std::max(moved, beyond);
                }
            }
        }
        ++kept;
    }
    tr.fingers.resize(kept);
    tr.shape += moved;
    return true;
}

void Recognizer::process(FrameRecord& frame, const RecognizerSettings& cfg) {
    if (!cfg.enabled) {
        m_tracks.clear();
        return;
    }
    const std::int64_t t = frame.timestamp;
    m_seen.clear();
    for (const auto& hand : frame.hands) {
        m_seen.push_back(hand.id);
        auto it = m_tracks.find(hand.id);
        if (it != m_tracks.end() &&
            (t - it->second.lastSeen > kMaxGapUs ||
             (t > it->second.lastSeen && !it->second.samples.empty() &&
              hand.palmPosition.distanceTo(it->second.samples.back().palm) >
                  kMaxHandSpeed * 1e-6f * static_cast<float>(t - it->second.lastSeen)))) {
            stopAll(it->second, frame);
            m_tracks.erase(it);
            it = m_tracks.end();
        }
        const bool fresh = it == m_tracks.end();
        if (fresh) {
            it = m_tracks.emplace(hand.id, Track{}).first;
            it->second.handId = hand.id;
            it->second.firstSeen = t;
        } else if (t <= it->second.lastSeen) {
            continue;  // no time has passed: nothing to measure
        }
        Track& tr = it->second;
        if (!choosePointer(tr, hand, frame, cfg)) {
            stopAll(tr, frame);
            m_tracks.erase(it);
            continue;
        }
        tr.lastSeen = t;
        if (t - tr.firstSeen < toUs(cfg.handSettleTime)) {
            continue;  // a hand coming into view: watched, not yet read
        }
        // The device lists a hand's fingers from the thumb.
        const PointableRecord* pointer = nullptr;
        const PointableRecord* thumb = nullptr;
        for (const auto& p : frame.pointables) {
            if (p.handId != hand.id) {
                continue;
            }
            if (thumb == nullptr) {
                thumb = &p;
            }
            if (p.id == tr.pointerId) {
                pointer = &p;
            }
        }
        if (tr.tapPendingStop) {
            tr.tap.state = Gesture::StateStop;
            tr.tap.duration = t - tr.tapStart.t;
            frame.gestures.push_back(tr.tap);
            tr.tapPendingStop = false;
        }

        Sample s;
        s.t = t;
        s.tip = pointer->tipPosition;
        s.p = s.tip + tr.offset;
        s.palm = hand.palmPosition;
        s.direction = hand.direction;
        s.shape = tr.shape;
        s.extension = s.tip.distanceTo(s.palm);
        s.thumbGap = thumb == pointer ? kInfinity : s.tip.distanceTo(thumb->tipPosition);
        Vector v;
        Vector palmV;
        if (!tr.samples.empty()) {
            s.travel = tr.samples.back().travel + s.p.distanceTo(tr.samples.back().p);
            const Sample* ref = &tr.samples.front();
            for (auto r = tr.samples.rbegin(); r != tr.samples.rend(); ++r) {
                if (t - r->t >= kVelocitySpanUs) {
                    ref = &*r;
                    break;
                }
            }
            const float dt = static_cast<float>(t - ref->t) * 1e-6f;
            v = (s.p - ref->p) / dt;
            palmV = (s.palm - ref->palm) / dt;
        }
        s.speed = v.magnitude();
        s.palmSpeed = palmV.magnitude();
        tr.samples.push_back(s);
        while (tr.samples.size() > 2 && t - tr.samples.front().t > kSampleWindowUs) {
            tr.samples.pop_front();
        }
        updateCircle(tr, s, cfg, frame);
        updateSwipe(tr, s, palmV, v, cfg, frame);
        updateTap(tr, s, v, cfg, frame);
        updateReachTap(tr, s, cfg, frame);
    }
    for (auto it = m_tracks.begin(); it != m_tracks.end();) {
        if (std::find(m_seen.begin(), m_seen.end(), it->first) == m_seen.end()) {
            stopAll(it->second, frame);
            it = m_tracks.erase(it);
        } else {
            ++it;
        }
    }
}

// The radius of the arc a stroke bends along, from how far it bows off its chord: for an arc,
// the sagitta is chord^2 / (8 radius), and the mean offset of a path sampled evenly along its
// length is two thirds of it. Noise averages out; a straight stroke gives infinity.
float Recognizer::strokeRadius(const Track& tr, const Stroke& stroke, Source source,
                               const Sample& s) {
    const Vector& origin = pointOf(stroke.start, source);
    const Vector chord = pointOf(s, source) - origin;
    const float length = chord.magnitude();
    if (length <= 0.0f) {
        return kInfinity;
    }
    const Vector along = chord / length;
    Vector sum;
    float weights = 0.0f;
    Vector previous = origin;
    for (const auto& q : tr.samples) {
        if (q.t <= stroke.start.t) {
            continue;
        }
        const Vector& at = pointOf(q, source);
        const float w = at.distanceTo(previous);
        previous = at;
        const Vector d = at - origin;
        sum += (d - along * d.dot(along)) * w;
        weights += w;
    }
    const float sagitta = weights > 0.0f ? 1.5f * sum.magnitude() / weights : 0.0f;
    return sagitta > 0.0f ? length * length / (8.0f * sagitta) : kInfinity;
}

void Recognizer::updateSwipe(Track& tr, const Sample& s, const Vector& palmV, const Vector& v,
                             const RecognizerSettings& cfg, FrameRecord& frame) {
    const std::size_t n = tr.samples.size();
    const Sample& previous = n >= 2 ? tr.samples[n - 2] : s;
    const auto restart = [&](Stroke& stroke, const Sample& from) {
        if (&stroke == &tr.strokes[Palm] && stroke.peak >= kSwingShare * cfg.swipeMinSpeed) {
            const Vector chord = s.palm - stroke.start.palm;
            Swing& last = tr.swings[0];
            if (last.end >= 0 && stroke.start.t - last.end <= kShakeWindowUs &&
                chord.dot(last.direction) >= 0.0f) {
                // On the same way after a hitch: the same swing.
                last.direction = (last.direction + chord.normalized()).normalized();
                last.end = s.t;
                last.length = s.palm.distanceTo(last.from);
            } else if (chord.magnitude() >= kSwingShare * cfg.swipeMinLength) {
                std::rotate(tr.swings.rbegin(), tr.swings.rbegin() + 1, tr.swings.rend());
                tr.swings[0] = {stroke.start.t, s.t, chord.normalized(), stroke.start.palm,
                                chord.magnitude()};
            }
        }
        stroke.start = from;
        stroke.peak = 0.0f;
        stroke.bent = false;
        stroke.hitchSince = -1;
    };
    const auto speedOf = [&](int source) { return source == Palm ? s.palmSpeed : s.speed; };
    const auto velocityOf = [&](int source) { return source == Palm ? palmV : v; };
    // A swipe is reported once it has ended and the hand has not swung back within
    // kShakeWindowUs: the strokes of a shake are as long, fast and straight as swipes, but each is
    // followed (or preceded) at once by one the other way.
    if (tr.heldStopPending) {
        tr.held.state = Gesture::StateStop;
        frame.gestures.push_back(tr.held);
        tr.heldStopPending = false;
    }
    if (tr.heldSince >= 0) {
        const Vector since = tr.heldEnd - pointOf(s, tr.heldSource);
        const float back = since.dot(tr.held.direction);
        if (back > kShakeReturnShare * tr.heldLength &&
            back > -kShakeOppositeCos * since.magnitude()) {
            tr.heldSince = -1;
            tr.shakeAt = s.t;
            tr.shakeDirection = tr.held.direction;
        } else if (s.t - tr.heldSince >= kShakeWindowUs) {
            reportHeld(tr, frame);
        }
    }
    if (tr.swipeActive) {
        const int source = tr.swipeSource;
        const float speed = speedOf(source);
        const bool turned = velocityOf(source).dot(tr.swipe.direction) < kSwipeTurnCos * speed;
        const bool slow = speed < kSwipeEndShare * cfg.swipeMinSpeed;
        Stroke& stroke = tr.strokes[source];
        tr.swipe.position = s.tip;
        if (!turned) {
            tr.swipe.direction = (pointOf(s, source) - pointOf(stroke.start, source)).normalized();
        }
        // A swipe reported after its end gives the speed it peaked at; one reported as it goes on,
        // its speed then.
        tr.swipe.speed = tr.swipeLive ? speed : std::max(tr.swipe.speed, speed);
        tr.swipe.duration = s.t - stroke.start.t;
        // Longer than any stroke of a shake: reported at once, and as it goes on.
        bool startsNow = false;
        if (!tr.swipeLive &&
            pointOf(s, source).distanceTo(pointOf(stroke.start, source)) >=
                (source == Pointer ? kPointerStrokeScale : 1.0f) * kShakeMaxLength) {
            tr.swipe.id = m_nextId++;
            tr.swipe.state = Gesture::StateStart;
            frame.gestures.push_back(tr.swipe);
            tr.swipeLive = true;
            startsNow = true;
        }
        if (slow || turned) {
            if (tr.swipeLive) {
                tr.swipe.state = Gesture::StateStop;
                frame.gestures.push_back(tr.swipe);
                tr.swipeActive = false;
                tr.swipeLive = false;
            } else {
                endSwipe(tr, s, frame);
            }
            for (auto& other : tr.strokes) {
                restart(other, turned ? previous : s);
            }
        } else if (tr.swipeLive && !startsNow) {
            tr.swipe.state = Gesture::StateUpdate;
            frame.gestures.push_back(tr.swipe);
        }
        return;
    }
    // Starts the swipe of `stroke`; false where the hand turned (over, or about the wrist) rather
    // than moved.
    const auto begin = [&](const Stroke& stroke, Source source, float speed) {
        const Vector chord = pointOf(s, source) - pointOf(stroke.start, source);
        if (source == Palm && chord.magnitude() < kArmStrokeLength &&
            (s.shape - stroke.start.shape > kHandTurnRatio * chord.magnitude() ||
             s.direction.dot(stroke.start.direction) < kHandTurnMaxCos)) {
            return false;
        }
        // Its id is given when it is reported.
        tr.swipe = GestureRecord{};
        tr.swipe.type = Gesture::Swipe;
        tr.swipe.handId = tr.handId;
        tr.swipe.pointableId = tr.pointerId;
        tr.swipe.startPosition = stroke.start.tip;
        tr.swipe.position = s.tip;
        tr.swipe.direction = chord.normalized();
        tr.swipe.speed = speed;
        tr.swipe.duration = s.t - stroke.start.t;
        tr.swipeActive = true;
        tr.swipeLive = false;
        tr.swipeSource = source;
        // The swipe is the motion: no circle or tap is read in it.
        tr.path.clear();
        tr.tapMoving = false;
        return true;
    };
    // Up and down strokes are shorter than sideways ones: the forearm swings up and down about
    // the elbow less freely than it sweeps across the body.
    const auto minLengthOf = [&](const Vector& chord, int source) {
        const float length =
            std::abs(chord.y) > std::abs(chord.x) ? cfg.swipeMinVerticalLength : cfg.swipeMinLength;
        return source == Pointer ? kPointerStrokeScale * length : length;
    };
    // A reach that stopped where a tap may have pressed starts no swipe until the tap is decided:
    // drawing the hand back down and away is no swipe.
    const bool pressing = tr.reaching && tr.reachStoppedAt >= 0;
    for (const Source source : {Palm, Pointer}) {
        Stroke& stroke = tr.strokes[source];
        const float speed = speedOf(source);
        const Vector velocity = velocityOf(source);
        if (const Vector chord = pointOf(s, source) - pointOf(stroke.start, source);
            stroke.bent && !tr.circleActive && speed < kBentEndShare * stroke.peak &&
            chord.magnitude() >= minLengthOf(chord, source)) {
            // A bent stroke that slowed down without turning into a circle was a swipe.
            if (!pressing && begin(stroke, source, speed)) {
                return;
            }
        }
        if (n == 1) {
            restart(stroke, s);
            continue;
        }
        Vector chord = pointOf(s, source) - pointOf(stroke.start, source);
        float length = chord.magnitude();
        const bool resting = speed < kStrokeRestShare * cfg.swipeMinSpeed;
        // Faster than its peak, it is the stroke's heading that changes (below).
        const bool turning = !resting && speed <= stroke.peak && length > kStrokeCornerMinLength &&
                             velocity.dot(stroke.heading) < kStrokeCornerCos * speed;
        if (resting || turning) {
            // A single slow or turned reading is the tracker's, and the stroke goes on through it;
            // once it lasts, the stroke starts anew where it began.
            if (stroke.hitchSince < 0) {
                stroke.hitchSince = s.t;
                stroke.hitchFrom = resting ? s : previous;
            }
            if (s.t - stroke.hitchSince < kStrokeHitchUs) {
                continue;
            }
            const Sample from = stroke.hitchFrom;
            restart(stroke, from);
            if (resting) {
                continue;
            }
            stroke.peak = speed;
            stroke.heading = velocity / speed;
            chord = pointOf(s, source) - pointOf(stroke.start, source);
            length = chord.magnitude();
        } else {
            stroke.hitchSince = -1;
        }
        if (speed > stroke.peak) {
            stroke.peak = speed;
            stroke.heading = velocity / speed;
        }
        const float minLength = minLengthOf(chord, source);
        // Across the view; a sweep of the arm across the body (an arm's stroke to the side) may
        // arc towards or away from the screen as it swings about the shoulder, while a hand
        // turning about the wrist does not carry the palm that far.
        const float depth = std::abs(chord.z);
        const bool across = depth <= cfg.swipeMaxDepthRatio * std::hypot(chord.x, chord.y) ||
                            (std::abs(chord.x) >= kArmStrokeLength &&
                             depth <= cfg.swipeMaxSweepDepthRatio * std::abs(chord.x));
        if (tr.circleActive || stroke.peak < cfg.swipeMinSpeed ||
            speed < kSwipeEndShare * cfg.swipeMinSpeed || length < minLength || !across) {
            continue;
        }
        // A finger sweeping alone keeps the hand's shape; a finger that moves while the others
        // move about the palm is the hand changing shape (a pinch, a grab), not a swipe.
        if (source == Pointer && s.shape - stroke.start.shape >
                                     cfg.handMaxShapeRatio * (s.travel - stroke.start.travel)) {
            continue;
        }
        const float radius = strokeRadius(tr, stroke, source, s);
        if (radius >= cfg.swipeMinPathRadius && !pressing && begin(stroke, source, speed)) {
            return;
        }
        // Bent like the arc of a circle or of a swipe swung about the wrist: which one shows
        // when the stroke ends, by slowing down (a swipe) or by turning on (a circle).
        stroke.bent = stroke.bent || radius >= cfg.swipeMinBentRadius;
    }
}

// Fits a circle to path[first..]: the plane from the path's turning, then the least-squares
// (algebraic) circle in it, the spread of the points about it, and the turns swept about its
// centre. False for a path with no turning or on a line.
bool Recognizer::fitCircle(const std::deque<Sample>& path, std::size_t first, CircleFit& fit) {
    const std::size_t n = path.size() - first;
    Vector g;
    for (std::size_t i = first; i < path.size(); ++i) {
        g += path[i].p;
    }
    g = g / static_cast<float>(n);
    Vector turning;
    for (std::size_t i = first; i + 1 < path.size(); ++i) {
        turning += (path[i].p - g).cross(path[i + 1].p - g);
    }
    const Vector normal = turning.normalized();
    if (normal == Vector{}) {
        return false;
    }
    const Vector u = (std::abs(normal.x) < 0.9f ? normal.cross({1.0f, 0.0f, 0.0f})
                                                : normal.cross({0.0f, 1.0f, 0.0f}))
                         .normalized();
    const Vector w = normal.cross(u);
    double suu = 0, suv = 0, svv = 0, suuu = 0, svvv = 0, suvv = 0, svuu = 0;
    for (std::size_t i = first; i < path.size(); ++i) {
        const Vector d = path[i].p - g;
        const double x = d.dot(u);
        const double y = d.dot(w);
        suu += x * x;
        suv += x * y;
        svv += y * y;
        suuu += x * x * x;
        svvv += y * y * y;
        suvv += x * y * y;
        svuu += y * x * x;
    }
    const double det = suu * svv - suv * suv;
    if (!(det > 1e-9 * (suu + svv) * (suu + svv))) {
        return false;
    }
    const double rx = 0.5 * (suuu + suvv);
    const double ry = 0.5 * (svvv + svuu);
    const auto a = static_cast<float>((rx * svv - ry * suv) / det);
    const auto b = static_cast<float>((ry * suu - rx * suv) / det);
    const float radius =
        std::sqrt(a * a + b * b + static_cast<float>((suu + svv) / static_cast<double>(n)));
    float spread = 0.0f;
    float swept = 0.0f;
    float px = 0.0f;
    float py = 0.0f;
    for (std::size_t i = first; i < path.size(); ++i) {
        const Vector d = path[i].p - g;
        const float x = d.dot(u) - a;
        const float y = d.dot(w) - b;
        const float r = std::sqrt(x * x + y * y);
        spread += (r - radius) * (r - radius);
        if (i > first) {
            swept += fastAtan2(px * y - py * x, px * x + py * y);
        }
        px = x;
        py = y;
    }
    fit.center = g + u * a + w * b;
    fit.normal = normal;
    fit.radius = radius;
    fit.roughness = radius > 0.0f ? std::sqrt(spread / static_cast<float>(n)) / radius : kInfinity;
    fit.turns = swept / kTwoPi;
    return true;
}

void Recognizer::updateCircle(Track& tr, const Sample& s, const RecognizerSettings& cfg,
                              FrameRecord& frame) {
    const auto stop = [&] {
        tr.circle.state = Gesture::StateStop;
        tr.circle.duration = s.t - tr.circleStartTime;
        frame.gestures.push_back(tr.circle);
        tr.circleActive = false;
        tr.path.clear();
    };
    if (tr.swipeActive) {
        tr.path.clear();
        return;
    }
    if (s.speed < cfg.circleMinSpeed) {
        if (tr.circleActive) {
            stop();
        }
        tr.path.clear();
        return;
    }
    const bool appended = tr.path.empty() || s.t - tr.path.back().t >= kPathSpacingUs;
    if (appended) {
        tr.path.push_back(s);
        while (s.t - tr.path.front().t > kPathWindowUs) {
            tr.path.pop_front();
        }
    }
    if (tr.circleActive) {
        const std::size_t n = tr.samples.size();
        if (n < 2) {
            return;
        }
        CircleFit fit;
        if (appended && tr.path.size() >= kMinCirclePath && fitCircle(tr.path, 0, fit) &&
            fit.roughness <= cfg.circleMaxRoughness && fit.normal.dot(tr.circle.normal) > 0.0f) {
            tr.circleCenter = fit.center;
            tr.circle.normal = fit.normal;
            tr.circle.radius = fit.radius;
        }
        const Vector& normal = tr.circle.normal;
        const Vector a = onPlane(tr.samples[n - 2].p - tr.circleCenter, normal);
        const Vector b = onPlane(s.p - tr.circleCenter, normal);
        const float turned = signedAngle(a, b, normal);
        const float r = b.magnitude();
        tr.circle.center = tr.circleCenter - tr.offset;
        if (turned < -0.05f || r < 0.4f * tr.circle.radius || r > 2.5f * tr.circle.radius) {
            stop();
            return;
        }
        tr.circle.progress += turned / kTwoPi;
        tr.circle.state = Gesture::StateUpdate;
        tr.circle.duration = s.t - tr.circleStartTime;
        frame.gestures.push_back(tr.circle);
        return;
    }
    if (!appended || tr.path.size() < kMinCirclePath) {
        return;
    }
    // The whole path, else its latest half: a lead-in (the hand moving to where it draws) spoils
    // the fit of the whole.
    CircleFit fit;
    std::size_t from = tr.path.size();
    for (const std::size_t first : {std::size_t{0}, tr.path.size() / 2}) {
        if (tr.path.size() - first < kMinCirclePath || !fitCircle(tr.path, first, fit)) {
            continue;
        }
        const Sample& q = tr.path[first];
        if (fit.radius >= cfg.circleMinRadius && fit.roughness <= cfg.circleMaxRoughness &&
            fit.turns >= cfg.circleMinTurns &&
            s.shape - q.shape <= cfg.handMaxShapeRatio * (s.travel - q.travel)) {
            from = first;
            break;
        }
    }
    if (from == tr.path.size()) {
        return;
    }
    tr.circle = started(tr, Gesture::Circle);
    tr.circleCenter = fit.center;
    tr.circle.center = fit.center - tr.offset;
    tr.circle.normal = fit.normal;
    tr.circle.radius = fit.radius;
    tr.circle.progress = fit.turns;
    tr.circleStartTime = tr.path[from].t;
    tr.circle.duration = s.t - tr.circleStartTime;
    tr.circleActive = true;
    frame.gestures.push_back(tr.circle);
    tr.tapMoving = false;
}

void Recognizer::updateTap(Track& tr, const Sample& s, const Vector& v,
                           const RecognizerSettings& cfg, FrameRecord& frame) {
    const float startSpeed = std::min(cfg.screenTapMinSpeed, cfg.keyTapMinSpeed);
    if (tr.circleActive || tr.swipeActive) {
        tr.tapMoving = false;
        tr.restSince = -1;
        return;
    }
    const std::size_t n = tr.samples.size();
    if (!tr.tapMoving) {
        if (s.speed < startSpeed) {
            if (tr.restSince < 0) {
                tr.restSince = s.t;
            }
            return;
        }
        const bool rested = tr.restSince >= 0 && n >= 2 &&
                            tr.samples[n - 2].t - tr.restSince >= toUs(cfg.tapMinRest);
        tr.restSince = -1;
        if (!rested) {
            return;
        }
        // The motion began where the velocity was measured from.
        tr.tapStart = tr.samples.front();
        for (auto r = tr.samples.rbegin(); r != tr.samples.rend(); ++r) {
            if (s.t - r->t >= kVelocitySpanUs) {
                tr.tapStart = *r;
                break;
            }
        }
        tr.tapMoving = true;
        tr.tapPeak = s;
        tr.tapPeakDistance = s.p.distanceTo(tr.tapStart.p);
        tr.tapScreenSpeed = std::max(0.0f, -v.z);
        tr.tapKeySpeed = std::max(0.0f, -v.y);
        return;
    }
    const auto cancel = [&] {
        tr.tapMoving = false;
        tr.restSince = -1;
    };
    tr.tapScreenSpeed = std::max(tr.tapScreenSpeed, -v.z);
    tr.tapKeySpeed = std::max(tr.tapKeySpeed, -v.y);
    if (const float d = s.p.distanceTo(tr.tapStart.p); d > tr.tapPeakDistance) {
        tr.tapPeak = s;
        tr.tapPeakDistance = d;
    }
    if (tr.tapPeak.t - tr.tapStart.t > toUs(cfg.tapMaxDuration)) {
        cancel();
        return;
    }
    const Vector travel = tr.tapPeak.p - tr.tapStart.p;
    const bool screen = -travel.z >= -travel.y;
    const Vector axis = screen ? Vector{0.0f, 0.0f, -1.0f} : Vector{0.0f, -1.0f, 0.0f};
    const float minDistance = screen ? cfg.screenTapMinDistance : cfg.keyTapMinDistance;
    const float retreat = (tr.tapPeak.p - s.p).dot(travel.normalized());
    if (retreat < std::max(kTapMinRetreat, kTapRetreatShare * minDistance)) {
        if (s.t - tr.tapPeak.t > kTapMaxHoldUs) {
            cancel();
        }
        return;
    }
    tr.tapMoving = false;
    tr.restSince = s.speed < startSpeed ? s.t : -1;
    const float along = travel.dot(axis);
    const float lateral = (travel - axis * along).magnitude();
    const float speed = screen ? tr.tapScreenSpeed : tr.tapKeySpeed;
    const float minSpeed = screen ? cfg.screenTapMinSpeed : cfg.keyTapMinSpeed;
    if (along < minDistance || along > cfg.tapMaxDistance ||
        lateral > cfg.tapMaxLateralRatio * along || speed < minSpeed) {
        return;
    }
    const float length = travel.magnitude();
    const Vector line = travel / length;
    float shapeBefore = tr.tapStart.shape;
    for (const auto& q : tr.samples) {
        if (q.t >= tr.tapStart.t - kTapShapeLeadUs && q.t <= tr.tapStart.t) {
            shapeBefore = std::min(shapeBefore, q.shape);
        }
        if (q.t > tr.tapStart.t && q.t < tr.tapPeak.t) {
            const Vector d = q.p - tr.tapStart.p;
            if ((d - line * d.dot(line)).magnitude() > kTapMaxBow * length) {
                return;
            }
        }
    }
    if (s.shape - shapeBefore > cfg.handMaxShapeRatio * (s.travel - tr.tapStart.travel)) {
        return;
    }
    reportTap(tr, screen ? Gesture::ScreenTap : Gesture::KeyTap, tr.tapStart, tr.tapPeak, s, frame);
}

void Recognizer::reportTap(Track& tr, int type, const Sample& start, const Sample& peak,
                           const Sample& s, FrameRecord& frame) {
    GestureRecord& g = tr.tap;
    g = started(tr, type);
    g.position = peak.tip;
    g.direction = (peak.p - start.p).normalized();
    g.duration = s.t - start.t;
    frame.gestures.push_back(g);
    tr.tapPendingStop = true;
    // The tap is the motion: the path a circle would be read in and the strokes start anew, and
    // neither tap reads it again.
    tr.path.clear();
    for (auto& stroke : tr.strokes) {
        stroke = Stroke{};
        stroke.start = s;
    }
    tr.tapMoving = false;
    tr.reaching = false;
    tr.reachStoppedAt = -1;
}

void Recognizer::updateReachTap(Track& tr, const Sample& s, const RecognizerSettings& cfg,
                                FrameRecord& frame) {
    if (tr.circleActive || tr.swipeActive || tr.tapPendingStop) {
        tr.reaching = false;
        return;
    }
    const Sample* ref = &tr.samples.front();
    for (auto r = tr.samples.rbegin(); r != tr.samples.rend(); ++r) {
        if (s.t - r->t >= kReachVelocitySpanUs) {
            ref = &*r;
            break;
        }
    }
    const Vector v =
        ref->t < s.t ? (s.p - ref->p) / (static_cast<float>(s.t - ref->t) * 1e-6f) : Vector{};
    const float speed = v.magnitude();
    if (!tr.reaching) {
        if (-v.z < cfg.reachTapMinSpeed) {
            return;
        }
        tr.reachStart = s;
        for (auto r = tr.samples.rbegin(); r != tr.samples.rend() && s.t - r->t <= kReachLookbackUs;
             ++r) {
            if (r->p.z > tr.reachStart.p.z) {
                tr.reachStart = *r;
            }
        }
        tr.reaching = true;
        tr.reachPeak = s;
        tr.reachPeakSpeed = speed;
        tr.reachExtension = std::max(tr.reachStart.extension, s.extension);
        tr.reachStoppedAt = -1;
        return;
    }
    // The finger's longest extension counts once it has held for kStrokeHitchUs: the tracker
    // places a fingertip too far out for a frame now and then, and the finger held out after it
    // would read as folding.
    float held = s.extension;
    for (auto r = tr.samples.rbegin(); r != tr.samples.rend(); ++r) {
        held = std::min(held, r->extension);
        if (s.t - r->t >= kStrokeHitchUs) {
            break;
        }
    }
    tr.reachExtension = std::max(tr.reachExtension, held);
    if (s.extension < cfg.reachTapMinExtension * tr.reachExtension) {
        tr.reaching = false;  // the fingers close: a grab
        return;
    }
    if (tr.reachStoppedAt >= 0 && s.thumbGap < cfg.reachTapMinThumbGap) {
        tr.reaching = false;  // the thumb closes on the finger: a grab
        return;
    }
    if (s.p.z < tr.reachPeak.p.z) {
        tr.reachPeak = s;
    }
    if (tr.reachStoppedAt < 0) {
        tr.reachPeakSpeed = std::max(tr.reachPeakSpeed, speed);
        if (s.t - tr.reachStart.t > toUs(cfg.reachTapMaxDuration)) {
            tr.reaching = false;
            return;
        }
        if (speed >= kReachStopShare * tr.reachPeakSpeed && v.z <= 0.0f) {
            return;
        }
        const Vector travel = tr.reachPeak.p - tr.reachStart.p;
        const float forward = -travel.z;
        const float palmForward = tr.reachStart.palm.z - tr.reachPeak.palm.z;
        const float ahead = tr.reachPeak.palm.z - tr.reachPeak.tip.z;
        if (forward < cfg.reachTapMinDistance || forward - palmForward < cfg.reachTapMinLead ||
            ahead < cfg.reachTapMinAhead ||
            std::hypot(travel.x, travel.y) > cfg.reachTapMaxLateralRatio * forward) {
            tr.reaching = false;
            return;
        }
        tr.reachStoppedAt = s.t;
    }
    // A tap's return goes back the way the reach came, or drops as the hand is lowered; moving on
    // across the view is the next stroke of something else.
    const Vector since = s.p - tr.reachPeak.p;
    const bool dropping = -since.y > kReachDropRatio * std::abs(since.x);
    if (const float side = dropping ? std::abs(since.x) : std::hypot(since.x, since.y);
        side > kReachMoveOnDistance && side > kReachMoveOnRatio * since.z) {
        tr.reaching = false;
        return;
    }
    if (s.t - tr.reachStoppedAt < kReachConfirmUs && since.z < kReachRetreat) {
        return;
    }
    reportTap(tr, Gesture::ScreenTap, tr.reachStart, tr.reachPeak, s, frame);
}

}  // namespace Kivo::detail
