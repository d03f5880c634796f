// The embedded Python interpreter and its host module.
#include <gtest/gtest.h>

#include "RovaProcess.h"

namespace rova::test {
namespace {

TEST(Python, OutputInterleavesWithTheHostsInOrder) {
    const auto run = runStatements(
        "print(\"host 1\\n\")\npython(\"print('python 1')\")\nprint(\"host 2\\n\")\n"
        "python(\"import sys; sys.stderr.write('to stderr\\\\n'); print('python 2')\")");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "host 1\npython 1\nhost 2\npython 2\n");
    EXPECT_EQ(run.err, "to stderr\n");
}

TEST(Python, NamesPersistBetweenStatements) {
    const auto run = runStatements("python(\"x = 6 * 7\")\npython(\"print(x)\")");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "42\n");
}

TEST(Python, HostRoundTripThroughTheRovaModule) {
    const auto run = runStatements(
        "time -fps 24\n"
        "python(\"name = rova.eval('create time -name fromPython')\")\n"
        "python(\"print(repr(name), rova.exists(name), rova.exists('nope'))\")\n"
        "python(\"print(rova.ls('time'))\")\n"
        "python(\"rova.eval('time -frame 12'); print(rova.eval('time; time -frame'))\")\n"
        "python(\"print(repr(rova.eval('print(\\\"side effect\\\\\\\\n\\\")')))\")\n"
        "python(\"print(rova.get('sceneTime.time'))\")\n");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "'fromPython' True False\n"
              "['sceneTime', 'fromPython']\n"
              "0.5\n12\n"
              "side effect\n''\n"
              "0.5\n");
}

TEST(Python, HostErrorsRaiseAndCanBeCaught) {
    const auto run = runStatements(
        "python(\"try:\\n    rova.eval('get no.such')\\nexcept rova.Error as e:\\n    "
        "print('caught', str(e).startswith('line 1: get: '))\")");
    EXPECT_EQ(run.status, 0) << run.err;
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
        {"def", "SyntaxError: invalid syntax (<python>, line 1)"},
        {"raise ValueError('two\\\\nlines')", "ValueError: two lines"},
        {"import sys; sys.exit(3)", "SystemExit: 3"},
    };
    for (const Case& c : cases) {
        const auto run = runStatements(std::string("print(\"before\\n\")\npython(\"") + c.code +
                                       "\")\nprint(\"after\\n\")");
        EXPECT_EQ(run.status, 1) << c.code;
        EXPECT_EQ(run.out, "before\n") << c.code;
        EXPECT_EQ(run.err, std::string("error: line 2: python: ") + c.error + "\n") << c.code;
    }
}

TEST(Python, AFailingStatementTakesBackWhatItsPythonChanged) {
    const auto run = runStatements(
        "python(\"rova.eval('create time -name half'); raise RuntimeError('stop')\")\nls",
        {"--keep-going"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "sceneTime\n");
    EXPECT_EQ(run.err, "error: line 1: python: RuntimeError: stop\n");
}

TEST(Python, OneStatementIsOneUndoStep) {
    const auto run = runStatements(
        "python(\"for n in ('a', 'b', 'c'): rova.eval('create time -name ' + n)\")\nls\nundo\nls\n"
        "redo\nls");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "sceneTime a b c\nsceneTime\nsceneTime a b c\n");
}

TEST(Python, ModulesOnTheScriptPathImport) {
    TempDir dir;
    dir.write("greeter.py", "import rova\n\ndef greet(who):\n    print('hello ' + who)\n");
    const auto run = runStatements("python(\"import greeter\"); python(\"greeter.greet('host');\")",
                                   {"--script-path", dir.path().string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "hello host\n");

    const auto viaEnv = runRova({.args = {"-c", "python(\"import greeter; greeter.greet('env')\")"},
                                 .env = {{"ROVA_SCRIPT_PATH", dir.path().string()}}});
    EXPECT_EQ(viaEnv.status, 0) << viaEnv.err;
    EXPECT_EQ(viaEnv.out, "hello env\n");
}

}  // namespace
}  // namespace rova::test
