// The host-side scripts shipped with the plug-in: found by name on the host's script path.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RunRova.h"
#include "ScriptValues.h"

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

TEST(HostScripts, TheDeviceComingAndGoingLeavesTheUsersUndoAlone) {
    // The handler's switches run at a tick, on the device's account, not the user's: an undo
    // after the device went and came back takes back the user's last change.
    const auto run = runRovaScript(
        "plugin -load kivo_rova\n"
        "create kivoTransform -name hand\nset hand.live on\n"
        "cube -name box\nmove -a 5 0 0 box\n"
        "device -connect\nrefresh\ndevice -disconnect\nrefresh\nget hand.live\n"
        "device -connect\nrefresh\nget hand.live\n"
        "undo\nget box.tx\nget hand.live\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const auto lines = kivorova::testing::linesOf(run.out);
    // Switched off as the device went and on as it came back; the undo then moves the box.
    EXPECT_EQ(lines, (std::vector<std::string>{"hand", "box", "Kivo Sense Controller DISCONNECTED",
                                               "false", "Kivo Sense Controller CONNECTED", "true",
                                               "0", "true"}));
}

}  // namespace
