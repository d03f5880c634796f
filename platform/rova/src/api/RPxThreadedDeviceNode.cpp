// RPxThreadedDeviceNode: the data thread's side and the fixed-size memory pool between it and
// compute.
#include "rova/RPxThreadedDeviceNode.h"

#include <algorithm>
#include <chrono>
#include <iostream>

#include "HostImpl.h"
#include "api/Access.h"
#include "host/DataThreadState.h"
#include "host/Diagnostics.h"
#include "host/Faults.h"
#include "model/Attributes.h"
#include "model/NodeRecords.h"
#include "model/Objects.h"
#include "model/Values.h"

using rova::detail::NodeRecord;
using rova::detail::ThreadState;

namespace {
std::chrono::milliseconds acquireWait() {
    return std::chrono::milliseconds(rova::detail::hostImpl().acquireWaitMs.load());
}
std::chrono::milliseconds idleWait() {
    return std::chrono::milliseconds(rova::detail::hostImpl().idleWaitMs.load());
}

// Waits until ready() holds or the limit passes, counting how the wait ended.
template <class Ready>
bool countedWait(ThreadState& state, std::unique_lock<std::mutex>& lock,
                 std::chrono::milliseconds limit, Ready ready) {
    if (ready())
        return true;
    ++state.blockedNow;
    state.waitBegan.notify_all();
    const bool woken = state.wake.wait_for(lock, limit, ready);
    --state.blockedNow;
    ++(woken ? state.wokenWaits : state.timedOutWaits);
    return woken;
}

RObject makeInherited(const char* longName, const char* shortName, rova::detail::ValueType type,
                      double value) {
    auto def = rova::detail::makeAttribute(longName, shortName, type);
    def->numericType =
        type == rova::detail::ValueType::kBool ? RFnNumericData::kBoolean : RFnNumericData::kDouble;
    def->defaultValue.setNumber(value);
    def->keyable = true;
    return rova::detail::Access::make(def);
}

ThreadState* stateOf(const RPxThreadedDeviceNode& node) {
    NodeRecord* record = rova::detail::NodeAccess::record(node);
    return record ? record->thread.get() : nullptr;
}

std::string nodeName(const RPxThreadedDeviceNode& node) {
    NodeRecord* record = rova::detail::NodeAccess::record(node);
    return record ? record->nameForAnyThread() : std::string("(unattached node)");
}

RStatus notAttached(const char* call) {
    return RStatus(
        RStatus::kFailure,
        std::string(call) +
            ": the node is not attached to the host yet (call it from postConstructor on)");
}

// Whether `buffer` holds the pool's slot `slot` and that slot is in the state `expected`: a
// buffer is taken back only as the pool handed it out. The bytes must be this pool's too: another
// node's pool hands out the same slot numbers. The caller holds the state's mutex.
bool slotOwnedAs(const ThreadState& state, const RCharBuffer& buffer,
                 ThreadState::SlotState expected, int slot) {
    if (slot < 0 || static_cast<std::size_t>(slot) >= state.slots.size() ||
        state.slots[static_cast<std::size_t>(slot)] != expected)
        return false;
    const std::size_t stride = state.storage.size() / state.slots.size();
    return buffer.ptr() == state.storage.data() + stride * static_cast<std::size_t>(slot) &&
           buffer.size() == state.slotSize;
}
}  // namespace

RObject RPxThreadedDeviceNode::live =
    makeInherited("live", "lv", rova::detail::ValueType::kBool, 0.0);
RObject RPxThreadedDeviceNode::frameRate =
    makeInherited("frameRate", "fr", rova::detail::ValueType::kDouble, 30.0);

RPxThreadedDeviceNode::RPxThreadedDeviceNode() = default;
RPxThreadedDeviceNode::~RPxThreadedDeviceNode() = default;

void RPxThreadedDeviceNode::runDeviceThread() {
    setDone(false);
    while (!isDone()) {
    }
    setDone(true);
}

void RPxThreadedDeviceNode::stopDeviceThread() {
    setDone(true);
}

RStatus RPxThreadedDeviceNode::setRefreshOutputAttributes(RObjectArray& attributes) {
    NodeRecord* record = rova::detail::NodeAccess::record(*this);
    if (!record)
        return notAttached("setRefreshOutputAttributes");
    if (rova::detail::faultArmed(rova::host::FaultPoint::kSetRefreshOutputAttributes, record->name))
        return rova::detail::injectedFailure(rova::host::FaultPoint::kSetRefreshOutputAttributes,
                                             record->name);
    std::vector<int> indices;
    for (unsigned int k = 0; k < attributes.length(); ++k) {
        const rova::detail::AttributeDef* def = rova::detail::attributeOf(attributes[k]);
        const int index = def ? record->type->indexOf(def) : -1;
        if (index < 0)
            return RStatus(RStatus::kInvalidParameter,
                           "setRefreshOutputAttributes: item " + std::to_string(k) +
                               " is not an attribute of node '" + record->name + "'");
        indices.push_back(index);
    }
    record->refreshAttributes = std::move(indices);
    return RStatus();
}

namespace {
constexpr std::size_t kMostSlots = 65536;
constexpr std::size_t kMostSlotBytes = std::size_t{1} << 26;
constexpr std::size_t kMostPoolBytes = std::size_t{1} << 30;

RStatus buildPools(ThreadState* state, const std::string& name, unsigned int bufferSize,
                   unsigned int numberOfBuffers, std::size_t bufferSizeInBytes) {
    if (rova::detail::faultArmed(rova::host::FaultPoint::kCreateMemoryPools, name))
        return rova::detail::injectedFailure(rova::host::FaultPoint::kCreateMemoryPools, name);
    const std::size_t slots = static_cast<std::size_t>(bufferSize) * numberOfBuffers;
    // Slots are padded to keep every record aligned for doubles.
    const std::size_t stride = (bufferSizeInBytes + 15) / 16 * 16;
    // Each limit alone still allows 4 TiB; the whole pool is bounded too, so that a request no
    // memory can meet is refused rather than thrown at the plug-in.
    if (slots == 0 || bufferSizeInBytes == 0 || slots > kMostSlots ||
        bufferSizeInBytes > kMostSlotBytes || stride * slots > kMostPoolBytes)
        return RStatus(RStatus::kInvalidParameter,
                       "createMemoryPools: node '" + name + "' asked for " + std::to_string(slots) +
                           " slots of " + std::to_string(bufferSizeInBytes) +
                           " bytes (at most 65536 slots of at most 64 MiB, 1 GiB in all)");
    std::lock_guard<std::mutex> lock(state->mutex);
    for (const auto slot : state->slots)
        if (slot == ThreadState::kFilling || slot == ThreadState::kReading)
            return RStatus(RStatus::kFailure,
                           "createMemoryPools: a slot of node '" + name + "' is still in use");
    state->slotSize = bufferSizeInBytes;
    state->storage.assign(stride * slots, 0);
    state->slots.assign(slots, ThreadState::kFree);
    state->queue.clear();
    state->freeSlots.clear();
    for (std::size_t k = slots; k-- > 0;) state->freeSlots.push_back(static_cast<int>(k));
    return RStatus();
}
}  // namespace

RStatus RPxThreadedDeviceNode::createMemoryPools(unsigned int bufferSize,
                                                 unsigned int numberOfBuffers,
                                                 std::size_t bufferSizeInBytes) {
    ThreadState* state = stateOf(*this);
    if (!state)
        return notAttached("createMemoryPools");
    const RStatus result =
        buildPools(state, nodeName(*this), bufferSize, numberOfBuffers, bufferSizeInBytes);
    // Kept for the host, which names the reason when the node's thread starts without a pool.
    state->poolFailure = result ? std::string() : result.errorString().str();
    const auto order =
        rova::detail::hostImpl().poolOrderOf(rova::detail::NodeAccess::record(*this)->type->name);
    std::lock_guard<std::mutex> lock(state->mutex);
    state->order = order.first;
    state->orderDepth = order.second;
    return result;
}

void RPxThreadedDeviceNode::destroyMemoryPools() {
    ThreadState* state = stateOf(*this);
    if (!state)
        return;
    std::ptrdiff_t held = 0;
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        // A held slot's bytes are still being written or read: freeing them under their holder
        // would let it write into freed memory. The pool stays; the node's record frees it last.
        held = std::count_if(state->slots.begin(), state->slots.end(), [](auto slot) {
            return slot == ThreadState::kFilling || slot == ThreadState::kReading;
        });
        if (held == 0) {
            state->storage.clear();
            state->storage.shrink_to_fit();
            state->slots.clear();
            state->queue.clear();
            state->freeSlots.clear();
            state->slotSize = 0;
            return;
        }
    }
    rova::detail::writeError("destroyMemoryPools: node '" + nodeName(*this) + "' keeps its pool: " +
                             std::to_string(held) + (held == 1 ? " slot is" : " slots are") +
                             " still held (acquired and not pushed, or popped and not released)");
}

RStatus RPxThreadedDeviceNode::beginThreadLoop() {
    return stateOf(*this) ? RStatus() : notAttached("beginThreadLoop");
}
RStatus RPxThreadedDeviceNode::endThreadLoop() {
    return stateOf(*this) ? RStatus() : notAttached("endThreadLoop");
}

bool RPxThreadedDeviceNode::isDone() {
    ThreadState* state = stateOf(*this);
    if (!state)
        return true;
    if (state->done.load() || state->stopRequested.load())
        return true;
    // A loop that made no progress since it last asked (it acquired nothing, and no slot came
    // back meanwhile) gets a short nap, so an idle data thread does not burn a core. setDone,
    // stop and, for a loop that found no free slot, a slot handed back by compute wake it at
    // once, so a freed slot is refilled without waiting out the nap.
    // A tick waiting for a pass of the loop is told that one ended, and gets the next one
    // without a nap in between. A reported data change ends the nap too (see
    // Host::dataChanged), and a tick passes over a loop napping since before none.
    auto& host = rova::detail::hostImpl();
    std::unique_lock<std::mutex> lock(state->mutex);
    ++state->passes;
    state->betweenPasses = true;
    state->passDone.notify_all();
    const std::uint64_t freed = state->freed;
    if (state->acquired.load() == state->acquiredSeenByIsDone &&
        freed == state->freedSeenByIsDone && state->passRequests == state->passRequestsSeen &&
        state->passes >= state->passTarget) {
        const std::uint64_t epoch = state->passEpoch;
        state->idleNap = true;
        state->napEpoch = epoch;
        state->napFreed = freed;
        countedWait(*state, lock, idleWait(), [state, freed, epoch, &host] {
            return state->done.load() || state->stopRequested.load() || state->freed != freed ||
                   state->passRequests != state->passRequestsSeen ||
                   (epoch != ThreadState::kNoPass && host.dataEpoch.load() != epoch);
        });
        state->idleNap = false;
    }
    state->acquiredSeenByIsDone = state->acquired.load();
    state->freedSeenByIsDone = state->freed;
    state->passRequestsSeen = state->passRequests;
    state->passEpoch = host.dataEpoch.load();
    state->betweenPasses = false;
    return state->done.load() || state->stopRequested.load();
}

void RPxThreadedDeviceNode::setDone(bool done) {
    ThreadState* state = stateOf(*this);
    if (!state)
        return;
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        // Once the host asked the thread to stop, the loop cannot un-stop itself.
        state->done.store(done || state->stopRequested.load());
    }
    state->wake.notify_all();
}

bool RPxThreadedDeviceNode::isLive() const {
    ThreadState* state = stateOf(*this);
    return state && state->live.load();
}

RStatus RPxThreadedDeviceNode::acquireDataStorage(RCharBuffer& buffer) {
    ThreadState* state = stateOf(*this);
    if (!state)
        return notAttached("acquireDataStorage");
    const std::string name = rova::detail::NodeAccess::record(*this)->nameForAnyThread();
    if (rova::detail::faultArmed(rova::host::FaultPoint::kAcquireDataStorage, name))
        return rova::detail::injectedFailure(rova::host::FaultPoint::kAcquireDataStorage, name);
    std::unique_lock<std::mutex> lock(state->mutex);
    if (state->slots.empty()) {
        // Never a free slot: pace the caller's loop as a full pool would.
        countedWait(*state, lock, acquireWait(),
                    [state] { return state->done.load() || state->stopRequested.load(); });
        return RStatus(RStatus::kFailure,
                       "acquireDataStorage: node '" + name + "' has no memory pool");
    }
    const bool oldestFirst = state->order == rova::host::PoolOrder::kOldest;
    const std::uint64_t requests = state->passRequests;
    const auto room = [state, oldestFirst] {
        return !state->freeSlots.empty() &&
               (!oldestFirst || state->queue.size() < state->orderDepth);
    };
    state->wantsRoom = !room();
    countedWait(*state, lock, acquireWait(), [state, room, requests] {
        return room() || state->done.load() || state->stopRequested.load() ||
               state->passRequests != requests || state->passes < state->passTarget;
    });
    if (state->done.load() || state->stopRequested.load())
        return RStatus(RStatus::kFailure,
                       "acquireDataStorage: the data thread of node '" + name + "' is stopping");
    if (!room() && !oldestFirst && !state->queue.empty()) {
        // Every slot waits unread: the oldest record would be passed over by the next pop anyway.
        rova::detail::freeSlot(*state, state->queue.front());
        state->queue.pop_front();
    }
    if (!room())
        return RStatus(RStatus::kFailure,
                       "acquireDataStorage: no free slot in the pool of node '" + name + "'");
    state->wantsRoom = false;
    const int slot = state->freeSlots.back();
    state->freeSlots.pop_back();
    state->slots[static_cast<std::size_t>(slot)] = ThreadState::kFilling;
    const std::size_t stride = state->storage.size() / state->slots.size();
    buffer.m_data = state->storage.data() + stride * static_cast<std::size_t>(slot);
    buffer.m_size = state->slotSize;
    buffer.m_slot = slot;
    state->acquired.fetch_add(1);
    return RStatus();
}

RStatus RPxThreadedDeviceNode::pushThreadData(RCharBuffer& buffer) {
    ThreadState* state = stateOf(*this);
    if (!state)
        return notAttached("pushThreadData");
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        if (!slotOwnedAs(*state, buffer, ThreadState::kFilling, buffer.m_slot))
            return RStatus(RStatus::kInvalidParameter,
                           "pushThreadData: the buffer was not acquired from this node's pool");
        state->slots[static_cast<std::size_t>(buffer.m_slot)] = ThreadState::kQueued;
        state->queue.push_back(buffer.m_slot);
    }
    state->pushed.store(true);
    buffer = RCharBuffer();
    return RStatus();
}

RStatus RPxThreadedDeviceNode::popThreadData(RCharBuffer& buffer) {
    ThreadState* state = stateOf(*this);
    if (!state)
        return notAttached("popThreadData");
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        if (state->queue.empty())
            return RStatus(RStatus::kFailure, "popThreadData: nothing was pushed");
        int newest = 0;
        if (state->order == rova::host::PoolOrder::kOldest) {
            newest = state->queue.front();  // first in, first out
            state->queue.pop_front();
        } else {
            // The newest record wins; older queued ones go back to the free list.
            newest = state->queue.back();
            state->queue.pop_back();
            for (const int older : state->queue) rova::detail::freeSlot(*state, older);
            state->queue.clear();
        }
        state->slots[static_cast<std::size_t>(newest)] = ThreadState::kReading;
        const std::size_t stride = state->storage.size() / state->slots.size();
        buffer.m_data = state->storage.data() + stride * static_cast<std::size_t>(newest);
        buffer.m_size = state->slotSize;
        buffer.m_slot = newest;
        wake = state->wantsRoom;
    }
    if (wake)
        state->wake.notify_all();
    return RStatus();
}

RStatus RPxThreadedDeviceNode::releaseDataStorage(RCharBuffer& buffer) {
    ThreadState* state = stateOf(*this);
    if (!state)
        return notAttached("releaseDataStorage");
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        const int slot = buffer.m_slot;
        if (!slotOwnedAs(*state, buffer, ThreadState::kReading, slot) &&
            !slotOwnedAs(*state, buffer, ThreadState::kFilling, slot))
            return RStatus(
                RStatus::kInvalidParameter,
                "releaseDataStorage: the buffer does not hold a slot of this node's pool");
        rova::detail::freeSlot(*state, slot);
        wake = state->wantsRoom;
    }
    if (wake)
        state->wake.notify_all();
    buffer = RCharBuffer();
    return RStatus();
}
