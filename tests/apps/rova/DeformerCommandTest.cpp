// The `deformer` command: a deformer between a mesh's geometry and what the scene shows of it,
// its evaluation, and undo.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "RunRova.h"
#include "ScriptValues.h"

namespace rova::test {

using namespace kivorova::testing;
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
    const auto run = runRovaStatements(kDented +
                                       "move -a 0 3 0 p\nset d.inputPoint0 1 0 0 0 0 1 0 0 "
                                       "0 0 1 0 0 2.5 0 1\nrefresh\npoints p\n"
                                       "points p -world\nexport p \"" +
                                       file.string() + "\"\nls -type mesh\nconnections d\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
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
    const auto run = runRovaStatements(kDented +
                                       "refresh\nprint(\"--\\n\")\n"
                                       "move -a 5 0 0 p\nrefresh\npoints p\nprint(\"--\\n\")\n"
                                       "move -a 0 0 0 p\nset d.verbose true\nrefresh\npoints p\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    // verbose causes no evaluation of its own, but reports the one the move causes.
    EXPECT_EQ(run.out, "p\nd\n--\n" + kFlat + "--\nDeforming begin...\n\t success\n" + kDent);
}

TEST(DeformerCommand, UndoTakesTheDeformerOffAndRestoresTheShapeExactly) {
    // Permanent edits reach the deformer's own copy of the geometry, never the shape's, and go
    // with the step after which they were made: redo brings the deformer back as undo found it,
    // flat, and undo again leaves the shape flat once more.
    const auto run = runRovaStatements(
        kDented +
        "set d.permanent true\nrefresh\nset d.radius 1\nrefresh\n"
        "undo\nundo\nundo\nundo\nundo\nundo\nls -type kivoDeformer\n"
        "connections\npoints p\nredo\nrefresh\npoints p\nundo\nrefresh\npoints p\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "p\nd\n\n\n" + kFlat + kFlat + kFlat);
}

// The sections of a run's output between lines "--".
std::vector<std::string> sections(const std::string& out) {
    std::vector<std::string> parts(1);
    for (const auto& line : linesOf(out)) {
        if (line == "--")
            parts.emplace_back();
        else
            parts.back() += line + "\n";
    }
    return parts;
}

TEST(DeformerCommand, UndoTakesPermanentDentsBackExactly) {
    const std::string mark = "print(\"--\\n\")\n";
    const std::string deeper =
        "-1 0 -1\n0 0 -1\n1 0 -1\n-1 0 0\n0 -0.4375 0\n1 0 0\n-1 0 1\n0 0 1\n1 0 1\n";
    {
        // A setting changed and taken back: the mesh is as it was, the dent the change made goes,
        // and the working shape goes with it (paused, the deformer writes the shape it works on).
        const auto run = runRovaStatements(
            kDented + "set d.permanent true\nrefresh\n" + mark + "points p\n" + mark +
            "set d.radius 1.5\nrefresh\npoints p\n" + mark + "undo\npoints p\nrefresh\npoints p\n" +
            mark + "redo\nrefresh\npoints p\n" + mark +
            "undo\nset d.pause true\nrefresh\npoints p\n" + mark + "undo\nundo\npoints p\n");
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const auto part = sections(run.out);
        ASSERT_EQ(part.size(), 7u) << run.out;
        EXPECT_EQ(part[1], kDent);
        EXPECT_NE(part[2], kDent) << "the wider radius deepens the dent";
        EXPECT_EQ(part[3], kDent + kDent) << "undo gives back the dent as it was, and only that";
        EXPECT_EQ(part[4], part[2]) << "redone, the step dents the mesh as it did";
        EXPECT_EQ(part[5], kDent);
        // Back before `set d.permanent true`, the input is flat again: deformed afresh, it shows
        // the one dent.
        EXPECT_EQ(part[6], kDent);
    }
    {
        // A permanently deforming deformer deleted and restored: the mesh shows the dent it had,
        // and the next deformation goes on from it.
        const auto run = runRovaStatements(kDented + "set d.permanent true\nrefresh\npoints p\n" +
                                           mark + "delete d\npoints p\n" + mark +
                                           "undo\npoints p\nrefresh\npoints p\n" + mark +
                                           "set d.inputPoint0Enabled true\nrefresh\npoints p\n");
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const auto part = sections(run.out);
        ASSERT_EQ(part.size(), 4u) << run.out;
        EXPECT_EQ(part[0], "p\nd\n" + kDent);
        EXPECT_EQ(part[1], kDent) << "the shape keeps what it showed";
        EXPECT_EQ(part[2], kDent + kDent);
        EXPECT_EQ(part[3], deeper);
    }
}

TEST(DeformerCommand, DeformersStackAndComeOffInOrder) {
    const auto run = runRovaStatements(
        kDented +
        "deformer kivoDeformer p -name e\nset e.falloffType 1\nset e.weightedSign false\n"
        "set e.inputPoint0 1 0 0 0 0 1 0 0 0 0 1 0 0 -0.5 0 1\nset e.inputPoint0Enabled true\n"
        "refresh\npoints p\nconnections\nundo\nundo\nundo\nundo\nundo\nrefresh\npoints p\n"
        "connections\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    // e meets the dent d made: 0.25 from its point, it moves the centre by 0.75 against +Y.
    EXPECT_EQ(run.out,
              "p\nd\ne\n-1 0 -1\n0 0 -1\n1 0 -1\n-1 0 0\n0 -1 0\n1 0 0\n-1 0 1\n0 0 1\n1 0 1\n"
              "d.outputGeom[0]->e.inputGeom[0] e.outputGeom[0]->pShape.inMesh\n" +
                  kDent + "d.outputGeom[0]->pShape.inMesh\n");
}

TEST(DeformerCommand, WhatIsNotADeformerOrAMeshIsRefusedAndChangesNothing) {
    const auto run = runRovaStatements(
        "plugin -load kivo_rova\nplane -name p\ncamera -name c\n"
        "deformer timeRotate p\ndeformer kivoDeformer c\ndeformer kivoDeformer p p\n"
        "deformer nothing p\nls\nconnections\n",
        {"--keep-going"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("'timeRotate' is not a deformer type"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("'c' is not a mesh"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("named twice"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("unknown node type 'nothing'"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "p\nc\nsceneTime p pShape c cShape\n\n");
}

}  // namespace
}  // namespace rova::test
