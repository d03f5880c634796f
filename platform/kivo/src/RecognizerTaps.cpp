// Taps: a finger pressed towards the screen or downwards, and a reach of the hand towards it.
#include "Recognizer.h"
#include "RecognizerRules.h"

#include <kivo/Gesture.h>

namespace Kivo::detail {

using namespace recognition;

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
        why("finger tap: still pressing after tap.max_duration %.2f s", cfg.tapMaxDuration);
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
            why("finger tap: held at its farthest point for more than %.1f s",
                static_cast<double>(kTapMaxHoldUs) * 1e-6);
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
        const char* kind = screen ? "screen_tap" : "key_tap";
        why("finger tap: pressed %.0f mm (%s.min_distance %.0f, tap.max_distance %.0f), %.0f mm "
            "aside (tap.max_lateral_ratio %.2f), at %.0f mm/s (%s.min_speed %.0f)",
            along, kind, minDistance, cfg.tapMaxDistance, lateral, cfg.tapMaxLateralRatio, speed,
            kind, minSpeed);
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
                why("finger tap: its path bows off a line by more than %.1f of its length",
                    kTapMaxBow);
                return;
            }
        }
    }
    if (s.shape - shapeBefore >
        kTapShapeShare * cfg.handMaxShapeRatio * (s.travel - tr.tapStart.travel)) {
        why("finger tap: the other fingers moved %.0f mm for the finger's %.0f mm "
            "(hand.max_shape_ratio %.2f)",
            s.shape - shapeBefore, s.travel - tr.tapStart.travel, cfg.handMaxShapeRatio);
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
    tr.tapAt = s.t;
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
        why("reach: the finger folded to %.2f of its length (reach_tap.min_extension %.2f)",
            s.extension / tr.reachExtension, cfg.reachTapMinExtension);
        tr.reaching = false;  // the fingers close: a grab
        return;
    }
    if (tr.reachStoppedAt >= 0 && s.thumbGap < cfg.reachTapMinThumbGap) {
        why("reach: the thumb closed to %.0f mm of the finger (reach_tap.min_thumb_gap %.0f)",
            s.thumbGap, cfg.reachTapMinThumbGap);
        tr.reaching = false;  // the thumb closes on the finger: a grab
        return;
    }
    if (s.p.z < tr.reachPeak.p.z) {
        tr.reachPeak = s;
    }
    if (tr.reachStoppedAt < 0) {
        tr.reachPeakSpeed = std::max(tr.reachPeakSpeed, speed);
        if (s.t - tr.reachStart.t > toUs(cfg.reachTapMaxDuration)) {
            why("reach: still going after reach_tap.max_duration %.2f s", cfg.reachTapMaxDuration);
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
        // Where it stopped or at its far point: the tracker turns a hand over for a frame now and
        // then.
        const auto facing = [](const Vector& n) {
            return std::abs(n.x) <= kReachMaxPalmSide && n.y <= 0.0f;
        };
        if ((!facing(tr.reachPeak.normal) && !facing(s.normal)) ||
            forward < cfg.reachTapMinDistance || forward - palmForward < cfg.reachTapMinLead ||
            ahead < cfg.reachTapMinAhead ||
            std::hypot(travel.x, travel.y) > cfg.reachTapMaxLateralRatio * forward) {
            why("reach: stopped %.0f mm forward (reach_tap.min_distance %.0f), %.0f mm aside "
                "(reach_tap.max_lateral_ratio %.2f), the finger %.0f mm beyond the palm's travel "
                "(reach_tap.min_lead %.0f) and %.0f mm ahead of it (reach_tap.min_ahead %.0f), "
                "the palm %s",
                forward, cfg.reachTapMinDistance, std::hypot(travel.x, travel.y),
                cfg.reachTapMaxLateralRatio, forward - palmForward, cfg.reachTapMinLead, ahead,
                cfg.reachTapMinAhead,
                facing(tr.reachPeak.normal) || facing(s.normal) ? "facing the screen or the floor"
                                                                : "turned on its side or up");
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
        why("reach: moved on %.0f mm across the view from where it stopped", side);
        tr.reaching = false;
        return;
    }
    if (s.t - tr.reachStoppedAt < kReachConfirmUs && since.z < kReachRetreat) {
        return;
    }
    reportTap(tr, Gesture::ScreenTap, tr.reachStart, tr.reachPeak, s, frame);
}

}  // namespace Kivo::detail
