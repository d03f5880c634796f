#pragma once
// The headless host's own interface: what the `rova` program (its command language, undo queue and
// embedded Python) and the host's tests use. Plug-ins never include this; they see only <rova/...>.
// Every member is for the main thread unless its comment says otherwise.
#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "rova/RObject.h"
#include "rova/RStatus.h"
#include "rova/RovaExport.h"

namespace rova::host {

// Result of a host operation: ok, or an error message that says what and where
// (for example "no attribute 'scal' on node 'timeRotate1' (type timeRotate)").
struct Status {
    bool ok = true;
    std::string message;
    static Status failure(std::string m) { return Status{false, std::move(m)}; }
    explicit operator bool() const { return ok; }
};

template <class T>
struct Result {
    T value{};
    Status status;
    bool ok() const { return status.ok; }
};

// An attribute value held exactly, for get/set and for undo.
struct PlugValue {
    enum class Kind {
        kNone,
        kBool,
        kInt,
        kDouble,
        kDouble3,
        kMatrix,
        kString,
        kTime,
        kMesh,
        kArray
    };
    Kind kind = Kind::kNone;
    bool boolValue = false;
    std::int64_t intValue = 0;         // short, int and enum attributes
    double doubleValue = 0.0;          // float and double attributes; seconds for kTime
    std::array<double, 3> double3{};   // compounds of three numbers
    std::array<double, 16> matrix{};   // row by row
    std::string text;                  // kString
    std::shared_ptr<const void> mesh;  // kMesh: the host's mesh data (shared, read-only here)
    std::vector<std::pair<unsigned, PlugValue>> elements;  // kArray: logical index and value

    // Defined where PlugValue is complete: some compilers otherwise instantiate the elements'
    // pair while they still check whether PlugValue itself is default-constructible.
    ROVA_API PlugValue();

    static PlugValue ofBool(bool v);
    static PlugValue ofInt(std::int64_t v);
    static PlugValue ofDouble(double v);
    static PlugValue ofDouble3(double x, double y, double z);
    static PlugValue ofMatrix(const std::array<double, 16>& m);
    static PlugValue ofString(std::string s);
    static PlugValue ofTime(double seconds);
    bool operator==(const PlugValue& other) const;
};

// Text form: booleans true/false, integers in decimal, floating values in the shortest text that
// reads back to the same value, compounds and matrices as space-separated numbers (a matrix row by
// row), strings as their text, time in seconds, arrays as their elements' values in index order.
ROVA_API std::string formatValue(const PlugValue& value);
// Shortest round-trip text of one double ("0.1", "1e+300", "-0").
ROVA_API std::string formatDouble(double value);

// Which pushed record a threaded device node's compute gets from popThreadData.
//  - kNewest (the default): the newest; older queued records go back to the pool unread. When
//    every slot holds an unread record, acquireDataStorage waits for a slot (up to the acquire
//    wait) and then reuses the oldest unread one, so what compute reads is never older than the
//    last push. Right for state that the newest sample replaces: transforms, clocks.
//  - kOldest: first in, first out, at most `depth` records queued; acquireDataStorage fails while
//    that many wait unread. Right for events that must each be seen once, when the producer
//    covers what it could not push in its next record.
enum class PoolOrder { kNewest, kOldest };

// What it takes to re-create a node exactly (undo of delete).
struct NodeSnapshot {
    std::string name, type;
    std::vector<std::pair<std::string, PlugValue>>
        values;  // storable, writable inputs (long names)
    std::vector<std::pair<std::string, std::string>>
        connectionsIn;  // (source plug, destination plug)
    std::vector<std::pair<std::string, std::string>>
        connectionsOut;  // (source plug, destination plug)
    // Each connection's place in connection order (connectionPlace), as listed above: a restored
    // node's connections go back there. Empty: they go last.
    std::vector<std::uint64_t> placesIn, placesOut;
    std::uint64_t creationIndex = 0;  // its place in creation order; 0: after every node
    std::string parent;               // a DAG node's parent transform; "" at the top
};

// A graph notification. plug: "node.attr" (kCreate/kDelete: the node name); other: the other end of
// a connection, or the type name for kCreate/kDelete.
struct GraphEvent {
    enum Kind { kDirty, kCompute, kConnect, kDisconnect, kCreate, kDelete, kError } kind;
    std::string plug, other;
};

class ROVA_API Host {
  public:
    static Host& instance();
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // ---- search paths. Defaults: <exe dir>/../plug-ins and <exe dir>/../scripts (the build tree),
    // preceded by the entries of ROVA_PLUGIN_PATH / ROVA_SCRIPT_PATH (colon-separated).
    std::vector<std::filesystem::path>& pluginPath();
    std::vector<std::filesystem::path>& scriptPath();
    // The first existing file of that name on the script path (or the name itself when it is a
    // path).
    std::optional<std::filesystem::path> findScript(const std::string& file) const;

    // ---- plug-ins. load: dlopen by name on the plug-in path (NAME.so, libNAME.so) or by path,
    // check RApiVersion, run initializePlugin, then the registered UI creation procedure through
    // the executor (executor("PROC", false, false, nullptr): the procedure name runs as a
    // statement). A failed initializePlugin is reported and the plug-in stays loaded with whatever
    // it registered, so that unloading it still runs uninitializePlugin.
    Status loadPlugin(const std::string& nameOrPath);
    // Refused while nodes of the plug-in's types exist (naming them), unless force deletes them
    // first. Runs the UI deletion procedure, then uninitializePlugin, then closes the library.
    Status unloadPlugin(const std::string& name, bool force);
    std::vector<std::string> pluginNames() const;  // load order
    using PluginEntry = RStatus (*)(RObject plugin);
    // A plug-in living in the calling binary (tests, built-in types): behaves like a loaded
    // library.
    Status registerBuiltinPlugin(const std::string& name, PluginEntry initialize,
                                 PluginEntry uninitialize);
    std::vector<std::string> nodeTypeNames() const;
    std::vector<std::string> commandNames() const;

    // ---- nodes. Names: [A-Za-z_][A-Za-z0-9_]*; a taken name gets a numeric suffix; default name
    // is the type name with a number. Anything else is refused with a message.
    Result<std::string> createNode(const std::string& type, const std::string& requestedName = "");
    Status deleteNode(const std::string& name);  // stops and joins a data thread first
    Status renameNode(const std::string& from, const std::string& to);
    std::vector<std::string> nodeNames(const std::string& typeFilter = "") const;  // creation order
    bool hasNode(const std::string& name) const;
    // A count that grows with every change that can alter the scene (a stored value, a
    // connection, a node made, deleted or renamed, a tick): equal counts mean nothing changed in
    // between. Any thread.
    std::uint64_t sceneChanges() const;
    Result<std::string> nodeType(const std::string& name) const;
    Result<NodeSnapshot> snapshotNode(const std::string& name) const;
    // Re-creates the node with the same name, values and connections, at its old place in
    // creation order.
    Status restoreNode(const NodeSnapshot& snapshot);
    // Names are 1 to kMaxNodeNameLength letters, digits and '_', not starting with a digit.
    static constexpr std::size_t kMaxNodeNameLength = 256;
    static bool isValidNodeName(const std::string& name);
    // Success, or why the name breaks the rule ("invalid node name '...': ...").
    static Status checkNodeName(const std::string& name);

    // ---- plugs: "node.attr" with long or short names, children ("node.offsetX"), elements
    // ("node.attr[3]").
    Result<PlugValue> getPlug(const std::string& plug);           // evaluates a dirty plug (pull)
    Result<PlugValue> storedPlug(const std::string& plug) const;  // no evaluation
    Status setPlug(const std::string& plug,
                   const std::vector<std::string>& words);                      // parsed per type
    Status setPlugValue(const std::string& plug, const PlugValue& value);       // exact (undo)
    Status connect(const std::string& source, const std::string& destination);  // type-checked
    Status disconnect(const std::string& source, const std::string& destination);
    // A connection's place in connection order (the order `connections` lists and dirtying
    // follows); 0 when the plugs are not connected. Each connection made takes a greater one.
    std::uint64_t connectionPlace(const std::string& source, const std::string& destination) const;
    // As connect, with the connection put back at `place`, where it stood before it was broken
    // (undo), between the connections it stood between; 0, or a place taken since, puts it last.
    Status connect(const std::string& source, const std::string& destination, std::uint64_t place);
    // Puts the connections listed (source, destination) in that order, ahead of any others, which
    // keep theirs; what changes in the graph is only the order `connections` reports (undo).
    void reorderConnections(const std::vector<std::pair<std::string, std::string>>& order);
    // (source, destination) pairs; with a node name, those that touch it. Connection order.
    std::vector<std::pair<std::string, std::string>> connections(
        const std::string& node = "") const;
    std::vector<std::string> attributeNames(
        const std::string& node) const;  // long names, creation order

    // ---- what a node type is and holds (the `attributes` command, help for a type).
    struct AttributeInfo {
        std::string longName, shortName;
        // bool, short, int, float, double, double3, time, matrix, enum, string, mesh, compound
        std::string type;
        std::vector<std::pair<std::string, int>> fields;  // an enum's names and values
        std::string parent;  // the compound holding it (long name); "" at the top
        // Computed by the node: another attribute affects it (or its compound), or it cannot be
        // written. Everything else is an input.
        bool output = false;
        bool readable = true, writable = true, connectable = true, storable = true;
        bool keyable = false, hidden = false, array = false;
        PlugValue defaultValue;  // kNone for compounds and meshes
    };
    struct NodeTypeInfo {
        std::string name;
        std::string plugin;  // the plug-in that registered it; "" for the host's own types
        std::string kind;    // "dependency node", "threaded device node", "deformer", ...
        std::vector<AttributeInfo> attributes;  // creation order, children after compounds
    };
    Result<NodeTypeInfo> nodeTypeInfo(const std::string& type) const;
    Result<bool> isDirty(const std::string& plug) const;
    // What a node answered when asked to compute one plug (the `evaluate` diagnostic).
    struct ForcedCompute {
        int status = 0;      // the RStatus code compute returned; -1 when it threw
        std::string error;   // what it threw
        PlugValue value;     // the plug's value afterwards
        bool dirty = false;  // whether the plug is dirty afterwards
    };
    // Asks the plug's node to compute this plug even when it is clean or an input (connections
    // are not pulled first), then applies the host's rules for the answer: success leaves the
    // plug clean; 5 (not computed by this node) lets the stored value serve and changes nothing;
    // any other status, or a throw, keeps the stored value and leaves the plug dirty.
    Result<ForcedCompute> forceCompute(const std::string& plug);
    // "node.attr" with the attribute's long name, or a failure naming what is wrong.
    Result<std::string> canonicalPlug(const std::string& plug) const;

    // ---- scene time; the node "sceneTime" (type "time") exists from start, output "time"
    // (seconds).
    void setTime(double seconds);
    double time() const;
    void setFps(double fps);  // fps <= 0 is ignored
    double fps() const;

    // One tick: drain the idle queue through the executor, pull the `live` plugs fed through
    // connections, mark the refresh attributes of threaded device nodes holding records no read
    // took yet dirty (once for each record), pull those `live` plugs again, evaluate the watched
    // plugs.
    void tick();
    Status watch(const std::string& plug, bool on);
    std::vector<std::string> watchedPlugs() const;

    // ---- commands registered by plug-ins (RFnPlugin::registerCommand).
    bool hasPluginCommand(const std::string& name) const;
    struct CommandOutcome {
        bool ok = false;
        std::string result;              // what the command set with setResult/appendToResult
        std::string error;               // why it failed, when it did
        std::shared_ptr<void> undoable;  // the instance, kept when canUndo() answered true
    };
    CommandOutcome runPluginCommand(const std::string& name, const std::vector<std::string>& args);
    // The plug-in that registered the command and the command's own description (its
    // helpText, empty when it gives none), asked of a fresh instance that runs nothing.
    struct PluginCommandHelp {
        std::string plugin;
        std::string text;
    };
    Result<PluginCommandHelp> pluginCommandHelp(const std::string& name);
    Status undoPluginCommand(const std::shared_ptr<void>& undoable);
    Status redoPluginCommand(const std::shared_ptr<void>& undoable);

    // ---- the language installs this; RGlobal::executeCommand, the idle queue and UI procedures go
    // through it. Returns success; result receives the statement's result text when not null.
    using Executor = std::function<bool(const std::string& text, bool display, bool undoable,
                                        std::string* result)>;
    void setExecutor(Executor executor);
    void queueIdle(std::string command);  // any thread
    // Once this many statements wait for the next tick, a statement identical to a waiting one
    // replaces the oldest such copy at the end of the queue rather than adding to it.
    static constexpr std::size_t kIdleCoalesceAt = 65536;
    void drainIdle();                   // runs what was queued before the call, in order
    std::size_t idleQueueSize() const;  // any thread

    // ---- fault injection: the next matching call fails (times N; -1 = every time until cleared).
    // match narrows to calls whose subject contains the text (empty: any subject).
    Status armFault(const std::string& call, const std::string& match, int times);
    void clearFaults();
    std::vector<std::string> faultCalls() const;  // the names armFault accepts

    // ---- data threads' waits. A wait for a pool slot (acquireDataStorage) or, in a loop that made
    // no progress, for work (isDone) ends early when a slot is handed back, setDone is called or
    // the thread is stopped; otherwise after these limits (default 10 ms and 8 ms; a tick that
    // needs a pass ends the idle wait at once, so its length costs no latency, only how often an
    // idle loop wakes).
    struct ThreadWaits {
        std::chrono::milliseconds acquire{10};
        std::chrono::milliseconds idle{8};
    };
    void setThreadWaits(ThreadWaits waits);
    // The pool order of every node of a type (its existing nodes too). Unknown types may be named
    // before they are registered. depth: kOldest only, at least 1.
    Status setPoolOrder(const std::string& type, PoolOrder order, std::size_t depth = 2);
    std::pair<PoolOrder, std::size_t> poolOrder(const std::string& type) const;
    // How long a tick waits at most for each live data thread's pass before it goes on.
    static constexpr std::chrono::milliseconds kPassWait{1000};
    // ---- reports of changes to what data loops read (a device's frames, its plugging in and out),
    // from the program that owns the device. With reports on, a tick passes over a loop that is
    // idle since a pass that began after the last reported change and handed nothing over: another
    // pass would find nothing new either. Without them every tick asks every live loop for a pass.
    // Turn them on only when every such change is reported. dataChanged(true) also wakes the
    // loops, so that they read what came now rather than at the next tick (real-time sources);
    // dataChanged(false) leaves the reading to the next tick (lockstep, where when a loop reads
    // must not depend on thread timing).
    void setDataChangeReports(bool on);
    void dataChanged(bool wakeLoops);  // any thread
    ThreadWaits threadWaits() const;
    // How a node's data-thread waits ended so far: woken (by a freed slot, setDone or a stop) or
    // timed out. Tests use it to prove that a wake-up, not a timeout, ended a wait.
    struct WaitCounts {
        std::uint64_t woken = 0;
        std::uint64_t timedOut = 0;
        std::uint64_t waitingNow = 0;  // data-thread calls inside a wait at this moment
    };
    Result<WaitCounts> threadWaitCounts(const std::string& node) const;
    // Returns once a data-thread call of the node is inside one of those waits (so that what
    // should wake it can be tested), or fails after `limit`. For tests.
    Status awaitThreadWait(const std::string& node, std::chrono::milliseconds limit) const;

    // ---- observation, for tests and the `trace` command.
    int addObserver(std::function<void(const GraphEvent&)> observer);
    void removeObserver(int id);

    // Exit: stop data threads, delete every node, unload plug-ins in reverse order. Idempotent; the
    // host is usable again afterwards (with a fresh sceneTime node at time 0). The program calls it
    // before whatever its executor uses goes away (UI deletion procedures run through the
    // executor); the host's own destructor at process exit drops the executor first.
    void shutdown();
    // The program's last call before it returns: what shutdown does, without a fresh sceneTime,
    // so the host's destructor at process exit has nothing left to delete and notifies nobody.
    void shutdownForExit();

    struct Impl;
    Impl& impl() { return *m_impl; }

  private:
    Host();
    std::unique_ptr<Impl> m_impl;
};

}  // namespace rova::host
