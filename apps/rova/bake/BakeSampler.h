#pragma once
// Steps the scene over a range of frames and samples what a bake names.
#include <functional>
#include <string>
#include <vector>

#include "BakeTake.h"
#include "rovahost/Host.h"

namespace rova::bake {

struct BakeRequest {
    long long startFrame = 0;
    long long frames = 0;
    bool replay = false;  // each frame also advances a lockstep device replay by one frame
    // Objects (a transform or its shape: the pose, and the mesh when there is one) and plugs
    // (node.attribute), in the order given; each at most once.
    std::vector<std::string> items;
};

// Every frame: set the scene time, advance the replay when asked, run one host tick, then sample.
// Names are checked before the first step, so a bad name changes nothing. `progress` hears the
// number of frames done.
host::Result<BakeTake> sampleBake(host::Host& host, const BakeRequest& request,
                                  const std::function<void(long long)>& progress);

}  // namespace rova::bake
