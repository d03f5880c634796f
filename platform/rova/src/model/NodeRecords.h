#pragma once
// Nodes as the host keeps them: values, dirty flags, connections; and plugs.
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "model/NodeTypes.h"
#include "model/Objects.h"
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

using Connections = std::list<Connection>;  // the host's, in connection order
using ConnectionRef = Connections::iterator;

// A connection as a node lists it: where it is in the host's list, and a copy of it, so that
// dirtying and pulling read the node's own lists and not the host's scattered entries. The host
// makes the lists again whenever it changes a connection in place (reordering).
struct LinkedConnection {
    ConnectionRef ref;
    Connection connection;
};

class NodeRecord : public ObjectImpl {
  public:
    // Out of line, where the data thread's state is a complete type.
    NodeRecord();
    ~NodeRecord() override;
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
    // What dirtying and evaluation read of every node they reach comes first, close together.
    std::shared_ptr<NodeType> type;
    RPxNode* instance = nullptr;
    bool alive = true;
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
    std::vector<char> dirty;
    // The storage attributes being evaluated (a compute that reads its own plug back takes the
    // stored value): bits below 64 here, where evaluation reads them, the others apart.
    std::uint64_t evaluatingLow = 0;
    std::vector<char> evaluatingHigh;  // by storage attribute; empty for types of up to 64
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
    std::vector<Value> values;
    // The node's connections by the attribute they name on it (an element's under its array,
    // a child's under the child), each list in connection order; empty until the node has one.
    // Kept by the host as connections are made and broken, so that a lookup costs what the
    // node's own connections cost.
    std::vector<std::vector<LinkedConnection>> incoming, outgoing;
    std::uint64_t creationIndex = 0;  // place in creation order (ls), kept across undo of delete
    std::map<int, std::map<unsigned, Value>> arrays;  // array attributes: logical index -> value
    std::vector<int> refreshAttributes;
    std::unique_ptr<ThreadState> thread;
    std::vector<std::uint64_t> visits;

    // Where an attribute's value lives: children of a three-number compound share their parent's.
    // Inline: dirtying and evaluation ask it for every plug they reach.
    int storageOf(int attribute) const {
        return type->lookupsCurrent() ? type->storage[static_cast<std::size_t>(attribute)]
                                      : type->computeStorage(attribute);
    }
    Value& valueOf(int attribute) { return values[static_cast<std::size_t>(storageOf(attribute))]; }
    bool isDirty(int attribute) const {
        return dirty[static_cast<std::size_t>(storageOf(attribute))] != 0;
    }
    std::string plugPath(int attribute, int element = -1) const;

  private:
    mutable std::mutex m_nameMutex;
};

// The value behind a plug (element and compound component included), and writing it.
Value readPlug(NodeRecord* node, int attribute, int element);
void writePlug(NodeRecord* node, int attribute, int element, const Value& value);

}  // namespace rova::detail
