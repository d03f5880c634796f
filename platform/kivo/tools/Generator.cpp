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

// A small deterministic generator (splitmix64), the same on every platform, unlike the standard
// library's distributions.
class Rng {
  public:
    explicit Rng(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [lo, hi].
    float uniform(float lo, float hi) {
        return lo + (hi - lo) * static_cast<float>(next() >> 40) / 16777215.0f;
    }

  private:
    std::uint64_t m_state;
};

// One take of a session: the canonical one (take 0) or a human-like variant.
class Take {
  public:
    Take(const std::string& name, std::uint32_t take, std::uint64_t seed) : m_rng(0), m_take(take) {
        std::uint64_t h = 1469598103934665603ull;  // FNV-1a of the name
        for (const char c : name) {
            h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
        }
        m_rng = Rng(h ^ (seed * 0x9E3779B97F4A7C15ull) ^ (std::uint64_t{take} << 32));
    }
    bool varied() const { return m_take != 0; }
    // `nominal` for the canonical take, otherwise a value drawn from [lo, hi].
    float pick(float nominal, float lo, float hi) {
        return varied() ? m_rng.uniform(lo, hi) : nominal;
    }
    // +1 for the canonical take, otherwise +1 or -1.
    float sign() { return !varied() || m_rng.next() % 2 == 0 ? 1.0f : -1.0f; }
    // `nominal` for the canonical take, otherwise one of `choices`.
    template <typename T, std::size_t N>
    T choose(T nominal, const std::array<T, N>& choices) {
        return varied() ? choices[m_rng.next() % N] : nominal;
    }
    Rng& rng() { return m_rng; }

  private:
    Rng m_rng;
    std::uint32_t m_take;
};

// A hand held palm down, fingers towards the screen (-z).
struct Pose {
    std::int32_t id = 1;
    bool right = true;
    Vector palm{0.0f, 200.0f, 0.0f};
    Vector normal{0.0f, -1.0f, 0.0f};
    Vector direction{0.0f, 0.0f, -1.0f};
    std::array<float, 5> curl{};  // 0 extended, 1 curled; thumb to little finger
    // How far a curling finger's tip bows out of the straight path between extended and curled,
    // along the palm normal, in mm at half curl: closing and opening along different arcs makes
    // the loop a real finger draws.
    float curlBow = 0.0f;
    float pinch = 0.0f;                 // 0 open, 1 thumb and index tips together
    float pinchBow = 0.0f;              // as curlBow, for the pinching tips
    float pinchHold = 1.0f;             // half the gap the pinching tips keep when closed, mm
    std::array<float, 5> reach{};       // extra extension of each finger along its length, mm
    std::array<Vector, 5> tipOffset{};  // moves one fingertip alone (taps, wiggles)
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
        if (pose.reach[f] != 0.0f) {
            extended += pose.direction * pose.reach[f];
        }
        const Vector curled =
            pose.palm + pose.direction * 35.0f + pose.normal * 25.0f + side * kSide[f];
        Vector tip = lerp(extended, curled, pose.curl[f]);
        if (pose.curlBow != 0.0f) {
            tip += pose.normal * (pose.curlBow * 4.0f * pose.curl[f] * (1.0f - pose.curl[f]));
        }
        if (f <= 1 && pose.pinch > 0.0f) {
            tip = lerp(tip, pinchPoint + side * (f == 0 ? pose.pinchHold : -pose.pinchHold),
                       pose.pinch);
            if (pose.pinchBow != 0.0f) {
                tip += pose.normal * (pose.pinchBow * 4.0f * pose.pinch * (1.0f - pose.pinch));
            }
        }
        if (pose.tipOffset[f] != Vector{}) {
            tip += pose.tipOffset[f];
        }
        Vector dir = (tip - knuckle).normalized();
        if (dir == Vector{}) {
            dir = pose.direction;
        }
        frame.pointables.push_back({pose.id * 10 + f, pose.id, tip, dir});
    }
}

// Builds a session by sampling `posesAt` at the frame rate over [from, to). A varied take also
// shifts the hands, may mirror a lone hand, and adds landmark noise.
class Builder {
  public:
    explicit Builder(Take& take) : m_take(take) {
        if (take.varied()) {
            m_frameUs = take.choose<std::int64_t>(
                kFrameUs, std::array<std::int64_t, 3>{16'667, 33'333, 40'000});
            m_shift = {take.pick(0, -40, 40), take.pick(0, -30, 40), take.pick(0, -30, 30)};
            m_right = take.sign() > 0.0f;
            m_noise = take.pick(0, 0.3f, 1.5f);
        }
    }
    void frames(double fromSeconds, double toSeconds,
                const std::function<std::vector<Pose>(float)>& posesAt) {
        for (std::int64_t t = toUs(fromSeconds); t < toUs(toSeconds); t += m_frameUs) {
            FrameRecord frame;
            frame.id = ++m_lastId;
            frame.timestamp = t;
            auto poses = posesAt(static_cast<float>(t) * 1e-6f);
            for (auto& pose : poses) {
                if (m_take.varied()) {
                    pose.palm += m_shift;
                    if (poses.size() == 1) {
                        pose.right = m_right;
                    }
                }
                addHand(frame, pose);
            }
            if (m_noise > 0.0f) {
                const auto jitter = [&] {
                    auto& rng = m_take.rng();
                    return Vector{rng.uniform(-m_noise, m_noise), rng.uniform(-m_noise, m_noise),
                                  rng.uniform(-m_noise, m_noise)};
                };
                for (auto& h : frame.hands) {
                    h.palmPosition += jitter();
                }
                for (auto& p : frame.pointables) {
                    p.tipPosition += jitter();
                }
            }
            m_rec.entries.emplace_back(std::move(frame));
        }
    }
    void event(double atSeconds, EventKind kind) {
        m_rec.entries.emplace_back(EventRecord{kind, toUs(atSeconds)});
    }
    Recording take() {
        m_rec.header.rate = 1e6 / static_cast<double>(m_frameUs);
        if (m_frameUs == kFrameUs) {
            m_rec.header.rate = 60.0;
        }
        m_rec.header.gesturesRecorded = false;
        return std::move(m_rec);
    }

  private:
    static std::int64_t toUs(double s) { return static_cast<std::int64_t>(std::llround(s * 1e6)); }
    Take& m_take;
    Recording m_rec;
    std::int64_t m_lastId = 0;
    std::int64_t m_frameUs = kFrameUs;
    Vector m_shift;
    bool m_right = true;
    float m_noise = 0.0f;
};

// A tiny, deterministic tremor, well below anything the recogniser reacts to.
Vector tremor(float t) {
    return {0.3f * std::sin(7.1f * t), 0.3f * std::sin(5.3f * t + 1.0f),
            0.3f * std::sin(6.7f * t + 2.0f)};
}

// A unit direction in the x-y plane (across the view, never towards the screen).
Vector across(float angle) {
    return {std::cos(angle), std::sin(angle), 0.0f};
}

// A hand pose for gestures that are made with either a pointing finger or the whole hand.
Pose anyHand(Take& take, const Vector& palm) {
    return take.sign() > 0.0f ? pointing(palm) : flat(palm);
}

Recording stillHand(Take& take) {
    Builder b(take);
    const bool open = take.sign() < 0.0f;
    b.frames(0, 3.0, [&](float t) {
        const Vector palm = Vector{0, 200, 0} + tremor(t);
        return std::vector{open ? flat(palm) : pointing(palm)};
    });
    return b.take();
}

Recording swipe(Take& take) {
    Builder b(take);
    const float start = take.pick(0.5f, 0.35f, 0.8f);
    const float length = take.pick(300.0f, 180.0f, 320.0f);
    const float peak = take.pick(1286.0f, 700.0f, 1400.0f);  // mm/s
    const float seconds = take.varied() ? 1.5f * length / peak : 0.35f;
    const float angle = take.choose(0.0f, std::array{0.0f, kPi, 0.5f * kPi, -0.5f * kPi});
    const Vector dir = take.varied() ? across(angle + take.pick(0, -0.2f, 0.2f)) : Vector{1, 0, 0};
    const bool open = take.sign() < 0.0f;
    const Vector from = Vector{0.0f, 200.0f, 0.0f} - dir * (0.5f * length);
    b.frames(0, 1.5, [&](float t) {
        const float u = smoothstep((t - start) / seconds);
        const Vector palm = from + dir * (length * u);
        return std::vector{open ? flat(palm) : pointing(palm)};
    });
    return b.take();
}

Recording circle(Take& take) {
    Builder b(take);
    const float r = take.pick(40.0f, 25.0f, 70.0f);
    const float turns = take.pick(1.5f, 1.0f, 2.0f);
    const float seconds = take.pick(1.5f, 0.9f, 2.2f) * turns / 1.5f;
    const float start = take.pick(0.5f, 0.35f, 0.7f);
    const float spin = take.sign();
    const float squash = take.pick(1.0f, 0.8f, 1.0f);  // an oval, as people draw
    b.frames(0, start + seconds + 0.5f, [&](float t) {
        const float theta = 2.0f * kPi * turns * smoothstep((t - start) / seconds);
        // Counter-clockwise seen from the user: the normal points towards the user (+z).
        const Vector offset{r * (std::cos(theta) - 1.0f), spin * squash * r * std::sin(theta),
                            0.0f};
        return std::vector{pointing(Vector{0.0f, 200.0f, 0.0f} + offset)};
    });
    return b.take();
}

// How a tap varies: its travel and its peak speed.
struct TapRange {
    float distance, minDistance, maxDistance;  // mm
    float seconds;                             // the canonical take's duration
    float minPeak, maxPeak;                    // mm/s
};

// A fingertip (or the hand) moving along `axis` and back as a sine bump.
Recording tap(Take& take, const Vector& axis, const TapRange& range) {
    Builder b(take);
    const float distance = take.pick(range.distance, range.minDistance, range.maxDistance);
    // A sine bump peaks at pi * distance / seconds.
    const float seconds = take.varied()
                              ? kPi * distance / take.pick(0.0f, range.minPeak, range.maxPeak)
                              : range.seconds;
    const float start = take.pick(0.5f, 0.4f, 0.8f);
    const float withHand = take.pick(0.0f, 0.0f, 0.6f);  // share of the motion made by the palm
    b.frames(0, 1.4, [&](float t) {
        const Vector move = axis * (distance * bump((t - start) / seconds));
        Pose p = pointing(Vector{0.0f, 200.0f, 0.0f} + move * withHand);
        p.tipOffset[1] = move * (1.0f - withHand);
        return std::vector{p};
    });
    return b.take();
}

Recording screenTap(Take& take) {
    return tap(take, {0.0f, 0.0f, -1.0f}, {25.0f, 18.0f, 45.0f, 0.24f, 150.0f, 700.0f});
}

Recording keyTap(Take& take) {
    return tap(take, {0.0f, -1.0f, 0.0f}, {20.0f, 18.0f, 45.0f, 0.22f, 150.0f, 700.0f});
}

Recording poke(Take& take) {
    Builder b(take);
    const float depth = take.pick(100.0f, 60.0f, 120.0f);
    const float seconds = take.pick(2.0f, 1.5f, 2.5f);
    b.frames(0, 5.0, [&](float t) {
        const float in = smoothstep((t - 0.3f) / seconds) - smoothstep((t - 2.6f) / seconds);
        return std::vector{pointing({0.0f, 180.0f, -depth * in})};
    });
    return b.take();
}

Recording pinchCarry(Take& take) {
    Builder b(take);
    const Vector from{-80.0f, 180.0f, 0.0f};
    const Vector to =
        take.varied() ? Vector{take.pick(0, 40, 120), take.pick(0, 150, 240), take.pick(0, -60, 20)}
                      : Vector{80.0f, 230.0f, -40.0f};
    const float seconds = take.pick(1.5f, 1.2f, 2.0f);
    b.frames(0, 3.6, [&](float t) {
        Pose p = flat(lerp(from, to, smoothstep((t - 1.0f) / seconds)));
        p.pinch = smoothstep((t - 0.3f) / 0.5f) - smoothstep((t - 2.8f) / 0.5f);
        p.pinchHold = 10.0f;  // thumb and index close on a 20 mm block
        return std::vector{p};
    });
    return b.take();
}

Recording twoHands(Take& take) {
    Builder b(take);
    const float drift = take.pick(40.0f, 20.0f, 60.0f);
    b.frames(0, 3.0, [&](float t) {
        const float apart = drift * smoothstep((t - 0.5f) / 2.0f);
        return std::vector{flat({80.0f + apart, 200.0f, 0.0f}, 1, true),
                           flat({-80.0f - apart, 200.0f, 0.0f}, 2, false)};
    });
    return b.take();
}

Recording unplugReplug(Take& take) {
    Builder b(take);
    const auto hand = [](float t) { return std::vector{pointing(Vector{0, 200, 0} + tremor(t))}; };
    b.frames(0, 1.0, hand);
    b.event(1.0, EventKind::Disconnect);
    b.event(2.0, EventKind::Connect);
    b.frames(2.0, 3.0, hand);
    return b.take();
}

// --- How people actually move: the motions that a recogniser tuned on clean strokes gets wrong.

Recording fastScreenTap(Take& take) {
    return tap(take, {0.0f, 0.0f, -1.0f},
               {40.0f, 30.0f, 50.0f, kPi * 40.0f / 1400.0f, 900.0f, 1500.0f});
}

Recording fastKeyTap(Take& take) {
    return tap(take, {0.0f, -1.0f, 0.0f},
               {40.0f, 30.0f, 50.0f, kPi * 40.0f / 1000.0f, 900.0f, 1500.0f});
}

// Index and middle finger side by side; the one reaching farther changes every 3 to 6 frames
// while the hand swipes.
Recording fingerSwapSwipe(Take& take) {
    Builder b(take);
    const float length = take.pick(260.0f, 180.0f, 300.0f);
    const float peak = take.pick(900.0f, 600.0f, 1200.0f);
    const float angle = take.choose(0.0f, std::array{0.0f, kPi});
    const float start = take.pick(0.5f, 0.4f, 0.7f);
    const float seconds = 1.5f * length / peak;
    // Frames each finger stays ahead: 3 to 6.
    std::vector<int> leadOf;
    for (int who = 0; leadOf.size() < 200; who = 1 - who) {
        const auto n = 3 + take.rng().next() % 4;
        leadOf.insert(leadOf.end(), n, who);
    }
    int frame = 0;
    b.frames(0, 1.5, [&](float t) {
        const float u = smoothstep((t - start) / seconds);
        Pose p = pointing(Vector{0.0f, 200.0f, 0.0f} + across(angle) * (length * (u - 0.5f)));
        p.curl[2] = 0.0f;  // middle finger out too
        const bool indexLeads = leadOf[static_cast<std::size_t>(frame++) % leadOf.size()] == 0;
        p.reach[1] = indexLeads ? 18.0f : 0.0f;
        p.reach[2] = indexLeads ? 0.0f : 12.0f;
        return std::vector{p};
    });
    return b.take();
}

// An open hand swipes; its fingers flex a little, each in its own rhythm, so the finger reaching
// farthest changes several times during the stroke.
Recording openHandSwipe(Take& take) {
    Builder b(take);
    const float length = take.pick(280.0f, 180.0f, 320.0f);
    const float peak = take.pick(1000.0f, 600.0f, 1300.0f);
    const float angle = take.choose(kPi, std::array{0.0f, kPi, 0.5f * kPi, -0.5f * kPi});
    const float start = take.pick(0.5f, 0.4f, 0.7f);
    const float seconds = 1.5f * length / peak;
    const float phase = take.pick(0.0f, 0.0f, 6.0f);
    b.frames(0, 1.5, [&](float t) {
        const float u = smoothstep((t - start) / seconds);
        Pose p = flat(Vector{0.0f, 200.0f, 0.0f} + across(angle) * (length * (u - 0.5f)));
        for (int f = 1; f < 5; ++f) {
            p.reach[f] = 9.0f * std::sin(2.0f * kPi * (4.0f + 0.7f * static_cast<float>(f)) * t +
                                         phase + 1.7f * static_cast<float>(f));
        }
        return std::vector{p};
    });
    return b.take();
}

// A swipe as many people make it: slower and shorter than a deliberate one.
Recording slowSwipe(Take& take) {
    Builder b(take);
    const float length = take.pick(200.0f, 150.0f, 250.0f);
    const float peak = take.pick(590.0f, 520.0f, 660.0f);
    const float angle = take.choose(0.0f, std::array{0.0f, kPi, 0.5f * kPi, -0.5f * kPi});
    const float start = take.pick(0.5f, 0.4f, 0.7f);
    const float seconds = 1.5f * length / peak;
    b.frames(0, start + seconds + 0.5f, [&](float t) {
        const float u = smoothstep((t - start) / seconds);
        return std::vector{
            anyHand(take, Vector{0.0f, 200.0f, 0.0f} + across(angle) * (length * (u - 0.5f)))};
    });
    return b.take();
}

// A "V": down and to the right, then up and to the right, each stroke about 100 mm, the second
// starting before the first has quite stopped.
Recording vSwipe(Take& take) {
    Builder b(take);
    const float leg = take.pick(100.0f, 88.0f, 110.0f);
    const float peak = take.pick(800.0f, 650.0f, 1000.0f);
    const float overlap = take.pick(0.1f, 0.0f, 0.2f);
    const float start = take.pick(0.5f, 0.4f, 0.7f);
    const float seconds = 1.5f * leg / peak;
    const float mirror = take.sign();
    const Vector down = Vector{mirror * 0.7071f, -0.7071f, 0.0f} * leg;
    const Vector up = Vector{mirror * 0.7071f, 0.7071f, 0.0f} * leg;
    const float second = start + seconds * (1.0f - overlap);
    b.frames(0, second + seconds + 0.5f, [&](float t) {
        const Vector palm = Vector{-mirror * 70.0f, 230.0f, 0.0f} +
                            down * smoothstep((t - start) / seconds) +
                            up * smoothstep((t - second) / seconds);
        return std::vector{pointing(palm)};
    });
    return b.take();
}

// The hand reaches towards the screen along an arc (sideways travel about three quarters of the
// forward travel), the finger presses, and the hand draws back.
Recording arcScreenTap(Take& take) {
    Builder b(take);
    const float forward = take.pick(85.0f, 70.0f, 95.0f);
    const float press = take.pick(15.0f, 10.0f, 20.0f);
    const float sideways = (forward + press) * take.pick(0.75f, 0.7f, 0.8f);
    const float sideAngle = take.pick(-0.5f * kPi, -kPi, 0.0f);  // canonical: downwards
    const float reach = take.pick(0.35f, 0.3f, 0.45f);
    const float start = take.pick(0.5f, 0.4f, 0.7f);
    const Vector side = across(sideAngle);
    b.frames(0, start + reach + 1.6f, [&](float t) {
        const float out = smoothstep((t - start) / reach);
        const float back = smoothstep((t - start - reach - 0.35f) / 1.0f);
        const float s = out * (1.0f - back);
        Pose p =
            pointing(Vector{0.0f, 230.0f, 40.0f} + side * (sideways * std::sin(0.5f * kPi * s)) +
                     Vector{0.0f, 0.0f, -forward * s});
        p.tipOffset[1] = {0.0f, 0.0f, -press * bump((t - start - reach + 0.03f) / 0.25f)};
        return std::vector{p};
    });
    return b.take();
}

// An upright hand, palm to the screen, reaching towards it as recorded people tap: the arm
// carries it forward (and across and up, from a hand held off to one side) while the hand tips
// forward so that the pointing finger presses out ahead of the palm; it holds, then draws back.
// `grab`: an open hand reaching the same way closes on what it reached for instead.
Recording reach(Take& take, bool grab) {
    Builder b(take);
    const float forward = take.pick(180.0f, 120.0f, 240.0f);
    const float across = take.pick(-0.6f, -0.8f, -0.3f) * forward;
    const float up = take.pick(0.2f, -0.2f, 0.5f) * forward;
    const float tilt = take.pick(1.0f, 0.8f, 1.1f);  // rad the hand tips forward
    const float seconds = take.pick(0.45f, 0.3f, 0.6f);
    const float hold = take.pick(0.4f, 0.3f, 0.6f);
    // s after the reach stops that the hand starts closing: the recogniser cannot tell a grab that
    // holds open for longer from a tap
    const float close = take.pick(0.0f, -0.1f, 0.1f);
    const float start = take.pick(0.5f, 0.4f, 0.7f);
    b.frames(0, start + seconds + hold + 1.2f, [&](float t) {
        const float out =
            smoothstep((t - start) / seconds) - smoothstep((t - start - seconds - hold) / 0.8f);
        const float a = tilt * out;
        Pose p = grab ? flat(Vector{across * out, 180.0f + up * out, 60.0f - forward * out})
                      : pointing(Vector{across * out, 180.0f + up * out, 60.0f - forward * out});
        p.direction = {0.0f, std::cos(a), -std::sin(a)};
        p.normal = {0.0f, -std::sin(a), -std::cos(a)};
        p.reach[1] = 50.0f;  // recorded fingertips lie 130-170 mm from the palm's centre
        p.reach[2] = grab ? 50.0f : 0.0f;
        if (grab) {
            const float shut = smoothstep((t - start - seconds - close) / 0.25f);
            p.curl = {shut, shut, shut, shut, shut};
            p.pinch = shut;
            p.pinchHold = 15.0f;
        }
        return std::vector{p};
    });
    return b.take();
}

Recording reachTap(Take& take) {
    return reach(take, false);
}

Recording reachGrab(Take& take) {
    return reach(take, true);
}

// A fast circle of 140 mm radius, a little uneven and drifting, for one and a third turns: its
// chords are as long and as fast as a swipe.
Recording fastCircle(Take& take) {
    Builder b(take);
    const float r = take.pick(140.0f, 110.0f, 160.0f);
    const float turns = take.pick(1.35f, 1.1f, 1.5f);
    const float peak = take.pick(1300.0f, 1000.0f, 1500.0f);
    const float start = take.pick(0.5f, 0.4f, 0.7f);
    const float spin = take.sign();
    const float squash = take.pick(0.85f, 0.8f, 0.95f);
    const float seconds = 1.5f * turns * 2.0f * kPi * r / peak;
    b.frames(0, start + seconds + 0.5f, [&](float t) {
        const float u = smoothstep((t - start) / seconds);
        const float theta = 2.0f * kPi * turns * u;
        const Vector offset{r * (std::cos(theta) - 1.0f) + 20.0f * u,
                            spin * squash * r * std::sin(theta), 0.0f};
        return std::vector{pointing(Vector{60.0f, 200.0f, 0.0f} + offset)};
    });
    return b.take();
}

// A hand comes into view already moving fast (1100 to 1500 mm/s), travels 130 to 200 mm and
// stops: reaching for the work, not swiping.
Recording fastEntry(Take& take) {
    Builder b(take);
    const float v0 = take.pick(1300.0f, 1100.0f, 1500.0f);
    const float distance = take.pick(170.0f, 130.0f, 200.0f);
    const float angle = take.pick(0.0f, -kPi, kPi);
    const Vector dir = across(angle);
    const float cruise = 0.6f * distance / v0;  // constant speed, then an even stop
    const float brake = 2.0f * 0.4f * distance / v0;
    b.frames(0, 2.0, [&](float t) {
        float s = distance;
        if (t < cruise) {
            s = v0 * t;
        } else if (t < cruise + brake) {
            const float u = (t - cruise) / brake;
            s = 0.6f * distance + 0.4f * distance * (1.0f - (1.0f - u) * (1.0f - u));
        }
        return std::vector{anyHand(take, Vector{0.0f, 200.0f, 0.0f} + dir * (s - 0.5f * distance))};
    });
    return b.take();
}

// An open, still hand drums its fingers: each fingertip dips 20 to 55 mm and comes back, the
// fingers one after another, overlapping.
Recording fingerWiggle(Take& take) {
    Builder b(take);
    std::array<float, 5> depth{};
    for (int f = 1; f < 5; ++f) {
        depth[f] = take.pick(20.0f + 10.0f * static_cast<float>(f), 20.0f, 55.0f);
    }
    const float stroke = take.pick(0.2f, 0.16f, 0.3f);
    const float lag = take.pick(0.07f, 0.05f, 0.1f);
    const float start = take.pick(0.5f, 0.4f, 0.7f);
    b.frames(0, 2.5, [&](float t) {
        Pose p = flat({0.0f, 200.0f, 0.0f});
        for (int f = 1; f < 5; ++f) {
            const float local = t - start - lag * static_cast<float>(4 - f);
            const float cycle = 2.5f * stroke;
            if (local > 0.0f && local < 3.0f * cycle) {
                const float u = std::fmod(local, cycle) / stroke;
                p.tipOffset[f] = {0.0f, -depth[f] * bump(u), 0.0f};
            }
        }
        return std::vector{p};
    });
    return b.take();
}

// A pointing hand pinches and lets go, then an open hand makes a fist and opens; the fingertips
// close along one arc and open along another, so each draws a loop.
Recording pinchGrab(Take& take) {
    Builder b(take);
    const float bow = take.pick(10.0f, 6.0f, 14.0f);
    const float seconds = take.pick(0.6f, 0.45f, 0.9f);
    b.frames(0, 3.2, [&](float t) {
        const Vector palm{0.0f, 200.0f, 0.0f};
        if (t < 1.6f) {
            Pose p = pointing(palm);
            const float u = std::clamp((t - 0.5f) / seconds, 0.0f, 1.0f);
            p.pinch = 0.5f - 0.5f * std::cos(2.0f * kPi * u);
            p.pinchBow = bow * std::sin(2.0f * kPi * u);
            return std::vector{p};
        }
        Pose p = flat(palm);
        const float u = std::clamp((t - 2.0f) / seconds, 0.0f, 1.0f);
        const float c = 0.5f - 0.5f * std::cos(2.0f * kPi * u);
        p.curl = {c, c, c, c, c};
        p.curlBow = 1.5f * bow * std::sin(2.0f * kPi * u);
        return std::vector{p};
    });
    return b.take();
}

struct Generator {
    SessionInfo info;
    Recording (*make)(Take&);
};

const std::array<Generator, 22> kGenerators{{
    {{"pinch-carry", "an open hand pinches a 20 mm block, carries it up and across, lets go",
      "none"},
     pinchCarry},
    {{"poke", "a pointing hand pushes slowly 100 mm towards the screen and back", "none"}, poke},
    {{"swipe", "a pointing hand swipes 300 mm to the right", "swipe"}, swipe},
    {{"circle", "a fingertip draws one and a half turns of a 40 mm circle, counter-clockwise",
      "circle"},
     circle},
    {{"screen-tap", "the index finger pokes 25 mm towards the screen and back", "screen-tap"},
     screenTap},
    {{"key-tap", "the index finger taps 20 mm down and back up", "key-tap"}, keyTap},
    {{"two-hands", "a right and a left hand, open, drifting apart", "none"}, twoHands},
    {{"unplug-replug", "a still hand; the device is unplugged for a second, then plugged in",
      "none"},
     unplugReplug},
    {{"still-hand", "a pointing hand held still for three seconds", "none"}, stillHand},
    {{"fast-screen-tap", "the index finger pokes 40 mm towards the screen at up to 1400 mm/s",
      "screen-tap"},
     fastScreenTap},
    {{"fast-key-tap", "the index finger taps 40 mm down at up to 1000 mm/s", "key-tap"},
     fastKeyTap},
    {{"finger-swap-swipe",
      "index and middle finger out, trading the lead every 3 to 6 frames, swipe 260 mm right",
      "swipe"},
     fingerSwapSwipe},
    {{"open-hand-swipe",
      "an open hand with restless fingers swipes 280 mm to the left; the farthest finger changes",
      "swipe"},
     openHandSwipe},
    {{"slow-swipe", "a pointing hand swipes 200 mm to the right, peaking at 590 mm/s", "swipe"},
     slowSwipe},
    {{"v-swipe", "a pointing hand draws a V: two strokes of 100 mm, the second without a pause",
      "swipe"},
     vSwipe},
    {{"arc-screen-tap",
      "the hand reaches 85 mm towards the screen along an arc, the finger presses 15 mm, the hand "
      "draws back",
      "screen-tap"},
     arcScreenTap},
    {{"reach-tap",
      "an upright hand reaches 180 mm towards the screen, tipping forward so the pointing finger "
      "presses out ahead of the palm, holds and draws back",
      "screen-tap"},
     reachTap},
    {{"reach-grab", "an open hand reaches as in reach-tap and closes into a fist at the end",
      "none"},
     reachGrab},
    {{"fast-circle",
      "one and a third uneven turns of a 140 mm circle at up to 1300 mm/s, drifting sideways",
      "circle"},
     fastCircle},
    {{"fast-entry", "a hand enters the view at 1300 mm/s, travels 170 mm and stays", "none"},
     fastEntry},
    {{"finger-wiggle", "an open, still hand drums its fingers, each dipping 20 to 55 mm", "none"},
     fingerWiggle},
    {{"pinch-grab", "a pointing hand pinches and lets go; an open hand makes a fist and opens",
      "none"},
     pinchGrab},
}};

}  // namespace

std::vector<SessionInfo> generatedSessions() {
    std::vector<SessionInfo> out;
    for (const auto& g : kGenerators) {
        out.push_back(g.info);
    }
    return out;
}

bool generateSession(const std::string& name, Kivo::Recording& out, std::string& error,
                     std::uint32_t take, std::uint64_t seed) {
    for (const auto& g : kGenerators) {
        if (g.info.name == name) {
            Take t(name, take, seed);
            out = g.make(t);
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
