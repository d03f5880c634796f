#pragma once
// A fresh directory for one test's files.
#include <filesystem>
#include <string>

namespace kivorova::testing {

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

}  // namespace kivorova::testing
