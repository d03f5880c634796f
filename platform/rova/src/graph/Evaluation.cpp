// Pull evaluation: sources first, then the node's compute.
#include <algorithm>
#include <exception>
#include <iostream>
#include <optional>

#include "HostImpl.h"
#include "api/Access.h"
#include "host/DataThreadState.h"
#include "host/Diagnostics.h"
#include "model/Attributes.h"
#include "model/NodeRecords.h"
#include "model/NodeTypes.h"
#include "model/Objects.h"
#include "rova/RArrayDataHandle.h"
#include "rova/RDataBlock.h"
#include "rova/RDataHandle.h"
#include "rova/RPlug.h"
#include "rova/RPxThreadedDeviceNode.h"
#include "rovahost/Boundary.h"

using rova::detail::AttributeDef;
using rova::detail::Connection;
using rova::detail::ConnectionRef;
using rova::detail::NodeRecord;
using rova::detail::NodeType;
using rova::host::GraphEvent;

namespace rova::host {

namespace {
// What a compute reads of its node apart from the record: the instance's fields and the values
// (the first 16 lines of them).
void prefetchComputed(const NodeRecord* node) {
    __builtin_prefetch(node->instance);
    const char* values = reinterpret_cast<const char*>(node->values.data());
    const std::size_t bytes =
        std::min<std::size_t>(node->values.size() * sizeof(detail::Value), std::size_t{1024});
    for (std::size_t at = 0; at < bytes; at += 64) __builtin_prefetch(values + at);
}

// What a pull's walk reads of a node it lists: the record's first four lines, its flags and its
// connections in, and not the rest (the connections out, where the values lie, the name).
void prefetchListed(const NodeRecord* node) {
    detail::prefetchVisit(node, node->incoming);
}

// What a pull reads of a node's record: what the walk read, and where the instance and the
// values lie.
void prefetchRecord(const NodeRecord* node) {
    prefetchListed(node);
    __builtin_prefetch(&node->instance);
    __builtin_prefetch(&node->values);
}

// Entries of a pull's walk between a prefetch and the pull it is for.
constexpr std::size_t kPullAhead = 6;
}  // namespace

void Host::Impl::evaluate(NodeRecord* node, int attribute) {
    if (!node->alive)
        return;
    const int storage = node->storageOf(attribute);
    const auto slot = static_cast<std::size_t>(storage);
    if (!node->dirty[slot] || node->isEvaluating(storage))
        return;
    std::shared_ptr<NodeRecord> keep;  // a compute on the walk may delete the node itself
    if (computeDepth - pullBase >= kDeepPull) {
        keep = std::static_pointer_cast<NodeRecord>(node->shared_from_this());
        preparePull(node, storage);
        if (!node->alive || !node->dirty[slot])
            return;
    }
    node->setEvaluating(storage, true);
    const NodeType& type = *node->type;

    // Connected plugs (the plug itself, a child of it, or elements of it) pull their sources.
    if (node->connectedIn != 0) {
        std::vector<int>& related = pullScratch;  // free again before anything recurses
        related.assign(1, storage);
        for (const auto& child : type.attributes[slot]->children)
            if (const int index = type.indexOf(child.get()); index >= 0)
                related.push_back(index);
        // Copies, on the pulls' own stack: a compute upstream may change the connections.
        const std::size_t base = pulling.size();
        incomingCopies(node, related, pulling);
        if (pulling.size() > base)
            return pullSources(node, storage, base);
    }

    const int status = runCompute(node, storage);
    if (status == RStatus::kSuccess || status == RStatus::kUnknownParameter) {
        // Success must leave the plug clean; "not computed here" lets the stored value serve.
        node->dirty[slot] = 0;
    }
    node->setEvaluating(storage, false);
}

void Host::Impl::preparePull(NodeRecord* root, int rootStorage) {
    // One entry per plug the walk brings up to date: a node's own inputs are pulled by its
    // compute, with their sources clean by then.
    struct Visit {
        NodeRecord* node;
        int storage;
        bool expanded;
    };
    std::vector<Visit> stack{{root, rootStorage, false}};
    std::vector<std::pair<NodeRecord*, int>> failed;  // still dirty after their pull: not again
    std::vector<int> reads;  // the plug and the node's inputs it depends on, as storage slots
    const auto wanted = [&](NodeRecord* node, int attribute) {
        if (!node->alive || attribute < 0)
            return -1;
        const int storage = node->storageOf(attribute);
        if (!node->isDirty(attribute) || node->isEvaluating(storage) ||
            std::find(failed.begin(), failed.end(), std::pair{node, storage}) != failed.end())
            return -1;
        return storage;
    };
    const int outerBase = pullBase;
    pullBase = computeDepth;  // the walk's pulls start shallow again
    // The outermost walk foresees the nodes it will list from the last walk from this plug.
    std::optional<detail::WalkHints::Trace> trace;
    if (pullWalks == 0)
        trace = pullHints.begin(root, rootStorage);
    // Nodes a compute on the way deletes stay in memory until the walk is done: it may have
    // listed them.
    ++pullWalks;
    while (!stack.empty()) {
        Visit& top = stack.back();
        if (!top.expanded) {
            top.expanded = true;
            NodeRecord* node = top.node;
            if (trace)
                if (const NodeRecord* ahead = trace->reached(node, false))
                    prefetchListed(ahead);
            const NodeType& type = *node->type;
            if (!type.lookupsCurrent())
                continue;
            // Sources of the plug's connections first, then those of the node's inputs that
            // affect it (and of the inputs those depend on), in attribute order, read from the
            // node's own lists in place (nothing runs until they are pushed). Pushed in reverse,
            // so that they are pulled in that order.
            const std::size_t from = stack.size();
            reads.assign(1, top.storage);
            for (std::size_t r = 0; r < reads.size(); ++r) {
                const auto& family = type.families[static_cast<std::size_t>(reads[r])];
                for (const int member : family) {
                    if ((node->connectedIn & NodeRecord::connectionBit(member)) == 0)
                        continue;
                    const auto [first, last] = node->incoming.group(member);
                    for (const auto* entry = first; entry != last; ++entry) {
                        const Connection& c = entry->connection;
                        if (const int s = wanted(c.source.node, c.source.attribute); s >= 0)
                            stack.push_back({c.source.node, s, false});
                    }
                }
                for (const int member : family)
                    for (const int input : type.affectedBy[static_cast<std::size_t>(member)])
                        if (const int s = wanted(node, input);
                            s >= 0 && std::find(reads.begin(), reads.end(), s) == reads.end())
                            reads.push_back(s);
            }
            std::reverse(stack.begin() + static_cast<std::ptrdiff_t>(from), stack.end());
            continue;
        }
        const Visit done = top;
        stack.pop_back();
        if (stack.empty())
            break;  // the plug asked for: its own pull goes on from here
        // What is pulled next lies a few entries down (along a chain, the nodes after this one):
        // its record and values are asked for meanwhile.
        if (stack.size() > 4 * kPullAhead)
            prefetchRecord(stack[stack.size() - 1 - 4 * kPullAhead].node);
        if (stack.size() > kPullAhead)
            prefetchComputed(stack[stack.size() - 1 - kPullAhead].node);
        if (!done.node->alive || !done.node->dirty[static_cast<std::size_t>(done.storage)])
            continue;
        evaluate(done.node, done.storage);
        if (done.node->alive && done.node->dirty[static_cast<std::size_t>(done.storage)])
            failed.emplace_back(done.node, done.storage);
    }
    if (--pullWalks == 0)
        deletedDuringPull.clear();
    if (trace)
        pullHints.end(*trace);
    pullBase = outerBase;
}

void Host::Impl::pullSources(NodeRecord* node, int storage, std::size_t base) {
    const auto slot = static_cast<std::size_t>(storage);
    bool clean = true;
    const std::size_t end = pulling.size();
    for (std::size_t k = base; k < end; ++k) {
        const Connection c = pulling[k];  // the pulls above may move the stack
        evaluate(c.source.node, c.source.attribute);
        if (!c.source.node->alive)
            continue;
        if (c.source.node->isDirty(c.source.attribute))
            clean = false;
        detail::copyPlug(c.source.node, c.source.attribute, c.source.element, node,
                         c.destination.attribute, c.destination.element);
    }
    pulling.resize(base);
    if (clean)
        node->dirty[slot] = 0;
    node->setEvaluating(storage, false);
    if (node->thread)
        afterWrite(node, storage);
}

int Host::Impl::runCompute(NodeRecord* node, int storage) {
    // A compute pulled by no other reads its node's values next, unless it pulls sources first:
    // many outputs read one by one (the leaves of a hub) then cost one wait each instead of
    // several in turn. Below another pull (down a chain) the lines would be gone again by the
    // time the compute reads them, once the pulls below it are done.
    if (pulling.empty())
        prefetchComputed(node);
    const auto slot = static_cast<std::size_t>(storage);
    const NodeType& type = *node->type;
    const RObject self = detail::Access::make(node->shared_from_this());
    const RPlug plug = slot < type.attributeObjects.size()
                           ? RPlug(self, type.attributeObjects[slot])
                           : RPlug(self, detail::Access::make(type.attributes[slot]));
    RDataBlock block = detail::DataBlockAccess::make(node);
    emit(GraphEvent::kCompute, node, storage);
    int code = -1;
    ++computeDepth;
    const auto threw = guardBoundary("", [&] {
        code = (node->instance ? node->instance->compute(plug, block)
                               : RStatus(RStatus::kUnknownParameter))
                   .statusCode();
    });
    --computeDepth;
    if (!threw)
        return code;
    computeThrew(node, storage, *threw);
    return -1;
}

void Host::Impl::computeThrew(const NodeRecord* node, int storage, const std::string& threw) {
    const std::string path = node->plugPath(storage);
    const std::string error = "compute of '" + path + "'" + threw;  // threw: " threw: ..."
    evaluationErrors.push_back(error);
    emit(GraphEvent::kError, path, error);
}

void Host::Impl::afterWrite(NodeRecord* node, int attribute) {
    if (!node->thread)
        return;
    const AttributeDef* live = detail::attributeOf(RPxThreadedDeviceNode::live);
    if (node->type->indexOf(live) != attribute)
        return;
    const bool want = node->valueOf(attribute).b;
    {
        std::lock_guard<std::mutex> lock(node->thread->mutex);
        node->thread->live.store(want);
    }
    node->thread->wake.notify_all();
    if (want && !node->thread->running)
        startThread(node);
    if (!want && node->thread->running)
        stopThread(node);
}

std::vector<const NodeRecord*> Host::Impl::pullConnectedLive(
    const std::vector<const NodeRecord*>& skip) {
    const AttributeDef* live = detail::attributeOf(RPxThreadedDeviceNode::live);
    std::vector<std::shared_ptr<NodeRecord>> switched;  // kept: a compute may delete
    for (const auto& node : deviceNodes) {
        if (!node->alive || std::find(skip.begin(), skip.end(), node.get()) != skip.end())
            continue;
        const int index = node->type->indexOf(live);
        if (index >= 0 && node->isDirty(index) && node->incoming.has(index))
            switched.push_back(node);
    }
    std::vector<const NodeRecord*> failed;
    if (switched.empty())
        return failed;
    evaluationErrors.clear();
    for (const auto& node : switched) {
        const int index = node->type->indexOf(live);
        evaluate(node.get(), index);
        if (node->alive && node->isDirty(index))
            failed.push_back(node.get());
    }
    for (const auto& error : evaluationErrors) detail::writeError(error);
    evaluationErrors.clear();
    return failed;
}

}  // namespace rova::host
