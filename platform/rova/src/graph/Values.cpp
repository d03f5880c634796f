// Stored attribute values and the node records that hold them.
#include <algorithm>
#include <exception>
#include <iostream>

#include "HostImpl.h"
#include "rova/RArrayDataHandle.h"
#include "rova/RDataBlock.h"
#include "rova/RDataHandle.h"
#include "rova/RPlug.h"

using rova::detail::AttributeDef;
using rova::detail::NodeRecord;
using rova::detail::NodeType;
using rova::detail::Value;
using rova::detail::ValueType;

namespace rova::detail {

const char* valueTypeName(ValueType type) {
    switch (type) {
        case ValueType::kBool:
            return "bool";
        case ValueType::kShort:
            return "short";
        case ValueType::kInt:
            return "int";
        case ValueType::kFloat:
            return "float";
        case ValueType::kDouble:
            return "double";
        case ValueType::kDouble3:
            return "double3";
        case ValueType::kTime:
            return "time";
        case ValueType::kMatrix:
            return "matrix";
        case ValueType::kEnum:
            return "enum";
        case ValueType::kString:
            return "string";
        case ValueType::kMesh:
            return "mesh";
        case ValueType::kCompound:
            return "compound";
    }
    return "unknown";
}

bool isScalar(ValueType type) {
    switch (type) {
        case ValueType::kBool:
        case ValueType::kShort:
        case ValueType::kInt:
        case ValueType::kFloat:
        case ValueType::kDouble:
        case ValueType::kTime:
        case ValueType::kEnum:
            return true;
        default:
            return false;
    }
}

double Value::asNumber() const {
    switch (type) {
        case ValueType::kBool:
            return b ? 1.0 : 0.0;
        case ValueType::kShort:
        case ValueType::kInt:
        case ValueType::kEnum:
            return static_cast<double>(i);
        default:
            return d;
    }
}

void Value::setNumber(double value) {
    switch (type) {
        case ValueType::kBool:
            b = value != 0.0;
            break;
        case ValueType::kShort:
        case ValueType::kInt:
        case ValueType::kEnum:
            i = static_cast<std::int64_t>(value);
            break;
        case ValueType::kFloat:
            d = static_cast<double>(static_cast<float>(value));
            break;
        case ValueType::kDouble3:
            v3[0] = v3[1] = v3[2] = value;
            break;
        default:
            d = value;
            break;
    }
}

bool Value::assignFrom(const Value& other) {
    if (isScalar(type) && isScalar(other.type)) {
        setNumber(other.asNumber());
        return true;
    }
    if (type != other.type)
        return false;
    const ValueType keep = type;
    *this = other;
    type = keep;
    return true;
}

void freeSlot(ThreadState& state, int slot) {
    state.slots[static_cast<std::size_t>(slot)] = ThreadState::kFree;
    state.freeSlots.push_back(slot);
    ++state.freed;
}

int NodeType::findByName(const std::string& text) const {
    for (std::size_t k = 0; k < attributes.size(); ++k)
        if (attributes[k]->longName == text)
            return static_cast<int>(k);
    for (std::size_t k = 0; k < attributes.size(); ++k)
        if (attributes[k]->shortName == text)
            return static_cast<int>(k);
    return -1;
}

int NodeType::parentIndex(int attribute) const {
    const AttributeDef* parent = attributes[static_cast<std::size_t>(attribute)]->parent;
    return parent ? indexOf(parent) : -1;
}

int NodeRecord::storageOf(int attribute) const {
    const AttributeDef& def = *type->attributes[static_cast<std::size_t>(attribute)];
    if (def.parent && def.parent->type == ValueType::kDouble3) {
        const int parent = type->indexOf(def.parent);
        if (parent >= 0)
            return parent;
    }
    return attribute;
}

std::string NodeRecord::plugPath(int attribute, int element) const {
    std::string path = name + "." + type->attributes[static_cast<std::size_t>(attribute)]->longName;
    if (element >= 0)
        appendIndex(path, element);
    return path;
}

Value readPlug(NodeRecord* node, int attribute, int element) {
    const AttributeDef& def = *node->type->attributes[static_cast<std::size_t>(attribute)];
    if (element >= 0) {
        auto& elements = node->arrays[attribute];
        auto it = elements.find(static_cast<unsigned>(element));
        if (it != elements.end())
            return it->second;
        return def.defaultValue;
    }
    const Value& stored = node->valueOf(attribute);
    if (def.parent && def.parent->type == ValueType::kDouble3 &&
        stored.type == ValueType::kDouble3) {
        Value component = def.defaultValue;
        component.setNumber(stored.v3[def.component]);
        return component;
    }
    return stored;
}

void writePlug(NodeRecord* node, int attribute, int element, const Value& value) {
    const AttributeDef& def = *node->type->attributes[static_cast<std::size_t>(attribute)];
    if (element >= 0) {
        auto& elements = node->arrays[attribute];
        auto it = elements.find(static_cast<unsigned>(element));
        if (it == elements.end())
            it = elements.emplace(static_cast<unsigned>(element), def.defaultValue).first;
        it->second.assignFrom(value);
        return;
    }
    Value& stored = node->valueOf(attribute);
    if (def.parent && def.parent->type == ValueType::kDouble3 &&
        stored.type == ValueType::kDouble3) {
        stored.v3[def.component] = value.asNumber();
        return;
    }
    stored.assignFrom(value);
}

}  // namespace rova::detail
