// RPxNode: the base of every node, and attribute set-up during a type's initialisation.
#include "rova/RPxNode.h"

#include <algorithm>
#include <exception>
#include <iostream>

#include "HostImpl.h"
#include "host/Faults.h"
#include "model/Attributes.h"
#include "model/NodeTypes.h"
#include "model/Objects.h"
#include "model/Slabs.h"
#include "rova/RArrayDataHandle.h"
#include "rova/RDataBlock.h"
#include "rova/RDataHandle.h"
#include "rova/RPlug.h"

using rova::detail::AttributeDef;
using rova::detail::NodeType;

RPxNode::RPxNode() = default;
void* RPxNode::operator new(std::size_t bytes) {
    return rova::detail::takeSlabBlock(bytes);
}
void RPxNode::operator delete(void* node, std::size_t bytes) noexcept {
    rova::detail::giveSlabBlock(node, bytes);
}
void* RPxNode::operator new(std::size_t bytes, std::align_val_t alignment) {
    return ::operator new(bytes, alignment);
}
// The size goes unused: not every compiler offers the sized form of the aligned delete.
void RPxNode::operator delete(void* node, std::size_t, std::align_val_t alignment) noexcept {
    ::operator delete(node, alignment);
}
RPxNode::~RPxNode() = default;
void RPxNode::postConstructor() {}
RStatus RPxNode::compute(const RPlug&, RDataBlock&) {
    return RStatus::kUnknownParameter;
}

RObject RPxNode::thisRObject() const noexcept {
    if (!m_record)
        return RObject();
    return rova::detail::Access::make(m_record->shared_from_this());
}

RString RPxNode::name() const {
    return m_record ? RString(m_record->nameForAnyThread()) : RString();
}
RTypeId RPxNode::typeId() const {
    return m_record ? m_record->type->id : RTypeId();
}
RString RPxNode::typeName() const {
    return m_record ? RString(m_record->type->name) : RString();
}

RStatus RPxNode::addAttribute(const RObject& attribute) {
    auto& host = rova::detail::hostImpl();
    AttributeDef* def = rova::detail::attributeOf(attribute);
    const std::string subject = rova::detail::setupSubject(def ? def->longName : "");
    if (rova::detail::faultArmed(rova::host::FaultPoint::kAddAttribute, subject))
        return rova::detail::injectedFailure(rova::host::FaultPoint::kAddAttribute, subject);
    if (host.typeInInitialization.empty())
        return RStatus(RStatus::kFailure,
                       "addAttribute: only a node type's initialize function may add attributes");
    if (!def)
        return RStatus(RStatus::kInvalidParameter, "addAttribute: the attribute is null");
    NodeType& type = *host.typeInInitialization.back();
    if (type.indexOf(def) >= 0)
        return RStatus(
            RStatus::kInvalidParameter,
            "addAttribute: '" + def->longName + "' is already an attribute of '" + type.name + "'");
    std::vector<std::shared_ptr<AttributeDef>> adding{
        std::static_pointer_cast<AttributeDef>(def->shared_from_this())};
    for (const auto& child : def->children)
        if (type.indexOf(child.get()) < 0)
            adding.push_back(child);
    for (const auto& candidate : adding) {
        for (const auto& existing : type.attributes) {
            for (const std::string* name : {&candidate->longName, &candidate->shortName})
                if (*name == existing->longName || *name == existing->shortName)
                    return RStatus(RStatus::kInvalidParameter,
                                   "addAttribute: node type '" + type.name +
                                       "' already has an attribute named '" + *name + "'");
        }
    }
    for (const auto& candidate : adding) {
        type.addIndex(candidate.get(), static_cast<int>(type.attributes.size()));
        type.attributes.push_back(candidate);
        type.affects.emplace_back();
    }
    return RStatus();
}

RStatus RPxNode::attributeAffects(const RObject& whenChanges, const RObject& isAffected) {
    auto& host = rova::detail::hostImpl();
    const AttributeDef* source = rova::detail::attributeOf(whenChanges);
    const AttributeDef* target = rova::detail::attributeOf(isAffected);
    const std::string subject =
        (source ? source->longName : "") + "->" + (target ? target->longName : "");
    const std::string faultSubject = rova::detail::setupSubject(subject);
    if (rova::detail::faultArmed(rova::host::FaultPoint::kAttributeAffects, faultSubject))
        return rova::detail::injectedFailure(rova::host::FaultPoint::kAttributeAffects,
                                             faultSubject);
    if (host.typeInInitialization.empty())
        return RStatus(
            RStatus::kFailure,
            "attributeAffects: only a node type's initialize function may declare dependencies");
    if (!source || !target)
        return RStatus(RStatus::kInvalidParameter,
                       "attributeAffects " + subject + ": null attribute");
    NodeType& type = *host.typeInInitialization.back();
    const int from = type.indexOf(source), to = type.indexOf(target);
    for (const auto& [index, def] : {std::pair{from, source}, std::pair{to, target}})
        if (index < 0)
            return RStatus(RStatus::kInvalidParameter, "attributeAffects " + subject + ": '" +
                                                           def->longName + "' was not added to '" +
                                                           type.name + "'");
    auto& list = type.affects[static_cast<std::size_t>(from)];
    if (std::find(list.begin(), list.end(), to) == list.end())
        list.push_back(to);
    return RStatus();
}
