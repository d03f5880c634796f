#pragma once

#include <kivo/Config.h>
#include <kivo/Export.h>
#include <kivo/Frame.h>
#include <kivo/Gesture.h>

#include <memory>

namespace Kivo {

class Listener;
namespace detail {
class Connection;
}

// A connection to the process's device service. A default-constructed controller opens a new
// connection; copies are handles to the same connection; destroying the last handle closes it
// (removing its remaining listeners). Every member may be called from any thread, including from
// inside a listener callback.
class KIVO_API Controller {
  public:
    Controller();
    explicit Controller(std::shared_ptr<detail::Connection> connection);
    Controller(const Controller&) = default;
    Controller& operator=(const Controller&) = default;
    ~Controller();

    // Adds a listener: it receives handleInit, then handleConnect if the device is plugged in,
    // then every later event. Returns false if it was already added to this connection.
    bool addListener(Listener& listener) const;
    // Removes a listener, delivering its handleExit. Returns once no callback of it is running
    // or will run (from inside a callback of that same listener it returns at once). Returns
    // false if the listener was not added to this connection.
    bool removeListener(Listener& listener) const;

    // Whether the device is plugged in; up to date as soon as the change has been made.
    bool isConnected() const;
    // Whether the service has focus; up to date as soon as the change has been made.
    bool hasFocus() const;
    // The newest frame for 0, older ones for 1, 2, ... up to the history's size minus one; an
    // invalid frame when there is none or history is out of range.
    Frame frame(int history = 0) const;

    // Switches reporting of one gesture type on or off for this connection (all are off at first).
    void enableGesture(Gesture::Type type, bool enable = true) const;
    void enableGesture(int type, bool enable = true) const;
    bool isGestureEnabled(Gesture::Type type) const;

    Config config() const;

    // Whether two handles denote the same connection.
    bool operator==(const Controller& other) const { return m_connection == other.m_connection; }

  private:
    std::shared_ptr<detail::Connection> m_connection;
};

}  // namespace Kivo
