// The bundled session that scripts/run-demo plays: it must keep running to its end as the
// plug-in, the host and the device change.
#include <gtest/gtest.h>

#include <filesystem>

#include "RunRova.h"

namespace {

using namespace kivorova::testing;

TEST(DemoScene, PlaysToTheEndFromTheRepositoryRoot) {
    std::filesystem::current_path(sourceRoot());
    const auto run = runRova({"data/scenes/demo.rova"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err.rfind("Registering Kivo nodes... done.\n", 0), 0u) << run.err;
    EXPECT_NE(run.out.find("frame 48\n  spin.outputRotate:      0 90 45\n"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("device connected: true\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("325 frames delivered"), std::string::npos) << run.out;
    EXPECT_TRUE(run.out.ends_with("demo finished\n")) << run.out;
}

}  // namespace
