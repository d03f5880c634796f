#include "Interpreter.h"

#include "rovahost/Boundary.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "PythonBridge.h"

namespace rova::lang {
namespace {

// Runs of statements inside one another, however they nest (source, procedures, Python's
// rova.eval, executeCommand): deep enough for real scripts, shallow enough to stop a procedure
// or Python code that runs itself before the stack runs out.
constexpr std::size_t kMaxNesting = 64;

std::string joinLines(const std::vector<std::string>& lines) {
    std::string out;
    for (size_t i = 0; i < lines.size(); ++i) out += (i ? "\n" : "") + lines[i];
    return out;
}

// Messages are one line whatever a name or value in them holds.
std::string oneLine(std::string message) {
    std::string out;
    for (char c : message) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

std::string pathList(const std::vector<std::filesystem::path>& paths) {
    std::string out;
    for (const auto& p : paths) out += (out.empty() ? "" : ":") + p.string();
    return out.empty() ? "empty" : out;
}

}  // namespace

Interpreter::Interpreter(host::Host& host) : m_host(host) {}

Interpreter::~Interpreter() {
    uninstallExecutor();
    m_python.reset();
}

PythonBridge& Interpreter::python() {
    if (!m_python)
        m_python = std::make_unique<PythonBridge>(*this);
    return *m_python;
}

std::string Interpreter::where(const std::string& origin, int line) {
    return (origin.empty() ? "" : origin + ": ") + "line " + std::to_string(line);
}

std::vector<std::string> Interpreter::check(const Script& script, const std::string& origin) const {
    std::vector<std::pair<int, std::string>> found;
    for (const SyntaxError& e : script.errors)
        found.emplace_back(e.line, where(origin, e.line) + ": " +
                                       (e.command.empty() ? "" : e.command + ": ") + e.message);
    for (const Statement& st : script.statements) {
        if (const CommandDefinition* definition = findCommand(st.name)) {
            auto bound = bind(*definition, st);
            if (!bound.ok())
                found.emplace_back(st.line, where(origin, st.line) + ": " + st.name + ": " +
                                                oneLine(bound.status.message));
        }
    }
    // Syntax and binding errors interleave; report them in line order.
    std::stable_sort(found.begin(), found.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> messages;
    for (auto& [line, message] : found) messages.push_back(std::move(message));
    return messages;
}

bool Interpreter::runText(std::string_view text, const RunOptions& options) {
    const Script script = parseScript(text, options.firstLine);
    const std::vector<std::string> problems = check(script, options.origin);
    if (!problems.empty()) {
        if (options.reportErrors)
            for (const auto& message : problems) std::cerr << "error: " << message << std::endl;
        if (options.error) {
            *options.error = problems.front();
            if (problems.size() > 1)
                *options.error += " (and " + std::to_string(problems.size() - 1) + " more)";
        }
        return false;
    }
    return runScript(script, options);
}

bool Interpreter::runScript(const Script& script, const RunOptions& options) {
    if (m_runs.size() > kMaxNesting) {
        const std::string message = "statements nested more than " + std::to_string(kMaxNesting) +
                                    " deep (does the code run itself?)";
        if (options.reportErrors)
            std::cerr << "error: " << message << std::endl;
        if (options.error && options.error->empty())
            *options.error = message;
        return false;
    }
    m_runs.push_back(&options);
    const bool ownLevel = options.oneUndoStep || !options.undoable;
    if (ownLevel)
        m_undo.push(options.undoable,
                    script.statements.empty() ? "" : script.statements.front().text());
    bool ok = true;
    for (const Statement& statement : script.statements) {
        host::Status status = runStatement(statement, options);
        std::fflush(stdout);
        if (m_exitCode)
            break;
        if (status)
            continue;
        ok = false;
        const std::string message = where(options.origin, statement.line) + ": " + statement.name +
                                    ": " + oneLine(status.message);
        if (options.reportErrors)
            std::cerr << "error: " << message << std::endl;
        if (options.error && options.error->empty())
            *options.error = message;
        if (!options.keepGoing)
            break;
    }
    if (ownLevel)
        m_undo.pop();
    m_runs.pop_back();
    return ok;
}

host::Status Interpreter::runStatement(const Statement& statement, const RunOptions& options) {
    const CommandDefinition* definition = findCommand(statement.name);
    const bool level = !definition || definition->opensUndoStep;
    if (level)
        m_undo.push(options.undoable, statement.text());
    const std::size_t mark = m_undo.mark();
    host::Status status;
    if (const auto error = host::guardBoundary("statement '" + statement.name + "'",
                                               [&] { status = dispatch(statement); }))
        status = host::Status::failure(*error);
    // A statement that fails half-way (a script procedure, Python code) changes nothing.
    if (!status && level && m_undo.recording())
        m_undo.rollBackTo(mark);
    if (level)
        m_undo.pop();
    return status;
}

host::Status Interpreter::dispatch(const Statement& statement) {
    if (const CommandDefinition* definition = findCommand(statement.name)) {
        auto bound = bind(*definition, statement);
        if (!bound.ok())
            return bound.status;
        CommandContext context(*this, statement, bound.value);
        return definition->run(context);
    }
    const Invocation raw = bindRaw(statement);
    if (m_host.hasPluginCommand(statement.name)) {
        auto outcome = m_host.runPluginCommand(statement.name, raw.rawWords());
        if (!outcome.ok) {
            // The statement's name leads the message already.
            std::string error = outcome.error.empty() ? "command failed" : outcome.error;
            if (error.rfind(statement.name + ": ", 0) == 0)
                error.erase(0, statement.name.size() + 2);
            return host::Status::failure(error);
        }
        if (outcome.undoable) {
            auto instance = outcome.undoable;
            m_undo.record({statement.text(),
                           [this, instance] { return m_host.undoPluginCommand(instance); },
                           [this, instance] { return m_host.redoPluginCommand(instance); }});
        }
        if (!outcome.result.empty())
            emitResult(outcome.result);
        return {};
    }
    const std::string procedure = statement.name + ".rova";
    if (m_host.findScript(procedure)) {
        if (!raw.args().empty())
            return host::Status::failure("script procedure " + procedure +
                                         " takes no arguments, got '" + raw.args().front() + "'");
        return runFile(procedure);
    }
    return host::Status::failure(
        "unknown command (not a built-in command, a plug-in command or a script procedure " +
        procedure + " on the script path)");
}

host::Result<Interpreter::ScriptFile> Interpreter::readScriptFile(const std::string& file) const {
    const auto path = m_host.findScript(file);
    std::error_code ec;
    if (!path && file.find('/') != std::string::npos && std::filesystem::exists(file, ec))
        return {{},
                host::Status::failure(
                    "'" + file + "' is " +
                    (std::filesystem::is_directory(file, ec) ? "a folder" : "a device or a pipe") +
                    ", not a script")};
    if (!path)
        return {{},
                host::Status::failure("no script '" + file + "' on the script path (" +
                                      pathList(m_host.scriptPath()) + ")")};
    std::ifstream in(*path, std::ios::binary);
    if (!in)
        return {{}, host::Status::failure("cannot read '" + path->string() + "'")};
    std::stringstream text;
    text << in.rdbuf();
    return {{*path, std::move(text).str()}, {}};
}

host::Status Interpreter::runFile(const std::string& file) {
    if (m_runs.size() > kMaxNesting && m_host.findScript(file))
        return host::Status::failure("scripts nested more than " + std::to_string(kMaxNesting) +
                                     " deep (does " + file + " run itself?)");
    const auto script = readScriptFile(file);
    if (!script.ok())
        return script.status;

    RunOptions nested;
    if (!m_runs.empty())
        nested = *m_runs.back();
    nested.origin = script.value.path.filename().string();
    nested.reportErrors = false;
    nested.keepGoing = false;
    nested.oneUndoStep = false;
    std::string error;
    nested.error = &error;
    const bool ok = runText(script.value.text, nested);
    return ok ? host::Status{} : host::Status::failure(error);
}

void Interpreter::emitResult(const std::string& line) {
    const RunOptions* options = m_runs.empty() ? nullptr : m_runs.back();
    if (options && options->results)
        options->results->push_back(line);
    if (!options || options->printResults)
        std::cout << line << '\n';
}

void Interpreter::installExecutor() {
    m_host.setExecutor(
        [this](const std::string& text, bool display, bool undoable, std::string* result) {
            std::vector<std::string> results;
            std::string error;
            RunOptions options;
            options.printResults = display;
            options.reportErrors = false;
            options.undoable = undoable;
            options.oneUndoStep = undoable;
            options.results = &results;
            options.error = &error;
            if (display) {
                std::cout << text;
                if (text.empty() || text.back() != '\n')
                    std::cout << '\n';
            }
            const bool ok = runText(text, options);
            if (!ok)
                std::cerr << "error: " << error << std::endl;
            if (result)
                *result = joinLines(results);
            return ok;
        });
}

void Interpreter::uninstallExecutor() {
    m_host.setExecutor(nullptr);
}

}  // namespace rova::lang
