#include "MotionPaths.h"

#include <kivo/Gesture.h>
#include <kivo/Hand.h>
#include <kivo/Pointable.h>
#include <kivo/Recording.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>

namespace kivorecord {
namespace {

// Longer than any frame period a tracker delivers at, shorter than an unplug.
constexpr std::int64_t kPauseMicroseconds = 250'000;
// Length of a tap's marker, and of any marker whose own extent is degenerate.
constexpr float kMarkerLength = 10.0f;

Kivo::Vector unitOrUp(const Kivo::Vector& v) {
    const Kivo::Vector unit = v.normalized();
    return unit == Kivo::Vector{} ? Kivo::Vector{0.0f, 1.0f, 0.0f} : unit;
}

Segment markerOf(const Kivo::Gesture& gesture) {
    switch (gesture.type()) {
        case Kivo::Gesture::Swipe: {
            // Where the swipe started to where it is now: the stroke itself.
            const Kivo::SwipeGesture swipe(gesture);
            if (swipe.startPosition().distanceTo(swipe.position()) > 0.01f) {
                return {swipe.startPosition(), swipe.position()};
            }
            return {swipe.position(),
                    swipe.position() + unitOrUp(swipe.direction()) * kMarkerLength};
        }
        case Kivo::Gesture::Circle: {
            // From the centre along the normal, one radius long.
            const Kivo::CircleGesture circle(gesture);
            const float length = circle.radius() > 0.0f ? circle.radius() : kMarkerLength;
            return {circle.center(), circle.center() + unitOrUp(circle.normal()) * length};
        }
        case Kivo::Gesture::ScreenTap: {
            // Ends at the tap, coming in along the tap's direction.
            const Kivo::ScreenTapGesture tap(gesture);
            return {tap.position() - unitOrUp(tap.direction()) * kMarkerLength, tap.position()};
        }
        case Kivo::Gesture::KeyTap: {
            const Kivo::KeyTapGesture tap(gesture);
            return {tap.position() - unitOrUp(tap.direction()) * kMarkerLength, tap.position()};
        }
        default:
            return {};
    }
}

void writeVertex(std::ostream& out, const Kivo::Vector& v) {
    char line[96];
    std::snprintf(line, sizeof line, "v %.3f %.3f %.3f\n", static_cast<double>(v.x),
                  static_cast<double>(v.y), static_cast<double>(v.z));
    out << line;
}

// Writes one object's vertices and then its polylines; `next` is the OBJ index (1-based, global
// to the file) its first vertex gets. A run of one sample is written as a point.
void writeTrack(std::ostream& out, const std::string& name,
                const std::vector<std::vector<Kivo::Vector>>& runs, std::size_t& next) {
    out << "o " << name << "\n";
    for (const auto& run : runs) {
        for (const auto& v : run) {
            writeVertex(out, v);
        }
    }
    for (const auto& run : runs) {
        out << (run.size() == 1 ? "p" : "l");
        for (std::size_t i = 0; i < run.size(); ++i) {
            out << ' ' << next++;
        }
        out << "\n";
    }
}

}  // namespace

void MotionPaths::extend(Track& track, const Kivo::Vector& point, bool continues,
                         std::int64_t frameId) {
    if (!continues || track.runs.empty() || track.lastFrameId != frameId - 1) {
        track.runs.emplace_back();
    }
    track.runs.back().push_back(point);
    track.lastFrameId = frameId;
}

void MotionPaths::add(const Kivo::Frame& frame) {
    if (!frame.isValid()) {
        return;
    }
    const bool continues = m_lastFrameId >= 0 && frame.id() == m_lastFrameId + 1 &&
                           frame.timestamp() - m_lastTimestamp <= kPauseMicroseconds;
    const auto hands = frame.hands();
    for (int i = 0; i < hands.count(); ++i) {
        const auto hand = hands[i];
        extend(m_palms[hand.id()], hand.palmPosition(), continues, frame.id());
    }
    const auto pointables = frame.pointables();
    for (int i = 0; i < pointables.count(); ++i) {
        const auto pointable = pointables[i];
        extend(m_tips[pointable.id()], pointable.tipPosition(), continues, frame.id());
    }
    const auto gestures = frame.gestures();
    for (int i = 0; i < gestures.count(); ++i) {
        const auto gesture = gestures[i];
        m_markers[{static_cast<int>(gesture.type()), gesture.id()}] = markerOf(gesture);
    }
    m_lastFrameId = frame.id();
    m_lastTimestamp = frame.timestamp();
    ++m_frames;
}

void MotionPaths::write(std::ostream& out, const std::string& source) const {
    out << "# Motion seen replaying " << source << ": " << m_frames
        << " frames; millimetres, y up, the user's side at +z.\n"
        << "# palm_HAND and pointable_ID: trajectories; TYPE_ID: a gesture's marker.\n";
    std::size_t next = 1;
    for (const auto& [id, track] : m_palms) {
        writeTrack(out, "palm_" + std::to_string(id), track.runs, next);
    }
    for (const auto& [id, track] : m_tips) {
        writeTrack(out, "pointable_" + std::to_string(id), track.runs, next);
    }
    for (const auto& [key, marker] : m_markers) {
        const std::string name =
            std::string(Kivo::gestureTypeName(key.first)) + "_" + std::to_string(key.second);
        const std::vector<std::vector<Kivo::Vector>> segment{std::vector{marker.from, marker.to}};
        writeTrack(out, name, segment, next);
    }
}

std::string MotionPaths::write(const std::string& path, const std::string& source) const {
    namespace fs = std::filesystem;
    std::error_code ec;
    // A file is written beside its place and renamed over it once whole, so that a failed write
    // leaves the previous file as it was; a device or a pipe is written directly.
    const bool direct = fs::exists(path, ec) && !fs::is_regular_file(path, ec);
    const std::string part =
        direct ? path : path + ".part-" + std::to_string(static_cast<long>(::getpid()));
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    if (!out) {
        return "cannot write paths to '" + path + "': " + std::strerror(errno);
    }
    errno = 0;
    write(out, source);
    if (out) {
        out.flush();
    }
    const int failure = out ? 0 : (errno != 0 ? errno : EIO);
    out.close();
    if (failure != 0 || !out) {
        const std::string reason = std::strerror(failure != 0 ? failure : EIO);
        if (!direct) {
            fs::remove(part, ec);
        }
        return "cannot write paths to '" + path + "': " + reason + " (the previous file is kept)";
    }
    if (!direct) {
        fs::rename(part, path, ec);
        if (ec) {
            std::error_code ignored;
            fs::remove(part, ignored);
            return "cannot write paths to '" + path + "': " + ec.message();
        }
    }
    return {};
}

std::string checkWritable(const std::string& path) {
    namespace fs = std::filesystem;
    const fs::path file(path);
    std::error_code ec;
    if (fs::is_directory(file, ec)) {
        return "cannot write paths to '" + path + "': it is a folder";
    }
    if (fs::exists(file, ec)) {
        if (::access(path.c_str(), W_OK) != 0) {
            return "cannot write paths to '" + path + "': " + std::strerror(errno);
        }
        return {};
    }
    const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
    if (!fs::is_directory(folder, ec)) {
        return "cannot write paths to '" + path + "': no folder '" + folder.string() + "'";
    }
    if (::access(folder.c_str(), W_OK) != 0) {
        return "cannot write paths to '" + path + "': " + std::strerror(errno);
    }
    return {};
}

}  // namespace kivorecord
