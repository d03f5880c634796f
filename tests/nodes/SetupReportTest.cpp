// Failures of host calls while the plug-in's node types set up their attributes, and of the
// host calls of the real-time node's life, each made to happen with the host's `fault` command.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LoadReport.h"
#include "RunRova.h"
#include "SourceLines.h"

namespace {

using kivorova::testing::expectConfigureReport;
using kivorova::testing::kLoading;
using kivorova::testing::lineOf;
using kivorova::testing::loadOutput;
using kivorova::testing::occurrences;
using kivorova::testing::runRovaScript;
using kivorova::testing::sourceRoot;

// A configuring call that fails: reported with the unit and the call's own source line, and
// the load goes on.
struct ConfigureFailure {
    std::string fault;   // the `fault` statement
    std::string unit;    // class and source file stem
    std::string anchor;  // text of the line that creates the attribute
    std::string call;    // text of the failing call, the first after the anchor
};

void PrintTo(const ConfigureFailure& c, std::ostream* out) {
    *out << c.fault;
}

class ConfigureFailureTest : public ::testing::TestWithParam<ConfigureFailure> {};

TEST_P(ConfigureFailureTest, ReportsUnitAndLineThenLoadGoesOn) {
    const ConfigureFailure& c = GetParam();
    const unsigned line = lineOf(sourceRoot() / "nodes" / (c.unit + ".cpp"), c.call, c.anchor);

    const auto run = runRovaScript(c.fault + "\nplugin -load kivo_rova\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    expectConfigureReport(run.err, c.unit, line);
    // The status's own report follows on a line of its own.
    EXPECT_EQ(occurrences(loadOutput(run.err), "\n"), 4u) << run.err;
}

const ConfigureFailure kKivoAttractorNodeConfiguring[] = {
    {"fault setKeyable -match strength", "KivoAttractorNode", "create(\"strength\"",
     "setKeyable(true)"},
    {"fault setStorable -match strength", "KivoAttractorNode", "create(\"strength\"",
     "setStorable(true)"},
    {"fault setHidden -match strength", "KivoAttractorNode", "create(\"strength\"",
     "setHidden(false)"},
    {"fault setDefault -match strength", "KivoAttractorNode", "create(\"strength\"", "setDefault("},
    {"fault setKeyable -match track", "KivoAttractorNode", "create(\"track\"", "setKeyable(true)"},
    {"fault setStorable -match track", "KivoAttractorNode", "create(\"track\"",
     "setStorable(true)"},
    {"fault setHidden -match track", "KivoAttractorNode", "create(\"track\"", "setHidden(false)"},
    {"fault setDefault -match track", "KivoAttractorNode", "create(\"track\"", "setDefault("}};

INSTANTIATE_TEST_SUITE_P(KivoAttractorNode, ConfigureFailureTest,
                         ::testing::ValuesIn(kKivoAttractorNodeConfiguring));

const ConfigureFailure kRealTimeNodeConfiguring[] = {
    {"fault setKeyable -match rate", "RealTimeNode", "create(\"rate\"", "setKeyable(true)"},
    {"fault setStorable -match rate", "RealTimeNode", "create(\"rate\"", "setStorable(true)"},
    {"fault setHidden -match rate", "RealTimeNode", "create(\"rate\"", "setHidden(false)"},
    {"fault setWritable -match deltaTime", "RealTimeNode", "create(\"deltaTime\"",
     "setWritable(false)"},
    {"fault setStorable -match deltaTime", "RealTimeNode", "create(\"deltaTime\"",
     "setStorable(false)"},
    {"fault setHidden -match deltaTime", "RealTimeNode", "create(\"deltaTime\"",
     "setHidden(false)"},
    {"fault setWritable -match elapsedTime", "RealTimeNode", "create(\"elapsedTime\"",
     "setWritable(false)"},
    {"fault setStorable -match elapsedTime", "RealTimeNode", "create(\"elapsedTime\"",
     "setStorable(false)"},
    {"fault setHidden -match elapsedTime", "RealTimeNode", "create(\"elapsedTime\"",
     "setHidden(false)"}};

INSTANTIATE_TEST_SUITE_P(RealTimeNode, ConfigureFailureTest,
                         ::testing::ValuesIn(kRealTimeNodeConfiguring));

const ConfigureFailure kTimeRotateNodeConfiguring[] = {
    {"fault setKeyable -match timeRotate.scale", "TimeRotateNode", "create(\"scale\"",
     "setKeyable(true)"},
    {"fault setStorable -match timeRotate.scale", "TimeRotateNode", "create(\"scale\"",
     "setStorable(true)"},
    {"fault setHidden -match timeRotate.scale", "TimeRotateNode", "create(\"scale\"",
     "setHidden(false)"},
    {"fault setDefault -match axis", "TimeRotateNode", "create(\"axis\"", "setDefault("},
    {"fault setKeyable -match axis", "TimeRotateNode", "create(\"axis\"", "setKeyable(true)"},
    {"fault setStorable -match axis", "TimeRotateNode", "create(\"axis\"", "setStorable(true)"},
    {"fault setHidden -match axis", "TimeRotateNode", "create(\"axis\"", "setHidden(false)"},
    {"fault setDefault -match initialRotate", "TimeRotateNode", "create(\"initialRotate\"",
     "setDefault("},
    {"fault setKeyable -match initialRotate", "TimeRotateNode", "create(\"initialRotate\"",
     "setKeyable(true)"},
    {"fault setStorable -match initialRotate", "TimeRotateNode", "create(\"initialRotate\"",
     "setStorable(true)"},
    {"fault setHidden -match initialRotate", "TimeRotateNode", "create(\"initialRotate\"",
     "setHidden(false)"},
    {"fault setWritable -match outputRotate", "TimeRotateNode", "create(\"outputRotate\"",
     "setWritable(false)"},
    {"fault setStorable -match outputRotate", "TimeRotateNode", "create(\"outputRotate\"",
     "setStorable(false)"},
    {"fault setHidden -match outputRotate", "TimeRotateNode", "create(\"outputRotate\"",
     "setHidden(false)"}};

INSTANTIATE_TEST_SUITE_P(TimeRotateNode, ConfigureFailureTest,
                         ::testing::ValuesIn(kTimeRotateNodeConfiguring));

// A creation, addition or dependency that fails: the operation's message, then the failed
// registration of the node type; the load stops there.
struct SetupFailure {
    std::string fault;
    std::string message;       // the status report's text, before ": "
    std::string registration;  // the load row's message
};

void PrintTo(const SetupFailure& c, std::ostream* out) {
    *out << c.fault;
}

class SetupFailureTest : public ::testing::TestWithParam<SetupFailure> {};

TEST_P(SetupFailureTest, ReportsTheOperationAndFailsTheRegistration) {
    const SetupFailure& c = GetParam();
    const auto run = runRovaScript(c.fault + "\nplugin -load kivo_rova\n");
    EXPECT_NE(run.exitCode, 0);
    const std::string start = kLoading + c.message + ": ";
    EXPECT_EQ(run.err.compare(0, start.size(), start), 0) << "expected start:\n"
                                                          << start << "\ngot:\n"
                                                          << run.err;
    const auto registration = run.err.find("\n" + c.registration + ": ");
    EXPECT_NE(registration, std::string::npos) << run.err;
    EXPECT_EQ(loadOutput(run.err).find("done."), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("API error detected"), std::string::npos) << run.err;
}

const std::string kAttractorRow = "failed to registerNode kivoAttractorNode";
const std::string kRealTimeRow = "failed to registerNode realTimeNode";
const std::string kTimeRotateRow = "failed to registerNode timeRotateNode";

const SetupFailure kKivoAttractorNodeSetUp[] = {
    {"fault create -match time", "create time", kAttractorRow},
    {"fault create -match inputAttractor", "create inputAttractor", kAttractorRow},
    {"fault create -match inputAttracted", "create inputAttracted", kAttractorRow},
    {"fault create -match outputAttracted", "create outpuAttracted", kAttractorRow},
    {"fault addAttribute -match strength", "addAttribute: strength", kAttractorRow},
    {"fault addAttribute -match track", "addAttribute: track", kAttractorRow},
    {"fault addAttribute -match time", "addAttribute: time", kAttractorRow},
    {"fault addAttribute -match inputAttractor", "addAttribute: inputAttractor", kAttractorRow},
    {"fault addAttribute -match inputAttracted", "addAttribute: inputAttracted", kAttractorRow},
    {"fault addAttribute -match outputAttracted", "addAttribute: outputAttracted", kAttractorRow},
    {"fault attributeAffects -match time", "attributeAffects:time->outputAttracted", kAttractorRow},
    {"fault attributeAffects -match inputAttractor",
     "attributeAffects:inputAttractor->outputAttracted", kAttractorRow}};

INSTANTIATE_TEST_SUITE_P(KivoAttractorNode, SetupFailureTest,
                         ::testing::ValuesIn(kKivoAttractorNodeSetUp));

const SetupFailure kRealTimeNodeSetUp[] = {
    {"fault addAttribute -match rate", "addAttribute: rate", kRealTimeRow},
    {"fault addAttribute -match deltaTime", "addAttribute: deltaTime", kRealTimeRow},
    {"fault addAttribute -match elapsedTime", "addAttribute: elapsedTime", kRealTimeRow},
    {"fault attributeAffects -match rate", "attributeAffects:rate->elapsedTime", kRealTimeRow},
    {"fault attributeAffects -match deltaTime", "attributeAffects:elapsedTime->deltaTime",
     kRealTimeRow}};

INSTANTIATE_TEST_SUITE_P(RealTimeNode, SetupFailureTest, ::testing::ValuesIn(kRealTimeNodeSetUp));

const SetupFailure kTimeRotateNodeSetUp[] = {
    {"fault addAttribute -match timeRotate.scale", "addAttribute: scale", kTimeRotateRow},
    {"fault addAttribute -match axis", "addAttribute: axis", kTimeRotateRow},
    {"fault addAttribute -match initialRotate", "addAttribute: initialRotate", kTimeRotateRow},
    {"fault addAttribute -match outputRotate", "addAttribute: outputRotate", kTimeRotateRow},
    {"fault attributeAffects -match timeRotate.scale", "attributeAffects:scale->outputRotate",
     kTimeRotateRow},
    {"fault attributeAffects -match axis", "attributeAffects:axis->outputRotate", kTimeRotateRow},
    {"fault attributeAffects -match time->outputRotate", "attributeAffects:time->outputRotate",
     kTimeRotateRow},
    {"fault attributeAffects -match initialRotate", "attributeAffects:initialRotate->outputRotate",
     kTimeRotateRow},
    // A subject names the type, so one type's `time` fails while the others load.
    {"fault addAttribute -match timeRotate.time", "addAttribute: time", kTimeRotateRow}};

INSTANTIATE_TEST_SUITE_P(TimeRotateNode, SetupFailureTest,
                         ::testing::ValuesIn(kTimeRotateNodeSetUp));

TEST(SetupFailureSubjects, NameTheTypeBeingSetUp) {
    const auto run = runRovaScript(
        "fault addAttribute -match timeRotate.time\n"
        "plugin -load kivo_rova\n");
    EXPECT_NE(run.exitCode, 0);
    EXPECT_NE(run.err.find("addAttribute: time: addAttribute failed for 'timeRotate.time' "
                           "(injected fault)\n"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(occurrences(loadOutput(run.err), "failed to registerNode"), 1u) << run.err;

    const auto dependency = runRovaScript(
        "fault attributeAffects -match realTime.rate->\n"
        "plugin -load kivo_rova\n");
    EXPECT_NE(dependency.err.find("attributeAffects failed for 'realTime.rate->elapsedTime' "
                                  "(injected fault)"),
              std::string::npos)
        << dependency.err;
}

// Host calls of a real-time node's life that fail after set-up.
TEST(RealTimeNodeFailures, RefreshAttributeFailureIsReportedAndTheNodeStillRuns) {
    const auto run = runRovaScript(
        "plugin -load kivo_rova\n"
        "fault setRefreshOutputAttributes\n"
        "create realTime -name clock\n"
        "set clock.live true\n"
        "refresh\n"
        "get clock.elapsedTime\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("\nsetRefreshOutputAttributes: "), std::string::npos) << run.err;
}

TEST(RealTimeNodeFailures, OutputHandleFailuresAreReportedAndTheEvaluationFails) {
    for (const std::string output : {"elapsedTime", "deltaTime"}) {
        SCOPED_TRACE(output);
        const auto run = runRovaScript(
            "plugin -load kivo_rova\n"
            "create realTime -name clock\n"
            "set clock.live true\n"
            "refresh\n"
            "fault outputValue -match " +
            output +
            "\n"
            "get clock.elapsedTime\n");
        EXPECT_NE(run.err.find("Error in output for " + output + ": "), std::string::npos)
            << run.err;
    }
}

}  // namespace
