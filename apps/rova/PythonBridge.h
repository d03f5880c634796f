#pragma once
// The embedded Python interpreter behind python(TEXT). Started on first use, finished when the
// bridge goes away (after the host has shut down). Python code reaches the host through the
// built-in module `rova` (eval, get, ls, exists); sys.path starts with the script path, so
// host-side modules shipped next to the scripts import by name; sys.stdout and sys.stderr write to
// the program's own streams, in order with everything else.
#include <string>

#include "rovahost/Host.h"

namespace rova::lang {

class Interpreter;

class PythonBridge {
  public:
    explicit PythonBridge(Interpreter& interpreter);
    ~PythonBridge();
    PythonBridge(const PythonBridge&) = delete;
    PythonBridge& operator=(const PythonBridge&) = delete;

    // Runs code in the interpreter's __main__ (names persist between calls). A Python exception
    // comes back as one line: "TYPE: MESSAGE".
    host::Status run(const std::string& code);
};

}  // namespace rova::lang
