// A threaded device node's memory pool used wrongly: every call a plug-in can get wrong answers
// with a status that names the call, the node and the reason, and the pool stays sound, so the
// node's own, correct use of it goes on working.
#include <chrono>
#include <string>

#include "HostFixture.h"

using rova_test::PulseNode;

namespace {
std::string message(const RStatus& status) {
    return status.errorString().asChar();
}

// The call's status code and message in one line, for comparing at once.
std::string outcome(const RStatus& status) {
    return std::to_string(static_cast<int>(status.statusCode())) + " " + message(status);
}

RCharBuffer acquired(PulseNode& node) {
    RCharBuffer buffer;
    EXPECT_TRUE(node.acquireDataStorage(buffer));
    return buffer;
}

void put(PulseNode& node, RCharBuffer& buffer, long value) {
    ASSERT_NE(buffer.ptr(), nullptr);
    *reinterpret_cast<long*>(buffer.ptr()) = value;
    ASSERT_TRUE(node.pushThreadData(buffer));
}

// Pops the newest record, hands its slot back and returns its value; -1 when nothing waits.
long take(PulseNode& node) {
    RCharBuffer buffer;
    if (!node.popThreadData(buffer))
        return -1;
    const long value = *reinterpret_cast<const long*>(buffer.ptr());
    EXPECT_TRUE(node.releaseDataStorage(buffer));
    return value;
}

// Every slot can be taken and handed back: nothing is held or lost.
void expectWholePool(PulseNode& node, unsigned slots) {
    std::vector<RCharBuffer> all(slots);
    for (auto& buffer : all) ASSERT_TRUE(node.acquireDataStorage(buffer));
    RCharBuffer extra;
    EXPECT_FALSE(node.acquireDataStorage(extra)) << "more slots than the pool has";
    for (auto& buffer : all) EXPECT_TRUE(node.releaseDataStorage(buffer));
}

const int kInvalid = static_cast<int>(RStatus::kInvalidParameter);
const int kFailure = static_cast<int>(RStatus::kFailure);
}  // namespace

class PoolMisuseTest : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        // No waits: a call that finds no slot answers at once.
        host.setThreadWaits({std::chrono::milliseconds(0), std::chrono::milliseconds(0)});
    }
    PulseNode& pulse(const std::string& name) {
        create("testPulse", name);
        return *PulseNode::last;
    }
};

TEST_F(PoolMisuseTest, WithoutAPoolEveryCallSaysWhatIsMissingUntilOneIsMade) {
    ASSERT_TRUE(host.armFault("createMemoryPools", "pulse", 1));
    PulseNode& node = pulse("pulse1");
    RCharBuffer buffer;
    EXPECT_EQ(outcome(node.acquireDataStorage(buffer)),
              std::to_string(kFailure) + " acquireDataStorage: node 'pulse1' has no memory pool");
    EXPECT_EQ(buffer.ptr(), nullptr);
    EXPECT_EQ(outcome(node.pushThreadData(buffer)),
              std::to_string(kInvalid) +
                  " pushThreadData: the buffer was not acquired from this node's pool");
    EXPECT_EQ(outcome(node.popThreadData(buffer)),
              std::to_string(kFailure) + " popThreadData: nothing was pushed");
    EXPECT_EQ(outcome(node.releaseDataStorage(buffer)),
              std::to_string(kInvalid) +
                  " releaseDataStorage: the buffer does not hold a slot of this node's pool");

    ASSERT_TRUE(node.createMemoryPools(2, 1, sizeof(long))) << "a pool may come late";
    RCharBuffer late = acquired(node);
    put(node, late, 9);
    EXPECT_EQ(take(node), 9);
    expectWholePool(node, 2);
}

TEST_F(PoolMisuseTest, CallsBeforeTheNodeIsAttachedSaySo) {
    PulseNode stray;  // made by hand, as a plug-in constructor would run: the host knows nothing
    RCharBuffer buffer;
    const std::string when =
        ": the node is not attached to the host yet (call it from "
        "postConstructor on)";
    EXPECT_EQ(message(stray.createMemoryPools(2, 1, 8)), "createMemoryPools" + when);
    EXPECT_EQ(message(stray.acquireDataStorage(buffer)), "acquireDataStorage" + when);
    EXPECT_EQ(message(stray.pushThreadData(buffer)), "pushThreadData" + when);
    EXPECT_EQ(message(stray.popThreadData(buffer)), "popThreadData" + when);
    EXPECT_EQ(message(stray.releaseDataStorage(buffer)), "releaseDataStorage" + when);
    RObjectArray none;
    EXPECT_EQ(message(stray.setRefreshOutputAttributes(none)), "setRefreshOutputAttributes" + when);
    EXPECT_EQ(message(stray.beginThreadLoop()), "beginThreadLoop" + when);
    EXPECT_EQ(message(stray.endThreadLoop()), "endThreadLoop" + when);
    EXPECT_TRUE(stray.isDone()) << "a loop without a host ends at once";
    EXPECT_FALSE(stray.isLive());
    stray.destroyMemoryPools();
}

TEST_F(PoolMisuseTest, SizesOutsideThePoolsLimitsAreRefusedAndTheEarlierPoolKept) {
    PulseNode& node = pulse("pulse1");
    struct Asked {
        unsigned slots, buffers;
        std::size_t bytes;
        const char* said;
    };
    const Asked refused[] = {
        {0, 4, 8, "0 slots of 8 bytes"},
        {4, 0, 8, "0 slots of 8 bytes"},
        {4, 1, 0, "4 slots of 0 bytes"},
        {65537, 1, 8, "65537 slots of 8 bytes"},
        {256, 257, 8, "65792 slots of 8 bytes"},
        {65536, 65536, 8, "4294967296 slots of 8 bytes"},
        {1, 1, (std::size_t{1} << 26) + 1, "1 slots of 67108865 bytes"},
        // Each within its own limit, together far beyond what a pool may hold.
        {65536, 1, std::size_t{1} << 26, "65536 slots of 67108864 bytes"},
        {1024, 1, std::size_t{1} << 21, "1024 slots of 2097152 bytes"},
    };
    for (const Asked& asked : refused) {
        const RStatus status = node.createMemoryPools(asked.slots, asked.buffers, asked.bytes);
        EXPECT_EQ(status.statusCode(), RStatus::kInvalidParameter) << asked.said;
        EXPECT_EQ(message(status), std::string("createMemoryPools: node 'pulse1' asked for ") +
                                       asked.said +
                                       " (at most 65536 slots of at most 64 MiB, 1 GiB in all)");
        RCharBuffer buffer = acquired(node);
        EXPECT_EQ(buffer.size(), sizeof(long)) << "the earlier pool serves on";
        put(node, buffer, 3);
        EXPECT_EQ(take(node), 3);
    }
    EXPECT_TRUE(node.createMemoryPools(3, 1, sizeof(long)));
    expectWholePool(node, 3);
}

TEST_F(PoolMisuseTest, APoolIsMadeAgainOnlyWhileNoSlotIsHeld) {
    PulseNode& node = pulse("pulse1");
    RCharBuffer queued = acquired(node);
    put(node, queued, 1);
    ASSERT_TRUE(node.createMemoryPools(4, 2, 2 * sizeof(long))) << "a queued record holds nothing";
    EXPECT_EQ(take(node), -1) << "the new pool starts empty";
    RCharBuffer wider = acquired(node);
    EXPECT_EQ(wider.size(), 2 * sizeof(long));

    const std::string inUse =
        std::to_string(kFailure) + " createMemoryPools: a slot of node 'pulse1' is still in use";
    EXPECT_EQ(outcome(node.createMemoryPools(3, 1, sizeof(long))), inUse) << "one being filled";
    put(node, wider, 5);  // the held slot is still the pool's
    RCharBuffer reading;
    ASSERT_TRUE(node.popThreadData(reading));
    EXPECT_EQ(outcome(node.createMemoryPools(3, 1, sizeof(long))), inUse) << "one being read";
    EXPECT_EQ(*reinterpret_cast<const long*>(reading.ptr()), 5);
    ASSERT_TRUE(node.releaseDataStorage(reading));
    EXPECT_TRUE(node.createMemoryPools(3, 1, sizeof(long)));
    expectWholePool(node, 3);
}

TEST_F(PoolMisuseTest, ABufferOfAnotherNodesPoolIsRefused) {
    PulseNode& first = pulse("pulse1");
    PulseNode& second = pulse("pulse2");
    // Both pools hand out their first slot: the same slot number in two pools.
    RCharBuffer mine = acquired(first);
    RCharBuffer theirs = acquired(second);
    EXPECT_EQ(outcome(second.pushThreadData(mine)),
              std::to_string(kInvalid) +
                  " pushThreadData: the buffer was not acquired from this node's pool");
    EXPECT_EQ(outcome(second.releaseDataStorage(mine)),
              std::to_string(kInvalid) +
                  " releaseDataStorage: the buffer does not hold a slot of this node's pool");
    EXPECT_NE(mine.ptr(), nullptr) << "a refused buffer stays with its holder";

    put(second, theirs, 22);
    put(first, mine, 11);
    EXPECT_EQ(take(first), 11);
    EXPECT_EQ(take(second), 22);
    expectWholePool(first, 3);
    expectWholePool(second, 3);
}

TEST_F(PoolMisuseTest, ASlotIsTakenBackOnlyOnceAndOnlyInTheStateItWasHandedOutIn) {
    PulseNode& node = pulse("pulse1");
    const std::string notAcquired =
        std::to_string(kInvalid) +
        " pushThreadData: the buffer was not acquired from this node's pool";
    const std::string notHeld =
        std::to_string(kInvalid) +
        " releaseDataStorage: the buffer does not hold a slot of this node's pool";

    RCharBuffer buffer = acquired(node);
    const RCharBuffer copy = buffer;
    put(node, buffer, 1);
    EXPECT_EQ(buffer.ptr(), nullptr) << "a pushed buffer is handed over";
    RCharBuffer again = copy;
    EXPECT_EQ(outcome(node.pushThreadData(again)), notAcquired) << "pushed twice";
    EXPECT_EQ(outcome(node.releaseDataStorage(again)), notHeld) << "queued, not held";

    RCharBuffer reading;
    ASSERT_TRUE(node.popThreadData(reading));
    RCharBuffer readCopy = reading;
    EXPECT_EQ(outcome(node.pushThreadData(readCopy)), notAcquired) << "a record being read";
    ASSERT_TRUE(node.releaseDataStorage(reading));
    EXPECT_EQ(reading.ptr(), nullptr);
    EXPECT_EQ(outcome(node.releaseDataStorage(readCopy)), notHeld) << "released twice";

    RCharBuffer dropped = acquired(node);
    RCharBuffer droppedCopy = dropped;
    ASSERT_TRUE(node.releaseDataStorage(dropped)) << "a filled slot may be given up unpushed";
    EXPECT_EQ(outcome(node.pushThreadData(droppedCopy)), notAcquired) << "pushed after release";
    EXPECT_EQ(take(node), -1) << "nothing was queued by the refused calls";
    expectWholePool(node, 3);
}

TEST_F(PoolMisuseTest, AFullPoolAndAStoppingLoopAreNamed) {
    PulseNode& node = pulse("pulse1");
    RCharBuffer held[3];
    for (auto& buffer : held) ASSERT_TRUE(node.acquireDataStorage(buffer));
    RCharBuffer none;
    EXPECT_EQ(
        outcome(node.acquireDataStorage(none)),
        std::to_string(kFailure) + " acquireDataStorage: no free slot in the pool of node 'pulse1'")
        << "every slot is held, none queued to reuse";
    for (auto& buffer : held) ASSERT_TRUE(node.releaseDataStorage(buffer));

    node.setDone(true);
    EXPECT_EQ(outcome(node.acquireDataStorage(none)),
              std::to_string(kFailure) +
                  " acquireDataStorage: the data thread of node 'pulse1' is stopping");
    node.setDone(false);
    expectWholePool(node, 3);
}

TEST_F(PoolMisuseTest, DestroyingThePoolWhileASlotIsHeldKeepsItAndSaysWhy) {
    PulseNode& node = pulse("pulse1");
    RCharBuffer filling = acquired(node);
    node.destroyMemoryPools();
    EXPECT_EQ(takeStderr(),
              "error: destroyMemoryPools: node 'pulse1' keeps its pool: 1 slot is still held "
              "(acquired and not pushed, or popped and not released)\n");
    put(node, filling, 8);  // the slot and its bytes are still there
    RCharBuffer reading;
    ASSERT_TRUE(node.popThreadData(reading));
    node.destroyMemoryPools();
    EXPECT_NE(takeStderr(), "") << "a record being read holds its slot too";
    EXPECT_EQ(*reinterpret_cast<const long*>(reading.ptr()), 8);
    ASSERT_TRUE(node.releaseDataStorage(reading));

    node.destroyMemoryPools();
    EXPECT_EQ(takeStderr(), "");
    RCharBuffer after;
    EXPECT_EQ(message(node.acquireDataStorage(after)),
              "acquireDataStorage: node 'pulse1' has no memory pool");
    node.destroyMemoryPools();  // twice is harmless
    ASSERT_TRUE(node.createMemoryPools(2, 1, sizeof(long)));
    expectWholePool(node, 2);
}

// A loop that stops while it holds a slot it never pushed leaves the pool whole: the node can be
// deleted (its destructor destroys the pool) without a word about held slots.
TEST_F(PoolMisuseTest, ASlotTheStoppedLoopStillHeldGoesBackToThePool) {
    host.setThreadWaits({std::chrono::seconds(30), std::chrono::seconds(30)});
    PulseNode& node = pulse("pulse1");
    node.keepsLastSlot = true;
    ASSERT_TRUE(host.setPlug("pulse1.live", {"on"}));
    host.tick();
    ASSERT_TRUE(host.setPlug("pulse1.live", {"off"}));
    EXPECT_TRUE(node.createMemoryPools(3, 1, sizeof(long))) << "no slot is held any more";
    ASSERT_TRUE(node.createMemoryPools(3, 1, sizeof(long)));
    ASSERT_TRUE(host.setPlug("pulse1.live", {"on"}));
    host.tick();
    ASSERT_TRUE(host.deleteNode("pulse1"));  // stops the loop, then destroys the pool
}
