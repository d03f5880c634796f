#include <kivo_tools/Landmarks.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <istream>
#include <limits>
#include <numbers>
#include <sstream>

namespace KivoTools {

namespace {

using Kivo::Vector;
using Points = std::array<Vector, kHandLandmarks>;

// Capture times up to this many milliseconds (about 3000 years of Unix time) are taken.
constexpr double kMaxTimeMs = 1e14;

// Each finger's first landmark that counts towards its length (the thumb from its knuckle, the
// others from theirs) and its tip.
constexpr std::array<int, 5> kFingerBases{2, 5, 9, 13, 17};
constexpr std::array<int, 5> kTips{4, 8, 12, 16, 20};

struct Refusal {
    std::string message;
};

[[noreturn]] void refuse(const std::string& field, const std::string& what) {
    throw Refusal{field + ": " + what};
}

const nlohmann::json& member(const nlohmann::json& object, const char* key,
                             const std::string& where) {
    const auto it = object.find(key);
    if (it == object.end()) {
        refuse(where.empty() ? key : where + "." + key, "missing");
    }
    return *it;
}

double finiteNumber(const nlohmann::json& value, const std::string& field) {
    if (!value.is_number()) {
        refuse(field, "expected a finite number");
    }
    const double v = value.get<double>();
    if (!std::isfinite(v)) {
        refuse(field, "expected a finite number");
    }
    return v;
}

// A number as a message shows it: as few digits as tell it apart, an exponent for the large.
std::string shown(double v) {
    std::ostringstream text;
    text << std::setprecision(15) << v;
    return text.str();
}

double numberWithin(const nlohmann::json& value, const std::string& field, double low,
                    double high) {
    const double v = finiteNumber(value, field);
    if (v < low || v > high) {
        refuse(field, shown(v) + " is outside " + shown(low) + ".." + shown(high));
    }
    return v;
}

int side(const nlohmann::json& value, const std::string& field) {
    const double v = numberWithin(value, field, 1.0, kMaxImageSide);
    if (v != std::floor(v)) {
        refuse(field, "expected a whole number of pixels");
    }
    return static_cast<int>(v);
}

void readLandmarks(const nlohmann::json& list, const std::string& field, bool image,
                   std::array<Vector, kHandLandmarks>& out) {
    if (!list.is_array()) {
        refuse(field, "expected an array of " + std::to_string(kHandLandmarks) + " landmarks");
    }
    if (list.size() != kHandLandmarks) {
        refuse(field, "expected " + std::to_string(kHandLandmarks) + " landmarks, got " +
                          std::to_string(list.size()));
    }
    for (std::size_t i = 0; i < kHandLandmarks; ++i) {
        const std::string at = field + "[" + std::to_string(i) + "]";
        const auto& p = list[i];
        if (!p.is_array() || p.size() != 3) {
            refuse(at, "expected [x, y, z]");
        }
        std::array<float, 3> v{};
        for (std::size_t k = 0; k < 3; ++k) {
            const std::string component = at + "[" + std::to_string(k) + "]";
            double low = -kMaxWorldCoordinate;
            double high = kMaxWorldCoordinate;
            if (image) {
                low = k < 2 ? kMinImageCoordinate : -kMaxImageDepth;
                high = k < 2 ? kMaxImageCoordinate : kMaxImageDepth;
            }
            v[k] = static_cast<float>(numberWithin(p[k], component, low, high));
        }
        out[i] = Vector{v[0], v[1], v[2]};
    }
}

LandmarkHand readHand(const nlohmann::json& hand, const std::string& where) {
    if (!hand.is_object()) {
        refuse(where, "expected an object");
    }
    LandmarkHand out;
    const auto& handedness = member(hand, "handedness", where);
    if (!handedness.is_string() || (handedness.get_ref<const std::string&>() != "Left" &&
                                    handedness.get_ref<const std::string&>() != "Right")) {
        refuse(where + ".handedness", "expected \"Left\" or \"Right\"");
    }
    out.right = handedness.get_ref<const std::string&>() == "Right";
    out.score =
        static_cast<float>(numberWithin(member(hand, "score", where), where + ".score", 0.0, 1.0));
    readLandmarks(member(hand, "image", where), where + ".image", true, out.image);
    readLandmarks(member(hand, "world", where), where + ".world", false, out.world);
    return out;
}

void readFrame(const nlohmann::json& doc, LandmarkFrame& out) {
    out.timeMs = numberWithin(member(doc, "time", ""), "time", 0.0, kMaxTimeMs);
    out.width = side(member(doc, "width", ""), "width");
    out.height = side(member(doc, "height", ""), "height");
    out.mirrored = false;
    if (const auto it = doc.find("mirrored"); it != doc.end()) {
        if (!it->is_boolean()) {
            refuse("mirrored", "expected true or false");
        }
        out.mirrored = it->get<bool>();
    }
    const auto& hands = member(doc, "hands", "");
    if (!hands.is_array()) {
        refuse("hands", "expected an array");
    }
    if (hands.size() > kMaxLandmarkHands) {
        refuse("hands", "at most " + std::to_string(kMaxLandmarkHands) + " hands, got " +
                            std::to_string(hands.size()));
    }
    out.hands.clear();
    for (std::size_t h = 0; h < hands.size(); ++h) {
        out.hands.push_back(readHand(hands[h], "hands[" + std::to_string(h) + "]"));
    }
}

// Builds the document as nlohmann's own reader does, keeping the path to the value being read so
// that a number the reader cannot hold (1e999) is refused under its field's name.
class PathTrackingReader {
  public:
    explicit PathTrackingReader(nlohmann::json& doc) : m_dom(doc, false) {}

    bool null() { return value() && m_dom.null(); }
    bool boolean(bool v) { return value() && m_dom.boolean(v); }
    bool number_integer(nlohmann::json::number_integer_t v) {
        return value() && m_dom.number_integer(v);
    }
    bool number_unsigned(nlohmann::json::number_unsigned_t v) {
        return value() && m_dom.number_unsigned(v);
    }
    bool number_float(nlohmann::json::number_float_t v, const std::string& text) {
        return value() && m_dom.number_float(v, text);
    }
    bool string(std::string& v) { return value() && m_dom.string(v); }
    bool binary(nlohmann::json::binary_t& v) { return value() && m_dom.binary(v); }
    bool start_object(std::size_t n) {
        value();
        m_path.push_back({false, 0, {}});
        return m_dom.start_object(n);
    }
    bool key(std::string& k) {
        m_path.back().key = k;
        return m_dom.key(k);
    }
    bool end_object() {
        m_path.pop_back();
        return m_dom.end_object();
    }
    bool start_array(std::size_t n) {
        value();
        m_path.push_back({true, 0, {}});
        return m_dom.start_array(n);
    }
    bool end_array() {
        m_path.pop_back();
        return m_dom.end_array();
    }
    bool parse_error(std::size_t position, const std::string&,
                     const nlohmann::detail::exception& e) {
        m_error = e.id == 406 ? where() + ": expected a finite number (too large)"
                              : "message: not valid JSON at byte " + std::to_string(position) +
                                    (m_path.empty() ? "" : " (in " + where() + ")");
        return false;
    }
    const std::string& error() const { return m_error; }

  private:
    struct Step {
        bool array;
        std::size_t count;  // elements begun so far
        std::string key;
    };
    bool value() {
        if (!m_path.empty() && m_path.back().array) {
            ++m_path.back().count;
        }
        return true;
    }
    // The value being read: the innermost array's next element, or the innermost object's
    // last key.
    std::string where() const {
        std::string out;
        for (std::size_t i = 0; i < m_path.size(); ++i) {
            const auto& step = m_path[i];
            if (step.array) {
                const std::size_t index = i + 1 == m_path.size() ? step.count : step.count - 1;
                out += "[" + std::to_string(index) + "]";
            } else {
                out += (out.empty() ? "" : ".") + step.key;
            }
        }
        return out.empty() ? "message" : out;
    }

    nlohmann::detail::json_sax_dom_parser<nlohmann::json> m_dom;
    std::vector<Step> m_path;
    std::string m_error;
};

}  // namespace

bool parseLandmarkMessage(std::string_view text, LandmarkFrame& out, bool& hello,
                          std::string& error) {
    hello = false;
    nlohmann::json doc;
    PathTrackingReader reader(doc);
    if (!nlohmann::json::sax_parse(text, &reader)) {
        error = reader.error().empty() ? "message: not valid JSON" : reader.error();
        return false;
    }
    try {
        if (!doc.is_object()) {
            refuse("message", "expected a JSON object");
        }
        const auto& type = member(doc, "type", "");
        if (!type.is_string()) {
            refuse("type", "expected a string");
        }
        const auto& name = type.get_ref<const std::string&>();
        if (name == "hello") {
            hello = true;
            return true;
        }
        if (name != "frame") {
            refuse("type", "unknown message type (expected \"frame\" or \"hello\")");
        }
        LandmarkFrame frame;
        readFrame(doc, frame);
        out = std::move(frame);
        return true;
    } catch (const Refusal& refusal) {
        error = refusal.message;
        return false;
    }
}

Vector palmCentre(const Points& points) {
    Vector c;
    for (int i : kPalmLandmarks) {
        c += points[i];
    }
    return c / static_cast<float>(kPalmLandmarks.size());
}

bool appendHand(const Points& p, bool right, std::int32_t handId, Kivo::FrameRecord& frame) {
    Kivo::HandRecord hand;
    hand.id = handId;
    hand.palmPosition = palmCentre(p);
    const Vector normal = (p[5] - p[0]).cross(p[17] - p[0]).normalized();
    hand.palmNormal = right ? normal : -normal;
    hand.direction = (p[9] - p[0]).normalized();
    if (hand.palmNormal == Vector{} || hand.direction == Vector{} ||
        !hand.palmPosition.isFinite() || !hand.palmNormal.isFinite() ||
        !hand.direction.isFinite()) {
        return false;
    }
    frame.hands.push_back(hand);
    for (std::size_t k = 0; k < kTips.size(); ++k) {
        const int tip = kTips[k];
        Kivo::PointableRecord pointable;
        pointable.id = handId * 10 + static_cast<std::int32_t>(k);
        pointable.handId = handId;
        pointable.tipPosition = p[tip];
        pointable.direction = (p[tip] - p[tip - 1]).normalized();
        if (pointable.direction == Vector{}) {
            pointable.direction = hand.direction;  // a folded last joint: point along the hand
        }
        for (int joint = kFingerBases[k]; joint < tip; ++joint) {
            pointable.length += p[joint + 1].distanceTo(p[joint]);
        }
        frame.pointables.push_back(pointable);
    }
    return true;
}

CameraModel clampedCameraModel(const CameraModel& model) {
    CameraModel out = model;
    for (const auto& k : kCameraKeys) {
        float& v = out.*k.member;
        v = std::isfinite(v) ? std::clamp(v, k.min, k.max) : CameraModel{}.*k.member;
    }
    return out;
}

CameraModel cameraModelFromConfig(const Kivo::Config& config) {
    CameraModel out;
    for (const auto& k : kCameraKeys) {
        if (config.type(k.key) == Kivo::Config::Float) {
            out.*k.member = config.getFloat(k.key);
        }
    }
    return clampedCameraModel(out);
}

LandmarkConverter::LandmarkConverter(const CameraModel& model)
    : m_model(clampedCameraModel(model)) {}

void LandmarkConverter::reset() {
    m_started = false;
    m_firstMs = 0.0;
    m_lastTimestamp = 0;
    m_frameId = 0;
    m_nextHandId = 1;
    m_tracked.clear();
}

bool LandmarkConverter::devicePoints(const LandmarkFrame& frame, const LandmarkHand& hand,
                                     Points& out) const {
    // The hand's metric shape, scaled to the assumed hand size, in the camera's frame as shown
    // (x right, y down, z away from the camera), mm.
    const double measured = static_cast<double>(hand.world[9].distanceTo(hand.world[0]));
    if (!(measured > 1e-4) || frame.width <= 0 || frame.height <= 0) {
        return false;
    }
    const double scale = static_cast<double>(m_model.handSize) / measured;
    const double width = frame.width;
    const double height = frame.height;
    const auto fov = static_cast<double>(m_model.fieldOfView);
    const double focal = width / 2.0 / std::tan(fov * std::numbers::pi / 360.0);  // pixels

    // Place the shape (translation only: the world landmarks already carry its orientation) so
    // that it projects onto the image landmarks: the least-squares solution of
    // (Mx + Tx) = a (Mz + Tz), (My + Ty) = b (Mz + Tz) over all landmarks.
    std::array<std::array<double, 3>, kHandLandmarks> m{};
    std::array<double, kHandLandmarks> a{};
    std::array<double, kHandLandmarks> b{};
    double n = 0.0, sa = 0.0, sb = 0.0, saa = 0.0, sbb = 0.0;
    double rx = 0.0, ry = 0.0, rz = 0.0;
    for (std::size_t i = 0; i < kHandLandmarks; ++i) {
        m[i] = {hand.world[i].x * scale, hand.world[i].y * scale, hand.world[i].z * scale};
        a[i] = (hand.image[i].x * width - width / 2.0) / focal;
        b[i] = (hand.image[i].y * height - height / 2.0) / focal;
        const double ex = a[i] * m[i][2] - m[i][0];
        const double ey = b[i] * m[i][2] - m[i][1];
        n += 1.0;
        sa += a[i];
        sb += b[i];
        saa += a[i] * a[i];
        sbb += b[i] * b[i];
        rx += ex;
        ry += ey;
        rz -= a[i] * ex + b[i] * ey;
    }
    // Normal equations: [n 0 -sa; 0 n -sb; -sa -sb saa+sbb] T = [rx ry rz]. Eliminating Tx and
    // Ty leaves one equation in Tz.
    const double dz = saa + sbb - (sa * sa + sb * sb) / n;
    const double minDepth = static_cast<double>(m_model.handSize);
    double tz = dz > 1e-12 ? (rz + (sa * rx + sb * ry) / n) / dz : minDepth;
    if (!std::isfinite(tz) || tz < minDepth) {
        tz = minDepth;  // nearer than a hand's length to the lens is not a hand in view
    }
    const double tx = (rx + sa * tz) / n;
    const double ty = (ry + sb * tz) / n;
    for (std::size_t i = 0; i < kHandLandmarks; ++i) {
        // Camera (x right as shown, y down, z away) to the device (x right, y up, z towards the
        // performer), the camera `height` above the device and `distance` in front of the centre.
        out[i] = Vector{static_cast<float>(m[i][0] + tx),
                        static_cast<float>(static_cast<double>(m_model.height) - (m[i][1] + ty)),
                        static_cast<float>(m[i][2] + tz - static_cast<double>(m_model.distance))};
        if (!out[i].isFinite()) {
            return false;
        }
    }
    return true;
}

Kivo::FrameRecord LandmarkConverter::convert(const LandmarkFrame& frame) {
    if (!m_started) {
        m_started = true;
        m_firstMs = frame.timeMs;
    }
    Kivo::FrameRecord out;
    out.id = ++m_frameId;
    const double micros = (frame.timeMs - m_firstMs) * 1000.0;
    const auto maxTime = static_cast<double>(Kivo::kMaxRecordingTime);
    std::int64_t timestamp = std::isfinite(micros) && micros < maxTime
                                 ? std::llround(std::max(micros, 0.0))
                                 : Kivo::kMaxRecordingTime;
    timestamp = std::max(timestamp, m_lastTimestamp);  // never backwards
    m_lastTimestamp = timestamp;
    out.timestamp = timestamp;

    // The hands the tracker is surest of, at most two.
    std::vector<const LandmarkHand*> chosen;
    for (const auto& hand : frame.hands) {
        chosen.push_back(&hand);
    }
    std::stable_sort(
        chosen.begin(), chosen.end(),
        [](const LandmarkHand* x, const LandmarkHand* y) { return x->score > y->score; });
    if (chosen.size() > kMaxLandmarkHands) {
        chosen.resize(kMaxLandmarkHands);
    }
    struct Seen {
        const LandmarkHand* hand;
        Points points;
        Vector palm;
        std::int32_t id = 0;
    };
    std::vector<Seen> seen;
    for (const auto* hand : chosen) {
        Seen s{hand, {}, {}, 0};
        if (devicePoints(frame, *hand, s.points)) {
            s.palm = palmCentre(s.points);
            seen.push_back(s);
        }
    }

    // Each hand keeps the id of the nearest hand of its handedness in the previous frame.
    struct Pair {
        float distance;
        std::size_t now;
        std::size_t before;
    };
    std::vector<Pair> pairs;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        for (std::size_t j = 0; j < m_tracked.size(); ++j) {
            if (m_tracked[j].right == seen[i].hand->right) {
                pairs.push_back({seen[i].palm.distanceTo(m_tracked[j].palm), i, j});
            }
        }
    }
    std::stable_sort(pairs.begin(), pairs.end(),
                     [](const Pair& x, const Pair& y) { return x.distance < y.distance; });
    std::vector<bool> taken(m_tracked.size(), false);
    for (const auto& pair : pairs) {
        if (seen[pair.now].id == 0 && !taken[pair.before]) {
            seen[pair.now].id = m_tracked[pair.before].id;
            taken[pair.before] = true;
        }
    }
    std::vector<Tracked> tracked;
    for (auto& s : seen) {
        if (s.id == 0) {
            s.id = m_nextHandId;
            // Pointable ids are hand id * 10 + finger: wrap long before that overflows.
            m_nextHandId = m_nextHandId < 100'000'000 ? m_nextHandId + 1 : 1;
        }
        if (appendHand(s.points, s.hand->right, s.id, out)) {
            tracked.push_back({s.id, s.hand->right, s.palm});
        }
    }
    m_tracked = std::move(tracked);
    return out;
}

bool convertLandmarkLines(std::istream& in, const std::string& name, const CameraModel& model,
                          Kivo::Recording& out, std::string& error) {
    LandmarkConverter converter(model);
    Kivo::Recording rec;
    rec.header.gesturesRecorded = false;
    std::vector<double> intervals;
    double lastMs = 0.0;
    double firstMs = 0.0;
    std::string line;
    for (std::size_t number = 1; std::getline(in, line); ++number) {
        if (line.find_first_not_of(" \t\r") == std::string::npos) {
            continue;
        }
        const std::string where = name + ":" + std::to_string(number) + ": ";
        LandmarkFrame frame;
        bool hello = false;
        std::string why;
        if (!parseLandmarkMessage(line, frame, hello, why)) {
            error = where + why;
            return false;
        }
        if (hello) {
            continue;
        }
        if (!rec.entries.empty()) {
            if (!(frame.timeMs > lastMs)) {
                error = where + "time: " + shown(frame.timeMs) +
                        " ms does not follow the previous frame's " + shown(lastMs) +
                        " ms (times must increase)";
                return false;
            }
            intervals.push_back(frame.timeMs - lastMs);
            // A recording's times run from its first frame up to the format's largest time.
            const double maxMs = static_cast<double>(Kivo::kMaxRecordingTime) / 1000.0;
            if (frame.timeMs - firstMs > maxMs) {
                error = where + "time: " + shown(frame.timeMs) + " ms is more than " +
                        shown(maxMs) + " ms after the first frame's " + shown(firstMs) +
                        " ms (the most a recording holds)";
                return false;
            }
        } else {
            firstMs = frame.timeMs;
        }
        lastMs = frame.timeMs;
        rec.entries.emplace_back(converter.convert(frame));
    }
    if (in.bad()) {
        error = name + ": cannot read the file";
        return false;
    }
    if (rec.entries.empty()) {
        error = name + ": no frames";
        return false;
    }
    if (!intervals.empty()) {
        auto middle = intervals.begin() + static_cast<std::ptrdiff_t>(intervals.size() / 2);
        std::nth_element(intervals.begin(), middle, intervals.end());
        rec.header.rate =
            std::clamp(1000.0 / *middle, Kivo::kMinRecordingRate, Kivo::kMaxRecordingRate);
    }
    out = std::move(rec);
    return true;
}

}  // namespace KivoTools
