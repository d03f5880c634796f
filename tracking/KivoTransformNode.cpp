#include "tracking/KivoTransformNode.h"

#include <cstdio>
#include <string>

#include "device/KivoManager.h"
#include "host/SetupReport.h"

namespace kivo_rova {
namespace {

constexpr unsigned int kPoolSlots = 5;
constexpr unsigned int kPoolBuffers = 1;

// The flags of an output: hidden or shown, never keyable or stored.
void configureOutput(RFnAttribute& fn, bool hidden) {
    checkConfigure(fn.setHidden(hidden));
    checkConfigure(fn.setKeyable(false));
    checkConfigure(fn.setStorable(false));
}

// The flags of an input: keyable, stored and shown.
void configureInput(RFnAttribute& fn) {
    checkConfigure(fn.setHidden(false));
    checkConfigure(fn.setKeyable(true));
    checkConfigure(fn.setStorable(true));
}

// Adds an attribute; a failure is reported and set-up goes on.
void addOrReport(const RObject& attribute) {
    reportAndContinue(RPxNode::addAttribute(attribute), "add attribute");
}

RObject createMatrixOutput(const std::string& longName, const std::string& shortName) {
    RFnMatrixAttribute fn;
    RStatus status;
    const RObject attribute = fn.create(longName, shortName, RFnMatrixAttribute::kDouble, &status);
    reportAndContinue(status, "create attribute");
    configureOutput(fn, true);
    checkConfigure(fn.setDefault(RMatrix::identity));
    addOrReport(attribute);
    return attribute;
}

RObject createFlagOutput(const std::string& longName, const std::string& shortName) {
    RFnNumericAttribute fn;
    RStatus status;
    const RObject attribute =
        fn.create(longName, shortName, RFnNumericData::kBoolean, 0.0, &status);
    reportAndContinue(status, "create attribute");
    configureOutput(fn, true);
    checkConfigure(fn.setDefault(false));
    addOrReport(attribute);
    return attribute;
}

RObject createCountOutput(const std::string& longName, const std::string& shortName) {
    RFnNumericAttribute fn;
    RStatus status;
    const RObject attribute = fn.create(longName, shortName, RFnNumericData::kInt, 0.0, &status);
    reportAndContinue(status, "create attribute");
    configureOutput(fn, false);
    checkConfigure(fn.setDefault(0));
    addOrReport(attribute);
    return attribute;
}

// A matrix output named NAME (short SHORT) and its flag NAMEEnabled (SHORTEnabled).
KivoTransformNode::TransformOutput createTransformOutput(const std::string& longName,
                                                         const std::string& shortName) {
    KivoTransformNode::TransformOutput output;
    output.matrix = createMatrixOutput(longName, shortName);
    output.enabled = createFlagOutput(longName + "Enabled", shortName + "Enabled");
    return output;
}

// Writes the outputs of one compute. A failed output handle is reported and the writer goes on.
// One status serves every write (outputValue clears it on success), and one matrix every placed
// transform: a compute writes 58 outputs, and a status built and dropped for each costs more than
// the write.
class OutputWriter {
  public:
    OutputWriter(RDataBlock& data, const SceneMapping& mapping)
        : m_data(data), m_mapping(mapping) {}

    // One transform pair: its flag always; its matrix, placed in the scene, only when valid
    // (otherwise the matrix keeps its last value and is not cleaned).
    void transform(bool valid, const RMatrix& stored,
                   const KivoTransformNode::TransformOutput& output) {
        RDataHandle enabled = m_data.outputValue(output.enabled, &m_status);
        if (m_status.error()) {
            m_status.perror("Error in block.outputValue for outputDataEnabled");
        }
        enabled.set(valid);
        enabled.setClean();
        if (!valid) {
            return;
        }
        RDataHandle matrix = m_data.outputValue(output.matrix, &m_status);
        if (m_status.error()) {
            m_status.perror("Error in block.outputValue for outputDataTransform");
        }
        m_placed = stored;
        placeTransform(m_placed, m_mapping);
        matrix.setRMatrix(m_placed);
        matrix.setClean();
    }

    void count(const RObject& output, int valid) {
        RDataHandle handle = m_data.outputValue(output, &m_status);
        if (m_status.error()) {
            m_status.perror("Error in block.outputValue for outputPointableCount");
            return;
        }
        handle.set(valid);
        handle.setClean();
    }

    void frameTime(const RObject& output, std::int64_t timestamp) {
        RDataHandle clock = m_data.outputValue(output, &m_status);
        if (m_status.error()) {
            m_status.perror("Error in block.outputValue for frameTime");
            return;
        }
        clock.set(static_cast<double>(timestamp) / 1e6);
        clock.setClean();
    }

  private:
    RDataBlock& m_data;
    const SceneMapping& m_mapping;
    RStatus m_status;
    RMatrix m_placed;
};

// Whether `plug` is one of the node's outputs (compute serves no other).
bool isOutput(const RPlug& plug) {
    using Node = KivoTransformNode;
    if (plug == Node::pointableOutputs.count || plug == Node::frameTime) {
        return true;
    }
    for (const Node::TransformOutput& pointable : Node::pointableOutputs.pointables) {
        if (plug == pointable.matrix || plug == pointable.enabled) {
            return true;
        }
    }
    for (const Node::HandOutputs& outputs : Node::handOutputs) {
        if (plug == outputs.count || plug == outputs.palm.matrix || plug == outputs.palm.enabled) {
            return true;
        }
        for (const Node::TransformOutput& pointable : outputs.pointables) {
            if (plug == pointable.matrix || plug == pointable.enabled) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

const RTypeId KivoTransformNode::id{0x77779};

RObject KivoTransformNode::scale;
RObject KivoTransformNode::offset;
RObject KivoTransformNode::relativeToCameraRot;
RObject KivoTransformNode::relativeToCameraPos;
KivoTransformNode::HandOutputs KivoTransformNode::handOutputs[TrackingRecord::kMaxHands];
KivoTransformNode::PointableOutputs KivoTransformNode::pointableOutputs;
RObject KivoTransformNode::frameTime;

KivoTransformNode::KivoTransformNode() : m_manager(new KivoManager(this)) {}

KivoTransformNode::~KivoTransformNode() {
    if (m_manager != nullptr) {
        delete m_manager;
        m_manager = nullptr;
    }
    if (m_shownSlot.ptr() != nullptr) {
        releaseDataStorage(m_shownSlot);
    }
    destroyMemoryPools();
}

void* KivoTransformNode::createInstance() {
    return static_cast<RPxNode*>(new KivoTransformNode);
}

RStatus KivoTransformNode::initializeAttributes() {
    RStatus status;

    RFnNumericAttribute scaleFn;
    scale = scaleFn.create("scale", "sc", RFnNumericData::kDouble, 0.05, &status);
    reportAndContinue(status, "create attribute");
    configureInput(scaleFn);
    checkConfigure(scaleFn.setDefault(0.05));
    addOrReport(scale);

    RFnNumericAttribute offsetFn;
    offset = offsetFn.create("offset", "off", RFnNumericData::k3Double, 0.0, &status);
    reportAndContinue(status, "create attribute");
    configureInput(offsetFn);
    checkConfigure(offsetFn.setDefault(0.0, 0.0, 0.0));
    addOrReport(offset);

    RFnNumericAttribute rotationFn;
    relativeToCameraRot =
        rotationFn.create("relativeToCameraRot", "rel", RFnNumericData::kBoolean, 0.0, &status);
    reportAndContinue(status, "create attribute");
    configureInput(rotationFn);
    checkConfigure(rotationFn.setDefault(false));
    addOrReport(relativeToCameraRot);

    RFnNumericAttribute positionFn;
    relativeToCameraPos =
        positionFn.create("relativeToCameraPos", "rcp", RFnNumericData::kBoolean, 0.0, &status);
    reportAndContinue(status, "create attribute");
    configureInput(positionFn);
    checkConfigure(positionFn.setDefault(false));
    addOrReport(relativeToCameraPos);

    for (int h = 0; h < TrackingRecord::kMaxHands; ++h) {
        const std::string hand = std::to_string(h);
        HandOutputs& outputs = handOutputs[h];
        outputs.palm = createTransformOutput("outputPalm" + hand, "op" + hand);
        outputs.count = createCountOutput("outputPointableCount" + hand, "ofc" + hand);
        for (int j = 0; j < HandRecord::kMaxPointables; ++j) {
            const std::string index = hand + "_" + std::to_string(j);
            outputs.pointables[j] = createTransformOutput("outputPointable" + index, "of" + index);
        }
    }
    pointableOutputs.count = createCountOutput("outputPointableCount", "ofc");
    for (int i = 0; i < TrackingRecord::kMaxPointables; ++i) {
        const std::string index = std::to_string(i);
        pointableOutputs.pointables[i] =
            createTransformOutput("outputPointable" + index, "of" + index);
    }
    // The device's own clock, for smoothing that must not depend on when the host ticks.
    RFnNumericAttribute timeFn;
    frameTime = timeFn.create("frameTime", "ftm", RFnNumericData::kDouble, 0.0, &status);
    reportAndContinue(status, "create attribute");
    configureOutput(timeFn, false);
    checkConfigure(timeFn.setDefault(0.0));
    addOrReport(frameTime);

    // Every input affects the refresh attribute, which in turn affects every other output.
    const RObject& source = pointableOutputs.pointables[0].matrix;
    if (!attributeAffectsOrReport(live, "live", source, "sourceAttr") ||
        !attributeAffectsOrReport(scale, "scale", source, "sourceAttr") ||
        !attributeAffectsOrReport(offset, "offset", source, "sourceAttr") ||
        !attributeAffectsOrReport(relativeToCameraRot, "relativeToCamera", source, "sourceAttr") ||
        !attributeAffectsOrReport(relativeToCameraPos, "relativeToCameraPos", source,
                                  "sourceAttr")) {
        return RStatus::kFailure;
    }
    const auto affectedBySource = [](const RObject& output) {
        checkConfigure(RPxNode::attributeAffects(source, output));
    };
    for (const HandOutputs& outputs : handOutputs) {
        affectedBySource(outputs.palm.matrix);
        affectedBySource(outputs.palm.enabled);
        for (const TransformOutput& pointable : outputs.pointables) {
            affectedBySource(pointable.matrix);
            affectedBySource(pointable.enabled);
        }
        affectedBySource(outputs.count);
    }
    for (const TransformOutput& pointable : pointableOutputs.pointables) {
        if (&pointable.matrix != &source) {
            affectedBySource(pointable.matrix);
        }
        affectedBySource(pointable.enabled);
    }
    affectedBySource(pointableOutputs.count);
    affectedBySource(frameTime);
    return RStatus::kSuccess;
}

void KivoTransformNode::postConstructor() {
    RObjectArray refreshAttributes;
    refreshAttributes.append(pointableOutputs.pointables[0].matrix);
    const RStatus status = setRefreshOutputAttributes(refreshAttributes);
    if (status.error()) {
        status.perror("setRefreshOutputAttributes");
    }
    createMemoryPools(kPoolSlots, kPoolBuffers, sizeof(TrackingRecord));
}

void KivoTransformNode::runDeviceThread() {
    setDone(false);
    const Kivo::Controller& controller = m_manager->getController();
    // Each device frame is pushed once: a loop that finds nothing new acquires nothing, and
    // isDone then paces it.
    bool pushedAny = false;
    std::int64_t lastPushed = 0;
    while (!isDone()) {
        if (!isLive() || !controller.isConnected()) {
            continue;
        }
        const Kivo::Frame frame = controller.frame(0);
        if (!frame.isValid() || (pushedAny && frame.id() == lastPushed)) {
            continue;
        }
        RCharBuffer buffer;
        if (acquireDataStorage(buffer).error()) {
            continue;
        }
        beginThreadLoop();
        if (buffer.ptr() == nullptr) {
            releaseDataStorage(buffer);
        } else {
            fillRecord(*reinterpret_cast<TrackingRecord*>(buffer.ptr()), frame);
            pushThreadData(buffer);
            pushedAny = true;
            lastPushed = frame.id();
        }
        endThreadLoop();
    }
    std::fputs("Exiting kivo thread loop...\n", stderr);
    std::fflush(stderr);
    setDone(true);
}

void KivoTransformNode::stopDeviceThread() {
    setDone(true);
}

RStatus KivoTransformNode::compute(const RPlug& plug, RDataBlock& data) {
    if (!isOutput(plug)) {
        return RStatus::kUnknownParameter;
    }

    RCharBuffer buffer;
    const bool popped = !popThreadData(buffer).error();
    if (popped && buffer.ptr() == nullptr) {
        releaseDataStorage(buffer);
        return RStatus::kFailure;
    }
    if (!popped && m_shownSlot.ptr() == nullptr) {
        return RStatus::kFailure;
    }

    SceneMapping mapping;
    mapping.scale = data.inputValue(scale).asDouble();
    mapping.offset = data.inputValue(offset).asVector();
    mapping.relativeToCamera = data.inputValue(relativeToCameraRot).asBool();
    const bool withPosition = data.inputValue(relativeToCameraPos).asBool();
    mapping.cameraFrame = mapping.relativeToCamera ? cameraFrame(withPosition) : RMatrix::identity;

    if (popped) {
        if (m_shownSlot.ptr() != nullptr) {
            releaseDataStorage(m_shownSlot);
        }
        m_shownSlot = buffer;
    } else if (mapping == m_shownMapping) {
        return RStatus::kFailure;  // nothing new to show
    }
    m_shownMapping = mapping;
    const TrackingRecord& record = *reinterpret_cast<const TrackingRecord*>(m_shownSlot.ptr());
    prefetchRecord(record);

    OutputWriter write(data, mapping);
    for (int h = 0; h < TrackingRecord::kMaxHands; ++h) {
        const HandOutputs& outputs = handOutputs[h];
        const HandRecord& hand = record.hands[h];
        const bool present = h < record.handCount;
        write.transform(present, hand.palm, outputs.palm);
        int valid = 0;
        for (int j = 0; j < HandRecord::kMaxPointables; ++j) {
            const bool stored = present && j < hand.pointableCount;
            write.transform(stored, hand.pointables[j], outputs.pointables[j]);
            valid += stored ? 1 : 0;
        }
        write.count(outputs.count, valid);
    }

    int valid = 0;
    for (int i = 0; i < TrackingRecord::kMaxPointables; ++i) {
        const bool stored = i < record.pointableCount;
        write.transform(stored, record.pointables[i], pointableOutputs.pointables[i]);
        valid += stored ? 1 : 0;
    }
    write.count(pointableOutputs.count, valid);
    write.frameTime(frameTime, record.timestamp);

    data.setClean(plug);
    return RStatus::kSuccess;
}

}  // namespace kivo_rova
