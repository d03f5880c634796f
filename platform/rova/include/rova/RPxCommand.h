#pragma once
#include "rova/RArgList.h"
#include "rova/RStatus.h"
#include "rova/RString.h"

namespace rova::detail {
struct CommandAccess;
class CommandResult;
}  // namespace rova::detail

// Base of plug-in commands. The host creates one instance per call through the registered
// creator, calls runCommand on the main thread, and keeps the instance on the undo queue when
// canUndo() answers true (undoCommand/redoCommand are then called from undo and redo).
class ROVA_API RPxCommand {
  public:
    RPxCommand();
    virtual ~RPxCommand();
    virtual RStatus runCommand(const RArgList& args);
    virtual RStatus undoCommand();
    virtual RStatus redoCommand();
    virtual bool canUndo() const;
    virtual bool hasSyntax() const;
    // What the host's `help COMMAND` shows: the command's usage and what its words do. Empty (the
    // base's answer): the command describes nothing, and help says so. The host asks a fresh
    // instance on the main thread and runs nothing else of it.
    virtual RString helpText() const;

    static void clearResult();
    static void setResult(bool value);
    static void setResult(int value);
    static void setResult(double value);
    static void setResult(const RString& value);
    static void setResult(const char* value) { setResult(RString(value)); }
    static void appendToResult(const RString& value);
    static void appendToResult(double value);

    static void displayError(const RString& message);
    static void displayWarning(const RString& message);
    static void displayInfo(const RString& message);
};
