// The `deformer` command: a deformer between a mesh's geometry and what the scene shows of it,
// its evaluation, and undo.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "RovaProcess.h"

namespace rova::test {
namespace {

// A plane of 3 x 3 vertices facing +Y and a deformer whose input point sits 0.5 below its centre:
// with linear falloff and radius 1 the centre vertex alone moves, to y = -0.25.
const std::string kDented =
    "plugin -load kivo_rova\n"
    "plane -name p -size 2 -divisions 2\n"
    "deformer kivoDeformer p -name d\n"
    "set d.falloffType 1\n"
    "set d.inputPoint0 1 0 0 0 0 1 0 0 0 0 1 0 0 -0.5 0 1\n"
    "set d.inputPoint0Enabled true\n";

const std::string kFlat = "-1 0 -1\n0 0 -1\n1 0 -1\n-1 0 0\n0 0 0\n1 0 0\n-1 0 1\n0 0 1\n1 0 1\n";
const std::string kDent =
    "-1 0 -1\n0 0 -1\n1 0 -1\n-1 0 0\n0 -0.25 0\n1 0 0\n-1 0 1\n0 0 1\n1 0 1\n";

TEST(DeformerCommand, TheMeshShowsTheDeformedShapeEverywhere) {
    const auto file =
        std::filesystem::temp_directory_path() / ("deformed" + std::to_string(::getpid()) + ".obj");
    const auto run = runStatements(kDented +
                                   "move -a 0 3 0 p\nset d.inputPoint0 1 0 0 0 0 1 0 0 "
                                   "0 0 1 0 0 2.5 0 1\nrefresh\npoints p\n"
                                   "points p -world\nexport p \"" +
                                   file.string() + "\"\nls -type mesh\nconnections d\n");
    ASSERT_EQ(run.status, 0) << run.err;
    std::ifstream in(file);
    std::stringstream obj;
    obj << in.rdbuf();
    std::filesystem::remove(file);
    EXPECT_NE(obj.str().find("v 0 -0.25 0\n"), std::string::npos) << obj.str();
    EXPECT_EQ(run.out,
              "p\nd\n" + kDent +
                  "-1 3 -1\n0 3 -1\n1 3 -1\n-1 3 0\n0 2.75 0\n1 3 0\n-1 3 1\n0 3 1\n1 3 1\n"
                  "pShape\nd.outputGeom[0]->pShape.inMesh\n");
}

TEST(DeformerCommand, DeclaredInputsAndTheWorldMatrixReDeformAtTheNextRefresh) {
    const auto run = runStatements(kDented +
                                   "refresh\nprint(\"--\\n\")\n"
                                   "move -a 5 0 0 p\nrefresh\npoints p\nprint(\"--\\n\")\n"
                                   "move -a 0 0 0 p\nset d.verbose true\nrefresh\npoints p\n");
    ASSERT_EQ(run.status, 0) << run.err;
    // verbose causes no evaluation of its own, but reports the one the move causes.
    EXPECT_EQ(run.out, "p\nd\n--\n" + kFlat + "--\nDeforming begin...\n\t success\n" + kDent);
}

TEST(DeformerCommand, UndoTakesTheDeformerOffAndRestoresTheShapeExactly) {
    // Permanent edits reach the deformer's own copy of the geometry, never the shape's. Redo
    // brings the deformer back as undo found it, that copy with the dent in it included; undo
    // again and the shape is flat once more.
    const auto run =
        runStatements(kDented +
                      "set d.permanent true\nrefresh\nset d.radius 1\nrefresh\n"
                      "undo\nundo\nundo\nundo\nundo\nundo\nls -type kivoDeformer\n"
                      "connections\npoints p\nredo\nrefresh\npoints p\nundo\nrefresh\npoints p\n");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string deeper =
        "-1 0 -1\n0 0 -1\n1 0 -1\n-1 0 0\n0 -0.4375 0\n1 0 0\n-1 0 1\n0 0 1\n1 0 1\n";
    EXPECT_EQ(run.out, "p\nd\n\n\n" + kFlat + deeper + kFlat);
}

TEST(DeformerCommand, DeformersStackAndComeOffInOrder) {
    const auto run = runStatements(
        kDented +
        "deformer kivoDeformer p -name e\nset e.falloffType 1\nset e.weightedSign false\n"
        "set e.inputPoint0 1 0 0 0 0 1 0 0 0 0 1 0 0 -0.5 0 1\nset e.inputPoint0Enabled true\n"
        "refresh\npoints p\nconnections\nundo\nundo\nundo\nundo\nundo\nrefresh\npoints p\n"
        "connections\n");
    ASSERT_EQ(run.status, 0) << run.err;
    // e meets the dent d made: 0.25 from its point, it moves the centre by 0.75 against +Y.
    EXPECT_EQ(run.out,
              "p\nd\ne\n-1 0 -1\n0 0 -1\n1 0 -1\n-1 0 0\n0 -1 0\n1 0 0\n-1 0 1\n0 0 1\n1 0 1\n"
              "d.outputGeom[0]->e.inputGeom[0] e.outputGeom[0]->pShape.inMesh\n" +
                  kDent + "d.outputGeom[0]->pShape.inMesh\n");
}

TEST(DeformerCommand, WhatIsNotADeformerOrAMeshIsRefusedAndChangesNothing) {
    const auto run = runStatements(
        "plugin -load kivo_rova\nplane -name p\ncamera -name c\n"
        "deformer timeRotate p\ndeformer kivoDeformer c\ndeformer kivoDeformer p p\n"
        "deformer nothing p\nls\nconnections\n",
        {"--keep-going"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("'timeRotate' is not a deformer type"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("'c' is not a mesh"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("named twice"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("unknown node type 'nothing'"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "p\nc\nsceneTime p pShape c cShape\n\n");
}

}  // namespace
}  // namespace rova::test
