// Connections between plugs: type checks, clashes, making and breaking them.
#include <algorithm>
#include <cmath>
#include <iostream>

#include "HostImpl.h"
#include "HostText.h"
#include "SceneChanges.h"
#include "rova/RGlobal.h"

using rova::detail::AttributeDef;
using rova::detail::Connection;
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
    for (const Connection& c : h.connections) {
        if (c.destination.node != d.node)
            continue;
        const int a = c.destination.attribute;
        const bool clash = (a == d.attribute && (c.destination.element == d.element ||
                                                 c.destination.element < 0 || d.element < 0)) ||
                           a == dt.parentIndex(d.attribute) || dt.parentIndex(a) == d.attribute;
        if (clash)
            return Status::failure(what + "'" + h.plugName(c.destination) +
                                   "' is already connected from '" + h.plugName(c.source) + "'");
    }
    h.connections.push_back(Connection{s, d});
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
    auto it = std::find_if(h.connections.begin(), h.connections.end(), [&](const Connection& c) {
        return c.source == src.value && c.destination == dst.value;
    });
    if (it == h.connections.end())
        return Status::failure("'" + h.plugName(src.value) + "' is not connected to '" +
                               h.plugName(dst.value) + "'");
    const PlugRef d = it->destination;
    h.connections.erase(it);
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
    for (const auto& entry : ranked) h.connections.push_back(entry.second);
}

std::vector<std::pair<std::string, std::string>> Host::connections(const std::string& node) const {
    std::vector<std::pair<std::string, std::string>> out;
    for (const Connection& c : m_impl->connections)
        if (node.empty() || c.source.node->name == node || c.destination.node->name == node)
            out.emplace_back(m_impl->plugName(c.source), m_impl->plugName(c.destination));
    return out;
}

}  // namespace rova::host
