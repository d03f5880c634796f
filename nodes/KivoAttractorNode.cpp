#include "nodes/KivoAttractorNode.h"

#include "host/SetupReport.h"

namespace kivo_rova {
namespace {

double clamp(double value, double low, double high) {
    if (low > value) {
        return low;
    }
    if (value > high) {
        return high;
    }
    return value;
}

}  // namespace

const RTypeId KivoAttractorNode::id{0x777780};

RObject KivoAttractorNode::strength;
RObject KivoAttractorNode::track;
RObject KivoAttractorNode::time;
RObject KivoAttractorNode::inputAttractor;
RObject KivoAttractorNode::inputAttracted;
RObject KivoAttractorNode::outputAttracted;

KivoAttractorNode::~KivoAttractorNode() = default;

void* KivoAttractorNode::createInstance() {
    return static_cast<RPxNode*>(new KivoAttractorNode);
}

RStatus KivoAttractorNode::initializeAttributes() {
    RFnNumericAttribute numeric;
    RFnUnitAttribute unit;
    RFnMatrixAttribute matrix;
    RStatus status;

    // The creation status of the two numeric inputs is left to addAttribute to reveal.
    strength = numeric.create("strength", "str", RFnNumericData::kDouble, 0.0);
    checkConfigure(numeric.setKeyable(true));
    checkConfigure(numeric.setStorable(true));
    checkConfigure(numeric.setHidden(false));
    checkConfigure(numeric.setDefault(1.0));

    track = numeric.create("track", "tr", RFnNumericData::kBoolean, 0.0);
    checkConfigure(numeric.setKeyable(true));
    checkConfigure(numeric.setStorable(true));
    checkConfigure(numeric.setHidden(false));
    checkConfigure(numeric.setDefault(false));

    time = unit.create("time", "tm", RFnUnitAttribute::kTime, 0.0, &status);
    if (!succeededOrReport(status, "create time")) {
        return RStatus::kFailure;
    }
    inputAttractor = matrix.create("inputAttractor", "ia", RFnMatrixAttribute::kDouble, &status);
    if (!succeededOrReport(status, "create inputAttractor")) {
        return RStatus::kFailure;
    }
    inputAttracted = matrix.create("inputAttracted", "iad", RFnMatrixAttribute::kDouble, &status);
    if (!succeededOrReport(status, "create inputAttracted")) {
        return RStatus::kFailure;
    }
    outputAttracted = matrix.create("outputAttracted", "oad", RFnMatrixAttribute::kDouble, &status);
    if (!succeededOrReport(status, "create outpuAttracted")) {
        return RStatus::kFailure;
    }

    if (!addAttributeOrReport(strength, "strength") || !addAttributeOrReport(track, "track") ||
        !addAttributeOrReport(time, "time") ||
        !addAttributeOrReport(inputAttractor, "inputAttractor") ||
        !addAttributeOrReport(inputAttracted, "inputAttracted") ||
        !addAttributeOrReport(outputAttracted, "outputAttracted")) {
        return RStatus::kFailure;
    }

    if (!attributeAffectsOrReport(time, "time", outputAttracted, "outputAttracted") ||
        !attributeAffectsOrReport(inputAttractor, "inputAttractor", outputAttracted,
                                  "outputAttracted")) {
        return RStatus::kFailure;
    }
    return RStatus::kSuccess;
}

RStatus KivoAttractorNode::compute(const RPlug& plug, RDataBlock& data) {
    if (plug != outputAttracted) {
        return RStatus::kUnknownParameter;
    }
    const double rate = data.inputValue(strength).asDouble();
    const RTime now = data.inputValue(time).asTime();
    const bool snap = data.inputValue(track).asBool();
    const RMatrix target = data.inputValue(inputAttractor).asMatrix();

    if (!m_heldValid) {
        m_heldMatrix = data.inputValue(inputAttracted).asMatrix();
        m_heldValid = true;
    }
    const RMatrix start = m_heldMatrix;

    const double dt = (now - m_lastTime).asUnits(RTime::kSeconds);
    m_lastTime = now;

    RMatrix result = start;
    if (snap) {
        result = target;
    } else if (dt > 0.0) {
        result = blendTransforms(start, target, clamp(dt * rate, 0.0, 1.0));
    }

    m_heldMatrix = result;
    data.outputValue(outputAttracted).setRMatrix(result);
    data.setClean(plug);
    return RStatus::kSuccess;
}

RMatrix KivoAttractorNode::blendTransforms(const RMatrix& from, const RMatrix& to, double t) {
    const RTransformationMatrix a(from);
    const RTransformationMatrix b(to);
    const RQuaternion rotation = slerp(a.rotation(), b.rotation(), t);
    const double weight = clamp(t, 0.0, 1.0);
    const RVector translation = a.translation(RTransformationMatrix::kWorld) * (1.0 - weight) +
                                b.translation(RTransformationMatrix::kWorld) * weight;

    RTransformationMatrix blended;
    blended.rotateTo(rotation);
    blended.setTranslation(translation, RTransformationMatrix::kWorld);
    return blended.asMatrix();
}

}  // namespace kivo_rova
