#pragma once
#include "rova/RStatus.h"
#include "rova/RString.h"

// Host-wide services. Every function here must be called on the main thread, except
// executeCommandOnIdle, which any thread may call.
class ROVA_API RGlobal {
  public:
    // Runs statements of the host command language now. With undoable, the statements go on
    // the undo queue as one step; with display, they are echoed.
    static RStatus executeCommand(const RString& command, bool display = false,
                                  bool undoable = false);
    static RStatus executeCommand(const RString& command, RString& result, bool display = false,
                                  bool undoable = false);
    // Queues statements to run on the main thread at the next idle point (the next tick).
    static RStatus executeCommandOnIdle(const RString& command, bool display = false);

    // "error: MESSAGE" (warning:, info:) on standard error.
    static void displayError(const RString& message);
    static void displayWarning(const RString& message);
    static void displayInfo(const RString& message);
};
