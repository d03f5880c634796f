// The recogniser: its settings, the hands it follows, and what it reports each frame; the rules
// for each kind of gesture live in units of their own.
#include "Recognizer.h"
#include "RecognizerRules.h"

#include "ConfigStore.h"

#include <kivo/Gesture.h>

#include <cstdarg>
#include <cstdio>

namespace Kivo::detail {

using namespace recognition;

namespace {
float floatOr(const ConfigStore& store, const char* key, float fallback) {
    const auto v = store.get(key);
    return v.type == Config::Float ? v.f : fallback;
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

void Recognizer::why(const char* format, ...) const {
    if (!m_trace) {
        return;
    }
    char line[512];
    std::va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    m_trace(m_frameTime, line);
}

void Recognizer::reset() {
    m_tracks.clear();
    m_nextId = 1;
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

void Recognizer::stopAll(Track& tr, FrameRecord& frame, const RecognizerSettings& cfg) {
    if (tr.heldStopPending) {
        tr.held.state = Gesture::StateStop;
        frame.gestures.push_back(tr.held);
        tr.heldStopPending = false;
    }
    if (tr.swipeActive && tr.swipeLive) {
        tr.swipe.state = Gesture::StateStop;
        frame.gestures.push_back(tr.swipe);
    } else if (tr.swipeActive && !tr.samples.empty()) {
        endSwipe(tr, tr.samples.back(), cfg, frame);
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

bool Recognizer::choosePointer(Track& tr, const Reading& reading, const RecognizerSettings& cfg) {
    const HandRecord& hand = reading.hand;
    const PointableRecord* best = nullptr;
    const PointableRecord* current = nullptr;
    float bestReach = -kInfinity;
    float currentReach = -kInfinity;
    for (const auto& p : reading.pointables) {
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
    const float dt = static_cast<float>(reading.t - tr.lastRead);
    const float alpha =
        tr.fingers.empty() ? 1.0f : dt / (static_cast<float>(kFingerSmoothingUs) + dt);
    float moved = 0.0f;
    std::size_t kept = 0;
    for (const auto& p : reading.pointables) {
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

void Recognizer::between(const Reading& a, const Reading& b, std::int64_t t, Reading& out) {
    const float w = static_cast<float>(t - a.t) / static_cast<float>(b.t - a.t);
    const auto mix = [w](const Vector& x, const Vector& y) { return x + (y - x) * w; };
    out.t = t;
    out.hand = b.hand;
    out.hand.palmPosition = mix(a.hand.palmPosition, b.hand.palmPosition);
    out.hand.direction = mix(a.hand.direction, b.hand.direction).normalized();
    out.hand.palmNormal = mix(a.hand.palmNormal, b.hand.palmNormal).normalized();
    out.pointables = b.pointables;
    for (auto& p : out.pointables) {
        // A finger the frame before did not show is where this frame shows it.
        const auto was = std::find_if(a.pointables.begin(), a.pointables.end(),
                                      [&](const PointableRecord& q) { return q.id == p.id; });
        if (was != a.pointables.end()) {
            p.tipPosition = mix(was->tipPosition, p.tipPosition);
            p.direction = mix(was->direction, p.direction).normalized();
        }
    }
}

void Recognizer::mergeSteps(std::vector<GestureRecord>& gestures, std::size_t first) {
    std::size_t kept = first;
    for (std::size_t k = first; k < gestures.size(); ++k) {
        const GestureRecord g = gestures[k];
        auto same = std::find_if(
            gestures.begin() + static_cast<std::ptrdiff_t>(first),
            gestures.begin() + static_cast<std::ptrdiff_t>(kept),
            [&](const GestureRecord& r) { return r.id == g.id && r.state != Gesture::StateStop; });
        if (same != gestures.begin() + static_cast<std::ptrdiff_t>(kept) &&
            g.state != Gesture::StateStop) {
            const int state = same->state;
            *same = g;
            if (state == Gesture::StateStart) {
                same->state = Gesture::StateStart;
            }
            continue;
        }
        gestures[kept++] = g;
    }
    gestures.resize(kept);
}

void Recognizer::carryOn(const Track& tr, FrameRecord& frame) {
    if (tr.swipeActive && tr.swipeLive) {
        GestureRecord g = tr.swipe;
        g.state = Gesture::StateUpdate;
        frame.gestures.push_back(g);
    }
    if (tr.circleActive) {
        GestureRecord g = tr.circle;
        g.state = Gesture::StateUpdate;
        frame.gestures.push_back(g);
    }
}

void Recognizer::stopPending(Track& tr, std::int64_t t, FrameRecord& frame) {
    if (tr.tapPendingStop) {
        tr.tap.state = Gesture::StateStop;
        tr.tap.duration = t - tr.tapStart.t;
        frame.gestures.push_back(tr.tap);
        tr.tapPendingStop = false;
    }
    if (tr.heldStopPending) {
        tr.held.state = Gesture::StateStop;
        frame.gestures.push_back(tr.held);
        tr.heldStopPending = false;
    }
}

void Recognizer::step(Track& tr, const Reading& reading, const RecognizerSettings& cfg,
                      FrameRecord& frame) {
    const std::int64_t t = reading.t;
    if (!choosePointer(tr, reading, cfg)) {
        return;  // the pointing finger is the reading's: a hand has at least one
    }
    tr.lastRead = t;
    if (t - tr.firstSeen < toUs(cfg.handSettleTime)) {
        return;  // a hand coming into view: watched, not yet read
    }
    stopPending(tr, t, frame);
    // The device lists a hand's fingers from the thumb.
    const PointableRecord* thumb = &reading.pointables.front();
    const PointableRecord* pointer = thumb;
    for (const auto& p : reading.pointables) {
        if (p.id == tr.pointerId) {
            pointer = &p;
        }
    }
    Sample s;
    s.t = t;
    s.tip = pointer->tipPosition;
    s.p = s.tip + tr.offset;
    s.palm = reading.hand.palmPosition;
    s.direction = reading.hand.direction;
    s.normal = reading.hand.palmNormal;
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

void Recognizer::process(FrameRecord& frame, const RecognizerSettings& cfg) {
    if (!cfg.enabled) {
        m_tracks.clear();
        return;
    }
    const std::int64_t t = frame.timestamp;
    m_frameTime = t;
    m_seen.clear();
    for (const auto& hand : frame.hands) {
        m_seen.push_back(hand.id);
        auto it = m_tracks.find(hand.id);
        if (it != m_tracks.end() &&
            (t - it->second.frame.t > kMaxGapUs ||
             (t > it->second.frame.t && !it->second.samples.empty() &&
              hand.palmPosition.distanceTo(it->second.frame.hand.palmPosition) >
                  kMaxHandSpeed * 1e-6f * static_cast<float>(t - it->second.frame.t)))) {
            stopAll(it->second, frame, cfg);
            m_tracks.erase(it);
            it = m_tracks.end();
        }
        const bool fresh = it == m_tracks.end();
        if (fresh) {
            it = m_tracks.emplace(hand.id, Track{}).first;
            it->second.handId = hand.id;
            it->second.firstSeen = t;
        } else if (t <= it->second.frame.t) {
            continue;  // no time has passed: nothing to measure
        }
        Track& tr = it->second;
        // Filled in the recogniser's buffer and swapped with the track's, which then holds the
        // frame before: neither allocates once the hands have been seen.
        Reading& now = m_incoming;
        now.t = t;
        now.hand = hand;
        now.pointables.clear();
        for (const auto& p : frame.pointables) {
            if (p.handId == hand.id) {
                now.pointables.push_back(p);
            }
        }
        if (now.pointables.empty()) {
            stopAll(tr, frame, cfg);
            m_tracks.erase(it);
            continue;
        }
        std::swap(tr.frame, now);
        const Reading& before = m_incoming;
        const std::size_t first = frame.gestures.size();
        // A tap's or a reported swipe's stop is due in the frame after its start, step or not.
        stopPending(tr, t, frame);
        int steps = 0;
        for (std::int64_t at = tr.firstSeen + stepOffset(tr.nextStep);
             at <= t && steps < kMaxStepsPerFrame;
             at = tr.firstSeen + stepOffset(++tr.nextStep), ++steps) {
            if (at == t) {  // a new hand's first step is its first frame
                step(tr, tr.frame, cfg, frame);
            } else {
                between(before, tr.frame, at, m_reading);
                step(tr, m_reading, cfg, frame);
            }
        }
        if (steps > 0) {
            mergeSteps(frame.gestures, first);
        } else {
            carryOn(tr, frame);
        }
    }
    for (auto it = m_tracks.begin(); it != m_tracks.end();) {
        if (std::find(m_seen.begin(), m_seen.end(), it->first) == m_seen.end()) {
            stopAll(it->second, frame, cfg);
            it = m_tracks.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace Kivo::detail
