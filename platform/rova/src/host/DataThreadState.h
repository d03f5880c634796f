#pragma once
// The scheduling state of one threaded device node: the pool of record slots its data loop fills
// and the host reads, and the pass bookkeeping by which a host tick waits for the loop.
//
// Contract:
// - Three parties touch it: the main thread (starts and stops the loop, reads records, ticks), the
//   node's data thread (acquires and pushes slots, calls isDone between passes), and any thread
//   that reports a data change. Atomics are read without the lock; every other field is guarded by
//   `mutex` unless its comment says "data thread only" or "main thread only".
// - A slot moves kFree -> kFilling (the loop acquired it) -> kQueued (pushed, in `queue`, oldest
//   first) -> kReading (the host took it for a read) -> kFree (freeSlot). Its bytes belong to
//   whoever holds it in that state; `storage` is laid out afresh only while every slot is free.
// - A pass is the loop's work between two isDone calls; `passes` counts those completed. A tick
//   that needs a pass raises `passRequests` and `passTarget` and waits on `passDone` until
//   `passes` reaches the target; a requested pass is never slowed by naps or waits for a slot.
// - A loop that handed nothing over naps (`idleNap`) and records the change count it read at;
//   readEverythingAt tells a tick that waking it would find nothing new.
// - `wokenWaits`, `timedOutWaits` and `blockedNow` count the loop's waits for tests and status;
//   `waitBegan` signals each wait as it starts, so a test can await one without sleeping.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "rovahost/Host.h"

namespace rova::detail {

struct ThreadState {
    std::mutex mutex;
    std::condition_variable wake;
    std::atomic<bool> done{false};
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> live{false};
    std::atomic<bool> pushed{false};
    std::atomic<std::uint64_t> acquired{0};
    std::uint64_t acquiredSeenByIsDone = 0;  // data thread only
    std::uint64_t freed = 0;                 // guarded by mutex: slots handed back so far
    std::uint64_t freedSeenByIsDone = 0;     // data thread only
    // The loop waits for a slot, or found none on its last try: only then is a slot handed back
    // worth waking it for. Guarded by mutex.
    bool wantsRoom = false;
    std::thread thread;
    bool running = false;  // main thread only

    enum SlotState : unsigned char { kFree, kFilling, kQueued, kReading };
    std::vector<char> storage;  // guarded by mutex (layout), slot contents by ownership
    std::size_t slotSize = 0;
    std::vector<SlotState> slots;
    std::deque<int> queue;  // pushed slots, oldest first
    std::vector<int> freeSlots;
    // Which record popThreadData hands out (see rovahost/Host.h, PoolOrder); set from the node
    // type's setting when the pool is made.
    host::PoolOrder order = host::PoolOrder::kNewest;
    std::size_t orderDepth = 2;  // kOldest: records kept queued at most
    // Passes of the data loop (completed isDone calls) and the ticks' requests for a pass: a
    // requested pass is not slowed by naps or waits for a slot. Guarded by mutex; `passes` is
    // changed under it, and read without it by a tick that spins before it waits.
    std::atomic<std::uint64_t> passes{0};
    std::uint64_t passRequests = 0;
    std::uint64_t passRequestsSeen = 0;  // data thread: requests answered by an isDone
    std::uint64_t passTarget = 0;        // a tick waits until passes reach it: nothing waits before
    bool betweenPasses = false;          // the loop is in isDone: its next pass begins after now
    // The host's count of reported data changes when the current pass began (data thread), and,
    // while the loop naps after a pass that handed nothing over (idleNap), that pass's count and
    // the slots freed when it ended: a tick need not wake a loop whose nap began after the newest
    // change, unless it waits for a slot and one was freed since. Guarded by mutex.
    static constexpr std::uint64_t kNoPass = ~std::uint64_t{0};
    std::uint64_t passEpoch = kNoPass;
    bool idleNap = false;
    std::uint64_t napEpoch = 0;
    std::uint64_t napFreed = 0;
    // The loop read what there was at `epoch`, handed nothing over and waits for nothing a tick
    // would give it: another pass would find nothing new.
    bool readEverythingAt(std::uint64_t epoch) const {
        return idleNap && napEpoch == epoch && (!wantsRoom || napFreed == freed) &&
               passRequests == passRequestsSeen;
    }
    std::condition_variable passDone;
    bool loopEnded = false;  // guarded by mutex: runDeviceThread returned
    std::atomic<std::uint64_t> wokenWaits{0};
    std::atomic<std::uint64_t> timedOutWaits{0};
    std::atomic<std::uint64_t> blockedNow{0};  // threads inside a wait at this moment
    std::condition_variable waitBegan;         // guarded by mutex: blockedNow went up
    std::string poolFailure;                   // main thread: why the last createMemoryPools failed
    bool noPoolReported = false;               // main thread: the missing pool was reported
};

// Hands a slot back to the pool's free list. The caller holds the state's mutex.
inline void freeSlot(ThreadState& state, int slot) {
    state.slots[static_cast<std::size_t>(slot)] = ThreadState::kFree;
    state.freeSlots.push_back(slot);
    ++state.freed;
}

}  // namespace rova::detail
