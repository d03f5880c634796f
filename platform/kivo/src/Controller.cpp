#include "Core.h"

#include <kivo/Controller.h>
#include <kivo/Listener.h>

namespace Kivo {

Listener::~Listener() = default;

Controller::Controller()
    : m_connection(std::make_shared<detail::Connection>(detail::Core::instance())) {}

Controller::Controller(std::shared_ptr<detail::Connection> connection)
    : m_connection(std::move(connection)) {}

Controller::~Controller() = default;

bool Controller::addListener(Listener& listener) const {
    return m_connection->core().addListener(m_connection, listener);
}

bool Controller::removeListener(Listener& listener) const {
    return m_connection->core().removeListener(m_connection, listener);
}

bool Controller::isConnected() const {
    return m_connection->core().connected();
}

bool Controller::hasFocus() const {
    return m_connection->core().focus();
}

Frame Controller::frame(int history) const {
    const auto& h = m_connection->core().history();
    auto data = h->get(history);
    if (!data) {
        return Frame();
    }
    return Frame(std::move(data), m_connection->gestureMask.load(std::memory_order_acquire), h);
}

void Controller::enableGesture(Gesture::Type type, bool enable) const {
    enableGesture(static_cast<int>(type), enable);
}

void Controller::enableGesture(int type, bool enable) const {
    if (type <= 0 || type >= 32) {
        return;
    }
    const std::uint32_t bit = 1u << static_cast<unsigned>(type);
    if (enable) {
        m_connection->gestureMask.fetch_or(bit, std::memory_order_acq_rel);
    } else {
        m_connection->gestureMask.fetch_and(~bit, std::memory_order_acq_rel);
    }
}

bool Controller::isGestureEnabled(Gesture::Type type) const {
    const int t = static_cast<int>(type);
    return t > 0 && t < 32 &&
           (m_connection->gestureMask.load(std::memory_order_acquire) &
            (1u << static_cast<unsigned>(t))) != 0;
}

Config Controller::config() const {
    return Config(m_connection->core().config());
}

}  // namespace Kivo
