#pragma once
#include <cstdint>
#include <type_traits>

#include "device/DeviceApi.h"
#include "host/HostApi.h"
#include "tracking/GestureQueue.h"
#include "tracking/SceneMapping.h"
#include "tracking/ShownRecord.h"

namespace kivo_rova {

// One gesture update of each kind as the data thread hands it to compute. Every record starts
// with the gesture's duration (the device's unit, passed through), its state (the device's
// value; -1 in a new record, which compute shows as "no gesture of this type") and its device
// type. Vectors are the device's floats widened to doubles; directions and normals have unit
// length (zero stays zero).
struct SwipeData {
    std::int64_t duration = 0;
    std::int32_t state = -1;
    std::int32_t type = 1;
    RVector direction;
    RVector position;
    float speed = 0.0F;
    RVector startPosition;
};

struct CircleData {
    std::int64_t duration = 0;
    std::int32_t state = -1;
    std::int32_t type = 4;
    RVector center;
    RVector normal;
    float progress = 0.0F;
    float radius = 0.0F;
};

struct ScreenTapData {
    std::int64_t duration = 0;
    std::int32_t state = -1;
    std::int32_t type = 5;
    RVector direction;
    RVector position;
};

struct KeyTapData {
    std::int64_t duration = 0;
    std::int32_t state = -1;
    std::int32_t type = 6;
    RVector direction;
    RVector position;
};

// Everything one device frame contributes: the gestures reported since the previously pushed
// frame, the last ten of each type in the order the device listed them. A flat value copied
// into a pool slot as bytes; its size is the pool's slot size.
struct GestureFrameData {
    std::int64_t frameId = -1;  // id of the frame handled; -1 after reset()
    GestureQueue<SwipeData> swipes;
    GestureQueue<CircleData> circles;
    GestureQueue<ScreenTapData> screenTaps;
    GestureQueue<KeyTapData> keyTaps;

    void reset() noexcept {
        frameId = -1;
        swipes.clear();
        circles.clear();
        screenTaps.clear();
        keyTaps.clear();
    }
};
static_assert(sizeof(GestureFrameData) == 3032, "the pool's slot size is part of the node");
static_assert(std::is_trivially_copyable_v<GestureFrameData>);

// The device's recognised gestures as graph outputs. A data thread of its own collects, for
// every new device frame, the swipe, circle, screen-tap and key-tap updates reported since the
// frame it pushed before, and pushes them as one GestureFrameData; compute pops one record and
// shows the oldest gesture it kept of each type. Positions, directions and normals are placed
// with the same scale, offset and camera as the hand-tracking node's transforms; the circle's
// radius is only scaled; speed and progress pass unchanged.
//
// Outputs of a type whose record holds no gesture: the state reads -1 and every other output of
// that type keeps its last value. frameId and the durations show the low 32 bits of the device's
// 64-bit values. All nodes of this type share one device connection, opened when the type is
// initialised (which also switches on the four gesture types) and closed at library unload.
class KivoGesturesNode : public RPxThreadedDeviceNode {
  public:
    static const RTypeId id;

    // Inputs.
    static RObject aScale;
    static RObject aOffset;
    static RObject aRelativeToCamera;  // long name relativeToCameraRot
    static RObject aRelativeToCameraPos;
    // The refresh attribute: written by every computed gesture output, never computed alone.
    static RObject aFrameId;
    // Swipe outputs.
    static RObject aSwipeDuration;
    static RObject aSwipeState;
    static RObject aSwipeDirectionX, aSwipeDirectionY, aSwipeDirectionZ, aSwipeDirection;
    static RObject aSwipePositionX, aSwipePositionY, aSwipePositionZ, aSwipePosition;
    static RObject aSwipeSpeed;
    static RObject aSwipeStartPositionX, aSwipeStartPositionY, aSwipeStartPositionZ,
        aSwipeStartPosition;
    // Circle outputs.
    static RObject aCircleDuration;
    static RObject aCircleState;
    static RObject aCircleCenterX, aCircleCenterY, aCircleCenterZ, aCircleCenter;
    static RObject aCircleNormalX, aCircleNormalY, aCircleNormalZ, aCircleNormal;
    static RObject aCircleProgress;
    static RObject aCircleRadius;
    // Screen-tap outputs.
    static RObject aScreenTapDuration;
    static RObject aScreenTapState;
    static RObject aScreenTapDirectionX, aScreenTapDirectionY, aScreenTapDirectionZ,
        aScreenTapDirection;
    static RObject aScreenTapPositionX, aScreenTapPositionY, aScreenTapPositionZ,
        aScreenTapPosition;
    // Key-tap outputs.
    static RObject aKeyTapDuration;
    static RObject aKeyTapState;
    static RObject aKeyTapDirectionX, aKeyTapDirectionY, aKeyTapDirectionZ, aKeyTapDirection;
    static RObject aKeyTapPositionX, aKeyTapPositionY, aKeyTapPositionZ, aKeyTapPosition;

    KivoGesturesNode() = default;
    // Destroys the memory pool; the host has joined the data thread before.
    ~KivoGesturesNode() override;

    // Names frameId as the refresh attribute and creates the pool (24 slots of one record).
    // Failures are left to show later: a node without a pool gets no data.
    void postConstructor() override;
    // Serves the gesture outputs (the compounds and their children), all from one popped
    // record; answers kUnknownParameter for any other plug, frameId included. With nothing
    // pushed since the last evaluation it shows the last record again when the mapping inputs
    // changed since, and otherwise fails, touching no output.
    RStatus compute(const RPlug& plug, RDataBlock& data) override;
    // Pushes one record per new device frame until isDone(). Adds no waiting of its own: a pass
    // that acquires nothing (not live, device unplugged, no new frame, pool full) is paced by
    // the host's isDone.
    void runDeviceThread() override;
    // Only raises the done flag; never blocks.
    void stopDeviceThread() override;

    static void* createInstance();
    // Creates the attributes and their dependencies, then switches on the four gesture types
    // on the type's device connection.
    static RStatus initializeAttributes();

  private:
    // The device connection shared by every node of this type; opened on the first call.
    static Kivo::Controller& gestureController();
    // The record for `frame`: its id and the gestures since `lastFrame` (only the frame's own
    // when `lastFrame` is invalid).
    static void fillGestureData(GestureFrameData& record, const Kivo::Frame& frame,
                                const Kivo::Frame& lastFrame);
    // Writes `value`, placed with `mapping`, to the three-double output `attribute`; with
    // `skip` only marks it clean. A failed output handle is reported and the output stays dirty.
    static RStatus writeMappedVector(RDataBlock& data, const RObject& attribute,
                                     const RVector& value, const SceneMapping& mapping, bool skip);

    Kivo::Frame m_lastFrame;  // the last frame whose gestures were pushed; data thread only
    ShownRecord<GestureFrameData> m_shown;
};

}  // namespace kivo_rova
