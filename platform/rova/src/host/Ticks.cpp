// Host ticks, watched plugs and the idle command queue.
#include <algorithm>
#include <cmath>
#include <iostream>

#include "HostImpl.h"
#include "HostText.h"
#include "host/DataThreadState.h"
#include "host/Diagnostics.h"
#include "model/NodeRecords.h"
#include "rova/RGlobal.h"
#include "rovahost/Boundary.h"
#include "scene/Scene.h"

namespace rova::host {

// ---------------------------------------------------------------- ticks and the idle queue
void Host::tick() {
    Impl& h = *m_impl;
    drainIdle();
    // A thread switched on through a connection gets its first pass in this tick; one switched
    // by the records this tick brings, at the end of it. A failing source is asked once a tick.
    const auto failed = h.pullConnectedLive({});
    h.awaitDataPasses();
    const auto devices = h.deviceNodes;  // kept: a compute may delete
    for (const auto& node : devices) {
        if (!node->alive)
            continue;
        // Records no read took yet: new ones, or ones still waiting after a read took one (oldest
        // first), each show on a tick of their own. A record a read took between ticks is on the
        // outputs already, and one told of before and unread since is news no longer.
        const bool pushed = node->thread->pushed.exchange(false);
        {
            std::lock_guard<std::mutex> lock(node->thread->mutex);
            if (node->thread->queue.empty())
                continue;
        }
        const bool read = std::any_of(
            node->refreshAttributes.begin(), node->refreshAttributes.end(), [&](int attribute) {
                return !node->dirty[static_cast<std::size_t>(node->storageOf(attribute))];
            });
        if (!pushed && !read)
            continue;
        for (const int attribute : node->refreshAttributes) {
            const int storage = node->storageOf(attribute);
            if (!node->dirty[static_cast<std::size_t>(storage)]) {
                node->dirty[static_cast<std::size_t>(storage)] = 1;
                h.emit(GraphEvent::kDirty, node.get(), storage);
            }
            // Even an already dirty refresh plug passes the news on: new data arrived.
            h.dirtyDependents(node.get(), storage);
        }
    }
    h.pullConnectedLive(failed);
    const auto watched = h.watched;
    for (const auto& plug : watched) {
        auto value = getPlug(plug);
        if (!value.ok())
            detail::writeError(value.status.message);
    }
    h.evaluationErrors.clear();
    scene::evaluateDisplayed();
    for (const auto& error : h.evaluationErrors) detail::writeError(error);
    h.evaluationErrors.clear();
}

Status Host::watch(const std::string& plug, bool on) {
    auto canonical = canonicalPlug(plug);
    if (!canonical.ok())
        return canonical.status;
    auto& watched = m_impl->watched;
    auto it = std::find(watched.begin(), watched.end(), canonical.value);
    if (on && it == watched.end())
        watched.push_back(canonical.value);
    if (!on && it != watched.end())
        watched.erase(it);
    return Status{};
}

std::vector<std::string> Host::watchedPlugs() const {
    return m_impl->watched;
}

void Host::setExecutor(Executor executor) {
    m_impl->executor = std::move(executor);
}

void Host::queueIdle(std::string command) {
    m_impl->idleQueue.push(std::move(command), false, kIdleCoalesceAt);
}

std::size_t Host::idleQueueSize() const {
    return m_impl->idleQueue.size();
}

void Host::drainIdle() {
    Impl& h = *m_impl;
    for (const auto& queued : h.idleQueue.take()) {
        // Named copies rather than a structured binding: not every compiler lets a lambda
        // capture one.
        const std::string& command = queued.text;
        const bool display = queued.display;
        if (!h.executor) {
            detail::writeError("no command interpreter to run the queued command: " + command);
            continue;
        }
        if (const auto error = guardBoundary("queued command '" + command + "'",
                                             [&] { h.executor(command, display, false, nullptr); }))
            detail::writeError(*error);
    }
}

}  // namespace rova::host
