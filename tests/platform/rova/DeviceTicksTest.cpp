// What host ticks make of the records a threaded device node's data thread hands over between
// them: how many notices they give, which records the outputs show and in what order, and what
// they count as a change of the scene, with the device read in lockstep or in real time.
#include <chrono>
#include <initializer_list>
#include <thread>

#include "HostFixture.h"

using rova_test::PulseNode;

namespace {
// Pushes the values on a thread of their own, as a data thread does, and returns once they are
// all handed over.
void pushFromThread(PulseNode& node, std::initializer_list<long> values) {
    std::thread producer([&node, values] {
        for (const long value : values) {
            RCharBuffer buffer;
            if (!node.acquireDataStorage(buffer))
                return;
            *reinterpret_cast<long*>(buffer.ptr()) = value;
            node.pushThreadData(buffer);
        }
    });
    producer.join();
}

Lines onlyDirty(const Lines& events) {
    Lines dirty;
    for (const auto& line : events)
        if (line.rfind("dirty ", 0) == 0)
            dirty.push_back(line);
    return dirty;
}
}  // namespace

class DeviceTicksTest : public HostTest {
  protected:
    void TearDown() override {
        // The pool order outlives the host's shutdown: the next test starts with the default.
        EXPECT_TRUE(host.setPoolOrder("testPulse", rova::host::PoolOrder::kNewest));
        HostTest::TearDown();
    }
    // A node whose output shows a first record, 0, and is clean: what comes next is news.
    PulseNode* makePulse(const std::string& name) {
        create("testPulse", name);
        PulseNode* node = PulseNode::last;
        pushFromThread(*node, {0});
        EXPECT_EQ(get(name + ".value"), "0");
        takeEvents();
        return node;
    }
    std::string stored(const std::string& plug) {
        return rova::host::formatValue(host.storedPlug(plug).value);
    }
};

TEST_F(DeviceTicksTest, RecordsPushedBetweenTwoTicksMakeOneNoticeAndTheNewestShows) {
    PulseNode& node = *makePulse("pulse1");
    create("testAdd", "add1");
    ASSERT_TRUE(host.connect("pulse1.value", "add1.a"));
    get("add1.sum");
    takeEvents();
    const auto before = host.sceneChanges();

    pushFromThread(node, {1, 2, 3});
    EXPECT_EQ(takeEvents(), Lines{}) << "records wait for a tick";
    EXPECT_EQ(host.sceneChanges(), before);
    EXPECT_EQ(get("add1.sum"), "2") << "nothing downstream changed before the tick";

    host.tick();
    EXPECT_EQ(takeEvents(), Lines({"dirty pulse1.value", "dirty add1.a", "dirty add1.sum"}))
        << "three records, one notice for each plug they reach";
    EXPECT_GT(host.sceneChanges(), before);
    EXPECT_EQ(get("add1.sum"), "5") << "the newest record, 3, plus b";

    const auto shown = host.sceneChanges();
    takeEvents();
    host.tick();
    EXPECT_EQ(takeEvents(), Lines{}) << "nothing new came";
    EXPECT_EQ(host.sceneChanges(), shown);
}

TEST_F(DeviceTicksTest, AnOldestFirstPoolShowsEveryRecordInOrderOnTicksOfTheirOwn) {
    ASSERT_TRUE(host.setPoolOrder("testPulse", rova::host::PoolOrder::kOldest, 3));
    PulseNode& node = *makePulse("pulse1");
    ASSERT_TRUE(host.watch("pulse1.value", true));
    pushFromThread(node, {10, 20, 30});
    for (const char* expected : {"10", "20", "30"}) {
        takeEvents();
        const auto before = host.sceneChanges();
        host.tick();
        EXPECT_EQ(onlyDirty(takeEvents()), Lines({"dirty pulse1.value"})) << expected;
        EXPECT_EQ(stored("pulse1.value"), expected) << "the watched plug read one record";
        EXPECT_FALSE(host.isDirty("pulse1.value").value);
        EXPECT_GT(host.sceneChanges(), before);
    }
    const auto last = host.sceneChanges();
    takeEvents();
    host.tick();
    EXPECT_EQ(takeEvents(), Lines{}) << "every record was shown";
    EXPECT_EQ(host.sceneChanges(), last);
    EXPECT_EQ(get("pulse1.value"), "30");
}

TEST_F(DeviceTicksTest, RecordsWaitingUnreadKeepTheRefreshPlugDirtyOverTicks) {
    ASSERT_TRUE(host.setPoolOrder("testPulse", rova::host::PoolOrder::kOldest, 3));
    PulseNode& node = *makePulse("pulse1");
    pushFromThread(node, {1, 2});
    host.tick();
    EXPECT_EQ(takeEvents(), Lines({"dirty pulse1.value"}));
    for (int tick = 0; tick < 3; ++tick) {
        host.tick();
        EXPECT_EQ(onlyDirty(takeEvents()), Lines{}) << "already dirty: no second notice";
        EXPECT_TRUE(host.isDirty("pulse1.value").value) << "tick " << tick;
    }
    EXPECT_EQ(get("pulse1.value"), "1") << "no record was lost while nobody read";
    EXPECT_EQ(get("pulse1.value"), "1") << "a clean plug does not take the next record";
    takeEvents();
    host.tick();
    EXPECT_EQ(takeEvents(), Lines({"dirty pulse1.value"})) << "one record still waits";
    EXPECT_EQ(get("pulse1.value"), "2");
    host.tick();
    EXPECT_FALSE(host.isDirty("pulse1.value").value) << "nothing waits any more";
}

// A record a read took between ticks (the plug was dirty, so the read popped the newest record)
// is on the outputs already: the tick after it has nothing to tell.
TEST_F(DeviceTicksTest, ARecordReadBetweenTicksIsNotReportedAgain) {
    PulseNode& node = *makePulse("pulse1");
    pushFromThread(node, {1});
    host.tick();
    pushFromThread(node, {2});
    EXPECT_EQ(get("pulse1.value"), "2") << "the dirty plug read the newest record";
    takeEvents();
    const auto before = host.sceneChanges();
    host.tick();
    EXPECT_EQ(takeEvents(), Lines{});
    EXPECT_EQ(host.sceneChanges(), before) << "nothing the scene shows changed";
    EXPECT_FALSE(host.isDirty("pulse1.value").value);
    EXPECT_EQ(get("pulse1.value"), "2");
}

// An unread record is news once: the ticks after the one that told of it change nothing, so a
// scene that nobody reads from stays still once the device does.
TEST_F(DeviceTicksTest, ARecordNobodyReadsIsToldOfOnce) {
    PulseNode& node = *makePulse("pulse1");
    create("testAdd", "add1");
    ASSERT_TRUE(host.connect("pulse1.value", "add1.a"));
    get("add1.sum");
    pushFromThread(node, {1});
    auto before = host.sceneChanges();
    host.tick();
    EXPECT_GT(host.sceneChanges(), before);
    for (int tick = 0; tick < 3; ++tick) {
        before = host.sceneChanges();
        host.tick();
        EXPECT_EQ(host.sceneChanges(), before) << "tick " << tick;
    }
    takeEvents();
    pushFromThread(node, {2});
    before = host.sceneChanges();
    host.tick();
    EXPECT_GT(host.sceneChanges(), before) << "a newer record is news again";
    EXPECT_EQ(get("add1.sum"), "4");

    // A failed read leaves the refresh plug dirty under a clean destination: a new record must
    // reach the destination still.
    create("testPulse", "pulse2");
    PulseNode& bare = *PulseNode::last;  // nothing pushed: its compute fails
    ASSERT_TRUE(host.connect("pulse2.value", "add1.b"));
    EXPECT_EQ(get("add1.sum"), "1") << "2 + the stored -1";
    EXPECT_TRUE(host.isDirty("pulse2.value").value);
    EXPECT_FALSE(host.isDirty("add1.sum").value);
    pushFromThread(bare, {7});
    host.tick();
    EXPECT_TRUE(host.isDirty("add1.sum").value);
    EXPECT_EQ(get("add1.sum"), "9");
}

TEST_F(DeviceTicksTest, EachNodeIsToldOnlyOfItsOwnRecords) {
    PulseNode& first = *makePulse("pulse1");
    PulseNode& second = *makePulse("pulse2");
    pushFromThread(first, {4});
    host.tick();
    EXPECT_EQ(get("pulse1.value"), "4");
    EXPECT_EQ(get("pulse2.value"), "0");
    takeEvents();
    pushFromThread(second, {5, 6});
    host.tick();
    EXPECT_EQ(takeEvents(), Lines({"dirty pulse2.value"}));
    EXPECT_EQ(get("pulse2.value"), "6");
    EXPECT_EQ(get("pulse1.value"), "4");
}

// A live loop that reads a device (PulseNode's feed) with every change of the device reported.
// In real time each reported change wakes the loop, which hands over what it read before the next
// tick; in lockstep only a tick has the loop read, so the frames of one interval come as one. The
// scene changes at the ticks that show something new, never at a push. Waits are long: the counts
// prove that wake-ups, not timeouts, ended them.
class ChangeReportsTest : public DeviceTicksTest {
  protected:
    void SetUp() override {
        DeviceTicksTest::SetUp();
        host.setThreadWaits({std::chrono::seconds(30), std::chrono::seconds(30)});
        host.setDataChangeReports(true);
        ASSERT_TRUE(host.setPoolOrder("testPulse", rova::host::PoolOrder::kOldest, 3));
        PulseNode::feed = 1;
        host.dataChanged(false);
        node = makePulse("feed1");
        node->readsFeed = true;
        ASSERT_TRUE(host.watch("feed1.value", true));
        ASSERT_TRUE(host.setPlug("feed1.live", {"on"}));
        host.tick();
        ASSERT_EQ(stored("feed1.value"), "1");
    }
    void TearDown() override {
        EXPECT_EQ(host.threadWaitCounts("feed1").value.timedOut, 0u);
        host.setDataChangeReports(false);
        DeviceTicksTest::TearDown();
    }
    // The device shows a new frame and says so.
    void frame(long value, bool realTime) {
        PulseNode::feed = value;
        host.dataChanged(realTime);
    }
    // The values the watched output shows on the next ticks, and whether each tick changed the
    // scene.
    Lines shownOnTicks(int ticks) {
        Lines shown;
        for (int tick = 0; tick < ticks; ++tick) {
            const auto before = host.sceneChanges();
            host.tick();
            shown.push_back(stored("feed1.value") +
                            (host.sceneChanges() == before ? " unchanged" : " changed"));
        }
        return shown;
    }
    PulseNode* node = nullptr;
};

TEST_F(ChangeReportsTest, InRealTimeEveryFrameIsReadAsItComesAndShownOnATickOfItsOwn) {
    const auto before = host.sceneChanges();
    for (const long value : {2L, 3L}) {
        frame(value, true);
        ASSERT_TRUE(node->waitForPush(value)) << "the report woke the loop";
    }
    EXPECT_EQ(host.sceneChanges(), before) << "handed over, not shown yet";
    EXPECT_EQ(stored("feed1.value"), "1");
    EXPECT_EQ(shownOnTicks(3), Lines({"2 changed", "3 changed", "3 unchanged"}));
}

TEST_F(ChangeReportsTest, InLockstepTheFramesOfOneIntervalComeAsOne) {
    const std::size_t passes = node->passesSeen.load();
    frame(2, false);
    frame(3, false);
    EXPECT_EQ(node->lastPushed.load(), 1) << "no loop reads before the tick";
    EXPECT_EQ(node->passesSeen.load(), passes);
    EXPECT_EQ(shownOnTicks(2), Lines({"3 changed", "3 unchanged"}))
        << "the tick's pass read the device as it is then: frame 2 was never read";
    frame(4, false);
    EXPECT_EQ(shownOnTicks(2), Lines({"4 changed", "4 unchanged"}));
}

TEST_F(ChangeReportsTest, TicksWithoutAReportedChangeLeaveTheLoopAndTheSceneAlone) {
    ASSERT_TRUE(host.awaitThreadWait("feed1", std::chrono::seconds(30)));  // napping
    const std::size_t passes = node->passesSeen.load();
    EXPECT_EQ(shownOnTicks(3), Lines({"1 unchanged", "1 unchanged", "1 unchanged"}));
    EXPECT_EQ(node->passesSeen.load(), passes) << "no tick asked the loop for a pass";
    frame(1, false);  // reported, though the device shows what it showed
    EXPECT_EQ(shownOnTicks(1), Lines({"1 unchanged"}))
        << "the loop read again and found nothing to hand over";
    EXPECT_GT(node->passesSeen.load(), passes);
}
