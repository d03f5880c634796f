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

}  // namespace
