#pragma once
#include "rova/RDataHandle.h"
#include "rova/RStatus.h"

namespace rova::detail {
struct ArrayHandleAccess;
}

// The elements of an array attribute inside a data block, addressed by logical index.
class ROVA_API RArrayDataHandle {
  public:
    RArrayDataHandle() noexcept = default;
    unsigned int elementCount(RStatus* status = nullptr) const;
    // Positions the handle on the element with that logical index; for an output array the
    // element is created when missing.
    RStatus jumpToElement(unsigned int logicalIndex);
    RStatus jumpToArrayElement(unsigned int position);
    RStatus next();
    unsigned int elementIndex(RStatus* status = nullptr) const;
    RDataHandle inputValue(RStatus* status = nullptr);
    RDataHandle outputValue(RStatus* status = nullptr);
    RStatus setClean();
    RStatus setAllClean();

  private:
    friend struct rova::detail::ArrayHandleAccess;
    void* m_block = nullptr;
    int m_attribute = -1;
    bool m_output = false;
    int m_position = -1;
};
