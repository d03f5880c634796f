#pragma once
// Files written whole or not at all: the bytes go to a part file beside the target, which is
// renamed over the target only once every byte is on disk. A full disk, a size limit or a crash
// leaves the previous file as it was. A target that is not a regular file (a device, a pipe) is
// written directly: there is no previous file to keep, and renaming would replace the node.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "rovahost/Host.h"

namespace rova::host {

class ROVA_API FileReplacement {
  public:
    // Opens the part file; status() says why when it cannot.
    explicit FileReplacement(std::filesystem::path target);
    ~FileReplacement();  // removes the part file unless it was put in place
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    // Appends bytes; after the first failure nothing more is written and status() tells it.
    bool write(const void* data, std::size_t size);
    bool write(std::string_view bytes) { return write(bytes.data(), bytes.size()); }
    // Appends `size` bytes read from `fd` at `offset` (a spool file's contents).
    bool copyFrom(int fd, std::uint64_t offset, std::uint64_t size);
    // Bytes written so far.
    std::uint64_t size() const { return m_size; }

    // Flushes the part file to disk and closes it; the target is still untouched.
    Status finish();
    // Finishes (when not yet done) and renames the part file over the target.
    Status putInPlace();

    const Status& status() const { return m_status; }
    const std::filesystem::path& target() const { return m_target; }

  private:
    Status fail(const std::string& what, int error);

    std::filesystem::path m_target;
    std::filesystem::path m_real;  // the target, its links followed
    std::filesystem::path m_part;  // empty when writing the target directly
    int m_fd = -1;
    std::uint64_t m_size = 0;
    bool m_finished = false;
    bool m_placed = false;
    Status m_status;
};

// The bytes as the whole of `target`, through a FileReplacement. Errors name the target.
ROVA_API Status replaceFile(const std::filesystem::path& target, std::string_view bytes);

}  // namespace rova::host
