// The time-rotate node driven through scripts in the headless host.
#include <gtest/gtest.h>

#include <string>

#include "RunRova.h"
#include "ScriptValues.h"

namespace {

using kivorova::testing::linesOf;
using kivorova::testing::runRovaScript;

const std::string kSetUp =
    "plugin -load kivo_rova\n"
    "create timeRotate -name spin\n";

TEST(TimeRotateNode, DefaultsTurnTenUnitsPerSecondAboutY) {
    const auto run = runRovaScript(kSetUp +
                                   "get spin.outputRotate\n"
                                   "set spin.time 2\n"
                                   "get spin.outputRotate\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "spin\n0 0 0\n0 20 0\n");
}

TEST(TimeRotateNode, EachComponentAdvancesByAxisTimesTimeTimesScale) {
    const auto run = runRovaScript(kSetUp +
                                   "set spin.axis 1 2 0\n"
                                   "set spin.scale 1\n"
                                   "set spin.time 3\n"
                                   "set spin.initialRotate 5 5 5\n"
                                   "get spin.outputRotate\n"
                                   "set spin.axis 0 0 -0.5\n"
                                   "get spin.outputRotate\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "spin\n8 11 5\n5 5 3.5\n");
}

TEST(TimeRotateNode, TimeZeroGivesTheInitialRotation) {
    const auto run = runRovaScript(kSetUp +
                                   "set spin.axis 3 4 5\n"
                                   "set spin.initialRotate 1.5 -2 7\n"
                                   "set spin.time 0\n"
                                   "get spin.outputRotate\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "spin\n1.5 -2 7\n");
}

TEST(TimeRotateNode, ScaleZeroFreezesTheRotation) {
    const auto run = runRovaScript(kSetUp +
                                   "set spin.scale 0\n"
                                   "set spin.initialRotate 10 20 30\n"
                                   "set spin.time 1\n"
                                   "get spin.outputRotate\n"
                                   "set spin.time 1000\n"
                                   "get spin.outputRotate\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "spin\n10 20 30\n10 20 30\n");
}

TEST(TimeRotateNode, FollowsTheSceneTimeWhenConnected) {
    const auto run = runRovaScript(kSetUp +
                                   "connect sceneTime.time spin.time\n"
                                   "time -seconds 0.5\n"
                                   "get spin.outputRotate\n"
                                   "time -seconds 1.5\n"
                                   "get spin.outputRotate\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto lines = linesOf(run.out);
    ASSERT_GE(lines.size(), 2u) << run.out;
    EXPECT_EQ(lines[lines.size() - 2], "0 5 0");
    EXPECT_EQ(lines.back(), "0 15 0");
}

TEST(TimeRotateNode, OutputIsNotWritable) {
    const auto run = runRovaScript(kSetUp + "set spin.outputRotate 1 2 3\n");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("spin.outputRotate"), std::string::npos) << run.err;
}

// The host's `evaluate` asks the node for plugs it does not compute: it answers 5, and neither
// the stored values nor the output's state change.
TEST(TimeRotateNode, RequestsForInputsAnswerFiveAndChangeNothing) {
    const auto run = runRovaScript(kSetUp +
                                   "set spin.time 2\n"
                                   "get spin.outputRotate\n"
                                   "trace on -compute -dirty\n"
                                   "evaluate spin.time\n"
                                   "evaluate spin.scale\n"
                                   "evaluate spin.axis\n"
                                   "evaluate spin.initialRotate\n"
                                   "get spin.outputRotate\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              "spin\n0 20 0\n"
              "trace: compute spin.time\n"
              "evaluate: spin.time: status 5, stored value kept: 2\n"
              "trace: compute spin.scale\n"
              "evaluate: spin.scale: status 5, stored value kept: 10\n"
              "trace: compute spin.axis\n"
              "evaluate: spin.axis: status 5, stored value kept: 0 1 0\n"
              "trace: compute spin.initialRotate\n"
              "evaluate: spin.initialRotate: status 5, stored value kept: 0 0 0\n"
              "0 20 0\n");
    EXPECT_EQ(run.err.find("error"), std::string::npos) << run.err;
}

}  // namespace
