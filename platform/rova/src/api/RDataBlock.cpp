// RDataBlock: what compute reads and writes.
#include <algorithm>
#include <exception>
#include <iostream>

#include "HostImpl.h"
#include "api/Access.h"
#include "host/Faults.h"
#include "model/Attributes.h"
#include "model/NodeRecords.h"
#include "model/Values.h"
#include "rova/RArrayDataHandle.h"
#include "rova/RDataBlock.h"
#include "rova/RDataHandle.h"
#include "rova/RPlug.h"

using rova::detail::AttributeDef;
using rova::detail::NodeRecord;
using rova::detail::ValueType;

namespace {
NodeRecord* blockNode(void* block) {
    return static_cast<NodeRecord*>(block);
}

// Out of line: the message is built only when the attribute is not the node's, and the lookup
// that every output write makes stays small.
[[gnu::noinline, gnu::cold]] int notAttribute(NodeRecord* node, const AttributeDef* def,
                                              const char* call, RStatus* status) {
    const std::string what = def ? def->longName : std::string("a null attribute");
    if (status)
        *status = RStatus(RStatus::kInvalidParameter,
                          std::string(call) + ": '" + what + "' is not an attribute of node '" +
                              (node ? node->name : std::string("?")) + "'");
    return -1;
}

inline int locate(NodeRecord* node, const RObject& attribute, const char* call, RStatus* status) {
    const AttributeDef* def = rova::detail::attributeOf(attribute);
    const int index = node && def ? node->type->indexOf(def) : -1;
    if (index < 0)
        return notAttribute(node, def, call, status);
    if (status)
        status->clear();
    return index;
}

RDataHandle handleFor(NodeRecord* node, int index) {
    const AttributeDef& def = *node->type->attributes[static_cast<std::size_t>(index)];
    const int component =
        def.parent && def.parent->type == ValueType::kDouble3 ? def.component : -1;
    // The storage slot once: the handle's setClean marks it without looking it up again.
    const int storage = node->storageOf(index);
    return rova::detail::DataHandleAccess::make(&node->valueOf(index), node, index, component,
                                                storage);
}
}  // namespace

RDataHandle RDataBlock::inputValue(const RObject& attribute, RStatus* status) {
    NodeRecord* node = blockNode(m_node);
    const int index = locate(node, attribute, "inputValue", status);
    if (index < 0)
        return RDataHandle();
    rova::detail::hostImpl().evaluate(node, index);
    return handleFor(node, index);
}

RDataHandle RDataBlock::inputValue(const RPlug& plug, RStatus* status) {
    return inputValue(rova::detail::PlugAccess::attribute(plug), status);
}

namespace {
// Whether an armed fault makes this outputValue fail (then *status says so). Out of line: every
// output write of a compute passes here, and faults are armed only by tests.
[[gnu::noinline, gnu::cold]] bool injectOutputValueFault(NodeRecord* node, const RObject& attribute,
                                                         RStatus* status) {
    const AttributeDef* def = rova::detail::attributeOf(attribute);
    const std::string subject =
        (node ? node->name : std::string()) + "." + (def ? def->longName : std::string());
    if (!rova::detail::faultArmed(rova::host::FaultPoint::kOutputValue, subject))
        return false;
    if (status)
        *status = rova::detail::injectedFailure(rova::host::FaultPoint::kOutputValue, subject);
    return true;
}
}  // namespace

namespace {
// Everything but the common case of outputValue: an armed fault, an attribute that is not the
// node's (or past its type's handle slots), tables still being built, a status with a description
// to drop.
[[gnu::noinline]] RDataHandle outputValueSlow(NodeRecord* node, const RObject& attribute,
                                              RStatus* status) {
    if (rova::detail::faultsArmed() && injectOutputValueFault(node, attribute, status))
        return RDataHandle();
    const int index = locate(node, attribute, "outputValue", status);
    if (index < 0)
        return RDataHandle();
    return handleFor(node, index);
}
}  // namespace

RDataHandle RDataBlock::outputValue(const RObject& attribute, RStatus* status) {
    // Every output a compute writes comes here: the common case (the type's tables are built and
    // hold the attribute, the status is plain) makes no call and reads neither the attribute's
    // definition nor the type's tables by index.
    NodeRecord* node = blockNode(m_node);
    const rova::detail::ObjectImpl* impl = rova::detail::Access::get(attribute);
    if (node && impl && !rova::detail::faultsArmed()) [[likely]] {
        const rova::detail::NodeType& type = *node->type;
        const rova::detail::NodeType::HandleSlot* slot = type.handleSlot(impl);
        if (slot && (!status || rova::detail::StatusAccess::clearPlain(*status))) [[likely]] {
            return rova::detail::DataHandleAccess::make(
                &node->values[static_cast<std::size_t>(slot->value)], node, slot->index,
                slot->component, slot->storage);
        }
    }
    return outputValueSlow(node, attribute, status);
}

RDataHandle RDataBlock::outputValue(const RPlug& plug, RStatus* status) {
    return outputValue(rova::detail::PlugAccess::attribute(plug), status);
}

RArrayDataHandle RDataBlock::inputArrayValue(const RObject& attribute, RStatus* status) {
    NodeRecord* node = blockNode(m_node);
    const int index = locate(node, attribute, "inputArrayValue", status);
    if (index < 0)
        return RArrayDataHandle();
    if (!node->type->attributes[static_cast<std::size_t>(index)]->array) {
        if (status)
            *status = RStatus(RStatus::kInvalidParameter,
                              "inputArrayValue: '" + node->plugPath(index) + "' is not an array");
        return RArrayDataHandle();
    }
    rova::detail::hostImpl().evaluate(node, index);
    return rova::detail::ArrayHandleAccess::make(node, index, false);
}

RArrayDataHandle RDataBlock::outputArrayValue(const RObject& attribute, RStatus* status) {
    NodeRecord* node = blockNode(m_node);
    if (rova::detail::faultsArmed()) {
        const AttributeDef* def = rova::detail::attributeOf(attribute);
        const std::string subject =
            (node ? node->name : std::string()) + "." + (def ? def->longName : std::string());
        if (rova::detail::faultArmed(rova::host::FaultPoint::kOutputArrayValue, subject)) {
            if (status)
                *status = rova::detail::injectedFailure(rova::host::FaultPoint::kOutputArrayValue,
                                                        subject);
            return RArrayDataHandle();
        }
    }
    const int index = locate(node, attribute, "outputArrayValue", status);
    if (index < 0)
        return RArrayDataHandle();
    if (!node->type->attributes[static_cast<std::size_t>(index)]->array) {
        if (status)
            *status = RStatus(RStatus::kInvalidParameter,
                              "outputArrayValue: '" + node->plugPath(index) + "' is not an array");
        return RArrayDataHandle();
    }
    return rova::detail::ArrayHandleAccess::make(node, index, true);
}

RStatus RDataBlock::setClean(const RPlug& plug) {
    return setClean(rova::detail::PlugAccess::attribute(plug));
}

RStatus RDataBlock::setClean(const RObject& attribute) {
    NodeRecord* node = blockNode(m_node);
    RStatus status;
    const int index = locate(node, attribute, "setClean", &status);
    if (index < 0)
        return status;
    node->dirty[static_cast<std::size_t>(node->storageOf(index))] = 0;
    return status;
}

bool RDataBlock::isClean(const RObject& attribute) const {
    NodeRecord* node = blockNode(m_node);
    const int index = locate(node, attribute, "isClean", nullptr);
    return index >= 0 && !node->isDirty(index);
}
