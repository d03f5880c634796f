#pragma once
// What the device manager's tests share: a hand-tracking node the host creates for real, a
// listener that tells when the SDK's callback thread has delivered an event, and a host whose
// idle queue is drained into a list of statements instead of being run.
#include <gtest/gtest.h>
#include <rovahost/Host.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "device/DeviceApi.h"
#include "host/HostApi.h"
#include "tracking/KivoTransformNode.h"

namespace kivo_rova::testing {

// The hand-tracking node under its own type name, remembering its instances: each owns the
// manager under test, whose callbacks sample the node's live state.
class TrackedNode : public KivoTransformNode {
  public:
    static const RTypeId id;
    static TrackedNode* last;  // the most recently created instance
    static void* createInstance() { return static_cast<RPxNode*>(last = new TrackedNode()); }
};

RStatus initializeTrackedNodes(RObject plugin);
RStatus uninitializeTrackedNodes(RObject plugin);

// Listens on a connection of its own. Callbacks reach every listener in the order they were
// added, so once this probe (added after a manager) has seen an event, the manager has too.
class EventProbe : public Kivo::Listener {
  public:
    EventProbe() { m_controller.addListener(*this); }
    ~EventProbe() override { m_controller.removeListener(*this); }
    EventProbe(const EventProbe&) = delete;
    EventProbe& operator=(const EventProbe&) = delete;

    void handleConnect(const Kivo::Controller&) override { record(m_connects); }
    void handleDisconnect(const Kivo::Controller&) override { record(m_disconnects); }

    // Waits (bounded) until this many connect or disconnect events in all have arrived.
    bool waitForConnects(int count) { return waitFor(m_connects, count); }
    bool waitForDisconnects(int count) { return waitFor(m_disconnects, count); }
    int connects() {
        std::lock_guard lock(m_mutex);
        return m_connects;
    }
    int disconnects() {
        std::lock_guard lock(m_mutex);
        return m_disconnects;
    }

  private:
    void record(int& counter) {
        {
            std::lock_guard lock(m_mutex);
            ++counter;
        }
        m_changed.notify_all();
    }
    bool waitFor(const int& counter, int count) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(20), [&] { return counter >= count; });
    }

    Kivo::Controller m_controller;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_connects = 0;
    int m_disconnects = 0;
};

// A fresh host with the tracked node type registered and the device plugged in; statements
// queued for idle time are collected by takeQueued() instead of being run.
class ManagerTest : public ::testing::Test {
  protected:
    rova::host::Host& host = rova::host::Host::instance();
    std::vector<std::string> queued;

    void SetUp() override;
    void TearDown() override;

    // Creates a tracked node and returns it.
    TrackedNode& createNode(const std::string& name);
    void setLive(const std::string& name, bool live);
    // Runs the idle queue and returns what it held, in order.
    std::vector<std::string> takeQueued();
};

using Statements = std::vector<std::string>;

}  // namespace kivo_rova::testing
