#pragma once
// The undo queue. A step is everything one top-level statement (or one undoable
// RGlobal::executeCommand) changed: a list of actions, each able to take its change back and
// apply it again. Nested runs join the open step, or pause recording when they are not undoable.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "rovahost/Deformers.h"
#include "rovahost/Host.h"

namespace rova::lang {

class UndoQueue {
  public:
    struct Action {
        std::string label;
        std::function<host::Status()> undo;
        std::function<host::Status()> redo;
    };

    // Opens a recording level (record == true) or a paused one. The step opened by the outermost
    // recording level is committed when that level closes, if anything was recorded.
    void push(bool record, std::string label = "");
    void pop();
    bool recording() const { return !m_levels.empty() && m_levels.back(); }
    bool stepOpen() const { return m_pending.has_value(); }

    // Adds to the open step; ignored while not recording.
    void record(Action action);
    // Position in the open step, and taking back what was recorded after it (a statement that
    // failed half-way changes nothing). Returns the first failure.
    std::size_t mark() const { return m_pending ? m_pending->actions.size() : 0; }
    host::Status rollBackTo(std::size_t mark);

    // Undo takes back the newest step (actions in reverse, then the deformers' geometry as it was
    // before the step, so that permanent deformations since go too), redo applies it again. When an
    // action fails the queue is cleared, since the scene no longer matches what it remembers.
    host::Status undo(std::string* label);
    host::Status redo(std::string* label);
    void clear();

    std::size_t undoDepth() const { return m_done.size(); }
    std::size_t redoDepth() const { return m_undone.size(); }

  private:
    struct Step {
        std::string label;
        std::vector<Action> actions;
        std::size_t ownerLevel = 0;
        host::scene::DeformerStates deformersBefore;
    };
    std::vector<bool> m_levels;
    std::optional<Step> m_pending;
    std::vector<Step> m_done;
    std::vector<Step> m_undone;
};

}  // namespace rova::lang
