// undo, redo
#include "../Command.h"
#include "../Interpreter.h"

namespace rova::lang {
namespace {

host::Status undo(CommandContext& context) {
    return context.interpreter().undoQueue().undo(nullptr);
}

host::Status redo(CommandContext& context) {
    return context.interpreter().undoQueue().redo(nullptr);
}

const CommandRegistration undoRegistration{{
    .name = "undo",
    .synopsis = "",
    .summary = "Take back the newest step of the undo queue: what one statement changed (or one "
               "undoable executeCommand from a plug-in).",
    .opensUndoStep = false,
    .run = undo,
}};

const CommandRegistration redoRegistration{{
    .name = "redo",
    .synopsis = "",
    .summary = "Apply again the step undo took back last; any other change forgets it.",
    .opensUndoStep = false,
    .run = redo,
}};

}  // namespace
}  // namespace rova::lang
