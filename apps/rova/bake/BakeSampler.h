#pragma once
// Steps the scene over a range of frames and samples what a bake names.
#include <functional>
#include <string>
#include <vector>

#include "BakeTake.h"
#include "rovahost/Host.h"

namespace rova::bake {

// Frames a bake can step: numbered within +-2^53 (every one a distinct double), at most
// kMaxBakeFrames of them (over four days at 24 fps; a take holds a pose per frame).
inline constexpr long long kMaxBakeFrameNumber = 1LL << 53;
inline constexpr long long kMaxBakeFrames = 10'000'000;

struct BakeRequest {
    long long startFrame = 0;
    long long frames = 0;
    double fps = 24.0;    // the bake's rate: the scene runs at it from the first frame on
    double unit = 1.0;    // output lengths per scene unit
    bool metres = false;  // the output is in metres (unit: metres per scene unit)
    bool replay = false;  // each frame also advances a lockstep device replay by one frame
    // Objects (a transform or its shape: the pose, and the mesh when there is one) and plugs
    // (node.attribute), in the order given; each at most once.
    std::vector<std::string> items;
    // kivoTransform nodes whose first hand is baked as a rig (SkinTrack).
    std::vector<std::string> skins;
};

// The node type whose outputs place tracked hands, and its attribute that maps device
// millimetres to scene units.
inline constexpr const char* kTrackingNodeType = "kivoTransform";
inline constexpr const char* kTrackingScale = "scale";

// The warnings a finished bake deserves, one line each without "warning: ": items that never
// changed, tracked outputs that never saw a hand, frames baked after the replay ended.
std::vector<std::string> bakeWarnings(const BakeTake& take);

// Takes each mesh's shapes as they are sampled, so that a take need not hold them.
class ShapeSink {
  public:
    virtual ~ShapeSink() = default;
    // Object `object`'s mesh at the first frame (the take keeps it too).
    virtual host::Status baseShape(std::size_t object, const MeshShape& shape) = 0;
    // A later shape unlike the one shown the frame before and unlike the base, numbered from 0
    // in the order they come.
    virtual host::Status laterShape(std::size_t object, const std::vector<Vec3>& points) = 0;
};

// Refuses frames whose times a glTF cannot key: every frame's time (frame / fps) must be finite
// and each key (seconds since the first frame, as a 32-bit float) later than the one before.
host::Status checkKeyTimes(long long startFrame, long long frames, double fps);

// Every frame: set the scene time, advance the replay when asked, run one host tick, then sample.
// With a replay, a frame's key time is the recorded time of what the replay delivered for it;
// frames after the replay ended (or without one) step on at the bake's rate.
// Names and key times are checked before the first step, so a bad request changes nothing. A pose
// or point that a glTF cannot hold (not finite as a 32-bit float) stops the bake. `afterFrame`
// hears the number of frames done after each is sampled; a failure it returns stops the bake.
host::Result<BakeTake> sampleBake(host::Host& host, const BakeRequest& request, ShapeSink& shapes,
                                  const std::function<host::Status(long long)>& afterFrame);

}  // namespace rova::bake
