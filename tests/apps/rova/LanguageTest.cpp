// The command language as a script author meets it: separators, comments, both statement forms,
// strings, and the one-line errors of malformed statements that stop a script before it runs.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "RunRova.h"
#include "ScriptValues.h"

namespace rova::test {

using namespace kivorova::testing;
namespace {

// rova with no script at a terminal that does not echo: `typed` is typed ahead (the terminal holds
// each line until rova reads it), then the end of input. Returns what the terminal showed.
std::string runAtTerminal(const std::string& typed) {
    termios settings{};
    settings.c_iflag = ICRNL;
    settings.c_cflag = CS8 | CREAD;
    settings.c_lflag = ICANON;  // lines, no echo, no output translation
    settings.c_cc[VEOF] = 4;
    settings.c_cc[VMIN] = 1;
    cfsetispeed(&settings, B38400);
    cfsetospeed(&settings, B38400);
    int terminal = -1;
    const pid_t child = forkpty(&terminal, nullptr, &settings, nullptr);
    if (child == 0) {
        const std::string program = rovaProgram().string();
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (child < 0)
        return "forkpty failed";
    const std::string input = typed + "\x04";
    if (write(terminal, input.data(), input.size()) != static_cast<ssize_t>(input.size()))
        return "cannot type";
    std::string shown;
    char buffer[4096];
    for (ssize_t n; (n = read(terminal, buffer, sizeof buffer)) > 0;)
        shown.append(buffer, static_cast<size_t>(n));
    close(terminal);
    int status = 0;
    waitpid(child, &status, 0);
    return shown;
}

TEST(Language, SeparatorsCommentsAndBothStatementForms) {
    const auto run = runRovaStatements(
        "print(\"a\\n\"); print \"b\\n\"   // a comment; print(\"not run\\n\")\n"
        "\n"
        "   print(\"c\", )\n"  // a trailing comma leaves an empty argument: an error
    );
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "error: line 3: print: expected an argument, got ')'\n");

    const auto good = runRovaStatements(
        "print(\"a\\n\"); print \"b\\n\"   // a comment; print(\"not run\\n\")\n"
        "print(\n  \"c\\n\"\n)\n"
        "print(\"//not a comment\\n\");;\n");
    EXPECT_EQ(good.exitCode, 0) << good.err;
    EXPECT_EQ(good.out, "a\nb\nc\n//not a comment\n");
    EXPECT_EQ(good.err, "");
}

TEST(Language, StringsTakeCEscapes) {
    const auto run = runRovaStatements(R"(print("tab\tquote\"backslash\\hex\x41octal\101\n"))");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "tab\tquote\"backslash\\hexAoctalA\n");
}

TEST(Language, TextBlocksHoldTheLinesUpToTheirTagLessTheirSharedIndentation) {
    const auto run = runRovaStatements(
        "print <<END   // a comment after the tag\n"
        "      first\n"
        "        indented \"quoted\" \\n kept as typed\n"
        "\n"
        "      ENDING is not the end; END neither\n"
        "   END\n"
        "print(\"after\\n\")\n"
        "get no.such\n");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out,
              "first\n  indented \"quoted\" \\n kept as typed\n\nENDING is not the end; END "
              "neither\nafter\n");
    // Lines after the block keep their numbers.
    EXPECT_EQ(run.err, "error: line 8: get: no node named 'no'\n");
}

TEST(Language, ATextBlockTypedAtThePromptGoesOnUntilItsTag) {
    const std::string shown = runAtTerminal(
        "print(\"a\\n\")\n"
        "python <<PY\n"
        "for i in range(2):\n"
        "    print(i)\n"
        "PY\n"
        "get no.such\n");
    EXPECT_EQ(shown,
              "rova> a\n"
              "rova> ...> ...> ...> 0\n1\n"
              "rova> error: line 6: get: no node named 'no'\n"
              "rova> \n");
}

TEST(Language, MalformedTextBlocksAreRefusedBeforeAnythingRuns) {
    // Text after the tag is refused, and the block's lines are not read as statements.
    const auto trailing = runRovaStatements(
        "print(\"first\\n\")\nprint <<END \"more\"\n3d not a statement\nEND\nprint(\"x\")\n"
        "3d");
    EXPECT_EQ(trailing.exitCode, 1);
    EXPECT_EQ(trailing.out, "");
    EXPECT_EQ(trailing.err,
              "error: line 2: print: text block <<END must end its line, got '\"more\"'\n"
              "error: line 6: expected a command name, got '3d'\n");

    const auto open = runRovaStatements("print(\"first\\n\")\nprint <<END\nnever ended\n  END x\n");
    EXPECT_EQ(open.exitCode, 1);
    EXPECT_EQ(open.out, "");
    EXPECT_EQ(open.err,
              "error: line 2: print: text block <<END has no end (a line holding only END)\n");
}

TEST(Language, SyntaxErrorAnywhereRunsNothingAndEveryErrorIsReported) {
    const auto run = runRovaStatements(
        "print(\"first\\n\")\n"
        "print(\"unterminated\n"
        "print(\"third\\n\") print(\"x\")\n"
        "3d thing\n"
        "print(\"bad escape \\q\")\n");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              "error: line 2: print: unterminated string (a string ends on the line it starts)\n"
              "error: line 3: print: expected ';' or a line end after ')', got 'print'\n"
              "error: line 4: expected a command name, got '3d'\n"
              "error: line 5: print: unknown escape \\q in string\n");
}

TEST(Language, AByteOrderMarkIsSkippedAndUnseenCharactersAreShownEscaped) {
    const auto marked = runRovaStatements("\xEF\xBB\xBFprint(\"hi\\n\")\n");
    EXPECT_EQ(marked.exitCode, 0) << marked.err;
    EXPECT_EQ(marked.out, "hi\n");
    // A character a terminal would not show is written so that the message makes sense.
    const auto control = runRovaStatements("ls\x01\n\xEF\xBB\xBF\xEF\xBB\xBFls\n");
    EXPECT_EQ(control.exitCode, 1);
    EXPECT_EQ(control.err,
              "error: line 1: expected a command name, got 'ls\\x01'\n"
              "error: line 2: expected a command name, got '\\ufeff\\ufeffls'\n");
}

TEST(Language, MisusedBuiltInCommandsAreCaughtBeforeAnythingRuns) {
    struct Case {
        const char* statement;
        const char* error;
    };
    const Case cases[] = {
        {"create time -nmae x",
         "create: unknown flag -nmae, expected -name (usage: create TYPE [-name N])"},
        {"create time -name", "create: -name expects a value (N) (usage: create TYPE [-name N])"},
        {"create", "create: missing arguments (usage: create TYPE [-name N])"},
        {"get a.b c.d", "get: too many arguments, got 'c.d' (usage: get PLUG)"},
        {"time -frame x",
         "time: -frame expects a number, got 'x' (usage: time [-frame F | -seconds S] [-fps R])"},
        {"time -frame 1 -seconds 2",
         "time: give -frame or -seconds, not both (usage: time [-frame F | -seconds S] [-fps R])"},
        {"plugin -list -list",
         "plugin: flag -list given twice (usage: plugin -load NAME|PATH | plugin -unload NAME "
         "[-force] | plugin -list)"},
        {"plugin kivo_rova",
         "plugin: takes no arguments, got 'kivo_rova' (usage: plugin -load NAME|PATH | plugin "
         "-unload NAME [-force] | plugin -list)"},
        {"plugin -load a -force",
         "plugin: -force goes with -unload (usage: plugin -load NAME|PATH | plugin -unload NAME "
         "[-force] | plugin -list)"},
        {"undo 2", "undo: takes no arguments, got '2' (usage: undo)"},
        {"ls -all", "ls: unknown flag -all, expected -type (usage: ls [-type T])"},
        {"refresh -now", "refresh: takes no flags, got -now (usage: refresh)"},
        {"fault -times 2",
         "fault: give a CALL, -clear or -list (usage: fault CALL [-match TEXT] [-times N] | fault "
         "-clear | fault -list)"},
        {"fault create -times x",
         "fault: -times expects an integer, got 'x' (usage: fault CALL [-match TEXT] [-times N] | "
         "fault -clear | fault -list)"},
        {"trace maybe",
         "trace: expected on or off, got 'maybe' (usage: trace on|off [-dirty] [-compute] "
         "[-connect] [-disconnect] [-create] [-delete] [-error])"},
    };
    for (const Case& c : cases) {
        // The statement comes second: the first one must not have run.
        const auto run = runRovaStatements(std::string("print(\"ran\\n\")\n") + c.statement);
        EXPECT_EQ(run.exitCode, 1) << c.statement;
        EXPECT_EQ(run.out, "") << c.statement;
        EXPECT_EQ(run.err, std::string("error: line 2: ") + c.error + "\n") << c.statement;
    }
}

TEST(Language, FailingStatementStopsTheRunOnOneLine) {
    const auto run = runRovaStatements("print(\"a\\n\")\nget nowhere.value\nprint(\"b\\n\")");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "a\n");
    ASSERT_EQ(linesOf(run.err).size(), 1u) << run.err;
    EXPECT_EQ(run.err.rfind("error: line 2: get: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find("nowhere"), std::string::npos) << run.err;
}

TEST(Language, KeepGoingRunsThePastFailuresAndStillFails) {
    const auto run = runRovaStatements("frobnicate 1 2\nprint(\"after\\n\")", {"--keep-going"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "after\n");
    EXPECT_EQ(run.err,
              "error: line 1: frobnicate: unknown command (not a built-in command, a plug-in "
              "command or a script procedure frobnicate.rova on the script path)\n");
}

TEST(Language, NodeNamesThatBreakTheRuleAreRefusedAndChangeNothing) {
    for (const char* name : {"\"a;b\"", "\"two words\"", "9lives", "\"x.y\"", "\"\\n\""}) {
        const auto run = runRovaStatements(
            std::string("create time -name ") + name + "\nls -type time", {"--keep-going"});
        EXPECT_EQ(run.exitCode, 1) << name;
        EXPECT_EQ(run.out, "sceneTime\n") << name;
        ASSERT_EQ(linesOf(run.err).size(), 1u) << run.err;
        EXPECT_EQ(run.err.rfind("error: line 1: create: ", 0), 0u) << run.err;
    }
}

TEST(Language, NegativeNumbersAreValuesNotFlags) {
    const auto run = runRovaStatements("time -seconds -1.5; time; time -frame -12; time -frame");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "-1.5\n-12\n");
}

TEST(Language, QueriesPrintOneLineEach) {
    const auto run = runRovaStatements(
        "create time -name clockA\ncreate time -name clockA\nls -type time\n"
        "time -fps 30; time -frame 45; time; time -frame; time -fps");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "clockA\nclockA1\nsceneTime clockA clockA1\n1.5\n45\n30\n");
}

TEST(Language, TraceShowsGraphEventsInOrder) {
    const auto run = runRovaStatements(
        "trace on -create -delete\ncreate time -name clock\ndelete clock\ntrace off\n"
        "create time -name quiet");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "trace: create clock time\nclock\ntrace: delete clock time\nquiet\n");
}

}  // namespace
}  // namespace rova::test
