// A thousand unplug/replug cycles of the simulated device in the rova program, with a live
// hand-tracking node, a live gestures node and a live realTime clock: every cycle the manager's
// notices print once each, in order, the host-side handler switches the tracking node off and on
// again while the other data threads keep running, and the run ends (no deadlock) with every
// node in the live state it should have. Meant for the sanitizer builds as much as for release:
// each cycle stops and restarts a data thread, runs the handler's Python and ticks twice.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <string>

#include "LoadReport.h"
#include "RunRova.h"

namespace {

using kivorova::testing::occurrences;
using kivorova::testing::RovaRun;
using kivorova::testing::runRovaScript;

constexpr int kCycles = 1000;

const std::string kDisconnected = "Kivo Sense Controller DISCONNECTED\n";
const std::string kConnected = "Kivo Sense Controller CONNECTED\n";

TEST(UnplugReplugStress, AThousandCyclesPrintEveryNoticeOnceInOrderAndKeepTheNodesRight) {
    std::string script =
        "plugin -load kivo_rova\n"
        "create kivoTransform -name hands\n"
        "create kivoGesturesNode -name gestures\n"
        "create realTime -name clock\n"
        "device -connect\n"
        "set hands.live true\n"
        "set gestures.live true\n"
        "set clock.live true\n"
        "refresh\n";
    // `device` returns once the listeners have heard of the change; the next refresh runs what
    // the manager queued: its notice, then the handler switching the tracking node.
    for (int k = 0; k < kCycles; ++k)
        script +=
            "device -disconnect; refresh; get hands.live\n"
            "device -connect; refresh; get hands.live\n";
    script +=
        "get hands.live; get gestures.live; get clock.live\n"
        "device -status\n";

    const RovaRun run = runRovaScript(script);
    ASSERT_EQ(run.exitCode, 0) << run.err.substr(0, 4000);

    EXPECT_EQ(occurrences(run.out, kDisconnected), static_cast<std::size_t>(kCycles));
    EXPECT_EQ(occurrences(run.out, kConnected), static_cast<std::size_t>(kCycles));
    // Every line in its place: each notice once per cycle, disconnect first, and the tracking
    // node off while the device is away and on again once it is back.
    std::string expected = "hands\ngestures\nclock\n";
    for (int k = 0; k < kCycles; ++k) expected += kDisconnected + "false\n" + kConnected + "true\n";
    expected += "true\ntrue\ntrue\n";
    const std::string status = "source none, connected, focus on, frame " +
                               std::to_string(kCycles + 1) + ", " + std::to_string(kCycles + 1) +
                               " frames delivered\n";
    expected += status;
    EXPECT_TRUE(run.out == expected)
        << "first difference at byte "
        << std::mismatch(run.out.begin(), run.out.end(), expected.begin(), expected.end()).first -
               run.out.begin()
        << " of " << run.out.size();

    // The tracking node's data thread ended once per unplug and once at exit; nothing else was
    // reported.
    EXPECT_EQ(occurrences(run.err, "Exiting kivo thread loop...\n"),
              static_cast<std::size_t>(kCycles + 1));
    EXPECT_EQ(occurrences(run.err, "error"), 0u) << run.err.substr(0, 4000);
    EXPECT_EQ(occurrences(run.err, "Sanitizer"), 0u) << run.err.substr(0, 4000);
}

}  // namespace
