#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "PythonBridge.h"

#include <unistd.h>

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

PyObject* raise(const std::string& message) {
    PyErr_SetString(g_error, message.c_str());
    return nullptr;
}

PyObject* pyEval(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"statements", nullptr};
    const char* text = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "s", const_cast<char**>(keywords), &text))
        return nullptr;
    std::vector<std::string> results;
    std::string error;
    RunOptions options;
    options.printResults = false;
    options.reportErrors = false;
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
    return PyUnicode_FromStringAndSize(joined.data(), static_cast<Py_ssize_t>(joined.size()));
}

PyObject* pyGet(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"plug", nullptr};
    const char* plug = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "s", const_cast<char**>(keywords), &plug))
        return nullptr;
    auto value = g_interpreter->host().getPlug(plug);
    if (!value.ok())
        return raise(value.status.message);
    const std::string text = host::formatValue(value.value);
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
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
     "get(plug) -> str: the evaluated value of node.attribute in its text form."},
    {"ls", asCFunction(pyLs), METH_VARARGS | METH_KEYWORDS,
     "ls(type='') -> list: node names in creation order, optionally of one type."},
    {"exists", asCFunction(pyExists), METH_VARARGS | METH_KEYWORDS,
     "exists(node) -> bool: whether a node of that name exists."},
    {"changes", asCFunction(pyChanges), METH_VARARGS | METH_KEYWORDS,
     "changes() -> int: a count that grows with every change to the scene (a stored value, a "
     "connection, a node made, deleted or renamed, a tick); equal counts mean nothing changed in "
     "between."},
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

def bake(output, frames, *items, start=None, replay=False, table=None, fps=None, unit=None,
         raw=False, skin=None):
    """Runs the bake command: steps the scene over `frames` frames and writes `output`
    (.glb or .gltf) and, with `table`, a .csv or .json table; returns its summary line."""
    import numbers, os
    def _quote(text):
        for a, b in (('\\', '\\\\'), ('"', '\\"'), ('\n', '\\n'), ('\t', '\\t'), ('\r', '\\r')):
            text = text.replace(a, b)
        return '"' + text + '"'
    def _refuse(name, expected, value):
        raise TypeError('rova.bake: %s must be %s, got %s %r'
                        % (name, expected, type(value).__name__, value))
    def _integer(name, value):
        if isinstance(value, bool) or not isinstance(value, numbers.Integral):
            _refuse(name, 'an int', value)
        return str(int(value))
    def _path(name, value):
        if isinstance(value, (str, os.PathLike)):
            value = os.fspath(value)
            if isinstance(value, str):
                return _quote(value)
        _refuse(name, 'a str or path', value)
    words = ['bake', '-frames', _integer('frames', frames), '-output', _path('output', output)]
    if start is not None:
        words += ['-start', _integer('start', start)]
    if not isinstance(replay, bool):
        _refuse('replay', 'a bool', replay)
    if replay:
        words.append('-replay')
    if table is not None:
        words += ['-table', _path('table', table)]
    for name, value in (('fps', fps), ('unit', unit)):
        if value is None:
            continue
        if isinstance(value, bool) or not isinstance(value, numbers.Real):
            _refuse(name, 'a number', value)
        words += ['-' + name, repr(float(value))]
    if not isinstance(raw, bool):
        _refuse('raw', 'a bool', raw)
    if raw:
        words.append('-raw')
    if skin is not None:
        if not isinstance(skin, str):
            _refuse('skin', 'a str', skin)
        words += ['-skin', _quote(skin)]
    for item in items:
        if not isinstance(item, str):
            _refuse('an item', 'a str', item)
        words.append(_quote(item))
    return rova.eval(' '.join(words))

rova.bake = bake
del bake

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
    if (PyRun_SimpleString(kSetUp) != 0)
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

host::Status PythonBridge::run(const std::string& code) {
    if (!Py_IsInitialized())
        return host::Status::failure("the Python interpreter is not running");
    PyObject* main = PyImport_AddModule("__main__");  // borrowed
    if (!main)
        return host::Status::failure(takeException());
    PyObject* globals = PyModule_GetDict(main);  // borrowed
    PyObject* compiled = Py_CompileString(code.c_str(), "<python>", Py_file_input);
    if (!compiled)
        return host::Status::failure(takeException());
    PyObject* result = PyEval_EvalCode(compiled, globals, globals);
    Py_DECREF(compiled);
    if (!result && PyErr_ExceptionMatches(PyExc_SystemExit)) {
        // Not a failure: the program ends with the code once the running statements stop.
        g_interpreter->requestExit(takeExitCode());
        return {};
    }
    if (!result)
        return host::Status::failure(takeException());
    Py_DECREF(result);
    return {};
}

}  // namespace rova::lang
