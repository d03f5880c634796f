// The grab node driven through scripts in the headless host: the candidate search, grabbing,
// carrying and turning, the release with its pair of placement commands, and what happens when
// the grabbed object goes away or the fingers give no direction.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "LoadReport.h"
#include "RunRova.h"
#include "ScriptValues.h"

namespace {

using kivorova::testing::complaints;
using kivorova::testing::linesOf;
using kivorova::testing::numbersOf;
using kivorova::testing::runRovaScript;

// A cube of edge 2 at the origin (faces at +-1) and a grab node. Fingers are moved with finger2
// first: only finger1 dirties the outputs.
const std::string kScene =
    "plugin -load kivo_rova\n"
    "cube -name box -size 2\n"
    "create kivoGrabNode -name g\n";

std::string fingers(const std::string& one, const std::string& two) {
    return "set g.finger2 " + two + "\nset g.finger1 " + one + "\nget g.grabObject\n";
}

void expectTriple(const std::string& line, double x, double y, double z, const std::string& what) {
    const auto n = numbersOf(line);
    ASSERT_EQ(n.size(), 3u) << what << ": " << line;
    EXPECT_NEAR(n[0], x, 1e-9) << what;
    EXPECT_NEAR(n[1], y, 1e-9) << what;
    EXPECT_NEAR(n[2], z, 1e-9) << what;
}

TEST(KivoGrabNode, ReportsTheMeshBetweenTheFingersAndGrabsItBelowTheGrabDistance) {
    const auto run = runRovaScript(kScene + fingers("-2.25 0 0", "2.25 0 0") +
                                   "get g.intersectObject\nget g.distance1\nget g.distance2\n" +
                                   fingers("-1.5 0 0", "1.5 0 0") +
                                   "get g.intersection1\nget g.intersection2\nget g.fc\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(complaints(run.err), "");
    const auto lines = linesOf(run.out);
    ASSERT_EQ(lines.size(), 10u) << run.out;
    EXPECT_EQ(lines[2], "null");  // a gap of 2.5 is not below 2
    EXPECT_EQ(lines[3], "box");
    EXPECT_EQ(lines[4], "1.25");
    EXPECT_EQ(lines[5], "1.25");
    EXPECT_EQ(lines[6], "box");  // a gap of 1.0 grabs
    expectTriple(lines[7], -1, 0, 0, "intersection1");
    expectTriple(lines[8], 1, 0, 0, "intersection2");
    expectTriple(lines[9], 0, 0, 0, "fingersCenter");
}

TEST(KivoGrabNode, CarriesTheObjectAndReleasesItWithOneUndoableCommand) {
    const auto run =
        runRovaScript(kScene + fingers("-1.5 0 0", "1.5 0 0") + fingers("-1.5 1 0", "1.5 1 0") +
                      "get box.translate\n" + fingers("-3 1 0", "3 1 0") +
                      "get box.translate\nundo\nget box.translate\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(complaints(run.err), "");
    const auto lines = linesOf(run.out);
    ASSERT_EQ(lines.size(), 9u) << run.out;
    EXPECT_EQ(lines[2], "box");
    EXPECT_EQ(lines[3], "box");
    EXPECT_EQ(lines[4], "0 1 0");  // carried with the fingers' midpoint
    // Only the second command is displayed: the first, back to the grab pose, runs silently.
    EXPECT_EQ(lines[5], "move -a 0 1 0 box; rotate -os 0 -0 -0 box; ");
    EXPECT_EQ(lines[6], "null");
    EXPECT_EQ(lines[7], "0 1 0");
    // One undo returns to the grab pose: the first command is not on the undo queue (had it
    // joined the step, the undo would go on back to the carried pose).
    EXPECT_EQ(lines[8], "0 0 0");
}

TEST(KivoGrabNode, TurnsWithTheFingersAndASwapOfTheFingersMakesNoHalfTurn) {
    const double c = 1.5 * std::cos(M_PI / 4.0);
    const std::string turned = std::to_string(c) + " " + std::to_string(c) + " 0";
    const std::string turnedBack = std::to_string(-c) + " " + std::to_string(-c) + " 0";
    const auto run =
        runRovaScript(kScene + "set g.rotationEnabled on\n" + fingers("-1.5 0 0", "1.5 0 0") +
                      fingers(turnedBack, turned) + "get box.rotate\n" +
                      fingers(turned, turnedBack) + "get box.rotate\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto lines = linesOf(run.out);
    ASSERT_EQ(lines.size(), 7u) << run.out;
    expectTriple(lines[4], 0, 0, 45, "turned by 45 degrees");
    expectTriple(lines[6], 0, 0, 45, "fingers swapped");
}

TEST(KivoGrabNode, SkipsEnclosingMeshesAndFingerNamedMeshesButNotOtherCases) {
    const auto run = runRovaScript(
        "plugin -load kivo_rova\ncreate kivoGrabNode -name g\n"
        "cube -name room -size 10\n" +
        fingers("-1 0 0", "1 0 0") + "get g.intersectObject\n" + "cube -name fingerTip -size 1\n" +
        fingers("-1 0 0.01", "1 0 0.01") + "get g.intersectObject\n" +
        "cube -name FingerTip -size 1 -parent room\n" + fingers("-1 0 0", "1 0 0") +
        "get g.intersectObject\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto lines = linesOf(run.out);
    ASSERT_EQ(lines.size(), 10u) << run.out;
    EXPECT_EQ(lines[2], "null");  // the room's hits lie beyond the fingers
    EXPECT_EQ(lines[3], "null");
    EXPECT_EQ(lines[5], "null");  // "fingerTipShape" is never a candidate
    EXPECT_EQ(lines[6], "null");
    EXPECT_EQ(lines[8], "FingerTip");  // the test is case-sensitive
    EXPECT_EQ(lines[9], "FingerTip");
}

TEST(KivoGrabNode, ADeletedObjectEndsTheGrabQuietlyAndARenamedOneIsHeldOn) {
    const auto deleted = runRovaScript(kScene + fingers("-1.5 0 0", "1.5 0 0") + "delete box\n" +
                                       fingers("-1.5 1 0", "1.5 1 0") +
                                       fingers("-1.5 2 0", "1.5 2 0") + fingers("-3 0 0", "3 0 0"));
    ASSERT_EQ(deleted.exitCode, 0) << deleted.err;
    EXPECT_EQ(complaints(deleted.err), "");
    EXPECT_EQ(deleted.out.find("move -a"), std::string::npos) << deleted.out;
    auto lines = linesOf(deleted.out);
    ASSERT_EQ(lines.size(), 6u) << deleted.out;
    EXPECT_EQ(lines[2], "box");
    EXPECT_EQ(lines[3], "null");
    EXPECT_EQ(lines[4], "null");

    // Renamed: it is held on under its new name; it follows the fingers, and the commands at its
    // release name it as it is called now. No command ever names the old one.
    const auto renamed =
        runRovaScript(kScene + fingers("-1.5 0 0", "1.5 0 0") + "rename box crate\n" +
                      fingers("-1.5 1 0", "1.5 1 0") + fingers("-3 1 0", "3 1 0") +
                      "get crate.translate\nundo\nget crate.translate\n");
    ASSERT_EQ(renamed.exitCode, 0) << renamed.err;
    EXPECT_EQ(complaints(renamed.err), "");
    EXPECT_EQ(renamed.out.find(" box;"), std::string::npos) << renamed.out;
    lines = linesOf(renamed.out);
    ASSERT_EQ(lines.size(), 8u) << renamed.out;
    EXPECT_EQ(lines[3], "crate");
    EXPECT_EQ(lines[4], "move -a 0 1 0 crate; rotate -os 0 -0 -0 crate; ");
    EXPECT_EQ(lines[5], "null");
    EXPECT_EQ(lines[6], "0 1 0") << "carried up with the fingers";
    EXPECT_EQ(lines[7], "0 0 0") << "the release's undo puts it back";
}

TEST(KivoGrabNode, FingertipsAtOnePointOrAZeroPalmAxisGiveNoRotationNeverNaN) {
    const auto run = runRovaScript(
        kScene + "set g.rotationEnabled on\nset g.palmMatrix 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 1\n" +
        fingers("-1.5 0 0", "1.5 0 0") + fingers("0 -1.5 0", "0 1.5 0") + "get box.rotate\n" +
        fingers("0 0.5 0", "0 0.5 0") + "get box.rotate\nget box.translate\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(complaints(run.err), "");
    const auto lines = linesOf(run.out);
    ASSERT_EQ(lines.size(), 8u) << run.out;
    expectTriple(lines[4], 0, 0, 90, "zero palm axes: the finger turn alone");
    // Both fingertips at one point: the finger vector has no direction, the turn is nothing.
    expectTriple(lines[6], 0, 0, 0, "fingertips together");
    expectTriple(lines[7], 0, 0.5, 0, "still carried");
}

// The script's output lines, after checking that it ran to its end with nothing more on the
// error stream than `err`.
std::vector<std::string> linesOfQuietRun(const std::string& script, const std::string& err = "") {
    const auto run = runRovaScript(script);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(complaints(run.err), err);
    return linesOf(run.out);
}

// Fingertips far beyond single precision either side of the box: the rays between them find it
// where it is, and a grab carried towards the largest doubles keeps the box at a finite place.
TEST(KivoGrabNode, FingertipsFarBeyondSinglePrecisionFindTheBoxAndKeepItFinite) {
    auto lines =
        linesOfQuietRun(kScene + fingers("0 0 1e19", "0 0 -1e19") +
                        "get g.intersectObject\nget g.intersection1\nget g.intersection2\n");
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[2], "null");  // far too wide a gap to grab
    EXPECT_EQ(lines[3], "box");
    expectTriple(lines[4], 0, 0, 1, "intersection1");
    expectTriple(lines[5], 0, 0, -1, "intersection2");

    lines = linesOfQuietRun(kScene + fingers("-1.5 0 0", "1.5 0 0") +
                            fingers("0 0 1e308", "0 0 1.5e308") + "get box.translate\n");
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[3], "box");  // still held: the rays find nothing to let go of
    // Carried to the fingers' centre, which their sum would overflow.
    const auto at = numbersOf(lines[4]);
    ASSERT_EQ(at.size(), 3u) << lines[4];
    EXPECT_EQ(at[0], 0.0);
    EXPECT_EQ(at[1], 0.0);
    EXPECT_NEAR(at[2] / 1.25e308, 1.0, 1e-12) << lines[4];
}

// A device frame the recording format accepts, with one fingertip 1e22 mm away, in a scene wired
// as the interaction scene is: the grab node's rays from it reach the block between the tips.
TEST(KivoGrabNode, ADeviceFrameWithAFingertipFarOffFindsTheBlockBetweenTheTips) {
    const auto lines = linesOfQuietRun(
        "plugin -load kivo_rova\n"
        "create kivoTransform -name hand\ndevice -connect\nset hand.live on\n"
        "create decomposeMatrix -name thumbTip\n"
        "connect hand.outputPointable0_0 thumbTip.inputMatrix\n"
        "create decomposeMatrix -name indexTip\n"
        "connect hand.outputPointable0_1 indexTip.inputMatrix\n"
        "cube -name block -size 0.8\nmove -a -5 10 -4.25 block\n"
        "create kivoGrabNode -name grab\n"
        "connect thumbTip.outputTranslate grab.finger1\n"
        "connect indexTip.outputTranslate grab.finger2\n"
        "connect hand.outputPalm0 grab.palmMatrix\n"
        "device -inject \"frame 1 t=0; hand 1 palm=-80,180,0 normal=0,-1,0 dir=0,0,-1; "
        "pointable 10 hand=1 tip=1e22,200,-85 dir=0,0,-1; "
        "pointable 11 hand=1 tip=-200,200,-85 dir=0,0,-1\"\n"
        "refresh\nget grab.intersectObject\nget grab.intersection1\nget grab.intersection2\n",
        "Exiting kivo thread loop...\n");  // the live hand's thread, at exit
    ASSERT_GE(lines.size(), 3u);
    const std::size_t last = lines.size() - 1;
    EXPECT_EQ(lines[last - 2], "block");
    expectTriple(lines[last - 1], -4.6, 10, -4.25, "intersection1");
    expectTriple(lines[last], -5.4, 10, -4.25, "intersection2");
}

}  // namespace
