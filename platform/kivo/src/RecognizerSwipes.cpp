// Swipes: strokes of the palm or the pointing finger, their ends, and what makes one no swipe
// (a shake, a return, a hand turning over).
#include "Recognizer.h"
#include "RecognizerRules.h"

#include <kivo/Gesture.h>

#include <cstdio>

namespace Kivo::detail {

using namespace recognition;

namespace {
float acrossView(const Vector& v) {
    return std::hypot(v.x, v.y);
}
}  // namespace

void Recognizer::endSwipe(Track& tr, const Sample& s, const RecognizerSettings& cfg,
                          FrameRecord& frame) {
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
    // The way back of a swing out after a rest: compared across the view, since the way out may
    // also have reached towards the screen.
    if (bringsBack(tr.swings, 0, tr.swipe.direction, stroke.start.t,
                   acrossView(s.palm - stroke.start.palm))) {
        why("swipe: brings the hand back from a swing within %.1f s",
            static_cast<double>(kSwingReturnUs) * 1e-6);
        return;
    }
    const bool backAfterSwing = before[0] != nullptr &&
                                stroke.start.t - before[0]->end <= kShakeWindowUs &&
                                tr.swipe.direction.dot(before[0]->direction) < kShakeOppositeCos;
    // A stroke straight back after a swing at least as long is that swing's return.
    if (backAfterSwing && before[0]->length >= s.palm.distanceTo(stroke.start.palm)) {
        why("swipe: the way back of the swing just before it");
        return;
    }
    const bool swungToAndFro = backAfterSwing && before[1] != nullptr &&
                               before[0]->start - before[1]->end <= kShakeWindowUs &&
                               before[0]->direction.dot(before[1]->direction) < kShakeOppositeCos;
    if (swungToAndFro ||
        (tr.shakeAt >= 0 && stroke.start.t - tr.shakeAt <= kShakeWindowUs &&
         std::abs(tr.swipe.direction.dot(tr.shakeDirection)) > -kShakeOppositeCos)) {
        // The stroke back (or on, or again) of a shake: so is this one.
        why("swipe: a stroke of a shake");
        tr.shakeAt = s.t;
        tr.shakeDirection = tr.swipe.direction;
        return;
    }
    if (!wholeStrokeAcross(pointOf(s, source) - pointOf(stroke.start, source), cfg)) {
        why("swipe: went on towards or away from the screen (swipe.max_depth_ratio %.2f)",
            std::max(cfg.swipeMaxDepthRatio, cfg.swipeMaxSweepDepthRatio));
        return;
    }
    tr.held = tr.swipe;
    tr.heldSince = s.t;
    tr.heldSource = source;
    tr.heldEnd = pointOf(s, source);
    tr.heldLength = tr.heldEnd.distanceTo(pointOf(stroke.start, source));
}

bool Recognizer::bringsBack(const std::array<Swing, 3>& swings, std::size_t first,
                            const Vector& direction, std::int64_t start, float across) {
    const float way = acrossView(direction);
    for (std::size_t k = first; k < swings.size(); ++k) {
        const Swing& w = swings[k];
        if (w.end < 0 || w.returning || w.end > start + kShakeWindowUs / 2 ||
            start - w.end > kSwingReturnUs) {
            continue;
        }
        const float out = acrossView(w.direction);
        const float dot = direction.x * w.direction.x + direction.y * w.direction.y;
        if (dot < kShakeOppositeCos * way * out && w.length * out >= across) {
            return true;
        }
    }
    return false;
}

void Recognizer::traceRefusal(const Stroke& stroke, Source source,
                              const RecognizerSettings& cfg) const {
    // "the palm's 85 mm stroke down", its way across the view
    char stroked[64];
    const Vector& c = stroke.refusedChord;
    const char* way = std::abs(c.x) >= std::abs(c.y) ? (c.x > 0.0f ? "right" : "left")
                                                     : (c.y > 0.0f ? "up" : "down");
    std::snprintf(stroked, sizeof stroked, "the %s's %.0f mm stroke %s",
                  source == Palm ? "palm" : "finger", static_cast<double>(stroke.refusedLength),
                  way);
    const double figure = stroke.refusedFigure;
    switch (stroke.refused) {
        case Refusal::None:
            return;
        case Refusal::Slow:
            why("swipe: %s peaked at %.0f mm/s (swipe.min_speed %.0f)", stroked, figure,
                cfg.swipeMinSpeed);
            return;
        case Refusal::Deep:
            why("swipe: %s went %.2f as far towards or away from the screen as across "
                "(swipe.max_depth_ratio %.2f)",
                stroked, figure, cfg.swipeMaxDepthRatio);
            return;
        case Refusal::Shape:
            why("swipe: %s moved the other fingers by %.2f of its path (hand.max_shape_ratio %.2f)",
                stroked, figure, cfg.handMaxShapeRatio);
            return;
        case Refusal::Bent:
            why("swipe: %s bent along a %.0f mm radius (swipe.min_path_radius %.0f, "
                "swipe.min_bent_radius %.0f) and did not end by slowing down",
                stroked, figure, cfg.swipeMinPathRadius, cfg.swipeMinBentRadius);
            return;
        case Refusal::Pressing:
            why("swipe: %s came while a reach that stopped may be a tap", stroked);
            return;
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
        if (stroke.refused != Refusal::None && m_trace) {
            traceRefusal(stroke, &stroke == &tr.strokes[Palm] ? Palm : Pointer, cfg);
        }
        stroke.refused = Refusal::None;
        if (&stroke == &tr.strokes[Palm] && stroke.peak >= kSwingShare * cfg.swipeMinSpeed) {
            const Vector chord = s.palm - stroke.start.palm;
            Swing& last = tr.swings[0];
            if (last.end >= 0 && stroke.start.t - last.end <= kShakeWindowUs &&
                chord.dot(last.direction) >= 0.0f) {
                // On the same way after a hitch: the same swing.
                last.direction = (last.direction + chord.normalized()).normalized();
                last.end = s.t;
                last.length = s.palm.distanceTo(last.from);
                last.returning = bringsBack(tr.swings, 1, last.direction, last.start,
                                            acrossView(s.palm - last.from));
            } else if (chord.magnitude() >= kSwingShare * cfg.swipeMinLength) {
                const bool returning =
                    bringsBack(tr.swings, 0, chord.normalized(), stroke.start.t, acrossView(chord));
                std::rotate(tr.swings.rbegin(), tr.swings.rbegin() + 1, tr.swings.rend());
                tr.swings[0] = {stroke.start.t,    s.t,      chord.normalized(), stroke.start.palm,
                                chord.magnitude(), returning};
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
    if (tr.heldSince >= 0) {
        const Vector since = tr.heldEnd - pointOf(s, tr.heldSource);
        const float back = since.dot(tr.held.direction);
        if (back > kShakeReturnShare * tr.heldLength &&
            back > -kShakeOppositeCos * since.magnitude()) {
            tr.heldSince = -1;
            why("swipe: the hand swung back within %.1f s of its end (a shake)",
                static_cast<double>(kShakeWindowUs) * 1e-6);
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
        // Longer than any stroke of a shake: reported at once, and as it goes on, unless it is
        // becoming a reach.
        bool startsNow = false;
        if (const Vector chord = pointOf(s, source) - pointOf(stroke.start, source);
            !tr.swipeLive &&
            chord.magnitude() >=
                (source == Pointer ? kPointerStrokeScale : 1.0f) * kShakeMaxLength &&
            wholeStrokeAcross(chord, cfg)) {
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
                endSwipe(tr, s, cfg, frame);
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
    // than moved, or comes back to rest after a tap.
    const auto begin = [&](const Stroke& stroke, Source source, float speed) {
        const Vector chord = pointOf(s, source) - pointOf(stroke.start, source);
        if (source == Palm && chord.magnitude() < kArmStrokeLength &&
            (s.shape - stroke.start.shape > kHandTurnRatio * chord.magnitude() ||
             s.direction.dot(stroke.start.direction) < kHandTurnMaxCos)) {
            why("swipe: a short stroke of the palm with the hand turning about the wrist");
            return false;
        }
        if (tr.tapAt >= 0 && stroke.start.t - tr.tapAt <= kTapReturnUs) {
            why("swipe: starts within %.1f s of a tap (its return)",
                static_cast<double>(kTapReturnUs) * 1e-6);
            return false;
        }
        for (Stroke& either : tr.strokes) {
            either.refused = Refusal::None;  // this swipe is the motion
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
        const auto refuse = [&](Refusal reason, float figure) {
            stroke.refused = reason;
            stroke.refusedLength = length;
            stroke.refusedChord = chord;
            stroke.refusedFigure = figure;
        };
        if (tr.circleActive || length < minLength) {
            continue;
        }
        if (stroke.peak < cfg.swipeMinSpeed) {
            refuse(Refusal::Slow, stroke.peak);
            continue;
        }
        if (speed < kSwipeEndShare * cfg.swipeMinSpeed) {
            continue;  // slowing down at its end: what refused it before still holds
        }
        if (!across) {
            refuse(Refusal::Deep, depth / std::max(std::hypot(chord.x, chord.y), 1e-3f));
            continue;
        }
        // A finger sweeping alone keeps the hand's shape; a finger that moves while the others
        // move about the palm is the hand changing shape (a pinch, a grab), not a swipe.
        if (const float travel = s.travel - stroke.start.travel;
            source == Pointer && s.shape - stroke.start.shape > cfg.handMaxShapeRatio * travel) {
            refuse(Refusal::Shape, (s.shape - stroke.start.shape) / std::max(travel, 1e-3f));
            continue;
        }
        const float radius = strokeRadius(tr, stroke, source, s);
        if (radius >= cfg.swipeMinPathRadius && !pressing && begin(stroke, source, speed)) {
            return;
        }
        if (pressing) {
            refuse(Refusal::Pressing, 0.0f);
        } else if (radius < cfg.swipeMinPathRadius) {
            refuse(Refusal::Bent, radius);
        }
        // Bent like the arc of a circle or of a swipe swung about the wrist: which one shows
        // when the stroke ends, by slowing down (a swipe) or by turning on (a circle).
        stroke.bent = stroke.bent || radius >= cfg.swipeMinBentRadius;
    }
}

}  // namespace Kivo::detail
