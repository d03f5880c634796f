// The host-side scripts shipped with the plug-in: found by name on the host's script path.
#include <gtest/gtest.h>

#include "RunRova.h"

namespace {

using kivorova::testing::runRovaScript;

TEST(HostScripts, UserInterfaceProceduresRunSilently) {
    const auto run = runRovaScript(
        "kivoSenseCreateUI\n"
        "kivoSenseDeleteUI\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
}

TEST(HostScripts, HandlerSwitchesHandTrackingNodesAndIsQuietWithoutThem) {
    const auto run = runRovaScript(
        "plugin -load kivo_rova\n"
        "python(\"import kivoHandler\\nkivoHandler.kivoSenseSetEnabled(True)\\n"
        "kivoHandler.kivoSenseSetEnabled(False)\")\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "");
}

TEST(HostScripts, HandlerSwitchesEveryHandTrackingNodeAndNoOtherNode) {
    const auto run = runRovaScript(
        "plugin -load kivo_rova\n"
        "create kivoTransform -name left\n"
        "create kivoTransform -name right\n"
        "create realTime -name clock\n"
        "set right.live on\n"
        "python(\"import kivoHandler\\nkivoHandler.kivoSenseSetEnabled(True)\")\n"
        "get left.live\nget right.live\nget clock.live\n"
        "set clock.live on\n"
        "python(\"import kivoHandler\\nkivoHandler.kivoSenseSetEnabled(False)\")\n"
        "get left.live\nget right.live\nget clock.live\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "left\nright\nclock\ntrue\ntrue\nfalse\nfalse\nfalse\ntrue\n");
}

}  // namespace
