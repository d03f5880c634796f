#pragma once
// A program running with pipes on its standard input and output, for tests that talk to it while
// it runs and end it with a signal.
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "RunRova.h"

namespace kivorova::testing {

class ChildProcess {
  public:
    // Standard error goes to `errors`, or with an empty path into the output pipe too. The
    // program starts with the default action for SIGINT, SIGTERM and SIGHUP, whatever the test
    // runner does with them. Throws std::system_error when it cannot be started.
    ChildProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                 const std::filesystem::path& errors = {});
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();  // kills a program still running

    // Reads the output until it holds `text` or ends; returns all read so far (by every call).
    std::string readUntil(const std::string& text);
    // Reads the output to its end; returns all read so far.
    std::string readAll();
    // The first line of output, after those returned before, that contains `text`; nullopt when
    // the output ends first or `timeout` passes (waiting on the output itself, not on a clock).
    std::optional<std::string> awaitLine(std::string_view text, std::chrono::milliseconds timeout);
    // Ends standard input and waits for the program to end, killing it after `timeout`; all it
    // printed, with standard error when it went to a file.
    RovaRun finish(std::chrono::milliseconds timeout);
    // A file the program reads, removed with this object.
    void removeAtEnd(std::filesystem::path path) { m_removeAtEnd.push_back(std::move(path)); }

    void send(int signal);
    // Ends standard input (a program blocked reading it goes on), waits for the program to end
    // (read what it writes first: a full pipe would hold it up)
    // and returns the signal that ended it, or 0. Some sanitizers hold a signal back until the
    // call it arrived in returns: a pending signal is taken before anything the program does next.
    int wait();
    // The exit status after wait() (-1 when a signal ended it).
    int exitCode() const { return m_exitCode; }
    int stop(int signal) {
        send(signal);
        return wait();
    }

  private:
    // Reads what comes, waiting at most until `deadline`; false at the output's end or deadline.
    bool readSome(std::chrono::steady_clock::time_point deadline =
                      std::chrono::steady_clock::time_point::max());
    void closeAll();

    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
    int m_exitCode = -1;
    std::string m_read;
    std::size_t m_consumed = 0;  // of m_read, by awaitLine
    bool m_ended = false;
    std::filesystem::path m_errors;
    std::vector<std::filesystem::path> m_removeAtEnd;
};

// `rova` running `script` (written to a temporary file), its standard error kept in another.
std::unique_ptr<ChildProcess> startRovaScript(const std::string& script);

}  // namespace kivorova::testing
