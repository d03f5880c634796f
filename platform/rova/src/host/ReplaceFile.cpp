// Whole-file writes through a part file renamed into place.
#include "rovahost/ReplaceFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <vector>

namespace rova::host {
namespace {

std::atomic<unsigned> g_partSerial{0};

}  // namespace

FileReplacement::FileReplacement(std::filesystem::path target) : m_target(std::move(target)) {
    // A link is followed, so that the file it names is replaced and the link stays.
    std::filesystem::path& real = m_real;
    real = m_target;
    std::error_code error;
    if (std::filesystem::is_symlink(m_target, error)) {
        const auto resolved = std::filesystem::weakly_canonical(m_target, error);
        if (!error)
            real = resolved;
    }
    struct stat existing {};
    const bool exists = ::stat(real.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) {
        m_status = Status::failure("cannot write '" + m_target.string() + "': it is a folder");
        return;
    }
    if (exists && !S_ISREG(existing.st_mode)) {
        m_fd = ::open(real.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (m_fd < 0)
            fail("cannot write", errno);
        return;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        m_part = real;
        m_part += "." + std::to_string(::getpid()) + "-" +
                  std::to_string(g_partSerial.fetch_add(1, std::memory_order_relaxed)) + ".part";
        m_fd = ::open(m_part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd >= 0 || errno != EEXIST)
            break;
    }
    if (m_fd < 0) {
        const int reason = errno;
        m_part.clear();
        fail("cannot write", reason);
        return;
    }
    // The new file keeps the permissions of the one it replaces.
    if (exists)
        ::fchmod(m_fd, existing.st_mode & 07777);
}

FileReplacement::~FileReplacement() {
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_placed && !m_part.empty())
        ::unlink(m_part.c_str());
}

Status FileReplacement::fail(const std::string& what, int error) {
    if (m_status.ok)
        m_status = Status::failure(what + " '" + m_target.string() + "': " + std::strerror(error));
    return m_status;
}

bool FileReplacement::write(const void* data, std::size_t size) {
    if (!m_status.ok || m_fd < 0 || m_finished)
        return false;
    const auto* at = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = ::write(m_fd, at, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            fail("cannot write", errno);
            return false;
        }
        at += written;
        size -= static_cast<std::size_t>(written);
        m_size += static_cast<std::uint64_t>(written);
    }
    return true;
}

bool FileReplacement::copyFrom(int fd, std::uint64_t offset, std::uint64_t size) {
    std::vector<char> buffer(std::size_t{1} << 20);
    while (size > 0 && m_status.ok) {
        const std::size_t chunk =
            size < buffer.size() ? static_cast<std::size_t>(size) : buffer.size();
        const ssize_t got = ::pread(fd, buffer.data(), chunk, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            fail("cannot write", got < 0 ? errno : EIO);
            return false;
        }
        if (!write(buffer.data(), static_cast<std::size_t>(got)))
            return false;
        offset += static_cast<std::uint64_t>(got);
        size -= static_cast<std::uint64_t>(got);
    }
    return m_status.ok;
}

Status FileReplacement::finish() {
    if (m_finished || !m_status.ok)
        return m_status;
    m_finished = true;
    // Some file systems report a full disk only when the data is flushed.
    if (!m_part.empty() && ::fsync(m_fd) != 0)
        fail("cannot write", errno);
    if (::close(m_fd) != 0)
        fail("cannot write", errno);
    m_fd = -1;
    return m_status;
}

Status FileReplacement::putInPlace() {
    if (!finish().ok || m_part.empty() || m_placed)
        return m_status;
    if (::rename(m_part.c_str(), m_real.c_str()) != 0)
        return fail("cannot put in place", errno);
    m_placed = true;
    return m_status;
}

Status replaceFile(const std::filesystem::path& target, std::string_view bytes) {
    FileReplacement file(target);
    file.write(bytes);
    return file.putInPlace();
}

}  // namespace rova::host
