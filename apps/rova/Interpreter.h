#pragma once
// Runs statements of the command language against the host: resolves each statement to a
// built-in command, a command registered by a plug-in or a script procedure (NAME.rova on the
// script path), routes query results, keeps the undo queue and serves as the host's executor.
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Command.h"
#include "Script.h"
#include "UndoQueue.h"
#include "rovahost/Host.h"

namespace rova::lang {

class PythonBridge;

struct RunOptions {
    std::string origin;        // script file name for messages; empty: "line N"
    int firstLine = 1;         // line number of the text's first line
    bool printResults = true;  // query results to standard output
    bool reportErrors = true;  // "error: ..." on standard error
    bool keepGoing = false;    // go on after a failing statement
    bool undoable = true;      // record what the statements change
    bool oneUndoStep = false;  // all statements as one undo step (executeCommand)
    bool echo = false;         // write each statement to standard output before it runs
    std::vector<std::string>* results = nullptr;  // query results, in order
    std::string* error = nullptr;                 // the first failure's message
};

class Interpreter {
  public:
    explicit Interpreter(host::Host& host);
    ~Interpreter();
    Interpreter(const Interpreter&) = delete;
    Interpreter& operator=(const Interpreter&) = delete;

    host::Host& host() { return m_host; }
    UndoQueue& undoQueue() { return m_undo; }
    PythonBridge& python();

    // Parses text and binds every statement to its command first: a syntax error anywhere runs
    // nothing. Returns true when every statement succeeded.
    bool runText(std::string_view text, const RunOptions& options);
    // Checks a script without running it; messages are "line N: cmd: what" (with the origin).
    std::vector<std::string> check(const Script& script, const std::string& origin) const;
    bool runScript(const Script& script, const RunOptions& options);

    // Runs a script file found on the script path as one nested statement; the failure message
    // names the file and its line.
    host::Status runFile(const std::string& file);

    // A file found on the script path (or by a path holding '/'), read whole.
    struct ScriptFile {
        std::filesystem::path path;
        std::string text;
    };
    host::Result<ScriptFile> readScriptFile(const std::string& file) const;

    // Makes the host run RGlobal::executeCommand, the idle queue and UI procedures through here.
    void installExecutor();
    void uninstallExecutor();

    // Called by commands: a query result goes to the current run's destination.
    void emitResult(const std::string& line);

    // Python's sys.exit: every run in progress stops after its current statement, and the
    // program ends with the code. Cleared by takeExitRequest (Python code that catches the exit).
    void requestExit(int code) { m_exitCode = code; }
    const std::optional<int>& exitRequest() const { return m_exitCode; }
    std::optional<int> takeExitRequest() { return std::exchange(m_exitCode, std::nullopt); }

    // A callback for the next play or bake statement that runs (taken by it, so that statements
    // nested in the callback do not call it): called after each tick or frame with its number; a
    // failure stops the command with that message.
    using FrameHook = std::function<host::Status(long long)>;
    void offerFrameHook(FrameHook hook) { m_frameHook = std::move(hook); }
    FrameHook takeFrameHook() { return std::exchange(m_frameHook, nullptr); }

    // The script file of the innermost run of statements; empty for -c, standard input, rova.eval.
    std::string currentOrigin() const { return m_runs.empty() ? "" : m_runs.back()->origin; }
    // Whether the statements running now record what they change (a tick's queued statements
    // do not): statements that Python code among them runs do as they do.
    bool recordingUndo() const { return m_runs.empty() || m_runs.back()->undoable; }

    // Prefix for messages: "line 3" or "scene.rova: line 3".
    static std::string where(const std::string& origin, int line);

  private:
    host::Status runStatement(const Statement& statement, const RunOptions& options);
    host::Status dispatch(const Statement& statement);

    host::Host& m_host;
    UndoQueue m_undo;
    std::unique_ptr<PythonBridge> m_python;
    std::vector<const RunOptions*> m_runs;  // innermost last
    std::optional<int> m_exitCode;
    FrameHook m_frameHook;
};

}  // namespace rova::lang
