// RPlug.
#include <algorithm>
#include <exception>
#include <iostream>

#include "host/Diagnostics.h"
#include "model/Attributes.h"
#include "model/NodeRecords.h"
#include "model/Objects.h"
#include "rova/RArrayDataHandle.h"
#include "rova/RDataBlock.h"
#include "rova/RDataHandle.h"
#include "rova/RPlug.h"

using rova::detail::AttributeDef;
using rova::detail::NodeRecord;

RPlug::RPlug(const RObject& node, const RObject& attribute) noexcept
    : m_node(node), m_attribute(attribute) {}

RPlug RPlug::elementByLogicalIndex(unsigned int index) const noexcept {
    RPlug element = *this;
    element.m_index = static_cast<int>(index);
    return element;
}

RPlug RPlug::array() const noexcept {
    RPlug whole = *this;
    whole.m_index = -1;
    return whole;
}

RString RPlug::name() const {
    auto* node = dynamic_cast<NodeRecord*>(rova::detail::Access::get(m_node));
    const RString attribute = partialName();
    if (!node)
        return attribute;
    return RString(node->name + "." + attribute.str());
}

RString RPlug::partialName() const {
    const AttributeDef* def = rova::detail::attributeOf(m_attribute);
    if (!def)
        return RString();
    std::string text = def->longName;
    if (m_index >= 0)
        rova::detail::appendIndex(text, m_index);
    return RString(text);
}
