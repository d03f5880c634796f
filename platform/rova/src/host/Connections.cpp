// Connections between plugs: type checks, clashes, making and breaking them.
#include <algorithm>
#include <cmath>
#include <iostream>
#include <iterator>

#include "HostImpl.h"
#include "HostText.h"
#include "SceneChanges.h"
#include "model/Attributes.h"
#include "model/NodeRecords.h"
#include "model/NodeTypes.h"
#include "model/Values.h"
#include "rova/RGlobal.h"

using rova::detail::AttributeDef;
using rova::detail::Connection;
using rova::detail::ConnectionRef;
using rova::detail::NodeType;
using rova::detail::PlugRef;
using rova::detail::ValueType;

namespace rova::host {

namespace {
bool compatible(const AttributeDef& a, const AttributeDef& b) {
    if (detail::isScalar(a.type) && detail::isScalar(b.type))
        return true;
    return a.type == b.type && a.type != ValueType::kCompound;
}
}  // namespace

Status Host::connect(const std::string& source, const std::string& destination) {
    return connect(source, destination, 0);
}

Status Host::connect(const std::string& source, const std::string& destination,
                     std::uint64_t place) {
    Impl& h = *m_impl;
    auto src = h.parsePlug(source);
    if (!src.ok())
        return Status::failure("cannot connect: " + src.status.message);
    auto dst = h.parsePlug(destination);
    if (!dst.ok())
        return Status::failure("cannot connect: " + dst.status.message);
    const PlugRef s = src.value, d = dst.value;
    const AttributeDef& sd = *s.node->type->attributes[static_cast<std::size_t>(s.attribute)];
    const AttributeDef& dd = *d.node->type->attributes[static_cast<std::size_t>(d.attribute)];
    const std::string sn = h.plugName(s), dn = h.plugName(d);
    const std::string what = "cannot connect '" + sn + "' to '" + dn + "': ";
    if (s.node == d.node)
        return Status::failure(what + "a node cannot feed itself");
    if (!sd.readable || !sd.connectable)
        return Status::failure(what + "the source is not a readable, connectable plug");
    if (!dd.writable || !dd.connectable)
        return Status::failure(what + "the destination is not a writable, connectable plug");
    const bool sourceWhole = sd.array && s.element < 0,
               destinationWhole = dd.array && d.element < 0;
    if (sourceWhole != destinationWhole)
        return Status::failure(what + "an array connects only to an array");
    if (!compatible(sd, dd)) {
        const char* st = isChildOf3(sd) ? "double" : detail::valueTypeName(sd.type);
        const char* dt = isChildOf3(dd) ? "double" : detail::valueTypeName(dd.type);
        if (!(isChildOf3(sd) && detail::isScalar(dd.type)) &&
            !(isChildOf3(dd) && detail::isScalar(sd.type)) && !(isChildOf3(sd) && isChildOf3(dd)))
            return Status::failure(what + "the types do not match (" + st + " to " + dt + ")");
    } else if (isChildOf3(sd) != isChildOf3(dd) &&
               (sd.type == ValueType::kDouble3 || dd.type == ValueType::kDouble3)) {
        return Status::failure(what + "the types do not match (double to double3)");
    }
    // The new connection must not close a loop: nothing downstream of the destination may feed
    // the source, or a read would depend on the order of evaluation.
    if (const auto loop = h.dependencyPath(d, s); !loop.empty()) {
        std::string path;
        for (const auto& plug : loop) path += plug + " -> ";
        return Status::failure(what + "it would close a cycle: " + path + dn);
    }
    const NodeType& dt = *d.node->type;
    std::vector<int> family{d.attribute, dt.parentIndex(d.attribute)};
    for (const auto& child : dd.children) family.push_back(dt.indexOf(child.get()));
    std::vector<ConnectionRef> into;
    Impl::incomingOf(d.node, family, into);
    for (const ConnectionRef& connection : into) {
        const Connection& c = *connection;
        const int a = c.destination.attribute;
        const bool clash = (a == d.attribute && (c.destination.element == d.element ||
                                                 c.destination.element < 0 || d.element < 0)) ||
                           a == dt.parentIndex(d.attribute) || dt.parentIndex(a) == d.attribute;
        if (clash)
            return Status::failure(what + "'" + h.plugName(c.destination) +
                                   "' is already connected from '" + h.plugName(c.source) + "'");
    }
    h.addConnection(s, d, place);
    h.emit(GraphEvent::kConnect, sn, dn);
    h.markDirty(d.node, d.attribute);
    return Status{};
}

Status Host::disconnect(const std::string& source, const std::string& destination) {
    Impl& h = *m_impl;
    auto src = h.parsePlug(source);
    if (!src.ok())
        return Status::failure("cannot disconnect: " + src.status.message);
    auto dst = h.parsePlug(destination);
    if (!dst.ok())
        return Status::failure("cannot disconnect: " + dst.status.message);
    std::vector<ConnectionRef> out;
    Impl::outgoingOf(src.value.node, {src.value.attribute}, out);
    const auto found = std::find_if(out.begin(), out.end(), [&](const ConnectionRef& c) {
        return c->source == src.value && c->destination == dst.value;
    });
    if (found == out.end())
        return Status::failure("'" + h.plugName(src.value) + "' is not connected to '" +
                               h.plugName(dst.value) + "'");
    const PlugRef d = (*found)->destination;
    h.removeConnection(*found);
    detail::noteSceneChange();
    h.emit(GraphEvent::kDisconnect, h.plugName(src.value), h.plugName(d));
    // The destination keeps the last value that came through.
    d.node->dirty[static_cast<std::size_t>(d.node->storageOf(d.attribute))] = 0;
    return Status{};
}

void Host::reorderConnections(const std::vector<std::pair<std::string, std::string>>& order) {
    Impl& h = *m_impl;
    const auto rank = [&](const Connection& c) {
        const std::pair<std::string, std::string> named{h.plugName(c.source),
                                                        h.plugName(c.destination)};
        const auto it = std::find(order.begin(), order.end(), named);
        return it == order.end() ? order.size() : static_cast<std::size_t>(it - order.begin());
    };
    std::vector<std::pair<std::size_t, Connection>> ranked;
    for (const Connection& c : h.connections) ranked.emplace_back(rank(c), c);
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    h.connections.clear();
    h.lastConnectionOrder = 0;
    for (auto& entry : ranked) {
        entry.second.order = ++h.lastConnectionOrder;
        h.connections.insert(h.connections.end(), entry.second);
    }
    h.indexConnections();
}

std::uint64_t Host::connectionPlace(const std::string& source,
                                    const std::string& destination) const {
    const auto src = m_impl->parsePlug(source);
    const auto dst = m_impl->parsePlug(destination);
    if (!src.ok() || !dst.ok())
        return 0;
    std::vector<ConnectionRef> out;
    Impl::outgoingOf(src.value.node, {src.value.attribute}, out);
    for (const ConnectionRef& c : out)
        if (c->source == src.value && c->destination == dst.value)
            return c->order;
    return 0;
}

std::vector<std::pair<std::string, std::string>> Host::connections(const std::string& node) const {
    std::vector<std::pair<std::string, std::string>> out;
    if (node.empty()) {
        for (const Connection& c : m_impl->connections)
            out.emplace_back(m_impl->plugName(c.source), m_impl->plugName(c.destination));
    } else if (const detail::NodeRecord* record = m_impl->findNode(node)) {
        for (const ConnectionRef& c : Impl::connectionsOf(record))
            out.emplace_back(m_impl->plugName(c->source), m_impl->plugName(c->destination));
    }
    return out;
}

namespace {
void enter(detail::LinkList& list, std::uint64_t& mask, int attribute, ConnectionRef c) {
    list.add({*c, c});
    mask |= detail::NodeRecord::connectionBit(attribute);
}
void leave(detail::LinkList& list, std::uint64_t& mask, int attribute, ConnectionRef c) {
    list.remove(c);
    if (!list.has(attribute) && attribute < 63)  // bit 63 stands for several attributes: it stays
        mask &= ~detail::NodeRecord::connectionBit(attribute);
}
}  // namespace

void Host::Impl::addConnection(const PlugRef& source, const PlugRef& destination,
                               std::uint64_t place) {
    ConnectionRef c;
    if (place != 0 && place <= lastConnectionOrder && !connections.contains(place))
        c = connections.insert(Connection{source, destination, place}).first;
    else
        c = connections.insert(connections.end(),
                               Connection{source, destination, ++lastConnectionOrder});
    enter(source.node->outgoing, source.node->connectedOut, source.attribute, c);
    enter(destination.node->incoming, destination.node->connectedIn, destination.attribute, c);
}

void Host::Impl::removeConnection(ConnectionRef connection) {
    leave(connection->source.node->outgoing, connection->source.node->connectedOut,
          connection->source.attribute, connection);
    leave(connection->destination.node->incoming, connection->destination.node->connectedIn,
          connection->destination.attribute, connection);
    connections.erase(connection);
}

void Host::Impl::indexConnections() {
    for (const Connection& c : connections) {
        c.source.node->outgoing.clear();
        c.source.node->connectedOut = 0;
        c.destination.node->incoming.clear();
        c.destination.node->connectedIn = 0;
    }
    for (auto c = connections.begin(); c != connections.end(); ++c) {
        enter(c->source.node->outgoing, c->source.node->connectedOut, c->source.attribute, c);
        enter(c->destination.node->incoming, c->destination.node->connectedIn,
              c->destination.attribute, c);
    }
}

}  // namespace rova::host
