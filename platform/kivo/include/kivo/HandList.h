#pragma once

#include <kivo/Export.h>

#include <cstdint>
#include <memory>

namespace Kivo {

struct FrameRecord;
class Hand;

// The hands of one frame, in the frame's order. Indexing outside [0, count) gives an invalid
// hand.
class KIVO_API HandList {
  public:
    HandList();
    explicit HandList(std::shared_ptr<const FrameRecord> frame);

    std::int32_t count() const;
    bool isEmpty() const { return count() == 0; }
    Hand operator[](std::int32_t index) const;

  private:
    std::shared_ptr<const FrameRecord> m_frame;
};

}  // namespace Kivo
