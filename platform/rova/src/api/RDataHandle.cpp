// RDataHandle.
#include <algorithm>
#include <exception>
#include <iostream>

#include "api/Access.h"
#include "model/Attributes.h"
#include "model/NodeRecords.h"
#include "model/Objects.h"
#include "model/Values.h"
#include "rova/RArrayDataHandle.h"
#include "rova/RDataBlock.h"
#include "rova/RDataHandle.h"
#include "rova/RPlug.h"

using rova::detail::AttributeDef;
using rova::detail::NodeRecord;
using rova::detail::Value;
using rova::detail::ValueType;

namespace {
double numberOf(const Value* value, int component) {
    if (!value)
        return 0.0;
    if (component >= 0 && value->type == ValueType::kDouble3)
        return value->v3[component];
    return value->asNumber();
}
}  // namespace

bool RDataHandle::asBool() const noexcept {
    return numberOf(m_value, m_component) != 0.0;
}
short RDataHandle::asShort() const noexcept {
    return static_cast<short>(numberOf(m_value, m_component));
}
int RDataHandle::asInt() const noexcept {
    return static_cast<int>(numberOf(m_value, m_component));
}
float RDataHandle::asFloat() const noexcept {
    return static_cast<float>(numberOf(m_value, m_component));
}
double RDataHandle::asDouble() const noexcept {
    return numberOf(m_value, m_component);
}

double3& RDataHandle::asDouble3() const noexcept {
    if (!m_value) {
        thread_local double3 scratch;
        scratch[0] = scratch[1] = scratch[2] = 0.0;
        return scratch;
    }
    return m_value->v3;
}

RVector RDataHandle::asVector() const noexcept {
    if (!m_value)
        return RVector();
    return {m_value->v3[0], m_value->v3[1], m_value->v3[2]};
}

RFloatVector RDataHandle::asFloatVector() const noexcept {
    return RFloatVector(asVector());
}

const RMatrix& RDataHandle::asMatrix() const noexcept {
    return m_value ? m_value->matrix() : RMatrix::identity;
}

RTime RDataHandle::asTime() const noexcept {
    return RTime::fromSeconds(numberOf(m_value, m_component));
}

RString RDataHandle::asString() const noexcept {
    try {
        return m_value ? RString(m_value->text()) : RString();
    } catch (...) {
        return RString();
    }
}

RObject RDataHandle::asMesh() const noexcept {
    return m_value && m_value->mesh ? rova::detail::Access::make(m_value->mesh) : RObject();
}

RDataHandle RDataHandle::child(const RObject& childAttribute) const noexcept {
    const AttributeDef* def = rova::detail::attributeOf(childAttribute);
    auto* node = static_cast<NodeRecord*>(m_block);
    if (!def || !node || !m_value)
        return RDataHandle();
    const int index = node->type->indexOf(def);
    if (index < 0)
        return RDataHandle();
    // The children of an array compound keep one value per element, under the child's index.
    if (m_element >= 0 && def->parent && def->parent->array) {
        auto& elements = node->arrays[index];
        auto it = elements.find(static_cast<unsigned>(m_element));
        if (it == elements.end())
            it = elements.emplace(static_cast<unsigned>(m_element), def->defaultValue).first;
        RDataHandle handle = rova::detail::DataHandleAccess::make(&it->second, node, index, -1);
        handle.m_element = m_element;
        return handle;
    }
    const int component =
        def->parent && def->parent->type == ValueType::kDouble3 ? def->component : -1;
    return rova::detail::DataHandleAccess::make(&node->valueOf(index), node, index, component);
}

namespace {
void setNumberIn(Value* value, int component, double number) {
    if (!value)
        return;
    if (component >= 0 && value->type == ValueType::kDouble3) {
        value->v3[component] = number;
        return;
    }
    value->setNumber(number);
}
}  // namespace

void RDataHandle::set(bool value) noexcept {
    // A flag into a boolean, as most writes are: no conversion to make.
    if (m_value && m_component < 0 && m_value->type == ValueType::kBool) {
        m_value->b = value;
        return;
    }
    setNumberIn(m_value, m_component, value ? 1.0 : 0.0);
}
void RDataHandle::set(short value) noexcept {
    setNumberIn(m_value, m_component, value);
}
void RDataHandle::set(int value) noexcept {
    setNumberIn(m_value, m_component, value);
}
void RDataHandle::set(float value) noexcept {
    setNumberIn(m_value, m_component, static_cast<double>(value));
}
void RDataHandle::set(double value) noexcept {
    setNumberIn(m_value, m_component, value);
}

void RDataHandle::set(double x, double y, double z) noexcept {
    if (!m_value)
        return;
    m_value->v3[0] = x;
    m_value->v3[1] = y;
    m_value->v3[2] = z;
}

void RDataHandle::set(const RFloatVector& value) noexcept {
    set(static_cast<double>(value.x), static_cast<double>(value.y), static_cast<double>(value.z));
}

void RDataHandle::setRMatrix(const RMatrix& value) noexcept {
    if (m_value)
        m_value->setMatrix(value);
}

void RDataHandle::set(const RTime& value) noexcept {
    setNumberIn(m_value, m_component, value.seconds());
}

void RDataHandle::set(const RString& value) noexcept {
    if (!m_value)
        return;
    try {
        m_value->setText(value.str());
    } catch (...) {
    }
}

void RDataHandle::set(const RObject& data) noexcept {
    if (m_value)
        m_value->mesh = rova::detail::Access::share(data);
}

void RDataHandle::setClean() noexcept {
    auto* node = static_cast<NodeRecord*>(m_block);
    if (!node || m_attribute < 0)
        return;
    const int storage = m_storage >= 0 ? m_storage : node->storageOf(m_attribute);
    node->dirty[static_cast<std::size_t>(storage)] = 0;
}
