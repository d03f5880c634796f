#include "nodes/TimeRotateNode.h"

#include "host/SetupReport.h"

namespace kivo_rova {

const RTypeId TimeRotateNode::id{0x77785};

RObject TimeRotateNode::scale;
RObject TimeRotateNode::time;
RObject TimeRotateNode::axis;
RObject TimeRotateNode::initialRotate;
RObject TimeRotateNode::outputRotate;

TimeRotateNode::~TimeRotateNode() = default;

void* TimeRotateNode::createInstance() {
    return static_cast<RPxNode*>(new TimeRotateNode);
}

RStatus TimeRotateNode::initializeAttributes() {
    RFnNumericAttribute numeric;

    scale = numeric.create("scale", "sc", RFnNumericData::kDouble, 10.0);
    checkConfigure(numeric.setKeyable(true));
    checkConfigure(numeric.setStorable(true));
    checkConfigure(numeric.setHidden(false));
    if (!addAttributeOrReport(scale, "scale")) {
        return RStatus::kFailure;
    }

    time = numeric.create("time", "ti", RFnNumericData::kDouble, 0.0);
    if (!addAttributeOrReport(time, "time")) {
        return RStatus::kFailure;
    }

    axis = numeric.create("axis", "axis", RFnNumericData::k3Double);
    checkConfigure(numeric.setDefault(0.0, 1.0, 0.0));
    checkConfigure(numeric.setKeyable(true));
    checkConfigure(numeric.setStorable(true));
    checkConfigure(numeric.setHidden(false));
    if (!addAttributeOrReport(axis, "axis")) {
        return RStatus::kFailure;
    }

    initialRotate = numeric.create("initialRotate", "ir", RFnNumericData::k3Double);
    checkConfigure(numeric.setDefault(0.0, 0.0, 0.0));
    checkConfigure(numeric.setKeyable(true));
    checkConfigure(numeric.setStorable(true));
    checkConfigure(numeric.setHidden(false));
    if (!addAttributeOrReport(initialRotate, "initialRotate")) {
        return RStatus::kFailure;
    }

    outputRotate = numeric.create("outputRotate", "or", RFnNumericData::k3Double);
    checkConfigure(numeric.setWritable(false));
    checkConfigure(numeric.setStorable(false));
    checkConfigure(numeric.setHidden(false));
    if (!addAttributeOrReport(outputRotate, "outputRotate")) {
        return RStatus::kFailure;
    }

    if (!attributeAffectsOrReport(scale, "scale", outputRotate, "outputRotate") ||
        !attributeAffectsOrReport(axis, "axis", outputRotate, "outputRotate") ||
        !attributeAffectsOrReport(time, "time", outputRotate, "outputRotate") ||
        !attributeAffectsOrReport(initialRotate, "initialRotate", outputRotate, "outputRotate")) {
        return RStatus::kFailure;
    }
    return RStatus::kSuccess;
}

RStatus TimeRotateNode::compute(const RPlug& plug, RDataBlock& data) {
    if (plug != outputRotate) {
        return RStatus::kUnknownParameter;
    }
    const double rate = data.inputValue(scale).asDouble();
    const double now = data.inputValue(time).asDouble();
    const RVector direction = data.inputValue(axis).asVector();
    const RVector start = data.inputValue(initialRotate).asVector();

    RVector rotation;
    for (unsigned int k = 0; k < 3; ++k) {
        rotation[k] = start[k] + (direction[k] * now) * rate;
    }
    data.outputValue(outputRotate).set(rotation);
    data.setClean(plug);
    return RStatus::kSuccess;
}

}  // namespace kivo_rova
