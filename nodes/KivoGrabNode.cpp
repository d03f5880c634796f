#include "nodes/KivoGrabNode.h"

#include <cmath>

namespace kivo_rova {
namespace {

constexpr double kHalfTurn = 1.5707963267948966;  // more than this between updates: fingers swapped
const RPoint kNoHit(0.0, 0.0, 0.0, 1.0);

bool finite(const RVector& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// The rotation that takes u onto v; the identity when either has no direction, so that fingertips
// at one point or a zero palm axis never make a rotation of NaNs.
RQuaternion rotationBetween(const RVector& u, const RVector& v) {
    if (!finite(u) || !finite(v) || u.length() == 0.0 || v.length() == 0.0) {
        return RQuaternion::identity;
    }
    const RQuaternion q(u, v);
    if (!std::isfinite(q.x) || !std::isfinite(q.y) || !std::isfinite(q.z) || !std::isfinite(q.w)) {
        return RQuaternion::identity;
    }
    return q;
}

RQuaternion normalized(const RQuaternion& q) {
    const RQuaternion n = q.normal();
    if (!std::isfinite(n.x) || !std::isfinite(n.y) || !std::isfinite(n.z) || !std::isfinite(n.w)) {
        return RQuaternion::identity;
    }
    return n;
}

RVector rotated(const RVector& v, const RQuaternion& q) {
    return v * q.asMatrix();
}

RVector row(const RMatrix& m, unsigned int r) {
    return RVector(m[r][0], m[r][1], m[r][2]);
}

bool differs(const RVector& a, const RVector& b) {
    return a.x != b.x || a.y != b.y || a.z != b.z;
}

}  // namespace

const RTypeId KivoGrabNode::id{0x77228};

RObject KivoGrabNode::grabEnabled;
RObject KivoGrabNode::rotationEnabled;
RObject KivoGrabNode::translationEnabled;
RObject KivoGrabNode::finger1;
RObject KivoGrabNode::finger2;
RObject KivoGrabNode::palmMatrix;
RObject KivoGrabNode::distanceGrab;
RObject KivoGrabNode::distanceRelease;
RObject KivoGrabNode::fingersCenter;
RObject KivoGrabNode::intersection1;
RObject KivoGrabNode::intersection2;
RObject KivoGrabNode::distance1;
RObject KivoGrabNode::distance2;
RObject KivoGrabNode::intersectObject;
RObject KivoGrabNode::grabObject;

KivoGrabNode::~KivoGrabNode() = default;

void* KivoGrabNode::createInstance() {
    return static_cast<RPxNode*>(new KivoGrabNode);
}

RStatus KivoGrabNode::initializeAttributes() {
    RFnNumericAttribute numeric;
    RFnMatrixAttribute matrix;
    RFnTypedAttribute typed;

    // Statuses are not examined: a failed call leaves the attribute out, and set-up goes on.
    grabEnabled = numeric.create("grabEnabled", "ge", RFnNumericData::kBoolean, 1.0);
    rotationEnabled = numeric.create("rotationEnabled", "re", RFnNumericData::kBoolean, 0.0);
    translationEnabled = numeric.create("translationEnabled", "te", RFnNumericData::kBoolean, 1.0);
    finger1 = numeric.create("finger1", "f1", RFnNumericData::k3Double, 0.0);
    finger2 = numeric.create("finger2", "f2", RFnNumericData::k3Double, 0.0);
    palmMatrix = matrix.create("palmMatrix", "pm", RFnMatrixAttribute::kDouble);
    (void)matrix.setHidden(true);
    distanceGrab = numeric.create("distanceGrab", "dg", RFnNumericData::kFloat, 2.0);
    distanceRelease = numeric.create("distanceRelease", "dr", RFnNumericData::kFloat, 3.0);
    fingersCenter = numeric.create("fingersCenter", "fc", RFnNumericData::k3Double, 0.0);
    intersection1 = numeric.create("intersection1", "i1", RFnNumericData::k3Double, 0.0);
    intersection2 = numeric.create("intersection2", "i2", RFnNumericData::k3Double, 0.0);
    distance1 = numeric.create("distance1", "d1", RFnNumericData::kFloat, 0.0);
    distance2 = numeric.create("distance2", "d2", RFnNumericData::kFloat, 0.0);
    intersectObject = typed.create("intersectObject", "io", RFnData::kString);
    (void)typed.setDefault(RString("null"));
    grabObject = typed.create("grabObject", "go", RFnData::kString);
    (void)typed.setDefault(RString("null"));

    for (const RObject* attribute :
         {&grabEnabled, &rotationEnabled, &translationEnabled, &finger1, &finger2, &palmMatrix,
          &distanceGrab, &distanceRelease, &fingersCenter, &intersection1, &intersection2,
          &distance1, &distance2, &intersectObject, &grabObject}) {
        (void)addAttribute(*attribute);
    }
    for (const RObject* output : {&fingersCenter, &intersection1, &intersection2, &distance1,
                                  &distance2, &intersectObject, &grabObject}) {
        (void)attributeAffects(finger1, *output);
    }
    return RStatus::kSuccess;
}

bool KivoGrabNode::grabbedStillThere(RString& currentName) const {
    RStatus status;
    currentName = m_transformFn.name(&status);
    if (status.error()) {
        return false;
    }
    RSelectionList list;
    return !list.add(currentName).error();
}

void KivoGrabNode::endGrab(RDataBlock& data) {
    m_grabbedName = "null";
    data.outputValue(grabObject).set(RString("null"));
}

RStatus KivoGrabNode::compute(const RPlug& plug, RDataBlock& data) {
    RDataHandle centerOut = data.outputValue(fingersCenter);
    RDataHandle objectOut = data.outputValue(intersectObject);
    RDataHandle hit1Out = data.outputValue(intersection1);
    RDataHandle hit2Out = data.outputValue(intersection2);
    RDataHandle distance1Out = data.outputValue(distance1);
    RDataHandle distance2Out = data.outputValue(distance2);
    RDataHandle grabOut = data.outputValue(grabObject);

    const RVector a = data.inputValue(finger1).asVector();
    const RVector b = data.inputValue(finger2).asVector();
    const bool grabOn = data.inputValue(grabEnabled).asBool();
    const bool rotationOn = data.inputValue(rotationEnabled).asBool();
    const bool translationOn = data.inputValue(translationEnabled).asBool();
    // Halved first: fingertips near the largest doubles still have a finite centre.
    const RVector center = a / 2.0 + b / 2.0;
    const RPoint pointA(a);
    const RPoint pointB(b);

    // Candidate search: the mesh between the fingers whose surface is nearest to them.
    RString bestName = "null";
    RPoint hit1 = kNoHit;
    RPoint hit2 = kNoHit;
    double best1 = 0.0;
    double best2 = 0.0;
    double bestSum = -1.0;
    RDagPath bestPath;
    for (RItDependencyNodes it(RFn::kMesh); !it.isDone(); it.next()) {
        const RFnMesh node(it.thisNode());
        RSelectionList list;
        RDagPath path;
        if (list.add(node.name()).error() || list.getDagPath(0, path).error() ||
            path.extendToShape().error()) {
            continue;
        }
        const RFnMesh mesh(path);
        if (mesh.name().str().find("finger") != std::string::npos) {
            continue;
        }
        RPointArray points1;
        RPointArray points2;
        if (!mesh.intersect(pointA, b - a, points1, 1e-10, RSpace::kWorld) ||
            !mesh.intersect(pointB, a - b, points2, 1e-10, RSpace::kWorld)) {
            continue;
        }
        const RPoint p1 = points1[0];
        const RPoint p2 = points2[0];
        const double e1 = p1.distanceTo(pointA);
        const double e2 = p2.distanceTo(pointB);
        const double span = pointA.distanceTo(pointB);
        const double inner = p1.distanceTo(p2);
        // Hits beyond the fingers mean the mesh encloses them.
        if (span - inner > 0.0 && (bestSum < 0.0 || e1 + e2 < bestSum)) {
            bestPath = path;
            bestName = RFnTransform(path.transform()).name();
            hit1 = p1;
            hit2 = p2;
            best1 = e1;
            best2 = e2;
            bestSum = e1 + e2;
        }
    }

    centerOut.set(center);
    objectOut.set(bestName);
    hit1Out.set(hit1.x, hit1.y, hit1.z);
    hit2Out.set(hit2.x, hit2.y, hit2.z);
    distance1Out.set(static_cast<float>(best1));
    distance2Out.set(static_cast<float>(best2));

    if (!grabOn) {
        data.setClean(plug);
        return RStatus::kSuccess;
    }

    const float grabAt = data.inputValue(distanceGrab).asFloat();
    const float releaseAt = data.inputValue(distanceRelease).asFloat();
    const RMatrix palm = data.inputValue(palmMatrix).asMatrix();
    const float gap = static_cast<float>(best1 + best2);

    // An object renamed while held is held on under its new name, which the commands at its
    // release then name; one deleted ends the grab without a command naming it.
    if (!(m_grabbedName == "null")) {
        RString currentName;
        if (!grabbedStillThere(currentName)) {
            endGrab(data);
        } else if (!(currentName == m_grabbedName)) {
            m_grabbedName = currentName;
            grabOut.set(m_grabbedName);
        }
    }

    const bool release =
        gap > releaseAt && !(hit1 == kNoHit) && !(hit2 == kNoHit) && (hit2 - hit1).length() > 0.1;
    if (release) {
        issuePlacementCommand(m_grabbedName, m_initialTranslation, m_initialRotation, false);
        issuePlacementCommand(m_grabbedName, m_currentTranslation,
                              rotationOn ? m_currentRotation : RQuaternion::identity, true);
        m_grabbedName = "null";
        grabOut.set(RString("null"));
        data.setClean(plug);
        return RStatus::kSuccess;
    }

    if (!(m_grabbedName == bestName) && grabAt > gap && m_grabbedName == "null") {
        (void)m_transformFn.setObject(bestPath.transform());
        m_initialTranslation = m_transformFn.getTranslation(RSpace::kTransform);
        (void)m_transformFn.getRotation(m_initialRotation, RSpace::kTransform);
        m_grabbedName = bestName;
        m_grabVector = b - a;
        m_grabOffset = m_initialTranslation - center;
        m_previousVector = m_grabVector;
        m_grabPalmX = row(palm, 0);
        m_referenceRoll = rotated(row(palm, 2), rotationBetween(m_grabPalmX, m_grabVector));
        grabOut.set(m_grabbedName);
    }

    if (!(m_grabbedName == "null") && differs(a, m_previousFinger1) &&
        differs(b, m_previousFinger2)) {
        RVector g = b - a;
        if (g.angle(m_previousVector) > kHalfTurn) {
            g = g * -1.0;
        }
        m_previousVector = g;
        m_grabVector.normalize();
        g.normalize();
        const RQuaternion swing = normalized(rotationBetween(m_grabVector, g));
        const RQuaternion align = rotationBetween(row(palm, 0), g);
        const RVector roll = rotated(row(palm, 2), align);
        const RQuaternion twist = normalized(rotationBetween(m_referenceRoll, roll));
        m_initialRotation = normalized(m_initialRotation);
        // A placement that overflows keeps the object where it was.
        if (const RVector translation = center + m_grabOffset; finite(translation)) {
            m_currentTranslation = translation;
        }
        m_currentRotation = normalized(m_initialRotation * swing * twist);
        if (translationOn) {
            (void)m_transformFn.setTranslation(m_currentTranslation, RSpace::kTransform);
        }
        if (rotationOn) {
            (void)m_transformFn.setRotation(m_currentRotation, RSpace::kTransform);
        }
    }

    m_previousFinger1 = a;
    m_previousFinger2 = b;
    data.setClean(plug);
    return RStatus::kSuccess;
}

void KivoGrabNode::issuePlacementCommand(const RString& objectName, const RVector& translation,
                                         const RQuaternion& rotation, bool recordInHost) {
    if (objectName == "null") {
        return;
    }
    RString command = "move -a ";
    command += translation.x;
    command += " ";
    command += translation.y;
    command += " ";
    command += translation.z;
    command += " ";
    command += objectName;
    command += "; ";
    const REulerRotation euler = REulerRotation::decompose(rotation.asMatrix());
    command += "rotate -os ";
    command += euler.x * 180.0 / 3.141592653589793;
    command += " ";
    command += euler.y * 180.0 / 3.141592653589793;
    command += " ";
    command += euler.z * 180.0 / 3.141592653589793;
    command += " ";
    command += objectName;
    command += "; ";
    (void)RGlobal::executeCommand(command, recordInHost, recordInHost);
}

}  // namespace kivo_rova
