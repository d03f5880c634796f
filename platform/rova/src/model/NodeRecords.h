#pragma once
// Nodes as the host keeps them: values, dirty flags, connections; and plugs.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "model/NodeTypes.h"
#include "model/Objects.h"
#include "model/Slabs.h"
#include "model/Values.h"

namespace rova::detail {

struct ThreadState;

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

// The host's connections in connection order, by place: a connection broken and made again (undo)
// goes back to its old place without a walk along the others.
struct ByConnectionOrder {
    using is_transparent = void;
    bool operator()(const Connection& a, const Connection& b) const { return a.order < b.order; }
    bool operator()(const Connection& a, std::uint64_t b) const { return a.order < b; }
    bool operator()(std::uint64_t a, const Connection& b) const { return a < b.order; }
};
using Connections = std::set<Connection, ByConnectionOrder>;
using ConnectionRef = Connections::const_iterator;

// A connection as a node lists it: a copy of it, so that dirtying and pulling read the node's own
// lists and not the host's scattered entries, and where it is in the host's list. The host makes
// the lists again whenever it changes a connection in place (reordering). Walks never read `ref`:
// last in the entry, it spares them the list's last line.
struct LinkedConnection {
    Connection connection;
    ConnectionRef ref;
};

// One flag per storage attribute (dirty). Held in the node for types of up to kInline attributes,
// so that dirtying and evaluation find it on the node's own cache lines.
class NodeFlags {
  public:
    static constexpr std::size_t kInline = 32;
    NodeFlags() = default;
    NodeFlags(const NodeFlags&) = delete;
    NodeFlags& operator=(const NodeFlags&) = delete;
    void assign(std::size_t count, char value) {
        if (count > kInline) {
            m_heap = std::make_unique<char[]>(count);
            m_data = m_heap.get();
        } else {
            m_heap.reset();
            m_data = m_inline;
        }
        m_size = count;
        std::memset(m_data, value, count);
    }
    char& operator[](std::size_t slot) { return m_data[slot]; }
    char operator[](std::size_t slot) const { return m_data[slot]; }
    const char* data() const { return m_data; }
    std::size_t size() const { return m_size; }

  private:
    // The pointer and the flags first: a node keeps what a walk reads together (see NodeRecord).
    char* m_data = m_inline;
    char m_inline[kInline] = {};
    std::size_t m_size = 0;
    std::unique_ptr<char[]> m_heap;
};

// A node's connections at one end (in or out), grouped by the attribute they name on the node (an
// element's under its array, a child's under the child), each group in connection order. The
// first kInline lie in the node itself: most nodes have a few, and a walk along a chain then
// reads no block apart from the node.
class LinkList {
  public:
    static constexpr std::size_t kInline = 2;
    explicit LinkList(bool outgoing) : m_outgoing(outgoing ? 1 : 0) {}
    LinkList(const LinkList&) = delete;
    LinkList& operator=(const LinkList&) = delete;
    ~LinkList() { release(); }

    using Range = std::pair<const LinkedConnection*, const LinkedConnection*>;
    const LinkedConnection* begin() const { return m_data; }
    const LinkedConnection* end() const { return m_data + m_size; }
    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    // The attribute's group (empty when it has none). Inline: dirtying and pulling ask it for
    // every connected plug they reach.
    Range group(int attribute) const {
        const LinkedConnection* first = m_data;
        const LinkedConnection* last = m_data + m_size;
        if (m_size > kSearched) {
            first = std::partition_point(first, last, [&](const LinkedConnection& entry) {
                return keyOf(entry) < attribute;
            });
            last = std::partition_point(first, last, [&](const LinkedConnection& entry) {
                return keyOf(entry) == attribute;
            });
            return {first, last};
        }
        while (first != last && keyOf(*first) < attribute) ++first;
        const LinkedConnection* stop = first;
        while (stop != last && keyOf(*stop) == attribute) ++stop;
        return {first, stop};
    }
    bool has(int attribute) const {
        const Range range = group(attribute);
        return range.first != range.second;
    }
    // At the end of the attribute's group: connections are entered in connection order.
    void add(const LinkedConnection& entry);
    // Searched from the end of its group: deleting nodes newest first finds a shared source's
    // connections at once.
    void remove(ConnectionRef ref);
    void clear() { m_size = 0; }

  private:
    static constexpr std::uint32_t kSearched = 8;  // longer lists are searched by halves
    int keyOf(const LinkedConnection& entry) const {
        return m_outgoing ? entry.connection.source.attribute
                          : entry.connection.destination.attribute;
    }
    void release();

    // Sixteen bytes before the entries: the list's first lines hold as much of them as they can.
    LinkedConnection* m_data = m_inline;
    std::uint32_t m_size = 0;
    std::uint32_t m_capacity : 31 = kInline;
    std::uint32_t m_outgoing : 1;
    LinkedConnection m_inline[kInline];
};

// Aligned to a cache line, so that what a walk reads of a node takes as few lines as it can.
class alignas(64) NodeRecord : public ObjectImpl {
  public:
    // Out of line, where the data thread's state is a complete type.
    NodeRecord();
    ~NodeRecord() override;

    // What dirtying and evaluation read of every node they reach comes first, in the record's
    // first two cache lines: the type, the marks, the flags. The connection lists' first entries
    // follow, then where the instance and values lie, then the name a lookup by name compares.
    bool alive = true;  // first: it takes the padding at the end of ObjectImpl
    std::shared_ptr<NodeType> type;
    // The dirty propagation that reached this node last and the storage attributes below 64 it
    // reached (see Host::Impl::Visited); `visits` holds the marks of the others.
    std::uint64_t visitMark = 0;
    std::uint64_t visitedLow = 0;
    // Which attributes have connections in (out): bit N for attribute N below 63, bit 63 for any
    // from 63 up. Kept with the lists below, so that a plug without any skips them.
    std::uint64_t connectedIn = 0, connectedOut = 0;
    static std::uint64_t connectionBit(int attribute) {
        return std::uint64_t{1} << (attribute < 63 ? attribute : 63);
    }
    // The storage attributes being evaluated (a compute that reads its own plug back takes the
    // stored value): bits below 64 here, where evaluation reads them, the others apart.
    std::uint64_t evaluatingLow = 0;
    NodeFlags dirty;  // by storage attribute
    // The node's connections by the attribute they name on it. Kept by the host as connections
    // are made and broken, so that a lookup costs what the node's own connections cost. A pull
    // reads the record's first four lines (the flags, then `incoming`); dirtying reads the first
    // two and the two after those (`outgoing`).
    LinkList incoming{false}, outgoing{true};
    RPxNode* instance = nullptr;
    // From slabs of its own size, in creation order like the records (see Slabs.h).
    std::vector<Value, SlabAllocator<Value>> values;
    // Read freely on the main thread, which alone changes it, through rename. Data threads name
    // their node in messages and fault subjects: they read nameForAnyThread.
    std::string name;

    bool isEvaluating(int storage) const {
        return storage < 64 ? ((evaluatingLow >> storage) & 1) != 0
                            : evaluatingHigh[static_cast<std::size_t>(storage)] != 0;
    }
    void setEvaluating(int storage, bool on) {
        if (storage >= 64)
            evaluatingHigh[static_cast<std::size_t>(storage)] = on ? 1 : 0;
        else if (on)
            evaluatingLow |= std::uint64_t{1} << storage;
        else
            evaluatingLow &= ~(std::uint64_t{1} << storage);
    }
    void sizeEvaluating(std::size_t attributes) {
        evaluatingLow = 0;
        evaluatingHigh.assign(attributes > 64 ? attributes : 0, 0);
    }

    std::string nameForAnyThread() const {
        std::lock_guard<std::mutex> lock(m_nameMutex);
        return name;
    }
    void rename(std::string to) {
        std::lock_guard<std::mutex> lock(m_nameMutex);
        name = std::move(to);
    }
    std::vector<char> evaluatingHigh;  // by storage attribute; empty for types of up to 64
    std::uint64_t creationIndex = 0;   // place in creation order (ls), kept across undo of delete
    std::map<int, std::map<unsigned, Value>> arrays;  // array attributes: logical index -> value
    std::vector<int> refreshAttributes;
    std::unique_ptr<ThreadState> thread;
    std::vector<std::uint64_t> visits;
    // The node looked up by name after this one last time, its name's hash and its instance (see
    // NodeNames).
    struct FoundNext {
        const NodeRecord* node = nullptr;
        std::size_t hash = 0;
        const void* instance = nullptr;
    } foundNext;

    // Where an attribute's value lives: children of a three-number compound share their parent's.
    // Inline: dirtying and evaluation ask it for every plug they reach.
    int storageOf(int attribute) const {
        return type->lookupsCurrent() ? type->storage[static_cast<std::size_t>(attribute)]
                                      : type->computeStorage(attribute);
    }
    Value& valueOf(int attribute) {
        return values[static_cast<std::size_t>(type->valueSlotOf(attribute))];
    }
    bool isDirty(int attribute) const {
        return dirty[static_cast<std::size_t>(storageOf(attribute))] != 0;
    }
    std::string plugPath(int attribute, int element = -1) const;

  private:
    mutable std::mutex m_nameMutex;
};

// Asks for what a walk reads of a node it reaches: the record's first two lines (type, marks,
// flags) and the two lines of the list it follows on (the node's `outgoing` or `incoming`).
inline void prefetchVisit(const NodeRecord* node, const LinkList& list) {
    const char* at = reinterpret_cast<const char*>(node);
    __builtin_prefetch(at);
    __builtin_prefetch(at + 64);
    const char* entries = reinterpret_cast<const char*>(&list);
    __builtin_prefetch(entries);
    __builtin_prefetch(entries + 64);
}

// The value behind a plug (element and compound component included), and writing it.
Value readPlug(NodeRecord* node, int attribute, int element);
void writePlug(NodeRecord* node, int attribute, int element, const Value& value);
// writePlug(to, ..., readPlug(from, ...)), without the value in between where both are whole.
void copyPlug(NodeRecord* from, int fromAttribute, int fromElement, NodeRecord* to, int toAttribute,
              int toElement);

}  // namespace rova::detail
