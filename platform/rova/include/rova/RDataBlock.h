#pragma once
#include "rova/RArrayDataHandle.h"
#include "rova/RDataHandle.h"
#include "rova/RObject.h"
#include "rova/RPlug.h"
#include "rova/RStatus.h"

namespace rova::detail {
struct DataBlockAccess;
}

// The values of one node during compute. inputValue pulls a dirty input (from its connection
// or its own computation) before returning it; outputValue gives write access.
class ROVA_API RDataBlock {
  public:
    RDataHandle inputValue(const RObject& attribute, RStatus* status = nullptr);
    RDataHandle inputValue(const RPlug& plug, RStatus* status = nullptr);
    RDataHandle outputValue(const RObject& attribute, RStatus* status = nullptr);
    RDataHandle outputValue(const RPlug& plug, RStatus* status = nullptr);
    RArrayDataHandle inputArrayValue(const RObject& attribute, RStatus* status = nullptr);
    RArrayDataHandle outputArrayValue(const RObject& attribute, RStatus* status = nullptr);
    RStatus setClean(const RPlug& plug);
    RStatus setClean(const RObject& attribute);
    bool isClean(const RObject& attribute) const;

  private:
    friend struct rova::detail::DataBlockAccess;
    explicit RDataBlock(void* node) noexcept : m_node(node) {}
    void* m_node = nullptr;
};
