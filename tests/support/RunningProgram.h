#pragma once
// A program running beside the test, whose standard output the test reads as it comes: for
// scripts that wait on what the test does (a live client streaming to `rova`).
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

class RunningProgram {
  public:
    RunningProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments);
    // Kills and reaps a program still running.
    ~RunningProgram();
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    // The first line of standard output, after those returned before, that contains `text`;
    // nullopt when the output ends first or `timeout` passes (waiting on the output itself).
    std::optional<std::string> awaitLine(std::string_view text, std::chrono::milliseconds timeout);
    // Waits for the program to end (killing it after `timeout`) and returns all it printed.
    RovaRun finish(std::chrono::milliseconds timeout);
    // A file the program reads, removed with this object.
    void removeAtEnd(std::filesystem::path path) { m_removeAtEnd.push_back(std::move(path)); }

  private:
    // Reads what is there, waiting at most until `deadline`; false at the end of the output.
    bool readMore(std::chrono::steady_clock::time_point deadline);

    pid_t m_pid = -1;
    int m_out = -1;
    std::filesystem::path m_errPath;
    std::string m_text;
    std::size_t m_consumed = 0;  // of m_text, lines already returned
    bool m_ended = false;
    std::vector<std::filesystem::path> m_removeAtEnd;
};

// `rova` running a script file (written to a temporary file).
std::unique_ptr<RunningProgram> startRovaScript(const std::string& script);

}  // namespace kivorova::testing
