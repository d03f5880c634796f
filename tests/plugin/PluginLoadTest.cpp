// Loading and unloading the plug-in in the headless host, including registrations that fail.
#include <gtest/gtest.h>

#include <string>

#include "RunRova.h"

namespace {

using kivorova::testing::runRovaScript;
using kivorova::testing::runRovaStatements;

const std::string kLoaded = "Registering Kivo nodes... done.\n";
const std::string kUnloaded = "Unregistering Kivo nodes...\n done.\n";

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::string firstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

// The host unloads its plug-ins when it exits, so every run ends with the unload lines.
TEST(PluginLoad, CleanLoadPrintsOneLine) {
    const auto run = runRovaStatements("plugin -load kivo_rova");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, kLoaded + kUnloaded);
    EXPECT_EQ(run.out, "");
}

TEST(PluginLoad, LoadedTypesCanBeCreated) {
    const auto run = runRovaScript(
        "plugin -load kivo_rova\n"
        "create kivoTransform -name hands\n"
        "create kivoAttractor -name attractor\n"
        "create realTime -name clock\n"
        "create timeRotate -name spin\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, kLoaded + kUnloaded);
    EXPECT_EQ(run.out, "hands\nattractor\nclock\nspin\n");
}

TEST(PluginLoad, UnloadPrintsItsLinesAndRemovesTheTypes) {
    const auto run = runRovaScript(
        "plugin -load kivo_rova\n"
        "plugin -unload kivo_rova\n"
        "create timeRotate\n");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(startsWith(run.err, kLoaded + kUnloaded)) << run.err;
    EXPECT_NE(run.err.find("timeRotate"), std::string::npos) << run.err;
}

TEST(PluginLoad, FailedRegistrationStopsAtItsRowAndKeepsEarlierOnes) {
    const auto run = runRovaScript(
        "fault registerNode -match realTime\n"
        "plugin -load kivo_rova\n"
        "create kivoAttractor -name kept\n"
        "create realTime\n"
        "create timeRotate\n",
        {"--keep-going"});
    // The load and the two creations of unregistered types fail; the host goes on past them.
    EXPECT_NE(run.exitCode, 0);
    EXPECT_TRUE(
        startsWith(run.err, "Registering Kivo nodes...failed to registerNode realTimeNode: "))
        << run.err;
    EXPECT_EQ(firstLine(run.err).find("done."), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "kept\n");
}

TEST(PluginLoad, FailedFirstNodeRegistrationRegistersNoNode) {
    const auto run = runRovaScript(
        "fault registerNode -match kivoTransform\n"
        "plugin -load kivo_rova\n"
        "create kivoAttractor\n",
        {"--keep-going"});
    EXPECT_NE(run.exitCode, 0);
    EXPECT_TRUE(
        startsWith(run.err, "Registering Kivo nodes...failed to registerNode kivoTransformNode: "))
        << run.err;
    EXPECT_EQ(firstLine(run.err).find("done."), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
}

TEST(PluginLoad, UnloadAfterTheFirstRowFailedReportsTheTrackingType) {
    const auto run = runRovaScript(
        "fault registerNode -match kivoTransform\n"
        "plugin -load kivo_rova\n"
        "plugin -unload kivo_rova\n",
        {"--keep-going"});
    const auto unload = run.err.find("Unregistering Kivo nodes...\n");
    ASSERT_NE(unload, std::string::npos) << run.err;
    const std::string unloadLines = run.err.substr(unload);
    const auto command = unloadLines.find("failed to deregisterCommand kivoSenseController: ");
    const auto tracking = unloadLines.find("failed to deregisterNode kivoTransformNode: ");
    const auto attractor = unloadLines.find("failed to deregisterNode kivoAttractorNode: ");
    ASSERT_NE(tracking, std::string::npos) << unloadLines;
    EXPECT_LT(command, tracking) << unloadLines;
    EXPECT_LT(tracking, attractor) << unloadLines;
}

TEST(PluginLoad, FailedUserInterfaceRegistrationIsReported) {
    const auto run = runRovaScript(
        "fault registerUI\n"
        "plugin -load kivo_rova\n");
    EXPECT_NE(run.exitCode, 0);
    EXPECT_TRUE(startsWith(run.err,
                           "Registering Kivo nodes...failed to registerUIScripts for Kivo Sense "
                           "Controller: "))
        << run.err;
}

TEST(PluginLoad, UnloadAfterPartialLoadReportsEachMissingTypeAndSucceeds) {
    const auto run = runRovaScript(
        "fault registerNode -match kivoAttractor\n"
        "plugin -load kivo_rova\n"
        "plugin -unload kivo_rova\n");
    const auto unload = run.err.find("Unregistering Kivo nodes...\n");
    ASSERT_NE(unload, std::string::npos) << run.err;
    const std::string unloadLines = run.err.substr(unload);
    const std::string expected[] = {
        "Unregistering Kivo nodes...\n",
        "failed to deregisterCommand kivoSenseController: ",
        "failed to deregisterNode kivoAttractorNode: ",
        "failed to deregisterNode realTimeNode: ",
        "failed to deregisterNode timeRotateNode: ",
        " done.\n",
    };
    std::size_t position = 0;
    for (const std::string& line : expected) {
        const auto found = unloadLines.find(line, position);
        ASSERT_NE(found, std::string::npos) << "missing '" << line << "' in:\n" << unloadLines;
        position = found + line.size();
    }
    EXPECT_EQ(position, unloadLines.size()) << unloadLines;
}

TEST(PluginLoad, UnloadAfterLaterRowFailedReportsOnlyTheMissingTypes) {
    const auto run = runRovaScript(
        "fault registerNode -match timeRotate\n"
        "plugin -load kivo_rova\n"
        "plugin -unload kivo_rova\n");
    const auto unload = run.err.find("Unregistering Kivo nodes...\n");
    ASSERT_NE(unload, std::string::npos) << run.err;
    const std::string unloadLines = run.err.substr(unload);
    EXPECT_NE(unloadLines.find("failed to deregisterCommand kivoSenseController: "),
              std::string::npos)
        << unloadLines;
    EXPECT_EQ(unloadLines.find("kivoAttractorNode"), std::string::npos) << unloadLines;
    EXPECT_EQ(unloadLines.find("realTimeNode"), std::string::npos) << unloadLines;
    EXPECT_NE(unloadLines.find("failed to deregisterNode timeRotateNode: "), std::string::npos)
        << unloadLines;
}

TEST(PluginLoad, FailedCommandRegistrationKeepsEveryNodeType) {
    const auto run = runRovaScript(
        "fault registerCommand -match kivoSenseController\n"
        "plugin -load kivo_rova\n"
        "create timeRotate -name kept\n"
        "kivoSenseController -connected\n",
        {"--keep-going"});
    EXPECT_NE(run.exitCode, 0);
    EXPECT_TRUE(startsWith(
        run.err, "Registering Kivo nodes...failed to registerCommand kivoSenseController: "))
        << run.err;
    EXPECT_EQ(firstLine(run.err).find("done."), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "kept\n") << "the node types before the command stay registered";
    EXPECT_NE(run.err.find("kivoSenseController: unknown command"), std::string::npos) << run.err;
}

// The smoothing node's rows come after every original row: its failure leaves all of them
// registered, and its deregistration is reported last.
TEST(PluginLoad, TheFilterRegistersAfterTheOriginalRowsAndDeregistersLast) {
    const auto load = runRovaScript(
        "fault registerNode -match kivoFilter\n"
        "plugin -load kivo_rova\n"
        "create kivoGrabNode -name grab\n"
        "kivoSenseController -connected\n"
        "create kivoFilter\n",
        {"--keep-going"});
    EXPECT_NE(load.exitCode, 0);
    EXPECT_TRUE(
        startsWith(load.err, "Registering Kivo nodes...failed to registerNode kivoFilter: "))
        << load.err;
    EXPECT_EQ(load.out, "grab\nfalse\n");

    const auto unload = runRovaScript(
        "plugin -load kivo_rova\n"
        "fault deregisterNode -times -1\n"
        "plugin -unload kivo_rova\n");
    const auto start = unload.err.find("Unregistering Kivo nodes...\n");
    ASSERT_NE(start, std::string::npos) << unload.err;
    const std::string lines = unload.err.substr(start);
    const auto grab = lines.find("deregisterNode KivoGrabNode: ");
    const auto filter = lines.find("failed to deregisterNode kivoFilter: ");
    ASSERT_NE(grab, std::string::npos) << lines;
    ASSERT_NE(filter, std::string::npos) << lines;
    EXPECT_LT(grab, filter) << lines;
    EXPECT_NE(lines.find(" done.\n", filter), std::string::npos) << lines;
}

TEST(PluginLoad, FailedCommandDeregistrationIsReportedFirstAndUnloadGoesOn) {
    const auto run = runRovaScript(
        "plugin -load kivo_rova\n"
        "fault deregisterCommand -match kivoSenseController\n"
        "plugin -unload kivo_rova\n"
        "create timeRotate\n",
        {"--keep-going"});
    const auto unload = run.err.find("Unregistering Kivo nodes...\n");
    ASSERT_NE(unload, std::string::npos) << run.err;
    EXPECT_TRUE(startsWith(run.err.substr(unload),
                           "Unregistering Kivo nodes...\n"
                           "failed to deregisterCommand kivoSenseController: "))
        << run.err;
    EXPECT_NE(run.err.find(" done.\n", unload), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("timeRotate", unload), std::string::npos)
        << "the node types were deregistered all the same: " << run.err;
    EXPECT_EQ(run.out, "");
}

}  // namespace
