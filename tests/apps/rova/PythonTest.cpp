// The embedded Python interpreter and its host module.
#include <gtest/gtest.h>

#include <filesystem>

#include "RunRova.h"
#include "ScriptValues.h"
#include "TempDir.h"

namespace rova::test {

using namespace kivorova::testing;
namespace {

TEST(Python, OutputInterleavesWithTheHostsInOrder) {
    const auto run = runRovaStatements(
        "print(\"host 1\\n\")\npython(\"print('python 1')\")\nprint(\"host 2\\n\")\n"
        "python(\"import sys; sys.stderr.write('to stderr\\\\n'); print('python 2')\")");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "host 1\npython 1\nhost 2\npython 2\n");
    EXPECT_EQ(run.err, "to stderr\n");
}

TEST(Python, NamesPersistBetweenStatements) {
    const auto run = runRovaStatements("python(\"x = 6 * 7\")\npython(\"print(x)\")");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "42\n");
}

TEST(Python, HostRoundTripThroughTheRovaModule) {
    const auto run = runRovaStatements(
        "time -fps 24\n"
        "python(\"name = rova.eval('create time -name fromPython')\")\n"
        "python(\"print(repr(name), rova.exists(name), rova.exists('nope'))\")\n"
        "python(\"print(rova.ls('time'))\")\n"
        "python(\"rova.eval('time -frame 12'); print(rova.eval('time; time -frame'))\")\n"
        "python(\"print(repr(rova.eval('print(\\\"side effect\\\\\\\\n\\\")')))\")\n"
        "python(\"print(rova.get('sceneTime.time'))\")\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              "'fromPython' True False\n"
              "['sceneTime', 'fromPython']\n"
              "0.5\n12\n"
              "side effect\n''\n"
              "0.5\n");
}

TEST(Python, HostErrorsRaiseAndCanBeCaught) {
    const auto run = runRovaStatements(
        "python(\"try:\\n    rova.eval('get no.such')\\nexcept rova.Error as e:\\n    "
        "print('caught', str(e).startswith('line 1: get: '))\")");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "caught True\n");
}

TEST(Python, ExceptionsFailTheStatementOnOneLine) {
    struct Case {
        const char* code;
        const char* error;
    };
    const Case cases[] = {
        {"nope", "NameError: name 'nope' is not defined"},
        {"1/0", "ZeroDivisionError: division by zero"},
        {"def", "SyntaxError: invalid syntax"},
        {"raise ValueError('two\\\\nlines')", "ValueError: two lines"},
    };
    for (const Case& c : cases) {
        const auto run = runRovaStatements(std::string("print(\"before\\n\")\npython(\"") + c.code +
                                           "\")\nprint(\"after\\n\")");
        EXPECT_EQ(run.exitCode, 1) << c.code;
        EXPECT_EQ(run.out, "before\n") << c.code;
        EXPECT_EQ(run.err, std::string("error: line 2: python: ") + c.error + "\n") << c.code;
    }
}

TEST(Python, AFailingStatementTakesBackWhatItsPythonChanged) {
    const auto run = runRovaStatements(
        "python(\"rova.eval('create time -name half'); raise RuntimeError('stop')\")\nls",
        {"--keep-going"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "sceneTime\n");
    EXPECT_EQ(run.err, "error: line 1: python: RuntimeError: stop\n");
}

TEST(Python, OneStatementIsOneUndoStep) {
    const auto run = runRovaStatements(
        "python(\"for n in ('a', 'b', 'c'): rova.eval('create time -name ' + n)\")\nls\nundo\nls\n"
        "redo\nls");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "sceneTime a b c\nsceneTime\nsceneTime a b c\n");
}

TEST(Python, ModulesOnTheScriptPathImport) {
    TempDir dir;
    dir.write("greeter.py", "import rova\n\ndef greet(who):\n    print('hello ' + who)\n");
    const auto run =
        runRovaStatements("python(\"import greeter\"); python(\"greeter.greet('host');\")",
                          {"--script-path", dir.path().string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "hello host\n");

    const auto viaEnv =
        runProgram(rovaProgram(), {"-c", "python(\"import greeter; greeter.greet('env')\")"},
                   {.env = {{"ROVA_SCRIPT_PATH", dir.path().string()}}});
    EXPECT_EQ(viaEnv.exitCode, 0) << viaEnv.err;
    EXPECT_EQ(viaEnv.out, "hello env\n");
}

TEST(Python, SysExitEndsTheProgramWithItsCodeKeepGoingOrNot) {
    TempDir dir;
    dir.write("quitter.py", "import sys\nsys.exit(5)\n");
    dir.write("rerun.py",
              "import rova\n"
              "def inner(code):\n"
              "    rova.eval('python(\"import sys; sys.exit(' + str(code) + ')\")')\n"
              "    print('not after an exit')\n");
    struct Case {
        const char* code;
        int status;
        const char* err;
    };
    const Case cases[] = {
        {"import sys; sys.exit()", 0, ""},
        {"import sys; sys.exit(0)", 0, ""},
        {"raise SystemExit", 0, ""},
        {"import sys; sys.exit(3)", 3, ""},
        {"import sys; sys.exit(-1)", 255, ""},
        {"import sys; sys.exit('bye')", 1, "bye\n"},
        {"import quitter", 5, ""},  // a module on the script path
        {"import rerun; rerun.inner(7)", 7, ""},
        {"import rerun; rerun.inner(0)", 0, ""},
    };
    for (const Case& c : cases) {
        for (const bool keepGoing : {false, true}) {
            const auto run = runRovaStatements(
                std::string("print(\"before\\n\")\ncreate time -name kept\npython(\"") + c.code +
                    "\")\nprint(\"after\\n\")\nget no.such\nprint(\"still after\\n\")",
                keepGoing
                    ? std::vector<std::string>{"--keep-going", "--script-path", dir.path().string()}
                    : std::vector<std::string>{"--script-path", dir.path().string()});
            EXPECT_EQ(run.exitCode, c.status) << c.code << " keep going " << keepGoing;
            EXPECT_EQ(run.out, "before\nkept\n") << c.code << " keep going " << keepGoing;
            EXPECT_EQ(run.err, c.err) << c.code << " keep going " << keepGoing;
        }
    }

    // Python code that catches the exit goes on; the exit asked for later still counts.
    const auto caught = runRovaStatements(
        "python(\"import rerun\\ntry:\\n    rerun.inner(9)\\nexcept SystemExit as e:\\n    "
        "print('caught', e.code)\")\nprint(\"on\\n\")\npython(\"raise SystemExit(2)\")\n"
        "print(\"not here\\n\")",
        {"--script-path", dir.path().string()});
    EXPECT_EQ(caught.exitCode, 2) << caught.err;
    EXPECT_EQ(caught.out, "caught 9\non\n");

    // A failure already reported under --keep-going is not turned into success.
    const auto failedFirst = runRovaStatements(
        "get no.such\npython(\"import sys; sys.exit(0)\")\nprint(\"no\\n\")", {"--keep-going"});
    EXPECT_EQ(failedFirst.exitCode, 1);
    EXPECT_EQ(failedFirst.out, "");
    EXPECT_EQ(linesOf(failedFirst.err).size(), 1u) << failedFirst.err;

    // Script files after the one that exited do not run either.
    const auto second = dir.write("second.rova", "print(\"second file\\n\")\n");
    const auto first = dir.write("first.rova", "python(\"import sys; sys.exit(4)\")\n");
    const auto files = runRova({"--keep-going", first.string(), second.string()});
    EXPECT_EQ(files.exitCode, 4) << files.err;
    EXPECT_EQ(files.out, "");
}

TEST(Python, BakeRefusesValuesThatAreNotOfTheirDocumentedType) {
    TempDir dir;
    const std::string out = (dir.path() / "take.glb").string();
    struct Case {
        const char* call;
        const char* error;
    };
    const Case cases[] = {
        {"rova.bake(OUT, 2.5, 'box')", "frames must be an int, got float 2.5"},
        {"rova.bake(OUT, True, 'box')", "frames must be an int, got bool True"},
        {"rova.bake(OUT, '3', 'box')", "frames must be an int, got str '3'"},
        {"rova.bake(OUT, 3, 'box', start=-3.7)", "start must be an int, got float -3.7"},
        {"rova.bake(OUT, 3, 'box', replay='no')", "replay must be a bool, got str 'no'"},
        {"rova.bake(OUT, 3, 'box', replay=0)", "replay must be a bool, got int 0"},
        {"rova.bake(3, 3, 'box')", "output must be a str or path, got int 3"},
        {"rova.bake(OUT, 3, 'box', table=b'x.csv')",
         "table must be a str or path, got bytes b'x.csv'"},
        {"rova.bake(OUT, 3, 7)", "an item must be a str, got int 7"},
    };
    for (const Case& c : cases) {
        const auto run = runRovaStatements("cube -name box\npython(\"OUT = '" + out + "'; " +
                                           c.call + "\")\ntime -frame");
        EXPECT_EQ(run.exitCode, 1) << c.call;
        EXPECT_EQ(run.out, "box\n") << c.call;
        EXPECT_EQ(run.err,
                  std::string("error: line 2: python: TypeError: rova.bake: ") + c.error + "\n")
            << c.call;
        EXPECT_FALSE(std::filesystem::exists(out)) << c.call;
    }
    // The documented types bake: integers of any integral type, a path object, replay off.
    const auto good = runRovaStatements(
        "cube -name box\npython(\"import pathlib\\nprint(rova.bake(pathlib.Path('" + out +
        "'), 2, 'box', start=-3, replay=False))\")\ntime -frame");
    EXPECT_EQ(good.exitCode, 0) << good.err;
    EXPECT_TRUE(std::filesystem::exists(out));
    EXPECT_EQ(linesOf(good.out).back(), "-2");
}

TEST(Python, CodeThatRunsItselfStopsAtTheOneNestingLimit) {
    TempDir dir;
    // rova.eval -> python -> rova.eval ... with Python's own recursion limit out of the way.
    dir.write("again.py",
              "import rova, sys\n"
              "sys.setrecursionlimit(1000000)\n"
              "def again():\n"
              "    rova.eval('python(\"import again; again.again()\")')\n");
    dir.write("mixed.rova", "python(\"rova.eval('source mixed.rova')\")\n");
    for (const char* statement : {"python(\"import again; again.again()\")", "source mixed.rova"}) {
        const auto run = runRovaStatements(std::string(statement) + "\nls",
                                           {"--keep-going", "--script-path", dir.path().string()});
        EXPECT_EQ(run.exitCode, 1) << statement;
        EXPECT_EQ(run.out, "sceneTime\n") << statement;
        ASSERT_EQ(linesOf(run.err).size(), 1u) << statement << ": " << run.err;
        EXPECT_NE(run.err.find("nested more than 64 deep"), std::string::npos) << run.err;
    }
}

}  // namespace
}  // namespace rova::test
