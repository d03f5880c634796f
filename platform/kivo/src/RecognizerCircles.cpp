// Circles: the pointing finger's path fitted to a circle.
#include "Recognizer.h"
#include "RecognizerRules.h"

#include <kivo/Gesture.h>

namespace Kivo::detail {

using namespace recognition;

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

}  // namespace Kivo::detail
