// Failures of host calls while the deformer type sets up its attributes and while a deformer
// deforms, each made to happen with the host's `fault` command.
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

const std::string kRegistration = "failed to registerNode kivoDeformerNode";

unsigned sourceLine(const std::string& call, const std::string& anchor) {
    return lineOf(sourceRoot() / "nodes" / "KivoDeformerNode.cpp", call, anchor);
}

// A configuring call that fails: the unit and the call's own line, then the load goes on.
class KivoDeformerNodeConfigure : public ::testing::TestWithParam<ConfigureCase> {};

TEST_P(KivoDeformerNodeConfigure, ReportsUnitAndLineThenLoadGoesOn) {
    const ConfigureCase& c = GetParam();
    const unsigned line = sourceLine(c.call, c.anchor);
    const RovaRun run = runRovaScript(c.fault + "\nplugin -load kivo_rova\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    expectConfigureReport(run.err, "KivoDeformerNode", line);
}

const ConfigureCase kConfiguring[] = {
    {"fault addField -match kivoDeformer.deformType", "create(\"deformType\"",
     "addField(\"pushPull\""},
    {"fault setStorable -match kivoDeformer.deformType", "create(\"deformType\"", "setStorable("},
    {"fault setKeyable -match kivoDeformer.falloffType", "create(\"falloffType\"", "setKeyable("},
    {"fault addField -match kivoDeformer.falloffType", "create(\"falloffType\"",
     "addField(\"gauss\""},
    {"fault setDefault -match kivoDeformer.weightedSign", "create(\"weightedSign\"", "setDefault("},
    {"fault setHidden -match kivoDeformer.radius", "create(\"radius\"", "setHidden("},
    {"fault setDefault -match kivoDeformer.power", "create(\"power\"", "setDefault("},
    {"fault setKeyable -match kivoDeformer.verbose", "create(\"verbose\"", "setKeyable("},
    {"fault setStorable -match kivoDeformer.permanent", "create(\"permanent\"", "setStorable("},
    {"fault setDefault -match kivoDeformer.pause", "create(\"pause\"", "setDefault("},
};

INSTANTIATE_TEST_SUITE_P(KivoDeformerNode, KivoDeformerNodeConfigure,
                         ::testing::ValuesIn(kConfiguring));

// Adding one of the eight settings, or declaring its dependency, fails the type.
class KivoDeformerNodeTypeFailure : public ::testing::TestWithParam<FaultCase> {};

TEST_P(KivoDeformerNodeTypeFailure, ReportsTheOperationAndFailsTheRegistration) {
    const FaultCase& c = GetParam();
    const RovaRun run = runRovaScript(c.fault + "\nplugin -load kivo_rova\n");
    EXPECT_NE(run.exitCode, 0);
    expectInOrder(run.err, {kLoading + c.message + ": ", "\n" + kRegistration + ": "});
    EXPECT_EQ(loadOutput(run.err).find("done."), std::string::npos) << run.err;
}

const FaultCase kTypeFailures[] = {
    {"fault addAttribute -match kivoDeformer.deformType", "addAttribute: deformType"},
    {"fault addAttribute -match kivoDeformer.radius", "addAttribute: radius"},
    {"fault addAttribute -match kivoDeformer.pause", "addAttribute: pause"},
    {"fault create -match kivoDeformer.verbose", "addAttribute: verbose"},
    {"fault attributeAffects -match kivoDeformer.deformType->",
     "attributeAffects:deformType->outputGeom"},
    {"fault attributeAffects -match kivoDeformer.falloffType->",
     "attributeAffects:falloffType->outputGeom"},
    {"fault attributeAffects -match kivoDeformer.weightedSign->",
     "attributeAffects:weightedSign->outputGeom"},
    {"fault attributeAffects -match kivoDeformer.radius->", "attributeAffects:radius->outputGeom"},
    {"fault attributeAffects -match kivoDeformer.power->", "attributeAffects:power->outputGeom"},
    {"fault attributeAffects -match kivoDeformer.permanent->",
     "attributeAffects:permanent->outputGeom"},
    {"fault attributeAffects -match kivoDeformer.pause->", "attributeAffects:pause->outputGeom"},
};

INSTANTIATE_TEST_SUITE_P(KivoDeformerNode, KivoDeformerNodeTypeFailure,
                         ::testing::ValuesIn(kTypeFailures));

// An input pair that cannot be set up is reported and left out; the type still loads.
class KivoDeformerNodePairFailure : public ::testing::TestWithParam<FaultCase> {};

TEST_P(KivoDeformerNodePairFailure, IsReportedAndTheLoadCompletes) {
    const FaultCase& c = GetParam();
    const RovaRun run =
        runRovaScript(c.fault + "\nplugin -load kivo_rova\ncreate kivoDeformer -name d\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const std::string load = loadOutput(run.err);
    expectInOrder(load, {kLoading + c.message + ": ", kDone});
    EXPECT_EQ(load.find(kRegistration), std::string::npos) << run.err;
}

const FaultCase kPairFailures[] = {
    {"fault create -match kivoDeformer.inputPoint3", "create inputPointTransform"},
    {"fault addAttribute -match kivoDeformer.inputPoint5", "add inputPointTransform"},
    {"fault create -match kivoDeformer.inputPoint7Enabled", "create inputPointEnabled"},
    {"fault addAttribute -match kivoDeformer.inputPoint9Enabled", "add inputPointEnabled"},
    {"fault attributeAffects -match kivoDeformer.inputPoint0->",
     "attributeAffects: inputTransform -> outputGeom"},
    {"fault attributeAffects -match kivoDeformer.inputPoint0Enabled->",
     "attributeAffects: inputEnabled -> outputGeom"},
};

INSTANTIATE_TEST_SUITE_P(KivoDeformerNode, KivoDeformerNodePairFailure,
                         ::testing::ValuesIn(kPairFailures));

TEST(KivoDeformerNodeSetUp, AFailedMatrixDependencyStillDeclaresTheFlags) {
    // Pair 0's matrix no longer dirties the output, its flag still does.
    const RovaRun run = runRovaScript(
        "fault attributeAffects -match kivoDeformer.inputPoint0->\nplugin -load kivo_rova\n"
        "plane -name p -size 2 -divisions 2\ndeformer kivoDeformer p -name d\n"
        "set d.falloffType 1\nset d.inputPoint0Enabled true\nrefresh\n"
        "set d.inputPoint0 1 0 0 0 0 1 0 0 0 0 1 0 0 -0.5 0 1\nrefresh\npoints p\n"
        "set d.inputPoint0Enabled false\nset d.inputPoint0Enabled true\nrefresh\npoints p\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto lines = linesOf(run.out);
    ASSERT_EQ(lines.size(), 20u) << run.out;
    EXPECT_EQ(lines[2 + 4], "0 0 0");
    EXPECT_EQ(lines[11 + 4], "0 -0.25 0");
}

// The two array-handle steps of a deformation: the header with the line, the status, and the
// mesh keeps showing what it showed; the next evaluation deforms it.
TEST(KivoDeformerNodeFailures, FailedArrayHandleStepsAreReportedAndTheMeshKeepsItsShape) {
    for (const auto& [fault, anchor] :
         {std::pair<std::string, std::string>{"fault outputArrayValue -match d.input -times 2",
                                              "// outputArrayValue"},
          {"fault jumpToElement -match d.input -times 2", "// jumpToElement"}}) {
        const RovaRun run = runRovaScript(
            "plugin -load kivo_rova\nplane -name p -size 2 -divisions 2\n"
            "deformer kivoDeformer p -name d\nset d.falloffType 1\n"
            "set d.inputPoint0 1 0 0 0 0 1 0 0 0 0 1 0 0 -0.5 0 1\n"
            "set d.inputPoint0Enabled true\n" +
            fault + "\nrefresh\npoints p\nrefresh\npoints p\n");
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const unsigned line = sourceLine("return reported(status);  " + anchor, "::deformGeometry");
        const std::string report =
            "\nAPI error detected in KivoDeformerNode at line " + std::to_string(line) + "\n";
        // The first report comes straight after the load's own line.
        EXPECT_EQ(run.err.rfind(kLoading + kDone + report, 0), 0u) << fault << "\n" << run.err;
        EXPECT_NE(run.err.find("(injected fault)"), std::string::npos) << run.err;
        // The refresh and the pull of `points` each try once.
        EXPECT_EQ(occurrences(run.err, "API error detected"), 2u) << run.err;
        const auto lines = linesOf(run.out);
        ASSERT_EQ(lines.size(), 20u) << run.out;
        EXPECT_EQ(lines[2 + 4], "0 0 0") << fault;
        EXPECT_EQ(lines[11 + 4], "0 -0.25 0") << fault;
    }
}

}  // namespace
