#pragma once
#include "host/HostApi.h"

namespace kivo_rova {

// Wall-clock time as a graph input, independent of the scene time. The node's data thread
// samples a monotonic counter and pushes one RealTimeRecord per free pool slot; compute pops
// one record and writes both outputs, scaled by `rate`:
//     elapsedTime = seconds since the data thread started * rate
//     deltaTime   = seconds between that sample and the one pushed before it * rate
class RealTimeNode : public RPxThreadedDeviceNode {
  public:
    static const RTypeId id;

    static RObject rate;         // double, input
    static RObject deltaTime;    // double, output
    static RObject elapsedTime;  // double, output; the refresh attribute

    RealTimeNode() = default;
    // Destroys the memory pools; the host has joined the data thread before.
    ~RealTimeNode() override;

    // Names elapsedTime as the refresh attribute and creates the pools (five 16-byte slots).
    void postConstructor() override;
    // Serves elapsedTime and deltaTime, both from one popped record; fails, leaving the
    // outputs as they are, when no record has been pushed since the last evaluation.
    RStatus compute(const RPlug& plug, RDataBlock& data) override;
    // Samples the clock until isDone(). The pacing comes from the host: acquireDataStorage and
    // isDone wait a bounded time while there is nothing to do.
    void runDeviceThread() override;
    // Only raises the done flag; never blocks.
    void stopDeviceThread() override;

    static void* createInstance();
    static RStatus initializeAttributes();
};

}  // namespace kivo_rova
