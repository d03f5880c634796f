#pragma once

#include <kivo/Recording.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <variant>

namespace Kivo::detail {

// The time of a recorded frame or event, in microseconds.
inline std::int64_t entryTime(const RecordEntry& e) {
    return std::visit([](const auto& r) { return r.timestamp; }, e);
}

// `time` moved by `offset`, both within 0..kMaxRecordingTime: stops at the largest time.
inline std::int64_t shifted(std::int64_t time, std::int64_t offset) {
    return std::min(time + offset, kMaxRecordingTime);
}

// Microseconds between two passes of a looped replay: one frame period.
inline std::int64_t framePeriod(const RecordingHeader& header) {
    return static_cast<std::int64_t>(std::llround(1e6 / header.rate));
}

}  // namespace Kivo::detail
