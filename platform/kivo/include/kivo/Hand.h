#pragma once

#include <kivo/Export.h>
#include <kivo/PointableList.h>
#include <kivo/Vector.h>

#include <cstdint>
#include <memory>

namespace Kivo {

struct FrameRecord;

// A hand seen in one frame. Cheap to copy: it shares the frame's data.
// An invalid (default) hand has id 0, zero vectors and no pointables.
class KIVO_API Hand {
  public:
    Hand();
    Hand(std::shared_ptr<const FrameRecord> frame, int index);

    bool isValid() const;
    std::int32_t id() const;
    // Centre of the palm, millimetres.
    Vector palmPosition() const;
    // Unit vector out of the palm's inner side.
    Vector palmNormal() const;
    // Unit vector from the palm towards the fingers.
    Vector direction() const;
    // This hand's pointables, in the frame's order.
    PointableList pointables() const;

  private:
    std::shared_ptr<const FrameRecord> m_frame;
    int m_index = -1;
};

}  // namespace Kivo
