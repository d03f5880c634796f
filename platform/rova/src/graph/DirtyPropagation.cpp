// Dirty propagation through declared dependencies and connections.
#include <algorithm>
#include <deque>
#include <exception>
#include <iostream>
#include <map>

#include "HostImpl.h"
#include "SceneChanges.h"
#include "rova/RArrayDataHandle.h"
#include "rova/RDataBlock.h"
#include "rova/RDataHandle.h"
#include "rova/RPlug.h"
#include "scene/Scene.h"

using rova::detail::Connection;
using rova::detail::NodeRecord;
using rova::detail::NodeType;
using rova::detail::PlugRef;
using rova::host::GraphEvent;

namespace rova::host {

using detail::Connection;

namespace {
// The attribute, its compound parent and its children: what a change to the attribute touches.
// scratch holds it while the type's lookup tables are not built yet.
const std::vector<int>& family(const NodeType& type, int attribute, std::vector<int>& scratch) {
    if (type.lookupsCurrent())
        return type.families[static_cast<std::size_t>(attribute)];
    scratch = type.computeFamily(attribute);
    return scratch;
}
}  // namespace

// Propagation visits everything downstream, also past plugs that are dirty already (a failed pull
// can leave a source dirty under a clean destination), and notifies only clean-to-dirty changes.
void Host::Impl::markDirty(NodeRecord* node, int attribute) {
    Visited visited;
    markDirtyIn(node, attribute, visited);
}

void Host::Impl::dirtyDependents(NodeRecord* node, int attribute) {
    detail::noteSceneChange();  // the plug itself took a new value (stored, or the time)
    Visited visited;
    visited.emplace(node, node->storageOf(attribute));
    propagate(node, attribute, visited);
}

void Host::Impl::markDirtyIn(NodeRecord* node, int attribute, Visited& visited) {
    const int storage = node->storageOf(attribute);
    if (!visited.emplace(node, storage).second)
        return;
    detail::noteSceneChange();
    if (!node->dirty[static_cast<std::size_t>(storage)]) {
        node->dirty[static_cast<std::size_t>(storage)] = 1;
        emit(GraphEvent::kDirty, node, storage);
    }
    propagate(node, storage, visited);
}

void Host::Impl::propagate(NodeRecord* node, int attribute, Visited& visited) {
    const NodeType& type = *node->type;
    std::vector<int> scratch;
    const std::vector<int>& related = family(type, attribute, scratch);
    for (const int a : related)
        for (const int target : type.affects[static_cast<std::size_t>(a)])
            if (node->alive)
                markDirtyIn(node, target, visited);
    std::vector<PlugRef> destinations;
    for (const Connection& c : connections)
        if (c.source.node == node &&
            std::find(related.begin(), related.end(), c.source.attribute) != related.end())
            destinations.push_back(c.destination);
    for (const PlugRef& d : scene::worldDependents(node, attribute)) destinations.push_back(d);
    for (const PlugRef& d : destinations) markDirtyIn(d.node, d.attribute, visited);
}

std::vector<std::string> Host::Impl::dependencyPath(const PlugRef& from, const PlugRef& to) const {
    using Step = std::pair<NodeRecord*, int>;  // node and storage attribute
    std::vector<int> goalScratch;
    const std::vector<int>& goal =
        family(*to.node->type, to.node->storageOf(to.attribute), goalScratch);
    const auto reached = [&](const Step& step) {
        return step.first == to.node &&
               std::find(goal.begin(), goal.end(), step.second) != goal.end();
    };
    std::map<Step, Step> cameFrom;
    std::deque<Step> frontier;
    const Step start{from.node, from.node->storageOf(from.attribute)};
    cameFrom.emplace(start, start);
    frontier.push_back(start);
    while (!frontier.empty()) {
        const Step step = frontier.front();
        frontier.pop_front();
        if (reached(step)) {
            std::vector<std::string> path;
            for (Step at = step;; at = cameFrom.at(at)) {
                path.push_back(at.first->plugPath(at.second));
                if (at == start)
                    break;
            }
            std::reverse(path.begin(), path.end());
            return path;
        }
        const auto visit = [&](NodeRecord* node, int attribute) {
            const Step next{node, node->storageOf(attribute)};
            if (cameFrom.emplace(next, step).second)
                frontier.push_back(next);
        };
        const NodeType& type = *step.first->type;
        std::vector<int> scratch;
        const std::vector<int>& related = family(type, step.second, scratch);
        for (const int a : related)
            for (const int target : type.affects[static_cast<std::size_t>(a)])
                visit(step.first, target);
        for (const Connection& c : connections)
            if (c.source.node == step.first &&
                std::find(related.begin(), related.end(), c.source.attribute) != related.end())
                visit(c.destination.node, c.destination.attribute);
    }
    return {};
}

const Connection* Host::Impl::incoming(const NodeRecord* node, int attribute, int element) const {
    for (const Connection& c : connections)
        if (c.destination.node == node && c.destination.attribute == attribute &&
            c.destination.element == element)
            return &c;
    return nullptr;
}

}  // namespace rova::host
