// Data threads of threaded device nodes: started and joined by the host.
#include <chrono>
#include <iostream>

#include "HostImpl.h"
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
    auto* instance = static_cast<RPxThreadedDeviceNode*>(node->instance);
    state.running = true;
    state.thread = std::thread([instance, node] {
        // The node may be renamed while its thread runs: the message names it as it is then.
        if (const auto error = guardBoundary("data thread", [&] { instance->runDeviceThread(); }))
            detail::writeError(*error + " (node '" + node->nameForAnyThread() + "')");
    });
}

void Host::Impl::stopThread(NodeRecord* node) {
    ThreadState& state = *node->thread;
    if (!state.running)
        return;
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
}

}  // namespace rova::host
