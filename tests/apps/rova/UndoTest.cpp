// The undo queue: every scene-changing statement is one step; undo restores the exact earlier
// state and redo re-applies it.
#include <gtest/gtest.h>

#include "RunRova.h"
#include "ScriptValues.h"

namespace rova::test {

using namespace kivorova::testing;
namespace {

TEST(Undo, CreateAndDeleteComeBackWithTheirNames) {
    const auto run = runRovaStatements(
        "create time -name a\ncreate time -name b\nls\n"
        "undo\nls\nredo\nls\n"
        "delete a b\nls\nundo\nls\nredo\nls\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              "a\nb\nsceneTime a b\n"
              "sceneTime a\nsceneTime a b\n"
              "sceneTime\nsceneTime a b\nsceneTime\n");
}

TEST(Undo, DeletedNodesComeBackAtTheirPlaceInCreationOrder) {
    const auto run = runRovaStatements(
        "create time -name a\ncreate time -name b\ncreate time -name c\ncreate time -name d\n"
        "delete b\nundo\nls\n"
        "delete d a\nls\nundo\nls\n"
        "delete c\ncreate time -name e\nundo\nundo\nls\n"
        "redo\nls\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              "a\nb\nc\nd\n"
              "sceneTime a b c d\n"
              "sceneTime b c\nsceneTime a b c d\n"
              "e\nsceneTime a b c d\n"
              "sceneTime a b d\n");
}

TEST(Undo, DeletedNodesGetTheirConnectionsBackInTheirOrder) {
    const auto run = runRovaStatements(
        "plugin -load kivo_rova\n"
        "create timeRotate -name a\ncreate timeRotate -name b\ncreate timeRotate -name c\n"
        "connect sceneTime.time a.time\nconnect a.outputRotateX b.time\n"
        "connect sceneTime.time c.time\nconnect b.outputRotateY c.scale\n"
        "connections\ndelete b\nconnections\nundo\nconnections\n"
        "delete a c\nundo\nconnections\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const std::string all =
        "sceneTime.time->a.time a.outputRotateX->b.time sceneTime.time->c.time "
        "b.outputRotateY->c.scale\n";
    EXPECT_EQ(run.out.substr(run.out.find("sceneTime.time->")),
              all + "sceneTime.time->a.time sceneTime.time->c.time\n" + all + all);
}

// A scene at production scale, built and changed by script: each statement costs what it touches
// (a connect used to list every connection of the scene to find what it replaced, and each undo
// step walked every node), and pulling the end of a 20,000-node chain must not exhaust the stack.
// A node deleted from the middle, and a connection broken there, come back at their places.
TEST(Undo, AChainOfTwentyThousandNodesIsBuiltPulledAndChangedByScript) {
    constexpr int kNodes = 20000;
    std::string script = "plugin -load kivo_rova\n";
    for (int k = 0; k < kNodes; ++k) {
        const std::string name = "n" + std::to_string(k);
        script +=
            "create timeRotate -name " + name + "\nconnect sceneTime.time " + name + ".time\n";
        if (k > 0)
            script +=
                "connect n" + std::to_string(k - 1) + ".outputRotate " + name + ".initialRotate\n";
    }
    const std::string end = "get n" + std::to_string(kNodes - 1) + ".outputRotate\n";
    const std::string around = "connections n10000\n";
    const std::string later = "time -seconds 1\n";
    script += "time -seconds 0.5\n" + end + around;
    script += "delete n10000\n" + later + end + "undo\nundo\n" + around + end;
    script += "disconnect n9999.outputRotate n10000.initialRotate\n" + later + end +
              "undo\nundo\n" + around + end;
    const auto run = runRovaScript(script);
    ASSERT_EQ(run.exitCode, 0) << run.err.substr(0, 2000);
    const auto from = run.out.find("0 1e+05 0");
    ASSERT_NE(from, std::string::npos) << run.err.substr(0, 2000);
    const std::string connected =
        "sceneTime.time->n10000.time n9999.outputRotate->n10000.initialRotate "
        "n10000.outputRotate->n10001.initialRotate";
    // Each node adds (0, 5 per second, 0) to what it is given. A destination cut off keeps the
    // last value it was given: at 1 s the nodes below the cut add 10 each to it.
    EXPECT_EQ(linesOf(run.out.substr(from)),
              (std::vector<std::string>{"0 1e+05 0", connected, "0 149995 0", connected,
                                        "0 1e+05 0", "0 150000 0", connected, "0 1e+05 0"}));
}

// Every scene-changing command, undone and redone: the state printed before it comes back
// exactly, and redo brings back the state after it.
TEST(Undo, EveryChangingCommandIsUndoneAndRedoneExactly) {
    const std::string setUp =
        "plugin -load kivo_rova\n"
        "create timeRotate -name a\ncreate timeRotate -name b\ncreate kivoAttractor -name c\n"
        "connect sceneTime.time a.time\nconnect a.outputRotateX b.time\n"
        "set a.scale 2.5\nset b.axis 0.25 -1 3\nplane -name p -divisions 1\n";
    const std::string state =
        "ls\nconnections\npoints p\nget a.scale\nget a.axis\nget a.initialRotate\nget b.time\n"
        "get b.axis\nget c.strength\nget c.track\ntime\ntime -fps\nprint(\"==\\n\")\n";
    const std::vector<std::string> changes = {
        "create timeRotate -name d",
        "create timeRotate",
        "delete a",
        "delete b a c",
        "set a.scale -7",
        "set a.axis 1 2 3",
        "set a.axisZ 9",
        "set c.track on",
        "connect b.outputRotateZ c.strength",
        "disconnect a.outputRotateX b.time",
        "disconnect sceneTime.time a.time",
        "rename a z",
        "time -seconds 3.5",
        "time -fps 60 -frame 12",
        "deformer kivoDeformer p -name d",
    };
    // Slices of the output from "--" to "=="; a get of a node that is gone prints nothing.
    const std::string mark = "print(\"--\\n\")\n";
    for (const auto& change : changes) {
        const auto run = runRovaStatements(setUp + mark + state + change + "\n" + mark + state +
                                               "undo\n" + mark + state + "redo\n" + mark + state,
                                           {"--keep-going"});
        std::vector<std::vector<std::string>> slices;
        bool inState = false;
        for (const auto& line : linesOf(run.out)) {
            if (line == "--")
                slices.emplace_back();
            if (line == "--" || line == "==")
                inState = line == "--";
            else if (inState)
                slices.back().push_back(line);
        }
        ASSERT_EQ(slices.size(), 4u) << change << "\n" << run.out << run.err;
        EXPECT_EQ(run.err.find("undo:"), std::string::npos) << change << "\n" << run.err;
        EXPECT_EQ(run.err.find("redo:"), std::string::npos) << change << "\n" << run.err;
        EXPECT_NE(slices[1], slices[0]) << change << " changed nothing that the state shows";
        EXPECT_EQ(slices[2], slices[0]) << "undo of " << change;
        EXPECT_EQ(slices[3], slices[1]) << "redo of " << change;
    }
}

TEST(Undo, TimeAndRateComeBackExactly) {
    const auto run = runRovaStatements(
        "time -seconds 0.1\ntime -fps 30 -frame 7\ntime\nundo\ntime\ntime -fps\nundo\ntime\n"
        "redo\nredo\ntime\ntime -fps\nredo");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "0.23333333333333334\n0.1\n24\n0\n0.23333333333333334\n30\n");
    EXPECT_EQ(run.err, "error: line 13: redo: nothing to redo\n");
}

TEST(Undo, FailedStatementsAndQueriesAreNotSteps) {
    const auto run = runRovaStatements(
        "create time -name kept\nget nothing.here\nls\nundo\nls\nundo", {"--keep-going"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "kept\nsceneTime kept\nsceneTime\n");
    const auto errors = linesOf(run.err);
    ASSERT_EQ(errors.size(), 2u) << run.err;
    EXPECT_EQ(errors[1], "error: line 6: undo: nothing to undo");
}

TEST(Undo, ANewChangeForgetsWhatWasUndone) {
    const auto run = runRovaStatements("create time -name a\nundo\ncreate time -name b\nredo");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "error: line 4: redo: nothing to redo\n");
}

TEST(Undo, RenameComesBack) {
    const auto run = runRovaStatements("create time -name a\nrename a b\nls\nundo\nls\nredo\nls");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "a\nsceneTime b\nsceneTime a\nsceneTime b\n");
}

}  // namespace
}  // namespace rova::test
