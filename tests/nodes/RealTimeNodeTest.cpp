// The real-time clock node and its data thread, driven through scripts in the headless host.
// Wall-clock values are only compared with each other, never with fixed durations.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "RunRova.h"
#include "ScriptValues.h"

namespace {

using kivorova::testing::linesOf;
using kivorova::testing::numbersOf;
using kivorova::testing::runRovaScript;

const std::string kSetUp =
    "plugin -load kivo_rova\n"
    "create realTime -name clock\n";

// One host tick: it waits for a pass of the data thread's loop begun after it started, so the
// clock has a sample taken after everything the script did before.
const std::string kRefresh = "refresh\n";

double valueOf(const std::string& line) {
    const auto numbers = numbersOf(line);
    return numbers.size() == 1 ? numbers.front() : std::nan("");
}

TEST(RealTimeNode, ElapsedTimeGrowsAndDeltaIsTheLastStep) {
    const auto run = runRovaScript(kSetUp + "set clock.live true\n" + kRefresh +
                                   "get clock.elapsedTime\n"
                                   "get clock.deltaTime\n" +
                                   kRefresh + "get clock.elapsedTime\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto lines = linesOf(run.out);
    ASSERT_EQ(lines.size(), 4u) << run.out;
    const double first = valueOf(lines[1]);
    const double delta = valueOf(lines[2]);
    const double second = valueOf(lines[3]);
    EXPECT_GT(first, 0.0);
    EXPECT_GT(delta, 0.0);
    EXPECT_LE(delta, first);
    EXPECT_GT(second, first);
}

TEST(RealTimeNode, RateZeroGivesZero) {
    const auto run = runRovaScript(kSetUp + "set clock.rate 0\nset clock.live true\n" + kRefresh +
                                   "get clock.elapsedTime\n"
                                   "get clock.deltaTime\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "clock\n0\n0\n");
}

TEST(RealTimeNode, NegativeRateRunsTimeBackwards) {
    const auto run = runRovaScript(kSetUp + "set clock.rate -2\nset clock.live true\n" + kRefresh +
                                   "get clock.elapsedTime\n"
                                   "get clock.deltaTime\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto lines = linesOf(run.out);
    ASSERT_EQ(lines.size(), 3u) << run.out;
    EXPECT_LT(valueOf(lines[1]), 0.0);
    EXPECT_LT(valueOf(lines[2]), 0.0);
    EXPECT_GE(valueOf(lines[2]), valueOf(lines[1]));
}

TEST(RealTimeNode, RateScalesTheWholeElapsedTime) {
    const auto run = runRovaScript(kSetUp + "set clock.live true\n" + kRefresh +
                                   "get clock.elapsedTime\n" + kRefresh +
                                   "get clock.elapsedTime\n"
                                   "set clock.rate 10\n" +
                                   kRefresh + "get clock.elapsedTime\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto lines = linesOf(run.out);
    ASSERT_EQ(lines.size(), 4u) << run.out;
    // Ten times the rate outweighs whatever time passed between the two reads.
    EXPECT_GT(valueOf(lines[3]), 5.0 * valueOf(lines[2]));
}

TEST(RealTimeNode, WithoutSamplesComputeFailsAndOutputsKeepTheirValues) {
    // A failed evaluation leaves the plug dirty, so every read asks the node again. Tracing
    // stays on through the host's exit.
    const auto run = runRovaScript(kSetUp +
                                   "trace on -compute\n"
                                   "get clock.elapsedTime\n"
                                   "get clock.elapsedTime\n"
                                   "get clock.deltaTime\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              "clock\n"
              "trace: compute clock.elapsedTime\n0\n"
              "trace: compute clock.elapsedTime\n0\n"
              "trace: compute clock.deltaTime\n0\n");
}

TEST(RealTimeNode, OneSampleServesBothOutputs) {
    const auto run = runRovaScript(kSetUp + "set clock.live true\n" + kRefresh +
                                   "set clock.live false\n"
                                   "trace on -compute\n"
                                   "get clock.elapsedTime\n"
                                   "get clock.deltaTime\n"
                                   "get clock.elapsedTime\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto lines = linesOf(run.out);
    ASSERT_EQ(lines.size(), 5u) << run.out;
    EXPECT_EQ(lines[1], "trace: compute clock.elapsedTime");
    // The evaluation for elapsedTime set deltaTime too: no second evaluation.
    EXPECT_GT(valueOf(lines[2]), 0.0);
    EXPECT_GT(valueOf(lines[3]), 0.0);
    EXPECT_EQ(lines[4], lines[2]);
}

TEST(RealTimeNode, RestartingTheThreadRestartsTheClock) {
    // A run's first record alone has a step as long as its elapsed time. With the pool read oldest
    // first, the first run leaves records unread when it stops; they are dropped when the thread
    // starts again, so the first read after the restart shows the new run's first record.
    const auto run = runRovaScript(kSetUp +
                                   "pool -type realTime -order oldest\n"
                                   "set clock.live true\n" +
                                   kRefresh +
                                   "get clock.elapsedTime\n"
                                   "get clock.deltaTime\n" +
                                   kRefresh +
                                   "set clock.live false\n"
                                   "set clock.live true\n" +
                                   kRefresh +
                                   "get clock.elapsedTime\n"
                                   "get clock.deltaTime\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto lines = linesOf(run.out);
    ASSERT_EQ(lines.size(), 5u) << run.out;
    EXPECT_GT(valueOf(lines[1]), 0.0);
    EXPECT_EQ(lines[2], lines[1]) << "the first run's first record";
    EXPECT_GT(valueOf(lines[3]), 0.0);
    EXPECT_EQ(lines[4], lines[3]) << "the new run's first record, not one the first run left";
}

// Requests for plugs the node does not compute answer 5 and pop nothing: the next read of
// elapsedTime still finds the record the data thread left.
TEST(RealTimeNode, RequestsForInputsAnswerFiveAndPopNothing) {
    const auto run = runRovaScript(kSetUp + "set clock.live true\n" + kRefresh +
                                   "set clock.live false\n"
                                   "evaluate clock.rate\n"
                                   "evaluate clock.live\n"
                                   "evaluate clock.frameRate\n"
                                   "trace on -compute\n"
                                   "get clock.elapsedTime\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto lines = linesOf(run.out);
    ASSERT_EQ(lines.size(), 6u) << run.out;
    EXPECT_EQ(lines[1], "evaluate: clock.rate: status 5, stored value kept: 1");
    EXPECT_EQ(lines[2], "evaluate: clock.live: status 5, stored value kept: false");
    EXPECT_EQ(lines[3], "evaluate: clock.frameRate: status 5, stored value kept: 30");
    EXPECT_EQ(lines[4], "trace: compute clock.elapsedTime");
    EXPECT_GT(valueOf(lines[5]), 0.0) << "a fresh record was still there";
}

}  // namespace
