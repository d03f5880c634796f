// Plugs by name: parsing, reading (with evaluation), writing, forced computes.
#include <algorithm>
#include <cmath>
#include <iostream>

#include "HostImpl.h"
#include "HostText.h"
#include "model/Attributes.h"
#include "model/NodeRecords.h"
#include "model/NodeTypes.h"
#include "model/Values.h"
#include "rova/RGlobal.h"
#include "rovahost/NumberText.h"

using rova::detail::AttributeDef;
using rova::detail::Connection;
using rova::detail::ConnectionRef;
using rova::detail::NodeRecord;
using rova::detail::NodeType;
using rova::detail::PlugRef;
using rova::detail::Value;

namespace rova::host {

Result<PlugRef> Host::Impl::parsePlug(const std::string& text) const {
    Result<PlugRef> out;
    const auto dot = text.find('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == text.size()) {
        out.status = Status::failure("'" + text + "' is not a plug (expected node.attribute)");
        return out;
    }
    // Views, not copies: every getPlug by name parses one.
    const std::string_view nodeName = std::string_view(text).substr(0, dot);
    std::string_view attributeName = std::string_view(text).substr(dot + 1);
    int element = -1;
    if (!attributeName.empty() && attributeName.back() == ']') {
        const auto open = attributeName.find('[');
        const auto index =
            open == std::string_view::npos
                ? ParsedInteger{0, NumberError::kNotANumber}
                : parseInteger(attributeName.substr(open + 1, attributeName.size() - open - 2), 0,
                               kMaxElementIndex);
        if (open == std::string_view::npos || open == 0 || !index) {
            out.status = Status::failure("'" + text +
                                         "' has a bad element index (expected node.attribute[N])");
            return out;
        }
        element = static_cast<int>(index.value);
        attributeName = attributeName.substr(0, open);
    }
    NodeRecord* node = nodesByName.find(nodeName);
    if (!node) {
        out.status = Status::failure("no node named '" + std::string(nodeName) + "'");
        return out;
    }
    const int attribute = node->type->findByName(attributeName);
    if (attribute < 0) {
        out.status = Status::failure("no attribute '" + std::string(attributeName) + "' on node '" +
                                     std::string(nodeName) + "' (type " + node->type->name + ")");
        return out;
    }
    if (element >= 0 && !node->type->attributes[static_cast<std::size_t>(attribute)]->array) {
        out.status =
            Status::failure("'" + node->plugPath(attribute) + "' is not an array attribute");
        return out;
    }
    out.value = PlugRef{node, attribute, element};
    return out;
}

Result<PlugValue> Host::getPlug(const std::string& plug) {
    Impl& h = *m_impl;
    Result<PlugValue> out;
    auto ref = h.parsePlug(plug);
    if (!ref.ok()) {
        out.status = ref.status;
        return out;
    }
    const AttributeDef& def =
        *ref.value.node->type->attributes[static_cast<std::size_t>(ref.value.attribute)];
    if (!def.readable) {
        out.status = Status::failure("'" + h.plugName(ref.value) + "' is not readable");
        return out;
    }
    h.evaluationErrors.clear();
    // A compute on the way may delete the node: its record stays readable until the answer.
    const auto keep = ref.value.node->shared_from_this();
    h.evaluate(ref.value.node, ref.value.attribute);
    if (!h.evaluationErrors.empty()) {
        out.status = Status::failure(joinNames(h.evaluationErrors));
        h.evaluationErrors.clear();
        return out;
    }
    if (!ref.value.node->alive) {
        out.status = Status::failure("'" + plug + "': its node was deleted while it was evaluated");
        return out;
    }
    out.value = readPlugValue(ref.value);
    return out;
}

Result<PlugValue> Host::storedPlug(const std::string& plug) const {
    Result<PlugValue> out;
    auto ref = m_impl->parsePlug(plug);
    if (!ref.ok()) {
        out.status = ref.status;
        return out;
    }
    out.value = readPlugValue(ref.value);
    return out;
}

Status Host::Impl::storeValue(NodeRecord* node, int attribute, int element,
                              const PlugValue& value) {
    const NodeType& type = *node->type;
    const AttributeDef& def = *type.attributes[static_cast<std::size_t>(attribute)];
    const std::string path = node->plugPath(attribute, element);
    if (!def.writable)
        return Status::failure("cannot set '" + path + "': the attribute is not writable");
    std::vector<ConnectionRef> into;
    if (!node->incoming.empty()) {
        std::vector<int> family{attribute, type.parentIndex(attribute)};
        for (const auto& child : def.children) family.push_back(type.indexOf(child.get()));
        incomingOf(node, family, into);
    }
    for (const ConnectionRef& connection : into) {
        const Connection& c = *connection;
        const int d = c.destination.attribute;
        const bool same = d == attribute && (c.destination.element == element || element < 0 ||
                                             c.destination.element < 0);
        const bool family = d == type.parentIndex(attribute) || type.parentIndex(d) == attribute;
        if (same || family)
            return Status::failure("cannot set '" + path + "': it is connected from '" +
                                   plugName(c.source) + "'");
    }
    std::string error;
    if (def.array && element < 0) {
        if (value.kind != PlugValue::Kind::kArray)
            return Status::failure("cannot set '" + path + "': set its elements, as '" + path +
                                   "[N]'");
        std::map<unsigned, Value> elements;
        for (const auto& [index, item] : value.elements) {
            Value converted;
            if (!fromPlugValue(def, item, converted, error))
                return Status::failure("cannot set '" + path + "': " + error);
            elements[index] = converted;
        }
        node->arrays[attribute] = std::move(elements);
    } else {
        Value converted;
        if (!fromPlugValue(def, value, converted, error))
            return Status::failure("cannot set '" + path + "': " + error);
        detail::writePlug(node, attribute, element, converted);
    }
    node->dirty[static_cast<std::size_t>(node->storageOf(attribute))] = 0;
    dirtyDependents(node, attribute);
    afterWrite(node, node->storageOf(attribute));
    return Status{};
}

Status Host::setPlugValue(const std::string& plug, const PlugValue& value) {
    auto ref = m_impl->parsePlug(plug);
    if (!ref.ok())
        return ref.status;
    return m_impl->storeValue(ref.value.node, ref.value.attribute, ref.value.element, value);
}

Result<bool> Host::isDirty(const std::string& plug) const {
    Result<bool> out;
    auto ref = m_impl->parsePlug(plug);
    if (!ref.ok())
        out.status = ref.status;
    else
        out.value = ref.value.node->isDirty(ref.value.attribute);
    return out;
}

Result<Host::ForcedCompute> Host::forceCompute(const std::string& plug) {
    Impl& h = *m_impl;
    Result<ForcedCompute> out;
    auto ref = h.parsePlug(plug);
    if (!ref.ok()) {
        out.status = ref.status;
        return out;
    }
    NodeRecord* node = ref.value.node;
    const auto keep = node->shared_from_this();  // a compute that deletes its own node
    const int storage = node->storageOf(ref.value.attribute);
    const auto slot = static_cast<std::size_t>(storage);
    if (node->isEvaluating(storage)) {
        out.status = Status::failure("'" + h.plugName(ref.value) + "' is being evaluated");
        return out;
    }
    node->setEvaluating(storage, true);
    out.value.status = h.runCompute(node, storage);
    node->setEvaluating(storage, false);
    if (out.value.status < 0) {
        out.value.error = h.evaluationErrors.back();
        h.evaluationErrors.pop_back();
    }
    if (out.value.status == RStatus::kSuccess)
        node->dirty[slot] = 0;
    else if (out.value.status != RStatus::kUnknownParameter && node->alive)
        h.markDirty(node, storage);
    if (node->alive) {
        out.value.value = readPlugValue(ref.value);
        out.value.dirty = node->isDirty(storage);
    }
    return out;
}

Result<std::string> Host::canonicalPlug(const std::string& plug) const {
    Result<std::string> out;
    auto ref = m_impl->parsePlug(plug);
    if (!ref.ok())
        out.status = ref.status;
    else
        out.value = m_impl->plugName(ref.value);
    return out;
}

}  // namespace rova::host
