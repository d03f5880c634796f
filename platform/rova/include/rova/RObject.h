#pragma once
#include <memory>
#include <vector>

#include "rova/RovaExport.h"

namespace rova::detail {
struct ObjectImpl;
struct Access;
}  // namespace rova::detail

// A handle to something the host owns: an attribute, a node, a plug-in, a data value.
// Copies share the object; a default handle is the null object.
class ROVA_API RObject {
  public:
    enum class Kind { kInvalid, kAttribute, kNode, kPlugin, kData };

    RObject() noexcept = default;
    bool isNull() const noexcept { return !m_impl; }
    Kind kind() const noexcept;
    bool operator==(const RObject& other) const noexcept { return m_impl == other.m_impl; }
    bool operator!=(const RObject& other) const noexcept { return m_impl != other.m_impl; }

    static const RObject kNullObj;

  private:
    friend struct rova::detail::Access;
    explicit RObject(std::shared_ptr<rova::detail::ObjectImpl> impl) noexcept
        : m_impl(std::move(impl)) {}
    std::shared_ptr<rova::detail::ObjectImpl> m_impl;
};

class ROVA_API RObjectArray {
  public:
    RObjectArray() = default;
    void append(const RObject& object) { m_items.push_back(object); }
    unsigned int length() const noexcept { return static_cast<unsigned int>(m_items.size()); }
    const RObject& operator[](unsigned int index) const { return m_items.at(index); }
    void clear() noexcept { m_items.clear(); }

  private:
    std::vector<RObject> m_items;
};
