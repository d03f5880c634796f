// The node driven through scripts in the headless host.
#include <gtest/gtest.h>

#include "RunRova.h"

namespace {

using kivorova::testing::runRovaScript;

TEST(KivoGrabNode, IsCreatedByTheLoadedPlugIn) {
    const auto run = runRovaScript("plugin -load kivo_rova\ncreate kivoGrabNode -name n1\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
}

}  // namespace
