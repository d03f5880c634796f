#pragma once

#include <kivo/Recording.h>

#include <cstdint>
#include <variant>

namespace Kivo::detail {

// The time of a recorded frame or event, in microseconds.
inline std::int64_t entryTime(const RecordEntry& e) {
    return std::visit([](const auto& r) { return r.timestamp; }, e);
}

}  // namespace Kivo::detail
