#pragma once

#include <kivo/Export.h>
#include <kivo/Vector.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace Kivo {

namespace detail {
struct WriterSlot;
}

// Plain records of tracking data: what a recording holds, what can be injected into the device
// service, and what a Frame shows. The text form is described in docs/recording-format.md.

inline constexpr int kRecordingVersion = 1;

// Times in a recording (timestamps and gesture durations, microseconds) run from 0 to this, about
// 31.7 years, which keeps every sum of two of them in range. A looped replay's time stops there.
inline constexpr std::int64_t kMaxRecordingTime = 1'000'000'000'000'000;
// The nominal frame rate a header may give, in frames per second.
inline constexpr double kMinRecordingRate = 1.0;
inline constexpr double kMaxRecordingRate = 10000.0;
// The largest recording file readRecording reads (an hour of two hands at 120 frames per second
// takes about a third of it): past it a pipe that never ends is refused instead of filling memory.
inline constexpr std::size_t kMaxRecordingBytes = std::size_t{2} << 30;

struct HandRecord {
    std::int32_t id = 0;
    Vector palmPosition;
    Vector palmNormal;
    Vector direction;
    bool operator==(const HandRecord&) const = default;
};

struct PointableRecord {
    std::int32_t id = 0;
    std::int32_t handId = 0;  // 0: belongs to no hand
    Vector tipPosition;
    Vector direction;
    float length = 0.0f;  // mm from the finger's base to its tip; 0: unknown
    bool operator==(const PointableRecord&) const = default;
};

// One gesture update. `type` and `state` hold Gesture::Type and Gesture::State values; the
// fields that a type does not use stay zero.
struct GestureRecord {
    std::int32_t id = 0;
    int type = 0;
    int state = 0;
    std::int64_t duration = 0;  // microseconds
    std::int32_t handId = 0;
    std::int32_t pointableId = 0;
    Vector startPosition;   // swipe
    Vector position;        // swipe, taps
    Vector direction;       // swipe, taps
    float speed = 0.0f;     // swipe, mm/s
    Vector center;          // circle
    Vector normal;          // circle
    float radius = 0.0f;    // circle, mm
    float progress = 0.0f;  // circle, turns
    bool operator==(const GestureRecord&) const = default;
};

struct FrameRecord {
    std::int64_t id = 0;         // in a recording: increasing; in the service: assigned by it
    std::int64_t timestamp = 0;  // microseconds
    std::vector<HandRecord> hands;
    std::vector<PointableRecord> pointables;
    std::vector<GestureRecord> gestures;
    bool operator==(const FrameRecord&) const = default;
};

enum class EventKind { Connect, Disconnect, FocusGained, FocusLost };

struct EventRecord {
    EventKind kind = EventKind::Connect;
    std::int64_t timestamp = 0;  // microseconds
    bool operator==(const EventRecord&) const = default;
};

using RecordEntry = std::variant<FrameRecord, EventRecord>;

struct RecordingHeader {
    int version = kRecordingVersion;
    double rate = 60.0;             // nominal frames per second
    bool gesturesRecorded = false;  // true: the frames carry gestures; do not recognise anew
    bool operator==(const RecordingHeader&) const = default;
};

struct KIVO_API Recording {
    RecordingHeader header;
    std::vector<RecordEntry> entries;
    std::size_t frameCount() const;
    std::size_t eventCount() const;
    bool operator==(const Recording&) const = default;
};

// Parses one frame or event line. On failure returns false and sets `error` to a message naming
// the field at fault ("field 'palm' of hand 2: ..."); `out` is then unspecified.
KIVO_API bool parseRecordLine(std::string_view line, RecordEntry& out, std::string& error);
// The line for one entry, without line end. Floats are written so that they read back exactly.
KIVO_API std::string formatRecordLine(const RecordEntry& entry);
KIVO_API std::string formatHeaderLine(const RecordingHeader& header);
// The name recordings give a gesture type: "swipe", "circle", "screen-tap", "key-tap", or
// "invalid" for a number that is none of them.
KIVO_API std::string_view gestureTypeName(int type);

// Parses a whole recording held in memory; `name` is used in messages ("NAME:LINE: ...").
// On failure returns false, sets `error`, and leaves `out` untouched.
KIVO_API bool parseRecording(std::string_view text, const std::string& name, Recording& out,
                             std::string& error);
// Reads and validates a recording file; see parseRecording.
KIVO_API bool readRecording(const std::string& path, Recording& out, std::string& error);
// Writes a whole recording; returns an empty string or the error.
KIVO_API std::string writeRecording(const std::string& path, const Recording& recording);

// Writes a recording entry by entry. The entries go to a new file beside `path` (same folder,
// name `PATH.PID-N.part`), which close() completes with the end line and renames to `path`: until
// then whatever was at `path` stays as it was, and writers that share a path never mix their
// lines (the last to close wins). `path` must be a regular file or not exist yet.
//
// One thread at a time may use a writer. See finishRecordingsOnSignals() for a process that is
// interrupted while writing.
class KIVO_API RecordingWriter {
  public:
    RecordingWriter() = default;
    RecordingWriter(const RecordingWriter&) = delete;
    RecordingWriter& operator=(const RecordingWriter&) = delete;
    // Closes the file if it is still open, dropping any error.
    ~RecordingWriter();

    // Creates the file beside `path` and writes the header line; returns an empty string or the
    // error ("PATH: cannot open the file for writing (REASON)"). Closes an open file first.
    std::string open(const std::string& path, const RecordingHeader& header);
    // Appends one entry, keeping frame ids increasing and times within 0..kMaxRecordingTime and
    // never going backwards. After a write error the entries are dropped and close() reports it.
    void write(const RecordEntry& entry);
    // Writes the end line and renames the file into place; returns an empty string or the error
    // (after which nothing is left at `path` that was not there before).
    std::string close();
    // Closes the file without putting it in place: `path` keeps what it held.
    void discard();
    bool isOpen() const { return m_slot != nullptr; }
    const std::string& path() const { return m_path; }

  private:
    // Appends one whole line; false after a write error.
    bool append(const std::string& line, bool frame);
    std::string finish(bool putInPlace);

    detail::WriterSlot* m_slot = nullptr;  // the open file, as the signal handler sees it
    std::string m_path;
    std::string m_error;        // the first write error
    std::int64_t m_length = 0;  // bytes of whole lines written
    std::size_t m_frames = 0;
    std::size_t m_events = 0;
    std::int64_t m_lastFrameId = 0;
    std::int64_t m_lastTime = 0;
};

// Makes SIGINT, SIGTERM and SIGHUP complete every recording still being written in the process
// (the lines written so far and the end line, renamed into place) before the signal ends the
// process as it would have without this. Signals whose disposition is not the default when this
// is called (ignored, or handled by someone else) are left alone. Programs that capture call it
// once, early in main; it may be called again (doing nothing more).
KIVO_API void finishRecordingsOnSignals();

}  // namespace Kivo
