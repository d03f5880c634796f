#pragma once
#include "rova/RObject.h"
#include "rova/RStatus.h"
#include "rova/RString.h"

namespace rova::detail {
struct PlugAccess;
}  // namespace rova::detail

// One attribute of one node (and, for array attributes, optionally one element of it).
class ROVA_API RPlug {
  public:
    RPlug() noexcept = default;
    RPlug(const RObject& node, const RObject& attribute) noexcept;

    bool isNull() const noexcept { return m_node.isNull() || m_attribute.isNull(); }
    RObject node() const noexcept { return m_node; }
    RObject attribute() const noexcept { return m_attribute; }
    bool isElement() const noexcept { return m_index >= 0; }
    unsigned int logicalIndex() const noexcept {
        return m_index < 0 ? 0u : static_cast<unsigned int>(m_index);
    }
    RPlug elementByLogicalIndex(unsigned int index) const noexcept;
    RPlug array() const noexcept;

    // "node.attribute" (with "[i]" for an element), the path used in every message.
    RString name() const;
    RString partialName() const;  // attribute part only

    // A plug names an attribute: plug == attributeObject tests the attribute.
    bool operator==(const RObject& attribute) const noexcept { return m_attribute == attribute; }
    bool operator!=(const RObject& attribute) const noexcept { return m_attribute != attribute; }
    bool operator==(const RPlug& other) const noexcept {
        return m_node == other.m_node && m_attribute == other.m_attribute &&
               m_index == other.m_index;
    }

  private:
    friend struct rova::detail::PlugAccess;
    RObject m_node;
    RObject m_attribute;
    int m_index = -1;
};
