// Node life: creation, deletion, renaming, snapshots for undo.
#include <algorithm>
#include <cmath>
#include <iostream>
#include <iterator>
#include <memory>

#include "HostImpl.h"
#include "HostText.h"
#include "SceneChanges.h"
#include "api/Access.h"
#include "host/DataThreadState.h"
#include "host/Diagnostics.h"
#include "host/PluginRecords.h"
#include "model/Attributes.h"
#include "model/NodeRecords.h"
#include "model/NodeTypes.h"
#include "model/Slabs.h"
#include "model/Values.h"
#include "rova/RGlobal.h"
#include "rovahost/Boundary.h"
#include "scene/Scene.h"

using rova::detail::AttributeDef;
using rova::detail::Connection;
using rova::detail::ConnectionRef;
using rova::detail::NodeRecord;
using rova::detail::NodeType;
using rova::detail::ValueType;

namespace rova::host {

// ---------------------------------------------------------------- nodes
bool Host::isValidNodeName(const std::string& name) {
    if (name.empty() || name.size() > kMaxNodeNameLength)
        return false;
    const auto letter = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    };
    if (!letter(name.front()))
        return false;
    return std::all_of(name.begin(), name.end(),
                       [&](char c) { return letter(c) || (c >= '0' && c <= '9'); });
}

namespace {
Status badName(const std::string& name) {
    if (name.size() > Host::kMaxNodeNameLength)
        return Status::failure("invalid node name '" + name.substr(0, 40) + "...' (" +
                               std::to_string(name.size()) + " characters): names are at most " +
                               std::to_string(Host::kMaxNodeNameLength) + " characters long");
    return Status::failure("invalid node name '" + name +
                           "': names use letters, digits and '_' and do not start with a digit");
}
}  // namespace

Status Host::checkNodeName(const std::string& name) {
    return isValidNodeName(name) ? Status{} : badName(name);
}

Result<NodeRecord*> Host::Impl::newNode(NodeType& type, const std::string& name) {
    detail::noteSceneChange();
    Result<NodeRecord*> out;
    std::shared_ptr<NodeType> shared;
    for (const auto& t : types)
        if (t.get() == &type)
            shared = t;
    for (const auto& t : sceneTypes)
        if (t.get() == &type)
            shared = t;
    if (&type == timeType.get())
        shared = timeType;
    if (!type.lookupsCurrent())
        type.buildLookups();
    auto record = std::allocate_shared<NodeRecord>(detail::SlabAllocator<NodeRecord>());
    record->name = name;
    record->type = shared;
    const std::size_t count = type.attributes.size();
    type.fillDefaults(record->values);
    record->dirty.assign(count, 0);
    record->sizeEvaluating(count);
    if (count > 64)
        record->visits.assign(count, 0);
    // What something else affects is computed: it starts dirty so its first read computes it.
    for (const auto& targets : type.affects)
        for (const int target : targets)
            record->dirty[static_cast<std::size_t>(record->storageOf(target))] = 1;
    if (type.kind == RPxNode::kThreadedDeviceNode)
        record->thread = std::make_unique<detail::ThreadState>();

    RPxNode* instance = nullptr;
    if (const auto error = guardBoundary("creating a node of type '" + type.name + "'", [&] {
            instance =
                type.builtinCreator ? type.builtinCreator() : static_cast<RPxNode*>(type.creator());
        })) {
        out.status = Status::failure(*error);
        return out;
    }
    if (!instance) {
        out.status = Status::failure("the creator of type '" + type.name + "' returned no node");
        return out;
    }
    detail::NodeAccess::setRecord(*instance, record.get());
    record->instance = instance;
    record->creationIndex = ++lastCreationIndex;
    nodes.push_back(record);
    if (record->thread)
        deviceNodes.push_back(record);
    if (type.kind == RPxNode::kDeformerNode)
        deformerNodes.push_back(record);
    nameNode(record.get());
    emit(GraphEvent::kCreate, name, type.name);
    if (const auto error = guardBoundary("postConstructor of '" + name + "'",
                                         [&] { instance->postConstructor(); }))
        detail::writeError(*error);
    out.value = record.get();
    return out;
}

void Host::Impl::placeByCreation(const NodeRecord* node) {
    for (auto* list : {&nodes, &deviceNodes, &deformerNodes}) {
        const auto at = std::find_if(list->rbegin(), list->rend(),
                                     [&](const auto& n) { return n.get() == node; });
        if (at == list->rend())
            continue;
        auto moved = std::move(*at);
        list->erase(std::prev(at.base()));
        const auto place = std::upper_bound(
            list->begin(), list->end(), moved->creationIndex,
            [](std::uint64_t index, const auto& n) { return index < n->creationIndex; });
        list->insert(place, std::move(moved));
    }
}

Status Host::Impl::removeNode(NodeRecord* node) {
    if (!node->alive || findNode(node->name) != node)
        return Status::failure("node is already deleted");
    const auto keep = std::static_pointer_cast<NodeRecord>(node->shared_from_this());
    if (node->thread)
        stopThread(node);
    for (const ConnectionRef& touching : connectionsOf(node)) {
        const Connection c = *touching;
        removeConnection(touching);
        emit(GraphEvent::kDisconnect, plugName(c.source), plugName(c.destination));
        if (c.destination.node != node)
            c.destination.node->dirty[static_cast<std::size_t>(
                c.destination.node->storageOf(c.destination.attribute))] = 0;
    }
    emit(GraphEvent::kDelete, node->name, node->type->name);
    // From the end: shutdown and deleting a subtree take the newest nodes first.
    for (auto* list : {&nodes, &deviceNodes, &deformerNodes})
        if (const auto it = std::find(list->rbegin(), list->rend(), keep); it != list->rend())
            list->erase(std::prev(it.base()));
    freeName(node);
    const std::string prefix = node->name + ".";
    watched.erase(std::remove_if(watched.begin(), watched.end(),
                                 [&](const std::string& w) { return w.rfind(prefix, 0) == 0; }),
                  watched.end());
    RPxNode* instance = node->instance;
    if (const auto error =
            guardBoundary("the destructor of node '" + node->name + "'", [&] { delete instance; }))
        detail::writeError(*error);
    node->instance = nullptr;
    node->alive = false;
    if (pullWalks > 0)
        deletedDuringPull.push_back(keep);
    detail::noteSceneChange();
    if (node == timeNode)
        timeNode = nullptr;
    return Status{};
}

Result<std::string> Host::createNode(const std::string& type, const std::string& requestedName) {
    Impl& h = *m_impl;
    Result<std::string> out;
    NodeType* nodeType = h.findType(type);
    if (!nodeType) {
        out.status = Status::failure("unknown node type '" + type + "'");
        return out;
    }
    if (!requestedName.empty() && !isValidNodeName(requestedName)) {
        out.status = badName(requestedName);
        return out;
    }
    std::string name = requestedName;
    if (name.empty() || h.findNode(name)) {
        std::string base = name.empty() ? type : name;
        if (!name.empty())
            while (!base.empty() && base.back() >= '0' && base.back() <= '9') base.pop_back();
        name = h.freeNameFrom(base);
    }
    auto made = h.newNode(*nodeType, name);
    out.status = made.status;
    if (made.ok())
        out.value = name;
    return out;
}

Status Host::deleteNode(const std::string& name) {
    NodeRecord* node = m_impl->findNode(name);
    if (!node)
        return Status::failure("no node named '" + name + "'");
    if (node == m_impl->timeNode)
        return Status::failure("node 'sceneTime' belongs to the host and cannot be deleted");
    // A DAG node takes what is below it along, deepest first.
    const auto below = scene::subtree(node);
    for (auto it = below.rbegin(); it + 1 != below.rend(); ++it)
        if (Status status = m_impl->removeNode(*it); !status)
            return status;
    return m_impl->removeNode(node);
}

Status Host::renameNode(const std::string& from, const std::string& to) {
    NodeRecord* node = m_impl->findNode(from);
    if (!node)
        return Status::failure("no node named '" + from + "'");
    if (!isValidNodeName(to))
        return badName(to);
    if (from == to)
        return Status{};
    if (node == m_impl->timeNode)
        return Status::failure("node 'sceneTime' belongs to the host and cannot be renamed");
    if (m_impl->findNode(to))
        return Status::failure("a node named '" + to + "' already exists");
    for (auto& w : m_impl->watched)
        if (w.rfind(from + ".", 0) == 0)
            w = to + w.substr(from.size());
    if (m_impl->activeCamera == from)
        m_impl->activeCamera = to;
    m_impl->freeName(node);
    node->rename(to);
    m_impl->nameNode(node);
    detail::noteSceneChange();
    return Status{};
}

std::vector<std::string> Host::nodeNames(const std::string& typeFilter) const {
    std::vector<std::string> names;
    for (const auto& n : m_impl->nodes)
        if (typeFilter.empty() || n->type->name == typeFilter)
            names.push_back(n->name);
    return names;
}

std::uint64_t Host::sceneChanges() const {
    return detail::sceneChanges();
}

bool Host::hasNode(const std::string& name) const {
    return m_impl->findNode(name) != nullptr;
}

Result<std::string> Host::nodeType(const std::string& name) const {
    Result<std::string> out;
    NodeRecord* node = m_impl->findNode(name);
    if (!node)
        out.status = Status::failure("no node named '" + name + "'");
    else
        out.value = node->type->name;
    return out;
}

Result<NodeSnapshot> Host::snapshotNode(const std::string& name) const {
    Result<NodeSnapshot> out;
    NodeRecord* node = m_impl->findNode(name);
    if (!node) {
        out.status = Status::failure("no node named '" + name + "'");
        return out;
    }
    out.value.name = node->name;
    out.value.type = node->type->name;
    out.value.creationIndex = node->creationIndex;
    if (NodeRecord* parent = scene::parentOf(node))
        out.value.parent = parent->name;
    const auto& attributes = node->type->attributes;
    // What the node computes is left out: the node that comes back is a new instance, so its
    // outputs start as a new node's do (default and dirty) and are computed again from the
    // restored inputs; a stored output would claim state (a held object) the instance lacks.
    std::vector<char> computed(attributes.size(), 0);
    for (const auto& targets : node->type->affects)
        for (const int target : targets)
            computed[static_cast<std::size_t>(node->storageOf(target))] = 1;
    for (std::size_t k = 0; k < attributes.size(); ++k) {
        const AttributeDef& def = *attributes[k];
        if (!def.writable || !def.storable || isChildOf3(def) || def.type == ValueType::kCompound ||
            computed[static_cast<std::size_t>(node->storageOf(static_cast<int>(k)))])
            continue;
        if (def.array) {
            PlugValue array;
            array.kind = PlugValue::Kind::kArray;
            for (const auto& [index, value] : node->arrays[static_cast<int>(k)])
                array.elements.emplace_back(index, toPlugValue(def, value));
            out.value.values.emplace_back(def.longName, std::move(array));
        } else {
            out.value.values.emplace_back(def.longName,
                                          toPlugValue(def, node->valueOf(static_cast<int>(k))));
        }
    }
    for (const ConnectionRef& c : Impl::connectionsOf(node)) {
        if (c->destination.node == node) {
            out.value.connectionsIn.emplace_back(m_impl->plugName(c->source),
                                                 m_impl->plugName(c->destination));
            out.value.placesIn.push_back(c->order);
        }
        if (c->source.node == node) {
            out.value.connectionsOut.emplace_back(m_impl->plugName(c->source),
                                                  m_impl->plugName(c->destination));
            out.value.placesOut.push_back(c->order);
        }
    }
    return out;
}

Status Host::restoreNode(const NodeSnapshot& snapshot) {
    if (hasNode(snapshot.name))
        return Status::failure("a node named '" + snapshot.name + "' already exists");
    auto made = createNode(snapshot.type, snapshot.name);
    if (!made.ok())
        return made.status;
    if (snapshot.creationIndex != 0) {
        // Back to its old place in creation order (the index is free: the node was deleted).
        NodeRecord* node = m_impl->findNode(snapshot.name);
        node->creationIndex = snapshot.creationIndex;
        m_impl->placeByCreation(node);
    }
    std::vector<std::string> problems;
    if (!snapshot.parent.empty()) {
        NodeRecord* parent = m_impl->findNode(snapshot.parent);
        if (parent && scene::dagKind(parent) == scene::DagKind::kTransform) {
            scene::setParent(m_impl->findNode(snapshot.name), parent);
            detail::noteSceneChange();
        } else
            problems.push_back("no transform named '" + snapshot.parent + "' to be its parent");
    }
    for (const auto& [attribute, value] : snapshot.values) {
        const std::string plug = snapshot.name + "." + attribute;
        if (value.kind == PlugValue::Kind::kArray) {
            for (const auto& [index, element] : value.elements) {
                const Status s = setPlugValue(plug + "[" + std::to_string(index) + "]", element);
                if (!s)
                    problems.push_back(s.message);
            }
            continue;
        }
        const Status s = setPlugValue(plug, value);
        if (!s)
            problems.push_back(s.message);
    }
    const auto reconnect = [&](const auto& connections, const std::vector<std::uint64_t>& places) {
        for (std::size_t k = 0; k < connections.size(); ++k) {
            const auto& [source, destination] = connections[k];
            const Status s =
                connect(source, destination, places.size() == connections.size() ? places[k] : 0);
            if (!s)
                problems.push_back(s.message);
        }
    };
    reconnect(snapshot.connectionsIn, snapshot.placesIn);
    reconnect(snapshot.connectionsOut, snapshot.placesOut);
    if (!problems.empty())
        return Status::failure("node '" + snapshot.name +
                               "' restored incompletely: " + joinNames(problems));
    return Status{};
}

// ---------------------------------------------------------------- plugs

std::vector<std::string> Host::attributeNames(const std::string& node) const {
    std::vector<std::string> names;
    if (NodeRecord* record = m_impl->findNode(node))
        for (const auto& def : record->type->attributes) names.push_back(def->longName);
    return names;
}

namespace {
const char* kindName(RPxNode::Type kind) {
    switch (kind) {
        case RPxNode::kLocatorNode:
            return "locator";
        case RPxNode::kDeformerNode:
            return "deformer";
        case RPxNode::kThreadedDeviceNode:
            return "threaded device node";
        case RPxNode::kDependNode:
            break;
    }
    return "dependency node";
}
}  // namespace

Result<Host::NodeTypeInfo> Host::nodeTypeInfo(const std::string& typeName) const {
    Result<NodeTypeInfo> out;
    const NodeType* type = m_impl->findType(typeName);
    if (!type) {
        std::vector<std::string> known{m_impl->timeType->name};
        for (const auto& t : m_impl->sceneTypes) known.push_back(t->name);
        for (const auto& t : m_impl->types) known.push_back(t->name);
        out.status = Status::failure("no node type named '" + typeName +
                                     "' (types: " + joinNames(known) + ")");
        return out;
    }
    out.value.name = type->name;
    out.value.plugin = type->plugin ? type->plugin->name : "";
    out.value.kind = kindName(type->kind);
    // An attribute that another one affects is computed; so are the children of such a compound.
    std::vector<char> affected(type->attributes.size(), 0);
    for (const auto& targets : type->affects)
        for (const int target : targets) affected[static_cast<std::size_t>(target)] = 1;
    for (std::size_t k = 0; k < type->attributes.size(); ++k) {
        const AttributeDef& def = *type->attributes[k];
        AttributeInfo info;
        info.longName = def.longName;
        info.shortName = def.shortName;
        info.type = rova::detail::valueTypeName(def.type);
        for (const auto& [field, value] : def.fields) info.fields.emplace_back(field, value);
        const int parent = type->parentIndex(static_cast<int>(k));
        if (def.parent)
            info.parent = def.parent->longName;
        const auto computed = [&](int index) {
            const AttributeDef& a = *type->attributes[static_cast<std::size_t>(index)];
            return affected[static_cast<std::size_t>(index)] != 0 || !a.writable;
        };
        info.output = computed(static_cast<int>(k)) || (parent >= 0 && computed(parent));
        info.readable = def.readable;
        info.writable = def.writable;
        info.connectable = def.connectable;
        info.storable = def.storable;
        info.keyable = def.keyable;
        info.hidden = def.hidden;
        info.array = def.array;
        if (def.type != ValueType::kCompound && def.type != ValueType::kMesh)
            info.defaultValue = toPlugValue(def, def.defaultValue);
        out.value.attributes.push_back(std::move(info));
    }
    return out;
}

}  // namespace rova::host
