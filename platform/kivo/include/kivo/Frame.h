#pragma once

#include <kivo/Export.h>
#include <kivo/GestureList.h>
#include <kivo/HandList.h>
#include <kivo/PointableList.h>

#include <cstdint>
#include <memory>

namespace Kivo {

struct FrameRecord;
namespace detail {
class History;
}

// One frame of tracking data as a connection sees it. Cheap to copy; it keeps its data alive.
// Frame ids are assigned by the device service, start at 1 and increase by one per delivered
// frame for the life of the process. A default frame is invalid: id -1, no hands, no pointables,
// no gestures.
class KIVO_API Frame {
  public:
    Frame();
    Frame(std::shared_ptr<const FrameRecord> data, std::uint32_t gestureMask,
          std::shared_ptr<const detail::History> history);

    bool isValid() const;
    std::int64_t id() const;
    // Microseconds, in the source's time base.
    std::int64_t timestamp() const;
    HandList hands() const;
    PointableList pointables() const;
    // The gesture updates reported with this frame, of the types enabled on the connection.
    GestureList gestures() const;
    // Every gesture update of the frames after `since` up to and including this one, oldest
    // first, as far as the service's bounded history still holds them. An invalid `since` means
    // "from the oldest frame in the history". A `since` at or after this frame gives none.
    GestureList gestures(const Frame& since) const;

    // Two frames are equal when both are valid and carry the same id.
    bool operator==(const Frame& other) const;
    bool operator!=(const Frame& other) const { return !(*this == other); }

  private:
    std::shared_ptr<const FrameRecord> m_data;
    std::uint32_t m_gestureMask = 0;
    std::shared_ptr<const detail::History> m_history;
};

}  // namespace Kivo
