#pragma once
#include <atomic>

#include "device/DeviceApi.h"
#include "host/HostApi.h"

namespace kivo_rova {

// The device link of one hand-tracking node. It owns a controller (its own connection to the
// device service), listens on it, and turns the device going away and coming back into host
// commands queued for the host's main thread: a notice each time, and the host-side handler
// switching the tracking nodes off and on again when the node was live as the device left.
//
// Threads: the node constructs and destroys the manager on the main thread; handleConnect and
// handleDisconnect run on the SDK's callback thread. They only queue command strings and ask the
// node whether it is live. The flags are written by the callbacks (and by attach and detach on the
// main thread) and read on the main thread, so each is atomic; the callbacks of one listener never
// overlap, so no lock is needed beyond that.
class KivoManager : public Kivo::Listener {
  public:
    // The host command strings the manager queues, in the host command language.
    static constexpr const char* kConnectNotice = "print(\"Kivo Sense Controller CONNECTED\\n\");";
    static constexpr const char* kDisconnectNotice =
        "print(\"Kivo Sense Controller DISCONNECTED\\n\");";
    static constexpr const char* kEnableCommand =
        "python(\"import kivoHandler\"); python(\"kivoHandler.kivoSenseSetEnabled(True);\")";
    static constexpr const char* kDisableCommand =
        "python(\"import kivoHandler\"); python(\"kivoHandler.kivoSenseSetEnabled(False);\")";

    // Opens the manager's own connection and starts listening on it. `node` (the owning
    // hand-tracking node) is sampled for its live state when the device goes away; it may be null.
    // Only the host's live state is asked of it, so the manager needs the host's threaded node
    // and nothing of the tracking node.
    explicit KivoManager(RPxThreadedDeviceNode* node);
    // Stops listening first (no callback runs or will run once that returned), then closes the
    // connection.
    ~KivoManager() override;
    KivoManager(const KivoManager&) = delete;
    KivoManager& operator=(const KivoManager&) = delete;

    // Adds the manager as a listener of its controller; false (changing nothing) when it is
    // already listening.
    bool attach();
    // Removes the manager as a listener and forgets the node; nothing when not listening.
    void detach();

    // The manager's own connection, for the node's data thread.
    const Kivo::Controller& getController() const { return controller; }

    // The device came back: after a disconnect, queues the connect notice and, when the node was
    // live as the device left, the command that switches tracking on again.
    void handleConnect(const Kivo::Controller&) override;
    // The device went away: queues the disconnect notice once, samples the node's live state and,
    // when it was live, queues the command that switches tracking off.
    void handleDisconnect(const Kivo::Controller&) override;

    // State, for inspection on the main thread once the callbacks in question have run.
    bool isListening() const { return listening; }
    bool isDisconnected() const { return disconnected; }
    bool nodeWasLive() const { return wasLive; }
    const RPxThreadedDeviceNode* owningNode() const { return node; }

  private:
    static void queue(const char* command);

    std::atomic<bool> listening;
    std::atomic<bool> disconnected;
    std::atomic<bool> wasLive;
    Kivo::Controller controller;
    // The owning hand-tracking node (not owned); null once detached.
    RPxThreadedDeviceNode* node;
};

}  // namespace kivo_rova
