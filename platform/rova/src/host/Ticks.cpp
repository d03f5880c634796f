// Host ticks, watched plugs and the idle command queue.
#include <algorithm>
#include <cmath>
#include <iostream>

#include "HostImpl.h"
#include "HostText.h"
#include "rova/RGlobal.h"
#include "rovahost/Boundary.h"
#include "scene/Scene.h"

namespace rova::host {

// ---------------------------------------------------------------- ticks and the idle queue
void Host::tick() {
    Impl& h = *m_impl;
    drainIdle();
    h.awaitDataPasses();
    const auto nodes = h.nodes;
    for (const auto& node : nodes) {
        if (!node->alive || !node->thread || !node->thread->pushed.exchange(false))
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
    std::lock_guard<std::mutex> lock(m_impl->idleMutex);
    m_impl->idleQueue.emplace_back(std::move(command), false);
}

std::size_t Host::idleQueueSize() const {
    std::lock_guard<std::mutex> lock(m_impl->idleMutex);
    return m_impl->idleQueue.size();
}

void Host::drainIdle() {
    Impl& h = *m_impl;
    std::deque<std::pair<std::string, bool>> batch;
    {
        std::lock_guard<std::mutex> lock(h.idleMutex);
        batch.swap(h.idleQueue);
    }
    for (const auto& queued : batch) {
        // Named copies rather than a structured binding: not every compiler lets a lambda
        // capture one.
        const std::string& command = queued.first;
        const bool display = queued.second;
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
