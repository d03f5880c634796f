#pragma once
// The statements queued for the host's next tick (RGlobal::executeCommandOnIdle, Host::queueIdle).
// Any thread queues; the main thread takes them all at once and runs them in order.
#include <cstddef>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace rova::detail {

class IdleQueue {
  public:
    struct Statement {
        std::string text;
        bool display = false;
        bool operator==(const Statement&) const = default;
    };

    // Queues a statement. Once `coalesceAt` statements wait, one identical (text and display) to
    // a waiting one takes the place of the oldest such copy at the end instead of adding to the
    // queue: whoever queues faster than the ticks run the queue (a looped replay of unplugging the
    // device, say) leaves the newest of its statements, in order, and the queue stops growing.
    void push(std::string text, bool display, std::size_t coalesceAt);
    // Everything queued so far, oldest first; the queue is empty afterwards.
    std::vector<Statement> take();
    std::size_t size() const;
    void clear();

  private:
    struct Hash {
        std::size_t operator()(const Statement& s) const {
            return std::hash<std::string>{}(s.text) ^ static_cast<std::size_t>(s.display);
        }
    };

    mutable std::mutex m_mutex;
    std::list<Statement> m_statements;
    // The waiting copies of each statement, oldest first.
    std::unordered_map<Statement, std::deque<std::list<Statement>::iterator>, Hash> m_copies;
};

inline void IdleQueue::push(std::string text, bool display, std::size_t coalesceAt) {
    std::lock_guard lock(m_mutex);
    Statement statement{std::move(text), display};
    auto& copies = m_copies[statement];
    if (m_statements.size() >= coalesceAt && !copies.empty()) {
        m_statements.erase(copies.front());
        copies.pop_front();
    }
    copies.push_back(m_statements.insert(m_statements.end(), std::move(statement)));
}

inline std::vector<IdleQueue::Statement> IdleQueue::take() {
    std::lock_guard lock(m_mutex);
    std::vector<Statement> out;
    out.reserve(m_statements.size());
    for (auto& s : m_statements) out.push_back(std::move(s));
    m_statements.clear();
    m_copies.clear();
    return out;
}

inline std::size_t IdleQueue::size() const {
    std::lock_guard lock(m_mutex);
    return m_statements.size();
}

inline void IdleQueue::clear() {
    std::lock_guard lock(m_mutex);
    m_statements.clear();
    m_copies.clear();
}

}  // namespace rova::detail
