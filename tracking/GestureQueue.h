#pragma once
// A fixed-capacity ring buffer of plain values, oldest first. It holds no pointers and no heap
// memory, so a record that contains queues can be copied into a memory-pool slot as bytes.
#include <cstdint>
#include <stdexcept>
#include <type_traits>

namespace kivo_rova {

template <class Element, std::uint32_t Capacity = 10>
class GestureQueue {
    static_assert(Capacity > 0, "a queue holds at least one element");
    static_assert(std::is_trivially_copyable_v<Element>,
                  "elements are copied into pool slots as bytes");

  public:
    static constexpr std::uint32_t capacity = Capacity;

    // Appends a copy of the element as the newest one. A full queue refuses it: answers false
    // and changes nothing, so the caller decides what gives way.
    bool push(const Element& element) noexcept {
        if (m_count == Capacity) {
            return false;
        }
        m_tail = (m_tail + 1) % static_cast<std::int32_t>(Capacity);
        m_items[m_tail] = element;
        ++m_count;
        return true;
    }

    // The oldest element. Throws std::out_of_range ("Queue is empty") on an empty queue.
    const Element& front() const {
        if (m_count == 0) {
            throw std::out_of_range("Queue is empty");
        }
        return m_items[m_head];
    }

    // Drops the oldest element. Throws std::out_of_range ("Queue is empty") on an empty queue.
    void pop() {
        if (m_count == 0) {
            throw std::out_of_range("Queue is empty");
        }
        m_head = (m_head + 1) % static_cast<std::int32_t>(Capacity);
        --m_count;
    }

    // Back to empty; the slots keep their bytes but are no longer elements.
    void clear() noexcept {
        m_count = 0;
        m_head = 0;
        m_tail = -1;
    }

    std::uint32_t count() const noexcept { return m_count; }
    bool empty() const noexcept { return m_count == 0; }
    bool full() const noexcept { return m_count == Capacity; }

  private:
    Element m_items[Capacity]{};
    std::uint32_t m_count = 0;
    std::int32_t m_head = 0;   // index of the oldest element
    std::int32_t m_tail = -1;  // index of the newest element
};

}  // namespace kivo_rova
