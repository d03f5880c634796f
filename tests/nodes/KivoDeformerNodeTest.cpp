// The deformer node driven through scripts in the headless host, on real meshes.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "RunRova.h"
#include "ScriptValues.h"

namespace {

using kivorova::testing::linesOf;
using kivorova::testing::numbersOf;
using kivorova::testing::runRovaScript;

// A 2 x 2 plane of 3 x 3 vertices facing +Y: vertex 4 is the centre, every other vertex is at least
// 1 from it, so an input point 0.5 below the centre with radius 1 reaches the centre only.
std::string planeWithDeformer(const std::string& plane, const std::string& deformer) {
    return "plane -name " + plane + " -size 2 -divisions 2\n" + "deformer kivoDeformer " + plane +
           " -name " + deformer + "\n";
}

std::string inputPoint(const std::string& deformer, int k, double x, double y, double z) {
    const auto text = [](double v) { return std::to_string(v); };
    return "set " + deformer + ".inputPoint" + std::to_string(k) + " 1 0 0 0 0 1 0 0 0 0 1 0 " +
           text(x) + " " + text(y) + " " + text(z) + " 1\nset " + deformer + ".inputPoint" +
           std::to_string(k) + "Enabled true\n";
}

// The `points` lines of one mesh, printed after a marker line.
std::vector<std::vector<double>> pointsAfter(const std::string& out, const std::string& marker) {
    const auto lines = linesOf(out);
    std::vector<std::vector<double>> points;
    bool in = false;
    for (const auto& line : lines) {
        if (line == marker) {
            in = true;
            continue;
        }
        if (in && line.rfind("--", 0) == 0)
            break;
        if (in)
            points.push_back(numbersOf(line));
    }
    return points;
}

std::string show(const std::string& mesh, const std::string& marker) {
    return "print(\"" + marker + "\\n\")\npoints " + mesh + "\n";
}

double gaussAt(double ratio) {
    return std::pow(360.0, -(std::pow(ratio, 2.5) - 0.01));
}

TEST(KivoDeformerNode, TheWorkedCaseMovesTheCentreByTheSignedDepth) {
    struct Case {
        std::string name, settings;
        double centreY;
    };
    const std::vector<Case> cases = {
        {"linear push with weighted sign", "set D.falloffType 1", -0.25},
        {"linear push without weighted sign", "set D.falloffType 1; set D.weightedSign false",
         -0.5},
        {"pull leaves it", "set D.falloffType 1; set D.deformType 2", 0.0},
        {"gauss weight at half the radius", "", -0.5 * gaussAt(0.5)},
        {"power scales the step", "set D.falloffType 1; set D.power 2", -0.5},
        {"out of reach with a small radius", "set D.falloffType 1; set D.radius 0.4", 0.0},
    };
    std::string script = "plugin -load kivo_rova\n";
    for (std::size_t k = 0; k < cases.size(); ++k) {
        const std::string p = "p" + std::to_string(k), d = "d" + std::to_string(k);
        std::string settings = cases[k].settings;
        for (auto at = settings.find("D."); at != std::string::npos; at = settings.find("D.", at))
            settings.replace(at, 1, d);
        script += planeWithDeformer(p, d) + settings + "\n" + inputPoint(d, 0, 0, -0.5, 0);
    }
    script += "refresh\n";
    for (std::size_t k = 0; k < cases.size(); ++k)
        script += show("p" + std::to_string(k), "--" + std::to_string(k));
    const auto run = runRovaScript(script);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (std::size_t k = 0; k < cases.size(); ++k) {
        const auto points = pointsAfter(run.out, "--" + std::to_string(k));
        ASSERT_EQ(points.size(), 9u) << cases[k].name << "\n" << run.out;
        for (std::size_t v = 0; v < points.size(); ++v) {
            ASSERT_EQ(points[v].size(), 3u);
            const double want = v == 4 ? cases[k].centreY : 0.0;
            EXPECT_NEAR(points[v][1], want, 1e-12) << cases[k].name << ", vertex " << v;
            EXPECT_EQ(points[v][0], v % 3 == 0 ? -1.0 : (v % 3 == 1 ? 0.0 : 1.0));
        }
    }
    EXPECT_NEAR(gaussAt(0.5), 0.3747, 5e-5);
}

TEST(KivoDeformerNode, PermanentAccumulatesEditsTheOriginalAndPauseHoldsIt) {
    const std::string script =
        "plugin -load kivo_rova\n" + planeWithDeformer("p", "d") +
        "set d.falloffType 1; set d.permanent true\n" + inputPoint("d", 0, 0, -0.5, 0) +
        "refresh\n" + show("p", "--first") + "set d.radius 1\nrefresh\n" + show("p", "--second") +
        "set d.pause true\nrefresh\nset d.radius 1\nrefresh\n" + show("p", "--paused") +
        "set d.pause false\nrefresh\n" + show("p", "--resumed") +
        // Off again, with no input point: the mesh shows its own, permanently edited, shape.
        "set d.permanent false; set d.inputPoint0Enabled false\nrefresh\n" +
        show("p", "--original") + "print(\"--end\\n\")\n";
    const auto run = runRovaScript(script);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::vector<std::pair<std::string, double>> expected = {{"--first", -0.25},
                                                                  {"--second", -0.4375},
                                                                  {"--paused", -0.4375},
                                                                  {"--resumed", -0.49609375},
                                                                  {"--original", -0.49609375}};
    for (const auto& [marker, y] : expected) {
        const auto points = pointsAfter(run.out, marker);
        ASSERT_EQ(points.size(), 9u) << marker << "\n" << run.out;
        EXPECT_EQ(points[4][1], y) << marker;
        EXPECT_EQ(points[0][1], 0.0) << marker;
    }
}

TEST(KivoDeformerNode, VerboseReportsEachEvaluationButDoesNotCauseOne) {
    const std::string script = "plugin -load kivo_rova\n" + planeWithDeformer("p", "d") +
                               "refresh\nset d.verbose true\nrefresh\nprint(\"--no inputs\\n\")\n"
                               "set d.radius 2\nrefresh\nprint(\"--one input\\n\")\n" +
                               inputPoint("d", 0, 0, -0.5, 0) + "refresh\n";
    const auto run = runRovaScript(script);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto lines = linesOf(run.out);
    const std::vector<std::string> want = {"p",
                                           "d",
                                           "--no inputs",
                                           "Deforming begin...",
                                           "\t no deformation inputs.",
                                           "--one input",
                                           "Deforming begin...",
                                           "\t success"};
    EXPECT_EQ(lines, want) << run.out;
}

TEST(KivoDeformerNode, OnlyTheFirstInputPairDirtiesTheOutput) {
    const std::string script = "plugin -load kivo_rova\n" + planeWithDeformer("p", "d") +
                               "set d.falloffType 1\nrefresh\n" + inputPoint("d", 3, 0, -0.5, 0) +
                               "refresh\n" + show("p", "--pair 3 alone") +
                               "set d.power 1\nrefresh\n" + show("p", "--after power") +
                               inputPoint("d", 0, 5, 5, 5) + "refresh\n" +
                               show("p", "--after pair 0") + "print(\"--end\\n\")\n";
    const auto run = runRovaScript(script);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(pointsAfter(run.out, "--pair 3 alone").at(4)[1], 0.0);
    EXPECT_EQ(pointsAfter(run.out, "--after power").at(4)[1], -0.25);
    // Pair 0 far away: the node evaluates again, pair 3 still acts, the dent stays.
    EXPECT_EQ(pointsAfter(run.out, "--after pair 0").at(4)[1], -0.25);
}

TEST(KivoDeformerNode, EachGeometryKeepsItsOwnStoredShape) {
    // Two meshes of the same counts under one permanent deformer, b far from the input point: a
    // accumulates its dent, b keeps its own flat shape (one stored shape for the whole node would
    // write a's dent onto b). c, of another vertex count, under a deformer with e: each keeps its
    // own shape and counts.
    const std::string script =
        "plugin -load kivo_rova\n"
        "plane -name a -size 2 -divisions 2\nplane -name b -size 2 -divisions 2\n"
        "plane -name c -size 2 -divisions 3\nplane -name e -size 2 -divisions 2\n"
        "move -a 10 0 0 b\nmove -a 20 0 0 c\n"
        "deformer kivoDeformer a b -name d\ndeformer kivoDeformer e c -name f\n"
        "set d.falloffType 1; set d.permanent true\nset f.falloffType 1; set f.permanent true\n" +
        inputPoint("d", 0, 0, -0.5, 0) + inputPoint("f", 0, 0, -0.5, 0) +
        "refresh\nset d.radius 1; set f.radius 1\nrefresh\n" + show("a", "--a") + show("b", "--b") +
        show("e", "--e") + show("c", "--c") + "print(\"--end\\n\")\n";
    const auto run = runRovaScript(script);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const std::string mesh : {"a", "e"}) {
        const auto points = pointsAfter(run.out, "--" + mesh);
        ASSERT_EQ(points.size(), 9u) << mesh << "\n" << run.out;
        for (std::size_t v = 0; v < points.size(); ++v)
            EXPECT_EQ(points[v][1], v == 4 ? -0.4375 : 0.0) << mesh << ", vertex " << v;
    }
    const auto b = pointsAfter(run.out, "--b");
    ASSERT_EQ(b.size(), 9u) << run.out;
    for (const auto& point : b) EXPECT_EQ(point[1], 0.0) << run.out;
    const auto c = pointsAfter(run.out, "--c");
    ASSERT_EQ(c.size(), 16u) << run.out;
    for (const auto& point : c) EXPECT_EQ(point[1], 0.0) << run.out;
}

TEST(KivoDeformerNode, ARadiusThatIsNotPositiveWritesNoNonNumber) {
    for (const std::string radius : {"0", "-1"}) {
        for (const std::string falloff : {"0", "1", "2"}) {
            const std::string script = "plugin -load kivo_rova\n" + planeWithDeformer("p", "d") +
                                       "set d.radius " + radius + "; set d.falloffType " + falloff +
                                       "; set d.deformType 0\n" + inputPoint("d", 0, 0, 0, 0) +
                                       inputPoint("d", 1, 1, 0, 1) + "refresh\npoints p\n";
            const auto run = runRovaScript(script);
            ASSERT_EQ(run.exitCode, 0) << run.err;
            EXPECT_EQ(run.out.find("nan"), std::string::npos) << run.out;
            EXPECT_EQ(run.out.find("inf"), std::string::npos) << run.out;
            const auto lines = linesOf(run.out);
            ASSERT_EQ(lines.size(), 11u) << run.out;
            EXPECT_EQ(lines[2 + 4], "0 0 0") << "radius " << radius;
        }
    }
}

TEST(KivoDeformerNode, AnInputPointThatIsNotFiniteIsLeftOut) {
    // A tracked tip mapped with a scale that overflows: its matrix holds infinities, and in the
    // mesh's space the point is not a number. It reaches no vertex.
    const std::string setUp =
        "plugin -load kivo_rova\n"
        "create kivoTransform -name hand\ndevice -connect\nset hand.live on\n"
        "set hand.scale 1e307\nsphere -name ball -segments 3\n"
        "deformer kivoDeformer ball -name d\n";
    const std::string frame =
        "device -inject \"frame 1 t=0; hand 1 palm=0,200,0 normal=0,-1,0 dir=0,0,-1; "
        "pointable 11 hand=1 tip=-100,200,-100 dir=0,0,-1\"\nrefresh\npoints ball\n";
    const auto untouched = runRovaScript(setUp + frame);
    ASSERT_EQ(untouched.exitCode, 0) << untouched.err;
    const auto run = runRovaScript(setUp +
                                   "connect hand.outputPointable0_0 d.inputPoint0\n"
                                   "set d.inputPoint0Enabled true\n" +
                                   frame + "get d.inputPoint0\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("inf"), std::string::npos) << "the point is at infinity\n" << run.out;
    EXPECT_EQ(run.out.find("nan"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.substr(0, untouched.out.size()), untouched.out) << "the sphere is as it was";
}

TEST(KivoDeformerNode, TheInputPointsAreTakenIntoTheMeshsObjectSpace) {
    // The plane moved up by 2 and the point 0.5 below its centre in world space.
    const std::string script = "plugin -load kivo_rova\n" + planeWithDeformer("p", "d") +
                               "move -a 0 2 0 p\nset d.falloffType 1\n" +
                               inputPoint("d", 0, 0, 1.5, 0) + "refresh\n" + show("p", "--moved") +
                               "move -a 5 2 0 p\nrefresh\n" + show("p", "--away") +
                               "print(\"--end\\n\")\n";
    const auto run = runRovaScript(script);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(pointsAfter(run.out, "--moved").at(4)[1], -0.25);
    EXPECT_EQ(pointsAfter(run.out, "--away").at(4)[1], 0.0) << "moving the mesh re-deforms it";
}

}  // namespace
