#include <kivo/Gesture.h>
#include <kivo/Recording.h>

#include "EntryTime.h"
#include "ShortestText.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>
#include <unordered_set>

namespace Kivo {

using detail::entryTime;
using detail::shortestText;

namespace {

constexpr std::string_view kMagic = "kivo-recording";

std::string_view trim(std::string_view s) {
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && isSpace(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && isSpace(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

std::vector<std::string_view> splitTokens(std::string_view s) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) {
            ++i;
        }
        const std::size_t start = i;
        while (i < s.size() && s[i] != ' ' && s[i] != '\t') {
            ++i;
        }
        if (i > start) {
            out.push_back(s.substr(start, i - start));
        }
    }
    return out;
}

std::vector<std::string_view> split(std::string_view s, char sep) {
    std::vector<std::string_view> out;
    std::size_t start = 0;
    while (true) {
        const std::size_t pos = s.find(sep, start);
        if (pos == std::string_view::npos) {
            out.push_back(s.substr(start));
            return out;
        }
        out.push_back(s.substr(start, pos - start));
        start = pos + 1;
    }
}

std::string quoted(std::string_view s) {
    constexpr std::size_t kMax = 40;
    std::string out = "'";
    for (char c : s.substr(0, kMax)) {
        out += (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) ? '?'
                                                                                              : c;
    }
    if (s.size() > kMax) {
        out += "...";
    }
    return out + "'";
}

// Thrown inside the parser only; turned into an error string at its boundary.
struct ParseFailure {
    std::string message;
};

[[noreturn]] void fail(std::string message) {
    throw ParseFailure{std::move(message)};
}

template <typename Int>
Int parseInt(std::string_view text, const std::string& what) {
    Int value{};
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size()) {
        fail(what + ": expected an integer, got " + quoted(text));
    }
    return value;
}

float parseFloat(std::string_view text, const std::string& what) {
    float value = 0.0f;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size() || !std::isfinite(value)) {
        fail(what + ": expected a finite number, got " + quoted(text));
    }
    return value;
}

double parseDouble(std::string_view text, const std::string& what) {
    double value = 0.0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size() || !std::isfinite(value)) {
        fail(what + ": expected a finite number, got " + quoted(text));
    }
    return value;
}

Vector parseVector(std::string_view text, const std::string& what) {
    const auto parts = split(text, ',');
    if (parts.size() != 3) {
        fail(what + ": expected three numbers 'x,y,z', got " + quoted(text));
    }
    return {parseFloat(parts[0], what), parseFloat(parts[1], what), parseFloat(parts[2], what)};
}

// The key=value fields of one record, each to be taken exactly once.
class Fields {
  public:
    Fields(std::string owner, const std::vector<std::string_view>& tokens, std::size_t first)
        : m_owner(std::move(owner)) {
        for (std::size_t i = first; i < tokens.size(); ++i) {
            const auto eq = tokens[i].find('=');
            if (eq == std::string_view::npos || eq == 0) {
                fail(m_owner + ": expected 'name=value', got " + quoted(tokens[i]));
            }
            const std::string_view key = tokens[i].substr(0, eq);
            for (const auto& f : m_fields) {
                if (f.key == key) {
                    fail(what(key) + ": given twice");
                }
            }
            m_fields.push_back({key, tokens[i].substr(eq + 1), false});
        }
    }

    std::string what(std::string_view key) const {
        return "field '" + std::string(key) + "' of " + m_owner;
    }

    std::string_view take(std::string_view key) {
        for (auto& f : m_fields) {
            if (f.key == key) {
                f.used = true;
                return f.value;
            }
        }
        fail(what(key) + ": missing");
    }

    bool has(std::string_view key) const {
        return std::any_of(m_fields.begin(), m_fields.end(),
                           [&](const Field& f) { return f.key == key; });
    }

    Vector vec(std::string_view key) { return parseVector(take(key), what(key)); }
    // A direction: of length 1, within what the numbers' text rounds off (a zero or stretched
    // one would give a reader's frames no axes).
    Vector unit(std::string_view key) {
        const std::string_view text = take(key);
        const Vector v = parseVector(text, what(key));
        const double length = std::sqrt(double{v.x} * v.x + double{v.y} * v.y + double{v.z} * v.z);
        if (!(std::abs(length - 1.0) <= 0.01)) {
            fail(what(key) + ": expected a unit vector, got " + quoted(text) + " (length " +
                 shortestText(length) + ")");
        }
        return v;
    }
    float num(std::string_view key) { return parseFloat(take(key), what(key)); }
    template <typename Int>
    Int integer(std::string_view key) {
        return parseInt<Int>(take(key), what(key));
    }

    // Every field must have been taken: anything left is unknown.
    void finish() const {
        for (const auto& f : m_fields) {
            if (!f.used) {
                fail(what(f.key) + ": unknown field");
            }
        }
    }

  private:
    struct Field {
        std::string_view key;
        std::string_view value;
        bool used;
    };
    std::string m_owner;
    std::vector<Field> m_fields;
};

std::int64_t timeField(Fields& f, std::string_view key) {
    const auto t = f.integer<std::int64_t>(key);
    if (t < 0 || t > kMaxRecordingTime) {
        fail(f.what(key) + ": must be between 0 and " + std::to_string(kMaxRecordingTime) +
             " microseconds");
    }
    return t;
}

constexpr std::array<std::pair<int, std::string_view>, 4> kGestureTypes{{
    {Gesture::Swipe, "swipe"},
    {Gesture::Circle, "circle"},
    {Gesture::ScreenTap, "screen-tap"},
    {Gesture::KeyTap, "key-tap"},
}};
constexpr std::array<std::pair<int, std::string_view>, 3> kGestureStates{{
    {Gesture::StateStart, "start"},
    {Gesture::StateUpdate, "update"},
    {Gesture::StateStop, "stop"},
}};
constexpr std::array<std::pair<EventKind, std::string_view>, 4> kEventKinds{{
    {EventKind::Connect, "connect"},
    {EventKind::Disconnect, "disconnect"},
    {EventKind::FocusGained, "focus-gained"},
    {EventKind::FocusLost, "focus-lost"},
}};

template <typename Table, typename Key>
std::string_view nameOf(const Table& table, Key key) {
    for (const auto& [k, name] : table) {
        if (k == key) {
            return name;
        }
    }
    return "invalid";
}

template <typename Table>
auto valueOf(const Table& table, std::string_view name, const std::string& what) {
    for (const auto& [k, n] : table) {
        if (n == name) {
            return k;
        }
    }
    std::string known;
    for (const auto& [k, n] : table) {
        known += (known.empty() ? "" : ", ") + std::string(n);
    }
    fail(what + ": expected one of " + known + ", got " + quoted(name));
}

std::int32_t parseId(const std::vector<std::string_view>& tokens, const std::string& kind) {
    if (tokens.size() < 2 || tokens[1].find('=') != std::string_view::npos) {
        fail("field 'id' of " + kind + ": missing");
    }
    const auto id = parseInt<std::int32_t>(tokens[1], "field 'id' of " + kind);
    if (id <= 0) {
        fail("field 'id' of " + kind + ": must be positive, got " + quoted(tokens[1]));
    }
    return id;
}

// The ids of the hands and pointables read so far in one frame.
struct FrameIds {
    std::unordered_set<std::int32_t> hands;
    std::unordered_set<std::int32_t> pointables;
    std::unordered_set<std::int32_t> gestures;
};

void parseHand(const std::vector<std::string_view>& tokens, FrameRecord& frame, FrameIds& ids) {
    HandRecord hand;
    hand.id = parseId(tokens, "hand");
    const std::string owner = "hand " + std::to_string(hand.id);
    if (!ids.hands.insert(hand.id).second) {
        fail("field 'id' of " + owner + ": given twice in this frame");
    }
    Fields f(owner, tokens, 2);
    hand.palmPosition = f.vec("palm");
    hand.palmNormal = f.unit("normal");
    hand.direction = f.unit("dir");
    f.finish();
    frame.hands.push_back(hand);
}

void parsePointable(const std::vector<std::string_view>& tokens, FrameRecord& frame,
                    FrameIds& ids) {
    PointableRecord p;
    p.id = parseId(tokens, "pointable");
    const std::string owner = "pointable " + std::to_string(p.id);
    if (!ids.pointables.insert(p.id).second) {
        fail("field 'id' of " + owner + ": given twice in this frame");
    }
    Fields f(owner, tokens, 2);
    p.handId = f.integer<std::int32_t>("hand");
    if (p.handId != 0 && ids.hands.count(p.handId) == 0) {
        fail(f.what("hand") + ": no hand " + std::to_string(p.handId) + " before it in this frame");
    }
    p.tipPosition = f.vec("tip");
    p.direction = f.unit("dir");
    if (f.has("length")) {
        p.length = f.num("length");
        if (!(p.length >= 0.0f)) {
            fail(f.what("length") + ": must not be negative");
        }
    }
    f.finish();
    frame.pointables.push_back(p);
}

void parseGesture(const std::vector<std::string_view>& tokens, FrameRecord& frame, FrameIds& ids) {
    GestureRecord g;
    g.id = parseId(tokens, "gesture");
    const std::string owner = "gesture " + std::to_string(g.id);
    if (!ids.gestures.insert(g.id).second) {  // one update of each gesture a frame
        fail("field 'id' of " + owner + ": given twice in this frame");
    }
    Fields f(owner, tokens, 2);
    g.type = valueOf(kGestureTypes, f.take("type"), f.what("type"));
    g.state = valueOf(kGestureStates, f.take("state"), f.what("state"));
    g.duration = timeField(f, "duration");
    g.handId = f.integer<std::int32_t>("hand");
    g.pointableId = f.integer<std::int32_t>("pointable");
    switch (g.type) {
        case Gesture::Swipe:
            g.startPosition = f.vec("start");
            g.position = f.vec("position");
            g.direction = f.vec("direction");
            g.speed = f.num("speed");
            break;
        case Gesture::Circle:
            g.center = f.vec("center");
            g.normal = f.vec("normal");
            g.radius = f.num("radius");
            g.progress = f.num("progress");
            break;
        default:
            g.position = f.vec("position");
            g.direction = f.vec("direction");
            break;
    }
    f.finish();
    frame.gestures.push_back(g);
}

RecordEntry parseLineOrThrow(std::string_view line) {
    const auto segments = split(trim(line), ';');
    const auto head = splitTokens(segments[0]);
    if (head.empty()) {
        fail("field 'record': missing (expected 'frame' or 'event')");
    }
    if (head[0] == "event") {
        if (segments.size() > 1) {
            fail("field 'record' of event: an event has no parts after ';'");
        }
        if (head.size() < 2 || head[1].find('=') != std::string_view::npos) {
            fail("field 'kind' of event: missing");
        }
        EventRecord ev;
        ev.kind = valueOf(kEventKinds, head[1], "field 'kind' of event");
        Fields f("event", head, 2);
        ev.timestamp = timeField(f, "t");
        f.finish();
        return ev;
    }
    if (head[0] != "frame") {
        fail("field 'record': expected 'frame' or 'event', got " + quoted(head[0]));
    }
    FrameRecord frame;
    if (head.size() < 2 || head[1].find('=') != std::string_view::npos) {
        fail("field 'id' of frame: missing");
    }
    frame.id = parseInt<std::int64_t>(head[1], "field 'id' of frame");
    if (frame.id <= 0) {
        fail("field 'id' of frame: must be positive, got " + quoted(head[1]));
    }
    Fields f("frame " + std::to_string(frame.id), head, 2);
    frame.timestamp = timeField(f, "t");
    f.finish();
    FrameIds ids;
    for (std::size_t i = 1; i < segments.size(); ++i) {
        const auto tokens = splitTokens(segments[i]);
        if (tokens.empty()) {
            fail("field 'part' of frame " + std::to_string(frame.id) + ": empty part " +
                 std::to_string(i));
        }
        if (tokens[0] == "hand") {
            if (!frame.pointables.empty() || !frame.gestures.empty()) {
                fail("field 'hand' of frame " + std::to_string(frame.id) +
                     ": hands must come before pointables and gestures");
            }
            parseHand(tokens, frame, ids);
        } else if (tokens[0] == "pointable") {
            if (!frame.gestures.empty()) {
                fail("field 'pointable' of frame " + std::to_string(frame.id) +
                     ": pointables must come before gestures");
            }
            parsePointable(tokens, frame, ids);
        } else if (tokens[0] == "gesture") {
            parseGesture(tokens, frame, ids);
        } else {
            fail("field 'part' of frame " + std::to_string(frame.id) +
                 ": expected 'hand', 'pointable' or 'gesture', got " + quoted(tokens[0]));
        }
    }
    return frame;
}

RecordingHeader parseHeaderOrThrow(std::string_view line) {
    const auto tokens = splitTokens(trim(line));
    if (tokens.empty() || tokens[0] != kMagic) {
        fail("field 'format': expected a header starting with '" + std::string(kMagic) + "', got " +
             quoted(tokens.empty() ? std::string_view{} : tokens[0]));
    }
    Fields f("header", tokens, 1);
    RecordingHeader h;
    h.version = f.integer<int>("version");
    if (h.version != kRecordingVersion) {
        fail(f.what("version") + ": version " + std::to_string(h.version) +
             " is not supported (this reader reads version " + std::to_string(kRecordingVersion) +
             ")");
    }
    const auto rate = f.take("rate");
    h.rate = parseDouble(rate, f.what("rate"));
    if (!(h.rate >= kMinRecordingRate && h.rate <= kMaxRecordingRate)) {
        fail(f.what("rate") + ": must be between " + shortestText(kMinRecordingRate) + " and " +
             shortestText(kMaxRecordingRate) + " frames per second, got " + quoted(rate));
    }
    if (const auto length = f.take("length"); length != "mm") {
        fail(f.what("length") + ": only 'mm' is supported, got " + quoted(length));
    }
    if (const auto time = f.take("time"); time != "us") {
        fail(f.what("time") + ": only 'us' is supported, got " + quoted(time));
    }
    const auto gestures = f.take("gestures");
    if (gestures == "recorded") {
        h.gesturesRecorded = true;
    } else if (gestures != "none") {
        fail(f.what("gestures") + ": expected 'recorded' or 'none', got " + quoted(gestures));
    }
    f.finish();
    return h;
}

bool isBlankOrComment(std::string_view line) {
    const auto t = trim(line);
    return t.empty() || t.front() == '#';
}

std::string formatVector(const Vector& v) {
    return shortestText(v.x) + "," + shortestText(v.y) + "," + shortestText(v.z);
}

}  // namespace

std::size_t Recording::frameCount() const {
    return static_cast<std::size_t>(
        std::count_if(entries.begin(), entries.end(),
                      [](const RecordEntry& e) { return std::holds_alternative<FrameRecord>(e); }));
}

std::size_t Recording::eventCount() const {
    return entries.size() - frameCount();
}

bool parseRecordLine(std::string_view line, RecordEntry& out, std::string& error) {
    try {
        out = parseLineOrThrow(line);
        return true;
    } catch (const ParseFailure& f) {
        error = f.message;
        return false;
    }
}

std::string_view gestureTypeName(int type) {
    return nameOf(kGestureTypes, type);
}

std::string formatHeaderLine(const RecordingHeader& h) {
    return std::string(kMagic) + " version=" + std::to_string(h.version) +
           " rate=" + shortestText(h.rate) +
           " length=mm time=us gestures=" + (h.gesturesRecorded ? "recorded" : "none");
}

std::string formatRecordLine(const RecordEntry& entry) {
    if (const auto* ev = std::get_if<EventRecord>(&entry)) {
        return "event " + std::string(nameOf(kEventKinds, ev->kind)) +
               " t=" + std::to_string(ev->timestamp);
    }
    const auto& f = std::get<FrameRecord>(entry);
    std::string s = "frame " + std::to_string(f.id) + " t=" + std::to_string(f.timestamp);
    for (const auto& h : f.hands) {
        s += "; hand " + std::to_string(h.id) + " palm=" + formatVector(h.palmPosition) +
             " normal=" + formatVector(h.palmNormal) + " dir=" + formatVector(h.direction);
    }
    for (const auto& p : f.pointables) {
        s += "; pointable " + std::to_string(p.id) + " hand=" + std::to_string(p.handId) +
             " tip=" + formatVector(p.tipPosition) + " dir=" + formatVector(p.direction);
        if (p.length != 0.0f) {
            s += " length=" + shortestText(p.length);
        }
    }
    for (const auto& g : f.gestures) {
        s += "; gesture " + std::to_string(g.id) + " type=" + std::string(gestureTypeName(g.type)) +
             " state=" + std::string(nameOf(kGestureStates, g.state)) +
             " duration=" + std::to_string(g.duration) + " hand=" + std::to_string(g.handId) +
             " pointable=" + std::to_string(g.pointableId);
        switch (g.type) {
            case Gesture::Swipe:
                s += " start=" + formatVector(g.startPosition) +
                     " position=" + formatVector(g.position) +
                     " direction=" + formatVector(g.direction) + " speed=" + shortestText(g.speed);
                break;
            case Gesture::Circle:
                s += " center=" + formatVector(g.center) + " normal=" + formatVector(g.normal) +
                     " radius=" + shortestText(g.radius) + " progress=" + shortestText(g.progress);
                break;
            default:
                s += " position=" + formatVector(g.position) +
                     " direction=" + formatVector(g.direction);
                break;
        }
    }
    return s;
}

bool parseRecording(std::string_view text, const std::string& name, Recording& out,
                    std::string& error) {
    // A byte-order mark that an editor put before the header is not part of it.
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    Recording rec;
    std::size_t lineNo = 0;
    std::size_t pos = 0;
    bool haveHeader = false;
    bool ended = false;
    std::int64_t lastFrameId = 0;
    std::int64_t lastTime = 0;
    bool haveTime = false;
    try {
        while (pos < text.size()) {
            std::size_t eol = text.find('\n', pos);
            const bool lastLine = eol == std::string_view::npos;
            if (lastLine) {
                eol = text.size();
            }
            const std::string_view line = text.substr(pos, eol - pos);
            pos = eol + 1;
            ++lineNo;
            if (line.find('\0') != std::string_view::npos) {
                fail("field 'text': the line holds a NUL character");
            }
            if (isBlankOrComment(line)) {
                continue;
            }
            if (ended) {
                fail("field 'end': nothing may follow the 'end' line");
            }
            if (!haveHeader) {
                rec.header = parseHeaderOrThrow(line);
                haveHeader = true;
                continue;
            }
            if (lastLine) {
                // A writer always ends its last line; a missing line end means a cut-off file.
                fail("field 'line end': the file ends inside a line (truncated?)");
            }
            const auto tokens = splitTokens(trim(line));
            if (tokens[0] == "end") {
                Fields f("end", tokens, 1);
                const auto frames = f.integer<std::int64_t>("frames");
                const auto events = f.integer<std::int64_t>("events");
                f.finish();
                if (static_cast<std::size_t>(frames) != rec.frameCount() || frames < 0) {
                    fail(f.what("frames") + ": says " + std::to_string(frames) + " but " +
                         std::to_string(rec.frameCount()) + " frames were read");
                }
                if (static_cast<std::size_t>(events) != rec.eventCount() || events < 0) {
                    fail(f.what("events") + ": says " + std::to_string(events) + " but " +
                         std::to_string(rec.eventCount()) + " events were read");
                }
                ended = true;
                continue;
            }
            RecordEntry entry = parseLineOrThrow(line);
            if (const auto* frame = std::get_if<FrameRecord>(&entry)) {
                if (frame->id <= lastFrameId) {
                    fail("field 'id' of frame " + std::to_string(frame->id) +
                         ": frame ids must increase (previous " + std::to_string(lastFrameId) +
                         ")");
                }
                if (!rec.header.gesturesRecorded && !frame->gestures.empty()) {
                    fail("field 'gesture' of frame " + std::to_string(frame->id) +
                         ": the header says gestures=none");
                }
                lastFrameId = frame->id;
            }
            const std::int64_t t = entryTime(entry);
            if (haveTime && t < lastTime) {
                fail(std::string("field 't' of ") +
                     (std::holds_alternative<FrameRecord>(entry) ? "frame" : "event") +
                     ": time goes backwards (" + std::to_string(t) + " after " +
                     std::to_string(lastTime) + ")");
            }
            lastTime = t;
            haveTime = true;
            rec.entries.push_back(std::move(entry));
        }
        if (!haveHeader) {
            ++lineNo;
            fail("field 'format': the file is empty (no header)");
        }
        if (!ended) {
            ++lineNo;
            fail("field 'end': missing (the file is truncated)");
        }
    } catch (const ParseFailure& f) {
        error = name + ":" + std::to_string(lineNo) + ": " + f.message;
        return false;
    }
    out = std::move(rec);
    return true;
}

bool readRecording(const std::string& path, Recording& out, std::string& error) {
    // Files and pipes are read; a folder or a device (which may never end) is refused up front.
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        const char* kind = S_ISDIR(info.st_mode)                            ? "a folder"
                           : S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode) ? "a device"
                           : S_ISSOCK(info.st_mode)                         ? "a socket"
                                                                            : nullptr;
        if (kind != nullptr) {
            error = path + ": is " + kind + ", not a recording (only files and pipes are read)";
            return false;
        }
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot open the file for reading";
        return false;
    }
    // Read in blocks up to a limit, so that a pipe that never ends is refused, not held in memory.
    std::string text;
    std::array<char, 1 << 16> block{};
    while (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0) {
        const auto got = static_cast<std::size_t>(in.gcount());
        if (text.size() + got > kMaxRecordingBytes) {
            error = path + ": is larger than " + std::to_string(kMaxRecordingBytes >> 20) +
                    " MiB, the most a recording may have";
            return false;
        }
        text.append(block.data(), got);
    }
    if (in.bad()) {
        error = path + ": read error";
        return false;
    }
    return parseRecording(text, path, out, error);
}

}  // namespace Kivo
