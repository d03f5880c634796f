#pragma once
// The record a tracking node's compute showed last and the mapping it placed it with. The data
// loops push each device frame once, so that an idle loop costs nothing; a mapping input changed
// while no new record comes must still reach the outputs: the shown record is placed again.
// Main thread only.
#include <cstring>
#include <type_traits>

#include "tracking/SceneMapping.h"

namespace kivo_rova {

template <class Record>
class ShownRecord {
    static_assert(std::is_trivially_copyable_v<Record>);

  public:
    // Whether a record was shown yet: without one there is nothing to place again.
    bool any() const { return m_any; }

    // `popped`: the new record's bytes, or null when none came. True when compute has something
    // to show with `mapping` (then record()): the new record, or the shown one when the mapping
    // changed since.
    bool take(const void* popped, const SceneMapping& mapping) {
        if (popped != nullptr) {
            std::memcpy(&m_record, popped, sizeof m_record);
            m_any = true;
        } else if (!m_any || mapping == m_mapping) {
            return false;
        }
        m_mapping = mapping;
        return true;
    }

    const Record& record() const { return m_record; }

  private:
    Record m_record{};
    SceneMapping m_mapping;
    bool m_any = false;
};

}  // namespace kivo_rova
