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

RovaRun runProgram(const std::filesystem::path& program,
                   const std::vector<std::string>& arguments) {
    // Output goes to files rather than pipes: no deadlock whatever the child writes.
    const TempFile outFile{uniqueTempPath("rova-out", ".txt")};
    const TempFile errFile{uniqueTempPath("rova-err", ".txt")};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outFile.path.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.path.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);

    std::vector<std::string> argumentStore;
    argumentStore.push_back(program.string());
    argumentStore.insert(argumentStore.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : argumentStore) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    pid_t child = 0;
    const int spawnError = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
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

RovaRun runRovaStatements(const std::string& statements) {
    return runRova({"-c", statements});
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
