// Data threads of threaded device nodes: started and joined by the host.
#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <chrono>
#include <iostream>

#include "HostImpl.h"
#include "host/DataThreadState.h"
#include "host/Diagnostics.h"
#include "model/NodeRecords.h"
#include "rova/RPxThreadedDeviceNode.h"
#include "rovahost/Boundary.h"

using rova::detail::NodeRecord;
using rova::detail::ThreadState;

// ---------------------------------------------------------------- the host's side
namespace rova::host {

void Host::Impl::startThread(NodeRecord* node) {
    ThreadState& state = *node->thread;
    if (state.thread.joinable())
        state.thread.join();
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.stopRequested.store(false);
        state.done.store(false);
        // Records of an earlier run are stale: the first read after a start shows this run's
        // data. Slots the earlier thread took and never handed over come back too (it is
        // joined).
        for (const int queued : state.queue) detail::freeSlot(state, queued);
        state.queue.clear();
        for (std::size_t k = 0; k < state.slots.size(); ++k)
            if (state.slots[k] == ThreadState::kFilling)
                detail::freeSlot(state, static_cast<int>(k));
        state.pushed.store(false);
        state.acquiredSeenByIsDone = state.acquired.load();
        state.freedSeenByIsDone = state.freed;
    }
    if (state.slots.empty() && !state.noPoolReported) {
        // The node may carry on without a pool, but its outputs will never change: say so once.
        state.noPoolReported = true;
        detail::writeError("node '" + node->name + "' has no memory pool (" +
                           (state.poolFailure.empty()
                                ? std::string("createMemoryPools was not called")
                                : state.poolFailure) +
                           "): its data thread runs but can pass no data to compute");
    }
    auto* instance = static_cast<RPxThreadedDeviceNode*>(node->instance);
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.loopEnded = false;
        state.betweenPasses = false;
        state.idleNap = false;
        state.passEpoch = ThreadState::kNoPass;  // what runs before the first isDone reads nothing
    }
    {
        std::lock_guard<std::mutex> lock(runningThreadsMutex);
        runningThreads.push_back(&state);
    }
    state.running = true;
    state.thread = std::thread([instance, node] {
        // The node may be renamed while its thread runs: the message names it as it is then.
        if (const auto error = guardBoundary("data thread", [&] { instance->runDeviceThread(); }))
            detail::writeError(*error + " (node '" + node->nameForAnyThread() + "')");
        std::lock_guard<std::mutex> lock(node->thread->mutex);
        node->thread->loopEnded = true;
        node->thread->passDone.notify_all();
    });
}

void Host::setThreadWaits(ThreadWaits waits) {
    m_impl->acquireWaitMs.store(std::max<std::int64_t>(0, waits.acquire.count()));
    m_impl->idleWaitMs.store(std::max<std::int64_t>(0, waits.idle.count()));
}

Host::ThreadWaits Host::threadWaits() const {
    return {std::chrono::milliseconds(m_impl->acquireWaitMs.load()),
            std::chrono::milliseconds(m_impl->idleWaitMs.load())};
}

Result<Host::WaitCounts> Host::threadWaitCounts(const std::string& name) const {
    Result<WaitCounts> out;
    NodeRecord* node = m_impl->findNode(name);
    if (!node || !node->thread) {
        out.status = Status::failure("no threaded device node named '" + name + "'");
        return out;
    }
    out.value = {node->thread->wokenWaits.load(), node->thread->timedOutWaits.load(),
                 node->thread->blockedNow.load()};
    return out;
}

Status Host::awaitThreadWait(const std::string& name, std::chrono::milliseconds limit) const {
    NodeRecord* node = m_impl->findNode(name);
    if (!node || !node->thread)
        return Status::failure("no threaded device node named '" + name + "'");
    ThreadState& state = *node->thread;
    std::unique_lock<std::mutex> lock(state.mutex);
    // The waits count themselves in while holding the mutex that they give up as they wait, so a
    // count seen here is a call that is waiting now.
    if (!state.waitBegan.wait_for(lock, limit, [&] { return state.blockedNow.load() > 0; }))
        return Status::failure("no data-thread call of '" + name + "' waited within " +
                               std::to_string(limit.count()) + " ms");
    return {};
}

Status Host::setPoolOrder(const std::string& type, PoolOrder order, std::size_t depth) {
    if (!isValidNodeName(type))
        return Status::failure("'" + type + "' is not a node type name");
    if (order == PoolOrder::kOldest && (depth < 1 || depth > 65536))
        return Status::failure("the depth of an oldest-first pool must be from 1 to 65536, not " +
                               std::to_string(depth));
    m_impl->poolOrders[type] = {order, depth};
    for (const auto& node : m_impl->deviceNodes) {
        if (node->type->name != type)
            continue;
        std::lock_guard<std::mutex> lock(node->thread->mutex);
        node->thread->order = order;
        node->thread->orderDepth = depth;
    }
    return Status{};
}

std::pair<PoolOrder, std::size_t> Host::poolOrder(const std::string& type) const {
    return m_impl->poolOrderOf(type);
}

void Host::setDataChangeReports(bool on) {
    // Naps that began while changes went unreported must not count as up to date.
    m_impl->dataEpoch.fetch_add(1);
    m_impl->dataReports.store(on);
}

void Host::dataChanged(bool wakeLoops) {
    Impl& h = *m_impl;
    h.dataEpoch.fetch_add(1);
    if (!wakeLoops)
        return;
    std::lock_guard<std::mutex> registry(h.runningThreadsMutex);
    for (ThreadState* state : h.runningThreads) {
        // Taking the mutex orders the count's change before a nap that is about to begin.
        { std::lock_guard<std::mutex> lock(state->mutex); }
        state->wake.notify_all();
    }
}

namespace {
// How long a tick spins for a pass before it sleeps on the condition variable. A pass asked of a
// napping loop mostly ends within 15-25 us; a main thread that slept meanwhile is often woken on
// another core, or on its own after others used it, and finds the data that the tick's
// evaluations read cold (they take two to three times as long). At 60 ticks a second the spin
// costs at most 0.2 % of a core, and only while loops have passes to make.
constexpr std::chrono::microseconds kPassSpin{30};

// Whether the data thread can run on a core this thread would not be spinning on: with both on
// one and the same core, a spin only delays the pass it waits for.
bool loopRunsBeside(std::thread& loop) {
    cpu_set_t mine, its;
    if (pthread_getaffinity_np(pthread_self(), sizeof mine, &mine) != 0 ||
        pthread_getaffinity_np(loop.native_handle(), sizeof its, &its) != 0)
        return true;
    cpu_set_t both;
    CPU_OR(&both, &mine, &its);
    return CPU_COUNT(&both) > 1;
}

inline void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

void spinForPass(ThreadState& state, std::uint64_t target) {
    if (state.passes.load(std::memory_order_acquire) >= target || !state.thread.joinable() ||
        !loopRunsBeside(state.thread))
        return;
    const auto until = std::chrono::steady_clock::now() + kPassSpin;
    do {
        for (int k = 0; k < 16; ++k) {
            if (state.passes.load(std::memory_order_acquire) >= target)
                return;
            cpuRelax();
        }
    } while (std::chrono::steady_clock::now() < until);
}
}  // namespace

void Host::Impl::awaitDataPasses() {
    // Ask every running loop for a pass, then wait for each to finish one that began after the
    // request: a pass under way may have read an older frame, so it needs the one after it; a
    // loop between passes (in isDone) begins its next one after the request. With data changes
    // reported, a loop napping since a pass that began after the last change and handed nothing
    // over is left alone: it has read what there is.
    const bool reports = dataReports.load();
    const std::uint64_t epoch = dataEpoch.load();
    std::vector<std::pair<NodeRecord*, std::uint64_t>> waiting;
    for (const auto& node : deviceNodes) {
        if (!node->alive || !node->thread->running)
            continue;
        ThreadState& state = *node->thread;
        {
            std::lock_guard<std::mutex> lock(state.mutex);
            if (reports && state.readEverythingAt(epoch))
                continue;
            ++state.passRequests;
            const std::uint64_t target = state.passes + (state.betweenPasses ? 1 : 2);
            state.passTarget = std::max(state.passTarget, target);
            waiting.emplace_back(node.get(), target);
        }
        state.wake.notify_all();
    }
    const auto deadline = std::chrono::steady_clock::now() + Host::kPassWait;
    for (const auto& [node, target] : waiting) {
        ThreadState& state = *node->thread;
        spinForPass(state, target);
        std::unique_lock<std::mutex> lock(state.mutex);
        // A loop that does not come back to isDone in time is left to run: the tick goes on.
        state.passDone.wait_until(lock, deadline, [&state, target = target] {
            return state.passes >= target || state.loopEnded || state.done.load() ||
                   state.stopRequested.load();
        });
    }
}

void Host::Impl::stopThread(NodeRecord* node) {
    ThreadState& state = *node->thread;
    if (!state.running)
        return;
    {
        std::lock_guard<std::mutex> lock(runningThreadsMutex);
        std::erase(runningThreads, &state);
    }
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.stopRequested.store(true);
    }
    state.wake.notify_all();
    if (const auto error = guardBoundary("stopDeviceThread of '" + node->name + "'", [&] {
            static_cast<RPxThreadedDeviceNode*>(node->instance)->stopDeviceThread();
        }))
        detail::writeError(*error);
    state.wake.notify_all();
    if (state.thread.joinable())
        state.thread.join();
    state.running = false;
    // A slot the loop took and never pushed has no holder left: it goes back now rather than at
    // the next start, so the pool is whole when the node destroys it.
    std::lock_guard<std::mutex> lock(state.mutex);
    for (std::size_t k = 0; k < state.slots.size(); ++k)
        if (state.slots[k] == ThreadState::kFilling)
            detail::freeSlot(state, static_cast<int>(k));
}

}  // namespace rova::host
