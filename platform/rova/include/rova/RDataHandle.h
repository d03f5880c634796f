#pragma once
#include "rova/RMatrix.h"
#include "rova/RObject.h"
#include "rova/RStatus.h"
#include "rova/RString.h"
#include "rova/RTime.h"
#include "rova/RVector.h"

using double3 = double[3];

namespace rova::detail {
struct Value;
struct DataHandleAccess;
}  // namespace rova::detail

// A value of one attribute inside a data block. Reading converts between numeric kinds;
// writing a kind the attribute does not hold converts to the attribute's kind.
class ROVA_API RDataHandle {
  public:
    RDataHandle() noexcept = default;
    bool isNull() const noexcept { return m_value == nullptr; }

    bool asBool() const noexcept;
    short asShort() const noexcept;
    int asInt() const noexcept;
    float asFloat() const noexcept;
    double asDouble() const noexcept;
    double3& asDouble3() const noexcept;  // a compound of three doubles
    RVector asVector() const noexcept;
    RFloatVector asFloatVector() const noexcept;
    const RMatrix& asMatrix() const noexcept;
    RTime asTime() const noexcept;
    RString asString() const noexcept;
    RObject asMesh() const noexcept;
    short asEnum() const noexcept { return asShort(); }

    // Child of a compound (for example offsetX of offset). On an element of an array compound,
    // the child of that element.
    RDataHandle child(const RObject& childAttribute) const noexcept;

    void set(bool value) noexcept;
    void set(short value) noexcept;
    void set(int value) noexcept;
    void set(float value) noexcept;
    void set(double value) noexcept;
    void set(double x, double y, double z) noexcept;
    void set(const RVector& value) noexcept { set(value.x, value.y, value.z); }
    void set(const RFloatVector& value) noexcept;
    void setRMatrix(const RMatrix& value) noexcept;
    void set(const RTime& value) noexcept;
    void set(const RString& value) noexcept;
    void set(const RObject& data) noexcept;  // mesh data

    // Marks this value clean in its block.
    void setClean() noexcept;

  private:
    friend struct rova::detail::DataHandleAccess;
    rova::detail::Value* m_value = nullptr;
    void* m_block = nullptr;
    int m_attribute = -1;
    int m_component = -1;  // child of a compound of three numbers
    int m_element = -1;    // logical index, on an element of an array
    int m_storage = -1;    // where setClean marks the value, when the block knew it
};
