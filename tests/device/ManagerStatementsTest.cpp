// The statements the device manager queues, run by the host as it runs them: the notices print
// their line, and the calls into the host-side handler work in a scene with or without
// hand-tracking nodes.
#include <gtest/gtest.h>

#include <string>

#include "RunRova.h"

namespace {

using kivorova::testing::RovaRun;
using kivorova::testing::runRovaStatements;

const std::string kLoaded = "Registering Kivo nodes... done.\n";
const std::string kUnloaded = "Unregistering Kivo nodes...\n done.\n";

const std::string kConnectNotice = R"(print("Kivo Sense Controller CONNECTED\n");)";
const std::string kDisconnectNotice = R"(print("Kivo Sense Controller DISCONNECTED\n");)";
const std::string kEnable =
    R"(python("import kivoHandler"); python("kivoHandler.kivoSenseSetEnabled(True);"))";
const std::string kDisable =
    R"(python("import kivoHandler"); python("kivoHandler.kivoSenseSetEnabled(False);"))";

RovaRun runWithPlugin(const std::string& statements) {
    return runRovaStatements("plugin -load kivo_rova\n" + statements);
}

TEST(ManagerStatements, NoticesPrintTheirLine) {
    const RovaRun connect = runWithPlugin(kConnectNotice);
    EXPECT_EQ(connect.exitCode, 0) << connect.err;
    EXPECT_EQ(connect.out, "Kivo Sense Controller CONNECTED\n");
    EXPECT_EQ(connect.err, kLoaded + kUnloaded);

    const RovaRun disconnect = runWithPlugin(kDisconnectNotice);
    EXPECT_EQ(disconnect.exitCode, 0) << disconnect.err;
    EXPECT_EQ(disconnect.out, "Kivo Sense Controller DISCONNECTED\n");
    EXPECT_EQ(disconnect.err, kLoaded + kUnloaded);
}

TEST(ManagerStatements, HandlerCallsSucceedInASceneWithoutTrackingNodes) {
    for (const std::string& statement : {kEnable, kDisable}) {
        SCOPED_TRACE(statement);
        // Another kind of threaded device node keeps its live state.
        const RovaRun run = runWithPlugin("create realTime -name clock\nset clock.live true\n" +
                                          statement + "\nget clock.live\n");
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out, "clock\ntrue\n");
        EXPECT_EQ(run.err, kLoaded + kUnloaded);
    }
}

TEST(ManagerStatements, AnUnplugAndReplugOfALiveNodeRunInOrder) {
    const RovaRun run =
        runWithPlugin(kDisconnectNotice + "\n" + kDisable + "\n" + kConnectNotice + "\n" + kEnable);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "Kivo Sense Controller DISCONNECTED\nKivo Sense Controller CONNECTED\n");
    EXPECT_EQ(run.err, kLoaded + kUnloaded);
}

// Each live tracking node's manager queues the same switch when the device goes and comes back:
// N nodes queue it N times, and the switches together set each node once, not N times each.
TEST(ManagerStatements, TheSwitchesOfNNodesSetEachNodeOnce) {
    constexpr int kNodes = 20;
    std::string script;
    for (int k = 0; k < kNodes; ++k)
        script += "create kivoTransform -name hands" + std::to_string(k) + "\nset hands" +
                  std::to_string(k) + ".live true\n";
    // Counts the statements the handler has the host run.
    script +=
        "python(\"import rova\\n_eval = rova.eval\\nsets = [0]\\n"
        "def _counted(text):\\n    sets[0] += 1\\n    return _eval(text)\\n"
        "rova.eval = _counted\")\n"
        "device -connect\nrefresh\n"
        "device -disconnect\nrefresh\npython(\"print(sets[0])\")\nget hands7.live\n"
        "device -connect\nrefresh\npython(\"print(sets[0])\")\nget hands7.live\n";
    const RovaRun run = runWithPlugin(script);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string disconnected = "Kivo Sense Controller DISCONNECTED\n";
    const std::string connected = "Kivo Sense Controller CONNECTED\n";
    std::string notices;
    for (int k = 0; k < kNodes; ++k) notices += disconnected;
    std::string expected = notices + std::to_string(kNodes) + "\nfalse\n";
    notices.clear();
    for (int k = 0; k < kNodes; ++k) notices += connected;
    expected += notices + std::to_string(2 * kNodes) + "\ntrue\n";
    EXPECT_EQ(run.out.substr(run.out.find(disconnected)), expected);
}

}  // namespace
