// RArrayDataHandle.
#include <algorithm>
#include <exception>
#include <iostream>

#include "api/Access.h"
#include "host/Faults.h"
#include "model/NodeRecords.h"
#include "model/Values.h"
#include "rova/RArrayDataHandle.h"
#include "rova/RDataBlock.h"
#include "rova/RDataHandle.h"
#include "rova/RPlug.h"

using rova::detail::NodeRecord;
using rova::detail::Value;

namespace rova::detail {
RArrayDataHandle ArrayHandleAccess::make(NodeRecord* node, int attribute, bool output) {
    RArrayDataHandle handle;
    handle.m_block = node;
    handle.m_attribute = attribute;
    handle.m_output = output;
    handle.m_position = node->arrays[attribute].empty() ? -1 : 0;
    return handle;
}
}  // namespace rova::detail

namespace {
std::map<unsigned, Value>* elementsOf(void* block, int attribute) {
    auto* node = static_cast<NodeRecord*>(block);
    if (!node || attribute < 0)
        return nullptr;
    return &node->arrays[attribute];
}

RStatus noArray() {
    return RStatus(RStatus::kInvalidParameter, "the array handle is not attached to an array");
}
}  // namespace

unsigned int RArrayDataHandle::elementCount(RStatus* status) const {
    auto* elements = elementsOf(m_block, m_attribute);
    if (status)
        *status = elements ? RStatus() : noArray();
    return elements ? static_cast<unsigned int>(elements->size()) : 0u;
}

RStatus RArrayDataHandle::jumpToElement(unsigned int logicalIndex) {
    auto* elements = elementsOf(m_block, m_attribute);
    if (!elements)
        return noArray();
    auto* node = static_cast<NodeRecord*>(m_block);
    const std::string subject = node->plugPath(m_attribute, static_cast<int>(logicalIndex));
    if (rova::detail::faultArmed(rova::host::FaultPoint::kJumpToElement, subject))
        return rova::detail::injectedFailure(rova::host::FaultPoint::kJumpToElement, subject);
    auto it = elements->find(logicalIndex);
    if (it == elements->end()) {
        if (!m_output)
            return RStatus(RStatus::kInvalidParameter,
                           "jumpToElement: '" + subject + "' does not exist");
        it = elements
                 ->emplace(
                     logicalIndex,
                     node->type->attributes[static_cast<std::size_t>(m_attribute)]->defaultValue)
                 .first;
    }
    m_position = static_cast<int>(std::distance(elements->begin(), it));
    return RStatus();
}

RStatus RArrayDataHandle::jumpToArrayElement(unsigned int position) {
    auto* elements = elementsOf(m_block, m_attribute);
    if (!elements)
        return noArray();
    if (position >= elements->size())
        return RStatus(
            RStatus::kInvalidParameter,
            "jumpToArrayElement: position " + std::to_string(position) + " is past the end");
    m_position = static_cast<int>(position);
    return RStatus();
}

RStatus RArrayDataHandle::next() {
    auto* elements = elementsOf(m_block, m_attribute);
    if (!elements)
        return noArray();
    if (m_position + 1 >= static_cast<int>(elements->size())) {
        m_position = static_cast<int>(elements->size());
        return RStatus(RStatus::kFailure, "next: no more elements");
    }
    ++m_position;
    return RStatus();
}

unsigned int RArrayDataHandle::elementIndex(RStatus* status) const {
    auto* elements = elementsOf(m_block, m_attribute);
    if (!elements || m_position < 0 || m_position >= static_cast<int>(elements->size())) {
        if (status)
            *status = RStatus(RStatus::kInvalidParameter,
                              "elementIndex: the handle is not on an element");
        return 0;
    }
    if (status)
        status->clear();
    return std::next(elements->begin(), m_position)->first;
}

RDataHandle RArrayDataHandle::inputValue(RStatus* status) {
    auto* elements = elementsOf(m_block, m_attribute);
    if (!elements || m_position < 0 || m_position >= static_cast<int>(elements->size())) {
        if (status)
            *status =
                RStatus(RStatus::kInvalidParameter, "inputValue: the handle is not on an element");
        return RDataHandle();
    }
    if (status)
        status->clear();
    auto* node = static_cast<NodeRecord*>(m_block);
    auto& element = *std::next(elements->begin(), m_position);
    RDataHandle handle =
        rova::detail::DataHandleAccess::make(&element.second, node, m_attribute, -1);
    rova::detail::DataHandleAccess::setElement(handle, static_cast<int>(element.first));
    return handle;
}

RDataHandle RArrayDataHandle::outputValue(RStatus* status) {
    return inputValue(status);
}

RStatus RArrayDataHandle::setClean() {
    return setAllClean();
}

RStatus RArrayDataHandle::setAllClean() {
    auto* node = static_cast<NodeRecord*>(m_block);
    if (!node || m_attribute < 0)
        return noArray();
    node->dirty[static_cast<std::size_t>(node->storageOf(m_attribute))] = 0;
    return RStatus();
}
