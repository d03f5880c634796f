#include "Core.h"
#include "ShortestText.h"

#include <kivo/DeviceService.h>

#include <cmath>
#include <sstream>

namespace Kivo {

namespace {

detail::Core& core() {
    static const std::shared_ptr<detail::Core> instance = detail::Core::instance();
    return *instance;
}

}  // namespace

std::string ServiceStatus::describe() const {
    std::ostringstream s;
    s << "source ";
    switch (source) {
        case Source::None:
            s << "none";
            break;
        case Source::Inject:
            s << "inject";
            break;
        case Source::Live:
            s << "live " << live.address << " (";
            if (live.client.empty()) {
                s << "no client";
            } else {
                s << "client " << live.client;
            }
            s << ", " << live.framesReceived << " frames received, "
              << detail::shortestText(std::round(live.framesPerSecond * 10.0) / 10.0)
              << " frames/s";
            if (live.latencyMs) {
                s << ", latency " << detail::shortestText(std::round(*live.latencyMs * 10.0) / 10.0)
                  << " ms";
            }
            s << ", " << live.refused << " refused";
            if (!live.lastRefusal.empty()) {
                s << ", last: " << live.lastRefusal;
            }
            s << ")";
            break;
        case Source::Replay:
            s << "replay " << replayPath << " ("
              << (replayOptions.realtime ? "real time x" + std::to_string(replayOptions.speed)
                                         : std::string("lockstep"))
              << (replayOptions.loop ? ", loop" : "") << (replayFinished ? ", finished" : "")
              << ") " << replayPosition << "/" << replayFrames;
            break;
    }
    s << ", " << (connected ? "connected" : "disconnected") << ", focus " << (focus ? "on" : "off")
      << ", frame " << frameId << ", " << framesDelivered << " frames delivered";
    if (!recordingPath.empty()) {
        s << ", recording " << recordingPath;
    }
    return s.str();
}

std::string DeviceService::replay(const std::string& path, const ReplayOptions& options) {
    auto recording = std::make_shared<Recording>();
    std::string error;
    if (!readRecording(path, *recording, error)) {
        return "replay: " + error;
    }
    return core().replay(std::move(recording), path, options);
}

std::string DeviceService::replay(const Recording& recording, const std::string& name,
                                  const ReplayOptions& options) {
    return core().replay(std::make_shared<const Recording>(recording), name, options);
}

void DeviceService::connect() {
    core().connect();
}

void DeviceService::disconnect() {
    core().disconnect();
}

void DeviceService::setFocus(bool focus) {
    core().setFocus(focus);
}

std::string DeviceService::inject(std::string_view line) {
    RecordEntry entry;
    std::string error;
    if (!parseRecordLine(line, entry, error)) {
        return "inject: " + error;
    }
    return core().inject(entry);
}

std::string DeviceService::inject(const RecordEntry& entry) {
    return core().inject(entry);
}

std::string DeviceService::startRecording(const std::string& path) {
    return core().startRecording(path);
}

void DeviceService::discardRecording() {
    core().discardRecording();
}

std::string DeviceService::stopRecording() {
    return core().stopRecording();
}

std::string DeviceService::stop() {
    return core().stop();
}

bool DeviceService::advance() {
    return core().advance();
}

void DeviceService::flushEvents() {
    core().flushEvents();
}

bool DeviceService::waitForReplay(int timeoutMs) {
    return core().waitForReplay(timeoutMs);
}

ServiceStatus DeviceService::status() {
    return core().status();
}

std::optional<std::chrono::steady_clock::time_point> DeviceService::frameArrival(std::int64_t id) {
    return core().history()->arrival(id);
}

std::uint64_t DeviceService::startLive(LiveSource source) {
    return core().startLive(std::move(source));
}

bool DeviceService::deliverLive(std::uint64_t session, FrameRecord frame, double captureMs) {
    return core().deliverLive(session, std::move(frame), captureMs);
}

void DeviceService::liveClient(std::uint64_t session, const std::string& client) {
    core().liveClient(session, client);
}

void DeviceService::liveRefused(std::uint64_t session, const std::string& reason) {
    core().liveRefused(session, reason);
}

bool DeviceService::awaitLiveFrames(std::uint64_t frames, int timeoutMs) {
    return core().awaitLiveFrames(frames, timeoutMs);
}

void DeviceService::traceRecognition(RecognitionTrace trace) {
    core().traceRecognition(std::move(trace));
}

void DeviceService::reset() {
    core().reset();
}

}  // namespace Kivo
