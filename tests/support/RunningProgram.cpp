#include "RunningProgram.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

extern char** environ;

namespace kivorova::testing {

namespace {

std::filesystem::path tempPath(const std::string& stem, const std::string& extension) {
    static std::atomic<unsigned> counter{0};
    return std::filesystem::temp_directory_path() /
           (stem + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + extension);
}

int waitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace

RunningProgram::RunningProgram(const std::filesystem::path& program,
                               const std::vector<std::string>& arguments)
    : m_errPath(tempPath("program-err", ".txt")) {
    std::array<int, 2> pipeEnds{};
    if (::pipe2(pipeEnds.data(), O_CLOEXEC) != 0)
        throw std::system_error(errno, std::generic_category(), "pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, m_errPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> store{program.string()};
    store.insert(store.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& text : store) argv.push_back(text.data());
    argv.push_back(nullptr);
    const int error = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    m_out = pipeEnds[0];
    if (error != 0) {
        ::close(m_out);
        throw std::system_error(error, std::generic_category(), "cannot start " + store[0]);
    }
}

RunningProgram::~RunningProgram() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        waitFor(m_pid);
    }
    if (m_out >= 0)
        ::close(m_out);
    std::error_code ignored;
    std::filesystem::remove(m_errPath, ignored);
    for (const auto& path : m_removeAtEnd) std::filesystem::remove(path, ignored);
}

bool RunningProgram::readMore(std::chrono::steady_clock::time_point deadline) {
    if (m_ended)
        return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd fd{m_out, POLLIN, 0};
    const int ready = ::poll(&fd, 1, static_cast<int>(std::max<long long>(0, left.count())));
    if (ready <= 0)
        return ready < 0 && errno == EINTR;
    std::array<char, 4096> buffer{};
    const ssize_t n = ::read(m_out, buffer.data(), buffer.size());
    if (n <= 0) {
        m_ended = n == 0 || errno != EINTR;
        return !m_ended;
    }
    m_text.append(buffer.data(), static_cast<std::size_t>(n));
    return true;
}

std::optional<std::string> RunningProgram::awaitLine(std::string_view text,
                                                     std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        for (std::size_t end = m_text.find('\n', m_consumed); end != std::string::npos;
             end = m_text.find('\n', m_consumed)) {
            std::string line = m_text.substr(m_consumed, end - m_consumed);
            m_consumed = end + 1;
            if (line.find(text) != std::string::npos)
                return line;
        }
        if (std::chrono::steady_clock::now() >= deadline || !readMore(deadline))
            return std::nullopt;
    }
}

RovaRun RunningProgram::finish(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!m_ended && std::chrono::steady_clock::now() < deadline) readMore(deadline);
    if (!m_ended)
        ::kill(m_pid, SIGKILL);
    RovaRun run;
    run.exitCode = waitFor(m_pid);
    m_pid = -1;
    run.out = m_text;
    std::ifstream err(m_errPath, std::ios::binary);
    std::ostringstream text;
    text << err.rdbuf();
    run.err = text.str();
    return run;
}

std::unique_ptr<RunningProgram> startRovaScript(const std::string& script) {
    const auto path = tempPath("rova-live-script", ".rova");
    {
        std::ofstream out(path);
        out << script;
        if (!out)
            throw std::runtime_error("cannot write " + path.string());
    }
    auto program = std::make_unique<RunningProgram>(rovaProgram(), std::vector{path.string()});
    program->removeAtEnd(path);
    return program;
}

}  // namespace kivorova::testing
