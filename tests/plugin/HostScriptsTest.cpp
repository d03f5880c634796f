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

}  // namespace
