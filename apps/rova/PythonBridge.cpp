#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "PythonBridge.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iostream>

#include "CaptureAtEnd.h"
#include "Interpreter.h"

namespace rova::lang {
namespace {

Interpreter* g_interpreter = nullptr;
PyObject* g_error = nullptr;  // rova.Error
pid_t g_process = 0;          // the program's own process, not a child forked from Python

PyCFunction asCFunction(PyObject* (*function)(PyObject*, PyObject*, PyObject*)) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

std::string oneLine(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    for (char& c : text)
        if (c == '\n' || c == '\r')
            c = ' ';
    return text;
}

// The pending Python exception as "TYPE: MESSAGE"; clears it.
std::string takeException() {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    std::string name = "exception";
    if (type && PyType_Check(type)) {
        name = reinterpret_cast<PyTypeObject*>(type)->tp_name;
    }
    std::string message;
    if (value) {
        if (PyObject* text = PyObject_Str(value)) {
            if (const char* utf8 = PyUnicode_AsUTF8(text))
                message = utf8;
            Py_DECREF(text);
        }
        PyErr_Clear();
    }
    Py_XDECREF(type);
    Py_XDECREF(value);
    Py_XDECREF(traceback);
    return oneLine(message.empty() ? name : name + ": " + message);
}

// The pending Python exception as one line naming where it was raised (rova._describe); clears
// it. Falls back to "TYPE: MESSAGE" should the description itself fail.
std::string describeException(const PythonSource& source) {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    if (value && traceback)
        PyException_SetTraceback(value, traceback);
    std::string text;
    PyObject* module = PyImport_ImportModule("rova");
    PyObject* line = module && value ? PyObject_CallMethod(module, "_describe", "Osis", value,
                                                           source.file.c_str(), source.ownLine,
                                                           source.shownAs.c_str())
                                     : nullptr;
    if (line && PyUnicode_Check(line))
        if (const char* utf8 = PyUnicode_AsUTF8(line))
            text = utf8;
    Py_XDECREF(line);
    Py_XDECREF(module);
    if (!text.empty()) {
        PyErr_Clear();
        Py_XDECREF(type);
        Py_XDECREF(value);
        Py_XDECREF(traceback);
        return oneLine(text);
    }
    PyErr_Restore(type, value, traceback);
    return takeException();
}

// What a plug holds, as Python holds it: see docs/rova.md (Python).
PyObject* toPython(const host::PlugValue& value) {
    switch (value.kind) {
        case host::PlugValue::Kind::kNone:
            Py_RETURN_NONE;
        case host::PlugValue::Kind::kBool:
            return PyBool_FromLong(value.boolValue ? 1 : 0);
        case host::PlugValue::Kind::kInt:
            return PyLong_FromLongLong(value.intValue);
        case host::PlugValue::Kind::kDouble:
        case host::PlugValue::Kind::kTime:
            return PyFloat_FromDouble(value.doubleValue);
        case host::PlugValue::Kind::kDouble3:
            return Py_BuildValue("(ddd)", value.double3[0], value.double3[1], value.double3[2]);
        case host::PlugValue::Kind::kMatrix: {
            PyObject* tuple = PyTuple_New(16);
            for (Py_ssize_t i = 0; tuple && i < 16; ++i)
                PyTuple_SET_ITEM(tuple, i,
                                 PyFloat_FromDouble(value.matrix[static_cast<size_t>(i)]));
            return tuple;
        }
        case host::PlugValue::Kind::kString:
            return PyUnicode_DecodeUTF8(
                value.text.data(), static_cast<Py_ssize_t>(value.text.size()), "surrogateescape");
        case host::PlugValue::Kind::kMesh:
            if (value.mesh)
                return PyUnicode_FromString("mesh");
            Py_RETURN_NONE;
        case host::PlugValue::Kind::kArray: {
            PyObject* tuple = PyTuple_New(static_cast<Py_ssize_t>(value.elements.size()));
            for (size_t i = 0; tuple && i < value.elements.size(); ++i) {
                PyObject* element = toPython(value.elements[i].second);
                if (!element) {
                    Py_DECREF(tuple);
                    return nullptr;
                }
                PyTuple_SET_ITEM(tuple, static_cast<Py_ssize_t>(i), element);
            }
            return tuple;
        }
    }
    Py_RETURN_NONE;
}

// The exit status sys.exit asks for, as Python itself works it out: None is 0, an integer is
// itself, anything else is written to standard error and is 1. Clears the pending SystemExit.
int takeExitCode() {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    int exitCode = 1;
    PyObject* code = value ? PyObject_GetAttrString(value, "code") : nullptr;
    if (!code || code == Py_None) {
        exitCode = code ? 0 : 1;
    } else if (PyLong_Check(code)) {
        const long number = PyLong_AsLong(code);
        exitCode = number == -1 && PyErr_Occurred() ? 1 : static_cast<int>(number & 0xff);
    } else if (PyObject* text = PyObject_Str(code)) {
        if (const char* utf8 = PyUnicode_AsUTF8(text))
            std::cerr << utf8 << std::endl;
        Py_DECREF(text);
    }
    PyErr_Clear();
    Py_XDECREF(code);
    Py_XDECREF(type);
    Py_XDECREF(value);
    Py_XDECREF(traceback);
    return exitCode;
}

// Host text as a Python string: bytes that are not UTF-8 (a string plug may hold any) come
// through as surrogate escapes, as rova.get gives them, rather than failing the call.
PyObject* hostText(const std::string& text) {
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()),
                                "surrogateescape");
}

PyObject* raise(const std::string& message) {
    PyObject* text = hostText(message);
    if (text == nullptr)
        return nullptr;  // the decoding error stands
    PyErr_SetObject(g_error, text);
    Py_DECREF(text);
    return nullptr;
}

// Runs host statements for Python: their query results joined by line ends, or rova.Error.
PyObject* evalStatements(const char* text) {
    std::vector<std::string> results;
    std::string error;
    RunOptions options;
    options.printResults = false;
    options.reportErrors = false;
    options.undoable = g_interpreter->recordingUndo();
    options.results = &results;
    options.error = &error;
    const bool ok = g_interpreter->runText(text, options);
    // sys.exit in the statements goes on through the calling Python code, which may catch it.
    if (const auto code = g_interpreter->takeExitRequest()) {
        PyObject* value = PyLong_FromLong(*code);
        PyErr_SetObject(PyExc_SystemExit, value);
        Py_XDECREF(value);
        return nullptr;
    }
    if (!ok)
        return raise(error);
    std::string joined;
    for (size_t i = 0; i < results.size(); ++i) joined += (i ? "\n" : "") + results[i];
    return hostText(joined);
}

PyObject* pyEval(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"statements", nullptr};
    PyObject* statements = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "U", const_cast<char**>(keywords), &statements))
        return nullptr;
    // Surrogate escapes go back to the bytes they stand for: text that rova.get gave can be set
    // again as it was.
    PyObject* bytes = PyUnicode_AsEncodedString(statements, "utf-8", "surrogateescape");
    if (!bytes)
        return nullptr;
    const char* text = PyBytes_AS_STRING(bytes);
    if (std::strlen(text) != static_cast<std::size_t>(PyBytes_GET_SIZE(bytes))) {
        Py_DECREF(bytes);
        PyErr_SetString(PyExc_ValueError, "embedded null character");
        return nullptr;
    }
    PyObject* result = evalStatements(text);
    Py_DECREF(bytes);
    return result;
}

// _each_frame(statement, callback): runs a play or bake statement with callback(frame) after
// each of its ticks or frames. An exception in the callback stops the statement and goes on,
// as raised, through the calling code.
PyObject* pyEachFrame(PyObject*, PyObject* args, PyObject*) {
    const char* text = nullptr;
    PyObject* callback = nullptr;
    if (!PyArg_ParseTuple(args, "sO", &text, &callback))
        return nullptr;
    struct Raised {
        PyObject* type = nullptr;
        PyObject* value = nullptr;
        PyObject* traceback = nullptr;
    } raised;
    g_interpreter->offerFrameHook([callback, &raised](long long frame) {
        if (PyObject* result = PyObject_CallFunction(callback, "L", frame)) {
            Py_DECREF(result);
            return host::Status{};
        }
        PyErr_Fetch(&raised.type, &raised.value, &raised.traceback);
        const char* name = raised.type && PyType_Check(raised.type)
                               ? reinterpret_cast<PyTypeObject*>(raised.type)->tp_name
                               : "an exception";
        return host::Status::failure(std::string("on_frame raised ") + name);
    });
    PyObject* result = evalStatements(text);
    g_interpreter->takeFrameHook();  // unused when the statement failed before its first frame
    if (!raised.type)
        return result;
    Py_XDECREF(result);
    PyErr_Restore(raised.type, raised.value, raised.traceback);
    return nullptr;
}

PyObject* pyGet(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"plug", nullptr};
    const char* plug = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "s", const_cast<char**>(keywords), &plug))
        return nullptr;
    auto value = g_interpreter->host().getPlug(plug);
    if (!value.ok())
        return raise(value.status.message);
    return toPython(value.value);
}

PyObject* pyLs(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"type", nullptr};
    const char* type = "";
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|s", const_cast<char**>(keywords), &type))
        return nullptr;
    const auto names = g_interpreter->host().nodeNames(type);
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(names.size()));
    if (!list)
        return nullptr;
    for (size_t i = 0; i < names.size(); ++i)
        PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), PyUnicode_FromString(names[i].c_str()));
    return list;
}

PyObject* pyExists(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"node", nullptr};
    const char* node = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "s", const_cast<char**>(keywords), &node))
        return nullptr;
    return PyBool_FromLong(g_interpreter->host().hasNode(node) ? 1 : 0);
}

PyObject* pyChanges(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {nullptr};
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "", const_cast<char**>(keywords)))
        return nullptr;
    return PyLong_FromUnsignedLongLong(g_interpreter->host().sceneChanges());
}

// Backs sys.stdout / sys.stderr.
PyObject* pyWrite(PyObject*, PyObject* args, PyObject*) {
    int stream = 1;
    const char* text = nullptr;
    Py_ssize_t size = 0;
    if (!PyArg_ParseTuple(args, "is#", &stream, &text, &size))
        return nullptr;
    std::ostream& out = stream == 2 ? std::cerr : std::cout;
    out.write(text, size);
    return PyLong_FromSsize_t(size);
}

// os._exit(status) goes through here first: the program's end still completes a device capture
// (reporting a failure, which makes a status of 0 into 1) and writes out what was printed. A child
// forked from Python leaves the capture to the program.
PyObject* pyBeforeExit(PyObject*, PyObject* args, PyObject*) {
    int status = 0;
    if (!PyArg_ParseTuple(args, "i", &status))
        return nullptr;
    if (::getpid() == g_process) {
        if (!app::completeCaptureAtEnd() && status == 0)
            status = 1;
        std::cout.flush();
        std::cerr.flush();
    }
    return PyLong_FromLong(status);
}

PyMethodDef g_methods[] = {
    {"eval", asCFunction(pyEval), METH_VARARGS | METH_KEYWORDS,
     "eval(statements) -> str: run host statements; returns their query results, one per line. "
     "Raises rova.Error with the host's message when a statement fails."},
    {"get", asCFunction(pyGet), METH_VARARGS | METH_KEYWORDS,
     "get(plug): the evaluated value of node.attribute: a bool, an int (integers and enums), a "
     "float (floating values, time in seconds), a tuple (a compound of three numbers, a "
     "matrix's 16 numbers row by row, an array's elements in index order) or a str."},
    {"ls", asCFunction(pyLs), METH_VARARGS | METH_KEYWORDS,
     "ls(type='') -> list: node names in creation order, optionally of one type."},
    {"exists", asCFunction(pyExists), METH_VARARGS | METH_KEYWORDS,
     "exists(node) -> bool: whether a node of that name exists."},
    {"changes", asCFunction(pyChanges), METH_VARARGS | METH_KEYWORDS,
     "changes() -> int: a count that grows with every change to the scene (a stored value, a "
     "connection, a node made, deleted or renamed, a tick); equal counts mean nothing changed in "
     "between."},
    {"_each_frame", asCFunction(pyEachFrame), METH_VARARGS | METH_KEYWORDS, nullptr},
    {"_write", asCFunction(pyWrite), METH_VARARGS | METH_KEYWORDS, nullptr},
    {"_before_exit", asCFunction(pyBeforeExit), METH_VARARGS | METH_KEYWORDS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef g_module = {PyModuleDef_HEAD_INIT,
                        "rova",
                        "The headless host, seen from Python.",
                        -1,
                        g_methods,
                        nullptr,
                        nullptr,
                        nullptr,
                        nullptr};

PyObject* initModule() {
    PyObject* module = PyModule_Create(&g_module);
    if (!module)
        return nullptr;
    g_error = PyErr_NewExceptionWithDoc("rova.Error", "A host statement failed.",
                                        PyExc_RuntimeError, nullptr);
    Py_XINCREF(g_error);
    if (!g_error || PyModule_AddObject(module, "Error", g_error) < 0) {
        Py_XDECREF(g_error);
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}

const char* const kSetUp = R"(
import sys, rova

class _HostStream:
    encoding = 'utf-8'
    errors = 'strict'
    def __init__(self, stream):
        self._stream = stream
    def write(self, text):
        return rova._write(self._stream, str(text))
    def writelines(self, lines):
        for line in lines:
            self.write(line)
    def flush(self):
        pass
    def isatty(self):
        return False
    def writable(self):
        return True
    def readable(self):
        return False

class _Arguments:
    """Checks a call's values and spells them as words of a statement."""
    def __init__(self, function):
        self.function = function
    def refuse(self, name, expected, value):
        raise TypeError('rova.%s: %s must be %s, got %s %r'
                        % (self.function, name, expected, type(value).__name__, value))
    @staticmethod
    def quote(text):
        for a, b in (('\\', '\\\\'), ('"', '\\"'), ('\n', '\\n'), ('\t', '\\t'), ('\r', '\\r')):
            text = text.replace(a, b)
        return '"' + text + '"'
    def integer(self, name, value):
        import numbers
        if isinstance(value, bool) or not isinstance(value, numbers.Integral):
            self.refuse(name, 'an int', value)
        return str(int(value))
    def path(self, name, value):
        import os
        if isinstance(value, (str, os.PathLike)):
            value = os.fspath(value)
            if isinstance(value, str):
                return self.quote(value)
        self.refuse(name, 'a str or path', value)
    def callback(self, value):
        if value is not None and not callable(value):
            self.refuse('on_frame', 'callable', value)
        return value

def _run(statement, on_frame):
    return rova.eval(statement) if on_frame is None else rova._each_frame(statement, on_frame)

def play(frames, on_frame=None):
    """Runs the play command: `frames` host ticks. With on_frame, calls on_frame(tick) after
    each tick (1 for the first); an exception in it stops the play and goes on to the caller."""
    check = _Arguments('play')
    statement = 'play -frames ' + check.integer('frames', frames)
    _run(statement, check.callback(on_frame))

def bake(output, frames, *items, start=None, replay=False, table=None, fps=None, unit=None,
         raw=False, skin=None, on_frame=None):
    """Runs the bake command: steps the scene over `frames` frames and writes `output`
    (.glb or .gltf) and, with `table`, a .csv or .json table; returns its summary line.
    With on_frame, calls on_frame(frame) after each frame is sampled; an exception in it stops
    the bake (no file is written) and goes on to the caller."""
    import numbers
    check = _Arguments('bake')
    words = ['bake', '-frames', check.integer('frames', frames),
             '-output', check.path('output', output)]
    if start is not None:
        words += ['-start', check.integer('start', start)]
    if not isinstance(replay, bool):
        check.refuse('replay', 'a bool', replay)
    if replay:
        words.append('-replay')
    if table is not None:
        words += ['-table', check.path('table', table)]
    for name, value in (('fps', fps), ('unit', unit)):
        if value is None:
            continue
        if isinstance(value, bool) or not isinstance(value, numbers.Real):
            check.refuse(name, 'a number', value)
        words += ['-' + name, repr(float(value))]
    if not isinstance(raw, bool):
        check.refuse('raw', 'a bool', raw)
    if raw:
        words.append('-raw')
    if skin is not None:
        if not isinstance(skin, str):
            check.refuse('skin', 'a str', skin)
        words += ['-skin', check.quote(skin)]
    for item in items:
        if not isinstance(item, str):
            check.refuse('an item', 'a str', item)
        words.append(check.quote(item))
    return _run(' '.join(words), check.callback(on_frame))

def _describe(error, file, own_line, shown_as):
    """One line for an uncaught exception: the line of `file` (the code that was run) it passed
    through last, the innermost line outside Python's library and installed packages where it was
    raised when that is elsewhere, then TYPE: MESSAGE. A line equal to own_line is not named."""
    import os, site, sysconfig, traceback
    folders = [sysconfig.get_paths()[key] for key in ('stdlib', 'platstdlib', 'purelib', 'platlib')]
    folders += site.getsitepackages() + [site.getusersitepackages()]
    library = tuple(os.path.join(folder, '') for folder in folders)
    def ours(name):
        return not (name.startswith(library) or name.startswith('<frozen ')
                    or name == '<rova setup>')
    frames = traceback.extract_tb(error.__traceback__)
    places = [(frame.filename, frame.lineno) for frame in frames if frame.filename == file][-1:]
    if isinstance(error, SyntaxError):
        if error.filename and error.lineno:
            places.append((error.filename, error.lineno))
        what = error.msg
    else:
        places += [(frame.filename, frame.lineno) for frame in frames if ours(frame.filename)][-1:]
        what = str(error)
    words = []
    for index, (name, line) in enumerate(places):
        if index and places[index - 1] == (name, line):
            continue
        if name != file:
            words.append('%s: line %s' % (name, line))
        elif line != own_line:
            words.append((shown_as + ': ' if shown_as else '') + 'line %s' % line)
    kind = type(error)
    module = getattr(kind, '__module__', 'builtins')
    title = kind.__qualname__ if module in ('builtins', '__main__') else module + '.' + kind.__qualname__
    words.append(title + (': ' + what if what else ''))
    return ': '.join(words)

rova.play = play
rova.bake = bake
rova._describe = _describe
del play, bake, _describe

import os

def _exit(status, _exit=os._exit, _before=rova._before_exit):
    _exit(_before(status))

_exit.__doc__ = os._exit.__doc__
os._exit = _exit
del _exit, os

sys.stdout = _HostStream(1)
sys.stderr = _HostStream(2)
del _HostStream
)";

}  // namespace

PythonBridge::PythonBridge(Interpreter& interpreter) {
    g_interpreter = &interpreter;
    g_process = ::getpid();
    PyImport_AppendInittab("rova", &initModule);
    PyConfig config;
    PyConfig_InitPythonConfig(&config);
    config.install_signal_handlers = 0;
    config.parse_argv = 0;
    PyStatus status = Py_InitializeFromConfig(&config);
    PyConfig_Clear(&config);
    if (PyStatus_Exception(status)) {
        std::cerr << "error: python: cannot start the interpreter: "
                  << (status.err_msg ? status.err_msg : "unknown reason") << std::endl;
        return;
    }
    // Host-side modules live next to the scripts.
    if (PyObject* path = PySys_GetObject("path")) {  // borrowed
        Py_ssize_t at = 0;
        for (const auto& dir : interpreter.host().scriptPath()) {
            PyObject* entry = PyUnicode_FromString(dir.string().c_str());
            if (entry) {
                PyList_Insert(path, at++, entry);
                Py_DECREF(entry);
            }
        }
    }
    // The set-up's own names stay in a namespace of their own; __main__ gets sys and rova.
    PyObject* setUp = PyDict_New();
    PyObject* compiled = Py_CompileString(kSetUp, "<rova setup>", Py_file_input);
    PyObject* done = nullptr;
    if (setUp && compiled && PyDict_SetItemString(setUp, "__builtins__", PyEval_GetBuiltins()) == 0)
        done = PyEval_EvalCode(compiled, setUp, setUp);
    if (!done)
        std::cerr << "error: python: cannot set up the rova module: " << takeException()
                  << std::endl;
    Py_XDECREF(done);
    Py_XDECREF(compiled);
    Py_XDECREF(setUp);
    if (PyRun_SimpleString("import sys, rova") != 0)
        PyErr_Clear();
}

PythonBridge::~PythonBridge() {
    if (Py_IsInitialized()) {
        std::cout.flush();
        Py_FinalizeEx();
    }
    g_interpreter = nullptr;
    g_error = nullptr;
}

namespace {

// The code as Python compiles it: preceded by blank lines, so that its lines are numbered as in
// the file it comes from.
PyObject* compile(const PythonSource& source) {
    std::string text(static_cast<size_t>(std::max(source.firstLine, 1) - 1), '\n');
    text += source.code;
    return Py_CompileString(text.c_str(), source.file.c_str(), Py_file_input);
}

// Sets __main__.NAME to value (nullptr: removes it); returns what it held (a new reference, or
// nullptr for nothing).
PyObject* swapMainName(PyObject* globals, const char* name, PyObject* value) {
    PyObject* old = PyDict_GetItemString(globals, name);  // borrowed
    Py_XINCREF(old);
    if (value)
        PyDict_SetItemString(globals, name, value);
    else if (old)
        PyDict_DelItemString(globals, name);
    return old;
}

}  // namespace

host::Status PythonBridge::run(const PythonSource& source) {
    if (!Py_IsInitialized())
        return host::Status::failure("the Python interpreter is not running");
    PyObject* main = PyImport_AddModule("__main__");  // borrowed
    if (!main)
        return host::Status::failure(takeException());
    PyObject* globals = PyModule_GetDict(main);  // borrowed
    PyObject* compiled = compile(source);
    if (!compiled)
        return host::Status::failure(describeException(source));
    PyObject* result = PyEval_EvalCode(compiled, globals, globals);
    Py_DECREF(compiled);
    if (!result && PyErr_ExceptionMatches(PyExc_SystemExit)) {
        // Not a failure: the program ends with the code once the running statements stop.
        g_interpreter->requestExit(takeExitCode());
        return {};
    }
    if (!result)
        return host::Status::failure(describeException(source));
    Py_DECREF(result);
    return {};
}

host::Status PythonBridge::check(const PythonSource& source) {
    if (!Py_IsInitialized())
        return host::Status::failure("the Python interpreter is not running");
    PyObject* compiled = compile(source);
    if (!compiled)
        return host::Status::failure(describeException(source));
    Py_DECREF(compiled);
    return {};
}

host::Status PythonBridge::runFile(const std::filesystem::path& path, const std::string& code,
                                   const std::string& shownAs, bool program) {
    if (!Py_IsInitialized())
        return host::Status::failure("the Python interpreter is not running");
    PythonSource source;
    source.code = code;
    source.file = path.string();
    source.shownAs = shownAs;
    PyObject* globals = PyModule_GetDict(PyImport_AddModule("__main__"));  // borrowed
    PyObject* file = PyUnicode_DecodeFSDefault(source.file.c_str());
    PyObject* previous = swapMainName(globals, "__file__", file);
    if (program) {
        // As Python runs a script: sys.argv names it, and modules beside it import by name.
        std::error_code ec;
        const auto folder = std::filesystem::absolute(path, ec).parent_path();
        PyObject* argv = Py_BuildValue("[O]", file);
        PyObject* entry = PyUnicode_DecodeFSDefault(folder.string().c_str());
        if (argv)
            PySys_SetObject("argv", argv);
        if (PyObject* sysPath = PySys_GetObject("path"); sysPath && entry)  // borrowed
            PyList_Insert(sysPath, 0, entry);
        Py_XDECREF(argv);
        Py_XDECREF(entry);
        PyErr_Clear();
    }
    host::Status status = run(source);
    Py_XDECREF(swapMainName(globals, "__file__", previous));
    Py_XDECREF(previous);
    Py_XDECREF(file);
    return status;
}

}  // namespace rova::lang
