#include "UndoQueue.h"

namespace rova::lang {

void UndoQueue::push(bool record, std::string label) {
    m_levels.push_back(record);
    if (record && !m_pending)
        m_pending =
            Step{std::move(label), {}, m_levels.size(), host::scene::captureDeformerStates()};
}

void UndoQueue::pop() {
    if (m_levels.empty())
        return;
    if (m_pending && m_pending->ownerLevel == m_levels.size()) {
        if (!m_pending->actions.empty()) {
            m_done.push_back(std::move(*m_pending));
            m_undone.clear();
        }
        m_pending.reset();
    }
    m_levels.pop_back();
}

void UndoQueue::record(Action action) {
    if (recording() && m_pending)
        m_pending->actions.push_back(std::move(action));
}

host::Status UndoQueue::rollBackTo(std::size_t mark) {
    host::Status first;
    if (!m_pending)
        return first;
    auto& actions = m_pending->actions;
    while (actions.size() > mark) {
        host::Status status = actions.back().undo();
        if (!status && first.ok)
            first = status;
        actions.pop_back();
    }
    return first;
}

host::Status UndoQueue::undo(std::string* label) {
    if (m_pending)
        return host::Status::failure("cannot undo while a statement is being recorded");
    if (m_done.empty())
        return host::Status::failure("nothing to undo");
    Step step = std::move(m_done.back());
    m_done.pop_back();
    if (label)
        *label = step.label;
    for (auto it = step.actions.rbegin(); it != step.actions.rend(); ++it) {
        host::Status status = it->undo();
        if (!status) {
            clear();
            return host::Status::failure("could not take back '" + it->label +
                                         "': " + status.message + "; the undo queue was cleared");
        }
    }
    host::scene::restoreDeformerStates(step.deformersBefore);
    m_undone.push_back(std::move(step));
    return {};
}

host::Status UndoQueue::redo(std::string* label) {
    if (m_pending)
        return host::Status::failure("cannot redo while a statement is being recorded");
    if (m_undone.empty())
        return host::Status::failure("nothing to redo");
    Step step = std::move(m_undone.back());
    m_undone.pop_back();
    if (label)
        *label = step.label;
    for (auto& action : step.actions) {
        host::Status status = action.redo();
        if (!status) {
            clear();
            return host::Status::failure("could not apply '" + action.label + "' again: " +
                                         status.message + "; the undo queue was cleared");
        }
    }
    m_done.push_back(std::move(step));
    return {};
}

void UndoQueue::clear() {
    m_done.clear();
    m_undone.clear();
    if (m_pending)
        m_pending->actions.clear();
}

}  // namespace rova::lang
