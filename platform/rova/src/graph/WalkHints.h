#pragma once
// The nodes a large walk from one plug (a dirtying, a pull) reached the last time, in the order it
// reached them. Walking a chain, the next node is named only in the lists of the one at hand, so
// each step waits for memory; a walk from the same plug again most often takes the same nodes in
// the same order, and asks for the node a few steps ahead of it meanwhile.
//
// Only a hint: the nodes named are prefetched, never read, so a trace gone stale (a node deleted
// or reconnected since) costs a wasted fetch and changes nothing the walk does. Main thread.
#include <array>
#include <cstddef>
#include <vector>

namespace rova::detail {

class NodeRecord;

class WalkHints {
  public:
    // Walks that reach fewer nodes keep no trace: their nodes stay in the caches anyway. The
    // first kUntraced nodes of every walk go untraced, so that a small walk costs a count.
    static constexpr std::size_t kMinimum = 1024;
    static constexpr std::size_t kUntraced = 256;
    // Steps between a prefetch and the step it is for.
    static constexpr std::size_t kAhead = 8;

    // One walk from (origin, attribute): what it reaches, and the last walk's trace to foresee it.
    class Trace {
      public:
        // Notes the node the walk reached (a node reached again at once counts once) and returns
        // the one the last walk reached kAhead steps further on, or null. A node the walk asked
        // for ahead itself (from a hub's list) is left out: the trace is for the nodes that only
        // the node before them names, as along a chain, and both walks leave out the same ones.
        const NodeRecord* reached(const NodeRecord* node, bool askedAhead) {
            if (node == m_last)
                return nullptr;
            m_last = node;
            if (askedAhead || ++m_count <= kUntraced)
                return nullptr;
            m_reached.push_back(node);
            const std::size_t ahead = m_reached.size() - 1 + kAhead;
            return m_foreseen && ahead < m_foreseen->size() ? (*m_foreseen)[ahead] : nullptr;
        }

      private:
        friend class WalkHints;
        const void* m_origin = nullptr;
        int m_attribute = -1;
        const std::vector<const NodeRecord*>* m_foreseen = nullptr;
        const NodeRecord* m_last = nullptr;
        std::size_t m_count = 0;                   // nodes reached
        std::vector<const NodeRecord*> m_reached;  // those after the first kUntraced
    };

    // A trace for a walk from the plug, foreseeing it from the last walk from there, if kept.
    Trace begin(const NodeRecord* origin, int attribute);
    // Keeps the walk's trace for the next walk from its plug, when it reached enough nodes.
    void end(Trace& trace);
    void clear();

  private:
    struct Kept {
        const void* origin = nullptr;
        int attribute = -1;
        std::vector<const NodeRecord*> nodes;
    };
    // A few plugs start most large walks (the time, a driver): the oldest kept gives way.
    std::array<Kept, 4> m_kept;
    std::size_t m_next = 0;
    std::vector<const NodeRecord*> m_spare;  // a dropped trace's memory, for the next walk
};

}  // namespace rova::detail
