// Dirty propagation through declared dependencies and connections.
#include <algorithm>
#include <deque>
#include <exception>
#include <iostream>
#include <map>

#include "HostImpl.h"
#include "SceneChanges.h"
#include "model/NodeRecords.h"
#include "model/NodeTypes.h"
#include "rova/RArrayDataHandle.h"
#include "rova/RDataBlock.h"
#include "rova/RDataHandle.h"
#include "rova/RPlug.h"

using rova::detail::Connection;
using rova::detail::ConnectionRef;
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

Host::Impl::Visited::Visited(Impl& host) : m_host(host) {
    if (!host.propagating) {
        host.propagating = true;
        m_mark = ++host.lastVisitMark;
    }
}

Host::Impl::Visited::~Visited() {
    if (m_mark != 0)
        m_host.propagating = false;
}

bool Host::Impl::Visited::add(NodeRecord* node, int storage) {
    const auto slot = static_cast<std::size_t>(storage);
    if (m_mark == 0 || (slot >= 64 && slot >= node->visits.size()))
        return m_own.emplace(node, storage).second;
    if (slot >= 64) {
        if (node->visits[slot] == m_mark)
            return false;
        node->visits[slot] = m_mark;
        return true;
    }
    if (node->visitMark != m_mark) {
        node->visitMark = m_mark;
        node->visitedLow = 0;
    }
    const std::uint64_t bit = std::uint64_t{1} << slot;
    if (node->visitedLow & bit)
        return false;
    node->visitedLow |= bit;
    return true;
}

// Propagation visits everything downstream, also past plugs that are dirty already (a failed pull
// can leave a source dirty under a clean destination), and notifies only clean-to-dirty changes.
void Host::Impl::markDirty(NodeRecord* node, int attribute) {
    Visited visited(*this);
    DirtyWalk nested;  // an observer's propagation inside another keeps its own
    DirtyWalk& walk = visited.outermost() ? dirtyWalk : nested;
    Foreseen foreseen(*this, walk, node, attribute);
    const std::size_t bottom = walk.steps.size();
    // Once for the whole walk: what counts the scene's changes needs to know that one came, not
    // how many plugs it reached (the count is shared by every thread).
    detail::noteSceneChange();
    if (enterDirty(node, attribute, visited, walk))
        propagate(visited, walk, bottom);
}

void Host::Impl::dirtyDependents(NodeRecord* node, int attribute) {
    detail::noteSceneChange();  // the plug itself took a new value (stored, or the time)
    Visited visited(*this);
    visited.add(node, node->storageOf(attribute));
    DirtyWalk nested;
    DirtyWalk& walk = visited.outermost() ? dirtyWalk : nested;
    Foreseen foreseen(*this, walk, node, attribute);
    const std::size_t bottom = walk.steps.size();
    startStep(node, attribute, walk);
    propagate(visited, walk, bottom);
}

Host::Impl::Foreseen::Foreseen(Impl& host, DirtyWalk& walk, const NodeRecord* node, int attribute)
    : m_host(host), m_walk(walk) {
    if (&walk != &host.dirtyWalk || walk.trace)
        return;  // a nested propagation: the outermost one traces
    m_trace = host.dirtyHints.begin(node, attribute);
    walk.trace = &m_trace;
}

Host::Impl::Foreseen::~Foreseen() {
    if (m_walk.trace != &m_trace)
        return;
    m_walk.trace = nullptr;
    m_host.dirtyHints.end(m_trace);
}

bool Host::Impl::enterDirty(NodeRecord* node, int attribute, Visited& visited, DirtyWalk& walk) {
    const int storage = node->storageOf(attribute);
    if (!visited.add(node, storage))
        return false;
    if (walk.trace)
        if (const NodeRecord* ahead = walk.trace->reached(node, walk.foreseen))
            detail::prefetchVisit(ahead, ahead->outgoing);
    if (!node->dirty[static_cast<std::size_t>(storage)]) {
        node->dirty[static_cast<std::size_t>(storage)] = 1;
        emit(GraphEvent::kDirty, node, storage);
    }
    startStep(node, storage, walk);
    return true;
}

void Host::Impl::startStep(NodeRecord* node, int attribute, DirtyWalk& walk) {
    const NodeType& type = *node->type;
    const bool current = type.lookupsCurrent();
    if (!current)
        walk.families.push_back(type.computeFamily(attribute));
    const std::vector<int>* related =
        current ? &type.families[static_cast<std::size_t>(attribute)] : &walk.families.back();
    walk.steps.push_back(DirtyStep{node, related, attribute, 0, 0, false, !current, 0, 0, 0});
}

namespace {
// Destinations between a prefetch and its use: on a hub of 100,000, 4 left the walk waiting and
// 16 measured slower (the lines fetched early are gone again, or crowd out the ones in use).
constexpr std::size_t kAhead = 8;
// Steps on a walk's stack from which the nodes at the bottom are taken to be out of the caches
// by the time the walk comes back to them.
constexpr std::size_t kDeepWalk = 512;

// What a visit reads of a node: its first two lines (flags, marks).
void prefetchNode(const NodeRecord* node) {
    const char* at = reinterpret_cast<const char*>(node);
    __builtin_prefetch(at);
    __builtin_prefetch(at + 64);
}
}  // namespace

// Depth first, in the order a recursion would take: each plug's declared dependents with all
// they reach, then its destinations one after the other.
void Host::Impl::propagate(Visited& visited, DirtyWalk& walk, std::size_t bottom) {
    while (walk.steps.size() > bottom) {
        DirtyStep& step = walk.steps.back();  // until the walk grows
        const NodeType& type = *step.node->type;
        if (!step.listed) {
            bool entered = false;
            while (!entered && step.member < step.related->size()) {
                const auto& targets =
                    type.affects[static_cast<std::size_t>((*step.related)[step.member])];
                if (step.target == targets.size()) {
                    ++step.member;
                    step.target = 0;
                    continue;
                }
                const int target = targets[step.target++];
                if (!step.node->alive)
                    continue;
                if (nothingAfter(step, type)) {
                    // The step's last work: it goes first, as a listed step does before its last
                    // destination, so that a chain's walk keeps no step for the nodes above.
                    NodeRecord* node = step.node;
                    if (step.ownFamily)
                        walk.families.pop_back();
                    walk.steps.pop_back();
                    enterDirty(node, target, visited, walk);
                    entered = true;
                    break;
                }
                entered = enterDirty(step.node, target, visited, walk);
            }
            if (entered)
                continue;
            // Listed once the declared dependents are done: they may have changed connections.
            DirtyStep& done = walk.steps.back();
            walk.out.clear();
            outgoingCopies(done.node, *done.related, walk.out);
            done.begin = done.next = static_cast<std::uint32_t>(walk.pending.size());
            for (const Connection& c : walk.out) walk.pending.push_back(c.destination);
            walk.out.clear();
            if (done.attribute == type.hierarchyAttribute && type.hierarchyDependents)
                for (const PlugRef& d : type.hierarchyDependents(done.node, done.attribute))
                    walk.pending.push_back(d);
            done.end = static_cast<std::uint32_t>(walk.pending.size());
            done.listed = true;
        }
        DirtyStep& current = walk.steps.back();
        if (current.next < current.end) {
            // A hub's destinations are many nodes apart: ask for the ones ahead meanwhile.
            walk.foreseen = current.next + kAhead < current.end;
            if (walk.foreseen)
                prefetchNode(walk.pending[current.next + kAhead].node);
            const PlugRef d = walk.pending[current.next++];
            if (current.next == current.end) {
                // Its last destination: the step has nothing left to do after it, and goes
                // first, so that a chain's walk keeps one step a node, not two.
                walk.pending.resize(current.begin);
                if (current.ownFamily)
                    walk.families.pop_back();
                walk.steps.pop_back();
            }
            enterDirty(d.node, d.attribute, visited, walk);
            walk.foreseen = false;
            continue;
        }
        walk.pending.resize(current.begin);
        if (current.ownFamily)
            walk.families.pop_back();
        walk.steps.pop_back();
        // Back up a chain the walk goes on with the steps below, whose nodes it read long ago:
        // the one a few steps down is asked for meanwhile.
        if (walk.steps.size() > bottom + kDeepWalk) {
            const NodeRecord* below = walk.steps[walk.steps.size() - 1 - kAhead].node;
            detail::prefetchVisit(below, below->outgoing);
        }
    }
}

bool Host::Impl::nothingAfter(const DirtyStep& step, const NodeType& type) const {
    // An observer may connect the node while the walk is below it: the step lists its
    // destinations only once that is done.
    if (!observers.empty())
        return false;
    const std::vector<int>& related = *step.related;
    if (step.target < type.affects[static_cast<std::size_t>(related[step.member])].size())
        return false;
    std::uint64_t asked = 0;
    for (std::size_t m = 0; m < related.size(); ++m) {
        if (m > step.member && !type.affects[static_cast<std::size_t>(related[m])].empty())
            return false;
        if (related[m] >= 0)
            asked |= NodeRecord::connectionBit(related[m]);
    }
    if (step.attribute == type.hierarchyAttribute && type.hierarchyDependents)
        return false;
    return (step.node->connectedOut & asked) == 0;
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
        std::vector<ConnectionRef> out;
        outgoingOf(step.first, related, out);
        for (const ConnectionRef& c : out) visit(c->destination.node, c->destination.attribute);
        // The hierarchy carries a world matrix to the transforms below, as propagation does.
        if (step.second == type.hierarchyAttribute && type.hierarchyDependents)
            for (const PlugRef& d : type.hierarchyDependents(step.first, step.second))
                visit(d.node, d.attribute);
    }
    return {};
}

const Connection* Host::Impl::incoming(const NodeRecord* node, int attribute, int element) const {
    if (attribute < 0)
        return nullptr;
    const auto [first, last] = node->incoming.group(attribute);
    for (const auto* c = first; c != last; ++c)
        if (c->connection.destination.element == element)
            return &*c->ref;
    return nullptr;
}

namespace {
std::uint64_t orderOf(const ConnectionRef& c) {
    return c->order;
}
std::uint64_t orderOf(const Connection& c) {
    return c.order;
}
ConnectionRef take(const detail::LinkedConnection& entry, const ConnectionRef*) {
    return entry.ref;
}
const Connection& take(const detail::LinkedConnection& entry, const Connection*) {
    return entry.connection;
}

template <class Out>
void inOrder(const detail::LinkList& list, std::uint64_t connected,
             const std::vector<int>& attributes, std::vector<Out>& out) {
    // The bits first: most plugs a walk reaches have no connections of the kind asked.
    std::uint64_t asked = 0;
    for (const int a : attributes)
        if (a >= 0)
            asked |= NodeRecord::connectionBit(a);
    if ((asked & connected) == 0)
        return;
    const std::size_t start = out.size();
    int filled = 0;
    for (const int a : attributes) {
        if (a < 0)
            continue;
        const auto [first, last] = list.group(a);
        if (first == last)
            continue;
        for (const auto* entry = first; entry != last; ++entry)
            out.push_back(take(*entry, static_cast<const Out*>(nullptr)));
        ++filled;
    }
    if (filled > 1)
        std::sort(out.begin() + static_cast<std::ptrdiff_t>(start), out.end(),
                  [](const Out& a, const Out& b) { return orderOf(a) < orderOf(b); });
}
}  // namespace

void Host::Impl::outgoingOf(const NodeRecord* node, const std::vector<int>& attributes,
                            std::vector<ConnectionRef>& out) {
    inOrder(node->outgoing, node->connectedOut, attributes, out);
}

void Host::Impl::incomingOf(const NodeRecord* node, const std::vector<int>& attributes,
                            std::vector<ConnectionRef>& out) {
    inOrder(node->incoming, node->connectedIn, attributes, out);
}

void Host::Impl::outgoingCopies(const NodeRecord* node, const std::vector<int>& attributes,
                                std::vector<Connection>& out) {
    inOrder(node->outgoing, node->connectedOut, attributes, out);
}

void Host::Impl::incomingCopies(const NodeRecord* node, const std::vector<int>& attributes,
                                std::vector<Connection>& out) {
    inOrder(node->incoming, node->connectedIn, attributes, out);
}

std::vector<ConnectionRef> Host::Impl::connectionsOf(const NodeRecord* node) {
    std::vector<ConnectionRef> out;
    for (const auto* list : {&node->incoming, &node->outgoing})
        for (const auto& entry : *list) out.push_back(entry.ref);
    std::sort(out.begin(), out.end(),
              [](const ConnectionRef& a, const ConnectionRef& b) { return a->order < b->order; });
    return out;
}

}  // namespace rova::host
