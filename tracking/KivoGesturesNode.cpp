#include "tracking/KivoGesturesNode.h"

#include <cmath>
#include <cstring>
#include <iterator>

#include "host/SetupReport.h"

namespace kivo_rova {
namespace {

constexpr unsigned int kPoolSlots = 24;
constexpr unsigned int kPoolBuffers = 1;

// The device's gesture type values.
constexpr int kSwipe = 1;
constexpr int kCircle = 4;
constexpr int kScreenTap = 5;
constexpr int kKeyTap = 6;

// The unit vector along a device vector, in the device's single precision; the zero vector
// stays zero. Then widened like every device vector.
RVector unitSceneVector(const Kivo::Vector& v) noexcept {
    const float squared = v.x * v.x + v.y * v.y + v.z * v.z;
    if (!(squared > 0.0F)) {
        return RVector();
    }
    const float inverse = 1.0F / std::sqrt(squared);
    return toSceneVector(Kivo::Vector(v.x * inverse, v.y * inverse, v.z * inverse));
}

// Adds a gesture as the newest of its queue; the oldest gives way when the queue is full.
template <class Queue, class Element>
void keepNewest(Queue& queue, const Element& element) {
    if (queue.full()) {
        queue.pop();
    }
    queue.push(element);
}

// The attributes in the order initializeAttributes creates them. A child row is created before
// its compound, which is made of the three child rows before it; only top-level rows are added
// to the node, and only inputs get their flags set.
enum class Role { kInput, kOutput, kChild, kCompound };

struct AttributeRow {
    RObject* handle;
    const char* longName;
    const char* shortName;
    RFnNumericData::Type type;  // unused for a compound
    double defaultValue;
    Role role;
    const char* creationFailure;
};

using K = KivoGesturesNode;
constexpr auto kDouble = RFnNumericData::kDouble;
constexpr auto kInt = RFnNumericData::kInt;
constexpr auto kShort = RFnNumericData::kShort;
constexpr auto kFloat = RFnNumericData::kFloat;
constexpr auto kBoolean = RFnNumericData::kBoolean;
constexpr auto k3Double = RFnNumericData::k3Double;
constexpr auto kNone = RFnNumericData::kInvalid;

const AttributeRow kAttributes[] = {
    {&K::aScale, "scale", "sc", kDouble, 0.05, Role::kInput, "create scale"},
    {&K::aOffset, "offset", "off", k3Double, 0.0, Role::kInput, "create offset"},
    {&K::aRelativeToCamera, "relativeToCameraRot", "rel", kBoolean, 0.0, Role::kInput,
     "create relativeToCameraRot"},
    {&K::aRelativeToCameraPos, "relativeToCameraPos", "rcp", kBoolean, 0.0, Role::kInput,
     "create relativeToCameraPos"},
    {&K::aFrameId, "frameId", "fid", kInt, 0.0, Role::kOutput, "create frameId"},

    {&K::aSwipeDuration, "swipeDuration", "swdur", kInt, 0.0, Role::kOutput,
     "create swipeDuration"},
    {&K::aSwipeState, "swipeState", "swst", kShort, -1.0, Role::kOutput, "create swipeState"},
    {&K::aSwipeDirectionX, "swipeDirectionX", "swdirx", kDouble, 0.0, Role::kChild,
     "create swipeDirectionX"},
    {&K::aSwipeDirectionY, "swipeDirectionY", "swdiry", kDouble, 0.0, Role::kChild,
     "create swipeDirectionY"},
    {&K::aSwipeDirectionZ, "swipeDirectionZ", "swdirz", kDouble, 0.0, Role::kChild,
     "create swipeDirectionZ"},
    {&K::aSwipeDirection, "swipeDirection", "swdir", kNone, 0.0, Role::kCompound,
     "create swipeDirection"},
    {&K::aSwipePositionX, "swipePositionX", "swposx", kDouble, 0.0, Role::kChild,
     "create swipePositionX"},
    {&K::aSwipePositionY, "swipePositionY", "swposy", kDouble, 0.0, Role::kChild,
     "create swipePositionY"},
    {&K::aSwipePositionZ, "swipePositionZ", "swposz", kDouble, 0.0, Role::kChild,
     "create swipePositionZ"},
    {&K::aSwipePosition, "swipePosition", "swpos", kNone, 0.0, Role::kCompound,
     "create swipePosition"},
    {&K::aSwipeSpeed, "swipeSpeed", "swsp", kFloat, 0.0, Role::kOutput, "create swipeSpeed"},
    {&K::aSwipeStartPositionX, "swipeStartPositionX", "swsposx", kDouble, 0.0, Role::kChild,
     "create swipeStartPositionX"},
    {&K::aSwipeStartPositionY, "swipeStartPositionY", "swsposy", kDouble, 0.0, Role::kChild,
     "create swipeStartPositionY"},
    {&K::aSwipeStartPositionZ, "swipeStartPositionZ", "swsposz", kDouble, 0.0, Role::kChild,
     "create swipeStartPositionZ"},
    {&K::aSwipeStartPosition, "swipeStartPosition", "swspos", kNone, 0.0, Role::kCompound,
     "create swipeStartPosition"},

    {&K::aCircleDuration, "circleDuration", "cidur", kInt, 0.0, Role::kOutput,
     "create circleDuration"},
    {&K::aCircleState, "circleState", "cist", kShort, -1.0, Role::kOutput, "create circleState"},
    {&K::aCircleCenterX, "circleCenterX", "cictrx", kDouble, 0.0, Role::kChild,
     "create CircleCenterX"},
    {&K::aCircleCenterY, "circleCenterY", "cictry", kDouble, 0.0, Role::kChild,
     "create circleCenterY"},
    {&K::aCircleCenterZ, "circleCenterZ", "cictrz", kDouble, 0.0, Role::kChild,
     "create circleCenterZ"},
    {&K::aCircleCenter, "circleCenter", "cictr", kNone, 0.0, Role::kCompound,
     "create circleCenter"},
    {&K::aCircleNormalX, "circleNormalX", "cinrmx", kDouble, 0.0, Role::kChild,
     "create CircleNormalX"},
    {&K::aCircleNormalY, "circleNormalY", "cinrmy", kDouble, 0.0, Role::kChild,
     "create circleNormalY"},
    {&K::aCircleNormalZ, "circleNormalZ", "cinrmz", kDouble, 0.0, Role::kChild,
     "create circleNormalZ"},
    {&K::aCircleNormal, "circleNormal", "cinrm", kNone, 0.0, Role::kCompound,
     "create circleNormal"},
    {&K::aCircleProgress, "circleProgress", "ciprg", kFloat, 0.0, Role::kOutput,
     "create circleProgress"},
    {&K::aCircleRadius, "circleRadius", "cirad", kFloat, 0.0, Role::kOutput, "create circleRadius"},

    {&K::aScreenTapDuration, "screenTapDuration", "stdu", kInt, 0.0, Role::kOutput,
     "create screenTapDuration"},
    {&K::aScreenTapState, "screenTapState", "stst", kShort, -1.0, Role::kOutput,
     "create screenTapState"},
    {&K::aScreenTapDirectionX, "screenTapDirectionX", "stdirx", kDouble, 0.0, Role::kChild,
     "create screenTapDirectionX"},
    {&K::aScreenTapDirectionY, "screenTapDirectionY", "stdiry", kDouble, 0.0, Role::kChild,
     "create screenTapDirectionY"},
    {&K::aScreenTapDirectionZ, "screenTapDirectionZ", "stdirz", kDouble, 0.0, Role::kChild,
     "create screenTapDirectionZ"},
    {&K::aScreenTapDirection, "screenTapDirection", "stdir", kNone, 0.0, Role::kCompound,
     "create screenTapDirection"},
    {&K::aScreenTapPositionX, "screenTapPositionX", "stposx", kDouble, 0.0, Role::kChild,
     "create screenTapPositionX"},
    {&K::aScreenTapPositionY, "screenTapPositionY", "stposy", kDouble, 0.0, Role::kChild,
     "create screenTapPositionY"},
    {&K::aScreenTapPositionZ, "screenTapPositionZ", "stposz", kDouble, 0.0, Role::kChild,
     "create screenTapPositionZ"},
    {&K::aScreenTapPosition, "screenTapPosition", "stpos", kNone, 0.0, Role::kCompound,
     "create screenTapPosition"},

    {&K::aKeyTapDuration, "keyTapDuration", "ktdur", kInt, 0.0, Role::kOutput,
     "create keyTapDuration"},
    {&K::aKeyTapState, "keyTapState", "ktst", kShort, -1.0, Role::kOutput, "create keyTapState"},
    {&K::aKeyTapDirectionX, "keyTapDirectionX", "ktdirx", kDouble, 0.0, Role::kChild,
     "create keyTapDirectionX"},
    {&K::aKeyTapDirectionY, "keyTapDirectionY", "ktdiry", kDouble, 0.0, Role::kChild,
     "create keyTapDirectionY"},
    {&K::aKeyTapDirectionZ, "keyTapDirectionZ", "ktdirz", kDouble, 0.0, Role::kChild,
     "create keyTapDirectionZ"},
    {&K::aKeyTapDirection, "keyTapDirection", "ktdir", kNone, 0.0, Role::kCompound,
     "create keyTapDirection"},
    {&K::aKeyTapPositionX, "keyTapPositionX", "ktposx", kDouble, 0.0, Role::kChild,
     "create keyTapPositionX"},
    {&K::aKeyTapPositionY, "keyTapPositionY", "ktposy", kDouble, 0.0, Role::kChild,
     "create keyTapPositionY"},
    {&K::aKeyTapPositionZ, "keyTapPositionZ", "ktposz", kDouble, 0.0, Role::kChild,
     "create keyTapPositionZ"},
    {&K::aKeyTapPosition, "keyTapPosition", "ktpos", kNone, 0.0, Role::kCompound,
     "create keyTapPosition"},
};

// The dependencies in the order they are declared, with the handle names their failure
// reports use.
struct Dependency {
    const RObject* source;
    const char* sourceName;
    const RObject* destination;
    const char* destinationName;
};

const Dependency kDependencies[] = {
    {&RPxThreadedDeviceNode::live, "live", &K::aFrameId, "aFrameId"},
    {&RPxThreadedDeviceNode::frameRate, "frameRate", &K::aFrameId, "aFrameId"},
    {&K::aScale, "aScale", &K::aFrameId, "aFrameId"},
    {&K::aOffset, "aOffset", &K::aFrameId, "aFrameId"},
    {&K::aRelativeToCamera, "aRelativeToCamera", &K::aFrameId, "aFrameId"},
    {&K::aRelativeToCameraPos, "aRelativeToCameraPos", &K::aFrameId, "aFrameId"},
    {&K::aFrameId, "aFrameId", &K::aSwipeDuration, "aSwipeDuration"},
    {&K::aFrameId, "aFrameId", &K::aSwipeState, "aSwipeState"},
    {&K::aFrameId, "aFrameId", &K::aSwipeDirection, "aSwipeDirection"},
    {&K::aFrameId, "aFrameId", &K::aSwipePosition, "aSwipePosition"},
    {&K::aFrameId, "aFrameId", &K::aSwipeSpeed, "aSwipeSpeed"},
    {&K::aFrameId, "aFrameId", &K::aSwipeStartPosition, "aSwipeStartPosition"},
    {&K::aFrameId, "aFrameId", &K::aCircleDuration, "aCircleDuration"},
    {&K::aFrameId, "aFrameId", &K::aCircleState, "aCircleState"},
    {&K::aFrameId, "aFrameId", &K::aCircleCenter, "aCircleCenter"},
    {&K::aFrameId, "aFrameId", &K::aCircleNormal, "aCircleNormal"},
    {&K::aFrameId, "aFrameId", &K::aCircleProgress, "aCircleProgress"},
    {&K::aFrameId, "aFrameId", &K::aCircleRadius, "aCircleRadius"},
    {&K::aFrameId, "aFrameId", &K::aScreenTapDuration, "aScreenTapDuration"},
    {&K::aFrameId, "aFrameId", &K::aScreenTapState, "aScreenTapState"},
    {&K::aFrameId, "aFrameId", &K::aScreenTapDirection, "aScreenTapDirection"},
    {&K::aFrameId, "aFrameId", &K::aScreenTapPosition, "aScreenTapPosition"},
    {&K::aFrameId, "aFrameId", &K::aKeyTapDuration, "aKeyTapDuration"},
    {&K::aFrameId, "aFrameId", &K::aKeyTapState, "aKeyTapState"},
    {&K::aFrameId, "aFrameId", &K::aKeyTapDirection, "aKeyTapDirection"},
    {&K::aFrameId, "aFrameId", &K::aKeyTapPosition, "aKeyTapPosition"},
};

// The plugs compute serves: every gesture output row (compounds and their children), that is
// every output but frameId.
bool isGestureOutput(const RPlug& plug) {
    for (const AttributeRow& row : kAttributes) {
        if ((row.role == Role::kChild || row.role == Role::kCompound ||
             (row.role == Role::kOutput && row.handle != &K::aFrameId)) &&
            plug == *row.handle) {
            return true;
        }
    }
    return false;
}

}  // namespace

const RTypeId KivoGesturesNode::id{0x94618};

RObject KivoGesturesNode::aScale;
RObject KivoGesturesNode::aOffset;
RObject KivoGesturesNode::aRelativeToCamera;
RObject KivoGesturesNode::aRelativeToCameraPos;
RObject KivoGesturesNode::aFrameId;
RObject KivoGesturesNode::aSwipeDuration;
RObject KivoGesturesNode::aSwipeState;
RObject KivoGesturesNode::aSwipeDirectionX;
RObject KivoGesturesNode::aSwipeDirectionY;
RObject KivoGesturesNode::aSwipeDirectionZ;
RObject KivoGesturesNode::aSwipeDirection;
RObject KivoGesturesNode::aSwipePositionX;
RObject KivoGesturesNode::aSwipePositionY;
RObject KivoGesturesNode::aSwipePositionZ;
RObject KivoGesturesNode::aSwipePosition;
RObject KivoGesturesNode::aSwipeSpeed;
RObject KivoGesturesNode::aSwipeStartPositionX;
RObject KivoGesturesNode::aSwipeStartPositionY;
RObject KivoGesturesNode::aSwipeStartPositionZ;
RObject KivoGesturesNode::aSwipeStartPosition;
RObject KivoGesturesNode::aCircleDuration;
RObject KivoGesturesNode::aCircleState;
RObject KivoGesturesNode::aCircleCenterX;
RObject KivoGesturesNode::aCircleCenterY;
RObject KivoGesturesNode::aCircleCenterZ;
RObject KivoGesturesNode::aCircleCenter;
RObject KivoGesturesNode::aCircleNormalX;
RObject KivoGesturesNode::aCircleNormalY;
RObject KivoGesturesNode::aCircleNormalZ;
RObject KivoGesturesNode::aCircleNormal;
RObject KivoGesturesNode::aCircleProgress;
RObject KivoGesturesNode::aCircleRadius;
RObject KivoGesturesNode::aScreenTapDuration;
RObject KivoGesturesNode::aScreenTapState;
RObject KivoGesturesNode::aScreenTapDirectionX;
RObject KivoGesturesNode::aScreenTapDirectionY;
RObject KivoGesturesNode::aScreenTapDirectionZ;
RObject KivoGesturesNode::aScreenTapDirection;
RObject KivoGesturesNode::aScreenTapPositionX;
RObject KivoGesturesNode::aScreenTapPositionY;
RObject KivoGesturesNode::aScreenTapPositionZ;
RObject KivoGesturesNode::aScreenTapPosition;
RObject KivoGesturesNode::aKeyTapDuration;
RObject KivoGesturesNode::aKeyTapState;
RObject KivoGesturesNode::aKeyTapDirectionX;
RObject KivoGesturesNode::aKeyTapDirectionY;
RObject KivoGesturesNode::aKeyTapDirectionZ;
RObject KivoGesturesNode::aKeyTapDirection;
RObject KivoGesturesNode::aKeyTapPositionX;
RObject KivoGesturesNode::aKeyTapPositionY;
RObject KivoGesturesNode::aKeyTapPositionZ;
RObject KivoGesturesNode::aKeyTapPosition;

KivoGesturesNode::~KivoGesturesNode() {
    destroyMemoryPools();
}

void* KivoGesturesNode::createInstance() {
    return static_cast<RPxNode*>(new KivoGesturesNode);
}

Kivo::Controller& KivoGesturesNode::gestureController() {
    static Kivo::Controller controller;
    return controller;
}

RStatus KivoGesturesNode::initializeAttributes() {
    RFnNumericAttribute numeric;
    RStatus status;

    for (std::size_t index = 0; index < std::size(kAttributes); ++index) {
        const AttributeRow& row = kAttributes[index];
        if (row.role == Role::kCompound) {
            *row.handle = numeric.create(
                row.longName, row.shortName, *kAttributes[index - 3].handle,
                *kAttributes[index - 2].handle, *kAttributes[index - 1].handle, &status);
        } else {
            *row.handle =
                numeric.create(row.longName, row.shortName, row.type, row.defaultValue, &status);
        }
        if (!succeededOrReport(status, row.creationFailure)) {
            return RStatus::kFailure;
        }
        if (row.role == Role::kInput) {
            checkConfigure(numeric.setHidden(false));
            checkConfigure(numeric.setKeyable(true));
            checkConfigure(numeric.setStorable(true));
        }
        if (row.role != Role::kChild && !addAttributeOrReport(*row.handle, row.longName)) {
            return RStatus::kFailure;
        }
    }

    for (const Dependency& dependency : kDependencies) {
        if (!attributeAffectsOrReport(*dependency.source, dependency.sourceName,
                                      *dependency.destination, dependency.destinationName)) {
            return RStatus::kFailure;
        }
    }

    const Kivo::Controller& controller = gestureController();
    for (const int type : {kScreenTap, kKeyTap, kCircle, kSwipe}) {
        controller.enableGesture(type, true);
    }
    return RStatus::kSuccess;
}

void KivoGesturesNode::postConstructor() {
    RObjectArray refreshAttributes;
    refreshAttributes.append(aFrameId);
    setRefreshOutputAttributes(refreshAttributes);
    createMemoryPools(kPoolSlots, kPoolBuffers, sizeof(GestureFrameData));
}

void KivoGesturesNode::stopDeviceThread() {
    setDone(true);
}

void KivoGesturesNode::runDeviceThread() {
    setDone(false);
    const Kivo::Controller& controller = gestureController();
    // Every pass ends at isDone. A pass that acquired no pool slot is one with nothing to do,
    // and the host's isDone waits briefly before answering it, so no sleep is needed here;
    // testing for a new frame before acquiring keeps an idle pass from acquiring anything.
    while (!isDone()) {
        if (!isLive() || !controller.isConnected()) {
            continue;
        }
        const Kivo::Frame frame = controller.frame(0);
        if (!frame.isValid() || frame == m_lastFrame) {
            continue;
        }
        RCharBuffer buffer;
        if (acquireDataStorage(buffer).error()) {
            // m_lastFrame stays: the next record carries this frame's gestures too.
            continue;
        }
        beginThreadLoop();
        if (buffer.ptr() == nullptr || buffer.size() < sizeof(GestureFrameData)) {
            releaseDataStorage(buffer);
            endThreadLoop();
            continue;
        }
        GestureFrameData record;
        fillGestureData(record, frame, m_lastFrame);
        m_lastFrame = frame;
        std::memcpy(buffer.ptr(), &record, sizeof record);
        pushThreadData(buffer);
        endThreadLoop();
    }
    setDone(true);
}

void KivoGesturesNode::fillGestureData(GestureFrameData& record, const Kivo::Frame& frame,
                                       const Kivo::Frame& lastFrame) {
    record.reset();
    record.frameId = frame.id();
    const Kivo::GestureList gestures =
        lastFrame.isValid() ? frame.gestures(lastFrame) : frame.gestures();

    for (std::int32_t index = 0; index < gestures.count(); ++index) {
        const Kivo::Gesture gesture = gestures[index];
        switch (static_cast<int>(gesture.type())) {
            case kScreenTap: {
                const Kivo::ScreenTapGesture tap(gesture);
                ScreenTapData data;
                data.direction = unitSceneVector(tap.direction());
                data.duration = tap.duration();
                data.position = toSceneVector(tap.position());
                data.state = tap.state();
                keepNewest(record.screenTaps, data);
                break;
            }
            case kKeyTap: {
                const Kivo::KeyTapGesture tap(gesture);
                KeyTapData data;
                data.direction = unitSceneVector(tap.direction());
                data.duration = tap.duration();
                data.position = toSceneVector(tap.position());
                data.state = tap.state();
                keepNewest(record.keyTaps, data);
                break;
            }
            case kSwipe: {
                const Kivo::SwipeGesture swipe(gesture);
                SwipeData data;
                data.direction = unitSceneVector(swipe.direction());
                data.duration = swipe.duration();
                data.position = toSceneVector(swipe.position());
                data.speed = swipe.speed();
                data.startPosition = toSceneVector(swipe.startPosition());
                data.state = swipe.state();
                keepNewest(record.swipes, data);
                break;
            }
            case kCircle: {
                const Kivo::CircleGesture circle(gesture);
                CircleData data;
                data.center = toSceneVector(circle.center());
                data.duration = circle.duration();
                data.normal = unitSceneVector(circle.normal());
                data.progress = circle.progress();
                data.radius = circle.radius();
                data.state = circle.state();
                keepNewest(record.circles, data);
                break;
            }
            default:
                break;
        }
    }
}

RStatus KivoGesturesNode::writeMappedVector(RDataBlock& data, const RObject& attribute,
                                            const RVector& value, const SceneMapping& mapping,
                                            bool skip) {
    RStatus status;
    RDataHandle handle = data.outputValue(attribute, &status);
    if (status.error()) {
        status.perror("Error in block.outputValue");
        return RStatus::kFailure;
    }
    if (skip) {
        handle.setClean();
        return RStatus::kSuccess;
    }
    // A half turn about +Y placed at the value; only its translation row reaches the output.
    RMatrix placed = frameFromAxes(RVector(0.0, 1.0, 0.0), RVector(0.0, 0.0, -1.0), value);
    placeTransform(placed, mapping);
    handle.set(placed[3][0], placed[3][1], placed[3][2]);
    handle.setClean();
    return RStatus::kSuccess;
}

namespace {

// The first gesture a record kept of one type, taken out of its queue; a new element (state
// -1) when there is none.
template <class Queue>
auto takeOldest(Queue& queue, bool& present) {
    std::remove_cvref_t<decltype(queue.front())> element{};
    present = !queue.empty();
    if (present) {
        element = queue.front();
        queue.pop();
    }
    return element;
}

// Writes a scalar output only when its type is present; marks it clean either way.
template <class Value>
void writeScalar(RDataBlock& data, const RObject& attribute, Value value, bool present) {
    RDataHandle handle = data.outputValue(attribute);
    if (present) {
        handle.set(value);
    }
    handle.setClean();
}

void writeState(RDataBlock& data, const RObject& attribute, std::int32_t state) {
    RDataHandle handle = data.outputValue(attribute);
    handle.set(static_cast<short>(state));
    handle.setClean();
}

}  // namespace

RStatus KivoGesturesNode::compute(const RPlug& plug, RDataBlock& data) {
    if (!isGestureOutput(plug)) {
        return RStatus::kUnknownParameter;
    }
    RCharBuffer buffer;
    const bool popped = !popThreadData(buffer).error();
    if (popped && (buffer.ptr() == nullptr || buffer.size() < sizeof(GestureFrameData))) {
        releaseDataStorage(buffer);
        return RStatus::kFailure;
    }
    if (!popped && !m_shown.any()) {
        return RStatus::kFailure;
    }

    SceneMapping mapping;
    mapping.scale = data.inputValue(aScale).asDouble();
    const double3& offset = data.inputValue(aOffset).asDouble3();
    mapping.offset = RVector(offset[0], offset[1], offset[2]);
    mapping.relativeToCamera = data.inputValue(aRelativeToCamera).asBool();
    const bool withPosition = data.inputValue(aRelativeToCameraPos).asBool();
    mapping.cameraFrame = mapping.relativeToCamera ? cameraFrame(withPosition) : RMatrix::identity;

    const bool show = m_shown.take(popped ? buffer.ptr() : nullptr, mapping);
    if (popped) {
        releaseDataStorage(buffer);
    }
    if (!show) {
        return RStatus::kFailure;  // nothing new to show
    }
    // Each output takes its type's oldest gesture out of a copy: showing the record again shows
    // the same gestures.
    GestureFrameData record = m_shown.record();

    // The low 32 bits of the device's 64-bit values.
    const auto low32 = [](std::int64_t value) { return static_cast<std::int32_t>(value); };

    RDataHandle frameIdHandle = data.outputValue(aFrameId);
    frameIdHandle.set(static_cast<int>(low32(record.frameId)));
    frameIdHandle.setClean();

    bool present = false;
    const SwipeData swipe = takeOldest(record.swipes, present);
    writeState(data, aSwipeState, swipe.state);
    writeScalar(data, aSwipeDuration, static_cast<int>(low32(swipe.duration)), present);
    writeMappedVector(data, aSwipeDirection, swipe.direction, mapping, !present);
    writeMappedVector(data, aSwipePosition, swipe.position, mapping, !present);
    writeScalar(data, aSwipeSpeed, swipe.speed, present);
    writeMappedVector(data, aSwipeStartPosition, swipe.startPosition, mapping, !present);

    const CircleData circle = takeOldest(record.circles, present);
    writeState(data, aCircleState, circle.state);
    writeScalar(data, aCircleDuration, static_cast<int>(low32(circle.duration)), present);
    writeMappedVector(data, aCircleCenter, circle.center, mapping, !present);
    writeMappedVector(data, aCircleNormal, circle.normal, mapping, !present);
    writeScalar(data, aCircleProgress, circle.progress, present);
    writeScalar(data, aCircleRadius,
                static_cast<float>(static_cast<double>(circle.radius) * mapping.scale), present);

    const ScreenTapData screenTap = takeOldest(record.screenTaps, present);
    writeState(data, aScreenTapState, screenTap.state);
    writeScalar(data, aScreenTapDuration, static_cast<int>(low32(screenTap.duration)), present);
    writeMappedVector(data, aScreenTapDirection, screenTap.direction, mapping, !present);
    writeMappedVector(data, aScreenTapPosition, screenTap.position, mapping, !present);

    const KeyTapData keyTap = takeOldest(record.keyTaps, present);
    writeState(data, aKeyTapState, keyTap.state);
    writeScalar(data, aKeyTapDuration, static_cast<int>(low32(keyTap.duration)), present);
    writeMappedVector(data, aKeyTapDirection, keyTap.direction, mapping, !present);
    writeMappedVector(data, aKeyTapPosition, keyTap.position, mapping, !present);

    data.setClean(plug);
    return RStatus::kSuccess;
}

}  // namespace kivo_rova
