#pragma once
// The host's nodes by name: an open-addressed table of (hash, node), keyed by the node's own name.
// A lookup reads one slot and the node it names, which the caller reads next anyway; a hash map
// of strings would chase a bucket, a list link and the entry first, each a cache miss in a large
// scene.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "model/NodeRecords.h"

namespace rova::detail {

class NodeNames {
  public:
    NodeRecord* find(std::string_view name) const {
        if (m_slots.empty())
            return nullptr;
        const std::size_t hash = hashOf(name);
        for (std::size_t at = hash & mask();; at = (at + 1) & mask()) {
            const Slot& slot = m_slots[at];
            if (!slot.node)
                return nullptr;
            if (slot.hash == hash && slot.node->name == name) {
                foresee(slot.node, hash);
                return slot.node;
            }
        }
    }
    // Under node->name, in place of a node that had it.
    void insert(NodeRecord* node) {
        if ((m_count + 1) * 2 > m_slots.size())
            grow();
        const std::size_t hash = hashOf(node->name);
        std::size_t at = hash & mask();
        for (; m_slots[at].node; at = (at + 1) & mask())
            if (m_slots[at].hash == hash && m_slots[at].node->name == node->name) {
                m_slots[at].node = node;
                return;
            }
        m_slots[at] = Slot{hash, node};
        ++m_count;
    }
    // The node's entry under its name, when the name is still the node's.
    void erase(const NodeRecord* node) {
        if (m_previous == node)
            m_previous = nullptr;
        if (m_slots.empty())
            return;
        const std::size_t hash = hashOf(node->name);
        std::size_t at = hash & mask();
        for (; m_slots[at].node != node; at = (at + 1) & mask())
            if (!m_slots[at].node)
                return;
        // Moves later entries of the run back over the hole, so that no probe stops short.
        for (std::size_t next = (at + 1) & mask(); m_slots[next].node; next = (next + 1) & mask()) {
            const std::size_t home = m_slots[next].hash & mask();
            if (((next - home) & mask()) >= ((next - at) & mask())) {
                m_slots[at] = m_slots[next];
                at = next;
            }
        }
        m_slots[at] = Slot{};
        --m_count;
    }

  private:
    // Scripts and exporters read the same plugs frame after frame, one node after another: each
    // node found notes the one found after it, and a lookup asks for the slot and the record of
    // the node that followed last time, which a large scene would otherwise wait for at the next
    // lookup. Only a hint: a node named there is prefetched, never read.
    void foresee(NodeRecord* node, std::size_t hash) const {
        if (m_previous && m_previous != node && m_previous->foundNext.node != node)
            m_previous->foundNext = {node, hash, node->instance};
        m_previous = node;
        const NodeRecord::FoundNext& next = node->foundNext;
        if (next.node) {
            __builtin_prefetch(&m_slots[next.hash & mask()]);
            const char* at = reinterpret_cast<const char*>(next.node);
            __builtin_prefetch(at);
            __builtin_prefetch(at + 64);
            __builtin_prefetch(at + 128);
            __builtin_prefetch(next.instance);  // what a compute of the node reads first
        }
    }

    struct Slot {
        std::size_t hash = 0;
        NodeRecord* node = nullptr;
    };
    static std::size_t hashOf(std::string_view name) { return std::hash<std::string_view>{}(name); }
    std::size_t mask() const { return m_slots.size() - 1; }
    void grow() {
        std::vector<Slot> old(m_slots.empty() ? 64 : m_slots.size() * 2);
        old.swap(m_slots);
        m_count = 0;
        for (const Slot& slot : old)
            if (slot.node) {
                std::size_t at = slot.hash & mask();
                while (m_slots[at].node) at = (at + 1) & mask();
                m_slots[at] = slot;
                ++m_count;
            }
    }
    std::vector<Slot> m_slots;  // a power of two long, at most half full
    std::size_t m_count = 0;
    mutable NodeRecord* m_previous = nullptr;  // the node found last
};

}  // namespace rova::detail
