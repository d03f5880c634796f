// The program around the language: options, script files, standard input, exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "RunRova.h"
#include "ScriptValues.h"
#include "TempDir.h"

namespace rova::test {

using namespace kivorova::testing;
namespace {

TEST(Program, HelpDocumentsEveryOptionAndCommand) {
    const auto run = runRova({"--help"});
    EXPECT_EQ(run.exitCode, 0);
    for (const char* text : {"-c,--command",
                             "--keep-going",
                             "--plugin-path",
                             "--script-path",
                             "SCRIPT",
                             "Exit status",
                             "ROVA_PLUGIN_PATH",
                             "ROVA_SCRIPT_PATH",
                             "plugin -load NAME|PATH",
                             "plugin -unload NAME",
                             "plugin -list",
                             "create TYPE [-name N]",
                             "delete N...",
                             "rename OLD NEW",
                             "set PLUG VALUE...",
                             "get PLUG",
                             "connect SRC DST",
                             "disconnect SRC DST",
                             "ls [-type T]",
                             "undo",
                             "redo",
                             "time [-frame F | -seconds S] [-fps R]",
                             "refresh",
                             "print TEXT",
                             "python TEXT",
                             "source FILE",
                             "fault CALL [-match TEXT] [-times N]",
                             "fault -clear",
                             "watch PLUG [-off]",
                             "trace on|off",
                             "help [COMMAND]",
                             "script procedure"})
        EXPECT_NE(run.out.find(text), std::string::npos) << text;
}

TEST(Program, HelpCommandMatchesTheProgramsReference) {
    const auto help = runRova({"--help"});
    const auto command = runRovaStatements("help");
    EXPECT_EQ(command.exitCode, 0);
    ASSERT_FALSE(command.out.empty());
    EXPECT_NE(help.out.find(command.out), std::string::npos);
    const auto one = runRovaStatements("help time");
    EXPECT_NE(one.out.find("  -fps [R]\n"), std::string::npos) << one.out;
}

TEST(Program, UsageErrorsExitWithTwo) {
    const auto unknown = runRova({"--bogus"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_FALSE(unknown.err.empty());

    TempDir dir;
    const auto file = dir.write("a.rova", "print(\"a\\n\")\n");
    const auto both = runRova({"-c", "print(\"x\")", file.string()});
    EXPECT_EQ(both.exitCode, 2);
    EXPECT_EQ(both.out, "");
    EXPECT_EQ(both.err, "error: give either -c STATEMENTS or SCRIPT files, not both\n");

    const auto missing = runRova({(dir.path() / "missing.rova").string()});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_EQ(missing.err,
              "error: cannot read script '" + (dir.path() / "missing.rova").string() + "'\n");
}

TEST(Program, AFolderIsNoScript) {
    TempDir dir;
    const auto run = runRova({dir.path().string()});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err, "error: '" + dir.path().string() + "' is a folder, not a script\n");
}

TEST(Program, ADeviceIsNoScriptAndAPipeIsReadToItsEnd) {
    // A device may never end (/dev/zero would fill memory): refused before a byte is read.
    const auto device = runRova({"/dev/zero"});
    EXPECT_EQ(device.exitCode, 2);
    EXPECT_EQ(device.err, "error: '/dev/zero' is a device, not a script\n");
}

TEST(Program, AScriptTooLargeForMemoryIsRefusedWithAMessage) {
#ifndef ROVA_ADDRESS_SPACE_CAN_BE_LIMITED
    GTEST_SKIP() << "a sanitizer build cannot run with a limited address space";
#else
    TempDir dir;
    // A sparse file: large to read, nothing on disk.
    const auto big = dir.path() / "big.rova";
    std::filesystem::resize_file(dir.write("big.rova", ""), 3ull << 30);
    const std::string command = "ulimit -v 1500000; '" + rovaProgram().string() + "' '" +
                                big.string() + "' > /dev/null 2> '" +
                                (dir.path() / "err.txt").string() + "'";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal: " << status;
    EXPECT_EQ(WEXITSTATUS(status), 2);
    std::ifstream err(dir.path() / "err.txt");
    const std::string text((std::istreambuf_iterator<char>(err)), {});
    EXPECT_EQ(text,
              "error: script '" + big.string() + "' is too large to load (3221225472 bytes)\n");
#endif
}

TEST(Program, OutputThatCannotBeWrittenFailsTheRun) {
    // /dev/full accepts the open and refuses every write, as a full disk does.
    const std::string command = std::string("'") + rovaProgram().string() +
                                "' -c 'print(\"hi\\n\")' > /dev/full 2> /dev/null";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    const auto fine = runRovaStatements("print(\"hi\\n\")");
    EXPECT_EQ(fine.exitCode, 0);
    EXPECT_EQ(fine.out, "hi\n");
}

TEST(Program, EveryNumberIsReadByOneGrammar) {
    const auto run = runRovaStatements(
        "plugin -load kivo_rova\ncreate timeRotate -name r\n"
        "set r.scale 1e3\nget r.scale\nset r.scale -.5\nget r.scale\nset r.scale +2.5E-1\n"
        "get r.scale\ntime -seconds 2.5e0\ntime\ntime -fps 30.\ntime -fps\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "r\n1000\n-0.5\n0.25\n2.5\n30\n");
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"set r.scale 0x10", "cannot set 'r.scale': expected a number, got '0x10'"},
        {"set r.scale nan", "cannot set 'r.scale': 'nan' is not a finite number"},
        {"set r.scale 1e999", "cannot set 'r.scale': '1e999' is out of range (expected a number)"},
        {"set r.scale 1_5", "cannot set 'r.scale': expected a number, got '1_5'"},
        {"time -seconds 0x10", "time: -seconds expects a number, got '0x10'"},
        {"time -seconds nan", "time: -seconds: 'nan' is not a finite number"},
        {"time -fps inf", "time: -fps: 'inf' is not a finite number"},
        {"time -frame 1e", "time: -frame expects a number, got '1e'"},
    };
    for (const auto& [statement, message] : refused) {
        const auto bad =
            runRovaStatements("plugin -load kivo_rova\ncreate timeRotate -name r\n" + statement);
        EXPECT_EQ(bad.exitCode, 1) << statement;
        EXPECT_NE(bad.err.find(message), std::string::npos) << statement << "\n" << bad.err;
    }
}

TEST(Program, ScriptFilesRunInOrderAndAreAllCheckedFirst) {
    TempDir dir;
    const auto first = dir.write("first.rova", "print(\"one\\n\")\n");
    const auto second = dir.write("second.rova", "print(\"two\\n\")\ntime\n");
    const auto run = runRova({first.string(), second.string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "one\ntwo\n0\n");

    const auto broken = dir.write("broken.rova", "// fine\n\nget\n");
    const auto stopped = runRova({first.string(), broken.string()});
    EXPECT_EQ(stopped.exitCode, 1);
    EXPECT_EQ(stopped.out, "");
    EXPECT_EQ(stopped.err,
              "error: " + broken.string() + ": line 3: get: missing arguments (usage: get PLUG)\n");
}

TEST(Program, FailuresInAScriptFileNameTheFile) {
    TempDir dir;
    const auto file = dir.write("scene.rova", "print(\"a\\n\")\n\nnoSuchCommand\n");
    const auto run = runRova({file.string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "a\n");
    EXPECT_EQ(
        run.err.rfind("error: " + file.string() + ": line 3: noSuchCommand: unknown command", 0),
        0u)
        << run.err;
}

TEST(Program, StatementsFromStandardInput) {
    const auto run =
        runProgram(rovaProgram(), {}, {.input = "print(\"in\\n\")\ncreate time -name fromStdin\n"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "in\nfromStdin\n");

    const auto failing = runProgram(
        rovaProgram(), {}, {.input = "print(\"in\\n\")\nget x.y\nprint(\"not reached\\n\")\n"});
    EXPECT_EQ(failing.exitCode, 1);
    EXPECT_EQ(failing.out, "in\n");
    EXPECT_EQ(failing.err.rfind("error: line 2: get: ", 0), 0u) << failing.err;

    const auto empty = runRova({});
    EXPECT_EQ(empty.exitCode, 0);
    EXPECT_EQ(empty.out, "");
}

TEST(Program, ExitStatusReflectsEveryStatement) {
    EXPECT_EQ(runRovaStatements("").exitCode, 0);
    EXPECT_EQ(runRovaStatements("// only a comment").exitCode, 0);
    EXPECT_EQ(runRovaStatements("undo").exitCode, 1);
    const auto undo = runRovaStatements("undo");
    EXPECT_EQ(undo.err, "error: line 1: undo: nothing to undo\n");
}

// Tracing left on sees the exit's deletions, and the exit stays clean: nothing is reported to
// a tracer that static destruction already took away.
TEST(Program, TracingLeftOnSeesTheExitAndExitsCleanly) {
    const auto run = runRovaStatements("create time -name a\ncreate time -name b\ntrace on\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              "a\nb\n"
              "trace: delete b time\n"
              "trace: delete a time\n"
              "trace: delete sceneTime time\n");
    EXPECT_EQ(run.err, "");
}

}  // namespace
}  // namespace rova::test

namespace rova::test {
namespace {

// The reference page lists every command the program knows.
TEST(Program, ReferencePageNamesEveryCommand) {
    std::ifstream page(ROVA_REFERENCE_PAGE);
    ASSERT_TRUE(page) << ROVA_REFERENCE_PAGE;
    const std::string text((std::istreambuf_iterator<char>(page)),
                           std::istreambuf_iterator<char>());
    const auto help = runRovaStatements("help");
    int commands = 0;
    for (const std::string& line : linesOf(help.out)) {
        if (line.size() < 3 || line.compare(0, 2, "  ") != 0 || line[2] < 'a' || line[2] > 'z')
            continue;
        const std::string name = line.substr(2, line.find(' ', 2) - 2);
        ++commands;
        EXPECT_NE(text.find("| `" + name), std::string::npos) << name;
    }
    EXPECT_GT(commands, 15);
}

}  // namespace
}  // namespace rova::test
