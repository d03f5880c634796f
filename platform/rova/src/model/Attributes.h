#pragma once
// Attribute definitions: names, type, flags, default, children.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "model/Objects.h"
#include "model/Values.h"
#include "rova/RFnAttribute.h"

namespace rova::detail {

struct AttributeDef : ObjectImpl {
    AttributeDef() : ObjectImpl(RObject::Kind::kAttribute) {}
    std::string longName, shortName;
    ValueType type = ValueType::kDouble;
    RFnNumericData::Type numericType = RFnNumericData::kInvalid;
    bool readable = true, writable = true, connectable = true, storable = true;
    bool keyable = false, hidden = false, array = false;
    Value defaultValue;
    std::vector<std::pair<std::string, short>> fields;
    std::vector<std::shared_ptr<AttributeDef>> children;
    AttributeDef* parent = nullptr;
    int component = -1;  // child of a compound of three numbers: its component
    // Its index in the first type that took it (see NodeType::indexOf); set once, at
    // registration, before any node of that type exists.
    int indexHint = -1;
};

// The attribute an object handle names, or null. Inline: every handle a compute takes asks it.
inline AttributeDef* attributeOf(const RObject& object) {
    ObjectImpl* impl = Access::get(object);
    return impl && impl->kind == RObject::Kind::kAttribute ? static_cast<AttributeDef*>(impl)
                                                           : nullptr;
}
// The children of a compound of three numbers append these to its long and short names
// (translate/t: translateX/tx).
inline constexpr std::pair<const char*, const char*> kAxisSuffixes[] = {
    {"X", "x"}, {"Y", "y"}, {"Z", "z"}};

std::shared_ptr<AttributeDef> makeAttribute(const std::string& longName,
                                            const std::string& shortName, ValueType type);

}  // namespace rova::detail
