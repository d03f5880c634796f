// The simulated device in the rova program: replaying, plugging, focus, injection, capture and
// the ticks that drive a lockstep replay, as scripts use them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "RunRova.h"

namespace {

using kivorova::testing::RovaRun;
using kivorova::testing::runRova;
using kivorova::testing::runRovaStatements;

namespace fs = std::filesystem;

const std::string kLoaded = "Registering Kivo nodes... done.\n";
const std::string kUnloaded = "Unregistering Kivo nodes...\n done.\n";

// Three frames; the device is unplugged for a while between the second and the third.
const std::string kUnplugRecording =
    "kivo-recording version=1 rate=60 length=mm time=us gestures=none\n"
    "frame 1 t=0; hand 1 palm=0,200,0 normal=0,-1,0 dir=0,0,-1; pointable 11 hand=1 "
    "tip=-22,200,-85 dir=0,0,-1\n"
    "frame 2 t=16666; hand 1 palm=0,201,0 normal=0,-1,0 dir=0,0,-1\n"
    "event disconnect t=1000000\n"
    "event connect t=2000000\n"
    "frame 3 t=2000000; hand 1 palm=0,200,0 normal=0,-1,0 dir=0,0,-1\n"
    "end frames=3 events=2\n";

// A folder of its own for each test, removed afterwards.
class DeviceProgram : public ::testing::Test {
  protected:
    fs::path folder;

    void SetUp() override {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        folder = fs::temp_directory_path() /
                 ("kivo-device-" + std::to_string(::getpid()) + "-" + test->name());
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    std::string write(const std::string& name, const std::string& text) {
        const fs::path path = folder / name;
        std::ofstream(path) << text;
        return path.string();
    }
    static std::string read(const std::string& path) {
        std::ifstream file(path);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }
};

TEST_F(DeviceProgram, LockstepReplayAdvancesOneRecordedFramePerTick) {
    const std::string take = write("take.kivo", kUnplugRecording);
    const RovaRun run = runRovaStatements(
        "device -status\n"
        "device -replay \"" +
        take +
        "\"\n"
        "device -status\n"
        "play -frames 2\n"
        "device -status\n"
        "play -frames 1\n"
        "device -status\n"
        "play -frames 4\n"
        "device -status\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "") << "no progress bar when standard error is not a terminal";
    EXPECT_EQ(run.out,
              "source none, disconnected, focus on, frame -1, 0 frames delivered\n"
              "source replay " +
                  take +
                  " (lockstep) 0/3, connected, focus on, frame -1, "
                  "0 frames delivered\n"
                  "source replay " +
                  take +
                  " (lockstep) 2/3, connected, focus on, frame 2, "
                  "2 frames delivered\n"
                  // The unplugged second lasts a tick of its own.
                  "source replay " +
                  take +
                  " (lockstep) 2/3, disconnected, focus on, frame 2, "
                  "2 frames delivered\n"
                  "source replay " +
                  take +
                  " (lockstep, finished) 3/3, connected, focus on, "
                  "frame 3, 3 frames delivered\n");
}

TEST_F(DeviceProgram, LoopingReplayStartsOver) {
    const std::string take = write("take.kivo", kUnplugRecording);
    const RovaRun run = runRovaStatements("device -replay \"" + take +
                                          "\" -loop\n"
                                          "play -frames 9\n"
                                          "device -status\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("(lockstep, loop)"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("finished"), std::string::npos) << run.out;
}

TEST_F(DeviceProgram, RealTimeReplayIsNotDrivenByTicks) {
    const std::string take = write("take.kivo", kUnplugRecording);
    const RovaRun run = runRovaStatements("device -replay \"" + take +
                                          "\" -realtime -speed 0.001\n"
                                          "play -frames 5\n"
                                          "device -status\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("(real time"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("lockstep"), std::string::npos) << run.out;
}

TEST_F(DeviceProgram, ControllerCommandFollowsPlugAndFocus) {
    const RovaRun run = runRovaStatements(
        "plugin -load kivo_rova\n"
        "kivoSenseController -connected\n"
        "device -connect\n"
        "kivoSenseController -connected\n"
        "kivoSenseController -focus\n"
        "device -focus off\n"
        "kivoSenseController -focus\n"
        "device -focus on\n"
        "kivoSenseController -focus\n"
        "device -disconnect\n"
        "kivoSenseController -connected\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "false\ntrue\ntrue\nfalse\ntrue\nfalse\n");
    EXPECT_EQ(run.err, kLoaded + kUnloaded);
}

TEST_F(DeviceProgram, ControllerCommandFollowsARecordedUnplug) {
    const std::string take = write("take.kivo", kUnplugRecording);
    const RovaRun run = runRovaStatements(
        "plugin -load kivo_rova\n"
        "device -replay \"" +
        take +
        "\"\n"
        "play -frames 2; kivoSenseController -connected\n"
        "play -frames 1; kivoSenseController -connected\n"
        "play -frames 1; kivoSenseController -connected\n"
        "device -stop; kivoSenseController -connected\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "true\nfalse\ntrue\nfalse\n");
}

TEST_F(DeviceProgram, ConnectWithoutSourceShowsNoHands) {
    const RovaRun run = runRovaStatements(
        "device -connect; device -status\n"
        "device -disconnect; device -status\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              "source none, connected, focus on, frame 1, 1 frames delivered\n"
              "source none, disconnected, focus on, frame 1, 1 frames delivered\n");
}

TEST_F(DeviceProgram, InjectedLinesAreDelivered) {
    const RovaRun run = runRovaStatements(
        "device -inject \"frame 1 t=0; hand 1 palm=0,200,0 normal=0,-1,0 dir=0,0,-1\"\n"
        "device -status\n"
        "device -inject \"event disconnect t=10\"\n"
        "device -inject \"event focus-lost t=20\"\n"
        "device -status\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              "source inject, connected, focus on, frame 1, 1 frames delivered\n"
              "source inject, disconnected, focus off, frame 1, 1 frames delivered\n");
}

TEST_F(DeviceProgram, BadInjectedLineIsOneErrorAndChangesNothing) {
    const RovaRun run = runRova({"--keep-going", "-c",
                                 "device -inject \"frame 1 t=0; hand 1 palm=0,1\"\n"
                                 "device -status\n"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err,
              "error: line 1: device: inject: field 'palm' of hand 1: expected three numbers "
              "'x,y,z', got '0,1'\n");
    EXPECT_EQ(run.out, "source none, disconnected, focus on, frame -1, 0 frames delivered\n");
}

TEST_F(DeviceProgram, UnreadableRecordingsAreRefusedWithFileAndLine) {
    const std::string missing = (folder / "missing.kivo").string();
    const RovaRun absent = runRovaStatements("device -replay \"" + missing + "\"");
    EXPECT_EQ(absent.exitCode, 1);
    EXPECT_EQ(absent.err,
              "error: line 1: device: replay: " + missing + ": cannot open the file for reading\n");

    std::string future = kUnplugRecording;
    future.replace(future.find("version=1"), 9, "version=2");
    const std::string newer = write("newer.kivo", future);
    const RovaRun refused = runRova({"--keep-going", "-c",
                                     "device -replay \"" + newer +
                                         "\"\n"
                                         "device -status\n"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find(newer + ":1: field 'version'"), std::string::npos) << refused.err;
    EXPECT_EQ(refused.err.find('\n'), refused.err.size() - 1) << "one line: " << refused.err;
    EXPECT_EQ(refused.out, "source none, disconnected, focus on, frame -1, 0 frames delivered\n")
        << "nothing was half-loaded";
}

TEST_F(DeviceProgram, CaptureRecordsWhatTheDeviceDelivered) {
    const std::string take = write("take.kivo", kUnplugRecording);
    const std::string capture = (folder / "capture.kivo").string();
    const RovaRun run = runRovaStatements("device -record \"" + capture +
                                          "\"\n"
                                          "device -replay \"" +
                                          take +
                                          "\"\n"
                                          "play -frames 4\n"
                                          "device -stop\n"
                                          "device -status\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "source none, disconnected, focus on, frame 3, 3 frames delivered\n");
    const std::string captured = read(capture);
    EXPECT_EQ(captured.rfind("kivo-recording version=1 ", 0), 0u) << captured;
    EXPECT_NE(captured.find("event disconnect"), std::string::npos) << captured;
    EXPECT_NE(captured.find("end frames=3 "), std::string::npos) << captured;

    // What was captured replays like the original.
    const RovaRun again = runRovaStatements("device -replay \"" + capture +
                                            "\"\n"
                                            "play -frames 8\n"
                                            "device -status\n");
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_NE(again.out.find("(lockstep, finished) 3/3, "), std::string::npos) << again.out;
}

TEST_F(DeviceProgram, ARecordingWithAnAbsurdRateIsRefusedWithFileLineAndField) {
    std::string text = kUnplugRecording;
    text.replace(text.find("rate=60"), 7, "rate=1e-300");
    const std::string take = write("slow.kivo", text);
    const RovaRun run = runRovaStatements("device -replay \"" + take + "\" -loop");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "error: line 1: device: replay: " + take +
                           ":1: field 'rate' of header: must be between 1 and 10000 frames per "
                           "second, got '1e-300'\n");
}

TEST_F(DeviceProgram, ACaptureThatCannotBeWrittenFailsAtOnce) {
    const std::string missing = (folder / "no" / "capture.kivo").string();
    const RovaRun run = runRova({"--keep-going", "-c",
                                 "device -record /dev/full\n"
                                 "device -record \"" +
                                     missing +
                                     "\"\n"
                                     "device -status\n"
                                     "device -stop\n"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err,
              "error: line 1: device: record: /dev/full: cannot open the file for writing (not a "
              "regular file)\n"
              "error: line 2: device: record: " +
                  missing + ": cannot open the file for writing (No such file or directory)\n");
    EXPECT_EQ(run.out, "source none, disconnected, focus on, frame -1, 0 frames delivered\n")
        << "no capture is running";
}

TEST_F(DeviceProgram, MalformedStatementsAreRefusedBeforeAnythingRuns) {
    const std::string usage =
        " (usage: device -replay PATH [-realtime] [-speed X] [-loop] | device -connect | device "
        "-disconnect | device -focus on|off | device -inject TEXT | device -record PATH | device "
        "-stop | device -status | device -listen [-port P] [-root DIR] | device -await N "
        "[-timeout S] | device -config KEY VALUE)\n";
    const struct {
        std::string statement, message;
    } cases[] = {
        {"device",
         "give one of -replay, -connect, -disconnect, -focus, -inject, -record, -stop, "
         "-status, -listen, -await or -config"},
        {"device -connect -disconnect",
         "give one of -replay, -connect, -disconnect, -focus, -inject, -record, -stop, "
         "-status, -listen, -await or -config"},
        {"device -connect -loop", "-realtime, -speed and -loop go with -replay"},
        {"device -replay take.kivo -speed 2",
         "-speed goes with -realtime (a lockstep replay follows the host's ticks)"},
        {"device -replay take.kivo -realtime -speed 0",
         "-speed must be between 0.001 and 1000, got 0"},
        {"device -replay take.kivo -realtime -speed 1e-15",
         "-speed must be between 0.001 and 1000, got 1e-15"},
        {"device -replay take.kivo -realtime -speed 1e-12",
         "-speed must be between 0.001 and 1000, got 1e-12"},
        {"device -replay take.kivo -realtime -speed 1001",
         "-speed must be between 0.001 and 1000, got 1001"},
        {"device -focus maybe", "-focus expects on or off, got 'maybe'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.statement);
        // The earlier statement never runs: the whole input is checked first.
        const RovaRun run = runRovaStatements("device -connect\ndevice -status\n" + c.statement);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "error: line 3: device: " + c.message + usage);
    }
}

TEST_F(DeviceProgram, PlayNeedsACountOfZeroOrMore) {
    const RovaRun negative = runRovaStatements("play -frames -2");
    EXPECT_EQ(negative.exitCode, 1);
    EXPECT_EQ(negative.err,
              "error: line 1: play: -frames must be 0 or more, got -2 (usage: play -frames N | "
              "play -live [-frames N | -seconds S] [-poses PATH])\n");
    const RovaRun missing = runRovaStatements("play");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err,
              "error: line 1: play: -frames N is required (or -live) (usage: play -frames N | "
              "play -live [-frames N | -seconds S] [-poses PATH])\n");
    const RovaRun none = runRovaStatements("play -frames 0; device -status");
    EXPECT_EQ(none.exitCode, 0) << none.err;
}

TEST_F(DeviceProgram, EachPlayedTickRunsTheStatementsQueuedForIdleTime) {
    // The probe plug-in's probeQueue queues its word with executeCommandOnIdle, as the device
    // manager does from the device's thread.
    const RovaRun run = runRovaStatements("plugin -load \"" KIVOROVA_PROBE_PLUGIN
                                          "\"\n"
                                          "probeQueue \"print(\\\"first tick\\\\n\\\")\"\n"
                                          "print(\"queued\\n\")\n"
                                          "play -frames 1\n"
                                          "probeQueue \"print(\\\"third tick\\\\n\\\")\"\n"
                                          "play -frames 0\n"
                                          "print(\"not yet\\n\")\n"
                                          "play -frames 2\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "queued\nfirst tick\nnot yet\nthird tick\n");
}

// One frame at the highest rate, looped at the highest speed: the script's device statements,
// which wait for the device's lock, still get their turn.
TEST_F(DeviceProgram, ALoopedRealTimeReplayAtTopSpeedLeavesTheScriptRunning) {
    const std::string take =
        write("fast.kivo",
              "kivo-recording version=1 rate=10000 length=mm time=us gestures=none\n"
              "frame 1 t=0; hand 1 palm=0,200,0 normal=0,-1,0 dir=0,0,-1\n"
              "end frames=1 events=0\n");
    const RovaRun run = runRovaStatements("device -replay \"" + take +
                                          "\" -realtime -loop -speed 1000\n"
                                          "device -focus off\n"
                                          "device -disconnect\n"
                                          "device -connect\n"
                                          "device -stop\n"
                                          "print(\"stopped\\n\")\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "stopped\n");
}

// A capture is still running when the program ends: the end completes it, as `device -stop` would,
// or says why it could not, with a failing exit status. Python's os._exit ends the program too.
TEST_F(DeviceProgram, TheProgramsEndCompletesARunningCaptureOrReportsItsFailure) {
    const std::string capture = (folder / "capture.kivo").string();
    std::string statements = "device -record \"" + capture + "\"\n";
    const auto frames = [](int count) {
        std::string text;
        for (int k = 0; k < count; ++k)
            text += "device -inject \"frame 1 t=" + std::to_string(k * 1000) +
                    "; hand 1 palm=0,200,0 normal=0,-1,0 dir=0,0,-1\"\n";
        return text;
    };
    const auto partFiles = [&] {
        int count = 0;
        for (const auto& entry : fs::directory_iterator(folder))
            count += entry.path().extension() == ".part" ? 1 : 0;
        return count;
    };

    const RovaRun ended = runRovaStatements(statements + frames(3));
    EXPECT_EQ(ended.exitCode, 0) << ended.err;
    EXPECT_NE(read(capture).find("end frames=3 "), std::string::npos) << read(capture);
    fs::remove(capture);

    const RovaRun exited =
        runRovaStatements(statements + frames(2) + "python(\"import os; os._exit(3)\")\n");
    EXPECT_EQ(exited.exitCode, 3) << exited.err;
    EXPECT_NE(read(capture).find("end frames=2 "), std::string::npos) << read(capture);
    EXPECT_EQ(partFiles(), 0);
    fs::remove(capture);

    // Files of more than 2 KiB cannot be written (EFBIG, as a full disk gives ENOSPC): the capture
    // of 60 frames fails on the way.
    const auto limited = [&](const std::string& text) {
        return kivorova::testing::runProgram(
            "/bin/sh", {"-c", "trap '' XFSZ; exec prlimit --fsize=2048 -- \"$0\" -c \"$1\"",
                        kivorova::testing::rovaProgram().string(), text});
    };
    const std::string failure = "error: capture still running at the end: record: " + capture +
                                ": write error (File too large)\n";
    const RovaRun full = limited(statements + frames(60));
    EXPECT_EQ(full.exitCode, 1);
    EXPECT_EQ(full.err, failure);
    const RovaRun fullExit =
        limited(statements + frames(60) + "python(\"import os; os._exit(0)\")\n");
    EXPECT_EQ(fullExit.exitCode, 1);
    EXPECT_EQ(fullExit.err, failure);
    EXPECT_FALSE(fs::exists(capture));
    EXPECT_EQ(partFiles(), 0) << "a capture that failed leaves nothing behind";
}

TEST_F(DeviceProgram, DeviceChangesLeaveNothingToUndo) {
    const RovaRun run = runRovaStatements("device -connect\nundo\n");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "error: line 2: undo: nothing to undo\n");
}

}  // namespace
