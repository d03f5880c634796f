// The device service's core: its life, what the service asks of it, and its status. Listener
// dispatch, the sources' effect on the device state with the replay thread, and the live source
// are in units of their own (CoreDispatch.cpp, CoreSources.cpp, CoreLive.cpp).
#include "Core.h"
#include "EntryTime.h"
#include "ShortestText.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>

namespace Kivo::detail {

namespace {

struct CoreHolder {
    std::shared_ptr<Core> core = std::make_shared<Core>();
    ~CoreHolder() { core->shutdown(); }
};

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

}  // namespace

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
    // The capture is put in the file's place when it stops: the recording replayed would be lost.
    if (std::error_code ec; m_writer && std::filesystem::exists(name, ec) &&
                            std::filesystem::equivalent(name, m_writer->path(), ec)) {
        return "replay: " + name + " is the file being recorded to; stop the capture first";
    }
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
    // The replayed file is read whole when its replay starts, but a capture put in its place
    // would lose it for good.
    std::error_code ec;
    if (!m_replayName.empty() && std::filesystem::exists(path, ec) &&
        std::filesystem::equivalent(path, m_replayName, ec)) {
        return "record: " + path + " is the recording being replayed; record to another file";
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

void Core::discardRecording() {
    std::lock_guard control(m_controlMutex);
    const auto lock = lockSource();
    if (m_writer) {
        m_writer->discard();
        m_writer.reset();
    }
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
    m_recognizer.setTrace({});
}

void Core::traceRecognition(std::function<void(std::int64_t, std::string_view)> trace) {
    const auto lock = lockSource();
    m_recognizer.setTrace(std::move(trace));
}

}  // namespace Kivo::detail
