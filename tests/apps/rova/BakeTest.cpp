// bake: the scene stepped over frames and written as glTF and a table, read back independently.
#include <gtest/gtest.h>
#include <tiny_gltf.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "RunRova.h"
#include "ScriptValues.h"
#include "TempDir.h"

namespace {

using kivorova::testing::linesOf;
using kivorova::testing::runRovaStatements;
using kivorova::testing::runRovaStatementsWithFileSizeLimit;
using kivorova::testing::TempDir;

// What the Khronos glTF validator reports on the files when any has an error, "" when none has.
// It comes from viewer/node_modules, which scripts/viewer-modules installs when it is missing.
std::string validatorErrors(const std::vector<std::filesystem::path>& files) {
    std::vector<std::string> arguments{
        "-c",
        "\"$0/scripts/viewer-modules\" && exec node \"$0/tests/apps/rova/validate-gltf.mjs\" "
        "\"$@\"",
        ROVA_SOURCE_ROOT};
    for (const auto& file : files) arguments.push_back(file.string());
    const auto run = kivorova::testing::runProgram("/bin/sh", arguments);
    return run.exitCode == 0 ? std::string() : run.out + run.err;
}

std::string fileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<double> numbers(const std::string& line) {
    std::istringstream in(line);
    std::vector<double> values;
    for (double v = 0.0; in >> v;) values.push_back(v);
    return values;
}

// A cube that turns about Y with the scene time and sits on a moved parent.
const std::string kTurningCube =
    "plugin -load kivo_rova\n"
    "transform -name base; move -a 1 2 3 base; rotate -os 0 0 30 base\n"
    "cube -name box -size 2 -parent base\n"
    "create timeRotate -name spin; set spin.scale 90\n"
    "connect sceneTime.time spin.time; connect spin.outputRotate box.rotate\n";

// Floats of an accessor, in order.
std::vector<float> accessorFloats(const tinygltf::Model& model, int index) {
    const auto& accessor = model.accessors.at(static_cast<std::size_t>(index));
    const auto& view = model.bufferViews.at(static_cast<std::size_t>(accessor.bufferView));
    const auto& data = model.buffers.at(static_cast<std::size_t>(view.buffer)).data;
    const std::size_t components = accessor.type == TINYGLTF_TYPE_VEC3   ? 3
                                   : accessor.type == TINYGLTF_TYPE_VEC4 ? 4
                                                                         : 1;
    std::vector<float> values(accessor.count * components);
    std::memcpy(values.data(), data.data() + view.byteOffset + accessor.byteOffset,
                values.size() * sizeof(float));
    return values;
}

tinygltf::Model readModel(const std::filesystem::path& path) {
    tinygltf::TinyGLTF reader;
    tinygltf::Model model;
    std::string error, warning;
    const bool ok = path.extension() == ".glb"
                        ? reader.LoadBinaryFromFile(&model, &error, &warning, path.string())
                        : reader.LoadASCIIFromFile(&model, &error, &warning, path.string());
    EXPECT_TRUE(ok) << error << warning;
    return model;
}

// Rotates v by the unit quaternion q (x, y, z, w), column-vector convention.
std::array<double, 3> rotate(const float* q, const std::array<double, 3>& v) {
    const double x = q[0], y = q[1], z = q[2], w = q[3];
    const std::array<double, 3> t{2 * (y * v[2] - z * v[1]), 2 * (z * v[0] - x * v[2]),
                                  2 * (x * v[1] - y * v[0])};
    return {v[0] + w * t[0] + (y * t[2] - z * t[1]), v[1] + w * t[1] + (z * t[0] - x * t[2]),
            v[2] + w * t[2] + (x * t[1] - y * t[0])};
}

// (After loading kivo_rova.) A plane of (divisions + 1)^2 points under which a point moves along x
// with the scene time, and the dent with it: a new shape at every frame while the point is under
// the plane.
std::string dentedPlane(int divisions) {
    return "plane -name p -size 2 -divisions " + std::to_string(divisions) +
           "\ndeformer kivoDeformer p -name d\nset d.inputPoint0Enabled on; set d.radius 0.5\n"
           "transform -name pointer\ncreate timeRotate -name mover\n"
           "set mover.axis 1 0 0; set mover.scale 4; set mover.initialRotate -1 -0.2 0\n"
           "connect sceneTime.time mover.time; connect mover.outputRotate pointer.translate\n"
           "connect pointer.worldMatrix d.inputPoint0\n";
}

struct Refusal {
    std::string statements;
    std::string message;
};

// Statements after kTurningCube that must fail with the message and leave nothing in the folder.
void expectRefusals(const TempDir& dir, const std::vector<Refusal>& cases) {
    for (const Refusal& c : cases) {
        const auto run = runRovaStatements(kTurningCube + c.statements);
        EXPECT_EQ(run.exitCode, 1) << c.statements;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.statements << "\n" << run.err;
        EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << c.statements;
    }
}

TEST(Bake, TheLastKeyPlacesTheMeshWhereTheHostShowsIt) {
    for (const char* file : {"take.glb", "take.gltf"}) {
        TempDir dir;
        const auto output = dir.path() / file;
        const auto run = runRovaStatements(kTurningCube + "bake -frames 10 -start 3 -output \"" +
                                           output.string() + "\" box\npoints box -world\n");
        ASSERT_EQ(run.exitCode, 0) << run.err;
        auto printed = linesOf(run.out);
        ASSERT_GE(printed.size(), 1u + 8u) << run.out;
        printed.erase(printed.begin(), printed.end() - 9);  // the names the set-up printed
        EXPECT_EQ(printed[0],
                  "baked 10 frames from frame 3: 1 objects (1 meshes, 0 changed "
                  "shapes), 0 plugs (0 columns) -> " +
                      output.string() + " (24 fps, 1 scene unit = 0.02 m)");

        EXPECT_EQ(validatorErrors({output}), "");
        const tinygltf::Model model = readModel(output);
        ASSERT_EQ(model.nodes.size(), 1u);
        EXPECT_EQ(model.nodes[0].name, "box");
        ASSERT_EQ(model.meshes.size(), 1u);
        EXPECT_EQ(model.meshes[0].name, "boxShape");
        ASSERT_EQ(model.animations.size(), 1u);
        const auto& animation = model.animations[0];
        ASSERT_EQ(animation.channels.size(), 3u);
        const auto times = accessorFloats(model, animation.samplers[0].input);
        ASSERT_EQ(times.size(), 10u);
        EXPECT_FLOAT_EQ(times[9], 9.0F / 24.0F);

        std::map<std::string, std::vector<float>> keys;
        for (const auto& channel : animation.channels)
            keys[channel.target_path] = accessorFloats(
                model, animation.samplers[static_cast<std::size_t>(channel.sampler)].output);
        const float* t = &keys["translation"][9 * 3];
        const float* r = &keys["rotation"][9 * 4];
        const float* s = &keys["scale"][9 * 3];
        const auto& primitive = model.meshes[0].primitives[0];
        const auto positions = accessorFloats(model, primitive.attributes.at("POSITION"));
        ASSERT_EQ(positions.size(), 8u * 3u);
        for (std::size_t v = 0; v < 8; ++v) {
            const auto turned = rotate(r, {positions[3 * v] * s[0], positions[3 * v + 1] * s[1],
                                           positions[3 * v + 2] * s[2]});
            // In metres: one scene unit (no tracking node sets it) is 20 mm.
            const auto expected = numbers(printed[1 + v]);
            for (std::size_t c = 0; c < 3; ++c)
                EXPECT_NEAR(turned[c] + t[c], expected[c] * 0.02, 1e-7) << file << " vertex " << v;
        }
    }
}

TEST(Bake, TheAnimationKeysAreTheSampledValues) {
    TempDir dir;
    const auto glb = dir.path() / "take.glb";
    const auto table = dir.path() / "take.json";
    const auto run = runRovaStatements(kTurningCube + "bake -frames 48 -start 0 -output \"" +
                                       glb.string() + "\" -table \"" + table.string() + "\" box\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(validatorErrors({glb}), "");
    const tinygltf::Model model = readModel(glb);
    const auto columns = nlohmann::json::parse(fileText(table))["columns"];
    ASSERT_EQ(model.animations.size(), 1u);
    for (const auto& channel : model.animations[0].channels) {
        const auto keys = accessorFloats(
            model, model.animations[0].samplers[static_cast<std::size_t>(channel.sampler)].output);
        const std::size_t width = channel.target_path == "rotation" ? 4 : 3;
        ASSERT_EQ(keys.size(), 48 * width) << channel.target_path;
        for (std::size_t c = 0; c < width; ++c) {
            const auto& sampled =
                columns["box." + channel.target_path + "[" + std::to_string(c) + "]"];
            ASSERT_EQ(sampled.size(), 48u);
            for (std::size_t f = 0; f < 48; ++f)
                EXPECT_NEAR(keys[f * width + c], sampled[f].get<double>(), 1e-6)
                    << channel.target_path << " frame " << f;
        }
    }
}

TEST(Bake, ADeformedMeshShowsEachSampledShapeThroughItsMorphTargets) {
    TempDir dir;
    const auto glb = dir.path() / "dent.glb";
    const auto run = runRovaStatements("plugin -load kivo_rova\n" + dentedPlane(8) +
                                       "bake -frames 12 -start 0 -output \"" + glb.string() +
                                       "\" p\npoints p\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    auto printed = linesOf(run.out);
    printed.erase(printed.begin(), printed.end() - 81);
    EXPECT_EQ(validatorErrors({glb}), "");
    const tinygltf::Model model = readModel(glb);
    ASSERT_EQ(model.meshes.size(), 1u);
    const auto& primitive = model.meshes[0].primitives[0];
    ASSERT_EQ(primitive.targets.size(), 11u);
    ASSERT_EQ(model.meshes[0].weights.size(), primitive.targets.size());
    const auto base = accessorFloats(model, primitive.attributes.at("POSITION"));
    ASSERT_EQ(base.size(), 81u * 3u);

    // The weights switch on one target a frame (none for the first shape, the mesh's own); the
    // last frame's target, added to the base, is the shape the host shows at the end.
    const auto& animation = model.animations.at(0);
    const tinygltf::AnimationChannel* weights = nullptr;
    for (const auto& channel : animation.channels)
        if (channel.target_path == "weights")
            weights = &channel;
    ASSERT_NE(weights, nullptr);
    const auto& sampler = animation.samplers[static_cast<std::size_t>(weights->sampler)];
    EXPECT_EQ(sampler.interpolation, "STEP");
    const auto values = accessorFloats(model, sampler.output);
    const std::size_t targets = primitive.targets.size();
    ASSERT_EQ(values.size(), 12 * targets);
    std::size_t lastTarget = targets;
    for (std::size_t frame = 0; frame < 12; ++frame) {
        int on = 0;
        for (std::size_t t = 0; t < targets; ++t) {
            EXPECT_TRUE(values[frame * targets + t] == 0.0F || values[frame * targets + t] == 1.0F);
            if (values[frame * targets + t] == 1.0F) {
                ++on;
                lastTarget = t;
            }
        }
        EXPECT_EQ(on, frame == 0 ? 0 : 1) << "frame " << frame;
    }
    ASSERT_EQ(lastTarget, targets - 1);
    const auto delta = accessorFloats(model, primitive.targets[lastTarget].at("POSITION"));
    for (std::size_t v = 0; v < 81; ++v) {
        const auto expected = numbers(printed[v]);
        for (std::size_t c = 0; c < 3; ++c)
            EXPECT_NEAR(base[3 * v + c] + delta[3 * v + c], expected[c] * 0.02, 1e-8)
                << "vertex " << v;
    }
}

TEST(Bake, TheTableHoldsEverySampledNumberAsGetPrintsIt) {
    TempDir dir;
    const auto table = dir.path() / "take.csv";
    const auto run =
        runRovaStatements(kTurningCube + "bake -frames 4 -start 0 -output \"" +
                          (dir.path() / "take.glb").string() + "\" -table \"" + table.string() +
                          "\" spin.outputRotate box.worldMatrix spin.scale\n"
                          "get spin.outputRotate\nget spin.scale\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(validatorErrors({dir.path() / "take.glb"}), "");
    const auto rows = linesOf(fileText(table));
    ASSERT_EQ(rows.size(), 5u);
    std::string header =
        "frame,seconds,spin.outputRotate[0],spin.outputRotate[1],"
        "spin.outputRotate[2]";
    for (int i = 0; i < 16; ++i) header += ",box.worldMatrix[" + std::to_string(i) + "]";
    EXPECT_EQ(rows[0], header + ",spin.scale");
    const auto printed = linesOf(run.out);
    // The last row is the last frame, which is where the bake leaves the scene.
    std::string last = rows[4];
    std::replace(last.begin(), last.end(), ',', ' ');
    const auto cells = numbers(last);
    ASSERT_EQ(cells.size(), 2u + 3u + 16u + 1u);
    EXPECT_EQ(cells[0], 3.0);
    EXPECT_DOUBLE_EQ(cells[1], 3.0 / 24.0);
    const auto rotateValue = numbers(printed[printed.size() - 2]);
    for (std::size_t c = 0; c < 3; ++c) EXPECT_EQ(cells[2 + c], rotateValue[c]);
    EXPECT_EQ(cells.back(), 90.0);
}

TEST(Bake, AJsonTableWritesBytesThatAreNotTextAsReplacementCharacters) {
    // JSON holds text only: a string plug's byte 0xFF becomes U+FFFD, and the bake succeeds.
    TempDir dir;
    const auto table = dir.path() / "take.json";
    const auto run = runRovaStatements(
        "plugin -load kivo_rova\ncreate kivoGrabNode -name g\nset g.grabObject \"a\\xffb\"\n"
        "cube -name c\nbake -frames 2 -output \"" +
        (dir.path() / "take.glb").string() + "\" -table \"" + table.string() +
        "\" g.grabObject c\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(fileText(table).find("\"g.grabObject\":[\"a\xEF\xBF\xBD"
                                   "b\",\"a\xEF\xBF\xBD"
                                   "b\"]"),
              std::string::npos)
        << fileText(table);
}

TEST(Bake, AMeshOfPointsWithoutPolygonsIsKeptAsAPointCloud) {
    // Polylines read from OBJ (as kivo-record --paths writes them) give a mesh of points only.
    TempDir dir;
    const auto obj = dir.path() / "lines.obj";
    std::ofstream(obj) << "v 0 0 0\nv 1 0 0\nv 1 1 0\nl 1 2 3\n";
    const auto glb = dir.path() / "take.glb";
    const auto run = runRovaStatements("import \"" + obj.string() +
                                       "\" -name p\nbake -frames 2 "
                                       "-output \"" +
                                       glb.string() + "\" p\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(validatorErrors({glb}), "");
    const tinygltf::Model model = readModel(glb);
    ASSERT_EQ(model.meshes.size(), 1u);
    const auto& primitive = model.meshes[0].primitives.at(0);
    EXPECT_EQ(primitive.mode, TINYGLTF_MODE_POINTS);
    EXPECT_EQ(primitive.indices, -1);
    EXPECT_EQ(
        model.accessors.at(static_cast<std::size_t>(primitive.attributes.at("POSITION"))).count,
        3u);
}

TEST(Bake, TheSameSessionGivesTheSameBytes) {
    TempDir dir;
    const std::string bake = kTurningCube +
                             "bake -frames 30 -start 1 -output take.glb -table take.json box\n"
                             "bake -frames 30 -start 1 -output take.gltf -table take.csv box "
                             "spin.outputRotate\n";
    std::map<std::string, std::string> first;
    for (int round = 0; round < 2; ++round) {
        const auto run = runRovaStatements("python(\"import os; os.chdir('" + dir.path().string() +
                                           "')\")\n" + bake);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        for (const char* file : {"take.glb", "take.json", "take.gltf", "take.bin", "take.csv"}) {
            const std::string bytes = fileText(dir.path() / file);
            ASSERT_FALSE(bytes.empty()) << file;
            if (round == 0)
                first[file] = bytes;
            else
                EXPECT_EQ(bytes, first[file]) << file;
        }
    }
    EXPECT_EQ(validatorErrors({dir.path() / "take.glb", dir.path() / "take.gltf"}), "");
}

TEST(Bake, BadRequestsAreRefusedBeforeAnythingIsWritten) {
    TempDir dir;
    const std::string glb = (dir.path() / "take.glb").string();
    expectRefusals(
        dir,
        {
            {"bake -frames 0 -output \"" + glb + "\" box",
             "-frames must be from 1 to 10000000, got 0"},
            {"bake -frames 2 -output take.fbx box", "-output must name a .glb or .gltf file"},
            {"bake -frames 2 -output \"" + glb + "\" -table t.xlsx box",
             "-table must name a .csv or .json file"},
            {"bake -frames 2 box", "-output PATH is required"},
            {"bake -frames 2 -output \"" + glb + "\" ghost", "ghost"},
            {"bake -frames 2 -output \"" + glb + "\" box.nothing", "no attribute 'nothing'"},
            {"bake -frames 2 -output \"" + glb + "\" box boxShape", "'boxShape' is named twice"},
            {"bake -frames 2 -output \"" + glb + "\"",
             "name at least one ITEM to bake, or -skin NODE"},
            {"bake -frames 2 -raw -unit 0.01 -output \"" + glb + "\" box",
             "-unit and -raw exclude each other"},
            {"bake -frames 2 -unit 0 -output \"" + glb + "\" box",
             "-unit must be a positive number of metres, got 0"},
            {"bake -frames 2 -fps -5 -output \"" + glb + "\" box",
             "-fps must be a positive number, got -5"},
            {"bake -frames 2 -skin box -output \"" + glb + "\" box",
             "-skin: 'box' is not a kivoTransform node"},
            {"bake -frames 2 -skin ghost -output \"" + glb + "\" box", "-skin: no node 'ghost'"},
            {"create kivoTransform -name hand; set hand.scale -1\nbake -frames 2 -output \"" + glb +
                 "\" box",
             "cannot tell the scene unit: 'hand.scale' is -1; give -unit METRES or -raw"},
            {"create kivoTransform -name hand; set hand.scale 0\nbake -frames 2 -unit 1 -skin hand "
             "-output \"" +
                 glb + "\" box",
             "-skin: 'hand.scale' is 0; a hand is sized by a positive scale"},
            {"bake -frames 2 -output \"" + glb + "\" boxShape.outMesh",
             "cannot sample 'boxShape.outMesh': it holds a mesh; name the object to bake its "
             "shape"},
            {"bake -frames 2 -output \"" + (dir.path() / "missing" / "take.glb").string() +
                 "\" box",
             "no folder '" + (dir.path() / "missing").string() + "'"},
        });
}

TEST(Bake, AReplayDrivesTheTrackedHandFrameByFrame) {
    TempDir dir;
    const auto table = dir.path() / "hand.csv";
    const auto run = runRovaStatements(
        "plugin -load kivo_rova\ncreate kivoTransform -name hand; set hand.live on\n"
        "sphere -name palm -radius 0.5; connect hand.outputPalm0 palm.inputMatrix\n"
        "device -replay \"" +
        std::string(ROVA_SOURCE_ROOT) +
        "/data/recordings/real/asl-fingerspelling.kivo\"\n"
        "bake -frames 325 -start 1 -replay -output \"" +
        (dir.path() / "hand.glb").string() + "\" -table \"" + table.string() +
        "\" palm hand.outputPalm0Enabled\ndevice -status\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("325 frames delivered"), std::string::npos) << run.out;
    EXPECT_EQ(validatorErrors({dir.path() / "hand.glb"}), "");
    const auto rows = linesOf(fileText(table));
    ASSERT_EQ(rows.size(), 326u);
    // Every frame shows the palm, and the palm moves.
    std::set<std::string> positions;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        EXPECT_TRUE(rows[i].ends_with(",1")) << rows[i];
        positions.insert(rows[i].substr(0, rows[i].find(",palm.rotation")));
        std::istringstream cells(rows[i]);
        std::string frame, seconds, x, y, z;
        std::getline(cells, frame, ',');
        std::getline(cells, seconds, ',');
        std::getline(cells, x, ',');
        std::getline(cells, y, ',');
        std::getline(cells, z, ',');
        positions.insert(x + " " + y + " " + z);
    }
    EXPECT_GT(positions.size(), 300u);
}

// The names of the files in a folder, sorted.
std::vector<std::string> fileNames(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(Bake, FramesWhoseKeysAGltfCannotHoldAreRefusedBeforeTheFirstFrame) {
    TempDir dir;
    const std::string glb = (dir.path() / "take.glb").string();
    expectRefusals(
        dir,
        {
            {"bake -frames 2 -start 9223372036854775807 -output \"" + glb + "\" box",
             "cannot bake 2 frames from frame 9223372036854775807: frames are numbered from "
             "-9007199254740992 to 9007199254740992"},
            {"bake -frames 1000000000 -output \"" + glb + "\" box",
             "-frames must be from 1 to 10000000, got 1000000000"},
            {"time -fps 1e300\nbake -frames 3 -start 0 -output \"" + glb + "\" box",
             "cannot bake frames 0 to 2 at 1e+300 frames per second: frames 0 and 1 fall at the "
             "same "
             "glTF key time"},
            {"time -fps 1e-300\nbake -frames 2 -start 10000000000 -output \"" + glb + "\" box",
             "frame 10000000000 falls at a time that is not a finite number of seconds"},
            {"time -seconds 1e308\nbake -frames 2 -output \"" + glb + "\" box",
             "the current frame (inf) is beyond the frames a bake can step; give -start"},
            {"bake -frames 3 -start 9007199254740000 -output \"" + glb + "\" box",
             "fall at the same glTF key time"},
            // 11 objects: over 4 GiB of keys at 10000000 frames.
            {"python(\"[rova.eval('transform -name t%d' % i) for i in range(9)]\")\n"
             "bake -frames 10000000 -output \"" +
                 glb + "\" box base t0 t1 t2 t3 t4 t5 t6 t7 t8",
             "cannot bake 10000000 frames of 11 objects into '" + glb + "': their keys alone take"},
            {"time -fps 1e-300\ntime -frame 1e10",
             "frame 1e10 at 1e-300 frames per second is not a "
             "finite time"},
        });

    // At the edges of what is allowed, the keys are valid.
    const auto edge =
        runRovaStatements(kTurningCube + "bake -frames 1 -start 9007199254740992 -output \"" + glb +
                          "\" box\ntime -fps 1e6\nbake -frames 100 -start -50 -output \"" +
                          (dir.path() / "fast.gltf").string() + "\" box");
    ASSERT_EQ(edge.exitCode, 0) << edge.err;
    EXPECT_EQ(validatorErrors({glb, dir.path() / "fast.gltf"}), "");
}

TEST(Bake, PosesAndPointsAGltfCannotHoldStopTheBakeAndWriteNothing) {
    TempDir dir;
    const std::string glb = (dir.path() / "take.glb").string();
    expectRefusals(
        dir,
        {
            // In metres (50 scene units a metre), what a 32-bit float holds ends at 1.7e40 units.
            {"move -a 1e41 0 0 base\nbake -frames 2 -start 0 -output \"" + glb + "\" box",
             "frame 0: cannot bake 'box': its world matrix is not finite as 32-bit floats"},
            {"cube -name huge -size 1e300\nbake -frames 2 -start 0 -output \"" + glb +
                 "\" box huge",
             "frame 0: cannot bake 'hugeShape': vertex 0 (-5e+299 -5e+299 5e+299) is not finite as "
             "32-bit floats in the bake's unit"},
            {"set base.scale 1e200 1e200 1e200; set box.scale 1e200 1e200 1e200\n"
             "bake -frames 2 -start 0 -output \"" +
                 glb + "\" box",
             "frame 0: cannot bake 'box': its world matrix is not finite as 32-bit floats"},
            {dentedPlane(100) + "set d.power 1e308\nbake -frames 2 -start 0 -output \"" + glb +
                 "\" p",
             "cannot bake 'pShape': vertex "},
        });
}

TEST(Bake, TheBufferOfAGltfIsFoundWhateverItsName) {
    TempDir dir;
    const auto gltf = dir.path() / "my file #1.gltf";
    const auto run = runRovaStatements(kTurningCube + "bake -frames 4 -start 0 -output \"" +
                                       gltf.string() + "\" box\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(fileNames(dir.path()),
              (std::vector<std::string>{"my file #1.bin", "my file #1.gltf"}));
    const auto document = nlohmann::json::parse(fileText(gltf));
    EXPECT_EQ(document["buffers"][0]["uri"], "my%20file%20%231.bin");
    EXPECT_EQ(validatorErrors({gltf}), "");
}

TEST(Bake, ABakeThatCannotBeWrittenLeavesThePreviousFilesAndSaysWhy) {
    TempDir dir;
    const auto path = [&dir](const char* name) { return (dir.path() / name).string(); };
    const auto good = runRovaStatements(kTurningCube + "bake -frames 2 -start 0 -output \"" +
                                        path("take.glb") + "\" -table \"" + path("take.csv") +
                                        "\" box\nbake -frames 2 -start 0 -output \"" +
                                        path("take.gltf") + "\" box\n");
    ASSERT_EQ(good.exitCode, 0) << good.err;
    std::map<std::string, std::string> before;
    for (const auto& name : fileNames(dir.path())) before[name] = fileText(dir.path() / name);
    ASSERT_EQ(before.size(), 4u);

    // Files may not pass 64 KiB, as on a disk that fills: the shapes of the glTF, the buffer of
    // the .gltf, and a table far larger than the small glTF beside it.
    struct Case {
        std::string statements;
        std::string path;  // the one the error names
    };
    const std::vector<Case> cases = {
        {dentedPlane(100) + "bake -frames 3 -start 0 -output \"" + path("take.glb") + "\" p",
         path("take.glb")},
        {dentedPlane(100) + "bake -frames 3 -start 0 -output \"" + path("take.gltf") + "\" p",
         path("take.bin")},
        {"bake -frames 2000 -start 0 -output \"" + path("take.glb") + "\" -table \"" +
             path("take.csv") + "\" box.worldMatrix",
         path("take.csv")},
    };
    for (const Case& c : cases) {
        const auto run = runRovaStatementsWithFileSizeLimit(kTurningCube + c.statements, 64 * 1024);
        EXPECT_EQ(run.exitCode, 1) << c.statements;
        EXPECT_NE(run.err.find("cannot write '" + c.path + "': File too large"), std::string::npos)
            << c.statements << "\n"
            << run.err;
        std::map<std::string, std::string> after;
        for (const auto& name : fileNames(dir.path())) after[name] = fileText(dir.path() / name);
        EXPECT_TRUE(after == before) << c.statements;
    }
}

TEST(Bake, ShapesThatWouldPassTheLargestGltfStopTheBakeBeforeItIsWritten) {
    TempDir dir;
    const std::string glb = (dir.path() / "take.glb").string();
    // Each changed shape adds a weight to every one of the 10000000 frames: about 100 shapes fill
    // 4 GiB.
    const auto run = runRovaStatements(
        "plugin -load kivo_rova\n" + dentedPlane(100) +
        "set mover.scale 0.1\nbake -frames 10000000 -start 0 -output \"" + glb + "\" p");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("'pShape': cannot bake into '" + glb +
                           "': the glTF would pass 4294967295 bytes (the most a .glb can hold)"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(fileNames(dir.path()), std::vector<std::string>{});
}

const std::string kRealRecording =
    std::string(ROVA_SOURCE_ROOT) + "/data/recordings/real/asl-fingerspelling.kivo";
const std::string kSwipeRecording =
    std::string(ROVA_SOURCE_ROOT) + "/data/recordings/generated/swipe.kivo";

// (After loading kivo_rova.) A tracked hand: a sphere on the palm and one on each fingertip.
const std::string kTrackedHand =
    "create kivoTransform -name hand; set hand.live on\n"
    "sphere -name palm -radius 0.8; connect hand.outputPalm0 palm.inputMatrix\n"
    "sphere -name tip0 -radius 0.3; connect hand.outputPointable0_0 tip0.inputMatrix\n"
    "sphere -name tip1 -radius 0.3; connect hand.outputPointable0_1 tip1.inputMatrix\n"
    "sphere -name tip2 -radius 0.3; connect hand.outputPointable0_2 tip2.inputMatrix\n"
    "sphere -name tip3 -radius 0.3; connect hand.outputPointable0_3 tip3.inputMatrix\n"
    "sphere -name tip4 -radius 0.3; connect hand.outputPointable0_4 tip4.inputMatrix\n";

using Vec = std::array<double, 3>;

double distance(const Vec& a, const Vec& b) {
    return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
                     (a[2] - b[2]) * (a[2] - b[2]));
}

// Key `frame` of a node's animated channel `path` ("translation", "rotation"), or its static value.
std::vector<double> nodeValue(const tinygltf::Model& model, int node, const std::string& path,
                              std::size_t frame) {
    for (const auto& animation : model.animations)
        for (const auto& channel : animation.channels)
            if (channel.target_node == node && channel.target_path == path) {
                const auto keys = accessorFloats(
                    model, animation.samplers[static_cast<std::size_t>(channel.sampler)].output);
                const std::size_t width = path == "rotation" ? 4 : 3;
                return std::vector<double>(keys.begin() + static_cast<long>(frame * width),
                                           keys.begin() + static_cast<long>((frame + 1) * width));
            }
    const auto& n = model.nodes.at(static_cast<std::size_t>(node));
    if (path == "rotation")
        return n.rotation.empty() ? std::vector<double>{0, 0, 0, 1} : n.rotation;
    return n.translation.empty() ? std::vector<double>{0, 0, 0} : n.translation;
}

// The world position and rotation of a node at a frame, through its parents' animated poses.
struct WorldPose {
    Vec position{};
    std::array<float, 4> rotation{0, 0, 0, 1};
};
WorldPose worldPose(const tinygltf::Model& model, int node, std::size_t frame) {
    int parent = -1;
    for (std::size_t i = 0; i < model.nodes.size(); ++i)
        for (int child : model.nodes[i].children)
            if (child == node)
                parent = static_cast<int>(i);
    const auto t = nodeValue(model, node, "translation", frame);
    const auto r = nodeValue(model, node, "rotation", frame);
    if (parent < 0)
        return {{t[0], t[1], t[2]},
                {static_cast<float>(r[0]), static_cast<float>(r[1]), static_cast<float>(r[2]),
                 static_cast<float>(r[3])}};
    const WorldPose up = worldPose(model, parent, frame);
    const auto moved = rotate(up.rotation.data(), {t[0], t[1], t[2]});
    const double ax = up.rotation[0], ay = up.rotation[1], az = up.rotation[2], aw = up.rotation[3];
    const double bx = r[0], by = r[1], bz = r[2], bw = r[3];
    return {{up.position[0] + moved[0], up.position[1] + moved[1], up.position[2] + moved[2]},
            {static_cast<float>(aw * bx + ax * bw + ay * bz - az * by),
             static_cast<float>(aw * by - ax * bz + ay * bw + az * bx),
             static_cast<float>(aw * bz + ax * by - ay * bx + az * bw),
             static_cast<float>(aw * bw - ax * bx - ay * by - az * bz)}};
}

int nodeNamed(const tinygltf::Model& model, const std::string& name) {
    for (std::size_t i = 0; i < model.nodes.size(); ++i)
        if (model.nodes[i].name == name)
            return static_cast<int>(i);
    ADD_FAILURE() << "no node " << name;
    return 0;
}

TEST(Bake, ATrackedHandIsLifeSizeInMetresUnlessSceneUnitsAreKept) {
    TempDir dir;
    const auto glb = [&dir](const std::string& name) { return (dir.path() / name).string(); };
    const std::string items = " palm tip0 tip1 tip2 tip3 tip4\n";
    const auto run = runRovaStatements(
        "plugin -load kivo_rova\n" + kTrackedHand + "device -replay \"" + kRealRecording +
        "\"\nbake -frames 40 -start 1 -replay -output \"" + glb("metres.glb") + "\"" + items +
        "device -replay \"" + kRealRecording +
        "\"\nbake -frames 40 -start 1 -replay -raw -output \"" + glb("raw.glb") + "\"" + items +
        // One scene unit a millimetre: the scene is 20 times larger, the bake the same.
        "set hand.scale 1\ndevice -replay \"" + kRealRecording +
        "\"\nbake -frames 40 -start 1 -replay -output \"" + glb("mm.glb") + "\"" + items +
        "device -replay \"" + kRealRecording +
        "\"\nbake -frames 40 -start 1 -replay -unit 0.01 "
        "-output \"" +
        glb("cm.glb") + "\"" + items);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("(25 fps, 1 scene unit = 0.02 m)"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("(25 fps, scene units kept)"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("(25 fps, 1 scene unit = 0.001 m)"), std::string::npos) << run.out;
    EXPECT_EQ(validatorErrors({glb("metres.glb"), glb("raw.glb")}), "");

    // Palm to the middle fingertip, and the palm marker's radius, frame by frame.
    struct Sizes {
        std::vector<double> reach;
        double radius = 0.0;
    };
    const auto sizes = [&](const std::string& file) {
        const tinygltf::Model model = readModel(glb(file));
        Sizes out;
        for (std::size_t f = 0; f < 40; ++f) {
            const auto p = nodeValue(model, nodeNamed(model, "palm"), "translation", f);
            const auto t = nodeValue(model, nodeNamed(model, "tip2"), "translation", f);
            out.reach.push_back(distance({p[0], p[1], p[2]}, {t[0], t[1], t[2]}));
        }
        const auto& mesh = model.meshes.at(static_cast<std::size_t>(
            model.nodes.at(static_cast<std::size_t>(nodeNamed(model, "palm"))).mesh));
        out.radius = model.accessors
                         .at(static_cast<std::size_t>(mesh.primitives[0].attributes.at("POSITION")))
                         .maxValues.at(1);
        return out;
    };
    const Sizes metres = sizes("metres.glb"), raw = sizes("raw.glb"), mm = sizes("mm.glb"),
                cm = sizes("cm.glb");
    // The fingers spell letters, often curled: the open hand reaches furthest.
    EXPECT_GT(*std::max_element(metres.reach.begin(), metres.reach.end()), 0.08);
    for (std::size_t f = 0; f < 40; ++f) {
        EXPECT_LT(metres.reach[f], 0.2) << "frame " << f;
        EXPECT_NEAR(raw.reach[f], metres.reach[f] / 0.02, 1e-4) << "frame " << f;
        EXPECT_NEAR(mm.reach[f], metres.reach[f], 1e-6) << "frame " << f;
        EXPECT_NEAR(cm.reach[f], mm.reach[f] * 10.0, 1e-5) << "frame " << f;
    }
    EXPECT_NEAR(metres.radius, 0.8 * 0.02, 1e-7);
    EXPECT_NEAR(raw.radius, 0.8, 1e-7);
    // The files say which unit their lengths are in.
    for (const auto& [file, unit] :
         {std::pair<std::string, std::string>{"metres.glb", "metre"}, {"raw.glb", "scene unit"}}) {
        const auto extras = readModel(glb(file)).asset.extras;
        EXPECT_EQ(extras.Get("lengthUnit").Get<std::string>(), unit) << file;
    }

    // Tracking nodes that disagree on the scale leave the unit to the user.
    const auto mixed = runRovaStatements("plugin -load kivo_rova\n" + kTrackedHand +
                                         "create kivoTransform -name other; set other.scale 0.1\n"
                                         "bake -frames 2 -start 0 -output \"" +
                                         glb("mixed.glb") + "\" palm\n");
    EXPECT_EQ(mixed.exitCode, 1);
    EXPECT_NE(mixed.err.find("cannot tell the scene unit: 'hand.scale' is 0.05 and 'other.scale' "
                             "is 0.1; give -unit METRES or -raw"),
              std::string::npos)
        << mixed.err;
    EXPECT_FALSE(std::filesystem::exists(glb("mixed.glb")));
}

// The "frame N t=T" times of a recording, in seconds.
std::vector<double> recordedSeconds(const std::string& path) {
    std::vector<double> seconds;
    for (const std::string& line : linesOf(fileText(path))) {
        if (!line.starts_with("frame "))
            continue;
        const auto at = line.find(" t=");
        seconds.push_back(std::stod(line.substr(at + 3)) / 1e6);
    }
    return seconds;
}

TEST(Bake, AReplayBakesAtTheRecordingsRateWithItsRecordedTimes) {
    TempDir dir;
    const auto path = [&dir](const std::string& name) { return (dir.path() / name).string(); };
    const auto run = runRovaStatements(
        "plugin -load kivo_rova\n" + kTrackedHand + "device -replay \"" + kSwipeRecording +
        "\"\nbake -frames 90 -start 1 -replay -output \"" + path("follow.glb") + "\" -table \"" +
        path("follow.json") + "\" palm\ntime -fps\ntime -fps 24\ndevice -replay \"" +
        kSwipeRecording + "\"\nbake -frames 90 -start 1 -replay -fps 30 -output \"" +
        path("given.glb") + "\" -table \"" + path("given.json") + "\" palm\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("\n60\n"), std::string::npos) << "the scene runs at the bake's rate\n"
                                                         << run.out;
    const auto recorded = recordedSeconds(kSwipeRecording);
    ASSERT_EQ(recorded.size(), 90u);
    for (const auto& [name, fps] :
         {std::pair<std::string, double>{"follow", 60.0}, {"given", 30.0}}) {
        const auto table = nlohmann::json::parse(fileText(path(name + ".json")));
        EXPECT_EQ(table["fps"].get<double>(), fps) << name;
        // Scene time steps at the bake's rate; the glTF keys are the recorded times.
        EXPECT_DOUBLE_EQ(table["seconds"][89].get<double>(), 90.0 / fps) << name;
        const tinygltf::Model model = readModel(path(name + ".glb"));
        const auto times = accessorFloats(model, model.animations.at(0).samplers.at(0).input);
        ASSERT_EQ(times.size(), 90u);
        for (std::size_t i = 0; i < 90; ++i) {
            EXPECT_FLOAT_EQ(times[i], static_cast<float>(recorded[i] - recorded[0]))
                << name << " frame " << i;
            EXPECT_DOUBLE_EQ(table["time"][i].get<double>(), recorded[i] - recorded[0]);
        }
    }
}

TEST(Bake, AFrameRecordedAtTheTimeOfTheOneBeforeKeysJustAfterItAndTheRestKeepTheirTimes) {
    TempDir dir;
    const auto path = [&dir](const std::string& name) { return (dir.path() / name).string(); };
    // The swipe with its 11th frame given the 10th's time, as a tracker may stamp two frames.
    std::string text;
    int frame = 0;
    std::string tenth;
    for (std::string line : linesOf(fileText(kSwipeRecording))) {
        if (line.starts_with("frame ") && ++frame >= 10 && frame <= 11) {
            const auto at = line.find(" t=") + 3;
            const auto end = line.find(';', at);
            if (frame == 10)
                tenth = line.substr(at, end - at);
            else
                line.replace(at, end - at, tenth);
        }
        text += line + "\n";
    }
    std::ofstream(path("shared.kivo")) << text;
    const auto run = runRovaStatements(
        "plugin -load kivo_rova\n" + kTrackedHand + "device -replay \"" + path("shared.kivo") +
        "\"\nbake -frames 90 -start 1 -replay -output \"" + path("take.glb") + "\" palm\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto recorded = recordedSeconds(path("shared.kivo"));
    ASSERT_EQ(recorded.size(), 90u);
    ASSERT_EQ(recorded[9], recorded[10]);
    const tinygltf::Model model = readModel(path("take.glb"));
    const auto times = accessorFloats(model, model.animations.at(0).samplers.at(0).input);
    ASSERT_EQ(times.size(), 90u);
    for (std::size_t i = 0; i < 90; ++i) {
        if (i == 10) {
            EXPECT_EQ(times[i], std::nextafter(times[9], 1.0F));
            continue;
        }
        EXPECT_FLOAT_EQ(times[i], static_cast<float>(recorded[i] - recorded[0])) << "frame " << i;
    }
}

TEST(Bake, WarnsOfStillItemsHandsNeverSeenAndFramesPastTheReplay) {
    TempDir dir;
    const std::string glb = (dir.path() / "take.glb").string();
    struct Case {
        std::string statements;
        std::vector<std::string> warnings;  // every "warning:" line, in order
    };
    const std::string replay = "device -replay \"" + kSwipeRecording + "\"\n";
    const std::string still = "cube -name still\n";
    const std::vector<Case> cases = {
        // Everything moves and sees the hand, and the replay lasts: nothing to say.
        {replay + "bake -frames 90 -start 1 -replay -output \"" + glb + "\" palm tip1\n", {}},
        {still + replay + "bake -frames 90 -start 1 -replay -output \"" + glb +
             "\" palm still hand.scale tip1\n",
         {"warning: bake: never changed in the 90 baked frames: still, hand.scale"}},
        // No replay: the tracked outputs and what they drive never saw a hand, and so never moved.
        {"bake -frames 3 -start 1 -output \"" + glb + "\" palm tip1 hand.outputPalm0Enabled\n",
         {"warning: bake: never changed in the 3 baked frames: palm, tip1, "
          "hand.outputPalm0Enabled",
          "warning: bake: tracked outputs never saw a hand in the 3 baked frames (is the node "
          "live, and a replay playing?): hand.outputPalm0 (palm, hand.outputPalm0Enabled), "
          "hand.outputPointable0_1 (tip1)"}},
        {replay + "bake -frames 95 -start 1 -replay -output \"" + glb + "\" palm\n",
         {"warning: bake: the replay ended before frame 91: the last 5 of the 95 frames were "
          "baked after it and hold its last pose"}},
        {"cube -name box; create timeRotate -name spin; connect sceneTime.time spin.time\n"
         "connect spin.outputRotate box.rotate\nbake -frames 3 -start 1 -replay -output \"" +
             glb + "\" box\n",
         {"warning: bake: -replay: no lockstep replay was playing (device -replay PATH); no "
          "frame advanced one"}},
    };
    for (const Case& c : cases) {
        const auto run =
            runRovaStatements("plugin -load kivo_rova\n" + kTrackedHand + c.statements);
        EXPECT_EQ(run.exitCode, 0) << c.statements << run.err;
        std::vector<std::string> warnings;
        for (const std::string& line : linesOf(run.err))
            if (line.starts_with("warning:"))
                warnings.push_back(line);
        EXPECT_EQ(warnings, c.warnings) << c.statements;
        EXPECT_TRUE(std::filesystem::exists(glb)) << c.statements;
    }
}

TEST(Bake, AHandBakesAsASkinWhoseJointsFollowTheTrackedFingertips) {
    TempDir dir;
    const auto glb = (dir.path() / "rig.glb").string();
    const auto gltf = (dir.path() / "rig.gltf").string();
    const std::string bake = "bake -frames 60 -start 1 -replay -skin hand -output ";
    const auto run = runRovaStatements("plugin -load kivo_rova\n" + kTrackedHand +
                                       "device -replay \"" + kRealRecording + "\"\n" + bake + "\"" +
                                       glb + "\" palm tip0 tip1 tip2 tip3 tip4\ndevice -replay \"" +
                                       kRealRecording + "\"\n" + bake + "\"" + gltf + "\"\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("the hand of hand as a skin"), std::string::npos) << run.out;
    EXPECT_EQ(validatorErrors({glb, gltf}), "");

    const tinygltf::Model model = readModel(glb);
    ASSERT_EQ(model.skins.size(), 1u);
    const auto& skin = model.skins[0];
    ASSERT_EQ(skin.joints.size(), 21u);
    EXPECT_EQ(model.accessors.at(static_cast<std::size_t>(skin.inverseBindMatrices)).count, 21u);
    // The mesh that shows the hand is bound to the joints.
    int holder = -1;
    for (std::size_t i = 0; i < model.nodes.size(); ++i)
        if (model.nodes[i].skin == 0)
            holder = static_cast<int>(i);
    ASSERT_GE(holder, 0);
    const auto& primitive =
        model.meshes
            .at(static_cast<std::size_t>(model.nodes[static_cast<std::size_t>(holder)].mesh))
            .primitives.at(0);
    EXPECT_TRUE(primitive.attributes.count("JOINTS_0") && primitive.attributes.count("WEIGHTS_0"));

    const char* fingers[] = {"thumb", "index", "middle", "ring", "pinky"};
    for (std::size_t f = 0; f < 60; f += 7) {
        // The palm joint is where the palm marker is, each finger's tip joint where its tip
        // marker is, and the chain from the knuckle is straight and one finger long.
        const auto palm = worldPose(model, nodeNamed(model, "hand_palm"), f).position;
        const auto marker = nodeValue(model, nodeNamed(model, "palm"), "translation", f);
        EXPECT_NEAR(distance(palm, {marker[0], marker[1], marker[2]}), 0.0, 1e-6) << "frame " << f;
        for (std::size_t j = 0; j < 5; ++j) {
            const std::string finger = std::string("hand_") + fingers[j];
            const auto tip = worldPose(model, nodeNamed(model, finger + "_tip"), f).position;
            const auto knuckle = worldPose(model, nodeNamed(model, finger + "_1"), f).position;
            const auto middle = worldPose(model, nodeNamed(model, finger + "_2"), f).position;
            const auto expected =
                nodeValue(model, nodeNamed(model, "tip" + std::to_string(j)), "translation", f);
            EXPECT_NEAR(distance(tip, {expected[0], expected[1], expected[2]}), 0.0, 1e-5)
                << finger << " frame " << f;
            const double length = distance(knuckle, tip);
            EXPECT_GT(length, 0.05) << finger;
            EXPECT_LT(length, 0.1) << finger;
            EXPECT_NEAR(distance(knuckle, middle) + distance(middle, tip), length, 1e-6) << finger;
        }
    }
}

}  // namespace
