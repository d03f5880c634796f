// R3dView: the active 3D view and its camera.
#include "rova/R3dView.h"
#include "HostImpl.h"

#include "host/Faults.h"
#include "model/NodeRecords.h"
#include "scene/Scene.h"

using rova::host::FaultPoint;
using rova::scene::DagKind;

R3dView R3dView::active3dView(RStatus* status) {
    R3dView view;
    if (!rova::scene::onSceneThread()) {
        if (status)
            *status = rova::scene::offSceneThread("active3dView");
        return view;
    }
    if (rova::detail::faultArmed(FaultPoint::kActive3dView, "activeView")) {
        if (status)
            *status = rova::detail::injectedFailure(FaultPoint::kActive3dView, "activeView");
        return view;
    }
    view.m_valid = true;
    if (status)
        *status = RStatus();
    return view;
}

RStatus R3dView::getCamera(RDagPath& camera) const {
    if (!m_valid)
        return RStatus(RStatus::kInvalidParameter, "getCamera: no 3D view");
    if (!rova::scene::onSceneThread())
        return rova::scene::offSceneThread("getCamera");
    RDagPath path;
    RDagPath::getAPathTo(rova::scene::objectOf(rova::scene::activeCameraShape()), path);
    const std::string subject = path.fullPathName().str();
    if (rova::detail::faultArmed(FaultPoint::kGetCamera, subject))
        return rova::detail::injectedFailure(FaultPoint::kGetCamera, subject);
    camera = path;
    return RStatus();
}

RStatus R3dView::setCamera(const RDagPath& camera) {
    if (!m_valid)
        return RStatus(RStatus::kInvalidParameter, "setCamera: no 3D view");
    if (!rova::scene::onSceneThread())
        return rova::scene::offSceneThread("setCamera");
    RDagPath shape = camera;
    if (RStatus s = shape.extendToShape(); !s)
        return s;
    rova::scene::NodeRecord* node = rova::scene::liveNode(shape.node());
    if (!node || rova::scene::dagKind(node) != DagKind::kCamera)
        return RStatus(RStatus::kInvalidParameter, "setCamera: the path is not a camera");
    auto& host = rova::detail::hostImpl();
    host.activeCamera = node == rova::scene::defaultCameraShape() ? "" : node->name;
    return RStatus();
}
