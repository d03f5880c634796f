#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

}  // namespace

ChildProcess::ChildProcess(const std::filesystem::path& program,
                           const std::vector<std::string>& arguments,
                           const std::filesystem::path& errors)
    : m_errors(errors) {
    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0)
        throw std::system_error(errno, std::generic_category(), "pipe");
    if (::pipe2(out, O_CLOEXEC) != 0) {
        const int error = errno;
        ::close(in[0]);
        ::close(in[1]);
        throw std::system_error(error, std::generic_category(), "pipe");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    if (errors.empty())
        posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    for (const int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, s);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::vector<std::string> words{program.string()};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const int error =
        posix_spawn(&m_pid, words[0].c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(in[0]);
    ::close(out[1]);
    m_in = in[1];
    m_out = out[0];
    if (error != 0) {
        m_pid = -1;
        closeAll();
        throw std::system_error(error, std::generic_category(), "spawn " + program.string());
    }
}

ChildProcess::~ChildProcess() {
    if (m_pid > 0)
        stop(SIGKILL);
    closeAll();
    std::error_code ignored;
    for (const auto& path : m_removeAtEnd) std::filesystem::remove(path, ignored);
}

std::string ChildProcess::readUntil(const std::string& text) {
    while (m_read.find(text) == std::string::npos && readSome()) {
    }
    return m_read;
}

std::string ChildProcess::readAll() {
    while (readSome()) {
    }
    return m_read;
}

bool ChildProcess::readSome(std::chrono::steady_clock::time_point deadline) {
    char buffer[4096];
    while (m_out >= 0 && !m_ended) {
        if (deadline != std::chrono::steady_clock::time_point::max()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd fd{m_out, POLLIN, 0};
            const int ready =
                ::poll(&fd, 1, static_cast<int>(std::clamp<long long>(left.count(), 0, 1 << 30)));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                return false;
        }
        const ssize_t n = ::read(m_out, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_ended = true;
            return false;
        }
        m_read.append(buffer, static_cast<std::size_t>(n));
        return true;
    }
    return false;
}

std::optional<std::string> ChildProcess::awaitLine(std::string_view text,
                                                   std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        for (std::size_t end = m_read.find('\n', m_consumed); end != std::string::npos;
             end = m_read.find('\n', m_consumed)) {
            std::string line = m_read.substr(m_consumed, end - m_consumed);
            m_consumed = end + 1;
            if (line.find(text) != std::string::npos)
                return line;
        }
        if (!readSome(deadline))
            return std::nullopt;
    }
}

RovaRun ChildProcess::finish(std::chrono::milliseconds timeout) {
    if (m_in >= 0) {
        ::close(m_in);
        m_in = -1;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (readSome(deadline)) {
    }
    if (!m_ended)
        send(SIGKILL);
    RovaRun run;
    const int signal = m_pid > 0 ? wait() : 0;
    run.exitCode = signal != 0 ? 128 + signal : m_exitCode;
    run.out = m_read;
    if (!m_errors.empty()) {
        std::ifstream err(m_errors, std::ios::binary);
        std::ostringstream text;
        text << err.rdbuf();
        run.err = text.str();
    }
    return run;
}

void ChildProcess::send(int signal) {
    if (m_pid > 0)
        ::kill(m_pid, signal);
}

int ChildProcess::wait() {
    if (m_in >= 0) {
        ::close(m_in);
        m_in = -1;
    }
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
    m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

void ChildProcess::closeAll() {
    for (int* fd : {&m_in, &m_out}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
}

std::unique_ptr<ChildProcess> startRovaScript(const std::string& script) {
    const auto path = tempPath("rova-script", ".rova");
    const auto errors = tempPath("rova-err", ".txt");
    {
        std::ofstream out(path);
        out << script;
        if (!out)
            throw std::runtime_error("cannot write " + path.string());
    }
    auto program =
        std::make_unique<ChildProcess>(rovaProgram(), std::vector{path.string()}, errors);
    program->removeAtEnd(path);
    program->removeAtEnd(errors);
    return program;
}

}  // namespace kivorova::testing
