#include "ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

extern char** environ;

namespace kivorova::testing {

ChildProcess::ChildProcess(const std::filesystem::path& program,
                           const std::vector<std::string>& arguments,
                           const std::filesystem::path& errors) {
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

bool ChildProcess::readSome() {
    char buffer[256];
    while (m_out >= 0) {
        const ssize_t n = ::read(m_out, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        m_read.append(buffer, static_cast<std::size_t>(n));
        return true;
    }
    return false;
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

}  // namespace kivorova::testing
