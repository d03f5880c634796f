// The hand-tracking node in the headless host: frames injected into the simulated device as lines
// of the recording format, outputs read with `get`. Each `refresh` lets the live data thread
// finish a pass over the newest device frame first, so the reads after it show that frame.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LoadReport.h"
#include "RunRova.h"
#include "ScriptValues.h"
#include "TempDir.h"

namespace {

using kivorova::testing::linesOf;
using kivorova::testing::numbersOf;
using kivorova::testing::occurrences;
using kivorova::testing::RovaRun;
using kivorova::testing::runRovaScript;
using kivorova::testing::sourceRoot;
using kivorova::testing::TempDir;

// A live node `k` with the device plugged in.
const std::string kLiveNode =
    "plugin -load kivo_rova\n"
    "create kivoTransform -name k\n"
    "device -connect\n"
    "set k.live on\n";

// One frame delivered, then one host tick.
std::string inject(const std::string& frame) {
    return "device -inject \"" + frame + "\"\nrefresh\n";
}

std::string gets(const std::vector<std::string>& plugs) {
    std::string script;
    for (const std::string& plug : plugs) {
        script += "get k." + plug + "\n";
    }
    return script;
}

// A palm facing down at (0, 200, 0), fingers towards the screen, and one finger of it.
const std::string kPalmDown =
    "hand 1 palm=0,200,0 normal=0,-1,0 dir=0,0,-1; pointable 11 hand=1 tip=-22,200,-85 dir=0,0,-1";

using Matrix = std::vector<double>;

// The half turn about +Y at a translation, and the pointable along -Z (its +Z world up).
Matrix halfTurn(double x, double y, double z) {
    return {-1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, 0, x, y, z, 1};
}
Matrix alongMinusZ(double x, double y, double z) {
    return {1, 0, 0, 0, 0, 0, -1, 0, 0, 1, 0, 0, x, y, z, 1};
}

// The printed matrix equals the expected one within rounding of the turns.
void expectMatrix(const std::string& line, const Matrix& expected) {
    const std::vector<double> numbers = numbersOf(line);
    ASSERT_EQ(numbers.size(), 16u) << line;
    for (std::size_t k = 0; k < 16; ++k) {
        EXPECT_NEAR(numbers[k], expected[k], 1e-12) << "element " << k << " of " << line;
    }
}

// Standard output after the node's name, one line per query.
std::vector<std::string> results(const RovaRun& run, std::size_t skip = 1) {
    std::vector<std::string> lines = linesOf(run.out);
    if (lines.size() < skip) {
        return {};
    }
    return {lines.begin() + static_cast<std::ptrdiff_t>(skip), lines.end()};
}

TEST(KivoTransformNode, PalmFacingDownIsTheHalfTurnPlacedWithScaleAndOffset) {
    const RovaRun run = runRovaScript(
        kLiveNode + inject("frame 1 t=0; " + kPalmDown) +
        gets({"outputPalm0", "outputPalm0Enabled", "outputPointableCount0", "outputPointable0_0",
              "outputPointable0_0Enabled", "outputPointable0_1Enabled", "outputPalm1Enabled",
              "outputPointableCount1", "outputPointableCount", "outputPointable0",
              "outputPointable0Enabled", "outputPointable1Enabled"}) +
        "set k.scale 1\nset k.offset 1 2 3\n" + inject("frame 2 t=1000; " + kPalmDown) +
        gets({"outputPalm0", "outputPointable0"}));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto lines = results(run);
    ASSERT_EQ(lines.size(), 14u) << run.out;
    expectMatrix(lines[0], halfTurn(0, 10, 0));
    EXPECT_EQ(lines[1], "true");
    EXPECT_EQ(lines[2], "1");
    expectMatrix(lines[3], alongMinusZ(-1.1, 10, -4.25));
    EXPECT_EQ(lines[4], "true");
    EXPECT_EQ(lines[5], "false");
    EXPECT_EQ(lines[6], "false");
    EXPECT_EQ(lines[7], "0");
    EXPECT_EQ(lines[8], "1");
    expectMatrix(lines[9], alongMinusZ(-1.1, 10, -4.25));
    EXPECT_EQ(lines[10], "true");
    EXPECT_EQ(lines[11], "false");
    // Scale 1 and an offset: the device translation shifted, the rotation as before.
    expectMatrix(lines[12], halfTurn(1, 202, 3));
    expectMatrix(lines[13], alongMinusZ(-21, 202, -82));
}

// A palm facing up makes the primary axis exactly -Y, where the shortest turn is not unique.
TEST(KivoTransformNode, PalmFacingUpIsARotationWithYDownAndZAlongTheHand) {
    const RovaRun run = runRovaScript(
        kLiveNode + inject("frame 1 t=0; hand 1 palm=0,200,0 normal=0,1,0 dir=0,0,-1") +
        gets({"outputPalm0"}));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto lines = results(run);
    ASSERT_EQ(lines.size(), 1u) << run.out;
    expectMatrix(lines[0], {1, 0, 0, 0, 0, -1, 0, 0, 0, 0, -1, 0, 0, 10, 0, 1});
}

std::string palm(int id, int x) {
    return "hand " + std::to_string(id) + " palm=" + std::to_string(x) +
           ",200,0 normal=0,-1,0 dir=0,0,-1";
}
std::string pointable(int id, int hand, int x) {
    return "pointable " + std::to_string(id) + " hand=" + std::to_string(hand) +
           " tip=" + std::to_string(x) + ",200,0 dir=0,0,-1";
}

TEST(KivoTransformNode, KeepsTwoHandsFivePointablesEachAndFifteenFramePointables) {
    // Three hands; the first has six pointables; fourteen more belong to no hand: twenty in the
    // frame's own list, the first hand's six first.
    std::string frame = "frame 1 t=0; " + palm(1, 0) + "; " + palm(2, 100) + "; " + palm(3, 200);
    for (int j = 0; j < 6; ++j) {
        frame += "; " + pointable(10 + j, 1, 10 * (j + 1));
    }
    for (int k = 0; k < 14; ++k) {
        frame += "; " + pointable(20 + k, 0, 1000 + 10 * k);
    }
    const RovaRun run = runRovaScript(
        kLiveNode + inject(frame) +
        gets({"outputPalm1", "outputPalm1Enabled", "outputPointableCount0", "outputPointable0_4",
              "outputPointableCount1", "outputPointable1_0Enabled", "outputPointableCount",
              "outputPointable14", "outputPointable14Enabled", "outputPointable5"}));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto lines = results(run);
    ASSERT_EQ(lines.size(), 10u) << run.out;
    expectMatrix(lines[0], halfTurn(5, 10, 0));  // the second hand, not the third
    EXPECT_EQ(lines[1], "true");
    EXPECT_EQ(lines[2], "5");
    expectMatrix(lines[3], alongMinusZ(2.5, 10, 0));  // the fifth of the six
    EXPECT_EQ(lines[4], "0");
    EXPECT_EQ(lines[5], "false");
    EXPECT_EQ(lines[6], "15");
    expectMatrix(lines[7], alongMinusZ(54, 10, 0));  // the ninth pointable of no hand
    EXPECT_EQ(lines[8], "true");
    expectMatrix(lines[9], alongMinusZ(3, 10, 0));  // the first hand's sixth
}

TEST(KivoTransformNode, AbsentSecondHandHasEveryFlagOffWhateverTheFramePointables) {
    const std::string frame = "frame 1 t=0; " + palm(1, 0) + "; " + pointable(10, 1, 10) + "; " +
                              pointable(11, 1, 20) + "; " + pointable(12, 0, 30) + "; " +
                              pointable(13, 0, 40) + "; " + pointable(14, 0, 50);
    std::vector<std::string> plugs = {"outputPalm0Enabled",        "outputPalm1Enabled",
                                      "outputPointableCount0",     "outputPointable0_1Enabled",
                                      "outputPointable0_2Enabled", "outputPointableCount1"};
    for (int j = 0; j < 5; ++j) {
        plugs.push_back("outputPointable1_" + std::to_string(j) + "Enabled");
    }
    plugs.insert(plugs.end(),
                 {"outputPointableCount", "outputPointable4Enabled", "outputPointable5Enabled"});
    const RovaRun run = runRovaScript(kLiveNode + inject(frame) + gets(plugs));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              "k\ntrue\nfalse\n2\ntrue\nfalse\n0\n"
              "false\nfalse\nfalse\nfalse\nfalse\n"
              "5\ntrue\nfalse\n");
}

TEST(KivoTransformNode, EmptyFrameClearsFlagsAndCountsAndKeepsMatrices) {
    const std::vector<std::string> plugs = {"outputPalm0Enabled",      "outputPointable0_0Enabled",
                                            "outputPointable0Enabled", "outputPointableCount0",
                                            "outputPointableCount",    "outputPalm0",
                                            "outputPointable0_0",      "outputPointable0"};
    const RovaRun run =
        runRovaScript(kLiveNode + inject("frame 1 t=0; " + kPalmDown) + gets({"outputPalm0"}) +
                      inject("frame 2 t=1000") + gets(plugs));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto lines = results(run);
    ASSERT_EQ(lines.size(), 9u) << run.out;
    EXPECT_EQ(lines[1], "false");
    EXPECT_EQ(lines[2], "false");
    EXPECT_EQ(lines[3], "false");
    EXPECT_EQ(lines[4], "0");
    EXPECT_EQ(lines[5], "0");
    expectMatrix(lines[6], halfTurn(0, 10, 0));
    expectMatrix(lines[7], alongMinusZ(-1.1, 10, -4.25));
    expectMatrix(lines[8], alongMinusZ(-1.1, 10, -4.25));
}

TEST(KivoTransformNode, FrameTimeIsTheDeviceTimeOfTheFrameShownWithOrWithoutAHand) {
    const RovaRun run =
        runRovaScript(kLiveNode + gets({"frameTime"}) + inject("frame 1 t=1500000; " + kPalmDown) +
                      gets({"frameTime"}) + inject("frame 2 t=1540000") +
                      gets({"frameTime", "outputPalm0Enabled"}));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto lines = results(run);
    ASSERT_EQ(lines.size(), 4u) << run.out;
    EXPECT_EQ(lines[0], "0");
    EXPECT_EQ(lines[1], "1.5");
    EXPECT_EQ(lines[2], "1.54");
    EXPECT_EQ(lines[3], "false");
}

// The palm of kPalmDown under each camera setting; the default camera `persp` sits at (0, 0, 10)
// with the world's axes.
struct CameraCase {
    std::string name;
    std::string setUp;  // statements before the frame
    Matrix palm;
};

void PrintTo(const CameraCase& c, std::ostream* out) {
    *out << c.name;
}

class KivoTransformNodeCamera : public ::testing::TestWithParam<CameraCase> {};

TEST_P(KivoTransformNodeCamera, PlacesThePalm) {
    const CameraCase& c = GetParam();
    const RovaRun run = runRovaScript(kLiveNode + c.setUp + inject("frame 1 t=0; " + kPalmDown) +
                                      gets({"outputPalm0"}));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto lines = linesOf(run.out);
    ASSERT_FALSE(lines.empty());
    expectMatrix(lines.back(), c.palm);
}

const std::string kTurnedCamera =
    "camera -name C\nmove -a 1 2 3 C\nrotate -os 0 90 0 C\nview -camera C\n";
// Camera C's right, up and back are world -Z, +Y and +X, its eye (1, 2, 3).
const Matrix kPalmUnderC = {0, 0, 1, 0, 0, 1, 0, 0, -1, 0, 0, 0, 0, 10, 0, 1};
const Matrix kPalmAtC = {0, 0, 1, 0, 0, 1, 0, 0, -1, 0, 0, 0, 1, 12, 3, 1};

const CameraCase kCameraCases[] = {
    {"position without rotation has no effect", "set k.relativeToCameraPos on\n",
     halfTurn(0, 10, 0)},
    {"position without rotation has no effect under a turned camera",
     kTurnedCamera + "set k.relativeToCameraPos on\n", halfTurn(0, 10, 0)},
    {"default camera, rotation only", "set k.relativeToCameraRot on\n", halfTurn(0, 10, 0)},
    {"default camera, rotation and position",
     "set k.relativeToCameraRot on\nset k.relativeToCameraPos on\n", halfTurn(0, 10, 10)},
    {"turned camera, rotation only", kTurnedCamera + "set k.relativeToCameraRot on\n", kPalmUnderC},
    {"turned camera, rotation and position",
     kTurnedCamera + "set k.relativeToCameraRot on\nset k.relativeToCameraPos on\n", kPalmAtC},
};

INSTANTIATE_TEST_SUITE_P(Cameras, KivoTransformNodeCamera, ::testing::ValuesIn(kCameraCases));

TEST(KivoTransformNode, OutputConnectedToATransformMovesIt) {
    const RovaRun run =
        runRovaScript(kLiveNode +
                      "transform -name obj\n"
                      "connect k.outputPalm0 obj.inputMatrix\n"
                      "get obj.worldMatrix\n" +
                      inject("frame 1 t=0; " + kPalmDown) + "get obj.worldMatrix\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto lines = results(run, 2);
    ASSERT_EQ(lines.size(), 2u) << run.out;
    expectMatrix(lines[0], {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
    expectMatrix(lines[1], halfTurn(0, 10, 0));
}

TEST(KivoTransformNode, ComputeAnswersFiveForInputsAndOneWithoutARecord) {
    const RovaRun run = runRovaScript(
        "plugin -load kivo_rova\n"
        "create kivoTransform -name k\n"
        "evaluate k.scale\n"
        "evaluate k.relativeToCameraPos\n"
        "evaluate k.outputPalm0Enabled\n"
        "evaluate k.outputPointableCount\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              "k\n"
              "evaluate: k.scale: status 5, stored value kept: 0.05\n"
              "evaluate: k.relativeToCameraPos: status 5, stored value kept: false\n"
              "evaluate: k.outputPalm0Enabled: status 1, stored value kept, plug left dirty: "
              "false\n"
              "evaluate: k.outputPointableCount: status 1, stored value kept, plug left dirty: "
              "0\n");
}

// The loop pushes a device frame once; a new mapping still reaches the outputs with the hand
// holding still, from the record shown last. An unchanged mapping and no new frame: no record.
TEST(KivoTransformNode, ANewMappingReachesTheOutputsWhileTheHandHoldsStill) {
    const RovaRun run = runRovaScript(
        kLiveNode + inject("frame 1 t=0; " + kPalmDown) +
        gets({"outputPalm0", "outputPointable0"}) + "set k.scale 1\nset k.offset 0 0 5\nrefresh\n" +
        gets({"outputPalm0", "outputPointable0"}) +
        "set k.relativeToCameraRot on\nset k.relativeToCameraPos on\nrefresh\n" +
        gets({"outputPalm0", "outputPointableCount"}) + "evaluate k.outputPalm0Enabled\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto lines = results(run);
    ASSERT_EQ(lines.size(), 7u) << run.out;
    expectMatrix(lines[0], halfTurn(0, 10, 0));
    expectMatrix(lines[1], alongMinusZ(-1.1, 10, -4.25));
    expectMatrix(lines[2], halfTurn(0, 200, 5));
    expectMatrix(lines[3], alongMinusZ(-22, 200, -80));
    // The default camera stands at (0, 0, 10), turned nowhere.
    expectMatrix(lines[4], halfTurn(0, 200, 15));
    EXPECT_EQ(lines[5], "1");
    EXPECT_EQ(lines[6],
              "evaluate: k.outputPalm0Enabled: status 1, stored value kept, plug left dirty: true");
}

// A device frame is pushed once: ticks without a new frame dirty nothing and compute nothing,
// and the next frame, even with the same content, dirties the outputs again.
TEST(KivoTransformNode, EachDeviceFrameReachesTheOutputsOnce) {
    const RovaRun run = runRovaScript(kLiveNode + inject("frame 1 t=0; " + kPalmDown) +
                                      "get k.outputPalm0Enabled\n"
                                      "trace on -dirty -compute\n"
                                      "refresh\nrefresh\nrefresh\n"
                                      "get k.outputPalm0Enabled\n"
                                      "print(\"new frame\\n\")\n" +
                                      inject("frame 2 t=1000; " + kPalmDown) +
                                      "get k.outputPalm0Enabled\n"
                                      "trace off\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string before = run.out.substr(0, run.out.find("new frame\n"));
    EXPECT_EQ(before, "k\ntrue\ntrue\n");
    const std::string after = run.out.substr(before.size());
    EXPECT_NE(after.find("trace: dirty k.outputPointable0\n"), std::string::npos) << after;
    EXPECT_NE(after.find("trace: compute k.outputPalm0Enabled\n"), std::string::npos) << after;
}

// Compute keeps the slot of the record it shows until a newer one comes: more frames than the
// pool has slots each reach the outputs, across a restart of the loop, and deleting the node
// leaves no slot held.
TEST(KivoTransformNode, TheShownRecordsSlotGoesBackWhenANewerRecordOrTheNodeComes) {
    std::string script = kLiveNode;
    for (int frame = 1; frame <= 8; ++frame) {
        script += inject("frame " + std::to_string(frame) + " t=" + std::to_string(frame * 1000) +
                         "; " + palm(1, frame * 20)) +
                  gets({"outputPalm0"});
    }
    script += "set k.live off\nset k.scale 1\nset k.live on\n" +
              inject("frame 9 t=9000; " + palm(1, 400)) + gets({"outputPalm0"}) +
              "delete k\nplugin -unload kivo_rova\n";
    const RovaRun run = runRovaScript(script);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto lines = results(run);
    ASSERT_EQ(lines.size(), 9u) << run.out;
    for (int frame = 1; frame <= 8; ++frame) {
        expectMatrix(lines[static_cast<std::size_t>(frame - 1)], halfTurn(frame, 10, 0));
    }
    expectMatrix(lines[8], halfTurn(400, 200, 0));
    EXPECT_EQ(run.err.find("still held"), std::string::npos) << run.err;
}

TEST(KivoTransformNode, EveryEndOfTheDataLoopIsReportedOnce) {
    const RovaRun run = runRovaScript(
        "plugin -load kivo_rova\n"
        "create kivoTransform -name k\n"
        "set k.live on\nset k.live off\nset k.live on\nset k.live off\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(occurrences(run.err, "Exiting kivo thread loop...\n"), 2u) << run.err;
}

// The device going away and coming back: the node's manager queues its notices and, for a live
// node, the handler calls that switch tracking off and on; the next tick runs them.
TEST(KivoTransformNode, UnplugSwitchesALiveNodeOffAndReplugOnAgain) {
    const RovaRun run =
        runRovaScript(kLiveNode + inject("frame 1 t=0; " + kPalmDown) +
                      "device -disconnect\n"
                      "refresh\n"
                      "get k.live\n"
                      "device -connect\n"
                      "refresh\n"
                      "get k.live\n" +
                      inject("frame 2 t=1000; hand 1 palm=0,400,0 normal=0,-1,0 dir=0,0,-1") +
                      "get k.outputPalm0\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto lines = linesOf(run.out);
    ASSERT_EQ(lines.size(), 6u) << run.out;
    EXPECT_EQ(lines[0], "k");
    EXPECT_EQ(lines[1], "Kivo Sense Controller DISCONNECTED");
    EXPECT_EQ(lines[2], "false");
    EXPECT_EQ(lines[3], "Kivo Sense Controller CONNECTED");
    EXPECT_EQ(lines[4], "true");
    expectMatrix(lines[5], halfTurn(0, 20, 0));
    EXPECT_EQ(occurrences(run.err, "Exiting kivo thread loop...\n"), 2u) << run.err;
}

TEST(KivoTransformNode, UnplugOfANodeThatIsNotLiveOnlyPrintsTheNotices) {
    const RovaRun run = runRovaScript(
        "plugin -load kivo_rova\n"
        "create kivoTransform -name k\n"
        "device -connect\n"
        "device -disconnect\n"
        "refresh\n"
        "device -connect\n"
        "refresh\n"
        "get k.live\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out,
              "k\nKivo Sense Controller DISCONNECTED\nKivo Sense Controller CONNECTED\nfalse\n");
}

// Live nodes deleted, switched off and unloaded while a replay feeds them frames in real time:
// each data thread ends before its node goes (the sanitizer builds check the memory).
TEST(KivoTransformNode, LiveNodesGoWhileFramesFlow) {
    const std::string recording =
        (sourceRoot() / "data" / "recordings" / "generated" / "two-hands.kivo").string();
    std::string script = "plugin -load kivo_rova\n";
    for (const char* name : {"a", "b", "c", "d"}) {
        script +=
            std::string("create kivoTransform -name ") + name + "\nset " + name + ".live on\n";
    }
    script += "device -replay \"" + recording +
              "\" -realtime -loop -speed 20\n"
              "refresh\nget a.outputPalm0\n"
              "delete a\n"
              "refresh\nget b.outputPalm0\n"
              "set b.live off\ndelete b\n"
              "refresh\nget c.outputPointable0\n"
              "plugin -unload kivo_rova -force\n";
    const RovaRun run = runRovaScript(script);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(occurrences(run.err, "Exiting kivo thread loop...\n"), 4u) << run.err;
}

// The scene's change count in a lockstep replay: each tick that brings a frame changes the scene,
// and once the recording has run out the ticks change nothing, though the node's outputs were
// never read and its last record still waits.
TEST(KivoTransformNode, ALockstepReplayChangesTheSceneOnlyWhileItBringsFrames) {
    const TempDir dir;
    const auto recording =
        dir.write("three.kivo",
                  "kivo-recording version=1 rate=60 length=mm time=us gestures=none\n"
                  "frame 1 t=0; hand 1 palm=80,200,0 normal=0,-1,0 dir=0,0,-1\n"
                  "frame 2 t=16667; hand 1 palm=90,200,0 normal=0,-1,0 dir=0,0,-1\n"
                  "frame 3 t=33333; hand 1 palm=100,200,0 normal=0,-1,0 dir=0,0,-1\n"
                  "end frames=3 events=0\n");
    std::string script = kLiveNode + "device -replay \"" + recording.string() +
                         "\"\n"
                         "python(\"counts = [rova.changes()]\")\n";
    for (int tick = 0; tick < 6; ++tick)
        script += std::string(tick < 4 ? "play -frames 1\n" : "refresh\n") +
                  "python(\"counts.append(rova.changes())\")\n";
    script +=
        "python(\"print(' '.join('changed' if b > a else 'same' for a, b in "
        "zip(counts, counts[1:])))\")\n";
    const RovaRun run = runRovaScript(script);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "k\nchanged changed changed same same same\n")
        << "three frames, then a play past the end and two refreshes";
}

}  // namespace
