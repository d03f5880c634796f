#pragma once
#include "host/HostApi.h"
#include "tracking/SceneMapping.h"
#include "tracking/TrackingRecord.h"

namespace kivo_rova {

class KivoManager;

// Palm and pointable transforms of up to two hands, and of the frame's first fifteen pointables,
// as node outputs. The data thread reads the newest device frame through the node's own device
// manager, builds the transforms in device space (TrackingRecord) and pushes them through the
// pool; compute pops one record, places every transform in the scene (scale, offset, optionally
// relative to the active camera; SceneMapping) and writes all 58 outputs at once.
//
// Threads: the main thread constructs, computes and destroys; the host's data thread runs
// runDeviceThread; the manager's callbacks (SDK thread) only ask isLive. The host stops and joins
// the data thread before the node is destroyed, so the destructor may delete the manager whose
// controller the loop reads.
class KivoTransformNode : public RPxThreadedDeviceNode {
  public:
    static const RTypeId id;

    // A matrix output and its "Enabled" flag: the flag says whether the matrix holds this
    // frame's data; a matrix whose flag is false keeps its last value.
    struct TransformOutput {
        RObject matrix;
        RObject enabled;
    };
    // The outputs of one hand: its palm, its first five pointables and their count.
    struct HandOutputs {
        TransformOutput palm;
        TransformOutput pointables[HandRecord::kMaxPointables];
        RObject count;
    };
    // The outputs of the frame's own pointable list: the first fifteen and their count.
    struct PointableOutputs {
        TransformOutput pointables[TrackingRecord::kMaxPointables];
        RObject count;
    };

    static RObject scale;                // double, default 0.05
    static RObject offset;               // three doubles
    static RObject relativeToCameraRot;  // bool: carry the outputs with the active camera
    static RObject relativeToCameraPos;  // bool: ... including its position (needs the above)
    static HandOutputs handOutputs[TrackingRecord::kMaxHands];
    static PointableOutputs pointableOutputs;  // pointables[0].matrix is the refresh attribute
    static RObject frameTime;                  // double, the shown frame's device time in seconds

    // Opens the node's own device connection (its manager), listening at once.
    KivoTransformNode();
    // Deletes the manager (it stops listening and closes its connection), then the pools. The
    // host has joined the data thread before.
    ~KivoTransformNode() override;
    KivoTransformNode(const KivoTransformNode&) = delete;
    KivoTransformNode& operator=(const KivoTransformNode&) = delete;

    // Names outputPointable0 as the refresh attribute (a failure is reported and construction
    // goes on) and creates the pool: five slots of one TrackingRecord, one of them kept by compute
    // for the record it shows.
    void postConstructor() override;
    // Serves the 58 outputs (5 for any other plug) from one popped record. With no record
    // waiting it places the last record again when the mapping inputs changed since, and
    // otherwise answers 1, leaving every output as it is. Always call from the main thread.
    RStatus compute(const RPlug& plug, RDataBlock& data) override;
    // Pushes one record for each new device frame (by frame id) while the node is live and the
    // device connected; with nothing new the loop leaves the pacing to isDone. Writes "Exiting
    // kivo thread loop..." to standard error when it ends.
    void runDeviceThread() override;
    // Only raises the done flag; never blocks.
    void stopDeviceThread() override;

    // The node's device manager (null only while the node is being destroyed).
    KivoManager* manager() const { return m_manager; }

    static void* createInstance();
    static RStatus initializeAttributes();

  private:
    KivoManager* m_manager = nullptr;
    // The pool slot of the record shown last, kept until a newer record is popped, and the
    // mapping it was placed with. Compute reads the transforms where the data thread wrote them
    // instead of copying the record out first; the idle loop pushes nothing, so a mapping changed
    // meanwhile places the kept record again. Main thread only.
    RCharBuffer m_shownSlot;
    SceneMapping m_shownMapping;
};

}  // namespace kivo_rova
