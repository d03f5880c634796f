// The live source: frames a client streams (the camera tracker) delivered as they arrive, with
// the figures its status shows.
#include "Core.h"
#include "EntryTime.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <iostream>

namespace Kivo::detail {

namespace {

// Weight of the newest sample in the live source's smoothed figures.
constexpr double kLiveSmoothing = 0.1;
// Capture times further than this from the host's clock are not on it (a video's own times).
constexpr double kLiveLatencyPlausibleMs = 600'000.0;

}  // namespace

// ---------------------------------------------------------------------------------------------
// The live source

Core::EndHooks::~EndHooks() {
    std::vector<std::function<void()>> hooks;
    {
        std::lock_guard lock(m_core.m_endMutex);
        hooks.swap(m_core.m_endedHooks);
    }
    for (auto& hook : hooks) {
        try {
            hook();
        } catch (const std::exception& e) {
            std::cerr << "Kivo: ending the live source failed: " << e.what() << '\n';
        }
    }
}

bool Core::liveCurrentLocked(std::uint64_t session) const {
    return m_source == ServiceStatus::Source::Live && session != 0 && session == m_liveSession;
}

std::int64_t Core::liveNowLocked() const {
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(
                             std::chrono::steady_clock::now() - m_livePublished)
                             .count();
    return shifted(m_lastTimestamp, std::max<std::int64_t>(1, elapsed));
}

std::uint64_t Core::startLive(LiveSource source) {
    const EndHooks hooks(*this);
    std::lock_guard control(m_controlMutex);
    stopReplayThread();
    const auto lock = lockSource();
    beginSourceLocked(ServiceStatus::Source::Live);
    m_liveSession = ++m_liveSessions;
    m_liveEnd = std::move(source.onEnd);
    m_live.address = std::move(source.address);
    // Whatever the previous source showed is gone: no hands until the stream delivers.
    FrameRecord empty;
    empty.timestamp = m_lastTimestamp;
    publishLocked(std::move(empty), false);
    m_livePublished = std::chrono::steady_clock::now();
    m_liveClientBase = liveNowLocked();
    return m_liveSession;
}

bool Core::deliverLive(std::uint64_t session, FrameRecord frame, double captureMs) {
    std::lock_guard control(m_controlMutex);
    const auto lock = lockSource();
    if (!liveCurrentLocked(session)) {
        return false;
    }
    const auto now = std::chrono::steady_clock::now();
    if (m_live.framesReceived > 0) {
        const double interval = std::chrono::duration<double>(now - m_liveArrival).count();
        m_liveInterval = m_liveInterval > 0.0
                             ? m_liveInterval + kLiveSmoothing * (interval - m_liveInterval)
                             : interval;
    }
    m_liveArrival = now;
    ++m_live.framesReceived;
    const double hostMs = std::chrono::duration<double, std::milli>(
                              std::chrono::system_clock::now().time_since_epoch())
                              .count();
    const double latency = hostMs - captureMs;
    if (std::isfinite(latency) && std::abs(latency) < kLiveLatencyPlausibleMs) {
        m_live.latencyMs = m_live.latencyMs
                               ? *m_live.latencyMs + kLiveSmoothing * (latency - *m_live.latencyMs)
                               : latency;
    } else {
        m_live.latencyMs.reset();
    }
    frame.timestamp =
        shifted(m_liveClientBase, std::clamp<std::int64_t>(frame.timestamp, 0, kMaxRecordingTime));
    frame.timestamp = std::max(frame.timestamp, m_lastTimestamp);
    frame.gestures.clear();
    publishLocked(std::move(frame), true);
    m_livePublished = now;
    m_liveCv.notify_all();
    return true;
}

void Core::liveClient(std::uint64_t session, const std::string& client) {
    std::lock_guard control(m_controlMutex);
    const auto lock = lockSource();
    if (!liveCurrentLocked(session) || client == m_live.client) {
        return;
    }
    const bool gone = client.empty();
    m_live.client = client;
    if (gone) {
        // The client's hands leave with it; the device stays plugged in.
        FrameRecord empty;
        empty.timestamp = liveNowLocked();
        publishLocked(std::move(empty), true);
        m_livePublished = std::chrono::steady_clock::now();
    } else {
        m_liveClientBase = liveNowLocked();
    }
}

void Core::liveRefused(std::uint64_t session, const std::string& reason) {
    const auto lock = lockSource();
    if (!liveCurrentLocked(session)) {
        return;
    }
    ++m_live.refused;
    m_live.lastRefusal = reason;
}

bool Core::awaitLiveFrames(std::uint64_t frames, int timeoutMs) {
    auto lock = lockSource();
    m_liveCv.wait_for(lock, std::chrono::milliseconds(std::max(0, timeoutMs)), [&] {
        return m_source != ServiceStatus::Source::Live || m_live.framesReceived >= frames;
    });
    return m_source == ServiceStatus::Source::Live && m_live.framesReceived >= frames;
}

}  // namespace Kivo::detail
