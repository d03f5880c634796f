// Listener dispatch: connections add and remove listeners, and one callback thread calls them,
// in order, with the events the sources post.
#include "Core.h"

#include <kivo/Controller.h>
#include <kivo/Listener.h>

#include <exception>
#include <iostream>

namespace Kivo::detail {

// ---------------------------------------------------------------------------------------------
// Connection

Connection::Connection(std::shared_ptr<Core> core) : m_core(std::move(core)) {}

Connection::~Connection() {
    m_core->closeConnection(this);
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

}  // namespace Kivo::detail
