#pragma once

#include <kivo/Recording.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace Kivo::detail {

using FramePtr = std::shared_ptr<const FrameRecord>;

// The service's bounded, thread-safe history of delivered frames. Frame ids are consecutive, so
// a frame's place follows from its id.
class History {
  public:
    using Clock = std::chrono::steady_clock;

    explicit History(std::size_t capacity) : m_ring(capacity), m_arrivals(capacity) {}

    std::size_t capacity() const { return m_ring.size(); }

    // `frame->id` must be one more than the newest frame's id. `arrival`: when the service
    // delivered it.
    void push(FramePtr frame, Clock::time_point arrival = Clock::now()) {
        std::lock_guard lock(m_mutex);
        m_newest = frame->id;
        const std::size_t place = static_cast<std::size_t>(m_newest) % m_ring.size();
        m_ring[place] = std::move(frame);
        m_arrivals[place] = arrival;
        if (m_count < m_ring.size()) {
            ++m_count;
        }
    }

    // 0: the newest frame; null when out of range.
    FramePtr get(int back) const {
        std::lock_guard lock(m_mutex);
        if (back < 0 || static_cast<std::size_t>(back) >= m_count) {
            return nullptr;
        }
        return m_ring[static_cast<std::size_t>(m_newest - back) % m_ring.size()];
    }

    // When the frame with this id was pushed; nullopt when the history no longer (or not yet)
    // holds it.
    std::optional<Clock::time_point> arrival(std::int64_t id) const {
        std::lock_guard lock(m_mutex);
        const std::int64_t oldest = m_newest - static_cast<std::int64_t>(m_count) + 1;
        if (m_count == 0 || id < oldest || id > m_newest) {
            return std::nullopt;
        }
        return m_arrivals[static_cast<std::size_t>(id) % m_ring.size()];
    }

    std::int64_t newestId() const {
        std::lock_guard lock(m_mutex);
        return m_count == 0 ? -1 : m_newest;
    }

    // Frames with ids in (afterId, uptoId], oldest first, as far as the history holds them.
    std::vector<FramePtr> range(std::int64_t afterId, std::int64_t uptoId) const {
        std::vector<FramePtr> out;
        std::lock_guard lock(m_mutex);
        if (m_count == 0) {
            return out;
        }
        const std::int64_t oldest = m_newest - static_cast<std::int64_t>(m_count) + 1;
        const std::int64_t from = std::max(afterId + 1, oldest);
        const std::int64_t to = std::min(uptoId, m_newest);
        for (std::int64_t id = from; id <= to; ++id) {
            out.push_back(m_ring[static_cast<std::size_t>(id) % m_ring.size()]);
        }
        return out;
    }

  private:
    mutable std::mutex m_mutex;
    std::vector<FramePtr> m_ring;
    std::vector<Clock::time_point> m_arrivals;  // by the same place as m_ring
    std::size_t m_count = 0;
    std::int64_t m_newest = 0;
};

}  // namespace Kivo::detail
