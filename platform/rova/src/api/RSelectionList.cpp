// RSelectionList: nodes picked by name.
#include "rova/RSelectionList.h"
#include "HostImpl.h"

#include "model/NodeRecords.h"
#include "scene/Scene.h"

RStatus RSelectionList::add(const RString& name) {
    if (!rova::scene::onSceneThread())
        return rova::scene::offSceneThread("add");
    rova::scene::NodeRecord* node = rova::detail::hostImpl().findNode(name.str());
    if (!node)
        return RStatus(RStatus::kInvalidParameter, "add: no node named '" + name.str() + "'");
    m_items.push_back(rova::scene::objectOf(node));
    return RStatus();
}

RStatus RSelectionList::add(const RObject& node) {
    if (!rova::scene::liveNode(node))
        return RStatus(RStatus::kInvalidParameter, "add: the object is not a node");
    m_items.push_back(node);
    return RStatus();
}

unsigned int RSelectionList::length(RStatus* status) const {
    if (status)
        *status = RStatus();
    return static_cast<unsigned int>(m_items.size());
}

RStatus RSelectionList::clear() {
    m_items.clear();
    return RStatus();
}

RStatus RSelectionList::getDagPath(unsigned int index, RDagPath& path) const {
    if (index >= m_items.size())
        return RStatus(RStatus::kInvalidParameter, "getDagPath: index " + std::to_string(index) +
                                                       " of a list of " +
                                                       std::to_string(m_items.size()));
    return RDagPath::getAPathTo(m_items[index], path);
}

RStatus RSelectionList::getDependNode(unsigned int index, RObject& node) const {
    if (index >= m_items.size())
        return RStatus(RStatus::kInvalidParameter, "getDependNode: index " + std::to_string(index) +
                                                       " of a list of " +
                                                       std::to_string(m_items.size()));
    if (!rova::scene::liveNode(m_items[index]))
        return RStatus(RStatus::kInvalidParameter, "getDependNode: the node was deleted");
    node = m_items[index];
    return RStatus();
}
