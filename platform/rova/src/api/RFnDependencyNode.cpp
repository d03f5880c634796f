// RFnDependencyNode: any node's name and type.
#include "rova/RFnDependencyNode.h"

#include "scene/Scene.h"

using rova::scene::DagKind;
using rova::scene::liveNode;

namespace {
RString fail(RStatus* status, const char* call) {
    if (status)
        *status = RStatus(RStatus::kInvalidParameter,
                          std::string(call) + ": the function set has no node");
    return RString();
}
}  // namespace

RFnDependencyNode::RFnDependencyNode(const RObject& node, RStatus* status) {
    const RStatus s = RFnDependencyNode::setObject(node);
    if (status)
        *status = s;
}

RStatus RFnDependencyNode::setObject(const RObject& node) {
    if (!liveNode(node)) {
        m_object = RObject();
        return RStatus(RStatus::kInvalidParameter, "setObject: the object is not a node");
    }
    m_object = node;
    return RStatus();
}

RObject RFnDependencyNode::object(RStatus* status) const {
    if (status)
        *status = m_object.isNull() ? RStatus(RStatus::kInvalidParameter) : RStatus();
    return m_object;
}

RString RFnDependencyNode::name(RStatus* status) const {
    const auto* node = liveNode(m_object);
    if (!node)
        return fail(status, "name");
    if (status)
        *status = RStatus();
    return RString(node->name);
}

RString RFnDependencyNode::typeName(RStatus* status) const {
    const auto* node = liveNode(m_object);
    if (!node)
        return fail(status, "typeName");
    if (status)
        *status = RStatus();
    return RString(node->type->name);
}

bool RFnDependencyNode::hasFn(RFn::Type type) const noexcept {
    const auto* node = liveNode(m_object);
    if (!node)
        return false;
    const DagKind kind = rova::scene::dagKind(node);
    switch (type) {
        case RFn::kDependencyNode:
            return true;
        case RFn::kDagNode:
            return kind != DagKind::kNone;
        case RFn::kTransform:
            return kind == DagKind::kTransform;
        case RFn::kMesh:
            return kind == DagKind::kMesh;
        case RFn::kCamera:
            return kind == DagKind::kCamera;
        case RFn::kInvalid:
            break;
    }
    return false;
}
