// RItDependencyNodes: the scene's nodes in creation order.
#include "rova/RItDependencyNodes.h"
#include "HostImpl.h"

#include "rova/RFnDependencyNode.h"
#include "scene/Scene.h"

RItDependencyNodes::RItDependencyNodes(RFn::Type filter, RStatus* status) : m_filter(filter) {
    const RStatus s = reset();
    if (status)
        *status = s;
}

RStatus RItDependencyNodes::reset() {
    m_nodes.clear();
    m_at = 0;
    if (m_filter == RFn::kInvalid)
        return RStatus(RStatus::kInvalidParameter, "RItDependencyNodes: invalid filter");
    if (!rova::scene::onSceneThread())
        return rova::scene::offSceneThread("RItDependencyNodes");
    for (const auto& node : rova::detail::hostImpl().nodes) {
        const RObject object = rova::scene::objectOf(node.get());
        if (RFnDependencyNode(object).hasFn(m_filter))
            m_nodes.push_back(object);
    }
    skipDeleted();
    return RStatus();
}

void RItDependencyNodes::skipDeleted() {
    while (m_at < m_nodes.size() && !rova::scene::liveNode(m_nodes[m_at])) ++m_at;
}

bool RItDependencyNodes::isDone(RStatus* status) const {
    if (status)
        *status = RStatus();
    return m_at >= m_nodes.size();
}

RStatus RItDependencyNodes::next() {
    if (m_at >= m_nodes.size())
        return RStatus(RStatus::kFailure, "next: the walk is done");
    ++m_at;
    skipDeleted();
    return RStatus();
}

RObject RItDependencyNodes::thisNode(RStatus* status) const {
    const bool done = m_at >= m_nodes.size() || !rova::scene::liveNode(m_nodes[m_at]);
    if (status)
        *status = done ? RStatus(RStatus::kFailure, "thisNode: the walk is done") : RStatus();
    return done ? RObject() : m_nodes[m_at];
}
