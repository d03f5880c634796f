#pragma once
// The embedded Python interpreter behind python(...), python -file and `rova F.py`. Started on
// first use, finished when the bridge goes away (after the host has shut down). Python code reaches
// the host through the built-in module `rova` (eval, get, ls, exists, play, bake...); sys.path
// starts with the script path, so host-side modules shipped next to the scripts import by name;
// sys.stdout and sys.stderr write to the program's own streams, in order with everything else.
#include <filesystem>
#include <string>

#include "rovahost/Host.h"

namespace rova::lang {

class Interpreter;

// Python code and where it comes from, so that a failure names the right file and line.
struct PythonSource {
    std::string code;
    std::string file = "<rova>";  // the code's name in tracebacks: a script, a .py file
    int firstLine = 1;            // the line of `file` that the code's first line is
    // How a failure names a line of `file`: empty for "line N" (the statement's own script),
    // else "NAME: line N".
    std::string shownAs;
    int ownLine = 0;  // a failure on this line is the statement's own: no line is named
};

class PythonBridge {
  public:
    explicit PythonBridge(Interpreter& interpreter);
    ~PythonBridge();
    PythonBridge(const PythonBridge&) = delete;
    PythonBridge& operator=(const PythonBridge&) = delete;

    // Runs code in the interpreter's __main__ (names persist between calls). A Python exception
    // comes back as one line: "[line N: ][FILE: line M: ]TYPE: MESSAGE", the line of the code and
    // the innermost line of other code (not Python's library or installed packages) that raised it.
    host::Status run(const PythonSource& source);
    // Compiles without running: the syntax error as run would report it, or success.
    host::Status check(const PythonSource& source);
    // Runs a Python file in __main__ with __file__ set to it; a program (`rova F.py`) also gets
    // sys.argv [F.py] and the file's folder first on sys.path, as Python gives a script.
    host::Status runFile(const std::filesystem::path& path, const std::string& code,
                         const std::string& shownAs, bool program);
};

}  // namespace rova::lang
