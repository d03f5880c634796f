#include "Recognizer.h"

#include "ConfigStore.h"

#include <kivo/Gesture.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <set>

namespace Kivo::detail {

namespace {

constexpr float kTwoPi = 2.0f * std::numbers::pi_v<float>;
constexpr std::int64_t kSampleWindowUs = 500'000;
constexpr std::int64_t kPathWindowUs = 3'000'000;
constexpr std::size_t kMinCirclePath = 8;
constexpr float kMaxCircleRoughness = 0.35f;  // spread of radii over their mean

float floatOr(const ConfigStore& store, const char* key, float fallback) {
    const auto v = store.get(key);
    return v.type == Config::Float ? v.f : fallback;
}

Vector onPlane(const Vector& v, const Vector& n) {
    return v - n * v.dot(n);
}

float signedAngle(const Vector& a, const Vector& b, const Vector& n) {
    return std::atan2(n.dot(a.cross(b)), a.dot(b));
}

}  // namespace

RecognizerSettings RecognizerSettings::fromConfig(const ConfigStore& store) {
    RecognizerSettings s;
    const auto enabled = store.get("recognizer.enabled");
    s.enabled = enabled.type == Config::Bool ? enabled.b : true;
    s.swipeMinLength = floatOr(store, "recognizer.swipe.min_length", s.swipeMinLength);
    s.swipeMinSpeed = floatOr(store, "recognizer.swipe.min_speed", s.swipeMinSpeed);
    s.circleMinRadius = floatOr(store, "recognizer.circle.min_radius", s.circleMinRadius);
    s.circleMinTurns = floatOr(store, "recognizer.circle.min_turns", s.circleMinTurns);
    s.circleMinSpeed = floatOr(store, "recognizer.circle.min_speed", s.circleMinSpeed);
    s.screenTapMinDistance =
        floatOr(store, "recognizer.screen_tap.min_distance", s.screenTapMinDistance);
    s.screenTapMinSpeed = floatOr(store, "recognizer.screen_tap.min_speed", s.screenTapMinSpeed);
    s.keyTapMinDistance = floatOr(store, "recognizer.key_tap.min_distance", s.keyTapMinDistance);
    s.keyTapMinSpeed = floatOr(store, "recognizer.key_tap.min_speed", s.keyTapMinSpeed);
    s.tapMaxDuration = floatOr(store, "recognizer.tap.max_duration", s.tapMaxDuration);
    s.tapMaxLateralRatio = floatOr(store, "recognizer.tap.max_lateral_ratio", s.tapMaxLateralRatio);
    return s;
}

void Recognizer::reset() {
    m_tracks.clear();
    m_nextId = 1;
}

void Recognizer::stopAll(Track& tr, FrameRecord& frame) {
    if (tr.swipePhase == 2) {
        tr.swipe.state = Gesture::StateStop;
        frame.gestures.push_back(tr.swipe);
    }
    if (tr.circleActive) {
        tr.circle.state = Gesture::StateStop;
        frame.gestures.push_back(tr.circle);
    }
    for (Tap* tap : {&tr.screenTap, &tr.keyTap}) {
        if (tap->pendingStop) {
            tap->pending.state = Gesture::StateStop;
            frame.gestures.push_back(tap->pending);
        }
    }
    tr = Track{};
}

void Recognizer::process(FrameRecord& frame, const RecognizerSettings& cfg) {
    if (!cfg.enabled) {
        m_tracks.clear();
        return;
    }
    std::set<std::int32_t> seen;
    for (const auto& hand : frame.hands) {
        seen.insert(hand.id);
        const PointableRecord* pointer = nullptr;
        float bestReach = -std::numeric_limits<float>::infinity();
        for (const auto& p : frame.pointables) {
            if (p.handId != hand.id) {
                continue;
            }
            const float reach = (p.tipPosition - hand.palmPosition).dot(hand.direction);
            if (reach > bestReach) {
                bestReach = reach;
                pointer = &p;
            }
        }
        if (pointer == nullptr) {
            if (auto it = m_tracks.find(hand.id); it != m_tracks.end()) {
                stopAll(it->second, frame);
                m_tracks.erase(it);
            }
            continue;
        }
        Track& tr = m_tracks[hand.id];
        if (tr.pointerId != pointer->id) {
            stopAll(tr, frame);
            tr.pointerId = pointer->id;
        }
        tr.handId = hand.id;
        const Sample s{frame.timestamp, pointer->tipPosition};
        if (!tr.samples.empty() && s.t <= tr.samples.back().t) {
            continue;  // no time has passed: nothing to measure
        }
        for (Tap* tap : {&tr.screenTap, &tr.keyTap}) {
            if (tap->pendingStop) {
                tap->pending.state = Gesture::StateStop;
                tap->pending.duration = s.t - tap->start.t;
                frame.gestures.push_back(tap->pending);
                tap->pendingStop = false;
            }
        }
        tr.samples.push_back(s);
        while (tr.samples.size() > 4 && s.t - tr.samples.front().t > kSampleWindowUs) {
            tr.samples.pop_front();
        }
        Vector v;
        const std::size_t n = tr.samples.size();
        if (n >= 2) {
            const Sample& back = tr.samples[n - 1 - std::min<std::size_t>(3, n - 1)];
            v = (s.p - back.p) / (static_cast<float>(s.t - back.t) * 1e-6f);
        }
        updateSwipe(tr, s, v, cfg, frame);
        updateCircle(tr, s, v.magnitude(), cfg, frame);
        if (tr.swipePhase == 0 && !tr.circleActive) {
            updateTap(tr, tr.screenTap, Gesture::ScreenTap, {0.0f, 0.0f, -1.0f},
                      cfg.screenTapMinDistance, cfg.screenTapMinSpeed, s, v, cfg, frame);
            updateTap(tr, tr.keyTap, Gesture::KeyTap, {0.0f, -1.0f, 0.0f}, cfg.keyTapMinDistance,
                      cfg.keyTapMinSpeed, s, v, cfg, frame);
        } else {
            tr.screenTap.moving = false;
            tr.keyTap.moving = false;
        }
    }
    for (auto it = m_tracks.begin(); it != m_tracks.end();) {
        if (seen.count(it->first) == 0) {
            stopAll(it->second, frame);
            it = m_tracks.erase(it);
        } else {
            ++it;
        }
    }
}

void Recognizer::updateSwipe(Track& tr, const Sample& s, const Vector& v,
                             const RecognizerSettings& cfg, FrameRecord& frame) {
    const float speed = v.magnitude();
    const auto fill = [&](int state) {
        tr.swipe.state = state;
        tr.swipe.position = s.p;
        tr.swipe.direction = (s.p - tr.swipeStart.p).normalized();
        tr.swipe.speed = speed;
        tr.swipe.duration = s.t - tr.swipeStart.t;
        frame.gestures.push_back(tr.swipe);
    };
    switch (tr.swipePhase) {
        case 0:
            if (speed >= cfg.swipeMinSpeed) {
                tr.swipePhase = 1;
                const std::size_t n = tr.samples.size();
                tr.swipeStart = n >= 2 ? tr.samples[n - 2] : s;
            }
            break;
        case 1:
            if (speed < cfg.swipeMinSpeed) {
                tr.swipePhase = 0;
            } else if (s.p.distanceTo(tr.swipeStart.p) >= cfg.swipeMinLength) {
                tr.swipePhase = 2;
                tr.swipe = GestureRecord{};
                tr.swipe.id = m_nextId++;
                tr.swipe.type = Gesture::Swipe;
                tr.swipe.handId = tr.handId;
                tr.swipe.pointableId = tr.pointerId;
                tr.swipe.startPosition = tr.swipeStart.p;
                fill(Gesture::StateStart);
            }
            break;
        default:
            if (speed >= 0.5f * cfg.swipeMinSpeed) {
                fill(Gesture::StateUpdate);
            } else {
                fill(Gesture::StateStop);
                tr.swipePhase = 0;
            }
            break;
    }
}

void Recognizer::updateCircle(Track& tr, const Sample& s, float speed,
                              const RecognizerSettings& cfg, FrameRecord& frame) {
    if (speed < cfg.circleMinSpeed) {
        if (tr.circleActive) {
            tr.circle.state = Gesture::StateStop;
            tr.circle.duration = s.t - tr.circleStartTime;
            frame.gestures.push_back(tr.circle);
            tr.circleActive = false;
        }
        tr.path.clear();
        return;
    }
    const Sample previous = tr.path.empty() ? s : tr.path.back();
    tr.path.push_back(s);
    while (s.t - tr.path.front().t > kPathWindowUs) {
        tr.path.pop_front();
    }
    if (tr.path.size() < kMinCirclePath) {
        return;
    }
    // Fit: centre at the centroid, normal along the summed turning of the path.
    Vector c;
    for (const auto& p : tr.path) {
        c += p.p;
    }
    c = c / static_cast<float>(tr.path.size());
    Vector turning;
    for (std::size_t i = 0; i + 1 < tr.path.size(); ++i) {
        turning += (tr.path[i].p - c).cross(tr.path[i + 1].p - c);
    }
    const Vector normal = turning.normalized();
    if (normal == Vector{}) {
        return;
    }
    if (tr.circleActive) {
        // Once the path holds more than a turn, centre on the last full turn only: extra partial
        // turns would pull the centroid towards them.
        for (int pass = 0; pass < 2; ++pass) {
            float turned = 0.0f;
            Vector sum = tr.path.back().p;
            std::size_t n = 1;
            for (std::size_t i = tr.path.size() - 1; i > 0 && std::abs(turned) < kTwoPi; --i) {
                turned += signedAngle(onPlane(tr.path[i - 1].p - c, normal),
                                      onPlane(tr.path[i].p - c, normal), normal);
                sum += tr.path[i - 1].p;
                ++n;
            }
            if (std::abs(turned) < kTwoPi) {
                break;
            }
            c = sum / static_cast<float>(n);
        }
        const Vector a = onPlane(previous.p - c, normal);
        const Vector b = onPlane(s.p - c, normal);
        const float dTheta = signedAngle(a, b, normal);
        const float r = b.magnitude();
        tr.circle.center = c;
        tr.circle.normal = normal;
        tr.circle.duration = s.t - tr.circleStartTime;
        if (dTheta < -0.05f || r < 0.4f * tr.circle.radius || r > 2.5f * tr.circle.radius) {
            tr.circle.state = Gesture::StateStop;
            frame.gestures.push_back(tr.circle);
            tr.circleActive = false;
            tr.path.clear();
            return;
        }
        tr.circle.progress += dTheta / kTwoPi;
        tr.circle.radius = 0.9f * tr.circle.radius + 0.1f * r;
        tr.circle.state = Gesture::StateUpdate;
        frame.gestures.push_back(tr.circle);
        return;
    }
    float sumR = 0.0f;
    float sumR2 = 0.0f;
    float swept = 0.0f;
    for (std::size_t i = 0; i < tr.path.size(); ++i) {
        const Vector a = onPlane(tr.path[i].p - c, normal);
        const float r = a.magnitude();
        sumR += r;
        sumR2 += r * r;
        if (i + 1 < tr.path.size()) {
            swept += signedAngle(a, onPlane(tr.path[i + 1].p - c, normal), normal);
        }
    }
    const float count = static_cast<float>(tr.path.size());
    const float meanR = sumR / count;
    const float spread = std::sqrt(std::max(0.0f, sumR2 / count - meanR * meanR));
    if (meanR < cfg.circleMinRadius || spread > kMaxCircleRoughness * meanR ||
        swept < cfg.circleMinTurns * kTwoPi) {
        return;
    }
    tr.circle = GestureRecord{};
    tr.circle.id = m_nextId++;
    tr.circle.type = Gesture::Circle;
    tr.circle.state = Gesture::StateStart;
    tr.circle.handId = tr.handId;
    tr.circle.pointableId = tr.pointerId;
    tr.circle.center = c;
    tr.circle.normal = normal;
    tr.circle.radius = meanR;
    tr.circle.progress = swept / kTwoPi;
    tr.circleStartTime = tr.path.front().t;
    tr.circle.duration = s.t - tr.circleStartTime;
    tr.circleActive = true;
    frame.gestures.push_back(tr.circle);
}

void Recognizer::updateTap(Track& tr, Tap& tap, int type, const Vector& axis, float minDistance,
                           float minSpeed, const Sample& s, const Vector& v,
                           const RecognizerSettings& cfg, FrameRecord& frame) {
    const float along = v.dot(axis);
    if (!tap.moving) {
        if (along < minSpeed) {
            return;
        }
        tap.moving = true;
        const std::size_t n = tr.samples.size();
        tap.start = n >= 2 ? tr.samples[n - 2] : s;
        tap.maxLateral = 0.0f;
        tap.pending = GestureRecord{};
        tap.pending.position = tap.start.p;
    }
    const Vector disp = s.p - tap.start.p;
    const float travel = disp.dot(axis);
    tap.maxLateral = std::max(tap.maxLateral, (disp - axis * travel).magnitude());
    const float peak = (tap.pending.position - tap.start.p).dot(axis);
    if (travel > peak) {
        tap.pending.position = s.p;
    }
    if (static_cast<float>(s.t - tap.start.t) * 1e-6f > cfg.tapMaxDuration) {
        tap.moving = false;
        return;
    }
    if (along > 0.0f) {
        return;  // still moving along the axis
    }
    tap.moving = false;
    const float reached = (tap.pending.position - tap.start.p).dot(axis);
    if (reached < minDistance || tap.maxLateral > cfg.tapMaxLateralRatio * reached) {
        return;
    }
    GestureRecord& g = tap.pending;
    g.id = m_nextId++;
    g.type = type;
    g.state = Gesture::StateStart;
    g.handId = tr.handId;
    g.pointableId = tr.pointerId;
    g.direction = (g.position - tap.start.p).normalized();
    g.duration = s.t - tap.start.t;
    frame.gestures.push_back(g);
    tap.pendingStop = true;
}

}  // namespace Kivo::detail
