#pragma once
// Stored attribute values and their types.
#include <cstdint>
#include <memory>
#include <new>
#include <string>

#include "model/Slabs.h"
#include "rova/RMatrix.h"

namespace rova::detail {

struct ObjectImpl;

enum class ValueType {
    kBool,
    kShort,
    kInt,
    kFloat,
    kDouble,
    kDouble3,
    kTime,
    kMatrix,
    kEnum,
    kString,
    kMesh,
    kCompound
};

const char* valueTypeName(ValueType type);
bool isScalar(ValueType type);

// One stored attribute value. Fields unused by the type stay at their defaults. Matrices and
// strings are rare and large: they are held apart, so that the values of a node (mostly numbers)
// lie close together and a large scene's dirtying and evaluation touch few cache lines.
struct Value {
    ValueType type = ValueType::kDouble;
    bool b = false;
    std::int64_t i = 0;
    double d = 0.0;
    double v3[3] = {0.0, 0.0, 0.0};
    std::shared_ptr<ObjectImpl> mesh;

    Value() = default;
    Value(const Value& other) { *this = other; }
    Value(Value&&) noexcept = default;
    Value& operator=(const Value& other);
    Value& operator=(Value&&) noexcept = default;
    ~Value() = default;

    // The matrix (identity when none was set) and the string (empty when none was set).
    const RMatrix& matrix() const { return m_wide ? m_wide->matrix : kIdentity; }
    void setMatrix(const RMatrix& value) { wide().matrix = value; }
    const std::string& text() const { return m_wide ? m_wide->text : kEmpty; }
    void setText(std::string value) { wide().text = std::move(value); }

    double asNumber() const;
    void setNumber(double value);  // converts to the value's own type
    // Copies other into this value, converting between numeric kinds; false when the kinds differ.
    bool assignFrom(const Value& other);

  private:
    struct Wide {
        RMatrix matrix;
        std::string text;
    };
    // From slabs of their own size (see Slabs.h): a node whose compute writes many matrices
    // finds them side by side, in the order it first wrote them, not scattered over the heap.
    struct WideDelete {
        void operator()(Wide* wide) const noexcept {
            wide->~Wide();
            giveSlabBlock(wide, sizeof(Wide));
        }
    };
    using WidePtr = std::unique_ptr<Wide, WideDelete>;
    static WidePtr makeWide(const Wide* copy = nullptr) {
        void* block = takeSlabBlock(sizeof(Wide));
        try {
            return WidePtr(copy ? new (block) Wide(*copy) : new (block) Wide());
        } catch (...) {
            giveSlabBlock(block, sizeof(Wide));
            throw;
        }
    }
    Wide& wide() {
        if (!m_wide)
            m_wide = makeWide();
        return *m_wide;
    }
    static const RMatrix kIdentity;
    static const std::string kEmpty;
    WidePtr m_wide;
};

}  // namespace rova::detail
