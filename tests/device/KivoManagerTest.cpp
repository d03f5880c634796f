// The device manager against the real device library and host runtime: which statements it
// queues for the host as the device comes and goes, and its life as a listener.
#include <kivo/DeviceService.h>

#include <atomic>
#include <memory>
#include <thread>

#include "ManagerTestSupport.h"
#include "device/KivoManager.h"

namespace kivo_rova::testing {
namespace {

const std::string kConnectNotice = R"(print("Kivo Sense Controller CONNECTED\n");)";
const std::string kDisconnectNotice = R"(print("Kivo Sense Controller DISCONNECTED\n");)";
const std::string kEnable =
    R"(python("import kivoHandler"); python("kivoHandler.kivoSenseSetEnabled(True);"))";
const std::string kDisable =
    R"(python("import kivoHandler"); python("kivoHandler.kivoSenseSetEnabled(False);"))";

using Kivo::DeviceService;

TEST_F(ManagerTest, CreatingWhilePluggedInQueuesNothing) {
    TrackedNode& node = createNode("hands");
    setLive("hands", true);
    KivoManager& manager = *node.manager();
    EventProbe probe;
    ASSERT_TRUE(probe.waitForConnects(1)) << "the probe hears the device is plugged in";

    EXPECT_EQ(takeQueued(), Statements{});
    EXPECT_TRUE(manager.isListening());
    EXPECT_FALSE(manager.isDisconnected());
    EXPECT_FALSE(manager.nodeWasLive());
    EXPECT_EQ(manager.owningNode(), &node);
}

TEST_F(ManagerTest, UnplugWhileLiveSwitchesTrackingOffAndReplugSwitchesItOn) {
    TrackedNode& node = createNode("hands");
    setLive("hands", true);
    KivoManager& manager = *node.manager();
    EventProbe probe;

    DeviceService::disconnect();
    ASSERT_TRUE(probe.waitForDisconnects(1));
    EXPECT_EQ(takeQueued(), (Statements{kDisconnectNotice, kDisable}));
    EXPECT_TRUE(manager.isDisconnected());
    EXPECT_TRUE(manager.nodeWasLive());

    // The handler switched tracking off meanwhile; the manager remembers it was on.
    setLive("hands", false);
    DeviceService::connect();
    ASSERT_TRUE(probe.waitForConnects(2));
    EXPECT_EQ(takeQueued(), (Statements{kConnectNotice, kEnable}));
    EXPECT_FALSE(manager.isDisconnected());
    EXPECT_TRUE(manager.nodeWasLive()) << "kept until the next disconnect";
}

TEST_F(ManagerTest, UnplugWhileNotLiveQueuesOnlyTheNotices) {
    TrackedNode& node = createNode("hands");
    KivoManager& manager = *node.manager();
    EventProbe probe;

    DeviceService::disconnect();
    ASSERT_TRUE(probe.waitForDisconnects(1));
    EXPECT_EQ(takeQueued(), Statements{kDisconnectNotice});
    EXPECT_FALSE(manager.nodeWasLive());

    DeviceService::connect();
    ASSERT_TRUE(probe.waitForConnects(2));
    EXPECT_EQ(takeQueued(), Statements{kConnectNotice});
}

TEST_F(ManagerTest, LiveStateIsSampledAtEachUnplug) {
    createNode("hands");
    EventProbe probe;

    DeviceService::disconnect();
    ASSERT_TRUE(probe.waitForDisconnects(1));
    DeviceService::connect();
    ASSERT_TRUE(probe.waitForConnects(2));
    EXPECT_EQ(takeQueued(), (Statements{kDisconnectNotice, kConnectNotice}));

    setLive("hands", true);
    DeviceService::disconnect();
    ASSERT_TRUE(probe.waitForDisconnects(2));
    DeviceService::connect();
    ASSERT_TRUE(probe.waitForConnects(3));
    EXPECT_EQ(takeQueued(), (Statements{kDisconnectNotice, kDisable, kConnectNotice, kEnable}));
}

// The service reports each change once; a repeated event reaches the manager only from a source
// that repeats itself, which is what the direct calls stand for.
TEST_F(ManagerTest, RepeatedEventsQueueTheirNoticeOnce) {
    TrackedNode& node = createNode("hands");
    setLive("hands", true);
    KivoManager& manager = *node.manager();
    EventProbe probe;

    DeviceService::disconnect();
    ASSERT_TRUE(probe.waitForDisconnects(1));
    manager.handleDisconnect(manager.getController());
    EXPECT_EQ(takeQueued(), (Statements{kDisconnectNotice, kDisable}));

    DeviceService::connect();
    ASSERT_TRUE(probe.waitForConnects(2));
    manager.handleConnect(manager.getController());
    EXPECT_EQ(takeQueued(), (Statements{kConnectNotice, kEnable}));
}

TEST_F(ManagerTest, DisconnectAfterDetachSamplesNoNode) {
    TrackedNode& node = createNode("hands");
    setLive("hands", true);
    KivoManager& manager = *node.manager();

    manager.detach();
    EXPECT_FALSE(manager.isListening());
    EXPECT_EQ(manager.owningNode(), nullptr);
    manager.detach();  // a second detach does nothing
    EXPECT_FALSE(manager.isListening());

    // Listening again, the manager hears the device go away but has no node to ask.
    EXPECT_TRUE(manager.attach());
    EventProbe probe;
    DeviceService::disconnect();
    ASSERT_TRUE(probe.waitForDisconnects(1));
    EXPECT_EQ(takeQueued(), Statements{kDisconnectNotice});
    EXPECT_TRUE(manager.isDisconnected());
    EXPECT_FALSE(manager.nodeWasLive());
}

TEST_F(ManagerTest, DetachedManagerHearsNothing) {
    TrackedNode& node = createNode("hands");
    KivoManager& manager = *node.manager();
    manager.detach();
    EventProbe probe;
    DeviceService::disconnect();
    ASSERT_TRUE(probe.waitForDisconnects(1));
    EXPECT_EQ(takeQueued(), Statements{});
    EXPECT_FALSE(manager.isDisconnected());
}

TEST_F(ManagerTest, AttachingTwiceAddsTheListenerOnce) {
    KivoManager manager(nullptr);
    EXPECT_FALSE(manager.attach());
    EXPECT_TRUE(manager.isListening());

    // The connection holds the manager exactly once.
    const Kivo::Controller& controller = manager.getController();
    EXPECT_TRUE(controller.removeListener(manager));
    EXPECT_FALSE(controller.removeListener(manager));
    manager.detach();
    EXPECT_FALSE(manager.isListening());
}

TEST_F(ManagerTest, EachManagerHasItsOwnConnection) {
    KivoManager first(nullptr);
    KivoManager second(nullptr);
    EXPECT_FALSE(first.getController() == second.getController());
    EXPECT_TRUE(first.getController().isConnected());
    DeviceService::disconnect();
    EXPECT_FALSE(second.getController().isConnected());
}

// Managers come and go on the main thread while the device flaps on another: a callback must
// never reach a manager that is being destroyed (the sanitizer builds check the memory and the
// ordering), and every queued statement is one of the manager's four.
TEST_F(ManagerTest, ManagersSurviveCallbacksRacingTheirDestruction) {
    TrackedNode& node = createNode("hands");
    setLive("hands", true);
    EventProbe probe;

    constexpr int kManagers = 300;
    std::atomic<bool> enough{false};
    std::atomic<int> rounds{0};
    std::thread device([&] {
        while (!enough || rounds < kManagers) {
            DeviceService::disconnect();
            DeviceService::connect();
            ++rounds;
        }
    });
    for (int made = 0; made < kManagers; ++made) {
        auto manager = std::make_unique<KivoManager>(&node);
        if (made % 3 == 0) {
            manager->detach();
        }
    }
    enough = true;
    device.join();
    ASSERT_TRUE(probe.waitForDisconnects(rounds));
    ASSERT_TRUE(probe.waitForConnects(rounds + 1));

    for (const std::string& statement : takeQueued()) {
        EXPECT_TRUE(statement == kConnectNotice || statement == kDisconnectNotice ||
                    statement == kEnable || statement == kDisable)
            << statement;
    }
}

}  // namespace
}  // namespace kivo_rova::testing
