#pragma once
// Private structures of the host runtime, shared by its source files.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "rova/RFnAttribute.h"
#include "rova/RFnPlugin.h"
#include "rova/RMatrix.h"
#include "rova/RObject.h"
#include "rova/RPxCommand.h"
#include "rova/RPxNode.h"
#include "rova/RPxThreadedDeviceNode.h"
#include "rova/RStatus.h"
#include "rovahost/FaultPoint.h"
#include "rovahost/Host.h"

namespace rova::detail {

struct ObjectImpl : std::enable_shared_from_this<ObjectImpl> {
    explicit ObjectImpl(RObject::Kind k) : kind(k) {}
    virtual ~ObjectImpl() = default;
    RObject::Kind kind;
};

struct Access {
    static RObject make(std::shared_ptr<ObjectImpl> impl) { return RObject(std::move(impl)); }
    static ObjectImpl* get(const RObject& object) { return object.m_impl.get(); }
    static std::shared_ptr<ObjectImpl> share(const RObject& object) { return object.m_impl; }
};

enum class ValueType {
    kBool,
    kShort,
    kInt,
    kFloat,
    kDouble,
    kDouble3,
    kTime,
    kMatrix,
    kEnum,
    kString,
    kMesh,
    kCompound
};

const char* valueTypeName(ValueType type);
bool isScalar(ValueType type);

// One stored attribute value. Fields unused by the type stay at their defaults.
struct Value {
    ValueType type = ValueType::kDouble;
    bool b = false;
    std::int64_t i = 0;
    double d = 0.0;
    double v3[3] = {0.0, 0.0, 0.0};
    RMatrix m;
    std::string s;
    std::shared_ptr<ObjectImpl> mesh;

    double asNumber() const;
    void setNumber(double value);  // converts to the value's own type
    // Copies other into this value, converting between numeric kinds; false when the kinds differ.
    bool assignFrom(const Value& other);
};

// Generic data passed around as an RObject (mesh data and the like).
struct DataObject : ObjectImpl {
    DataObject() : ObjectImpl(RObject::Kind::kData) {}
};

struct AttributeDef : ObjectImpl {
    AttributeDef() : ObjectImpl(RObject::Kind::kAttribute) {}
    std::string longName, shortName;
    ValueType type = ValueType::kDouble;
    RFnNumericData::Type numericType = RFnNumericData::kInvalid;
    bool readable = true, writable = true, connectable = true, storable = true;
    bool keyable = false, hidden = false, array = false;
    Value defaultValue;
    std::vector<std::pair<std::string, short>> fields;
    std::vector<std::shared_ptr<AttributeDef>> children;
    AttributeDef* parent = nullptr;
    int component = -1;  // child of a compound of three numbers: its component
    // Its index in the first type that took it (see NodeType::indexOf); set once, at
    // registration, before any node of that type exists.
    int indexHint = -1;
};

AttributeDef* attributeOf(const RObject& object);
// The children of a compound of three numbers append these to its long and short names
// (translate/t: translateX/tx).
inline constexpr std::pair<const char*, const char*> kAxisSuffixes[] = {
    {"X", "x"}, {"Y", "y"}, {"Z", "z"}};

std::shared_ptr<AttributeDef> makeAttribute(const std::string& longName,
                                            const std::string& shortName, ValueType type);

struct PluginRecord;
class NodeRecord;
struct PlugRef;

// The API version this host implements; a plug-in that requires a later one is refused.
constexpr long kHostApiVersion = 201400;

struct NodeType {
    std::string name;
    RTypeId id;
    RCreatorFunction creator = nullptr;
    RInitializeFunction initialize = nullptr;
    RPxNode::Type kind = RPxNode::kDependNode;
    PluginRecord* plugin = nullptr;  // null for the host's own types
    std::function<RPxNode*()> builtinCreator;
    // The attribute whose change reaches the nodes below a node of this type (the transform's
    // world matrix); -1 for types outside the hierarchy.
    int hierarchyAttribute = -1;
    // The plugs a change of `hierarchyAttribute` reaches besides its connections (the world
    // matrices below, the deformers of the meshes below). The scene, which owns the hierarchy,
    // supplies it, so that dirtying and dependency paths need nothing of the scene.
    std::vector<PlugRef> (*hierarchyDependents)(NodeRecord* node, int attribute) = nullptr;
    std::vector<std::shared_ptr<AttributeDef>>
        attributes;  // creation order, children after parents
    std::unordered_map<const AttributeDef*, int> index;
    std::vector<std::vector<int>> affects;

    // Asked for every handle a compute takes: the attribute's hint answers without hashing
    // unless the attribute belongs to several types (the inherited ones).
    int indexOf(const AttributeDef* attribute) const {
        if (attribute) {
            const int hint = attribute->indexHint;
            if (hint >= 0 && static_cast<std::size_t>(hint) < attributes.size() &&
                attributes[static_cast<std::size_t>(hint)].get() == attribute)
                return hint;
        }
        auto it = index.find(attribute);
        return it == index.end() ? -1 : it->second;
    }
    void addIndex(AttributeDef* attribute, int at) {
        index[attribute] = at;
        if (attribute->indexHint < 0)
            attribute->indexHint = at;
    }
    int findByName(const std::string& name) const;
    int parentIndex(int attribute) const;  // -1 when not a child

    // Per attribute, looked up on every dirtying and evaluation: where its value lives (children
    // of a three-number compound share their parent's), and its family (itself, its compound
    // parent, its children). Built when the type's first node is made; while attributes are
    // still being added (the tables are shorter than `attributes`) they are worked out each time.
    std::vector<int> storage;
    std::vector<std::vector<int>> families;
    void buildLookups();
    bool lookupsCurrent() const { return storage.size() == attributes.size(); }
    int computeStorage(int attribute) const;
    std::vector<int> computeFamily(int attribute) const;
};

// The pool and the data thread of a threaded device node.
struct ThreadState {
    std::mutex mutex;
    std::condition_variable wake;
    std::atomic<bool> done{false};
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> live{false};
    std::atomic<bool> pushed{false};
    std::atomic<std::uint64_t> acquired{0};
    std::uint64_t acquiredSeenByIsDone = 0;  // data thread only
    std::uint64_t freed = 0;                 // guarded by mutex: slots handed back so far
    std::uint64_t freedSeenByIsDone = 0;     // data thread only
    // The loop waits for a slot, or found none on its last try: only then is a slot handed back
    // worth waking it for. Guarded by mutex.
    bool wantsRoom = false;
    std::thread thread;
    bool running = false;  // main thread only

    enum SlotState : unsigned char { kFree, kFilling, kQueued, kReading };
    std::vector<char> storage;  // guarded by mutex (layout), slot contents by ownership
    std::size_t slotSize = 0;
    std::vector<SlotState> slots;
    std::deque<int> queue;  // pushed slots, oldest first
    std::vector<int> freeSlots;
    // Which record popThreadData hands out (see rovahost/Host.h, PoolOrder); set from the node
    // type's setting when the pool is made.
    host::PoolOrder order = host::PoolOrder::kNewest;
    std::size_t orderDepth = 2;  // kOldest: records kept queued at most
    // Passes of the data loop (completed isDone calls) and the ticks' requests for a pass: a
    // requested pass is not slowed by naps or waits for a slot. Guarded by mutex.
    std::uint64_t passes = 0;
    std::uint64_t passRequests = 0;
    std::uint64_t passRequestsSeen = 0;  // data thread: requests answered by an isDone
    std::uint64_t passTarget = 0;        // a tick waits until passes reach it: nothing waits before
    bool betweenPasses = false;          // the loop is in isDone: its next pass begins after now
    // The host's count of reported data changes when the current pass began (data thread), and,
    // while the loop naps after a pass that handed nothing over (idleNap), that pass's count and
    // the slots freed when it ended: a tick need not wake a loop whose nap began after the newest
    // change, unless it waits for a slot and one was freed since. Guarded by mutex.
    static constexpr std::uint64_t kNoPass = ~std::uint64_t{0};
    std::uint64_t passEpoch = kNoPass;
    bool idleNap = false;
    std::uint64_t napEpoch = 0;
    std::uint64_t napFreed = 0;
    // The loop read what there was at `epoch`, handed nothing over and waits for nothing a tick
    // would give it: another pass would find nothing new.
    bool readEverythingAt(std::uint64_t epoch) const {
        return idleNap && napEpoch == epoch && (!wantsRoom || napFreed == freed) &&
               passRequests == passRequestsSeen;
    }
    std::condition_variable passDone;
    bool loopEnded = false;  // guarded by mutex: runDeviceThread returned
    std::atomic<std::uint64_t> wokenWaits{0};
    std::atomic<std::uint64_t> timedOutWaits{0};
    std::atomic<std::uint64_t> blockedNow{0};  // threads inside a wait at this moment
    std::condition_variable waitBegan;         // guarded by mutex: blockedNow went up
    std::string poolFailure;                   // main thread: why the last createMemoryPools failed
    bool noPoolReported = false;               // main thread: the missing pool was reported
};

// Hands a slot back to the pool's free list. The caller holds the state's mutex.
void freeSlot(ThreadState& state, int slot);

class NodeRecord;

struct PlugRef {
    NodeRecord* node = nullptr;
    int attribute = -1;
    int element = -1;
    bool operator==(const PlugRef& o) const {
        return node == o.node && attribute == o.attribute && element == o.element;
    }
};

struct Connection {
    PlugRef source, destination;
    std::uint64_t order = 0;  // place in connection order
};

using Connections = std::list<Connection>;  // the host's, in connection order
using ConnectionRef = Connections::iterator;

class NodeRecord : public ObjectImpl {
  public:
    NodeRecord() : ObjectImpl(RObject::Kind::kNode) {}
    // Read freely on the main thread, which alone changes it, through rename. Data threads name
    // their node in messages and fault subjects: they read nameForAnyThread.
    std::string name;
    std::string nameForAnyThread() const {
        std::lock_guard<std::mutex> lock(m_nameMutex);
        return name;
    }
    void rename(std::string to) {
        std::lock_guard<std::mutex> lock(m_nameMutex);
        name = std::move(to);
    }
    std::shared_ptr<NodeType> type;
    RPxNode* instance = nullptr;
    std::uint64_t creationIndex = 0;  // place in creation order (ls), kept across undo of delete
    bool alive = true;
    // The dirty propagation that reached this node last and the storage attributes below 64 it
    // reached (see Host::Impl::Visited); `visits` holds the marks of the others.
    std::uint64_t visitMark = 0;
    std::uint64_t visitedLow = 0;
    std::vector<Value> values;
    std::vector<char> dirty;
    std::vector<char> evaluating;
    std::map<int, std::map<unsigned, Value>> arrays;  // array attributes: logical index -> value
    std::vector<int> refreshAttributes;
    std::unique_ptr<ThreadState> thread;
    // The node's connections by the attribute they name on it (an element's under its array,
    // a child's under the child), each list in connection order; empty until the node has one.
    // Kept by the host as connections are made and broken, so that a lookup costs what the
    // node's own connections cost.
    std::vector<std::vector<ConnectionRef>> incoming, outgoing;
    std::vector<std::uint64_t> visits;

    // Where an attribute's value lives: children of a three-number compound share their parent's.
    int storageOf(int attribute) const;
    Value& valueOf(int attribute) { return values[static_cast<std::size_t>(storageOf(attribute))]; }
    bool isDirty(int attribute) const {
        return dirty[static_cast<std::size_t>(storageOf(attribute))] != 0;
    }
    std::string plugPath(int attribute, int element = -1) const;

  private:
    mutable std::mutex m_nameMutex;
};

struct NodeAccess {
    static NodeRecord* record(const RPxNode& node) { return node.m_record; }
    static void setRecord(RPxNode& node, NodeRecord* record) { node.m_record = record; }
};

struct DataBlockAccess {
    static RDataBlock make(NodeRecord* node) { return RDataBlock(node); }
    static NodeRecord* node(const RDataBlock& block) {
        return static_cast<NodeRecord*>(block.m_node);
    }
};

struct DataHandleAccess {
    static RDataHandle make(Value* value, NodeRecord* node, int attribute, int component);
    static Value* value(const RDataHandle& h) { return h.m_value; }
    static NodeRecord* node(const RDataHandle& h) { return static_cast<NodeRecord*>(h.m_block); }
    static int attribute(const RDataHandle& h) { return h.m_attribute; }
    static int component(const RDataHandle& h) { return h.m_component; }
    static void setElement(RDataHandle& h, int element) { h.m_element = element; }
};

struct ArrayHandleAccess {
    static RArrayDataHandle make(NodeRecord* node, int attribute, bool output);
    static NodeRecord* node(const RArrayDataHandle& h) {
        return static_cast<NodeRecord*>(h.m_block);
    }
    static int attribute(const RArrayDataHandle& h) { return h.m_attribute; }
    static bool output(const RArrayDataHandle& h) { return h.m_output; }
    static int& position(RArrayDataHandle& h) { return h.m_position; }
};

struct PluginRecord : ObjectImpl {
    PluginRecord() : ObjectImpl(RObject::Kind::kPlugin) {}
    std::string name, path;
    void* library = nullptr;
    host::Host::PluginEntry initialize = nullptr;
    host::Host::PluginEntry uninitialize = nullptr;
    std::string vendor = "Unknown", version = "Unknown", requiredApi = "Any";
    std::string uiCreate, uiDelete, uiCreateBatch, uiDeleteBatch;
    bool initialized = false;
    bool loading = false;
};

struct CommandHolder {
    RPxCommand* command = nullptr;
    PluginRecord* plugin = nullptr;
    ~CommandHolder() { delete command; }
};

struct CommandDef {
    std::string name;
    RCreatorFunction creator = nullptr;
    RCreateSyntaxFunction syntax = nullptr;
    PluginRecord* plugin = nullptr;
};

// The value behind a plug (element and compound component included), and writing it.
Value readPlug(NodeRecord* node, int attribute, int element);
void writePlug(NodeRecord* node, int attribute, int element, const Value& value);

// Fault injection and the error it produces. faultsArmed is cheap: a call that must build its
// subject asks it first.
bool faultsArmed();
bool faultArmed(host::FaultPoint point, const std::string& subject);
// Subject of an attribute set-up call: "TYPE.attribute" while a node type initialises (so a
// fault can target one type), the attribute alone otherwise.
std::string setupSubject(const std::string& attribute);
RStatus injectedFailure(host::FaultPoint point, const std::string& subject);

// The host's state; one per process.
host::Host::Impl& hostImpl();

// Writes "error: LINE" on standard error.
void writeError(const std::string& line);
// Appends "[index]" to `text`.
void appendIndex(std::string& text, int index);

}  // namespace rova::detail
