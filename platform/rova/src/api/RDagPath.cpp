// RDagPath: a path through the scene hierarchy.
#include "rova/RDagPath.h"

#include "scene/Scene.h"

using rova::scene::DagKind;
using rova::scene::liveNode;
using rova::scene::NodeRecord;

namespace {
void setStatus(RStatus* status, RStatus value) {
    if (status)
        *status = std::move(value);
}

RStatus invalid(const char* call) {
    return RStatus(RStatus::kInvalidParameter,
                   std::string(call) + ": the path is empty or its nodes were deleted");
}

// The nodes of a valid path, top first; empty when it is not valid.
std::vector<NodeRecord*> nodesOf(const std::vector<RObject>& objects) {
    std::vector<NodeRecord*> out;
    for (const RObject& object : objects) {
        NodeRecord* node = liveNode(object);
        if (!node || rova::scene::parentOf(node) != (out.empty() ? nullptr : out.back()))
            return {};
        out.push_back(node);
    }
    return out;
}
}  // namespace

RStatus RDagPath::getAPathTo(const RObject& node, RDagPath& path) {
    NodeRecord* record = liveNode(node);
    if (!record || !rova::scene::isDag(record))
        return RStatus(RStatus::kInvalidParameter,
                       "getAPathTo: the object is not a transform or shape");
    path.m_nodes.clear();
    for (NodeRecord* n : rova::scene::pathTo(record))
        path.m_nodes.push_back(rova::scene::objectOf(n));
    return RStatus();
}

bool RDagPath::isValid(RStatus* status) const {
    setStatus(status, RStatus());
    return !nodesOf(m_nodes).empty();
}

unsigned int RDagPath::length(RStatus* status) const {
    const auto nodes = nodesOf(m_nodes);
    setStatus(status, nodes.empty() ? invalid("length") : RStatus());
    return static_cast<unsigned int>(nodes.size());
}

RObject RDagPath::node(RStatus* status) const {
    const auto nodes = nodesOf(m_nodes);
    setStatus(status, nodes.empty() ? invalid("node") : RStatus());
    return nodes.empty() ? RObject() : m_nodes.back();
}

RObject RDagPath::transform(RStatus* status) const {
    const auto nodes = nodesOf(m_nodes);
    for (auto it = nodes.rbegin(); it != nodes.rend(); ++it)
        if (rova::scene::dagKind(*it) == DagKind::kTransform) {
            setStatus(status, RStatus());
            return rova::scene::objectOf(*it);
        }
    setStatus(status, nodes.empty() ? invalid("transform")
                                    : RStatus(RStatus::kInvalidParameter,
                                              "transform: no transform on the path"));
    return RObject();
}

RStatus RDagPath::numberOfShapesDirectlyBelow(unsigned int& count) const {
    const auto nodes = nodesOf(m_nodes);
    if (nodes.empty())
        return invalid("numberOfShapesDirectlyBelow");
    count = 0;
    if (rova::scene::dagKind(nodes.back()) == DagKind::kTransform)
        for (NodeRecord* child : rova::scene::childrenOf(nodes.back()))
            count += rova::scene::dagKind(child) != DagKind::kTransform ? 1u : 0u;
    return RStatus();
}

RStatus RDagPath::extendToShape() {
    const auto nodes = nodesOf(m_nodes);
    if (nodes.empty())
        return invalid("extendToShape");
    if (rova::scene::dagKind(nodes.back()) != DagKind::kTransform)
        return RStatus();
    std::vector<NodeRecord*> shapes;
    for (NodeRecord* child : rova::scene::childrenOf(nodes.back()))
        if (rova::scene::dagKind(child) != DagKind::kTransform)
            shapes.push_back(child);
    if (shapes.size() != 1)
        return RStatus(RStatus::kInvalidParameter, "extendToShape: '" + nodes.back()->name +
                                                       "' has " + std::to_string(shapes.size()) +
                                                       " shapes, not one");
    m_nodes.push_back(rova::scene::objectOf(shapes.front()));
    return RStatus();
}

RString RDagPath::fullPathName(RStatus* status) const {
    const auto nodes = nodesOf(m_nodes);
    setStatus(status, nodes.empty() ? invalid("fullPathName") : RStatus());
    std::string text;
    for (const NodeRecord* n : nodes) text += "|" + n->name;
    return RString(text);
}

RString RDagPath::partialPathName(RStatus* status) const {
    const auto nodes = nodesOf(m_nodes);
    setStatus(status, nodes.empty() ? invalid("partialPathName") : RStatus());
    return nodes.empty() ? RString() : RString(nodes.back()->name);
}

RMatrix RDagPath::inclusiveMatrix(RStatus* status) const {
    const auto nodes = nodesOf(m_nodes);
    setStatus(status, nodes.empty() ? invalid("inclusiveMatrix") : RStatus());
    return nodes.empty() ? RMatrix() : rova::scene::worldMatrix(nodes.back());
}

RMatrix RDagPath::exclusiveMatrix(RStatus* status) const {
    const auto nodes = nodesOf(m_nodes);
    setStatus(status, nodes.empty() ? invalid("exclusiveMatrix") : RStatus());
    if (nodes.empty())
        return RMatrix();
    NodeRecord* last = nodes.back();
    if (rova::scene::dagKind(last) != DagKind::kTransform)
        last = rova::scene::parentOf(last);
    return last ? rova::scene::worldMatrix(rova::scene::parentOf(last)) : RMatrix();
}
