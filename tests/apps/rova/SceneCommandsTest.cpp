// The scene commands as scripts use them: objects and their exact geometry, the hierarchy and
// world positions, move and rotate with undo, matrices driven through connections, the active
// view, OBJ files in and out, and the messages for what is wrong.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "RunRova.h"
#include "ScriptValues.h"
#include "TempDir.h"

namespace rova::test {

using namespace kivorova::testing;
namespace {

std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The statements' standard output, after checking that they all succeeded in silence.
std::string outputOf(const std::string& statements) {
    const auto run = runRovaStatements(statements);
    EXPECT_EQ(run.exitCode, 0) << statements << "\n" << run.err;
    EXPECT_EQ(run.err, "") << statements;
    return run.out;
}

TEST(SceneCommands, PrimitivesHaveTheirExactVerticesInVertexOrder) {
    EXPECT_EQ(outputOf("cube -name c -size 2\npoints c"),
              "c\n"
              "-1 -1 1\n1 -1 1\n-1 1 1\n1 1 1\n-1 1 -1\n1 1 -1\n-1 -1 -1\n1 -1 -1\n");
    EXPECT_EQ(outputOf("cube\npoints cube1Shape"),
              "cube1\n-0.5 -0.5 0.5\n0.5 -0.5 0.5\n-0.5 0.5 0.5\n0.5 0.5 0.5\n"
              "-0.5 0.5 -0.5\n0.5 0.5 -0.5\n-0.5 -0.5 -0.5\n0.5 -0.5 -0.5\n");
    // Rows from -Z to +Z, each from -X to +X, all at y = 0.
    EXPECT_EQ(outputOf("plane -name p -size 4 -divisions 2\npoints p"),
              "p\n-2 0 -2\n0 0 -2\n2 0 -2\n-2 0 0\n0 0 0\n2 0 0\n-2 0 2\n0 0 2\n2 0 2\n");
    EXPECT_EQ(outputOf("plane -name p\npoints p"),
              "p\n-0.5 0 -0.5\n0.5 0 -0.5\n-0.5 0 0.5\n0.5 0 0.5\n");
    // Four slices, two stacks: the top pole, one ring of four turning from +X towards -Z, the
    // bottom pole.
    EXPECT_EQ(outputOf("sphere -name s -radius 2 -segments 4\npoints s"),
              "s\n0 2 0\n2 0 0\n0 0 -2\n-2 0 0\n0 0 2\n0 -2 0\n");
    const std::string ball = outputOf("sphere -name s\npoints s");
    EXPECT_EQ(std::count(ball.begin(), ball.end(), '\n'), 1 + 2 + 7 * 16)
        << "16 slices, 8 stacks: 2 poles and 7 rings of 16";
}

TEST(SceneCommands, ObjectsAreTransformsWithShapesAndListLikeOtherNodes) {
    EXPECT_EQ(outputOf("transform -name t\ncube -name c -parent t\ncamera -name cam\n"
                       "ls\nls -type transform\nls -type mesh\nls -type camera\n"
                       "get c.translate\nget c.scale\nget cShape.outMesh"),
              "t\nc\ncam\n"
              "sceneTime t c cShape cam camShape\nt c cam\ncShape\ncamShape\n"
              "0 0 0\n1 1 1\nmesh\n");
}

TEST(SceneCommands, AnObjectWithTheLongestNameGetsAShapeNameWithinIt) {
    const std::string longest(256, 'b');
    const std::string shape = longest.substr(0, 251) + "Shape";
    EXPECT_EQ(outputOf("cube -name " + longest + "\nls -type mesh"), longest + "\n" + shape + "\n");
}

TEST(SceneCommands, WorldPositionsGoThroughParentsAndConnectedInputMatrices) {
    EXPECT_EQ(outputOf("transform -name rig\ncube -name c -parent rig\n"
                       "move -a 0 10 0 rig\nmove -r 1 0 0 cShape\n"
                       "get c.translate\nget c.worldMatrix\npoints c -world"),
              "rig\nc\n1 0 0\n1 0 0 0 0 1 0 0 0 0 1 0 1 10 0 1\n"
              "0.5 9.5 0.5\n1.5 9.5 0.5\n0.5 10.5 0.5\n1.5 10.5 0.5\n"
              "0.5 10.5 -0.5\n1.5 10.5 -0.5\n0.5 9.5 -0.5\n1.5 9.5 -0.5\n");
    // Any matrix output drives an object through its inputMatrix, applied after its own
    // translation; reads pull through the connection each time the source changes.
    EXPECT_EQ(outputOf("transform -name driver\nplane -name p\nmove -a 5 0 0 p\n"
                       "connect driver.worldMatrix p.inputMatrix\n"
                       "rotate -os 0 0 180 driver\nget p.worldMatrix\n"
                       "move -a 0 0 3 driver\nrotate -os 0 0 0 driver\npoints p -world"),
              "driver\np\n"
              "-1 1.2246467991473532e-16 0 0 -1.2246467991473532e-16 -1 0 0 0 0 1 0 "
              "-5 6.123233995736766e-16 0 1\n"
              "4.5 0 2.5\n5.5 0 2.5\n4.5 0 3.5\n5.5 0 3.5\n");
}

TEST(SceneCommands, DecomposeMatrixGivesBackTheChannelsThatMadeAMatrix) {
    // A matrix output drives another transform's channels through it, and follows its source.
    const auto out = linesOf(
        outputOf("transform -name a; move -a 1 -2 3 a; rotate -os 10 20 30 a; set a.scale 2 3 4\n"
                 "create decomposeMatrix -name d; connect a.worldMatrix d.inputMatrix\n"
                 "transform -name b\n"
                 "connect d.outputTranslate b.translate; connect d.outputRotate b.rotate\n"
                 "connect d.outputScale b.scale\n"
                 "get d.outputTranslate; get d.outputScaleZ\n"
                 "move -a 4 5 6 a; refresh; get b.translate; get b.matrix; get a.matrix\n"
                 "undo; get d.outputTranslate"));
    ASSERT_EQ(out.size(), 9u);
    EXPECT_EQ(out[3], "1 -2 3");
    EXPECT_EQ(out[4], "4");
    EXPECT_EQ(out[5], "4 5 6");
    std::istringstream rebuilt(out[6]), original(out[7]);
    for (double x = 0.0, y = 0.0; rebuilt >> x && original >> y;) EXPECT_NEAR(x, y, 1e-12);
    EXPECT_EQ(out[8], "1 -2 3");
}

TEST(SceneCommands, ARefreshEvaluatesWhatTheSceneShowsOnce) {
    EXPECT_EQ(outputOf("transform -name driver\ncube -name c\n"
                       "connect driver.worldMatrix c.inputMatrix\nrefresh\n"
                       "trace on -compute\nmove -a 1 0 0 driver\nrefresh\nrefresh\n"
                       "get c.worldMatrix"),
              "driver\nc\n"
              "trace: compute driver.worldMatrix\ntrace: compute c.worldMatrix\n"
              "1 0 0 0 0 1 0 0 0 0 1 0 1 0 0 1\n");
}

TEST(SceneCommands, MoveAndRotateAreUndoneAndRedoneExactly) {
    EXPECT_EQ(
        outputOf("cube -name c\nmove -a 1 2 3 c\nmove -r 0.1 0.2 0.3 c\nrotate -os 10 20 30 c\n"
                 "get c.translate\nget c.rotate\n"
                 "undo\nget c.rotate\nundo\nget c.translate\nundo\nget c.translate\n"
                 "redo\nredo\nredo\nget c.translate\nget c.rotate"),
        "c\n1.1 2.2 3.3\n10 20 30\n"
        "0 0 0\n1 2 3\n0 0 0\n"
        "1.1 2.2 3.3\n10 20 30\n");
    // Several objects in one statement are one step.
    EXPECT_EQ(outputOf("cube -name a\ncube -name b\nmove -a 1 1 1 a bShape\nget b.translate\n"
                       "undo\nget a.translate\nget b.translate"),
              "a\nb\n1 1 1\n0 0 0\n0 0 0\n");
}

TEST(SceneCommands, CreationAndDeletionOfObjectsAreUndoneWithTheirHierarchy) {
    EXPECT_EQ(outputOf("transform -name rig\nsphere -name s -parent rig -segments 4\n"
                       "cube -name c -parent s\nmove -a 0 1 0 rig\nmove -a 0 0 1 c\n"
                       "delete rig\nls\nundo\nls\npoints c -world\n"
                       "redo\nls\nundo\nundo\nundo\nundo\nls\nredo\nls -type mesh"),
              "rig\ns\nc\n"
              "sceneTime\n"
              "sceneTime rig s sShape c cShape\n"
              "-0.5 0.5 1.5\n0.5 0.5 1.5\n-0.5 1.5 1.5\n0.5 1.5 1.5\n"
              "-0.5 1.5 0.5\n0.5 1.5 0.5\n-0.5 0.5 0.5\n0.5 0.5 0.5\n"
              "sceneTime\n"
              "sceneTime rig s sShape\n"
              "sShape cShape\n");
}

TEST(SceneCommands, TheActiveViewLooksThroughTheDefaultCameraUntilAnotherIsMadeActive) {
    EXPECT_EQ(outputOf("view\ncamera -name cam\nview\nview -camera camShape\nview\n"
                       "undo\nview\nredo\nview\n"
                       "delete cam\nview\nundo\nview\nrename cam eye\nview"),
              "persp\ncam\npersp\ncam\npersp\ncam\npersp\ncam\neye\n");
}

TEST(SceneCommands, ObjFilesRoundTripExactly) {
    TempDir dir;
    const auto file = dir.path() / "out.obj";
    EXPECT_EQ(outputOf("plane -name p -size 0.3 -divisions 1\nmove -a 0 7 0 p\n"
                       "export p \"" +
                       file.string() + "\"\n" + "export p -world \"" +
                       (dir.path() / "world.obj").string() + "\""),
              "p\n");
    EXPECT_EQ(readFile(file),
              "# written by rova\no p\n"
              "v -0.15 0 -0.15\nv 0.15 0 -0.15\nv -0.15 0 0.15\nv 0.15 0 0.15\n"
              "f 1 3 4 2\n");
    EXPECT_EQ(outputOf("import \"" + file.string() + "\" -name q\npoints q\n" + "import \"" +
                       (dir.path() / "world.obj").string() + "\"\npoints world1"),
              "q\n-0.15 0 -0.15\n0.15 0 -0.15\n-0.15 0 0.15\n0.15 0 0.15\n"
              "world1\n-0.15 7 -0.15\n0.15 7 -0.15\n-0.15 7 0.15\n0.15 7 0.15\n");

    // The shipped pyramid uses plain, textured and relative face forms and a missing material
    // library; exported again it keeps its five vertices and five faces in order.
    const auto pyramid = kivorova::testing::sourceRoot() / "data" / "meshes" / "pyramid.obj";
    const auto again = dir.path() / "pyramid.obj";
    EXPECT_EQ(outputOf("import \"" + pyramid.string() + "\"\nexport pyramid1 \"" + again.string() +
                       "\"\nundo\nls"),
              "pyramid1\nsceneTime\n");
    EXPECT_EQ(readFile(again),
              "# written by rova\no pyramid1\n"
              "v -1 0 -1\nv 1 0 -1\nv 1 0 1\nv -1 0 1\nv 0 1.5 0\n"
              "f 1 2 3 4\nf 4 3 5\nf 3 2 5\nf 2 1 5\nf 1 4 5\n");
}

TEST(SceneCommands, AnExportThatCannotBeWrittenLeavesThePreviousFileAndSaysWhy) {
    TempDir dir;
    const auto file = dir.path() / "out.obj";
    outputOf("cube -name c\nexport c \"" + file.string() + "\"");
    const std::string good = readFile(file);
    ASSERT_NE(good.find("\nf "), std::string::npos);

    // A mesh far past the size a file may reach: the write fails part way, as on a full disk.
    const auto full = runRovaStatementsWithFileSizeLimit(
        "plane -name p -divisions 50\nexport p \"" + file.string() + "\"", 8192);
    EXPECT_EQ(full.exitCode, 1);
    EXPECT_NE(full.err.find("export: cannot write '" + file.string() + "': File too large"),
              std::string::npos)
        << full.err;
    EXPECT_EQ(readFile(file), good);

    // World positions past the range of numbers: a file that import would refuse is not written.
    const auto infinite = runRovaStatements(
        "cube -name big; set big.s 1e300 1 1; cube -name d -parent big; set d.s 1e300 1 1\n"
        "export d -world \"" +
        file.string() + "\"");
    EXPECT_EQ(infinite.exitCode, 1);
    EXPECT_NE(infinite.err.find("export: cannot write '" + file.string() +
                                "': vertex 0 of 'd' is not finite (-inf"),
              std::string::npos)
        << infinite.err;
    EXPECT_EQ(readFile(file), good);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"out.obj"});

    // A device is written directly: there is no previous file to keep.
    const auto device = runRovaStatements("cube -name c\nexport c /dev/full");
    EXPECT_EQ(device.exitCode, 1);
    EXPECT_NE(device.err.find("cannot write '/dev/full': No space left on device"),
              std::string::npos)
        << device.err;
}

TEST(SceneCommands, ObjTextWithAByteOrderMarkOrAnyLineEndImportsEveryVertex) {
    TempDir dir;
    // One triangle and one quad over five vertices, the first on the line after the mark.
    const std::string body = "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nv 2 2 2\nf 1 2 3\nf 2 4 5 3\n";
    const auto withMark = dir.write("mark.obj", "\xEF\xBB\xBF" + body);
    std::string crlf, cr;
    for (const char c : body) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        cr += c == '\n' ? '\r' : c;
    }
    const auto windows =
        dir.write("windows.obj", "\xEF\xBB\xBF# caf\xC3\xA9 \xE2\x9C\x93\r\n" + crlf);
    const auto oldMac = dir.write("oldmac.obj", cr);
    const std::string expected =
        "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nv 2 2 2\nf 1 2 3\nf 2 4 5 3\n";
    for (const auto& file : {withMark, windows, oldMac}) {
        const auto again = dir.path() / "again.obj";
        EXPECT_EQ(outputOf("import \"" + file.string() + "\" -name m\nexport m \"" +
                           again.string() + "\""),
                  "m\n")
            << file;
        EXPECT_EQ(readFile(again), "# written by rova\no m\n" + expected) << file;
    }
}

TEST(SceneCommands, WhatIsNotARegularObjTextFileIsRefusedWithTheReason) {
    TempDir dir;
    const auto refused = [](const std::filesystem::path& file) {
        const auto run =
            runRovaStatements("import \"" + file.string() + "\"\nls", {"--keep-going"});
        EXPECT_EQ(run.exitCode, 1) << file;
        EXPECT_EQ(run.out, "sceneTime\n") << file << ": a refused import makes nothing";
        const std::string prefix = "error: line 1: import: " + file.string() + ":";
        EXPECT_EQ(run.err.rfind(prefix, 0), 0u) << run.err;
        return run.err.substr(std::min(prefix.size(), run.err.size()));
    };
    using namespace std::string_literals;
    EXPECT_EQ(refused(dir.write("model.glb", "glTF\x02\0\0\0\x10\0\0\0"s)),
              " is a binary glTF (.glb) file, not an OBJ file\n");
    EXPECT_EQ(refused(dir.write("image.obj", "\x89PNG\r\n\x1a\n\0\0\0\rIHDR"s)),
              " is a PNG image, not an OBJ file\n");
    EXPECT_EQ(refused(dir.write("program",
                                "\x7f"
                                "ELF\x02\x01\x01\0\0\0"s)),
              " is an executable (ELF) file, not an OBJ file\n");
    EXPECT_EQ(refused(dir.write("nul.obj", "v 0 0 0\nv 1 0 0\n\0\0\0\0"s)),
              "3: a NUL byte (binary data, not text); not an OBJ file\n");
    EXPECT_EQ(refused(dir.write("latin1.obj", "v 0 0 0\n# caf\xE9\nv 1 0 0\n")),
              "2: bytes that are not UTF-8 text; not an OBJ file\n");
    EXPECT_EQ(refused(dir.write("escape.obj", "v 0 0 0\n\x1B[0m\n")),
              "2: control character 0x1B (binary data, not text); not an OBJ file\n");
    EXPECT_EQ(refused(dir.write("empty.obj", "")),
              " not an OBJ file: it has no vertices ('v X Y Z')\n");
    EXPECT_EQ(refused(dir.write("notes.obj", "# only words\nmtllib notes.mtl\nhello there\n")),
              " not an OBJ file: it has no vertices ('v X Y Z')\n");

    // Neither a pipe nor a device is read at all: the pipe has no writer, /dev/zero never ends.
    const auto folder = dir.path() / "folder.obj";
    std::filesystem::create_directory(folder);
    EXPECT_EQ(refused(folder), " is a directory, not an OBJ file (only regular files are read)\n");
    const auto pipe = dir.path() / "pipe.obj";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0) << std::strerror(errno);
    EXPECT_EQ(refused(pipe), " is a named pipe, not an OBJ file (only regular files are read)\n");
    EXPECT_EQ(refused("/dev/zero"),
              " is a device, not an OBJ file (only regular files are read)\n");
    // A sparse file one byte past the limit is refused before a byte of it is read.
    const auto huge = dir.write("huge.obj", "v 0 0 0\n");
    std::filesystem::resize_file(huge, (std::uintmax_t{1} << 30) + 1);
    EXPECT_EQ(refused(huge), " is larger than 1 GiB, the most an OBJ file may have\n");
}

TEST(SceneCommands, AMoveThatWouldLeaveNoFiniteTranslationIsRefusedAndChangesNothing) {
    const auto run = runRovaStatements(
        "cube -name a; cube -name b\nmove -r 1e308 0 0 a\n"
        "move -r 1e308 0 0 b a\nget a.translate\nget b.translate\nget a.worldMatrix\n"
        "move -r 0 -1e308 0 b; move -r 0 -4.5e307 0 b bShape\nget b.translate\n"
        "move -r 1 1 1 a a\nget a.translate\nundo\nundo\nundo\nget a.translate\nget b.translate",
        {"--keep-going"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out,
              "a\nb\n1e+308 0 0\n0 0 0\n1 0 0 0 0 1 0 0 0 0 1 0 1e+308 0 0 1\n0 -1e+308 0\n"
              "1e+308 2 2\n0 0 0\n0 0 0\n");
    EXPECT_EQ(run.err,
              "error: line 3: move: cannot move 'a' from 1e+308 0 0 by 1e+308 0 0: the "
              "translation would not be a finite number\n"
              "error: line 7: move: cannot move 'b' from 0 -1.45e+308 0 by 0 -4.5e+307 0: the "
              "translation would not be a finite number\n");
}

TEST(SceneCommands, WhatIsWrongIsNamedAndChangesNothing) {
    TempDir dir;
    const auto fails = [](const std::string& statements) {
        const auto run = runRovaStatements(statements);
        EXPECT_EQ(run.exitCode, 1) << statements;
        return run.err;
    };
    EXPECT_EQ(fails("points nothing"), "error: line 1: points: no object named 'nothing'\n");
    EXPECT_EQ(fails("points sceneTime"),
              "error: line 1: points: 'sceneTime' is not a scene object (it is a time node)\n");
    EXPECT_EQ(fails("camera -name cam\npoints cam"),
              "error: line 2: points: 'cam' is not a mesh (it is a transform)\n");
    EXPECT_EQ(fails("cube -name c\nview -camera c"),
              "error: line 2: view: 'c' is not a camera (it is a transform)\n");
    EXPECT_EQ(fails("cube -name c -parent nothing"),
              "error: line 1: cube: no object named 'nothing'\n");
    EXPECT_EQ(fails("move -a 1 2 3 nothing"), "error: line 1: move: no object named 'nothing'\n");
    EXPECT_EQ(fails("cube -size 0"),
              "error: line 1: cube: -size must be greater than 0, not '0'\n");
    EXPECT_EQ(fails("plane -divisions 0"),
              "error: line 1: plane: -divisions must be an integer from 1 to 1000, not '0'\n");
    // An empty -name breaks the naming rule as rename says; it is not taken for no name.
    for (const std::string made : {"cube", "transform", "create timeRotate"})
        EXPECT_EQ(fails(made + " -name \"\""),
                  "error: line 1: " + made.substr(0, made.find(' ')) +
                      ": invalid node name '': names use letters, digits and '_' and do not "
                      "start with a digit\n");

    const auto badIndex = dir.write("bad.obj", "v 0 0 0\nv 1 0 0\n# a comment\nv 0 1 0\nf 1 2 4\n");
    EXPECT_EQ(fails("import \"" + badIndex.string() + "\"\nls"),
              "error: line 1: import: " + badIndex.string() +
                  ":5: vertex 4 does not exist (3 vertices so far)\n");
    const auto badNumber = dir.write("number.obj", "v 0 0 0\nv 1 0 x\n");
    EXPECT_EQ(fails("import \"" + badNumber.string() + "\""),
              "error: line 1: import: " + badNumber.string() +
                  ":2: vertex coordinate: expected a number, got 'x'\n");
    const auto shortFace = dir.write("face.obj", "v 0 0 0\nv 1 0 0\nf 1 2\n");
    EXPECT_EQ(fails("import \"" + shortFace.string() + "\""),
              "error: line 1: import: " + shortFace.string() +
                  ":3: a face needs at least 3 vertices, not 2\n");
    EXPECT_EQ(fails("import \"" + (dir.path() / "missing.obj").string() + "\""),
              "error: line 1: import: " + (dir.path() / "missing.obj").string() +
                  ": cannot be read: no such file\n");
    EXPECT_EQ(runRovaStatements("import \"" + badIndex.string() + "\"\nls", {"--keep-going"}).out,
              "sceneTime\n")
        << "a failed import makes nothing";
}

}  // namespace
}  // namespace rova::test
