#pragma once

#include <kivo/Export.h>

namespace Kivo {

class Controller;

// Receives a connection's events. Every callback runs on the device library's own callback
// thread, one at a time, in the order the events happened; the callback's controller is a handle
// to the connection the listener was added to.
//
// Implementers: callbacks must return promptly, since every listener of the process shares the
// thread. A callback may call the controller freely (query it, add or remove listeners, including
// itself). An exception escaping a callback is caught and reported on the standard error stream;
// delivery goes on. Remove the listener (Controller::removeListener) before destroying it: once
// that returns no callback of it is running or will run.
class KIVO_API Listener {
  public:
    Listener() = default;
    Listener(const Listener&) = default;
    Listener& operator=(const Listener&) = default;
    virtual ~Listener();

    // After addListener, before any other callback of this listener.
    virtual void handleInit(const Controller&) {}
    // The device was plugged in. Also sent right after handleInit when it already is.
    virtual void handleConnect(const Controller&) {}
    // The device was unplugged.
    virtual void handleDisconnect(const Controller&) {}
    // After removeListener, the last callback of this listener.
    virtual void handleExit(const Controller&) {}
    // A new frame is available through Controller::frame(0). Frames that arrive while a callback
    // is late are merged into one notification, so count frames by id, not by calls.
    virtual void handleFrame(const Controller&) {}
    // The service gained focus.
    virtual void handleFocusGained(const Controller&) {}
    // The service lost focus.
    virtual void handleFocusLost(const Controller&) {}
};

}  // namespace Kivo
