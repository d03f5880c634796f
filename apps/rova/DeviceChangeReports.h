#pragma once
// Tells the host of every change to what data loops read from the device (each frame, plugging in
// and out, focus), so that a tick need not ask a loop that already read the newest frame for
// another pass. During a real-time replay the loops are also woken as each frame comes, so that
// the tick after it finds the frame's record ready; in lockstep the ticks alone make the loops
// read, so that what a script prints does not depend on thread timing.
#include <kivo/Controller.h>
#include <kivo/Listener.h>

#include "rovahost/Host.h"

namespace rova::app {

class DeviceChangeReports final : private Kivo::Listener {
  public:
    explicit DeviceChangeReports(host::Host& host);
    ~DeviceChangeReports() override;
    DeviceChangeReports(const DeviceChangeReports&) = delete;
    DeviceChangeReports& operator=(const DeviceChangeReports&) = delete;

  private:
    void report() const;
    void handleConnect(const Kivo::Controller&) override { report(); }
    void handleDisconnect(const Kivo::Controller&) override { report(); }
    void handleFrame(const Kivo::Controller&) override { report(); }
    void handleFocusGained(const Kivo::Controller&) override { report(); }
    void handleFocusLost(const Kivo::Controller&) override { report(); }

    host::Host& m_host;
    Kivo::Controller m_controller;
};

}  // namespace rova::app
