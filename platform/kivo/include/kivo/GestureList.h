#pragma once

#include <kivo/Export.h>
#include <kivo/Gesture.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace Kivo {

// An ordered list of gesture updates, oldest frame first. Cheap to copy. Indexing outside
// [0, count) gives an invalid gesture.
class KIVO_API GestureList {
  public:
    GestureList();
    explicit GestureList(std::shared_ptr<const std::vector<Gesture>> gestures);

    std::int32_t count() const;
    bool isEmpty() const { return count() == 0; }
    Gesture operator[](std::int32_t index) const;

  private:
    std::shared_ptr<const std::vector<Gesture>> m_gestures;
};

}  // namespace Kivo
