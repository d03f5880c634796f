// The bundled session that scripts/run-demo plays: it must keep running to its end as the
// plug-in, the host and the device change.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

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

    // The markers followed the tracked hand through every frame, and their paths were written.
    for (const char* marker : {"palm   325 samples", "tip0   325 samples", "tip4   325 samples"})
        EXPECT_NE(run.out.find(marker), std::string::npos) << marker << "\n" << run.out;
    std::ifstream paths(sourceRoot() / "out" / "hand-paths.obj");
    std::stringstream text;
    text << paths.rdbuf();
    EXPECT_NE(text.str().find("o palm\nv "), std::string::npos);
    EXPECT_NE(text.str().find("o tip4\nv "), std::string::npos);
}

}  // namespace
