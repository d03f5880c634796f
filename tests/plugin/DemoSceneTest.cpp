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
    EXPECT_NE(run.out.find("1249 frames delivered"), std::string::npos) << run.out;
    EXPECT_TRUE(run.out.ends_with("demo finished\n")) << run.out;

    // What the replayed hands did to the scene, as the session reports it from its bake.
    for (const char* said :
         {"baked 1249 frames from frame 1: 8 objects (8 meshes, ", "  frames baked: 1249\n",
          "  gestures seen: swipe 1, circle 1, screenTap 1, keyTap 1\n", "  grabs: 1 (block)\n",
          " of 1839 vertices dented", "  marker samples: palm 1249, finger0 1249, finger1 1249",
          "columns), the hand of hand as a skin -> out/demo.glb, out/demo.json (60 fps, 1 scene "
          "unit = 0.02 m)"})
        EXPECT_NE(run.out.find(said), std::string::npos) << said << "\n" << run.out;
    const auto dented = run.out.find("  bunny: ");
    ASSERT_NE(dented, std::string::npos) << run.out;
    EXPECT_GT(std::stoi(run.out.substr(dented + 9)), 10);

    // The files it names are there: the bake, its table and the marker paths.
    const auto out = sourceRoot() / "out";
    EXPECT_GT(std::filesystem::file_size(out / "demo.glb"), 100000u);
    EXPECT_GT(std::filesystem::file_size(out / "demo.json"), 100000u);
    std::ifstream paths(out / "hand-paths.obj");
    std::stringstream text;
    text << paths.rdbuf();
    EXPECT_NE(text.str().find("o palm\nv "), std::string::npos);
    EXPECT_NE(text.str().find("o finger4\nv "), std::string::npos);
}

}  // namespace
