// The interaction session in data/scenes: a replayed pinch carries a block and a replayed poke
// dents the bunny, through the grab node and the deformer node of the loaded plug-in.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "RunRova.h"

namespace {

using namespace kivorova::testing;

TEST(InteractionScene, APinchCarriesTheBlockAndAPokeDentsTheBunny) {
    std::filesystem::current_path(sourceRoot());
    const auto run = runRova({"data/scenes/interaction.rova"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    // Grabbed while the pinch closes, carried, let go as the hand opens: one undo puts it back.
    EXPECT_NE(run.out.find("between the fingers block  grabbed block  block at -5.000 8.250 "
                           "-3.000\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("\nmove -a 3.04"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("between the fingers block  grabbed null   block at 3.048 10.716 "
                           "-4.977\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("block after one undo:    -5 8.25 -3\n"), std::string::npos) << run.out;
    // The poke pushed some vertices in, and only near the fingertip.
    const auto dent = run.out.find(" of 1839 vertices pushed in, the deepest by ");
    ASSERT_NE(dent, std::string::npos) << run.out;
    const int dented = std::stoi(run.out.substr(run.out.rfind("  ", dent) + 2));
    EXPECT_GT(dented, 10);
    EXPECT_LT(dented, 300);
    std::ifstream exported(sourceRoot() / "out" / "poked-bunny.obj");
    const std::string text{std::istreambuf_iterator<char>(exported),
                           std::istreambuf_iterator<char>()};
    EXPECT_NE(text.find("\nv "), std::string::npos);
}

}  // namespace
