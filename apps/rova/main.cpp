// rova: the headless host's program. Runs scripts of the command language against the host.
#include <unistd.h>

#include <kivo/Recording.h>
#include <CLI/CLI.hpp>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "CaptureAtEnd.h"
#include "DeviceChangeReports.h"
#include "Help.h"
#include "Interpreter.h"
#include "PythonBridge.h"
#include "rovahost/Boundary.h"
#include "rovahost/Host.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// The status after sys.exit(code): that code, but a failure already reported (under
// --keep-going) is not turned into success.
int exitStatus(int code, bool failed) {
    return code == 0 && failed ? kExitFailure : code;
}

struct Source {
    std::string origin;  // file name, empty for -c and standard input
    std::string text;
    bool python = false;  // a .py file: Python code, not the command language
};

bool isPythonFile(const std::string& file) {
    std::string extension = std::filesystem::path(file).extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".py";
}

// Statements typed at a terminal run line by line; an error does not end the session.
int interactive(rova::lang::Interpreter& interpreter) {
    bool failed = false;
    std::string line;
    for (int number = 1;; ++number) {
        std::cout << "rova> " << std::flush;
        if (!std::getline(std::cin, line))
            break;
        // A text block goes on over the lines typed after it, up to its tag.
        const int first = number;
        for (std::string more; rova::lang::parseScript(line).unfinished; ++number) {
            std::cout << "...> " << std::flush;
            if (!std::getline(std::cin, more))
                break;
            line += "\n" + more;
        }
        rova::lang::RunOptions options;
        options.firstLine = first;
        if (!interpreter.runText(line, options))
            failed = true;
        std::cout.flush();
        if (const auto& code = interpreter.exitRequest())
            return exitStatus(*code, failed);
    }
    std::cout << '\n';
    return failed ? kExitFailure : 0;
}

int runSources(rova::lang::Interpreter& interpreter, const std::vector<Source>& sources,
               bool keepGoing) {
    // Check every file before the first statement runs.
    std::vector<rova::lang::Script> scripts;
    bool malformed = false;
    for (const Source& source : sources) {
        if (source.python) {
            // Compiled, not run: a syntax error anywhere runs nothing, as for scripts.
            scripts.emplace_back();
            rova::lang::PythonSource code;
            code.code = source.text;
            code.file = source.origin;
            const auto status = interpreter.python().check(code);
            if (!status) {
                std::cerr << "error: " << source.origin << ": " << status.message << std::endl;
                malformed = true;
            }
            continue;
        }
        scripts.push_back(rova::lang::parseScript(source.text));
        for (const auto& message : interpreter.check(scripts.back(), source.origin)) {
            std::cerr << "error: " << message << std::endl;
            malformed = true;
        }
    }
    if (malformed)
        return kExitFailure;
    bool failed = false;
    for (size_t i = 0; i < sources.size(); ++i) {
        if (sources[i].python) {
            const auto status =
                interpreter.python().runFile(sources[i].origin, sources[i].text, "", true);
            if (!status) {
                std::cerr << "error: " << sources[i].origin << ": " << status.message << std::endl;
                failed = true;
            }
        } else {
            rova::lang::RunOptions options;
            options.origin = sources[i].origin;
            options.keepGoing = keepGoing;
            if (!interpreter.runScript(scripts[i], options))
                failed = true;
        }
        if (const auto& code = interpreter.exitRequest())
            return exitStatus(*code, failed);
        if (failed && !keepGoing)
            break;
    }
    return failed ? kExitFailure : 0;
}

// The most of a script read from a pipe or another stream that is not a file.
constexpr std::size_t kMaxPipedScriptBytes = std::size_t{256} << 20;

// Reads a script file whole; the reason on failure (a folder, unreadable, too large for memory).
std::optional<std::string> readScript(const std::string& file, std::string& text) {
    std::error_code ec;
    const auto status = std::filesystem::status(file, ec);
    if (std::filesystem::is_directory(status))
        return "'" + file + "' is a folder, not a script";
    if (std::filesystem::is_block_file(status) || std::filesystem::is_character_file(status))
        return "'" + file + "' is a device, not a script";
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return "cannot read script '" + file + "'";
    const bool regular = std::filesystem::is_regular_file(status);
    const auto size = regular ? std::filesystem::file_size(file, ec) : 0;
    try {
        if (regular && !ec) {
            // The whole size at once, so a file too large for memory is told apart from one
            // that cannot be read.
            text.resize(size);
            in.read(text.data(), static_cast<std::streamsize>(size));
            if (static_cast<std::uintmax_t>(in.gcount()) != size)
                return "cannot read script '" + file + "'";
        } else {
            // A pipe is read in blocks up to a limit: one that never ends is refused, not held.
            std::array<char, 1 << 16> block{};
            while (in.read(block.data(), static_cast<std::streamsize>(block.size())) ||
                   in.gcount() > 0) {
                const auto got = static_cast<std::size_t>(in.gcount());
                if (text.size() + got > kMaxPipedScriptBytes) {
                    text.clear();
                    text.shrink_to_fit();
                    return "script '" + file + "' is larger than " +
                           std::to_string(kMaxPipedScriptBytes >> 20) +
                           " MiB, the most read from a pipe";
                }
                text.append(block.data(), got);
            }
        }
    } catch (const std::bad_alloc&) {
        text.clear();
        text.shrink_to_fit();
        return "script '" + file + "' is too large to load" +
               (regular ? " (" + std::to_string(size) + " bytes)" : std::string());
    } catch (const std::length_error&) {
        return "script '" + file + "' is too large to load";
    }
    return std::nullopt;
}

// Output that could not be written (a full disk, a closed pipe) fails the run: what a statement
// printed must not be lost silently.
bool standardOutputWritten() {
    std::cout.flush();
    const bool streamOk = static_cast<bool>(std::cout);
    const bool flushed = std::fflush(stdout) == 0 && !std::ferror(stdout);
    if (streamOk && flushed)
        return true;
    const int reason = errno;
    std::cerr << "error: cannot write to standard output"
              << (reason ? std::string(": ") + std::strerror(reason) : std::string()) << std::endl;
    return false;
}

std::string footer() {
    using rova::lang::wrap;
    return "\n" + wrap(rova::lang::languageSummary()) + "\n" +
           wrap(
               "Exit status: 0 when every statement succeeded, 1 when one failed, 2 for a usage "
               "error; Python's sys.exit(CODE) ends the run with CODE.") +
           "\n" +
           wrap(
               "Plug-ins are found on the plug-in path and scripts (and the plug-ins' Python "
               "modules) on the script path: the --plugin-path / --script-path folders, then the "
               "entries of ROVA_PLUGIN_PATH and ROVA_SCRIPT_PATH (colon-separated), then the "
               "build's plug-ins and scripts folders.") +
           "\n" + rova::lang::commandReference();
}

}  // namespace

// Under LeakSanitizer: CPython keeps some interpreter-wide allocations past Py_FinalizeEx by
// design; only those are exempt.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libpython3\n";
}
extern "C" const char* __lsan_default_options();
extern "C" const char* __lsan_default_options() {
    return "print_suppressions=0";
}

int main(int argc, char** argv) {
    // A device capture (device -record) that a signal interrupts is completed first.
    Kivo::finishRecordingsOnSignals();

    CLI::App app{
        "rova: the headless Rova host. Runs SCRIPT files in order, or the statements of "
        "-c, or statements read from standard input (with a prompt on a terminal).",
        "rova"};
    std::vector<std::string> scripts;
    std::string command;
    bool keepGoing = false;
    std::vector<std::string> pluginDirs;
    std::vector<std::string> scriptDirs;
    app.add_option("SCRIPT", scripts, "script files to run in order (a .py file runs as Python)");
    auto* commandOption =
        app.add_option("-c,--command", command, "run these statements instead of a script");
    app.add_flag("-k,--keep-going", keepGoing,
                 "go on after a failing statement (the exit status is still 1)");
    app.add_option("--plugin-path", pluginDirs, "search DIR for plug-ins first (repeatable)")
        ->type_name("DIR");
    app.add_option("--script-path", scriptDirs, "search DIR for scripts first (repeatable)")
        ->type_name("DIR");
    app.set_version_flag("--version", std::string("rova ") + ROVA_VERSION,
                         "print the program's version and exit");
    app.footer(footer());
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {  // --help, --version
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitUsage;
    }
    if (*commandOption && !scripts.empty()) {
        std::cerr << "error: give either -c STATEMENTS or SCRIPT files, not both" << std::endl;
        return kExitUsage;
    }

    std::vector<Source> sources;
    if (*commandOption)
        sources.push_back({"", command});
    for (const auto& file : scripts) {
        std::string text;
        if (const auto error = readScript(file, text)) {
            std::cerr << "error: " << *error << std::endl;
            return kExitUsage;
        }
        sources.push_back({file, std::move(text), isPythonFile(file)});
    }

    auto& host = rova::host::Host::instance();
    for (auto it = pluginDirs.rbegin(); it != pluginDirs.rend(); ++it)
        host.pluginPath().insert(host.pluginPath().begin(), *it);
    for (auto it = scriptDirs.rbegin(); it != scriptDirs.rend(); ++it)
        host.scriptPath().insert(host.scriptPath().begin(), *it);

    int status = 0;
    bool outputWritten = true;
    {
        const rova::app::DeviceChangeReports deviceReports(host);
        rova::lang::Interpreter interpreter(host);
        interpreter.installExecutor();
        const auto error = rova::host::guardBoundary("rova", [&] {
            if (!sources.empty()) {
                status = runSources(interpreter, sources, keepGoing);
            } else if (isatty(STDIN_FILENO)) {
                status = interactive(interpreter);
            } else {
                std::stringstream text;
                text << std::cin.rdbuf();
                status = runSources(interpreter, {{"", text.str()}}, keepGoing);
            }
        });
        if (error) {
            // Only running out of memory on a huge script gets here; the host is still whole.
            std::cerr << "error: " << *error << std::endl;
            status = kExitFailure;
        }
        if (!rova::app::completeCaptureAtEnd())
            status = kExitFailure;
        outputWritten = standardOutputWritten();
        if (!outputWritten)
            status = kExitFailure;
        // Nodes, data threads and plug-ins go first, while the interpreter, Python and the
        // commands' own state are alive: UI deletion procedures still run through the
        // interpreter, and observers (trace) still see the deletions. Python finishes when the
        // interpreter goes.
        host.shutdownForExit();
        interpreter.uninstallExecutor();
    }
    if (outputWritten && !standardOutputWritten())
        status = kExitFailure;
    return status;
}
