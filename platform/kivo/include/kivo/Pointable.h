#pragma once

#include <kivo/Export.h>
#include <kivo/Vector.h>

#include <cstdint>
#include <memory>

namespace Kivo {

struct FrameRecord;

// A finger or tool seen in one frame. Cheap to copy: it shares the frame's data.
// An invalid (default) pointable has id 0 and zero vectors.
class KIVO_API Pointable {
  public:
    Pointable();
    Pointable(std::shared_ptr<const FrameRecord> frame, int index);

    bool isValid() const;
    std::int32_t id() const;
    // Id of the hand the pointable belongs to, 0 when none.
    std::int32_t handId() const;
    Vector tipPosition() const;
    // Unit vector from the last joint towards the tip.
    Vector direction() const;
    // Millimetres from the finger's base (its knuckle) to its tip along its joints; 0 when the
    // source does not know it.
    float length() const;

  private:
    std::shared_ptr<const FrameRecord> m_frame;
    int m_index = -1;
};

}  // namespace Kivo
