// The plug-in built by the outside consumer project, loaded by path into this build's host.
#include <gtest/gtest.h>

#include <string>

#include "RunRova.h"

namespace {

using kivorova::testing::runRovaStatements;

TEST(ConsumerPlugin, LoadsAndRegistersItsNodes) {
    const std::string plugin = KIVOROVA_CONSUMER_PLUGIN;
    const auto run = runRovaStatements("plugin -load \"" + plugin +
                                       "\"\n"
                                       "create timeRotate -name spin\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "Registering Kivo nodes... done.\nUnregistering Kivo nodes...\n done.\n");
    EXPECT_EQ(run.out, "spin\n");
}

}  // namespace
