// The undo queue: every scene-changing statement is one step; undo restores the exact earlier
// state and redo re-applies it.
#include <gtest/gtest.h>

#include "RovaProcess.h"

namespace rova::test {
namespace {

TEST(Undo, CreateAndDeleteComeBackWithTheirNames) {
    const auto run = runStatements(
        "create time -name a\ncreate time -name b\nls\n"
        "undo\nls\nredo\nls\n"
        "delete a b\nls\nundo\nls\nredo\nls\n");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "a\nb\nsceneTime a b\n"
              "sceneTime a\nsceneTime a b\n"
              "sceneTime\nsceneTime a b\nsceneTime\n");
}

TEST(Undo, DeletedNodesComeBackAtTheirPlaceInCreationOrder) {
    const auto run = runStatements(
        "create time -name a\ncreate time -name b\ncreate time -name c\ncreate time -name d\n"
        "delete b\nundo\nls\n"
        "delete d a\nls\nundo\nls\n"
        "delete c\ncreate time -name e\nundo\nundo\nls\n"
        "redo\nls\n");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "a\nb\nc\nd\n"
              "sceneTime a b c d\n"
              "sceneTime b c\nsceneTime a b c d\n"
              "e\nsceneTime a b c d\n"
              "sceneTime a b d\n");
}

TEST(Undo, DeletedNodesGetTheirConnectionsBackInTheirOrder) {
    const auto run = runStatements(
        "plugin -load kivo_rova\n"
        "create timeRotate -name a\ncreate timeRotate -name b\ncreate timeRotate -name c\n"
        "connect sceneTime.time a.time\nconnect a.outputRotateX b.time\n"
        "connect sceneTime.time c.time\nconnect b.outputRotateY c.scale\n"
        "connections\ndelete b\nconnections\nundo\nconnections\n"
        "delete a c\nundo\nconnections\n");
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string all =
        "sceneTime.time->a.time a.outputRotateX->b.time sceneTime.time->c.time "
        "b.outputRotateY->c.scale\n";
    EXPECT_EQ(run.out.substr(run.out.find("sceneTime.time->")),
              all + "sceneTime.time->a.time sceneTime.time->c.time\n" + all + all);
}

TEST(Undo, TimeAndRateComeBackExactly) {
    const auto run = runStatements(
        "time -seconds 0.1\ntime -fps 30 -frame 7\ntime\nundo\ntime\ntime -fps\nundo\ntime\n"
        "redo\nredo\ntime\ntime -fps\nredo");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "0.23333333333333334\n0.1\n24\n0\n0.23333333333333334\n30\n");
    EXPECT_EQ(run.err, "error: line 13: redo: nothing to redo\n");
}

TEST(Undo, FailedStatementsAndQueriesAreNotSteps) {
    const auto run = runStatements("create time -name kept\nget nothing.here\nls\nundo\nls\nundo",
                                   {"--keep-going"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "kept\nsceneTime kept\nsceneTime\n");
    const auto errors = lines(run.err);
    ASSERT_EQ(errors.size(), 2u) << run.err;
    EXPECT_EQ(errors[1], "error: line 6: undo: nothing to undo");
}

TEST(Undo, ANewChangeForgetsWhatWasUndone) {
    const auto run = runStatements("create time -name a\nundo\ncreate time -name b\nredo");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "error: line 4: redo: nothing to redo\n");
}

TEST(Undo, RenameComesBack) {
    const auto run = runStatements("create time -name a\nrename a b\nls\nundo\nls\nredo\nls");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "a\nsceneTime b\nsceneTime a\nsceneTime b\n");
}

}  // namespace
}  // namespace rova::test
