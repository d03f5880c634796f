// The time-rotate node driven through scripts in the headless host.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RunRova.h"
#include "ScriptValues.h"

namespace {

using kivorova::testing::linesOf;
using kivorova::testing::runRovaScript;

const std::string kSetUp =
    "plugin -load kivo_rova\n"
    "create timeRotate -name spin\n";

// outputRotate = initialRotate + axis * time * scale, each case on a node of its own, in one run.
struct Formula {
    std::string name;
    std::string settings;  // statements on node N before its output is read
    std::string expected;  // outputRotate
};

TEST(TimeRotateNode, OutputIsInitialRotatePlusAxisTimesTimeTimesScale) {
    const std::vector<Formula> cases = {
        {"defaults turn ten units a second about Y", "set N.time 2", "0 20 0"},
        {"each component on its own",
         "set N.axis 1 2 0; set N.scale 1; set N.time 3; "
         "set N.initialRotate 5 5 5",
         "8 11 5"},
        {"a negative axis component",
         "set N.axis 0 0 -0.5; set N.scale 1; set N.time 3; "
         "set N.initialRotate 5 5 5",
         "5 5 3.5"},
        {"time zero gives the initial rotation", "set N.axis 3 4 5; set N.initialRotate 1.5 -2 7",
         "1.5 -2 7"},
        {"scale zero freezes it", "set N.scale 0; set N.initialRotate 10 20 30; set N.time 1000",
         "10 20 30"},
    };
    std::string script = "plugin -load kivo_rova\n";
    std::string expected;
    for (std::size_t k = 0; k < cases.size(); ++k) {
        const std::string node = "spin" + std::to_string(k);
        std::string settings = cases[k].settings;
        for (auto at = settings.find("N."); at != std::string::npos; at = settings.find("N.", at))
            settings.replace(at, 1, node);
        script += "create timeRotate -name " + node + "\n" + settings + "\nget " + node +
                  ".outputRotate\n";
        expected += node + "\n" + cases[k].expected + "\n";
    }
    const auto run = runRovaScript(script);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto got = linesOf(run.out);
    const auto want = linesOf(expected);
    ASSERT_EQ(got.size(), want.size()) << run.out;
    for (std::size_t k = 0; k < want.size(); ++k) EXPECT_EQ(got[k], want[k]) << cases[k / 2].name;
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
