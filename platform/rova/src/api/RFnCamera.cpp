// RFnCamera: where a camera is and where it looks.
#include "rova/RFnCamera.h"

#include "scene/Scene.h"

using rova::scene::DagKind;
using rova::scene::liveNode;
using rova::scene::NodeRecord;

RFnCamera::RFnCamera(const RObject& cameraNode, RStatus* status) {
    const RStatus s = RFnCamera::setObject(cameraNode);
    if (status)
        *status = s;
}

RFnCamera::RFnCamera(const RDagPath& path, RStatus* status) {
    RStatus s;
    const RObject node = path.node(&s);
    if (s)
        s = RFnCamera::setObject(node);
    if (s) {
        m_path = path;
        m_hasPath = true;
    }
    if (status)
        *status = s;
}

RStatus RFnCamera::setObject(const RObject& cameraNode) {
    m_hasPath = false;
    m_path = RDagPath();
    const NodeRecord* node = liveNode(cameraNode);
    if (!node || rova::scene::dagKind(node) != DagKind::kCamera) {
        m_object = RObject();
        return RStatus(RStatus::kInvalidParameter, "setObject: the object is not a camera");
    }
    m_object = cameraNode;
    return RStatus();
}

// Camera space to the requested space; a failure (and the identity) without a camera.
RMatrix RFnCamera::toSpace(RSpace::Space space, RStatus* status) const {
    NodeRecord* node = liveNode(m_object);
    if (!node) {
        if (status)
            *status = RStatus(RStatus::kInvalidParameter, "the function set has no camera");
        return RMatrix();
    }
    if (status)
        *status = RStatus();
    if (space != RSpace::kWorld)
        return RMatrix();
    return m_hasPath ? m_path.inclusiveMatrix() : rova::scene::worldMatrix(node);
}

RPoint RFnCamera::eyePoint(RSpace::Space space, RStatus* status) const {
    return RPoint::origin * toSpace(space, status);
}

RVector RFnCamera::viewDirection(RSpace::Space space, RStatus* status) const {
    return (RVector::zNegAxis * toSpace(space, status)).normal();
}

RVector RFnCamera::upDirection(RSpace::Space space, RStatus* status) const {
    return (RVector::yAxis * toSpace(space, status)).normal();
}

RVector RFnCamera::rightDirection(RSpace::Space space, RStatus* status) const {
    return (RVector::xAxis * toSpace(space, status)).normal();
}
