#pragma once
// Stored attribute values and their types.
#include <cstdint>
#include <memory>
#include <string>

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

// One stored attribute value. Fields unused by the type stay at their defaults.
struct Value {
    ValueType type = ValueType::kDouble;
    bool b = false;
    std::int64_t i = 0;
    double d = 0.0;
    double v3[3] = {0.0, 0.0, 0.0};
    RMatrix m;
    std::string s;
    std::shared_ptr<ObjectImpl> mesh;

    double asNumber() const;
    void setNumber(double value);  // converts to the value's own type
    // Copies other into this value, converting between numeric kinds; false when the kinds differ.
    bool assignFrom(const Value& other);
};

}  // namespace rova::detail
