// A threaded device node's `live` fed through a connection: the value arrives by evaluation, not
// by a set, and the data thread must still start and stop with it.
#include <chrono>

#include "HostFixture.h"

using rova_test::PulseNode;

class ConnectedLiveTest : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        // Long waits: a tick that had to wait them out fails by the counts, not by the clock.
        host.setThreadWaits({std::chrono::seconds(30), std::chrono::seconds(30)});
    }
    void TearDown() override {
        for (const auto& name : host.nodeNames("testPulse"))
            EXPECT_EQ(host.threadWaitCounts(name).value.timedOut, 0u) << name;
        HostTest::TearDown();
    }
    // isDone is the loop's own call (it may nap): the tests ask it only of stopped nodes.
    bool runs(PulseNode& node) { return node.isLive(); }
};

TEST_F(ConnectedLiveTest, ASourceTurningOnAndOffStartsAndStopsTheThreadAtTheNextTick) {
    create("testAdd", "switch1");
    create("testPulse", "pulse1");
    PulseNode& node = *PulseNode::last;
    ASSERT_TRUE(host.connect("switch1.flag", "pulse1.live"));
    ASSERT_TRUE(host.watch("pulse1.value", true));
    host.tick();
    EXPECT_FALSE(node.isLive());

    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(host.setPlug("switch1.flag", {"on"}));
        host.tick();
        EXPECT_TRUE(runs(node)) << "round " << round;
        EXPECT_GT(std::stod(get("pulse1.value")), 0.0)
            << "the tick that started the thread waited for its first pass";

        ASSERT_TRUE(host.setPlug("switch1.flag", {"off"}));
        host.tick();
        EXPECT_FALSE(node.isLive()) << "round " << round;
        EXPECT_TRUE(node.isDone()) << "stopped and joined";
    }
    takeEvents();
    host.tick();
    for (const auto& event : takeEvents())
        EXPECT_EQ(event.rfind("dirty", 0), std::string::npos)
            << "a stopped node hands nothing over";
}

TEST_F(ConnectedLiveTest, AComputedSourceDrivesTheThreadAndReadingLiveAgreesWithTheTick) {
    create("testAdd", "add1");
    create("testPulse", "pulse1");
    PulseNode& node = *PulseNode::last;
    ASSERT_TRUE(host.setPlug("add1.a", {"-2"}));
    ASSERT_TRUE(host.connect("add1.sum", "pulse1.live"));  // a + b: 0 is off
    host.tick();
    EXPECT_FALSE(node.isLive());

    ASSERT_TRUE(host.setPlug("add1.a", {"1"}));
    EXPECT_EQ(get("pulse1.live"), "true") << "a read pulls the connection and starts the thread";
    EXPECT_TRUE(runs(node));
    host.tick();
    EXPECT_TRUE(runs(node)) << "the tick keeps the running thread";
    EXPECT_GT(std::stod(get("pulse1.value")), 0.0);

    ASSERT_TRUE(host.setPlug("add1.a", {"-2"}));
    EXPECT_TRUE(host.isDirty("pulse1.live").value);
    host.tick();
    EXPECT_FALSE(node.isLive()) << "nothing read pulse1.live: the tick did";
    EXPECT_FALSE(host.isDirty("pulse1.live").value);
    EXPECT_EQ(host.storedPlug("pulse1.live").value.boolValue, false);
}

TEST_F(ConnectedLiveTest, ConnectingAnOnSourceStartsTheThreadAndDisconnectingKeepsTheLastValue) {
    create("testAdd", "switch1");
    create("testPulse", "pulse1");
    PulseNode& node = *PulseNode::last;
    ASSERT_TRUE(host.setPlug("switch1.flag", {"on"}));
    ASSERT_TRUE(host.connect("switch1.flag", "pulse1.live"));
    host.tick();
    EXPECT_TRUE(runs(node));
    ASSERT_TRUE(host.disconnect("switch1.flag", "pulse1.live"));
    host.tick();
    EXPECT_TRUE(runs(node)) << "the destination keeps the value that came through";
    ASSERT_TRUE(host.setPlug("pulse1.live", {"off"}));
    EXPECT_FALSE(node.isLive());
    EXPECT_EQ(host.setPlug("switch1.flag", {"off"}).ok, true);
    ASSERT_TRUE(host.connect("switch1.flag", "pulse1.live"));
    EXPECT_EQ(host.setPlug("pulse1.live", {"on"}).message,
              "cannot set 'pulse1.live': it is connected from 'switch1.flag'");
    host.tick();
    EXPECT_FALSE(node.isLive());
}

// One device node's data switches another on and off: the second thread starts and stops while
// the first one runs, during the ticks that carry the first one's records.
TEST_F(ConnectedLiveTest, ADeviceNodesDataCanSwitchAnotherDeviceNode) {
    PulseNode::feed = 0;  // the loop pushes nothing until the feed changes
    create("testPulse", "source1");
    PulseNode& source = *PulseNode::last;
    source.readsFeed = true;
    create("testAdd", "add1");
    create("testPulse", "pulse2");
    PulseNode& switched = *PulseNode::last;
    ASSERT_TRUE(host.connect("source1.value", "add1.a"));
    ASSERT_TRUE(host.setPlug("add1.b", {"1"}));  // sum = value + 1: the stored -1 is off
    ASSERT_TRUE(host.connect("add1.sum", "pulse2.live"));
    ASSERT_TRUE(host.setPlug("source1.live", {"on"}));
    host.tick();
    EXPECT_FALSE(switched.isLive());

    for (int round = 0; round < 3; ++round) {
        PulseNode::feed = 5 + round;  // on
        host.tick();
        EXPECT_TRUE(runs(switched)) << "round " << round;
        PulseNode::feed = -1;  // sum 0: off
        host.tick();
        EXPECT_FALSE(switched.isLive()) << "round " << round;
        EXPECT_TRUE(runs(source));
    }
    ASSERT_TRUE(host.deleteNode("add1"));
    host.tick();
    EXPECT_FALSE(switched.isLive()) << "the connection went with add1; live keeps its last value";
}

TEST_F(ConnectedLiveTest, AFailingSourceIsReportedByTheTickAndLeavesTheThreadAsItWas) {
    create("testBroken", "broken1");
    create("testPulse", "pulse1");
    PulseNode& node = *PulseNode::last;
    ASSERT_TRUE(host.connect("broken1.throws", "pulse1.live"));
    for (int tick = 0; tick < 2; ++tick) {
        host.tick();
        EXPECT_EQ(takeStderr(), "error: compute of 'broken1.throws' threw: kaput\n")
            << "the source stays dirty, so each tick asks it again, as it does a watched plug";
        EXPECT_TRUE(node.isLive()) << "the stored value of the source, 7, came through";
    }
    ASSERT_TRUE(host.disconnect("broken1.throws", "pulse1.live"));
    host.tick();
    EXPECT_EQ(takeStderr(), "");
}
