#include <kivo_tools/Generator.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <numbers>
#include <optional>

namespace KivoTools {

namespace {

using Kivo::EventKind;
using Kivo::EventRecord;
using Kivo::FrameRecord;
using Kivo::HandRecord;
using Kivo::PointableRecord;
using Kivo::Recording;
using Kivo::Vector;

constexpr double kRate = 60.0;
constexpr std::int64_t kFrameUs = 16'667;
constexpr float kPi = std::numbers::pi_v<float>;

float smoothstep(float u) {
    u = std::clamp(u, 0.0f, 1.0f);
    return u * u * (3.0f - 2.0f * u);
}

// 0 -> 1 -> 0 over u in [0, 1].
float bump(float u) {
    return (u <= 0.0f || u >= 1.0f) ? 0.0f : std::sin(kPi * u);
}

Vector lerp(const Vector& a, const Vector& b, float u) {
    return a + (b - a) * u;
}

// A hand held palm down, fingers towards the screen (-z).
struct Pose {
    std::int32_t id = 1;
    bool right = true;
    Vector palm{0.0f, 200.0f, 0.0f};
    Vector normal{0.0f, -1.0f, 0.0f};
    Vector direction{0.0f, 0.0f, -1.0f};
    std::array<float, 5> curl{};  // 0 extended, 1 curled; thumb to little finger
    float pinch = 0.0f;           // 0 open, 1 thumb and index tips together
    Vector indexOffset;           // moves the index fingertip alone (taps)
};

Pose pointing(Vector palm) {
    Pose p;
    p.palm = palm;
    p.curl = {1.0f, 0.0f, 1.0f, 1.0f, 1.0f};
    return p;
}

Pose flat(Vector palm, std::int32_t id = 1, bool right = true) {
    Pose p;
    p.palm = palm;
    p.id = id;
    p.right = right;
    return p;
}

void addHand(FrameRecord& frame, const Pose& pose) {
    constexpr std::array<float, 5> kLength{55.0f, 85.0f, 92.0f, 86.0f, 70.0f};
    constexpr std::array<float, 5> kSide{45.0f, 22.0f, 0.0f, -20.0f, -38.0f};
    const Vector side =
        pose.direction.cross(pose.normal).normalized() * (pose.right ? 1.0f : -1.0f);
    frame.hands.push_back({pose.id, pose.palm, pose.normal, pose.direction});
    const Vector pinchPoint =
        pose.palm + pose.direction * 60.0f + side * 20.0f + pose.normal * 15.0f;
    for (int f = 0; f < 5; ++f) {
        const Vector knuckle = pose.palm + pose.direction * 40.0f + side * kSide[f];
        Vector extended = pose.palm + pose.direction * kLength[f] + side * kSide[f];
        if (f == 0) {
            extended = extended + side * 15.0f;
        }
        const Vector curled =
            pose.palm + pose.direction * 35.0f + pose.normal * 25.0f + side * kSide[f];
        Vector tip = lerp(extended, curled, pose.curl[f]);
        if (f <= 1 && pose.pinch > 0.0f) {
            tip = lerp(tip, pinchPoint + side * (f == 0 ? 1.0f : -1.0f), pose.pinch);
        }
        if (f == 1) {
            tip += pose.indexOffset;
        }
        Vector dir = (tip - knuckle).normalized();
        if (dir == Vector{}) {
            dir = pose.direction;
        }
        frame.pointables.push_back({pose.id * 10 + f, pose.id, tip, dir});
    }
}

// Builds a session by sampling `posesAt` at the frame rate over [0, seconds).
class Builder {
  public:
    void frames(double fromSeconds, double toSeconds,
                const std::function<std::vector<Pose>(float)>& posesAt) {
        for (std::int64_t t = toUs(fromSeconds); t < toUs(toSeconds); t += kFrameUs) {
            FrameRecord frame;
            frame.id = ++m_lastId;
            frame.timestamp = t;
            for (const auto& pose : posesAt(static_cast<float>(t) * 1e-6f)) {
                addHand(frame, pose);
            }
            m_rec.entries.emplace_back(std::move(frame));
        }
    }
    void event(double atSeconds, EventKind kind) {
        m_rec.entries.emplace_back(EventRecord{kind, toUs(atSeconds)});
    }
    Recording take() {
        m_rec.header.rate = kRate;
        m_rec.header.gesturesRecorded = false;
        return std::move(m_rec);
    }

  private:
    static std::int64_t toUs(double s) { return static_cast<std::int64_t>(std::llround(s * 1e6)); }
    Recording m_rec;
    std::int64_t m_lastId = 0;
};

// A tiny, deterministic tremor, well below anything the recogniser reacts to.
Vector tremor(float t) {
    return {0.3f * std::sin(7.1f * t), 0.3f * std::sin(5.3f * t + 1.0f),
            0.3f * std::sin(6.7f * t + 2.0f)};
}

Recording stillHand() {
    Builder b;
    b.frames(0, 3.0, [](float t) { return std::vector{pointing(Vector{0, 200, 0} + tremor(t))}; });
    return b.take();
}

Recording swipe() {
    Builder b;
    b.frames(0, 1.5, [](float t) {
        const float u = smoothstep((t - 0.5f) / 0.35f);
        return std::vector{pointing({-150.0f + 300.0f * u, 200.0f, 0.0f})};
    });
    return b.take();
}

Recording circle() {
    Builder b;
    b.frames(0, 2.5, [](float t) {
        constexpr float r = 40.0f;
        const float theta = 2.0f * kPi * 1.5f * smoothstep((t - 0.5f) / 1.5f);
        // Counter-clockwise seen from the user: the normal points towards the user (+z).
        const Vector offset{r * (std::cos(theta) - 1.0f), r * std::sin(theta), 0.0f};
        return std::vector{pointing(Vector{0.0f, 200.0f, 0.0f} + offset)};
    });
    return b.take();
}

Recording screenTap() {
    Builder b;
    b.frames(0, 1.4, [](float t) {
        Pose p = pointing({0.0f, 200.0f, 0.0f});
        p.indexOffset = {0.0f, 0.0f, -25.0f * bump((t - 0.5f) / 0.24f)};
        return std::vector{p};
    });
    return b.take();
}

Recording keyTap() {
    Builder b;
    b.frames(0, 1.4, [](float t) {
        Pose p = pointing({0.0f, 200.0f, 0.0f});
        p.indexOffset = {0.0f, -20.0f * bump((t - 0.5f) / 0.22f), 0.0f};
        return std::vector{p};
    });
    return b.take();
}

Recording poke() {
    Builder b;
    b.frames(0, 5.0, [](float t) {
        const float in = smoothstep((t - 0.3f) / 2.0f) - smoothstep((t - 2.6f) / 2.0f);
        return std::vector{pointing({0.0f, 180.0f, -100.0f * in})};
    });
    return b.take();
}

Recording pinchCarry() {
    Builder b;
    b.frames(0, 3.6, [](float t) {
        const Vector from{-80.0f, 180.0f, 0.0f};
        const Vector to{80.0f, 230.0f, -40.0f};
        Pose p = flat(lerp(from, to, smoothstep((t - 1.0f) / 1.5f)));
        p.pinch = smoothstep((t - 0.3f) / 0.5f) - smoothstep((t - 2.8f) / 0.5f);
        return std::vector{p};
    });
    return b.take();
}

Recording twoHands() {
    Builder b;
    b.frames(0, 3.0, [](float t) {
        const float apart = 40.0f * smoothstep((t - 0.5f) / 2.0f);
        return std::vector{flat({80.0f + apart, 200.0f, 0.0f}, 1, true),
                           flat({-80.0f - apart, 200.0f, 0.0f}, 2, false)};
    });
    return b.take();
}

Recording unplugReplug() {
    Builder b;
    const auto hand = [](float t) { return std::vector{pointing(Vector{0, 200, 0} + tremor(t))}; };
    b.frames(0, 1.0, hand);
    b.event(1.0, EventKind::Disconnect);
    b.event(2.0, EventKind::Connect);
    b.frames(2.0, 3.0, hand);
    return b.take();
}

struct Generator {
    SessionInfo info;
    Recording (*make)();
};

const std::array<Generator, 9> kGenerators{{
    {{"pinch-carry", "an open hand pinches, carries what it holds up and across, lets go"},
     pinchCarry},
    {{"poke", "a pointing hand pushes slowly 100 mm towards the screen and back"}, poke},
    {{"swipe", "a pointing hand swipes 300 mm to the right"}, swipe},
    {{"circle", "a fingertip draws one and a half turns of a 40 mm circle, counter-clockwise"},
     circle},
    {{"screen-tap", "the index finger pokes 25 mm towards the screen and back"}, screenTap},
    {{"key-tap", "the index finger taps 20 mm down and back up"}, keyTap},
    {{"two-hands", "a right and a left hand, open, drifting apart"}, twoHands},
    {{"unplug-replug", "a still hand; the device is unplugged for a second, then plugged in"},
     unplugReplug},
    {{"still-hand", "a pointing hand held still for three seconds"}, stillHand},
}};

}  // namespace

std::vector<SessionInfo> generatedSessions() {
    std::vector<SessionInfo> out;
    for (const auto& g : kGenerators) {
        out.push_back(g.info);
    }
    return out;
}

bool generateSession(const std::string& name, Kivo::Recording& out, std::string& error) {
    for (const auto& g : kGenerators) {
        if (g.info.name == name) {
            out = g.make();
            return true;
        }
    }
    error = "unknown session '" + name + "'; known:";
    for (const auto& g : kGenerators) {
        error += " " + g.info.name;
    }
    return false;
}

}  // namespace KivoTools
