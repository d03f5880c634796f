// Traces of large walks, kept to foresee the next walk from the same plug.
#include "graph/WalkHints.h"

#include <utility>

namespace rova::detail {

WalkHints::Trace WalkHints::begin(const NodeRecord* origin, int attribute) {
    Trace trace;
    trace.m_origin = origin;
    trace.m_attribute = attribute;
    for (const Kept& kept : m_kept)
        if (kept.origin == origin && kept.attribute == attribute)
            trace.m_foreseen = &kept.nodes;
    trace.m_reached = std::move(m_spare);
    trace.m_reached.clear();
    return trace;
}

void WalkHints::end(Trace& trace) {
    std::vector<const NodeRecord*>& reached = trace.m_reached;
    Kept* slot = nullptr;
    for (Kept& kept : m_kept)
        if (kept.origin == trace.m_origin && kept.attribute == trace.m_attribute)
            slot = &kept;
    if (trace.m_count < kMinimum) {
        if (slot) {
            // The walk from there is small now: its old trace would foresee it wrongly.
            slot->origin = nullptr;
            slot->nodes.clear();
        }
        m_spare = std::move(reached);
        return;
    }
    if (!slot) {
        slot = &m_kept[m_next];
        m_next = (m_next + 1) % m_kept.size();
    }
    slot->origin = trace.m_origin;
    slot->attribute = trace.m_attribute;
    std::swap(slot->nodes, reached);
    m_spare = std::move(reached);
    trace.m_foreseen = nullptr;
}

void WalkHints::clear() {
    for (Kept& kept : m_kept) {
        kept.origin = nullptr;
        kept.nodes = {};
    }
    m_spare = {};
}

}  // namespace rova::detail
