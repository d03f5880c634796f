#pragma once
// The host's state and the graph operations its parts share. Main thread only, except where noted.
#include <atomic>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <set>
#include <unordered_map>

#include "graph/WalkHints.h"
#include "host/IdleQueue.h"
#include "host/NodeNames.h"
#include "model/NodeRecords.h"
#include "model/NodeTypes.h"
#include "rovahost/FaultPoint.h"
#include "rovahost/Host.h"

namespace rova::detail {
struct ThreadState;
struct PluginRecord;
struct CommandDef;
struct CommandHolder;
}  // namespace rova::detail

namespace rova::host {

// Hidden: the host's own units call its members directly, not through the symbol table.
struct __attribute__((visibility("hidden"))) Host::Impl {
    Impl();

    // ---- search paths
    std::vector<std::filesystem::path> pluginPath, scriptPath;

    // ---- registry
    std::vector<std::shared_ptr<detail::PluginRecord>> plugins;  // load order
    std::vector<std::shared_ptr<detail::NodeType>> types;        // registration order
    std::vector<detail::CommandDef> commands;
    std::vector<std::weak_ptr<detail::CommandHolder>> commandInstances;
    std::vector<detail::NodeType*> typeInInitialization;  // innermost last

    // ---- graph
    std::vector<std::shared_ptr<detail::NodeRecord>> nodes;  // creation order
    std::uint64_t lastCreationIndex = 0;
    // The nodes of `nodes` that every tick (threaded device nodes) or every undoable statement
    // (deformers) visits, in creation order: a production scene holds a handful of each among
    // 100,000 nodes, and finding them in `nodes` would cost each tick the scene's size.
    std::vector<std::shared_ptr<detail::NodeRecord>> deviceNodes, deformerNodes;
    // Puts a node whose creation index changed (restored) back in creation order in every list.
    void placeByCreation(const detail::NodeRecord* node);
    // Connection order. Each node keeps pointers to its own (NodeRecord::incoming, outgoing):
    // make and break them through addConnection and removeConnection only.
    detail::Connections connections;
    std::uint64_t lastConnectionOrder = 0;
    detail::NodeNames nodesByName;  // the nodes of `nodes`
    // Per name base: every "base" + N below this N was taken when last looked at (see freeName).
    std::unordered_map<std::string, int> suffixFloor;
    std::shared_ptr<detail::NodeType> timeType;
    // transform, mesh, camera, utilities
    std::vector<std::shared_ptr<detail::NodeType>> sceneTypes;
    std::string activeCamera;  // the active 3D view's camera shape; empty: the default camera
    detail::NodeRecord* timeNode = nullptr;
    double framesPerSecond = 24.0;
    std::vector<std::string> watched;
    std::vector<std::string> evaluationErrors;

    // ---- commands and the language
    Executor executor;
    detail::IdleQueue idleQueue;           // any thread
    std::vector<std::string> resultStack;  // innermost plug-in command's result last

    // ---- faults (any thread)
    struct Fault {
        FaultPoint point;
        std::string match;
        int times = 1;
    };
    mutable std::mutex faultMutex;
    std::vector<Fault> faults;

    // ---- data threads' wait limits (read by data threads), in milliseconds
    std::atomic<std::int64_t> acquireWaitMs{10}, idleWaitMs{8};

    // ---- reported changes to what data loops read (any thread), and the loops to wake for them
    std::atomic<bool> dataReports{false};
    std::atomic<std::uint64_t> dataEpoch{0};
    std::mutex runningThreadsMutex;
    std::vector<detail::ThreadState*> runningThreads;  // guarded by runningThreadsMutex

    // ---- pool order by node type name
    std::map<std::string, std::pair<PoolOrder, std::size_t>> poolOrders;
    std::pair<PoolOrder, std::size_t> poolOrderOf(const std::string& type) const {
        const auto it = poolOrders.find(type);
        return it == poolOrders.end() ? std::make_pair(PoolOrder::kNewest, std::size_t{2})
                                      : it->second;
    }

    // Ticks: every live data thread finishes a pass over what its device offers now.
    void awaitDataPasses();
    // Ticks: a `live` fed through a connection takes its new value (starting or stopping the
    // data thread) though nothing reads it; what the pull fails with is reported. Nodes in `skip`
    // are left alone; returns the nodes whose pull left `live` dirty (a source failed).
    std::vector<const detail::NodeRecord*> pullConnectedLive(
        const std::vector<const detail::NodeRecord*>& skip);

    // ---- observers
    std::vector<std::pair<int, std::function<void(const GraphEvent&)>>> observers;
    int nextObserver = 1;

    // ---- lookups
    detail::NodeType* findType(const std::string& name) const;
    detail::NodeType* findTypeById(std::uint32_t id) const;
    detail::NodeRecord* findNode(const std::string& name) const;
    detail::PluginRecord* findPlugin(const std::string& name) const;
    Result<detail::PlugRef> parsePlug(const std::string& text) const;
    std::string plugName(const detail::PlugRef& plug) const {
        return plug.node->plugPath(plug.attribute, plug.element);
    }
    std::vector<std::string> nodesOfPlugin(const detail::PluginRecord* plugin) const;
    bool hasPluginCommandName(const std::string& name) const;

    // ---- graph operations
    void emit(GraphEvent::Kind kind, const std::string& plug, const std::string& other = "");
    // The same for a plug of a node, named only when someone observes: dirtying and computes run
    // on every tick.
    void emit(GraphEvent::Kind kind, const detail::NodeRecord* node, int attribute) {
        if (!observers.empty())
            emit(kind, node->plugPath(attribute));
    }
    // Marks the plug dirty (with a notification when it was clean) and everything downstream of it.
    void markDirty(detail::NodeRecord* node, int attribute);
    // Dirties what depends on the plug (inside the node and through connections), not the plug
    // itself.
    void dirtyDependents(detail::NodeRecord* node, int attribute);
    // The plugs one dirty propagation reached. The outermost propagation marks the nodes
    // themselves (NodeRecord::visits: no search, no allocation); one started while it runs (an
    // observer that sets a plug) keeps a set of its own.
    class Visited {
      public:
        explicit Visited(Impl& host);
        ~Visited();
        Visited(const Visited&) = delete;
        Visited& operator=(const Visited&) = delete;
        bool add(detail::NodeRecord* node, int storage);  // false when reached before
        bool outermost() const { return m_mark != 0; }

      private:
        Impl& m_host;
        std::uint64_t m_mark = 0;  // 0: nested, m_own is used
        std::set<std::pair<const detail::NodeRecord*, int>> m_own;
    };
    std::uint64_t lastVisitMark = 0;
    bool propagating = false;
    // Propagation walks depth first with a stack of its own, not the thread's: a chain of nodes
    // would recurse once a node. A plug on the walk: its family's declared dependents are visited
    // first (member, target), then its destinations, listed in `pending` from `next` to `end`.
    struct DirtyStep {
        detail::NodeRecord* node;
        const std::vector<int>* related;
        int attribute;
        std::uint32_t member, target;
        bool listed;
        bool ownFamily;  // related is the last of `families`: the type's tables are not built
        std::uint32_t begin, next, end;  // its destinations in `pending`
    };
    struct DirtyWalk {
        std::vector<DirtyStep> steps;
        std::vector<detail::PlugRef> pending;
        std::vector<detail::Connection> out;
        std::list<std::vector<int>> families;       // stays put as it grows
        detail::WalkHints::Trace* trace = nullptr;  // the outermost propagation's
        bool foreseen = false;  // the plug entered next was asked for from a list ahead
    };
    DirtyWalk dirtyWalk;  // the outermost propagation's, kept to spare allocations
    // What the last large dirtying and pull from a plug reached, to foresee the next from there.
    detail::WalkHints dirtyHints, pullHints;
    // For the time an outermost propagation from a plug runs: its trace, foreseen from the last.
    class Foreseen {
      public:
        Foreseen(Impl& host, DirtyWalk& walk, const detail::NodeRecord* node, int attribute);
        ~Foreseen();
        Foreseen(const Foreseen&) = delete;
        Foreseen& operator=(const Foreseen&) = delete;

      private:
        Impl& m_host;
        DirtyWalk& m_walk;
        detail::WalkHints::Trace m_trace;
    };
    // Visits the plug: false when reached before; else marks it dirty and puts it on the walk.
    bool enterDirty(detail::NodeRecord* node, int attribute, Visited& visited, DirtyWalk& walk);
    void startStep(detail::NodeRecord* node, int attribute, DirtyWalk& walk);
    // Whether the step, about to enter the plug its current member affects, has nothing left to
    // do after it: no other declared dependents, no destinations.
    bool nothingAfter(const DirtyStep& step, const detail::NodeType& type) const;
    // Walks the steps above `bottom` to the end.
    void propagate(Visited& visited, DirtyWalk& walk, std::size_t bottom);
    // Pulls a dirty plug clean when it can. Failures of compute are recorded in evaluationErrors.
    void evaluate(detail::NodeRecord* node, int attribute);
    // Calls the node's compute for the plug, with the compute notification: the status code it
    // returned, or -1 when it threw (the message is then the last of evaluationErrors).
    int runCompute(detail::NodeRecord* node, int storage);
    // Records a compute's exception; apart, so that runCompute's frame, which every level of a
    // pull through a chain holds, stays small.
    [[gnu::noinline]] void computeThrew(const detail::NodeRecord* node, int storage,
                                        const std::string& threw);
    std::vector<int> pullScratch;  // evaluate: the attributes whose connections a plug pulls
    // Computes under way, each pulling the next through its inputs: one level of the thread's
    // stack per node, about 1 KB, so a chain of some thousands would overflow it. From
    // kDeepPull levels on, a pull first brings the plug's sources up to date in a walk with a
    // stack of its own, so that its compute's reads find them clean.
    static constexpr int kDeepPull = 128;
    int computeDepth = 0;
    int pullBase = 0;  // computeDepth where the innermost such walk began
    // Walks under way, and the nodes deleted meanwhile: kept until the outermost walk ends, since
    // a walk lists nodes before it reaches them.
    int pullWalks = 0;
    std::vector<std::shared_ptr<detail::NodeRecord>> deletedDuringPull;
    void preparePull(detail::NodeRecord* node, int storage);
    // The connections being pulled, innermost pull last: each pull's copies from its base up.
    std::vector<detail::Connection> pulling;
    // A connected plug takes what its sources give (pulling them first): those of `pulling`
    // from base up, which it takes off again.
    void pullSources(detail::NodeRecord* node, int storage, std::size_t base);
    void afterWrite(detail::NodeRecord* node,
                    int attribute);  // starts/stops data threads on `live`
    // The plugs through which a change of `from` reaches `to` (both ends included), following
    // declared dependencies and connections as dirty propagation does; empty when it does not.
    std::vector<std::string> dependencyPath(const detail::PlugRef& from,
                                            const detail::PlugRef& to) const;
    const detail::Connection* incoming(const detail::NodeRecord* node, int attribute,
                                       int element) const;
    // The node's connections out of (into) any of the attributes, in connection order, appended.
    static void outgoingOf(const detail::NodeRecord* node, const std::vector<int>& attributes,
                           std::vector<detail::ConnectionRef>& out);
    static void incomingOf(const detail::NodeRecord* node, const std::vector<int>& attributes,
                           std::vector<detail::ConnectionRef>& out);
    // The same, as the nodes' copies: what walks and pulls read, without visiting the host's list.
    static void outgoingCopies(const detail::NodeRecord* node, const std::vector<int>& attributes,
                               std::vector<detail::Connection>& out);
    static void incomingCopies(const detail::NodeRecord* node, const std::vector<int>& attributes,
                               std::vector<detail::Connection>& out);
    // Every connection of the node, in connection order.
    static std::vector<detail::ConnectionRef> connectionsOf(const detail::NodeRecord* node);
    // At `place` in connection order when that place is free, else last.
    void addConnection(const detail::PlugRef& source, const detail::PlugRef& destination,
                       std::uint64_t place = 0);
    void removeConnection(detail::ConnectionRef connection);
    void indexConnections();  // after `connections` was reordered
    // Nodes by name; a name given up makes its suffix free for the next node made from its base.
    void nameNode(detail::NodeRecord* node);
    void freeName(const detail::NodeRecord* node);
    std::string freeNameFrom(const std::string& base);  // base + the lowest free N from 1
    Status storeValue(detail::NodeRecord* node, int attribute, int element, const PlugValue& value);
    Result<detail::NodeRecord*> newNode(detail::NodeType& type, const std::string& name);
    Status removeNode(detail::NodeRecord* node);

    // ---- data threads
    void startThread(detail::NodeRecord* node);
    void stopThread(detail::NodeRecord* node);

    // ---- plug-ins
    Status initializePlugin(const std::shared_ptr<detail::PluginRecord>& plugin);
    Status unloadPlugin(detail::PluginRecord* plugin, bool force);
    void removeNodeType(detail::NodeType* type);
    void shutdown(bool recreateSceneTime);
    void createSceneTime();
};

}  // namespace rova::host

namespace rova::detail {

// The host's state; one per process.
host::Host::Impl& hostImpl();

}  // namespace rova::detail
