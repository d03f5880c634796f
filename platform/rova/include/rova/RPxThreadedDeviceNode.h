#pragma once
#include <cstddef>

#include "rova/RCharBuffer.h"
#include "rova/RObject.h"
#include "rova/RPxNode.h"

// A node fed by a data thread. While the inherited attribute `live` is true the host runs
// runDeviceThread on a thread of its own; clearing `live`, deleting the node, unloading its
// plug-in and host exit call stopDeviceThread and join the thread before anything else.
//
// A `live` fed through a connection takes its value when something reads it, and at the latest
// at the next host tick, which starts or stops the thread as a set would.
//
// Memory pool: createMemoryPools(slots, buffers, slotSize) makes slots * buffers fixed-size
// slots (at most 65536 of at most 64 MiB, 1 GiB in all); it is refused while a slot is held
// (acquired and not pushed, or popped and not released), and so is destroyMemoryPools, which
// then says so on standard error and keeps the pool. A buffer is taken back only by the pool
// that handed it out, in the state it was handed out in. The data thread takes a free slot with
// acquireDataStorage, fills it and hands it over with pushThreadData; compute takes one with
// popThreadData and returns it with releaseDataStorage. popThreadData returns the NEWEST pushed
// record and recycles the older ones still queued, so outputs always show the latest data. Starting
// the data thread (live turning true) discards records still queued from an earlier run, so the
// first read after a restart shows the new run's data. acquireDataStorage waits a short, bounded
// time for a slot when all are taken, and isDone waits briefly when the loop made no progress since
// it last asked, so a data thread with nothing to do does not burn a core. Both waits end at once
// when setDone(true) is called, the host stops the thread, or popThreadData/releaseDataStorage hand
// a slot back, so a freed slot is refilled without delay.
class ROVA_API RPxThreadedDeviceNode : public RPxNode {
  public:
    static RObject live;       // bool, input
    static RObject frameRate;  // double, input

    RPxThreadedDeviceNode();
    ~RPxThreadedDeviceNode() override;

    // The data thread's body. Must return soon after isDone() turns true.
    virtual void runDeviceThread();
    // Asks the data thread to end; must not block. The default calls setDone(true).
    virtual void stopDeviceThread();

    RStatus setRefreshOutputAttributes(RObjectArray& attributes);
    RStatus createMemoryPools(unsigned int bufferSize, unsigned int numberOfBuffers,
                              std::size_t bufferSizeInBytes);
    void destroyMemoryPools();

    RStatus beginThreadLoop();
    RStatus endThreadLoop();
    bool isDone();
    void setDone(bool done);
    bool isLive() const;

    RStatus acquireDataStorage(RCharBuffer& buffer);
    RStatus pushThreadData(RCharBuffer& buffer);
    RStatus popThreadData(RCharBuffer& buffer);
    RStatus releaseDataStorage(RCharBuffer& buffer);
};
