// RFnTransform: a transform's translation and rotation.
#include "rova/RFnTransform.h"
#include "HostImpl.h"

#include <cmath>
#include <numbers>

#include "model/NodeRecords.h"
#include "scene/Scene.h"

using rova::scene::DagKind;
using rova::scene::liveNode;
using rova::scene::NodeRecord;

namespace {
constexpr double kDegrees = std::numbers::pi / 180.0;

RStatus noTransform(const char* call) {
    return RStatus(RStatus::kInvalidParameter,
                   std::string(call) + ": the function set has no transform");
}

void setStatus(RStatus* status, RStatus value) {
    if (status)
        *status = std::move(value);
}

// The evaluated value of a transform's three-number attribute.
RVector triple(NodeRecord* node, const char* name) {
    const int attribute = rova::scene::attributeIndex(node, name);
    rova::detail::hostImpl().evaluate(node, attribute);
    const double* v = node->valueOf(attribute).v3;
    return {v[0], v[1], v[2]};
}

RStatus store(NodeRecord* node, const char* name, const RVector& v) {
    const auto stored =
        rova::detail::hostImpl().storeValue(node, rova::scene::attributeIndex(node, name), -1,
                                            rova::host::PlugValue::ofDouble3(v.x, v.y, v.z));
    return stored ? RStatus() : RStatus(RStatus::kFailure, stored.message);
}
}  // namespace

RFnTransform::RFnTransform(const RObject& node, RStatus* status) {
    const RStatus s = RFnTransform::setObject(node);
    if (status)
        *status = s;
}

RFnTransform::RFnTransform(const RDagPath& path, RStatus* status) {
    RStatus s;
    const RObject node = path.node(&s);
    if (s)
        s = RFnTransform::setObject(node);
    if (status)
        *status = s;
}

RStatus RFnTransform::setObject(const RObject& node) {
    NodeRecord* record = liveNode(node);
    if (!record || rova::scene::dagKind(record) != DagKind::kTransform) {
        m_object = RObject();
        return RStatus(RStatus::kInvalidParameter, "setObject: the object is not a transform");
    }
    m_object = node;
    return RStatus();
}

RVector RFnTransform::getTranslation(RSpace::Space space, RStatus* status) const {
    NodeRecord* node = liveNode(m_object);
    if (!node) {
        setStatus(status, noTransform("getTranslation"));
        return RVector();
    }
    setStatus(status, RStatus());
    if (space == RSpace::kWorld) {
        const RMatrix world = rova::scene::worldMatrix(node);
        return {world[3][0], world[3][1], world[3][2]};
    }
    return triple(node, "translate");
}

RStatus RFnTransform::setTranslation(const RVector& translation, RSpace::Space space) {
    NodeRecord* node = liveNode(m_object);
    if (!node)
        return noTransform("setTranslation");
    if (space != RSpace::kWorld)
        return store(node, "translate", translation);
    // world = scale * rotate * translate * input * parent: the translate row that puts the origin
    // at the world position is that position taken back through input * parent.
    const int input = rova::scene::attributeIndex(node, "inputMatrix");
    rova::detail::hostImpl().evaluate(node, input);
    const RMatrix after =
        node->valueOf(input).matrix() * rova::scene::worldMatrix(rova::scene::parentOf(node));
    const RPoint local = RPoint(translation) * after.inverse();
    return store(node, "translate", local.asVector());
}

RStatus RFnTransform::getRotation(RQuaternion& rotation, RSpace::Space space) const {
    NodeRecord* node = liveNode(m_object);
    if (!node)
        return noTransform("getRotation");
    if (space == RSpace::kWorld) {
        rotation = RTransformationMatrix(rova::scene::worldMatrix(node)).rotation();
        return RStatus();
    }
    const RVector r = triple(node, "rotate") * kDegrees;
    rotation = REulerRotation(r, REulerRotation::kXYZ).asQuaternion();
    return RStatus();
}

RStatus RFnTransform::getRotation(REulerRotation& rotation) const {
    NodeRecord* node = liveNode(m_object);
    if (!node)
        return noTransform("getRotation");
    rotation = REulerRotation(triple(node, "rotate") * kDegrees, REulerRotation::kXYZ);
    return RStatus();
}

RStatus RFnTransform::setRotation(const RQuaternion& rotation, RSpace::Space space) {
    NodeRecord* node = liveNode(m_object);
    if (!node)
        return noTransform("setRotation");
    if (space == RSpace::kWorld)
        return RStatus(RStatus::kNotImplemented, "setRotation: only transform space is supported");
    return setRotation(
        REulerRotation::decompose(rotation.normal().asMatrix(), REulerRotation::kXYZ));
}

RStatus RFnTransform::setRotation(const REulerRotation& rotation) {
    NodeRecord* node = liveNode(m_object);
    if (!node)
        return noTransform("setRotation");
    REulerRotation xyz = rotation;
    if (rotation.order != REulerRotation::kXYZ)
        xyz = REulerRotation::decompose(rotation.asMatrix(), REulerRotation::kXYZ);
    return store(node, "rotate", xyz.asVector() / kDegrees);
}

RTransformationMatrix RFnTransform::transformation(RStatus* status) const {
    NodeRecord* node = liveNode(m_object);
    if (!node) {
        setStatus(status, noTransform("transformation"));
        return RTransformationMatrix();
    }
    setStatus(status, RStatus());
    return RTransformationMatrix(rova::scene::localMatrix(node));
}
