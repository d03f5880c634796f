#include "nodes/KivoFilterNode.h"

#include <cmath>

#include "host/SetupReport.h"

namespace kivo_rova {
namespace {

constexpr OneEuroSettings kDefaults;
constexpr double kScale = 0.05;  // the tracking nodes' own default: 1 mm is 0.05 scene units
constexpr double kResetGap = 0.25;
constexpr double kGraceTime = 0.1;

// A keyable, stored, shown double input with its default.
bool createSetting(RObject& attribute, const char* longName, const char* shortName, double value) {
    RFnNumericAttribute fn;
    RStatus status;
    attribute = fn.create(longName, shortName, RFnNumericData::kDouble, value, &status);
    if (!succeededOrReport(status, longName)) {
        return false;
    }
    checkConfigure(fn.setKeyable(true));
    checkConfigure(fn.setStorable(true));
    checkConfigure(fn.setHidden(false));
    checkConfigure(fn.setDefault(value));
    return true;
}

}  // namespace

const RTypeId KivoFilterNode::id{0x7777b};

RObject KivoFilterNode::inputMatrix;
RObject KivoFilterNode::inputEnabled;
RObject KivoFilterNode::time;
RObject KivoFilterNode::minCutoff;
RObject KivoFilterNode::speedCoefficient;
RObject KivoFilterNode::angularCoefficient;
RObject KivoFilterNode::derivativeCutoff;
RObject KivoFilterNode::scale;
RObject KivoFilterNode::resetGap;
RObject KivoFilterNode::graceTime;
RObject KivoFilterNode::outputMatrix;
RObject KivoFilterNode::outputEnabled;
RObject KivoFilterNode::outputTranslate;

KivoFilterNode::~KivoFilterNode() = default;

void* KivoFilterNode::createInstance() {
    return static_cast<RPxNode*>(new KivoFilterNode);
}

RStatus KivoFilterNode::initializeAttributes() {
    RFnMatrixAttribute matrixFn;
    RFnNumericAttribute numeric;
    RStatus status;

    inputMatrix = matrixFn.create("inputMatrix", "im", RFnMatrixAttribute::kDouble, &status);
    if (!succeededOrReport(status, "create inputMatrix")) {
        return RStatus::kFailure;
    }
    inputEnabled = numeric.create("inputEnabled", "ie", RFnNumericData::kBoolean, 1.0, &status);
    if (!succeededOrReport(status, "create inputEnabled")) {
        return RStatus::kFailure;
    }
    checkConfigure(numeric.setKeyable(true));
    checkConfigure(numeric.setDefault(true));
    if (!createSetting(time, "time", "tm", 0.0) ||
        !createSetting(minCutoff, "minCutoff", "mcut", kDefaults.minCutoff) ||
        !createSetting(speedCoefficient, "speedCoefficient", "beta", kDefaults.speedCoefficient) ||
        !createSetting(angularCoefficient, "angularCoefficient", "abeta",
                       kDefaults.angularCoefficient) ||
        !createSetting(derivativeCutoff, "derivativeCutoff", "dcut", kDefaults.derivativeCutoff) ||
        !createSetting(scale, "scale", "sc", kScale) ||
        !createSetting(resetGap, "resetGap", "gap", kResetGap) ||
        !createSetting(graceTime, "graceTime", "grace", kGraceTime)) {
        return RStatus::kFailure;
    }

    outputMatrix = matrixFn.create("outputMatrix", "om", RFnMatrixAttribute::kDouble, &status);
    if (!succeededOrReport(status, "create outputMatrix")) {
        return RStatus::kFailure;
    }
    checkConfigure(matrixFn.setStorable(false));
    outputEnabled = numeric.create("outputEnabled", "oe", RFnNumericData::kBoolean, 0.0, &status);
    if (!succeededOrReport(status, "create outputEnabled")) {
        return RStatus::kFailure;
    }
    checkConfigure(numeric.setStorable(false));
    outputTranslate =
        numeric.create("outputTranslate", "ot", RFnNumericData::k3Double, 0.0, &status);
    if (!succeededOrReport(status, "create outputTranslate")) {
        return RStatus::kFailure;
    }
    checkConfigure(numeric.setStorable(false));

    const RObject* inputs[] = {
        &inputMatrix,        &inputEnabled,     &time,  &minCutoff, &speedCoefficient,
        &angularCoefficient, &derivativeCutoff, &scale, &resetGap,  &graceTime};
    const char* inputNames[] = {
        "inputMatrix",        "inputEnabled",     "time",  "minCutoff", "speedCoefficient",
        "angularCoefficient", "derivativeCutoff", "scale", "resetGap",  "graceTime"};
    const RObject* outputs[] = {&outputMatrix, &outputEnabled, &outputTranslate};
    const char* outputNames[] = {"outputMatrix", "outputEnabled", "outputTranslate"};
    for (int i = 0; i < 10; ++i) {
        if (!addAttributeOrReport(*inputs[i], inputNames[i])) {
            return RStatus::kFailure;
        }
    }
    for (int o = 0; o < 3; ++o) {
        if (!addAttributeOrReport(*outputs[o], outputNames[o])) {
            return RStatus::kFailure;
        }
    }
    for (int i = 0; i < 10; ++i) {
        for (int o = 0; o < 3; ++o) {
            if (!attributeAffectsOrReport(*inputs[i], inputNames[i], *outputs[o], outputNames[o])) {
                return RStatus::kFailure;
            }
        }
    }
    return RStatus::kSuccess;
}

void KivoFilterNode::evaluate(State& state, const Inputs& in) {
    Pose raw;
    double rawScale[3];
    const bool sample = in.enabled && poseFromMatrix(in.matrix, raw, rawScale);

    if (!state.evaluated || in.time < state.time || in.time - state.time > in.resetGap) {
        state.filter.reset();
    }
    state.evaluated = true;
    state.time = in.time;

    if (sample) {
        const double dt = in.time - state.seenTime;
        if (dt > in.resetGap) {
            state.filter.reset();  // a hold longer than the gap: nothing to smooth from
        }
        state.pose = state.filter.step(raw, dt, in.settings);
        state.seenTime = in.time;
        state.enabled = true;
        state.output = matrixFromPose(state.pose, rawScale);
    } else if (!state.filter.started() || in.time - state.seenTime > in.graceTime) {
        // Gone for longer than the grace time: reported gone, and smoothed afresh on return.
        // The matrix keeps its last value, as the tracking node's own outputs do.
        state.filter.reset();
        state.enabled = false;
    }
}

RStatus KivoFilterNode::compute(const RPlug& plug, RDataBlock& data) {
    if (plug != outputMatrix && plug != outputEnabled && plug != outputTranslate) {
        return RStatus::kUnknownParameter;
    }
    Inputs in;
    in.matrix = data.inputValue(inputMatrix).asMatrix();
    in.enabled = data.inputValue(inputEnabled).asBool();
    in.time = data.inputValue(time).asDouble();
    double unit = data.inputValue(scale).asDouble();
    if (!(unit > 0.0) || !std::isfinite(unit)) {
        unit = 1.0;
    }
    in.settings.minCutoff = data.inputValue(minCutoff).asDouble();
    // Speeds are measured in mm/s: the scene's positions are `unit` scene units per mm.
    in.settings.speedCoefficient = data.inputValue(speedCoefficient).asDouble() / unit;
    in.settings.angularCoefficient = data.inputValue(angularCoefficient).asDouble();
    in.settings.derivativeCutoff = data.inputValue(derivativeCutoff).asDouble();
    in.resetGap = data.inputValue(resetGap).asDouble();
    in.graceTime = data.inputValue(graceTime).asDouble();

    if (m_state.evaluated && in.time == m_state.time) {
        m_state = m_before;  // the same sample again: redo its step with the inputs as they are
    } else {
        m_before = m_state;
    }
    evaluate(m_state, in);

    RDataHandle matrixOut = data.outputValue(outputMatrix);
    matrixOut.setRMatrix(m_state.output);
    matrixOut.setClean();
    RDataHandle enabledOut = data.outputValue(outputEnabled);
    enabledOut.set(m_state.enabled);
    enabledOut.setClean();
    RDataHandle translateOut = data.outputValue(outputTranslate);
    translateOut.set(m_state.output[3][0], m_state.output[3][1], m_state.output[3][2]);
    translateOut.setClean();
    data.setClean(plug);
    return RStatus::kSuccess;
}

}  // namespace kivo_rova
