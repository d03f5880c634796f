// Script files run by `source` and as procedures (a bare name runs NAME.rova from the script path).
#include <gtest/gtest.h>

#include "RunRova.h"
#include "ScriptValues.h"
#include "TempDir.h"

namespace rova::test {

using namespace kivorova::testing;
namespace {

TEST(ScriptPath, ProcedureNameRunsItsScript) {
    TempDir dir;
    dir.write("makeClocks.rova",
              "create time -name c1\ncreate time -name c2\nprint(\"made\\n\")\n");
    const auto run =
        runRovaStatements("makeClocks\nls\nundo\nls", {"--script-path", dir.path().string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "c1\nc2\nmade\nsceneTime c1 c2\nsceneTime\n");

    const auto withArgs =
        runRovaStatements("makeClocks now", {"--script-path", dir.path().string()});
    EXPECT_EQ(withArgs.exitCode, 1);
    EXPECT_EQ(withArgs.err,
              "error: line 1: makeClocks: script procedure makeClocks.rova takes no arguments, "
              "got 'now'\n");
}

TEST(ScriptPath, SourceFailureNamesTheInnerFileAndLineAndChangesNothing) {
    TempDir dir;
    dir.write("lib.rova", "create time -name made\n\nget made.noSuchAttribute\n");
    const auto run = runRovaStatements("source lib.rova\nls",
                                       {"--keep-going", "--script-path", dir.path().string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "made\nsceneTime\n");
    ASSERT_EQ(linesOf(run.err).size(), 1u) << run.err;
    EXPECT_EQ(run.err.rfind("error: line 1: source: lib.rova: line 3: get: ", 0), 0u) << run.err;
}

TEST(ScriptPath, MalformedSourcedFileRunsNothing) {
    TempDir dir;
    dir.write("bad.rova", "create time -name early\nprint(\"x\n");
    const auto run = runRovaStatements("source bad.rova\nls",
                                       {"--keep-going", "--script-path", dir.path().string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "sceneTime\n");
    EXPECT_EQ(run.err,
              "error: line 1: source: bad.rova: line 2: print: unterminated string (a string ends "
              "on the line it starts)\n");
}

TEST(ScriptPath, MissingScriptAndRunawayRecursionAreErrors) {
    TempDir dir;
    dir.write("again.rova", "again\n");
    const auto run =
        runRovaStatements("source nowhere.rova", {"--script-path", dir.path().string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err.rfind("error: line 1: source: no script 'nowhere.rova' on the script path (" +
                                dir.path().string(),
                            0),
              0u)
        << run.err;
    // A path to something that is there but is no file says what it is.
    const auto folder = runRovaStatements("source \"" + dir.path().string() + "\"");
    EXPECT_EQ(folder.err,
              "error: line 1: source: '" + dir.path().string() + "' is a folder, not a script\n");
    const auto device = runRovaStatements("python -file /dev/null");
    EXPECT_EQ(device.err,
              "error: line 1: python: '/dev/null' is a device or a pipe, not a script\n");

    const auto loop = runRovaStatements("again", {"--script-path", dir.path().string()});
    EXPECT_EQ(loop.exitCode, 1);
    EXPECT_NE(loop.err.find("scripts nested more than 64 deep (does again.rova run itself?)"),
              std::string::npos)
        << loop.err;
    EXPECT_EQ(linesOf(loop.err).size(), 1u);
}

}  // namespace
}  // namespace rova::test
