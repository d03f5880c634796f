// The motion a connection saw, gathered frame by frame and written as Wavefront OBJ polylines
// that any mesh viewer opens: one object per hand's palm and per pointable's tip, and a short
// marker segment per gesture. Coordinates stay in the device's millimetres, y up.
#pragma once

#include <kivo/Frame.h>
#include <kivo/Vector.h>

#include <cstdint>
#include <iosfwd>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace kivorecord {

// A gesture's marker: one short segment.
struct Segment {
    Kivo::Vector from;
    Kivo::Vector to;
};

class MotionPaths {
  public:
    // Frames must come in the order they were delivered; invalid frames are skipped.
    void add(const Kivo::Frame& frame);

    // Object names, as written: "palm_1", "pointable_11", "swipe_3", "screen-tap_7", ...
    void write(std::ostream& out, const std::string& source) const;
    // Returns an empty string or a one-line message naming the file.
    std::string write(const std::string& path, const std::string& source) const;

    std::size_t frames() const { return m_frames; }

  private:
    // A trajectory broken into runs wherever its id was missing from a delivered frame or the
    // frames paused (an unplug), so that no segment bridges a gap in the tracking.
    struct Track {
        std::vector<std::vector<Kivo::Vector>> runs;
        std::int64_t lastFrameId = -1;
    };
    void extend(Track& track, const Kivo::Vector& point, bool continues, std::int64_t frameId);

    std::map<std::int32_t, Track> m_palms;
    std::map<std::int32_t, Track> m_tips;
    // Keyed by (type, id); the newest update of a gesture places its marker.
    std::map<std::pair<int, std::int32_t>, Segment> m_markers;
    std::int64_t m_lastFrameId = -1;
    std::int64_t m_lastTimestamp = 0;
    std::size_t m_frames = 0;
};

// Whether `path` could be created or overwritten; an empty string or the reason, naming the file.
std::string checkWritable(const std::string& path);

}  // namespace kivorecord
