// The kivoSenseController command as scripts call it: every answer and every refusal, with the
// exact text the host shows and the exit status it leaves.
#include <gtest/gtest.h>

#include <string>

#include "RunRova.h"

namespace {

using kivorova::testing::RovaRun;
using kivorova::testing::runRova;
using kivorova::testing::runRovaStatements;

const std::string kLoaded = "Registering Kivo nodes... done.\n";
const std::string kUnloaded = "Unregistering Kivo nodes...\n done.\n";
// How the host reports the command's failing status, after the command's own messages.
const std::string kFailedOnLine2 = "error: line 2: kivoSenseController: failure\n";

// Loads the plug-in on line 1, runs the statement on line 2.
RovaRun runCommand(const std::string& statement) {
    return runRovaStatements("plugin -load kivo_rova\n" + statement);
}

// A refused call: its messages, the host's line for the failing status, exit status 1, and no
// result on standard output.
void expectRefused(const std::string& statement, const std::string& messages) {
    SCOPED_TRACE(statement);
    const RovaRun run = runCommand(statement);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, kLoaded + messages + kFailedOnLine2 + kUnloaded);
    EXPECT_EQ(run.out, "");
}

// An answered call: its result line and exit status 0.
void expectResult(const std::string& statement, const std::string& result) {
    SCOPED_TRACE(statement);
    const RovaRun run = runCommand(statement);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, result + "\n");
    EXPECT_EQ(run.err, kLoaded + kUnloaded);
}

TEST(ControllerCommand, ConnectionAndFocusAreBooleans) {
    // The host starts with the device unplugged and the service focused.
    expectResult("kivoSenseController -connected", "false");
    expectResult("kivoSenseController -focus", "true");
}

TEST(ControllerCommand, FlagsAreMatchedWithoutRegardToCase) {
    expectResult("kivoSenseController -CONNECTED", "false");
    expectResult("kivoSenseController -Focus", "true");
    expectResult("kivoSenseController -CoNfIg recognizer.swipe.min_speed", "300");
}

TEST(ControllerCommand, WordsAfterConnectedOrFocusAreIgnored) {
    expectResult("kivoSenseController -connected extra", "false");
    expectResult("kivoSenseController -connected -config recognizer.swipe.min_speed", "false");
    expectResult("kivoSenseController -focus -connected 1 2 3", "true");
}

TEST(ControllerCommand, FloatKeyAnswersItsValueWidenedToADouble) {
    expectResult("kivoSenseController -config recognizer.swipe.min_speed", "300");
    expectResult("kivoSenseController -config recognizer.circle.min_turns", "0.75");
    // 0.3 held as a 32-bit float, then widened: the double shows the float's exact value.
    expectResult("kivoSenseController -config recognizer.circle.max_roughness",
                 "0.30000001192092896");
}

TEST(ControllerCommand, NoArgumentIsRefused) {
    expectRefused("kivoSenseController", "error: Need 1 or more arguments.\n");
}

TEST(ControllerCommand, UnknownFirstArgumentIsRefused) {
    expectRefused("kivoSenseController -connect", "error: Unknown argument.\n");
    expectRefused("kivoSenseController connected", "error: Unknown argument.\n");
    expectRefused("kivoSenseController \"\"", "error: Unknown argument.\n");
    expectRefused("kivoSenseController recognizer.swipe.min_speed -config",
                  "error: Unknown argument.\n");
}

TEST(ControllerCommand, ConfigNeedsExactlyOneKey) {
    expectRefused("kivoSenseController -config", "error: '-config' : needs 1 argument.\n");
    expectRefused("kivoSenseController -config recognizer.swipe.min_speed recognizer.enabled",
                  "error: '-config' : needs 1 argument.\n");
}

TEST(ControllerCommand, KeyHoldingNoFloatShowsItsTypeThenTheFailure) {
    expectRefused("kivoSenseController -config recognizer.enabled",
                  "error: '-config' : Invalid type 1 for specified key: 'recognizer.enabled'\n"
                  "error: '-config' : Failed to retrieve value for specified key: "
                  "'recognizer.enabled'\n");
    expectRefused("kivoSenseController -config history.frames",
                  "error: '-config' : Invalid type 2 for specified key: 'history.frames'\n"
                  "error: '-config' : Failed to retrieve value for specified key: "
                  "'history.frames'\n");
    expectRefused("kivoSenseController -config device.name",
                  "error: '-config' : Invalid type 8 for specified key: 'device.name'\n"
                  "error: '-config' : Failed to retrieve value for specified key: "
                  "'device.name'\n");
}

TEST(ControllerCommand, MissingKeyReportsTheUndefinedType) {
    expectRefused("kivoSenseController -config recognizer.nothing",
                  "error: '-config' : Invalid type 0 for specified key: 'recognizer.nothing'\n"
                  "error: '-config' : Failed to retrieve value for specified key: "
                  "'recognizer.nothing'\n");
    // Key matching is exact: another case is another (missing) key.
    expectRefused("kivoSenseController -config RECOGNIZER.ENABLED",
                  "error: '-config' : Invalid type 0 for specified key: 'RECOGNIZER.ENABLED'\n"
                  "error: '-config' : Failed to retrieve value for specified key: "
                  "'RECOGNIZER.ENABLED'\n");
}

TEST(ControllerCommand, FailureStopsTheScriptUnlessKeepGoing) {
    const RovaRun stopped = runRovaStatements(
        "plugin -load kivo_rova\n"
        "kivoSenseController -bogus\n"
        "print(\"after\\n\")\n");
    EXPECT_EQ(stopped.exitCode, 1);
    EXPECT_EQ(stopped.out, "");

    const RovaRun kept = runRova({"--keep-going", "-c",
                                  "plugin -load kivo_rova\n"
                                  "kivoSenseController -bogus\n"
                                  "kivoSenseController -focus\n"});
    EXPECT_EQ(kept.exitCode, 1) << "a statement failed";
    EXPECT_EQ(kept.out, "true\n");
    EXPECT_EQ(kept.err, kLoaded + "error: Unknown argument.\n" + kFailedOnLine2 + kUnloaded);
}

TEST(ControllerCommand, LeavesNothingToUndo) {
    const RovaRun run = runRovaStatements(
        "plugin -load kivo_rova\n"
        "kivoSenseController -connected\n"
        "undo\n");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "false\n");
    EXPECT_EQ(run.err, kLoaded + "error: line 3: undo: nothing to undo\n" + kUnloaded);
}

TEST(ControllerCommand, GoesAwayWithThePlugin) {
    const RovaRun run = runRovaStatements(
        "plugin -load kivo_rova\n"
        "kivoSenseController -focus\n"
        "plugin -unload kivo_rova\n"
        "kivoSenseController -focus\n");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "true\n");
    EXPECT_NE(run.err.find("error: line 4: kivoSenseController: unknown command"),
              std::string::npos)
        << run.err;
}

}  // namespace
