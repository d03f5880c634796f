#include "LivePlay.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <kivo/Controller.h>
#include <kivo/DeviceService.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <deque>

namespace rova::live {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::array<int, 3> kSignals{SIGINT, SIGTERM, SIGHUP};

// Wakes the waiting loop: written by a signal handler or another thread, read by the loop. One
// for the process, made by the first live play and kept.
std::atomic<int> g_wakeFd{-1};
std::atomic<int> g_signal{0};
std::atomic<bool> g_requested{false};
std::atomic<bool> g_running{false};

void wake() {
    const int fd = g_wakeFd.load();
    if (fd < 0)
        return;
    const std::uint64_t one = 1;
    // A full counter already wakes the loop: nothing is lost when the write fails.
    [[maybe_unused]] const ssize_t written = ::write(fd, &one, sizeof one);
}

void onSignal(int signal) {
    const int savedErrno = errno;
    int none = 0;
    g_signal.compare_exchange_strong(none, signal);
    wake();
    errno = savedErrno;
}

bool stopAsked() {
    return g_signal.load() != 0 || g_requested.load();
}

// Waits until `until`, or less when a stop is asked; the wait is cut short by the wake-up file,
// so a signal that lands on another thread ends it all the same.
void waitUntil(Clock::time_point until) {
    const int fd = g_wakeFd.load();
    while (!stopAsked()) {
        const auto left = until - Clock::now();
        if (left <= Clock::duration::zero())
            return;
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec timeout{static_cast<time_t>(ns / 1'000'000'000),
                               static_cast<long>(ns % 1'000'000'000)};
        pollfd watched{fd, POLLIN, 0};
        if (::ppoll(&watched, 1, &timeout, nullptr) > 0) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t read = ::read(fd, &count, sizeof count);
        }
    }
}

// Signals end the play instead of the program while it runs; the handlers found are put back.
class SignalsCaught {
  public:
    SignalsCaught() {
        struct sigaction action {};
        action.sa_handler = onSignal;
        ::sigemptyset(&action.sa_mask);
        for (const int signal : kSignals) ::sigaddset(&action.sa_mask, signal);
        action.sa_flags = SA_RESTART;
        // A signal the program was started to ignore (nohup) stays ignored.
        for (std::size_t i = 0; i < kSignals.size(); ++i)
            m_installed[i] = ::sigaction(kSignals[i], nullptr, &m_previous[i]) == 0 &&
                             m_previous[i].sa_handler != SIG_IGN &&
                             ::sigaction(kSignals[i], &action, nullptr) == 0;
    }
    ~SignalsCaught() {
        for (std::size_t i = 0; i < kSignals.size(); ++i)
            if (m_installed[i])
                ::sigaction(kSignals[i], &m_previous[i], nullptr);
    }
    SignalsCaught(const SignalsCaught&) = delete;
    SignalsCaught& operator=(const SignalsCaught&) = delete;

  private:
    std::array<struct sigaction, kSignals.size()> m_previous{};
    std::array<bool, kSignals.size()> m_installed{};
};

double secondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

// Longer than anyone plays, and far inside what the clock can add up: a rate of 1e-300 frames per
// second or -seconds 1e300 mean "no sooner than that".
constexpr double kLongestWait = 1e9;

Clock::duration durationOf(double seconds) {
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(std::min(seconds, kLongestWait)));
}

}  // namespace

void requestStop() {
    if (!g_running.load())
        return;
    g_requested.store(true);
    wake();
}

bool playing() {
    return g_running.load();
}

host::Result<LiveOutcome> playLive(host::Host& host, const LiveLimits& limits, PoseStream* poses,
                                   const std::function<void(const LiveProgress&)>& progress) {
    host::Result<LiveOutcome> out;
    if (playing()) {
        out.status = host::Status::failure("a live play is already running");
        return out;
    }
    if (g_wakeFd.load() < 0) {
        const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (fd < 0) {
            out.status = host::Status::failure(std::string("play: cannot wait for a stop: ") +
                                               std::strerror(errno));
            return out;
        }
        g_wakeFd.store(fd);
    }
    std::uint64_t stale = 0;
    [[maybe_unused]] const ssize_t drained = ::read(g_wakeFd.load(), &stale, sizeof stale);
    g_signal.store(0);
    g_requested.store(false);
    const SignalsCaught signals;
    g_running.store(true);

    const double fps = host.fps();
    const auto period = durationOf(1.0 / fps);
    const double startTime = host.time();
    const Kivo::Controller device;
    LiveOutcome& outcome = out.value;
    LiveProgress& state = outcome.progress;
    std::deque<Clock::time_point> recent;  // tick times of about the last second
    const auto start = Clock::now();
    auto due = start;
    const auto end = limits.seconds && *limits.seconds < kLongestWait
                         ? start + durationOf(*limits.seconds)
                         : Clock::time_point::max();
    if (progress)
        progress(state);  // from here a signal ends the play, not the program
    for (;;) {
        if (limits.frames && state.ticks >= *limits.frames) {
            outcome.reason = StopReason::kFrames;
            break;
        }
        const bool pastEnd = due >= end;
        waitUntil(pastEnd ? end : due);
        if (stopAsked())
            break;
        if (pastEnd) {
            outcome.reason = StopReason::kSeconds;
            break;
        }
        ++state.ticks;
        host.setTime(startTime + static_cast<double>(state.ticks) / fps);
        // The device first, so that what it delivers is seen by this very tick.
        Kivo::DeviceService::advance();
        Kivo::DeviceService::flushEvents();
        host.tick();
        if (poses) {
            if (auto status = poses->send(host); !status) {
                out.status = status;
                outcome.reason = StopReason::kError;
                break;
            }
        }
        const auto now = Clock::now();
        recent.push_back(now);
        while (now - recent.front() > std::chrono::seconds(1)) recent.pop_front();
        state.seconds = secondsBetween(start, now);
        state.fps = recent.size() > 1 ? static_cast<double>(recent.size() - 1) /
                                            secondsBetween(recent.front(), recent.back())
                                      : 0.0;
        state.hands = device.frame().hands().count();
        due += period;
        if (now > due) {
            // Behind time: the next tick starts now and the period counts from there, rather
            // than hurrying through the ticks missed.
            if (now - due >= period)
                ++state.late;
            due = now;
        }
        if (progress)
            progress(state);
    }
    g_running.store(false);
    state.seconds = secondsBetween(start, Clock::now());
    if (!out.ok()) {
        // The error says why.
    } else if (const int signal = g_signal.load(); signal != 0) {
        outcome.reason = StopReason::kSignal;
        outcome.signal = signal;
    } else if (g_requested.load()) {
        outcome.reason = StopReason::kRequest;
    }
    if (const std::string error = Kivo::DeviceService::stopRecording(); !error.empty() && out.ok())
        out.status = host::Status::failure(error);
    return out;
}

}  // namespace rova::live
