#pragma once
// Runs the headless host `rova` as a child process and captures what it writes, so tests drive
// the host and the plug-in exactly as a user's script would.
#include <cstddef>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace kivorova::testing {

struct RovaRun {
    std::string out;    // standard output
    std::string err;    // standard error
    int exitCode = -1;  // the process's exit status; 128 + N when killed by signal N
};

// The `rova` program of this build tree.
std::filesystem::path rovaProgram();
// The plug-in library of this build tree (kivo_rova.so in the host's plug-in folder).
std::filesystem::path pluginLibrary();
// Root of the source tree, for tests that look things up in the sources.
std::filesystem::path sourceRoot();

// rova with these arguments (for example {"-c", "plugin -load kivo_rova"}).
RovaRun runRova(const std::vector<std::string>& arguments);
// rova [OPTIONS] -c STATEMENTS.
RovaRun runRovaStatements(const std::string& statements,
                          const std::vector<std::string>& options = {});
// rova -c STATEMENTS, where writing a file past `bytes` (a multiple of 512) fails as on a full disk
// (the size limit's error, EFBIG, rather than ENOSPC; the signal that comes with it is ignored).
RovaRun runRovaStatementsWithFileSizeLimit(const std::string& statements, std::size_t bytes);
// Writes the script to a temporary .rova file and runs `rova [OPTIONS] FILE`.
RovaRun runRovaScript(const std::string& script, const std::vector<std::string>& options = {});

struct ProgramOptions {
    std::string input{};  // standard input (empty: at its end at once); never a terminal
    std::vector<std::pair<std::string, std::string>> env{};  // set or replaced in the environment
};

// Runs any program with arguments and captures its output the same way.
RovaRun runProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                   const ProgramOptions& options = {});

}  // namespace kivorova::testing
