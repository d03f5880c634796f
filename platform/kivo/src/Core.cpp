#include "Core.h"
#include "EntryTime.h"
#include "ShortestText.h"

#include <kivo/Controller.h>
#include <kivo/Listener.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>
#include <iostream>

namespace Kivo::detail {

namespace {

struct CoreHolder {
    std::shared_ptr<Core> core = std::make_shared<Core>();
    ~CoreHolder() { core->shutdown(); }
};

// `time` moved by `offset`, both within 0..kMaxRecordingTime: stops at the largest time.
std::int64_t shifted(std::int64_t time, std::int64_t offset) {
    return std::min(time + offset, kMaxRecordingTime);
}

// Microseconds between two passes of a looped replay: one frame period.
std::int64_t framePeriod(const RecordingHeader& header) {
    return static_cast<std::int64_t>(std::llround(1e6 / header.rate));
}

// What the replay's time arithmetic relies on, for recordings that did not come from the reader.
std::string checkReplayable(const Recording& recording, const std::string& name) {
    const double rate = recording.header.rate;
    if (!(rate >= kMinRecordingRate && rate <= kMaxRecordingRate)) {
        return "replay: " + name + ": rate must be between " + shortestText(kMinRecordingRate) +
               " and " + shortestText(kMaxRecordingRate) + " frames per second, got " +
               shortestText(rate);
    }
    for (std::size_t i = 0; i < recording.entries.size(); ++i) {
        const std::int64_t t = entryTime(recording.entries[i]);
        if (t < 0 || t > kMaxRecordingTime || (i > 0 && t < entryTime(recording.entries[i - 1]))) {
            return "replay: " + name + ": entry " + std::to_string(i + 1) + ": time " +
                   std::to_string(t) + " is out of order or not between 0 and " +
                   std::to_string(kMaxRecordingTime);
        }
    }
    return {};
}

// A live source reads 0 frames per second after this long without a frame.
constexpr auto kLiveFpsWindow = std::chrono::seconds(2);
// Weight of the newest sample in the live source's smoothed figures.
constexpr double kLiveSmoothing = 0.1;
// Capture times further than this from the host's clock are not on it (a video's own times).
constexpr double kLiveLatencyPlausibleMs = 600'000.0;

}  // namespace

// ---------------------------------------------------------------------------------------------
// Connection

Connection::Connection(std::shared_ptr<Core> core) : m_core(std::move(core)) {}

Connection::~Connection() {
    m_core->closeConnection(this);
}

// ---------------------------------------------------------------------------------------------
// Life

std::shared_ptr<Core> Core::instance() {
    static CoreHolder holder;
    return holder.core;
}

Core::Core()
    : m_history(std::make_shared<History>(kHistoryFrames)),
      m_config(std::make_shared<ConfigStore>()) {
    std::lock_guard lock(m_regMutex);
    m_dispatching = true;
    m_dispatcher = std::thread([this] { dispatchLoop(); });
}

Core::~Core() {
    shutdown();
}

void Core::shutdown() {
    {
        std::lock_guard control(m_controlMutex);
        stopReplayThread();
        const auto lock = lockSource();
        if (m_writer) {
            m_writer->close();
            m_writer.reset();
        }
    }
    std::thread dispatcher;
    {
        std::lock_guard lock(m_regMutex);
        m_stopping = true;
        m_queueCv.notify_all();
        dispatcher = std::move(m_dispatcher);
    }
    if (dispatcher.joinable()) {
        if (dispatcher.get_id() == std::this_thread::get_id()) {
            dispatcher.detach();  // shut down from a callback: the loop ends after it
        } else {
            dispatcher.join();
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Listeners and the callback thread

std::list<Core::Entry>::iterator Core::findEntry(std::uint64_t serial) {
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (it->serial == serial) {
            return it;
        }
    }
    return m_entries.end();
}

void Core::postLocked(Event event) {
    if (m_stopping) {
        return;
    }
    // Frame notifications that nobody has seen yet are merged: readers take frame(0) anyway.
    if (event.call == Call::Frame && event.target == 0 && !m_queue.empty() &&
        m_queue.back().call == Call::Frame && m_queue.back().target == 0) {
        return;
    }
    if (event.target == 0 && m_entries.empty()) {
        return;
    }
    if (event.call == Call::Exit) {
        m_queue.push_front(event);
    } else {
        m_queue.push_back(event);
    }
    ++m_eventsPosted;
    m_queueCv.notify_all();
}

void Core::post(Event event) {
    std::lock_guard lock(m_regMutex);
    postLocked(event);
}

bool Core::addListener(const std::shared_ptr<Connection>& connection, Listener& listener) {
    std::lock_guard lock(m_regMutex);
    for (const auto& e : m_entries) {
        if (e.listener == &listener && e.connection == connection.get() && !e.exiting) {
            return false;
        }
    }
    const std::uint64_t serial = m_nextSerial++;
    m_entries.push_back({serial, &listener, connection.get(), connection, false});
    postLocked({Call::Init, serial});
    if (connected()) {
        postLocked({Call::Connect, serial});
    }
    return true;
}

bool Core::removeListener(const std::shared_ptr<Connection>& connection, Listener& listener) {
    std::unique_lock lock(m_regMutex);
    auto it = m_entries.begin();
    for (; it != m_entries.end(); ++it) {
        if (it->listener == &listener && it->connection == connection.get() && !it->exiting) {
            break;
        }
    }
    if (it == m_entries.end()) {
        return false;
    }
    const std::uint64_t serial = it->serial;
    it->exiting = true;
    if (std::this_thread::get_id() == m_dispatchId) {
        // Inside a callback: nothing else can be running, so say goodbye right here.
        lock.unlock();
        invoke(listener, Call::Exit, Controller(connection));
        lock.lock();
        if (auto again = findEntry(serial); again != m_entries.end()) {
            m_entries.erase(again);
        }
        return true;
    }
    if (!m_dispatching || m_stopping) {
        m_entries.erase(it);
        return true;
    }
    postLocked({Call::Exit, serial});
    m_regCv.wait(lock, [&] { return findEntry(serial) == m_entries.end() || !m_dispatching; });
    if (auto again = findEntry(serial); again != m_entries.end()) {
        m_entries.erase(again);
    }
    return true;
}

void Core::closeConnection(const Connection* connection) {
    // Only reached when no handle (and so no running callback) holds the connection any more.
    std::lock_guard lock(m_regMutex);
    m_entries.remove_if([&](const Entry& e) { return e.connection == connection; });
    m_regCv.notify_all();
}

void Core::invoke(Listener& listener, Call call, const Controller& controller) {
    try {
        switch (call) {
            case Call::Init:
                listener.handleInit(controller);
                break;
            case Call::Connect:
                listener.handleConnect(controller);
                break;
            case Call::Disconnect:
                listener.handleDisconnect(controller);
                break;
            case Call::Exit:
                listener.handleExit(controller);
                break;
            case Call::Frame:
                listener.handleFrame(controller);
                break;
            case Call::FocusGained:
                listener.handleFocusGained(controller);
                break;
            case Call::FocusLost:
                listener.handleFocusLost(controller);
                break;
        }
    } catch (const std::exception& e) {
        std::cerr << "Kivo: a listener callback threw: " << e.what() << '\n';
    } catch (...) {
        std::cerr << "Kivo: a listener callback threw an unknown exception\n";
    }
}

void Core::dispatchLoop() {
    std::unique_lock lock(m_regMutex);
    m_dispatchId = std::this_thread::get_id();
    std::vector<std::uint64_t> targets;
    while (true) {
        m_queueCv.wait(lock, [&] { return m_stopping || !m_queue.empty(); });
        if (m_stopping) {
            break;
        }
        const Event event = m_queue.front();
        m_queue.pop_front();
        targets.clear();
        if (event.target != 0) {
            targets.push_back(event.target);
        } else {
            for (const auto& e : m_entries) {
                targets.push_back(e.serial);
            }
        }
        for (const std::uint64_t serial : targets) {
            auto it = findEntry(serial);
            if (it == m_entries.end() || (it->exiting && event.call != Call::Exit)) {
                continue;
            }
            std::shared_ptr<Connection> connection = it->weak.lock();
            Listener* listener = it->listener;
            if (connection) {
                lock.unlock();
                invoke(*listener, event.call, Controller(connection));
                connection.reset();  // may close the connection, on this thread
                lock.lock();
            }
            if (event.call == Call::Exit) {
                if (auto again = findEntry(serial); again != m_entries.end()) {
                    m_entries.erase(again);
                }
                m_regCv.notify_all();
            }
        }
        ++m_eventsDelivered;
        m_regCv.notify_all();
    }
    m_dispatching = false;
    m_regCv.notify_all();
}

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
        publishLocked(std::move(copy), !m_sourceHasGestures);
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

// ---------------------------------------------------------------------------------------------
// Control

std::string Core::replay(std::shared_ptr<const Recording> recording, const std::string& name,
                         const ReplayOptions& options) {
    if (!(options.speed >= ReplayOptions::kMinSpeed && options.speed <= ReplayOptions::kMaxSpeed)) {
        return "replay: speed must be between " + shortestText(ReplayOptions::kMinSpeed) + " and " +
               shortestText(ReplayOptions::kMaxSpeed) + ", got " + shortestText(options.speed);
    }
    if (auto error = checkReplayable(*recording, name); !error.empty()) {
        return error;
    }
    const EndHooks hooks(*this);
    std::lock_guard control(m_controlMutex);
    stopReplayThread();
    const auto lock = lockSource();
    if (!recording->entries.empty()) {
        // The replay's clock starts here, so its plug-in event is captured at its first time.
        m_lastTimestamp = entryTime(recording->entries.front());
    }
    beginSourceLocked(ServiceStatus::Source::Replay);
    m_recording = std::move(recording);
    m_replayName = name;
    m_replayOptions = options;
    m_replayFrameCount = m_recording->frameCount();
    m_sourceHasGestures = m_recording->header.gesturesRecorded;
    if (m_recording->entries.empty()) {
        m_replayFinished = true;
    } else if (options.realtime) {
        m_replayThread = std::thread([this] { replayThreadMain(); });
    }
    return {};
}

void Core::connect() {
    std::lock_guard control(m_controlMutex);
    const auto lock = lockSource();
    const bool was = connected();
    setConnectedLocked(true);
    if (!was && m_source == ServiceStatus::Source::None) {
        FrameRecord empty;
        empty.timestamp = m_lastTimestamp;
        publishLocked(std::move(empty), false);
    }
}

void Core::disconnect() {
    std::lock_guard control(m_controlMutex);
    const auto lock = lockSource();
    setConnectedLocked(false);
}

void Core::setFocus(bool focus) {
    std::lock_guard control(m_controlMutex);
    const auto lock = lockSource();
    setFocusLocked(focus);
}

std::string Core::inject(const RecordEntry& entry) {
    const EndHooks hooks(*this);
    std::lock_guard control(m_controlMutex);
    if (m_source != ServiceStatus::Source::Inject) {
        stopReplayThread();
    }
    const auto lock = lockSource();
    if (m_source != ServiceStatus::Source::Inject) {
        beginSourceLocked(ServiceStatus::Source::Inject);
    }
    if (const auto* frame = std::get_if<FrameRecord>(&entry)) {
        publishLocked(*frame, frame->gestures.empty());
    } else {
        const auto& ev = std::get<EventRecord>(entry);
        applyEventLocked(ev.kind, ev.timestamp);
    }
    return {};
}

std::string Core::startRecording(const std::string& path) {
    std::lock_guard control(m_controlMutex);
    const auto lock = lockSource();
    if (m_writer) {
        return "record: already recording to " + m_writer->path() + "; stop it first";
    }
    auto writer = std::make_unique<RecordingWriter>();
    RecordingHeader header;
    header.gesturesRecorded = true;
    if (m_recording) {
        header.rate = m_recording->header.rate;
    }
    if (auto err = writer->open(path, header); !err.empty()) {
        return "record: " + err;
    }
    // The capture starts from what a connection sees now: the newest frame of the current
    // source, which a real-time replay may have delivered just before.
    if (const auto newest = m_history->get(0);
        connected() && newest && newest->id >= m_sourceFirstId) {
        writer->write(*newest);
    }
    m_writer = std::move(writer);
    return {};
}

std::string Core::stopRecording() {
    std::lock_guard control(m_controlMutex);
    const auto lock = lockSource();
    if (!m_writer) {
        return {};
    }
    auto err = m_writer->close();
    m_writer.reset();
    return err.empty() ? err : "record: " + err;
}

std::string Core::stop() {
    const EndHooks hooks(*this);
    std::string err = stopRecording();
    std::lock_guard control(m_controlMutex);
    stopReplayThread();
    const auto lock = lockSource();
    beginSourceLocked(ServiceStatus::Source::None);
    return err;
}

bool Core::advance() {
    const auto lock = lockSource();
    if (m_source != ServiceStatus::Source::Replay || m_replayOptions.realtime || m_replayFinished ||
        !m_recording) {
        return false;
    }
    const auto& entries = m_recording->entries;
    const std::int64_t period = framePeriod(m_recording->header);
    bool applied = false;
    while (true) {
        if (m_replayIndex >= entries.size()) {
            if (!m_replayOptions.loop || m_replayFrameCount == 0) {
                m_replayFinished = true;
                return applied;
            }
            startNextPassLocked();
        }
        const RecordEntry& entry = entries[m_replayIndex];
        const bool isFrame = std::holds_alternative<FrameRecord>(entry);
        if (applied && !isFrame &&
            (m_replayIndex == 0 ||
             entryTime(entry) - entryTime(entries[m_replayIndex - 1]) > period)) {
            return true;  // a later event: it starts the next tick
        }
        applyReplayEntryLocked(entry);
        ++m_replayIndex;
        applied = true;
        if (isFrame) {
            if (m_replayIndex >= entries.size() && !m_replayOptions.loop) {
                m_replayFinished = true;
            }
            return true;
        }
    }
}

void Core::flushEvents() {
    std::unique_lock lock(m_regMutex);
    if (std::this_thread::get_id() == m_dispatchId) {
        return;
    }
    const std::uint64_t target = m_eventsPosted;
    m_regCv.wait(lock, [&] { return m_eventsDelivered >= target || m_stopping || !m_dispatching; });
}

bool Core::waitForReplay(int timeoutMs) {
    auto lock = lockSource();
    return m_replayCv.wait_for(lock, std::chrono::milliseconds(std::max(0, timeoutMs)), [&] {
        return m_source != ServiceStatus::Source::Replay || m_replayFinished || m_replayStop;
    });
}

ServiceStatus Core::status() const {
    ServiceStatus s;
    const auto lock = lockSource();
    s.source = m_source;
    if (m_source == ServiceStatus::Source::Replay) {
        s.replayPath = m_replayName;
        s.replayOptions = m_replayOptions;
        s.replayFinished = m_replayFinished;
        s.replayPosition = m_replayFramesDone;
        s.replayFrames = m_replayFrameCount;
        s.replayRate = m_recording ? m_recording->header.rate : 0.0;
        s.replayTime = m_replayTime;
    }
    s.connected = connected();
    s.focus = focus();
    s.frameId = m_history->newestId();
    s.framesDelivered = m_framesDelivered.load(std::memory_order_relaxed);
    s.recordingPath = m_writer ? m_writer->path() : std::string{};
    if (m_source == ServiceStatus::Source::Live) {
        s.live = m_live;
        const auto sinceLast = std::chrono::steady_clock::now() - m_liveArrival;
        s.live.framesPerSecond =
            m_liveInterval > 0.0 && sinceLast < kLiveFpsWindow ? 1.0 / m_liveInterval : 0.0;
    }
    return s;
}

void Core::reset() {
    stop();
    std::lock_guard control(m_controlMutex);
    const auto lock = lockSource();
    setFocusLocked(true);
    m_config->resetDefaults();
}

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
