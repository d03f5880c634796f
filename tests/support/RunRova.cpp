#include "RunRova.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

extern char** environ;

namespace kivorova::testing {
namespace {

std::filesystem::path uniqueTempPath(const std::string& stem, const std::string& extension) {
    static std::atomic<unsigned> counter{0};
    const auto name =
        stem + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + extension;
    return std::filesystem::temp_directory_path() / name;
}

std::string readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Removes the file when the scope ends, whatever happens.
struct TempFile {
    std::filesystem::path path;
    ~TempFile() {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
};

// The caller's environment with the options' variables set or replaced, as spawn wants it.
std::vector<std::string> environmentWith(
    const std::vector<std::pair<std::string, std::string>>& changes) {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        bool replaced = false;
        for (const auto& change : changes) {
            replaced = replaced || text.rfind(change.first + "=", 0) == 0;
        }
        if (!replaced) {
            entries.push_back(text);
        }
    }
    for (const auto& [name, value] : changes) {
        entries.push_back(name + "=" + value);
    }
    return entries;
}

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

std::filesystem::path rovaProgram() {
    return KIVOROVA_ROVA_PROGRAM;
}

std::filesystem::path pluginLibrary() {
    return std::filesystem::path(KIVOROVA_PLUGIN_DIR) / "kivo_rova.so";
}

std::filesystem::path sourceRoot() {
    return KIVOROVA_SOURCE_ROOT;
}

RovaRun runProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                   const ProgramOptions& options) {
    // Input and output go through files rather than pipes: no deadlock whatever the child
    // reads or writes.
    const TempFile inFile{uniqueTempPath("rova-in", ".txt")};
    const TempFile outFile{uniqueTempPath("rova-out", ".txt")};
    const TempFile errFile{uniqueTempPath("rova-err", ".txt")};
    {
        std::ofstream in(inFile.path, std::ios::binary);
        in << options.input;
        if (!in) {
            throw std::runtime_error("cannot write " + inFile.path.string());
        }
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, inFile.path.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outFile.path.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.path.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);

    std::vector<std::string> argumentStore;
    argumentStore.push_back(program.string());
    argumentStore.insert(argumentStore.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv = pointersTo(argumentStore);
    std::vector<std::string> environmentStore = environmentWith(options.env);
    std::vector<char*> envp = pointersTo(environmentStore);

    pid_t child = 0;
    const int spawnError =
        posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawnError != 0) {
        throw std::system_error(spawnError, std::generic_category(),
                                "cannot start " + program.string());
    }

    int waitStatus = 0;
    while (::waitpid(child, &waitStatus, 0) < 0) {
        if (errno != EINTR) {
            throw std::system_error(errno, std::generic_category(), "waitpid");
        }
    }
    RovaRun run;
    run.out = readAll(outFile.path);
    run.err = readAll(errFile.path);
    if (WIFEXITED(waitStatus)) {
        run.exitCode = WEXITSTATUS(waitStatus);
    } else if (WIFSIGNALED(waitStatus)) {
        run.exitCode = 128 + WTERMSIG(waitStatus);
    }
    return run;
}

RovaRun runRova(const std::vector<std::string>& arguments) {
    return runProgram(rovaProgram(), arguments);
}

RovaRun runRovaStatements(const std::string& statements, const std::vector<std::string>& options) {
    std::vector<std::string> arguments = options;
    arguments.push_back("-c");
    arguments.push_back(statements);
    return runRova(arguments);
}

RovaRun runRovaStatementsWithFileSizeLimit(const std::string& statements, std::size_t bytes) {
    return runProgram(
        "/bin/sh",
        {"-c", "trap '' XFSZ; ulimit -f " + std::to_string(bytes / 512) + " && exec \"$0\" \"$@\"",
         rovaProgram().string(), "-c", statements});
}

RovaRun runRovaScript(const std::string& script, const std::vector<std::string>& options) {
    const TempFile scriptFile{uniqueTempPath("rova-script", ".rova")};
    {
        std::ofstream out(scriptFile.path);
        out << script;
        if (!out) {
            throw std::runtime_error("cannot write " + scriptFile.path.string());
        }
    }
    std::vector<std::string> arguments = options;
    arguments.push_back(scriptFile.path.string());
    return runRova(arguments);
}

}  // namespace kivorova::testing
