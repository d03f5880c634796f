// Statements that plug-ins run through the host (RGlobal::executeCommand, the idle queue, UI
// procedures) and commands that plug-ins register, driven through a probe plug-in of the tests.
#include <gtest/gtest.h>

#include "RunRova.h"
#include "ScriptValues.h"
#include "TempDir.h"

namespace rova::test {

using namespace kivorova::testing;
namespace {

class Executor : public ::testing::Test {
  protected:
    Executor() {
        m_scripts.write("probeCreateUI.rova",
                        "// runs after the probe loads\nprint(\"ui created\\n\")\n");
        m_scripts.write("probeDeleteUI.rova", "print(\"ui deleted\\n\")\n");
    }

    // Runs the statements with the probe plug-in loaded first.
    RovaRun probe(const std::string& statements, std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"--plugin-path", ROVA_PROBE_PLUGIN_DIR, "--script-path",
                                      m_scripts.path().string()};
        args.insert(args.end(), extra.begin(), extra.end());
        auto run = runRovaStatements("plugin -load rova_probe\n" + statements, args);
        // The UI procedures frame everything else.
        EXPECT_EQ(run.out.rfind("ui created\n", 0), 0u) << run.out;
        if (run.out.rfind("ui created\n", 0) == 0)
            run.out.erase(0, 11);
        const std::string last = "ui deleted\n";
        if (run.out.size() >= last.size() &&
            run.out.compare(run.out.size() - last.size(), last.size(), last) == 0)
            run.out.erase(run.out.size() - last.size());
        else
            ADD_FAILURE() << "no UI deletion at exit: " << run.out;
        return run;
    }

    TempDir m_scripts;
};

TEST_F(Executor, UiProceduresRunAtLoadAndUnload) {
    const std::vector<std::string> paths{"--plugin-path", ROVA_PROBE_PLUGIN_DIR, "--script-path",
                                         m_scripts.path().string()};
    const auto run = runRovaStatements(
        "plugin -load rova_probe\nprint(\"loaded\\n\")\nplugin -unload rova_probe\nplugin -list\n",
        paths);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "ui created\nloaded\nui deleted\n\n");
    EXPECT_EQ(run.err, "");
    // At exit the host unloads what is still loaded.
    const auto atExit = runRovaStatements("plugin -load rova_probe\nprint(\"loaded\\n\")", paths);
    EXPECT_EQ(atExit.exitCode, 0) << atExit.err;
    EXPECT_EQ(atExit.out, "ui created\nloaded\nui deleted\n");
}

TEST_F(Executor, PluginCommandsGetTheirWordsAsTypedAndPrintTheirResult) {
    const auto run = probe(
        "probeWords -flag \"two words\" 3 node.attr -1 \"-quoted\"\n"
        "probeWords(\"call\", form)\n"
        "probeFlag -yes; probeFlag; probeFlag -double\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              "[-flag][two words][3][node.attr][-1][-quoted]\n[call][form]\ntrue\nfalse\n0.1\n");
}

TEST_F(Executor, UndoablePluginCommandsStepTheQueue) {
    const auto run = probe(
        "probeCount; probeCount; undo; redo; probeCount; undo; undo; undo; probeCount\n"
        "undo\nundo");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "1\n2\n3\n1\n");
    EXPECT_EQ(run.err, "error: line 4: undo: nothing to undo\n");
}

TEST_F(Executor, FailingPluginCommandFailsTheStatement) {
    const auto run = probe("probeCount -fail\nprint(\"not reached\\n\")");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "error: line 2: probeCount: asked to fail\n");
}

TEST_F(Executor, ExecuteCommandReturnsResultsAndEchoesOnlyWithDisplay) {
    const auto run = probe(
        "probeRun \"create time -name quiet\"\n"
        "probeRun \"create time -name shown; ls -type time\" -display\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              "quiet\n"
              "create time -name shown; ls -type time\nshown\nsceneTime quiet shown\n"
              "shown\nsceneTime quiet shown\n");
}

TEST_F(Executor, UndoableExecuteCommandIsOneStepAndTheRestIsNotRecorded) {
    const auto run = probe(
        "probeRun \"create time -name a; create time -name b\" -undo\nls\nundo\nls\n"
        "probeRun \"create time -name c\"\nundo");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "a\nb\nsceneTime a b\nsceneTime\nc\n");
    EXPECT_EQ(run.err, "error: line 7: undo: nothing to undo\n");
}

TEST_F(Executor, FailedExecuteCommandIsReportedToTheCallerAndOnStandardError) {
    const auto run =
        probe("probeRun \"print(\\\"a\\\\n\\\"); get no.such; print(\\\"b\\\\n\\\")\"\nls");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              "a\nfailed: executeCommand: the command failed: print(\"a\\n\"); get no.such; "
              "print(\"b\\n\")\nsceneTime\n");
    EXPECT_EQ(run.err.rfind("error: line 1: get: ", 0), 0u) << run.err;
    EXPECT_EQ(linesOf(run.err).size(), 1u) << run.err;
}

TEST_F(Executor, IdleStatementsRunAtTheNextRefresh) {
    const auto run = probe(
        "probeQueue \"print(\\\"idle 1\\\\n\\\")\"\nprobeQueue \"create time -name idleNode\"\n"
        "print(\"before\\n\")\nrefresh\nprint(\"after\\n\")\nrefresh\nls");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "before\nidle 1\nafter\nsceneTime idleNode\n");
}

TEST_F(Executor, LoadingAndUnloadingClearTheUndoQueue) {
    const auto run = runRovaStatements(
        "create time -name x\nplugin -load rova_probe\nundo",
        {"--plugin-path", ROVA_PROBE_PLUGIN_DIR, "--script-path", m_scripts.path().string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "error: line 3: undo: nothing to undo\n");
}

}  // namespace
}  // namespace rova::test
