// What every source does to the device state (connection, focus, frames published and
// recognised), and the replay thread that feeds a real-time replay.
#include "Core.h"
#include "EntryTime.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace Kivo::detail {

// ---------------------------------------------------------------------------------------------
// Sources

void Core::setConnectedLocked(bool connected) {
    if (m_connected.exchange(connected, std::memory_order_acq_rel) == connected) {
        return;
    }
    if (m_writer) {
        m_writer->write(
            EventRecord{connected ? EventKind::Connect : EventKind::Disconnect, m_lastTimestamp});
    }
    post({connected ? Call::Connect : Call::Disconnect, 0});
}

void Core::setFocusLocked(bool focus) {
    if (m_focus.exchange(focus, std::memory_order_acq_rel) == focus) {
        return;
    }
    if (m_writer) {
        m_writer->write(
            EventRecord{focus ? EventKind::FocusGained : EventKind::FocusLost, m_lastTimestamp});
    }
    post({focus ? Call::FocusGained : Call::FocusLost, 0});
}

void Core::applyEventLocked(EventKind kind, std::int64_t timestamp) {
    m_lastTimestamp = std::max(m_lastTimestamp, timestamp);
    switch (kind) {
        case EventKind::Connect:
            setConnectedLocked(true);
            break;
        case EventKind::Disconnect:
            setConnectedLocked(false);
            break;
        case EventKind::FocusGained:
            setFocusLocked(true);
            break;
        case EventKind::FocusLost:
            setFocusLocked(false);
            break;
    }
}

void Core::publishLocked(FrameRecord frame, bool recognise) {
    if (recognise) {
        if (const auto generation = m_config->generation(); generation != m_settingsGeneration) {
            m_settings = RecognizerSettings::fromConfig(*m_config);
            m_settingsGeneration = generation;
        }
        m_recognizer.process(frame, m_settings);
    }
    frame.id = ++m_lastId;
    m_lastTimestamp = frame.timestamp;
    auto shared = std::make_shared<const FrameRecord>(std::move(frame));
    m_history->push(shared);
    m_framesDelivered.fetch_add(1, std::memory_order_relaxed);
    if (m_writer) {
        m_writer->write(*shared);
    }
    post({Call::Frame, 0});
}

void Core::applyReplayEntryLocked(const RecordEntry& entry) {
    if (const auto* frame = std::get_if<FrameRecord>(&entry)) {
        FrameRecord copy = *frame;
        copy.timestamp = shifted(copy.timestamp, m_replayOffset);
        m_replayTime = copy.timestamp;
        if (!m_sourceHasGestures) {
            copy.gestures.clear();
        }
        // An unplugged device delivers nothing: the replay goes on without it, as time does.
        if (connected()) {
            publishLocked(std::move(copy), !m_sourceHasGestures);
        }
        ++m_replayFramesDone;
    } else {
        const auto& ev = std::get<EventRecord>(entry);
        m_replayTime = shifted(ev.timestamp, m_replayOffset);
        applyEventLocked(ev.kind, m_replayTime);
    }
}

void Core::beginSourceLocked(ServiceStatus::Source source) {
    if (m_liveEnd) {
        std::lock_guard lock(m_endMutex);
        m_endedHooks.push_back(std::move(m_liveEnd));
    }
    m_liveEnd = nullptr;
    m_liveSession = 0;
    m_live = {};
    m_liveInterval = 0.0;
    m_liveCv.notify_all();
    m_source = source;
    m_recording.reset();
    m_replayName.clear();
    m_replayOptions = {};
    m_replayIndex = 0;
    m_replayFramesDone = 0;
    m_replayFrameCount = 0;
    m_replayOffset = 0;
    m_replayTime = -1;
    m_replayFinished = false;
    m_replayStop = false;
    m_sourceHasGestures = false;
    m_sourceFirstId = m_lastId + 1;
    m_recognizer.reset();
    if (source != ServiceStatus::Source::None) {
        setConnectedLocked(true);
    } else {
        setConnectedLocked(false);
    }
}

std::unique_lock<std::mutex> Core::lockSource() const {
    m_sourceWaiting.fetch_add(1, std::memory_order_acq_rel);
    std::unique_lock lock(m_sourceMutex);
    if (m_sourceWaiting.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        m_replayCv.notify_all();  // the replay thread may go on once this caller is done
    }
    return lock;
}

void Core::stopReplayThread() {
    {
        const auto lock = lockSource();
        m_replayStop = true;
        m_replayCv.notify_all();
    }
    if (m_replayThread.joinable()) {
        m_replayThread.join();
    }
}

void Core::startNextPassLocked() {
    const auto& entries = m_recording->entries;
    const std::int64_t pass =
        entryTime(entries.back()) - entryTime(entries.front()) + framePeriod(m_recording->header);
    m_replayOffset = std::min(m_replayOffset + pass, kMaxRecordingTime);
    m_replayIndex = 0;
}

void Core::replayThreadMain() {
    using Clock = std::chrono::steady_clock;
    using Micros = std::chrono::duration<double, std::micro>;
    std::unique_lock lock(m_sourceMutex);
    const auto& entries = m_recording->entries;
    const std::int64_t first = entryTime(entries.front());
    // The schedule is kept in floating point, in real microseconds from the start, apart from the
    // delivered times (which stop at the largest time), so that no speed, rate or number of passes
    // can take it out of range. A looped pass takes at least kMinLoopPassSeconds, so that a short
    // recording at a high speed does not leave the thread busy delivering for ever.
    const double speed = m_replayOptions.speed;
    const double passLength =
        static_cast<double>(entryTime(entries.back()) - first + framePeriod(m_recording->header));
    const double passUs = std::max(passLength / speed, ReplayOptions::kMinLoopPassSeconds * 1e6);
    double passStartUs = 0.0;
    const auto start = Clock::now();
    while (!m_replayStop) {
        if (m_replayIndex >= entries.size()) {
            if (!m_replayOptions.loop || m_replayFrameCount == 0) {
                m_replayFinished = true;
                m_replayCv.notify_all();
                return;
            }
            startNextPassLocked();
            passStartUs += passUs;
        }
        const RecordEntry& entry = entries[m_replayIndex];
        const double dueUs = passStartUs + static_cast<double>(entryTime(entry) - first) / speed;
        // Waits of at most an hour at a time keep every clock value in range.
        while (true) {
            const double left = dueUs - Micros(Clock::now() - start).count();
            if (!(left > 0.0)) {
                break;
            }
            if (m_replayCv.wait_for(lock, Micros(std::min(left, 3.6e9)),
                                    [&] { return m_replayStop; })) {
                return;
            }
        }
        applyReplayEntryLocked(entry);
        ++m_replayIndex;
        // Entries that are already due follow at once: callers waiting for the lock go first.
        m_replayCv.wait(lock, [&] {
            return m_replayStop || m_sourceWaiting.load(std::memory_order_acquire) == 0;
        });
    }
}

}  // namespace Kivo::detail
