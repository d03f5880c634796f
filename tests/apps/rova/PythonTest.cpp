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

// rova.changes() grows with what changes the scene, and only with that.
TEST(Python, TheChangeCountGrowsWithEveryChangeToTheScene) {
    const auto run = runRovaStatements(
        "create transform -name t\n"
        "python <<PY\n"
        "def changed(statement):\n"
        "    before = rova.changes()\n"
        "    rova.eval(statement)\n"
        "    return rova.changes() != before\n"
        "print([changed(s) for s in ('set t.tx 2', 'get t.tx', 'time -fps 30', 'time -fps 30',\n"
        "                             'time -frame 3', 'rename t u', 'refresh')])\n"
        "PY\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "t\n[True, False, True, False, True, True, False]\n");
}

TEST(Python, HostErrorsRaiseAndCanBeCaught) {
    const auto run = runRovaStatements(
        "python <<PY\n"
        "    print(issubclass(rova.Error, RuntimeError))\n"
        "    for statements in ('get no.such', 'time -frame x', 'create time -name a; get "
        "a.nope'):\n"
        "        try:\n"
        "            rova.eval(statements)\n"
        "        except rova.Error as error:\n"
        "            print(error)\n"
        "    print(rova.ls('time'))\n"
        "PY\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              "True\n"
              "line 1: get: no node named 'no'\n"
              "line 1: time: -frame expects a number, got 'x' (usage: time [-frame F | -seconds S] "
              "[-fps R])\n"
              "line 1: get: no attribute 'nope' on node 'a' (type time)\n"
              "['sceneTime', 'a']\n");
}

TEST(Python, HostTextThatIsNotUtf8ComesThroughAsSurrogateEscapes) {
    // A message or a result holding a byte that is not UTF-8 keeps it, as rova.get gives it.
    const auto run = runRovaStatements(
        "plugin -load kivo_rova\ncreate kivoGrabNode -name g\nset g.grabObject \"\\xff\"\n"
        "python <<PY\n"
        "    try:\n"
        "        rova.eval('get \"\\\\xff.x\"')\n"
        "    except rova.Error as error:\n"
        "        print(ascii(str(error)))\n"
        "    print(ascii(rova.eval('get g.grabObject')), rova.eval('get g.grabObject') == "
        "rova.get('g.grabObject'))\n"
        "    rova.eval('set g.grabObject \"a%sb\"' % rova.get('g.grabObject'))\n"
        "PY\n"
        "get g.grabObject\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("\"line 1: get: no node named '\\udcff'\"\n'\\udcff' True\n"),
              std::string::npos)
        << run.out;
    // What rova.get gave is set again as the bytes it stands for.
    EXPECT_NE(run.out.find("\na\xff"
                           "b\n"),
              std::string::npos)
        << run.out;
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

TEST(Python, TextBlocksRunWithTheirOwnIndentationAndTheScriptsLineNumbers) {
    TempDir dir;
    const auto script = dir.write("scene.rova",
                                  "create time -name clock\n"
                                  "python <<PY\n"
                                  "    def odd_sum(n):\n"
                                  "        total = 0\n"
                                  "        for i in range(n):\n"
                                  "            if i % 2:\n"
                                  "                total += i\n"
                                  "        return total\n"
                                  "\n"
                                  "    table = {\n"
                                  "        'sum': odd_sum(10),\n"
                                  "    }\n"
                                  "    print(table, rova.ls('time'))\n"
                                  "PY\n"
                                  "python(\"print(odd_sum(4))\")\n"
                                  "python <<PY\n"
                                  "  x = 1\n"
                                  "  if x:\n"
                                  "      y = missing\n"
                                  "PY\n"
                                  "print(\"not after a failure\\n\")\n");
    const auto run = runRova({script.string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "clock\n{'sum': 25} ['sceneTime', 'clock']\n4\n");
    EXPECT_EQ(run.err,
              "error: " + script.string() +
                  ": line 16: python: line 19: NameError: name 'missing' is not defined\n");

    // Without a script file the lines are the statements' own; a syntax error is found there too.
    const auto syntax =
        runRovaStatements("print(\"a\\n\")\npython <<PY\nif True:\n    x = (1,\nPY");
    EXPECT_EQ(syntax.exitCode, 1);
    EXPECT_EQ(syntax.out, "a\n");
    EXPECT_EQ(syntax.err, "error: line 2: python: line 4: SyntaxError: '(' was never closed\n");
}

TEST(Python, ErrorsNameTheFileAndLineWhereTheyWereRaised) {
    TempDir dir;
    const auto module = dir.write("faulty.py",
                                  "import json\n"
                                  "def divide(a, b):\n"
                                  "    return a / b\n"
                                  "def parse(text):\n"
                                  "    return json.loads(text)\n");
    dir.write("broken.py", "x = 1\n\ndef f(:\n    pass\n");
    dir.write("tool.py", "import faulty\n\nfaulty.divide(1, 0)\n");
    const std::string options = "--script-path";
    struct Case {
        std::string statements;
        std::string error;
    };
    const std::string m = module.string();
    const Case cases[] = {
        // Line 3 of a module is line 3, named with the module's file.
        {"python(\"import faulty\")\npython(\"faulty.divide(1, 0)\")",
         "error: line 2: python: " + m + ": line 3: ZeroDivisionError: division by zero"},
        // Raised inside Python's own library: the innermost line of the user's code.
        {"python(\"import faulty; faulty.parse('{')\")",
         "error: line 1: python: " + m +
             ": line 5: json.decoder.JSONDecodeError: Expecting "
             "property name enclosed in double quotes: line 1 "
             "column 2 (char 1)"},
        {"python(\"import broken\")",
         "error: line 1: python: " + (dir.path() / "broken.py").string() +
             ": line 3: SyntaxError: invalid syntax"},
        // Through a block, then the module.
        {"print(\"\")\npython <<PY\nimport faulty\n\nfaulty.divide(2, 0)\nPY",
         "error: line 2: python: line 5: " + m + ": line 3: ZeroDivisionError: division by zero"},
        // A file run with -file: its own name and line, then the module's.
        {"python -file tool.py", "error: line 1: python: tool.py: line 3: " + m +
                                     ": line 3: ZeroDivisionError: division by zero"},
    };
    for (const Case& c : cases) {
        const auto run = runRovaStatements(c.statements, {options, dir.path().string()});
        EXPECT_EQ(run.exitCode, 1) << c.statements;
        EXPECT_EQ(run.err, c.error + "\n") << c.statements;
    }
}

TEST(Python, GetReturnsValuesOfTheirType) {
    const auto run = runRovaStatements(
        "plugin -load kivo_rova\nplugin -load rova_probe\n"
        "create kivoGrabNode -name grab\ncreate kivoGesturesNode -name gestures\n"
        "create probeNode -name probe\ncube -name box\nmove -a 1 2.5 -3 box\n"
        "set grab.distanceGrab 0.1\ntime -frame 12\n"
        "python <<PY\n"
        "    for plug in ('grab.grabEnabled', 'gestures.swipeState', 'probe.mode', 'box.tx',\n"
        "                 'grab.distanceGrab', 'sceneTime.time', 'box.translate', 'probe.outs',\n"
        "                 'grab.grabObject'):\n"
        "        value = rova.get(plug)\n"
        "        print(plug, type(value).__name__, repr(value))\n"
        "    matrix = rova.get('box.worldMatrix')\n"
        "    print(len(matrix), matrix[12:15])\n"
        "    # A number is the one get prints, read back.\n"
        "    print(rova.get('grab.distanceGrab') == float(rova.eval('get grab.distanceGrab')))\n"
        "PY\n",
        {"--plugin-path", ROVA_PROBE_PLUGIN_DIR});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const auto lines = linesOf(run.out);
    const std::vector<std::string> expected = {
        "grab.grabEnabled bool True",
        "gestures.swipeState int -1",
        "probe.mode int 0",
        "box.tx float 1.0",
        "grab.distanceGrab float 0.10000000149011612",
        "sceneTime.time float 0.5",
        "box.translate tuple (1.0, 2.5, -3.0)",
        "probe.outs tuple (0.0,)",
        "grab.grabObject str 'null'",
        "16 (1.0, 2.5, -3.0)",
        "True",
    };
    ASSERT_GE(lines.size(), expected.size()) << run.out;
    const std::vector<std::string> tail(lines.end() - static_cast<long>(expected.size()),
                                        lines.end());
    EXPECT_EQ(tail, expected) << run.out;
}

TEST(Python, OnFrameRunsAfterEachTickOfPlayAndEachFrameOfBake) {
    TempDir dir;
    const std::string out = (dir.path() / "take.glb").string();
    const auto run = runRovaStatements(
        "cube -name box\n"
        "python <<PY\n"
        "    TABLE = '" +
        (dir.path() / "take.csv").string() +
        "'\n"
        "    ticks = []\n"
        "    rova.play(3, on_frame=ticks.append)\n"
        "    print(ticks)\n"
        "    seen = []\n"
        "    def key(frame):\n"
        "        seen.append((frame, rova.get('sceneTime.time')))\n"
        "        rova.eval('move -r 1 0 0 box')  # the next frame samples the move\n"
        "    print(rova.bake('" +
        out +
        "', 3, 'box', start=24, table=TABLE, on_frame=key))\n"
        "    print(seen, rova.get('box.tx'))\n"
        "    import csv\n"
        "    print([row['box.translation[0]'] for row in csv.DictReader(open(TABLE))])\n"
        "    rova.play(2)\n"
        "    print(len(ticks))\n"
        "PY\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              "box\n"
              "[1, 2, 3]\n"
              "baked 3 frames from frame 24: 1 objects (1 meshes, 0 changed shapes), 0 plugs (0 "
              "columns) -> " +
                  out + ", " + (dir.path() / "take.csv").string() +
                  " (24 fps, 1 scene unit = 0.02 m)\n"
                  "[(24, 1.0), (25, 1.0416666666666667), (26, 1.0833333333333333)] 3.0\n"
                  "['0', '0.02', '0.04']\n"
                  "3\n");
    EXPECT_TRUE(std::filesystem::exists(out));
}

TEST(Python, AnExceptionInOnFrameStopsThePlayOrBakeAndGoesOnAsRaised) {
    TempDir dir;
    const std::string out = (dir.path() / "take.glb").string();
    const auto caught = runRovaStatements(
        "cube -name box\n"
        "python <<PY\n"
        "    def stop_at(last, seen):\n"
        "        def on_frame(frame):\n"
        "            seen.append(frame)\n"
        "            if frame == last:\n"
        "                raise LookupError('enough at %d' % frame)\n"
        "        return on_frame\n"
        "    for run in (lambda f: rova.play(5, on_frame=f),\n"
        "                lambda f: rova.bake('" +
        out +
        "', 5, 'box', start=1, on_frame=f)):\n"
        "        seen = []\n"
        "        try:\n"
        "            run(stop_at(2, seen))\n"
        "        except LookupError as error:\n"
        "            print('caught', error, seen)\n"
        "    print(rova.get('sceneTime.time') * 24)\n"
        "PY\n");
    EXPECT_EQ(caught.exitCode, 0) << caught.err;
    EXPECT_EQ(caught.out, "box\ncaught enough at 2 [1, 2]\ncaught enough at 2 [1, 2]\n2.0\n");
    // A bake that stops writes nothing.
    EXPECT_FALSE(std::filesystem::exists(out));

    // Uncaught, it fails the statement naming the callback's line; sys.exit in it ends the run.
    const auto uncaught = runRovaStatements(
        "cube -name box\n"
        "python <<PY\n"
        "    def on_frame(frame):\n"
        "        if frame == 2:\n"
        "            raise ValueError('bad frame %d' % frame)\n"
        "    rova.bake('" +
        out +
        "', 3, 'box', on_frame=on_frame)\n"
        "PY\n"
        "print(\"not after a failure\\n\")\n");
    EXPECT_EQ(uncaught.exitCode, 1);
    EXPECT_EQ(uncaught.out, "box\n");
    EXPECT_EQ(uncaught.err, "error: line 2: python: line 5: ValueError: bad frame 2\n");
    EXPECT_FALSE(std::filesystem::exists(out));

    const auto exited = runRovaStatements(
        "python(\"import sys; rova.play(4, on_frame=lambda tick: tick == 3 and sys.exit(tick))\")\n"
        "print(\"not after an exit\\n\")");
    EXPECT_EQ(exited.exitCode, 3) << exited.err;
    EXPECT_EQ(exited.out, "");

    const auto notCallable = runRovaStatements("python(\"rova.play(2, on_frame=3)\")");
    EXPECT_EQ(notCallable.exitCode, 1);
    EXPECT_EQ(notCallable.err,
              "error: line 1: python: TypeError: rova.play: on_frame must be callable, got int "
              "3\n");
}

TEST(Python, FileOptionRunsAFileInTheSameNamespace) {
    TempDir dir;
    dir.write("setup.py",
              "import os\n"
              "base = os.path.basename(__file__)\n"
              "def double(x):\n"
              "    return 2 * x\n");
    const auto elsewhere = dir.write("other/more.py", "print('more', double(21))\n");
    const auto run = runRovaStatements(
        "python(\"__file__ = 'kept'\")\n"
        "python -file setup.py\n"
        "python(\"print(base, double(4), __file__)\")\n"
        "python -file \"" +
            elsewhere.string() +
            "\"\n"
            "python -file missing.py\n",
        {"--script-path", dir.path().string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "setup.py 8 kept\nmore 42\n");
    EXPECT_EQ(run.err, "error: line 5: python: no script 'missing.py' on the script path (" +
                           dir.path().string() + ":" +
                           (rovaProgram().parent_path().parent_path() / "scripts").string() +
                           ")\n");

    const auto both = runRovaStatements("python -file setup.py \"print(1)\"");
    EXPECT_EQ(both.exitCode, 1);
    EXPECT_NE(both.err.find("error: line 1: python: give the code"), std::string::npos) << both.err;
}

TEST(Python, APythonFileRunsAsTheProgram) {
    TempDir dir;
    dir.write("helper.py", "def greet():\n    return 'hello from beside'\n");
    const auto program =
        dir.write("take.py",
                  "import sys, os, rova\n"
                  "import helper\n"
                  "print(__name__, os.path.basename(sys.argv[0]), helper.greet())\n"
                  "name = rova.eval('create time -name clock')\n"
                  "print(rova.ls('time'))\n");
    const auto first = dir.write("first.rova", "print(\"first\\n\")\n");
    const auto run = runRova({first.string(), program.string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "first\n__main__ take.py hello from beside\n['sceneTime', 'clock']\n");

    // A syntax error in any file runs nothing; an exception names the file and line.
    const auto broken = dir.write("broken.py", "print('never')\nif True\n    pass\n");
    const auto refused = runRova({first.string(), broken.string()});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err, "error: " + broken.string() + ": line 2: SyntaxError: expected ':'\n");

    const auto failing = dir.write("failing.py", "import rova\n\nrova.eval('get no.such')\n");
    const auto failed = runRova({failing.string(), first.string()});
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_EQ(failed.out, "");
    EXPECT_EQ(failed.err, "error: " + failing.string() +
                              ": line 3: rova.Error: line 1: get: no node named 'no'\n");

    const auto exiting = dir.write("exiting.py", "import sys\nsys.exit(6)\n");
    EXPECT_EQ(runRova({exiting.string(), first.string()}).exitCode, 6);
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
        {"rova.bake(OUT, 3, 'box', fps='60')", "fps must be a number, got str '60'"},
        {"rova.bake(OUT, 3, 'box', unit=True)", "unit must be a number, got bool True"},
        {"rova.bake(OUT, 3, 'box', raw=1)", "raw must be a bool, got int 1"},
        {"rova.bake(OUT, 3, 'box', skin=['hand'])", "skin must be a str, got list ['hand']"},
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
    // The documented types bake: integers of any integral type, a path object, replay off, a
    // rate and a unit of any real type.
    const auto good = runRovaStatements(
        "cube -name box\npython(\"import pathlib, fractions\\nprint(rova.bake(pathlib.Path('" +
        out +
        "'), 2, 'box', start=-3, replay=False, fps=fractions.Fraction(30), unit=1))\")\n"
        "time -frame");
    EXPECT_EQ(good.exitCode, 0) << good.err;
    EXPECT_TRUE(std::filesystem::exists(out));
    EXPECT_TRUE(linesOf(good.out).at(1).ends_with("(30 fps, 1 scene unit = 1 m)")) << good.out;
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
