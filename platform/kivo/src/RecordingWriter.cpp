// Writing recordings: each file is written beside its path and renamed into place when it is
// complete, by close() or, when a signal ends the process, by the signal handler.
#include <fcntl.h>
#include <kivo/Recording.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <limits>
#include <system_error>

namespace Kivo {

namespace detail {

// What the signal handler needs to complete one open file. Slots live in a list that only grows
// and are never freed, so the handler can walk it at any moment; a closed file's slot is reused.
//
// After each line it wrote whole, the writing thread publishes a snapshot: the length of the file
// up to there and the end line that completes it at that length. The handler cuts the file back
// to the snapshot's length (dropping a line that was being written), appends its end line and
// renames the file. It touches only slots that nobody is writing to, or the one its own thread
// was interrupted writing; for one that another thread is writing it waits for the line.
struct WriterSlot {
    enum State : int {
        Free,       // not in use
        Opening,    // claimed by open(), not complete yet
        Idle,       // open, no line being written
        Busy,       // open, thread `writer` is writing a line
        Closing,    // close() is completing the file
        Finishing,  // the signal handler is completing the file
        Finished,   // the signal handler has completed the file
    };
    struct Snapshot {
        std::int64_t length = 0;
        std::array<char, 64> end{};
        std::size_t endLength = 0;
    };

    std::atomic<int> state{Free};
    std::atomic<pid_t> writer{0};
    std::atomic<int> current{0};
    std::array<Snapshot, 2> snapshots{};
    int fd = -1;
    // The process that opened the file: a child forked from it, which shares the descriptor, must
    // leave the file alone.
    pid_t process = 0;
    // Set while Opening; the handler reads them only once it owns the slot.
    std::string partPath;
    std::string finalPath;
    std::atomic<WriterSlot*> next{nullptr};
};

}  // namespace detail

namespace {

using detail::WriterSlot;

std::atomic<WriterSlot*> g_slots{nullptr};
std::atomic<std::uint64_t> g_partSerial{0};

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free &&
                  std::atomic<WriterSlot*>::is_always_lock_free,
              "the signal handler relies on lock-free atomics");

WriterSlot* claimSlot() {
    for (WriterSlot* s = g_slots.load(std::memory_order_acquire); s != nullptr;
         s = s->next.load(std::memory_order_acquire)) {
        int expected = WriterSlot::Free;
        if (s->state.compare_exchange_strong(expected, WriterSlot::Opening,
                                             std::memory_order_acq_rel)) {
            return s;
        }
    }
    // Never freed: a signal handler may reach it at any time. It stays reachable from g_slots.
    auto* slot = new WriterSlot;
    slot->state.store(WriterSlot::Opening, std::memory_order_relaxed);
    WriterSlot* head = g_slots.load(std::memory_order_relaxed);
    do {
        slot->next.store(head, std::memory_order_relaxed);
    } while (!g_slots.compare_exchange_weak(head, slot, std::memory_order_release,
                                            std::memory_order_relaxed));
    return slot;
}

// Writes all of it; 0 or the errno of the failure. Async-signal-safe.
int writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

std::string reason(int error) {
    return std::error_code(error, std::system_category()).message();
}

// The snapshot for a file of `length` bytes holding `frames` frames and `events` events.
void publish(WriterSlot& slot, std::int64_t length, std::size_t frames, std::size_t events) {
    const int next = 1 - slot.current.load(std::memory_order_relaxed);
    auto& snap = slot.snapshots[static_cast<std::size_t>(next)];
    snap.length = length;
    char* p = snap.end.data();
    char* const last = snap.end.data() + snap.end.size();
    const auto put = [&](std::string_view text) { p = std::copy(text.begin(), text.end(), p); };
    put("end frames=");
    p = std::to_chars(p, last, frames).ptr;
    put(" events=");
    p = std::to_chars(p, last, events).ptr;
    put("\n");
    snap.endLength = static_cast<std::size_t>(p - snap.end.data());
    slot.current.store(next, std::memory_order_release);
}

// --- Signals ---------------------------------------------------------------------------------

constexpr std::array<int, 3> kSignals{SIGINT, SIGTERM, SIGHUP};
std::atomic<bool> g_installed{false};
std::atomic<bool> g_finishing{false};
std::atomic<bool> g_finished{false};

void pauseBriefly() {
    ::poll(nullptr, 0, 1);
}

// Completes one slot's file from the signal handler. Async-signal-safe.
void finishFromSignal(WriterSlot& slot, pid_t process) {
    const pid_t self = ::gettid();
    // A line being written by another thread takes a moment; wait for it, but not for ever.
    constexpr int kPatience = 2000;
    for (int waited = 0;;) {
        int state = slot.state.load(std::memory_order_acquire);
        if (state != WriterSlot::Idle && state != WriterSlot::Busy) {
            return;  // free, opening, closing or already being finished
        }
        if (slot.process != process) {
            return;  // a file of the process this one was forked from
        }
        const bool take = state == WriterSlot::Idle ||
                          slot.writer.load(std::memory_order_relaxed) == self ||
                          waited >= kPatience;
        if (take) {
            if (slot.state.compare_exchange_strong(state, WriterSlot::Finishing,
                                                   std::memory_order_acq_rel)) {
                break;
            }
            continue;
        }
        pauseBriefly();
        ++waited;
    }
    const auto& snap =
        slot.snapshots[static_cast<std::size_t>(slot.current.load(std::memory_order_acquire))];
    const auto length = static_cast<off_t>(snap.length);
    if (::ftruncate(slot.fd, length) == 0 && ::lseek(slot.fd, length, SEEK_SET) == length &&
        writeAll(slot.fd, snap.end.data(), snap.endLength) == 0 && ::close(slot.fd) == 0) {
        ::rename(slot.partPath.c_str(), slot.finalPath.c_str());
    }
    slot.state.store(WriterSlot::Finished, std::memory_order_release);
}

extern "C" void finishRecordingsAndEnd(int signal) {
    const int savedErrno = errno;
    if (!g_finishing.exchange(true)) {
        const pid_t process = ::getpid();
        for (WriterSlot* s = g_slots.load(std::memory_order_acquire); s != nullptr;
             s = s->next.load(std::memory_order_acquire)) {
            finishFromSignal(*s, process);
        }
        g_finished.store(true, std::memory_order_release);
    } else {
        // Another thread got a signal first: let it complete the files before anyone ends.
        while (!g_finished.load(std::memory_order_acquire)) {
            pauseBriefly();
        }
    }
    // Let the signal take its default course once this handler returns.
    struct sigaction deflt {};
    deflt.sa_handler = SIG_DFL;
    ::sigemptyset(&deflt.sa_mask);
    ::sigaction(signal, &deflt, nullptr);
    ::raise(signal);
    errno = savedErrno;
}

}  // namespace

void finishRecordingsOnSignals() {
    if (g_installed.exchange(true)) {
        return;
    }
    struct sigaction action {};
    action.sa_handler = finishRecordingsAndEnd;
    ::sigemptyset(&action.sa_mask);
    for (const int signal : kSignals) {
        ::sigaddset(&action.sa_mask, signal);
    }
    action.sa_flags = SA_RESTART;
    for (const int signal : kSignals) {
        struct sigaction old {};
        if (::sigaction(signal, nullptr, &old) == 0 && (old.sa_flags & SA_SIGINFO) == 0 &&
            old.sa_handler == SIG_DFL) {
            ::sigaction(signal, &action, nullptr);
        }
    }
}

// --- RecordingWriter -------------------------------------------------------------------------

RecordingWriter::~RecordingWriter() {
    if (isOpen()) {
        close();
    }
}

std::string RecordingWriter::open(const std::string& path, const RecordingHeader& header) {
    if (isOpen()) {
        close();
    }
    if (path.empty()) {
        return "the file name is empty";  // its part file would land beside the working folder
    }
    // The file is renamed into place: a device, a pipe or a folder there would be replaced.
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
        return path + ": cannot open the file for writing (not a regular file)";
    }
    WriterSlot* slot = claimSlot();
    int fd = -1;
    int error = 0;
    std::string part;
    for (int attempt = 0; attempt < 100; ++attempt) {
        part = path + "." + std::to_string(::getpid()) + "-" +
               std::to_string(g_partSerial.fetch_add(1, std::memory_order_relaxed)) + ".part";
        fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        error = fd < 0 ? errno : 0;
        if (fd >= 0 || error != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        slot->state.store(WriterSlot::Free, std::memory_order_release);
        return path + ": cannot open the file for writing (" + reason(error) + ")";
    }
    const std::string line = formatHeaderLine(header) + "\n";
    if (const int e = writeAll(fd, line.data(), line.size()); e != 0) {
        ::close(fd);
        ::unlink(part.c_str());
        slot->state.store(WriterSlot::Free, std::memory_order_release);
        return path + ": write error (" + reason(e) + ")";
    }
    m_path = path;
    m_error.clear();
    m_length = static_cast<std::int64_t>(line.size());
    m_frames = 0;
    m_events = 0;
    m_lastFrameId = 0;
    m_lastTime = 0;
    slot->fd = fd;
    slot->process = ::getpid();
    slot->partPath = std::move(part);
    slot->finalPath = path;
    publish(*slot, m_length, 0, 0);
    slot->state.store(WriterSlot::Idle, std::memory_order_release);
    m_slot = slot;
    return {};
}

bool RecordingWriter::append(const std::string& line, bool frame) {
    if (!m_error.empty()) {
        return false;
    }
    WriterSlot& slot = *m_slot;
    slot.writer.store(::gettid(), std::memory_order_relaxed);
    int expected = WriterSlot::Idle;
    if (!slot.state.compare_exchange_strong(expected, WriterSlot::Busy,
                                            std::memory_order_acquire)) {
        m_error = m_path + ": completed early by a signal";
        return false;
    }
    const int error = writeAll(slot.fd, line.data(), line.size());
    if (error == 0) {
        m_length += static_cast<std::int64_t>(line.size());
        ++(frame ? m_frames : m_events);
        publish(slot, m_length, m_frames, m_events);
    } else {
        m_error = m_path + ": write error (" + reason(error) + ")";
    }
    slot.state.store(WriterSlot::Idle, std::memory_order_release);
    return error == 0;
}

void RecordingWriter::write(const RecordEntry& entry) {
    if (!isOpen()) {
        return;
    }
    // Keep frame ids increasing and time in range and from going backwards, whatever fed the
    // entries.
    RecordEntry copy = entry;
    std::visit(
        [&](auto& r) {
            r.timestamp = std::clamp(r.timestamp, m_lastTime, kMaxRecordingTime);
            m_lastTime = r.timestamp;
        },
        copy);
    auto* f = std::get_if<FrameRecord>(&copy);
    if (f != nullptr) {
        if (f->id <= m_lastFrameId && m_lastFrameId < std::numeric_limits<std::int64_t>::max()) {
            f->id = m_lastFrameId + 1;
        }
        for (auto& g : f->gestures) {
            g.duration = std::clamp<std::int64_t>(g.duration, 0, kMaxRecordingTime);
        }
    }
    if (append(formatRecordLine(copy) + "\n", f != nullptr) && f != nullptr) {
        m_lastFrameId = f->id;
    }
}

std::string RecordingWriter::close() {
    return finish(true);
}

void RecordingWriter::discard() {
    finish(false);
}

std::string RecordingWriter::finish(bool putInPlace) {
    if (!isOpen()) {
        return {};
    }
    WriterSlot& slot = *m_slot;
    m_slot = nullptr;
    int expected = WriterSlot::Idle;
    if (!slot.state.compare_exchange_strong(expected, WriterSlot::Closing,
                                            std::memory_order_acq_rel)) {
        // A signal's handler completed the file and the process lives on: that file stands.
        while (slot.state.load(std::memory_order_acquire) != WriterSlot::Finished) {
            pauseBriefly();
        }
        slot.state.store(WriterSlot::Free, std::memory_order_release);
        return {};
    }
    if (!putInPlace) {
        ::close(slot.fd);
        ::unlink(slot.partPath.c_str());
        slot.fd = -1;
        slot.state.store(WriterSlot::Free, std::memory_order_release);
        return {};
    }
    std::string error = m_error;
    if (error.empty()) {
        const auto& snap =
            slot.snapshots[static_cast<std::size_t>(slot.current.load(std::memory_order_relaxed))];
        if (const int e = writeAll(slot.fd, snap.end.data(), snap.endLength); e != 0) {
            error = m_path + ": write error (" + reason(e) + ")";
        }
    }
    if (::close(slot.fd) != 0 && error.empty()) {
        error = m_path + ": write error (" + reason(errno) + ")";
    }
    if (error.empty() && ::rename(slot.partPath.c_str(), slot.finalPath.c_str()) != 0) {
        error = m_path + ": cannot put the file in place (" + reason(errno) + ")";
    }
    if (!error.empty()) {
        ::unlink(slot.partPath.c_str());
    }
    slot.fd = -1;
    slot.state.store(WriterSlot::Free, std::memory_order_release);
    return error;
}

std::string writeRecording(const std::string& path, const Recording& recording) {
    RecordingWriter writer;
    if (auto err = writer.open(path, recording.header); !err.empty()) {
        return err;
    }
    for (const auto& e : recording.entries) {
        writer.write(e);
    }
    return writer.close();
}

}  // namespace Kivo
