#pragma once

#include "ConfigStore.h"
#include "History.h"
#include "Recognizer.h"

#include <kivo/DeviceService.h>
#include <kivo/Recording.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Kivo {
class Listener;
class Controller;
}  // namespace Kivo

namespace Kivo::detail {

class Core;

// One open connection: what a Controller handle shares.
class Connection {
  public:
    explicit Connection(std::shared_ptr<Core> core);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    Core& core() const { return *m_core; }
    std::atomic<std::uint32_t> gestureMask{0};

  private:
    std::shared_ptr<Core> m_core;
};

// The device service: sources, frame history, configuration, and delivery of events to the
// listeners of every connection on the callback thread.
class Core {
  public:
    // The process's service; built on first use, shut down by static destruction.
    static std::shared_ptr<Core> instance();

    Core();
    ~Core();
    Core(const Core&) = delete;
    Core& operator=(const Core&) = delete;

    // Stops the callback and replay threads; later events are no longer delivered.
    void shutdown();

    bool addListener(const std::shared_ptr<Connection>& connection, Listener& listener);
    bool removeListener(const std::shared_ptr<Connection>& connection, Listener& listener);
    void closeConnection(const Connection* connection);

    bool connected() const { return m_connected.load(std::memory_order_acquire); }
    bool focus() const { return m_focus.load(std::memory_order_acquire); }
    const std::shared_ptr<History>& history() const { return m_history; }
    const std::shared_ptr<ConfigStore>& config() const { return m_config; }

    std::string replay(std::shared_ptr<const Recording> recording, const std::string& name,
                       const ReplayOptions& options);
    void connect();
    void disconnect();
    void setFocus(bool focus);
    std::string inject(const RecordEntry& entry);
    std::string startRecording(const std::string& path);
    std::string stopRecording();
    void discardRecording();
    std::string stop();
    bool advance();
    bool waitForReplay(int timeoutMs);
    // Returns once every callback of the events posted before the call has returned (at once on
    // the callback thread itself, where waiting would never end).
    void flushEvents();
    ServiceStatus status() const;
    void reset();
    void traceRecognition(std::function<void(std::int64_t, std::string_view)> trace);

    std::uint64_t startLive(LiveSource source);
    bool deliverLive(std::uint64_t session, FrameRecord frame, double captureMs);
    void liveClient(std::uint64_t session, const std::string& client);
    void liveRefused(std::uint64_t session, const std::string& reason);
    bool awaitLiveFrames(std::uint64_t frames, int timeoutMs);

  private:
    enum class Call { Init, Connect, Disconnect, Exit, Frame, FocusGained, FocusLost };
    struct Event {
        Call call;
        std::uint64_t target = 0;  // a listener entry; 0: every listener
    };
    struct Entry {
        std::uint64_t serial;
        Listener* listener;
        const Connection* connection;
        std::weak_ptr<Connection> weak;
        bool exiting = false;
    };

    // Runs the end hooks of the live sources that a control call ended, once it has let go of
    // every lock: declared first in such a call, it is destroyed last.
    class EndHooks {
      public:
        explicit EndHooks(Core& core) : m_core(core) {}
        ~EndHooks();
        EndHooks(const EndHooks&) = delete;
        EndHooks& operator=(const EndHooks&) = delete;

      private:
        Core& m_core;
    };

    void dispatchLoop();
    void postLocked(Event event);  // m_regMutex held
    void post(Event event);
    std::list<Entry>::iterator findEntry(std::uint64_t serial);
    static void invoke(Listener& listener, Call call, const Controller& controller);

    // Source side; m_sourceMutex held.
    void publishLocked(FrameRecord frame, bool recognise);
    void applyEventLocked(EventKind kind, std::int64_t timestamp);
    void applyReplayEntryLocked(const RecordEntry& entry);
    void beginSourceLocked(ServiceStatus::Source source);
    void setConnectedLocked(bool connected);
    void setFocusLocked(bool focus);
    // m_sourceMutex, taken ahead of the replay thread: it lets waiting callers in between entries.
    std::unique_lock<std::mutex> lockSource() const;
    // m_controlMutex held, m_sourceMutex not.
    void stopReplayThread();
    void replayThreadMain();
    // A looped replay starts over; m_sourceMutex held.
    void startNextPassLocked();

    // Listener registry and event queue.
    std::mutex m_regMutex;
    std::condition_variable m_queueCv;
    std::condition_variable m_regCv;
    std::list<Entry> m_entries;
    std::deque<Event> m_queue;
    std::uint64_t m_nextSerial = 1;
    std::uint64_t m_eventsPosted = 0;     // queued events, merged ones not counted
    std::uint64_t m_eventsDelivered = 0;  // of those, every callback returned
    bool m_stopping = false;
    bool m_dispatching = false;
    std::thread::id m_dispatchId;
    std::thread m_dispatcher;

    // Shared state readable without locks.
    std::atomic<bool> m_connected{false};
    std::atomic<bool> m_focus{true};
    std::atomic<std::uint64_t> m_framesDelivered{0};
    std::shared_ptr<History> m_history;
    std::shared_ptr<ConfigStore> m_config;

    // Control calls are serialised by m_controlMutex; source state is guarded by m_sourceMutex.
    std::mutex m_controlMutex;
    mutable std::mutex m_sourceMutex;
    mutable std::atomic<int> m_sourceWaiting{0};  // callers of lockSource() not in yet
    mutable std::condition_variable m_replayCv;
    ServiceStatus::Source m_source = ServiceStatus::Source::None;
    std::shared_ptr<const Recording> m_recording;
    std::string m_replayName;
    ReplayOptions m_replayOptions;
    std::size_t m_replayIndex = 0;
    std::uint64_t m_replayFramesDone = 0;
    std::uint64_t m_replayFrameCount = 0;
    std::int64_t m_replayOffset = 0;
    std::int64_t m_replayTime = -1;  // the last delivered entry's time, shifted
    bool m_replayFinished = false;
    bool m_replayStop = false;
    bool m_sourceHasGestures = false;
    std::int64_t m_sourceFirstId = 1;  // the first frame id the current source may deliver
    std::thread m_replayThread;
    Recognizer m_recognizer;
    RecognizerSettings m_settings;
    std::uint64_t m_settingsGeneration = ~std::uint64_t{0};
    std::unique_ptr<RecordingWriter> m_writer;
    std::int64_t m_lastId = 0;
    std::int64_t m_lastTimestamp = 0;

    // The live source; m_sourceMutex held.
    bool liveCurrentLocked(std::uint64_t session) const;
    // The timestamp of a frame published now: after the newest one by the real time since.
    std::int64_t liveNowLocked() const;
    std::uint64_t m_liveSessions = 0;
    std::uint64_t m_liveSession = 0;  // the current live source's session; 0: none
    std::function<void()> m_liveEnd;
    LiveStatus m_live;
    std::int64_t m_liveClientBase = 0;  // the timestamp of the client's first frame
    std::chrono::steady_clock::time_point m_livePublished;
    std::chrono::steady_clock::time_point m_liveArrival;  // of the newest accepted frame
    double m_liveInterval = 0.0;                          // seconds between frames, smoothed
    mutable std::condition_variable m_liveCv;
    // End hooks waiting for their control call to let go (see EndHooks).
    std::mutex m_endMutex;
    std::vector<std::function<void()>> m_endedHooks;
};

}  // namespace Kivo::detail
