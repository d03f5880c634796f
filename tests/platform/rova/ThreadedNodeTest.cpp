// Threaded device nodes: the pool between data thread and compute, the data thread's life, ticks.
#include <atomic>
#include <chrono>
#include <thread>

#include "HostFixture.h"

using rova_test::PulseNode;

namespace {
long read(const RCharBuffer& buffer) {
    return *reinterpret_cast<const long*>(buffer.ptr());
}

void push(PulseNode& node, long value) {
    RCharBuffer buffer;
    ASSERT_TRUE(node.acquireDataStorage(buffer));
    *reinterpret_cast<long*>(buffer.ptr()) = value;
    ASSERT_TRUE(node.pushThreadData(buffer));
}
}  // namespace

TEST_F(HostTest, PopReturnsTheNewestRecordAndRecyclesTheOlderOnes) {
    create("testPulse", "pulse1");
    PulseNode& node = *PulseNode::last;
    RCharBuffer empty;
    EXPECT_EQ(node.popThreadData(empty).statusCode(), RStatus::kFailure)
        << "nothing was pushed yet";

    push(node, 1);
    push(node, 2);
    push(node, 3);
    push(node, 4);  // every slot waits unread: the oldest record, 1, is reused
    RCharBuffer newest;
    ASSERT_TRUE(node.popThreadData(newest));
    EXPECT_EQ(read(newest), 4);
    RCharBuffer again;
    EXPECT_FALSE(node.popThreadData(again)) << "older records were recycled, not kept";

    RCharBuffer first, second, third;
    EXPECT_TRUE(node.acquireDataStorage(first));
    EXPECT_TRUE(node.acquireDataStorage(second));
    EXPECT_FALSE(node.acquireDataStorage(third)) << "the popped slot is still being read";
    ASSERT_TRUE(node.releaseDataStorage(newest));
    EXPECT_TRUE(node.acquireDataStorage(third));
    for (RCharBuffer* b : {&first, &second, &third}) EXPECT_TRUE(node.releaseDataStorage(*b));
}

TEST_F(HostTest, AnOldestFirstPoolHandsOutEveryRecordOnceAndRefusesBeyondItsDepth) {
    ASSERT_TRUE(host.setPoolOrder("testPulse", rova::host::PoolOrder::kOldest, 2));
    host.setThreadWaits({std::chrono::milliseconds(0), std::chrono::milliseconds(0)});
    create("testPulse", "pulse1");
    PulseNode& node = *PulseNode::last;
    push(node, 1);
    push(node, 2);
    RCharBuffer third;
    EXPECT_FALSE(node.acquireDataStorage(third)) << "two records wait unread: the depth";
    for (long expected : {1L, 2L}) {
        RCharBuffer record;
        ASSERT_TRUE(node.popThreadData(record));
        EXPECT_EQ(read(record), expected);
        ASSERT_TRUE(node.releaseDataStorage(record));
    }
    RCharBuffer none;
    EXPECT_FALSE(node.popThreadData(none));
    push(node, 3);
    ASSERT_TRUE(host.setPoolOrder("testPulse", rova::host::PoolOrder::kNewest));
    push(node, 4);
    RCharBuffer newest;
    ASSERT_TRUE(node.popThreadData(newest)) << "the order applies to existing nodes at once";
    EXPECT_EQ(read(newest), 4);
    ASSERT_TRUE(node.releaseDataStorage(newest));
    EXPECT_FALSE(host.setPoolOrder("testPulse", rova::host::PoolOrder::kOldest, 0).ok);
}

TEST_F(HostTest, ATickWaitsForEachLiveLoopToFinishAPassBeganAfterIt) {
    host.setThreadWaits({std::chrono::seconds(30), std::chrono::seconds(30)});
    create("testPulse", "pulse1");
    PulseNode& node = *PulseNode::last;
    ASSERT_TRUE(host.setPlug("pulse1.live", {"on"}));
    for (int tick = 0; tick < 20; ++tick) {
        const std::size_t before = node.passesSeen.load();
        host.tick();
        EXPECT_GE(node.passesSeen.load(), before + 1) << "tick " << tick;
        // compute pops the newest record: never older than one pushed before the read.
        const long pushedBefore = node.lastPushed.load();
        EXPECT_GE(std::stol(get("pulse1.value")), pushedBefore);
    }
    EXPECT_EQ(host.threadWaitCounts("pulse1").value.timedOut, 0u);
}

TEST_F(HostTest, PoolRefusesBuffersItDidNotHandOut) {
    create("testPulse", "pulse1");
    PulseNode& node = *PulseNode::last;
    RCharBuffer stranger;
    EXPECT_EQ(node.pushThreadData(stranger).statusCode(), RStatus::kInvalidParameter);
    EXPECT_EQ(node.releaseDataStorage(stranger).statusCode(), RStatus::kInvalidParameter);
    RCharBuffer acquired;
    ASSERT_TRUE(node.acquireDataStorage(acquired));
    RCharBuffer copy = acquired;
    ASSERT_TRUE(node.releaseDataStorage(acquired));
    EXPECT_EQ(node.releaseDataStorage(copy).statusCode(), RStatus::kInvalidParameter)
        << "released twice";
}

// Waits are long here (a missing wake-up fails the test after 30 s, by the counts); the
// counts then prove that no wait ended by timing out.
class ThreadWakeTest : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        host.setThreadWaits({std::chrono::seconds(30), std::chrono::seconds(30)});
    }
    rova::host::Host::WaitCounts counts(const std::string& node) {
        return host.threadWaitCounts(node).value;
    }
    void untilWaiting(const std::string& node) {
        ASSERT_TRUE(host.awaitThreadWait(node, std::chrono::seconds(30)));
    }
};

TEST_F(ThreadWakeTest, AwaitingAWaitSaysWhatIsMissing) {
    EXPECT_EQ(host.awaitThreadWait("nobody", std::chrono::milliseconds(0)).message,
              "no threaded device node named 'nobody'");
    create("testPulse", "pulse1");
    EXPECT_EQ(host.awaitThreadWait("pulse1", std::chrono::milliseconds(0)).message,
              "no data-thread call of 'pulse1' waited within 0 ms");
}

TEST_F(ThreadWakeTest, SetDoneWakesAnAcquireWaitingOnAFullPool) {
    create("testPulse", "pulse1");
    PulseNode& node = *PulseNode::last;
    for (long k = 0; k < 3; ++k) push(node, k);
    std::atomic<bool> acquired{true};
    std::thread waiter([&] {
        RCharBuffer buffer;
        acquired = static_cast<bool>(node.acquireDataStorage(buffer));
    });
    untilWaiting("pulse1");
    node.setDone(true);
    waiter.join();
    EXPECT_FALSE(acquired.load());
    EXPECT_EQ(counts("pulse1").timedOut, 0u);
    EXPECT_EQ(counts("pulse1").woken, 1u);
    RCharBuffer buffer;
    EXPECT_FALSE(node.acquireDataStorage(buffer)) << "a done thread gets no slot, and no wait";
    EXPECT_EQ(counts("pulse1").timedOut, 0u);
}

TEST_F(ThreadWakeTest, AFreedSlotWakesAnAcquireWaitingOnAFullPool) {
    create("testPulse", "pulse1");
    PulseNode& node = *PulseNode::last;
    for (long k = 0; k < 3; ++k) push(node, k);
    std::atomic<long> refilled{-1};
    std::thread waiter([&] {
        RCharBuffer buffer;
        if (node.acquireDataStorage(buffer)) {
            *reinterpret_cast<long*>(buffer.ptr()) = 7;
            node.pushThreadData(buffer);
            refilled = 7;
        }
    });
    untilWaiting("pulse1");
    RCharBuffer newest;
    ASSERT_TRUE(node.popThreadData(newest));
    EXPECT_EQ(read(newest), 2);
    ASSERT_TRUE(node.releaseDataStorage(newest));
    waiter.join();
    EXPECT_EQ(refilled.load(), 7);
    EXPECT_EQ(counts("pulse1").timedOut, 0u);
    EXPECT_EQ(counts("pulse1").woken, 1u);
}

TEST_F(ThreadWakeTest, StoppingALiveThreadWakesItsIdleWait) {
    create("testPulse", "pulse1");
    ASSERT_TRUE(host.setPlug("pulse1.live", {"on"}));
    untilWaiting("pulse1");  // the pool is full: the loop waits for a slot or for work
    ASSERT_TRUE(host.setPlug("pulse1.live", {"off"}));  // joins the thread
    EXPECT_EQ(counts("pulse1").timedOut, 0u);
}

// With the device's changes reported, a tick leaves alone a loop that read the newest data and
// found nothing to hand over; a reported change makes the next tick ask again (lockstep), or
// wakes the loop at once (real time).
TEST_F(ThreadWakeTest, WithChangesReportedATickPassesOverALoopThatReadTheNewestData) {
    host.setDataChangeReports(true);
    PulseNode::feed = 1;
    host.dataChanged(false);
    create("testPulse", "feed1");
    PulseNode& node = *PulseNode::last;
    node.readsFeed = true;
    ASSERT_TRUE(host.setPlug("feed1.live", {"on"}));
    host.tick();
    EXPECT_EQ(get("feed1.value"), "1") << "a loop's first nap is no reason to pass it over";
    untilWaiting("feed1");  // read 1 again, found it unchanged: napping
    const std::size_t passes = node.passesSeen.load();
    const std::uint64_t woken = counts("feed1").woken;
    for (int tick = 0; tick < 5; ++tick) host.tick();
    EXPECT_EQ(node.passesSeen.load(), passes) << "no tick asked for a pass: nothing changed";
    EXPECT_EQ(counts("feed1").woken, woken);

    PulseNode::feed = 2;
    host.dataChanged(false);  // lockstep: the next tick has the loop read it
    host.tick();
    EXPECT_EQ(get("feed1.value"), "2");

    untilWaiting("feed1");
    PulseNode::feed = 3;
    host.dataChanged(true);  // real time: the loop reads it now, before any tick
    ASSERT_TRUE(node.waitForPush(3));
    untilWaiting("feed1");
    const std::size_t afterWake = node.passesSeen.load();
    host.tick();
    EXPECT_EQ(get("feed1.value"), "3");
    EXPECT_EQ(node.passesSeen.load(), afterWake) << "the tick found the record ready";
    EXPECT_EQ(counts("feed1").timedOut, 0u);
    host.setDataChangeReports(false);
}

TEST_F(ThreadWakeTest, WithoutReportsEveryTickAsksEveryLiveLoopForAPass) {
    PulseNode::feed = 1;
    create("testPulse", "feed1");
    PulseNode& node = *PulseNode::last;
    node.readsFeed = true;
    ASSERT_TRUE(host.setPlug("feed1.live", {"on"}));
    host.tick();
    EXPECT_EQ(get("feed1.value"), "1");
    for (int tick = 0; tick < 5; ++tick) {
        const std::size_t before = node.passesSeen.load();
        host.tick();
        EXPECT_GE(node.passesSeen.load(), before + 1) << "tick " << tick;
    }
    PulseNode::feed = 2;  // unreported: the tick's own pass finds it
    host.tick();
    EXPECT_EQ(get("feed1.value"), "2");
    EXPECT_EQ(counts("feed1").timedOut, 0u);
}

TEST_F(HostTest, ALiveNodeCanBeRenamedWhileItsThreadReadsItsName) {
    create("testPulse", "pulse1");
    PulseNode& node = *PulseNode::last;
    ASSERT_TRUE(host.setPlug("pulse1.live", {"on"}));
    std::string name = "pulse1";
    for (int k = 0; k < 200; ++k) {
        const std::string next = (k % 2 ? "pulse" : "renamed") + std::to_string(k);
        ASSERT_TRUE(host.renameNode(name, next));
        name = next;
    }
    // The first tick waits for a pass that ends after the last rename; the pass the second
    // waits for reads the name after that.
    host.tick();
    host.tick();
    EXPECT_EQ(node.nameLengthSeen.load(), name.size());
    EXPECT_EQ(std::string(node.name().asChar()), name);
    ASSERT_TRUE(host.deleteNode(name));
}

TEST_F(HostTest, ANodeWithoutAPoolIsReportedOnceWhenItsThreadStarts) {
    ASSERT_TRUE(host.armFault("createMemoryPools", "pulse", 1));
    create("testPulse", "pulse1");
    EXPECT_EQ(takeStderr(), "");
    ASSERT_TRUE(host.setPlug("pulse1.live", {"on"}));
    EXPECT_EQ(takeStderr(),
              "error: node 'pulse1' has no memory pool (createMemoryPools failed for 'pulse1' "
              "(injected fault)): its data thread runs but can pass no data to compute\n");
    ASSERT_TRUE(host.setPlug("pulse1.live", {"off"}));
    ASSERT_TRUE(host.setPlug("pulse1.live", {"on"}));
    host.tick();
    EXPECT_EQ(takeStderr(), "") << "said once";
    EXPECT_EQ(get("pulse1.value"), "-1") << "nothing reaches the output";
}

TEST_F(HostTest, LiveRunsTheDataThreadAndTicksBringItsDataToTheOutputs) {
    create("testPulse", "pulse1");
    create("testAdd", "add1");
    ASSERT_TRUE(host.connect("pulse1.value", "add1.a"));
    EXPECT_EQ(get("pulse1.value"), "-1") << "no data yet: the stored value serves";
    EXPECT_TRUE(host.isDirty("pulse1.value").value);

    ASSERT_TRUE(host.setPlug("pulse1.live", {"true"}));
    EXPECT_TRUE(PulseNode::last->isLive());
    host.tick();  // waits for a pass of the loop, which pushes
    EXPECT_GT(host.getPlug("add1.sum").value.doubleValue - 2.0, 0.0)
        << "pushed data reached the downstream node";
    EXPECT_EQ(host.threadWaitCounts("pulse1").value.timedOut, 0u);

    ASSERT_TRUE(host.setPlug("pulse1.live", {"false"}));
    EXPECT_FALSE(PulseNode::last->isLive());
    EXPECT_TRUE(PulseNode::last->isDone()) << "the thread was stopped and joined";
    host.tick();
    takeEvents();
    host.tick();
    EXPECT_EQ(takeEvents(), Lines{}) << "a stopped node pushes nothing, so a tick dirties nothing";
}

TEST_F(HostTest, DeletionUnloadAndShutdownStopALiveThreadFirst) {
    for (int round = 0; round < 25; ++round) {
        create("testPulse", "pulse" + std::to_string(round));
        ASSERT_TRUE(host.setPlug("pulse" + std::to_string(round) + ".live", {"on"}));
        ASSERT_TRUE(host.setPlug("pulse" + std::to_string(round) + ".live", {"off"}));
        ASSERT_TRUE(host.setPlug("pulse" + std::to_string(round) + ".live", {"on"}));
    }
    for (int round = 0; round < 10; ++round)
        ASSERT_TRUE(host.deleteNode("pulse" + std::to_string(round)));
    EXPECT_EQ(
        host.unloadPlugin("tests", false).message,
        "cannot unload plug-in 'tests': nodes of its types exist: pulse10, pulse11, pulse12, "
        "pulse13, pulse14, "
        "pulse15, pulse16, pulse17, pulse18, pulse19, pulse20, pulse21, pulse22, pulse23, pulse24");
    ASSERT_TRUE(host.unloadPlugin("tests", true));
    EXPECT_EQ(host.nodeNames(), Lines({"sceneTime"}));
    EXPECT_TRUE(host.nodeTypeNames().empty());
}

TEST_F(HostTest, RefreshAttributesAreDirtiedOnlyForNodesThatPushed) {
    create("testPulse", "pulse1");
    create("testPulse", "pulse2");
    ASSERT_TRUE(host.setPlug("pulse1.gain", {"2"}));
    push(*PulseNode::last, 5);  // pulse2
    get("pulse2.value");
    get("pulse1.value");
    takeEvents();
    push(*PulseNode::last, 6);
    host.tick();
    EXPECT_EQ(takeEvents(), Lines({"dirty pulse2.value"}));
    EXPECT_EQ(get("pulse2.value"), "6");
    EXPECT_TRUE(host.isDirty("pulse1.value").value) << "pulse1 never had data";
}

TEST_F(HostTest, StartingTheDataThreadDiscardsRecordsOfAnEarlierRun) {
    create("testPulse", "pulse1");
    PulseNode& node = *PulseNode::last;
    for (long k = 0; k < 3; ++k) push(node, 1000 + k);  // the pool is full of stale records
    ASSERT_TRUE(host.setPlug("pulse1.live", {"true"}));
    host.tick();  // waits for a pass of the new run's loop, which pushes
    const double value = std::stod(get("pulse1.value"));
    EXPECT_GT(value, 0.0) << "the new run pushed";
    EXPECT_LT(value, 1000.0) << "the first read shows the new run's data";
}
