#pragma once
// Runs the real `rova` program as a child process and captures what it writes.
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace rova::test {

struct RovaRun {
    int status = -1;  // exit status; 128 + signal when killed
    std::string out;
    std::string err;
};

struct RovaOptions {
    std::vector<std::string> args{};
    std::string input{};  // written to standard input, which is then closed
    std::vector<std::pair<std::string, std::string>> env{};  // set (or, with an empty value, added)
};

RovaRun runRova(const RovaOptions& options);
// rova -c STATEMENTS
RovaRun runStatements(const std::string& statements, std::vector<std::string> extraArgs = {});

// rova -c STATEMENTS, where writing a file past `bytes` (a multiple of 512) fails as on a full disk
// (the size limit's error, EFBIG, rather than ENOSPC; the signal that comes with it is ignored).
RovaRun runStatementsWithFileSizeLimit(const std::string& statements, std::size_t bytes);

// A fresh directory under the system temporary directory, removed again on destruction.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return m_path; }
    // Writes a file below the directory and returns its path.
    std::filesystem::path write(const std::string& name, const std::string& text) const;

  private:
    std::filesystem::path m_path;
};

// The lines of text, without their line ends.
std::vector<std::string> lines(const std::string& text);

}  // namespace rova::test
