// Failures of host calls while the hand-tracking node type sets up its attributes, and while a
// node of it lives and computes, each made to happen with the host's `fault` command.
#include <gtest/gtest.h>

#include <string>

#include "LoadReport.h"
#include "RunRova.h"
#include "ScriptValues.h"
#include "SourceLines.h"

namespace {

using kivorova::testing::ConfigureCase;
using kivorova::testing::expectConfigureReport;
using kivorova::testing::expectInOrder;
using kivorova::testing::FaultCase;
using kivorova::testing::kDone;
using kivorova::testing::kLoading;
using kivorova::testing::lineOf;
using kivorova::testing::linesOf;
using kivorova::testing::loadOutput;
using kivorova::testing::occurrences;
using kivorova::testing::RovaRun;
using kivorova::testing::runRovaScript;
using kivorova::testing::sourceRoot;

const std::string kRegistration = "failed to registerNode kivoTransformNode";

// A configuring call that fails: reported with the unit and the call's own source line, and the
// load goes on.
class KivoTransformNodeConfigure : public ::testing::TestWithParam<ConfigureCase> {};

TEST_P(KivoTransformNodeConfigure, ReportsUnitAndLineThenLoadGoesOn) {
    const ConfigureCase& c = GetParam();
    const unsigned line =
        lineOf(sourceRoot() / "tracking" / "KivoTransformNode.cpp", c.call, c.anchor);
    const RovaRun run = runRovaScript(c.fault + "\nplugin -load kivo_rova\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    expectConfigureReport(run.err, "KivoTransformNode", line);
    // The status's own report on a line of its own.
    EXPECT_EQ(occurrences(loadOutput(run.err), "\n"), 4u) << run.err;
}

const ConfigureCase kConfiguring[] = {
    {"fault setHidden -match kivoTransform.scale", "void configureInput", "setHidden(false)"},
    {"fault setKeyable -match kivoTransform.offset", "void configureInput", "setKeyable(true)"},
    {"fault setStorable -match kivoTransform.relativeToCameraRot", "void configureInput",
     "setStorable(true)"},
    {"fault setDefault -match kivoTransform.scale", "create(\"scale\"", "setDefault("},
    {"fault setDefault -match kivoTransform.offset", "create(\"offset\"", "setDefault("},
    {"fault setDefault -match kivoTransform.relativeToCameraRot", "create(\"relativeToCameraRot\"",
     "setDefault("},
    {"fault setDefault -match kivoTransform.relativeToCameraPos", "create(\"relativeToCameraPos\"",
     "setDefault("},
    {"fault setHidden -match kivoTransform.outputPalm1", "void configureOutput", "setHidden("},
    {"fault setKeyable -match kivoTransform.outputPointable0_3Enabled", "void configureOutput",
     "setKeyable(false)"},
    {"fault setStorable -match kivoTransform.outputPointableCount1", "void configureOutput",
     "setStorable(false)"},
    {"fault setDefault -match kivoTransform.outputPointable14", "RObject createMatrixOutput",
     "setDefault("},
    {"fault setDefault -match kivoTransform.outputPointable14Enabled", "RObject createFlagOutput",
     "setDefault("},
    {"fault setDefault -match kivoTransform.outputPointableCount", "RObject createCountOutput",
     "setDefault("},
    {"fault attributeAffects -match kivoTransform.outputPointable0->outputPalm1Enabled",
     "affectedBySource = ", "checkConfigure("},
    {"fault attributeAffects -match kivoTransform.outputPointable0->outputPointableCount",
     "affectedBySource = ", "checkConfigure("},
};

INSTANTIATE_TEST_SUITE_P(KivoTransformNode, KivoTransformNodeConfigure,
                         ::testing::ValuesIn(kConfiguring));

// A dependency of an input that fails: its message, then the failed registration; the load
// stops there.
class KivoTransformNodeDependency : public ::testing::TestWithParam<FaultCase> {};

TEST_P(KivoTransformNodeDependency, ReportsTheDependencyAndFailsTheRegistration) {
    const FaultCase& c = GetParam();
    const RovaRun run = runRovaScript(c.fault + "\nplugin -load kivo_rova\n");
    EXPECT_NE(run.exitCode, 0);
    const std::string start = kLoading + c.message + ": ";
    EXPECT_EQ(run.err.compare(0, start.size(), start), 0) << "expected start:\n"
                                                          << start << "\ngot:\n"
                                                          << run.err;
    EXPECT_NE(run.err.find("\n" + kRegistration + ": "), std::string::npos) << run.err;
    EXPECT_EQ(loadOutput(run.err).find("done."), std::string::npos) << run.err;
}

const FaultCase kDependencies[] = {
    {"fault attributeAffects -match kivoTransform.live->", "attributeAffects:live->sourceAttr"},
    {"fault attributeAffects -match kivoTransform.scale->", "attributeAffects:scale->sourceAttr"},
    {"fault attributeAffects -match kivoTransform.offset->", "attributeAffects:offset->sourceAttr"},
    {"fault attributeAffects -match kivoTransform.relativeToCameraRot->",
     "attributeAffects:relativeToCamera->sourceAttr"},
    {"fault attributeAffects -match kivoTransform.relativeToCameraPos->",
     "attributeAffects:relativeToCameraPos->sourceAttr"},
};

INSTANTIATE_TEST_SUITE_P(KivoTransformNode, KivoTransformNodeDependency,
                         ::testing::ValuesIn(kDependencies));

// A creation or an addition that fails is reported and set-up goes on; an output that is missing
// then only loses its dependency, while a missing input fails its dependency and the type.
TEST(KivoTransformNodeSetUp, FailedOutputCreationIsReportedAndTheLoadCompletes) {
    const RovaRun run = runRovaScript(
        "fault create -match kivoTransform.outputPointable9Enabled\nplugin -load kivo_rova\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const std::string load = loadOutput(run.err);
    expectInOrder(load, {kLoading + "create attribute: ", "\nadd attribute: ",
                         "API error detected in KivoTransformNode", kDone});
    EXPECT_EQ(load.find(kRegistration), std::string::npos) << run.err;
}

TEST(KivoTransformNodeSetUp, FailedOutputAdditionIsReportedAndTheLoadCompletes) {
    const RovaRun run = runRovaScript(
        "fault addAttribute -match kivoTransform.outputPointableCount1\nplugin -load kivo_rova\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const std::string load = loadOutput(run.err);
    expectInOrder(load, {kLoading + "add attribute: ", kDone});
    EXPECT_EQ(occurrences(load, "add attribute: "), 1u) << run.err;
    EXPECT_EQ(load.find("create attribute"), std::string::npos) << run.err;
}

TEST(KivoTransformNodeSetUp, FailedInputCreationFailsItsDependencyAndTheType) {
    const RovaRun run =
        runRovaScript("fault create -match kivoTransform.scale\nplugin -load kivo_rova\n");
    EXPECT_NE(run.exitCode, 0);
    expectInOrder(run.err, {kLoading + "create attribute: ", "\nadd attribute: ",
                            "\nattributeAffects:scale->sourceAttr: ", "\n" + kRegistration});
}

TEST(KivoTransformNodeSetUp, FailedInputAdditionFailsItsDependencyAndTheType) {
    const RovaRun run =
        runRovaScript("fault addAttribute -match kivoTransform.offset\nplugin -load kivo_rova\n");
    EXPECT_NE(run.exitCode, 0);
    expectInOrder(run.err, {kLoading + "add attribute: ", "\nattributeAffects:offset->sourceAttr: ",
                            "\n" + kRegistration});
}

// Host calls of a node's life that fail after set-up.
const std::string kLiveNode =
    "plugin -load kivo_rova\n"
    "create kivoTransform -name k\n"
    "device -connect\n"
    "set k.live on\n"
    "device -inject \"frame 1 t=0; hand 1 palm=0,200,0 normal=0,-1,0 dir=0,0,-1; "
    "pointable 11 hand=1 tip=-22,200,-85 dir=0,0,-1\"\n"
    "refresh\n";

TEST(KivoTransformNodeFailures, RefreshAttributeFailureIsReportedAndTheNodeIsMade) {
    const RovaRun run = runRovaScript(
        "plugin -load kivo_rova\n"
        "fault setRefreshOutputAttributes -match k\n"
        "create kivoTransform -name k\n"
        "get k.scale\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "k\n0.05\n");
    EXPECT_NE(run.err.find("\nsetRefreshOutputAttributes: "), std::string::npos) << run.err;
}

TEST(KivoTransformNodeFailures, FailedFlagAndMatrixHandlesAreReportedAndComputeGoesOn) {
    // The palm's flag is asked for before its matrix; both subjects contain the text.
    const RovaRun run = runRovaScript(kLiveNode +
                                      "fault outputValue -match k.outputPalm0 -times 2\n"
                                      "get k.outputPointableCount0\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "k\n1\n");
    expectInOrder(run.err, {"Error in block.outputValue for outputDataEnabled: ",
                            "Error in block.outputValue for outputDataTransform: "});
    EXPECT_EQ(occurrences(run.err, "Error in block.outputValue"), 2u) << run.err;
}

TEST(KivoTransformNodeFailures, FailedHandCountHandleLeavesTheCountUnwritten) {
    const RovaRun run = runRovaScript(kLiveNode +
                                      "fault outputValue -match k.outputPointableCount0\n"
                                      "get k.outputPointableCount0\n"
                                      "get k.outputPointableCount\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "k\n0\n1\n");
    EXPECT_EQ(occurrences(run.err, "Error in block.outputValue for outputPointableCount: "), 1u)
        << run.err;
}

TEST(KivoTransformNodeFailures, FailedFrameCountHandleIsReported) {
    // Both hands' counts come first, then the frame's.
    const RovaRun run = runRovaScript(kLiveNode +
                                      "fault outputValue -match k.outputPointableCount -times 3\n"
                                      "get k.outputPalm0Enabled\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "k\ntrue\n");
    EXPECT_EQ(occurrences(run.err, "Error in block.outputValue for outputPointableCount: "), 3u)
        << run.err;
}

// A camera that cannot be found is reported and the mapping goes on with what the host answers
// for a camera it does not have: at the origin, with the world's axes.
struct CameraFailure {
    std::string fault;
    std::vector<std::string> messages;
};

void PrintTo(const CameraFailure& c, std::ostream* out) {
    *out << c.fault;
}

class KivoTransformNodeCameraFailure : public ::testing::TestWithParam<CameraFailure> {};

TEST_P(KivoTransformNodeCameraFailure, IsReportedAndThePalmIsPlacedAtTheOrigin) {
    const CameraFailure& c = GetParam();
    const RovaRun run = runRovaScript(
        "plugin -load kivo_rova\n"
        "create kivoTransform -name k\n"
        "set k.relativeToCameraRot on\n"
        "set k.relativeToCameraPos on\n"
        "device -connect\n"
        "set k.live on\n"
        "device -inject \"frame 1 t=0; hand 1 palm=0,200,0 normal=0,-1,0 dir=0,0,-1\"\n"
        "refresh\n" +
        c.fault + "\nget k.outputPalm0\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const auto lines = linesOf(run.out);
    ASSERT_EQ(lines.size(), 2u) << run.out;
    const auto numbers = kivorova::testing::numbersOf(lines[1]);
    ASSERT_EQ(numbers.size(), 16u) << lines[1];
    EXPECT_NEAR(numbers[12], 0.0, 1e-12);
    EXPECT_NEAR(numbers[13], 10.0, 1e-12);
    EXPECT_NEAR(numbers[14], 0.0, 1e-12) << "the default camera would add 10";
    expectInOrder(run.err, c.messages);
    EXPECT_EQ(occurrences(run.err, "Error: R3dView::"), c.messages.size()) << run.err;
}

const CameraFailure kCameraFailures[] = {
    {"fault active3dView", {"Error: R3dView::active3DView: ", "\nError: R3dView::getCamera: "}},
    {"fault getCamera", {"Error: R3dView::getCamera: "}},
};

INSTANTIATE_TEST_SUITE_P(KivoTransformNode, KivoTransformNodeCameraFailure,
                         ::testing::ValuesIn(kCameraFailures));

}  // namespace
