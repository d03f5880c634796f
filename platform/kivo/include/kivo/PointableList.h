#pragma once

#include <kivo/Export.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace Kivo {

struct FrameRecord;
class Pointable;

// An ordered list of pointables of one frame. Indexing outside [0, count) gives an invalid
// pointable.
class KIVO_API PointableList {
  public:
    PointableList();
    PointableList(std::shared_ptr<const FrameRecord> frame,
                  std::shared_ptr<const std::vector<int>> indices);

    std::int32_t count() const;
    bool isEmpty() const { return count() == 0; }
    Pointable operator[](std::int32_t index) const;

  private:
    std::shared_ptr<const FrameRecord> m_frame;
    std::shared_ptr<const std::vector<int>> m_indices;  // null: every pointable of the frame
};

}  // namespace Kivo
