// The one-euro filter node driven through scripts in the headless host: a steady hand and a step
// converge, jitter shrinks, rotations are smoothed on the sphere, the state starts afresh after a
// gap, a vanished hand is held for the grace time, and a grab fed through the filter survives a
// two-frame dropout of a replayed hand.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "LoadReport.h"
#include "RunRova.h"
#include "ScriptValues.h"
#include "TempDir.h"

namespace {

using kivorova::testing::complaints;
using kivorova::testing::linesOf;
using kivorova::testing::numbersOf;
using kivorova::testing::runRovaScript;

// A filter node "f" that measures in scene units (scale 1: a scene unit is a millimetre).
const std::string kScene =
    "plugin -load kivo_rova\n"
    "create kivoFilter -name f\n"
    "set f.scale 1\n";

std::string number(double value) {
    std::ostringstream out;
    out.precision(17);
    out << value;
    return out.str();
}

// The transform turned `degrees` about +Y, then placed at (x, y, z) (row-vector convention).
std::string pose(double x, double y, double z, double degrees = 0.0) {
    const double a = degrees * std::numbers::pi / 180.0;
    const double c = std::cos(a), s = std::sin(a);
    const double m[16] = {c, 0, -s, 0, 0, 1, 0, 0, s, 0, c, 0, x, y, z, 1};
    std::string text;
    for (int i = 0; i < 16; ++i) text += (i ? " " : "") + number(m[i]);
    return text;
}

// One sample at time t: the matrix, whether the hand is there, then the filtered matrix and flag.
std::string sample(double t, const std::string& matrix, bool enabled = true) {
    return "set f.time " + number(t) + "\nset f.ie " + (enabled ? "on" : "off") + "\nset f.im " +
           matrix + "\nget f.om\nget f.oe\n";
}

struct Output {
    std::vector<double> matrix;
    bool enabled = false;
};

// The filtered outputs the script's samples printed, in order (after the create line).
std::vector<Output> outputs(const std::string& out) {
    const auto lines = linesOf(out);
    std::vector<Output> result;
    for (std::size_t i = 1; i + 1 < lines.size(); i += 2) {
        result.push_back({numbersOf(lines[i]), lines[i + 1] == "true"});
    }
    return result;
}

std::vector<Output> run(const std::string& script) {
    const auto result = runRovaScript(kScene + script);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(complaints(result.err), "");
    return outputs(result.out);
}

double x(const Output& o) {
    return o.matrix.size() == 16 ? o.matrix[12] : NAN;
}

// The turn about +Y of a transform that turns about +Y only, degrees in (-180, 180].
double yaw(const Output& o) {
    return std::atan2(o.matrix[8], o.matrix[0]) * 180.0 / std::numbers::pi;
}

TEST(KivoFilterNode, ASteadyHandPassesUnchangedAndAStepIsFollowedWithoutOvershoot) {
    std::string script;
    for (int i = 0; i < 10; ++i) script += sample(i * 0.04, pose(10, 20, 30, 40));
    for (int i = 10; i < 110; ++i) script += sample(i * 0.04, pose(60, 20, 30, 40));
    const auto out = run(script);
    ASSERT_EQ(out.size(), 110u);
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(out[i].matrix.size(), 16u);
        EXPECT_TRUE(out[i].enabled);
        for (int k = 0; k < 16; ++k)
            EXPECT_NEAR(out[i].matrix[k], numbersOf(pose(10, 20, 30, 40))[k], 1e-12);
    }
    // The 50 mm step: each sample closes part of the gap, none passes the target.
    EXPECT_GT(x(out[10]), 10.0);
    EXPECT_LT(x(out[10]), 40.0);
    for (int i = 11; i < 110; ++i) {
        EXPECT_GE(x(out[i]), x(out[i - 1])) << i;
        EXPECT_LE(x(out[i]), 60.0) << i;
    }
    // Within a second it is close, after four it is there; the rest never moved.
    EXPECT_GT(x(out[35]), 55.0);
    EXPECT_NEAR(x(out[109]), 60.0, 1e-6);
    EXPECT_NEAR(out[109].matrix[13], 20.0, 1e-9);
    EXPECT_NEAR(yaw(out[109]), 40.0, 1e-9);
}

TEST(KivoFilterNode, JitterOfAStillHandShrinksAtLeastFiveTimesAroundTheSamePlace) {
    // A hand held still at 60 frames per second, each frame off by up to 1 mm on every axis.
    std::string script;
    std::vector<double> raw;
    unsigned int seed = 12345;
    const auto noise = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return static_cast<double>((seed >> 8) % 2001) / 1000.0 - 1.0;
    };
    for (int i = 0; i < 180; ++i) {
        const double dx = noise(), dy = noise(), dz = noise();
        raw.push_back(100 + dx);
        script += sample(i / 60.0, pose(100 + dx, 200 + dy, -50 + dz));
    }
    const auto out = run(script);
    ASSERT_EQ(out.size(), 180u);
    const auto jitter = [](const std::vector<double>& v) {
        double sum = 0;
        for (std::size_t i = 1; i + 1 < v.size(); ++i) {
            const double a = v[i + 1] - 2 * v[i] + v[i - 1];
            sum += a * a;
        }
        return std::sqrt(sum / static_cast<double>(v.size() - 2));
    };
    std::vector<double> filtered;
    double mean = 0;
    for (const Output& o : out) {
        filtered.push_back(x(o));
        mean += x(o) / static_cast<double>(out.size());
    }
    EXPECT_GT(jitter(raw) / jitter(filtered), 5.0);
    EXPECT_NEAR(mean, 100.0, 0.25);
}

TEST(KivoFilterNode, RotationIsSmoothedOnTheSphereAcrossTheHalfTurn) {
    // A hand turning 10 degrees per frame about +Y from 150 to 250 degrees: past the half turn
    // the matrix's angle reads -170, -160... A filter of the angles or of the matrix's numbers
    // would turn back the long way or shrink the axes.
    std::string script;
    for (int i = 0; i <= 10; ++i) script += sample(i * 0.04, pose(0, 0, 0, 150 + 10 * i));
    // Then a jump across the half turn in one frame: 179 to 181 degrees is 2 degrees, not 358.
    script += sample(10, pose(0, 0, 0, 179)) + sample(10.04, pose(0, 0, 0, 181));
    const auto out = run(script);
    ASSERT_EQ(out.size(), 13u);
    double previous = 150;
    for (int i = 1; i <= 10; ++i) {
        SCOPED_TRACE(i);
        const Output& o = out[i];
        ASSERT_EQ(o.matrix.size(), 16u);
        // Rows stay unit length and at right angles: a rotation, about +Y only.
        for (int r = 0; r < 3; ++r) {
            double length = 0;
            for (int c = 0; c < 3; ++c) length += o.matrix[4 * r + c] * o.matrix[4 * r + c];
            EXPECT_NEAR(length, 1.0, 1e-9);
        }
        EXPECT_NEAR(o.matrix[0] * o.matrix[8] + o.matrix[2] * o.matrix[10], 0.0, 1e-9);
        EXPECT_NEAR(o.matrix[5], 1.0, 1e-9);
        // Forward from the previous output, short of the raw angle.
        double angle = yaw(o);
        if (angle < 0)
            angle += 360;
        EXPECT_GT(angle, previous);
        EXPECT_LT(angle, 150 + 10 * i);
        previous = angle;
    }
    double across = yaw(out[12]);
    if (across < 0)
        across += 360;
    EXPECT_GT(across, 179.0);
    EXPECT_LT(across, 181.0);
}

TEST(KivoFilterNode, StartsAfreshAfterAGapOrWhenTimeGoesBackAndAsksTheSameTimeOnce) {
    std::string script;
    for (int i = 0; i < 5; ++i) script += sample(i * 0.04, pose(0, 0, 0));
    script += sample(0.2, pose(10, 0, 0));      // 40 ms on: smoothed
    script += "get f.om\n";                     // the same time again: the same answer
    script += "set f.minCutoff 2\nget f.om\n";  // a setting changed: that step again
    script += sample(0.5, pose(20, 0, 0));      // 300 ms on, past the 250 ms gap: taken as it is
    script += sample(0.3, pose(30, 0, 0));      // back in time: taken as it is
    script += "set f.gap 1\n" + sample(1.2, pose(40, 0, 0));  // 900 ms on, within 1 s: smoothed
    const auto result = runRovaScript(kScene + script);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto lines = linesOf(result.out);
    ASSERT_EQ(lines.size(), 1u + 2 * 9 + 2) << result.out;
    const double smoothed = numbersOf(lines[11])[12];
    EXPECT_GT(smoothed, 0.0);
    EXPECT_LT(smoothed, 10.0);
    EXPECT_EQ(lines[13], lines[11]);
    const double faster = numbersOf(lines[14])[12];
    EXPECT_GT(faster, smoothed);  // the same step redone at a higher cutoff, not a second step
    EXPECT_LT(faster, 10.0);
    EXPECT_EQ(numbersOf(lines[15])[12], 20.0);
    EXPECT_EQ(numbersOf(lines[17])[12], 30.0);
    const double resumed = numbersOf(lines[19])[12];
    EXPECT_GT(resumed, 30.0);
    EXPECT_LT(resumed, 40.0);
}

TEST(KivoFilterNode, AVanishedHandIsHeldForTheGraceTimeThenReportedGone) {
    std::string script;
    for (int i = 0; i < 5; ++i) script += sample(i * 0.04, pose(0, 0, 0));
    script += sample(0.20, pose(10, 0, 0));
    // Two frames without the hand (its last matrix stays on the input, as the tracking node
    // leaves it), then the hand is back 10 mm on.
    script += sample(0.24, pose(10, 0, 0), false);
    script += sample(0.28, pose(10, 0, 0), false);
    script += sample(0.32, pose(20, 0, 0));
    // Three frames without it: 120 ms is past the 100 ms grace time.
    script += sample(0.36, pose(20, 0, 0), false);
    script += sample(0.40, pose(20, 0, 0), false);
    script += sample(0.44, pose(20, 0, 0), false);
    script += sample(0.48, pose(50, 0, 0));
    const auto out = run(script);
    ASSERT_EQ(out.size(), 13u);
    const double held = x(out[5]);
    EXPECT_GT(held, 0.0);
    EXPECT_LT(held, 10.0);
    for (int i : {6, 7}) {
        EXPECT_TRUE(out[i].enabled) << i;
        EXPECT_EQ(x(out[i]), held) << i;
    }
    // Back within the grace time: smoothing goes on from the held pose.
    EXPECT_TRUE(out[8].enabled);
    EXPECT_GT(x(out[8]), held);
    EXPECT_LT(x(out[8]), 20.0);
    EXPECT_TRUE(out[9].enabled);
    EXPECT_TRUE(out[10].enabled);
    EXPECT_FALSE(out[11].enabled);
    EXPECT_EQ(x(out[11]), x(out[8]));  // the matrix keeps its last value
    // Back after being reported gone: a fresh start at the hand.
    EXPECT_TRUE(out[12].enabled);
    EXPECT_EQ(x(out[12]), 50.0);
}

// The bundled pinch-and-carry recording with its hand taken out of two frames while the block
// is carried; frames keep their times.
std::string withDropout(const std::filesystem::path& folder, int first, int count) {
    std::ifstream in(kivorova::testing::sourceRoot() /
                     "data/recordings/generated/pinch-carry.kivo");
    const std::filesystem::path path = folder / "dropout.kivo";
    std::ofstream out(path);
    for (std::string line; std::getline(in, line);) {
        const std::string head = "frame ";
        if (line.rfind(head, 0) == 0) {
            const int id = std::stoi(line.substr(head.size()));
            if (id >= first && id < first + count)
                line = line.substr(0, line.find(';'));
        }
        out << line << "\n";
    }
    return path.string();
}

// The interaction scene's pinch with each fingertip smoothed on its way to the grab node;
// prints what the grab holds and whether the thumb's filter reports the hand, every frame, then
// where the block ended.
std::string grabScene(const std::string& recording) {
    return "plugin -load kivo_rova\n"
           "create kivoTransform -name hand\nset hand.live on\n"
           "create kivoFilter -name thumb\ncreate kivoFilter -name index\n"
           "connect hand.outputPointable0_0 thumb.inputMatrix\n"
           "connect hand.outputPointable0_0Enabled thumb.inputEnabled\n"
           "connect hand.outputPointable0_1 index.inputMatrix\n"
           "connect hand.outputPointable0_1Enabled index.inputEnabled\n"
           "connect hand.frameTime thumb.time\nconnect hand.frameTime index.time\n"
           "connect hand.scale thumb.scale\nconnect hand.scale index.scale\n"
           "cube -name block -size 0.8\nmove -a -5 8.25 -3 block\n"
           "create kivoGrabNode -name grab\n"
           "connect thumb.outputTranslate grab.finger1\n"
           "connect index.outputTranslate grab.finger2\n"
           "connect hand.outputPalm0 grab.palmMatrix\n"
           "set grab.distanceRelease 0.4\nwatch grab.grabObject\n"
           "device -replay " +
           recording +
           "\n"
           "python(\"import rova\\nshown = lambda plug: rova.eval('get ' + plug).strip()\\n"
           "for _ in range(216):\\n"
           "    rova.eval('play -frames 1')\\n"
           "    print('tick', shown('grab.grabObject'), shown('thumb.outputEnabled'), "
           "shown('hand.outputPointable0_0Enabled'))\")\n"
           "get block.translate\n";
}

TEST(KivoFilterNode, AGrabThroughTheFilterSurvivesATwoFrameDropout) {
    const kivorova::testing::TempDir folder;
    const std::string plain =
        (kivorova::testing::sourceRoot() / "data/recordings/generated/pinch-carry.kivo").string();
    const auto baseline = runRovaScript(grabScene(plain));
    ASSERT_EQ(baseline.exitCode, 0) << baseline.err;
    const auto dropped = runRovaScript(grabScene(withDropout(folder.path(), 120, 2)));
    ASSERT_EQ(dropped.exitCode, 0) << dropped.err;

    std::vector<std::string> frames;
    for (const std::string& line : linesOf(dropped.out)) {
        if (line.rfind("tick ", 0) == 0)
            frames.push_back(line);
    }
    ASSERT_EQ(frames.size(), 216u) << dropped.out;
    int grabs = 0, releases = 0, gone = 0;
    std::string held = "null";
    for (std::size_t i = 0; i < 216; ++i) {
        std::istringstream words(frames[i]);
        std::string tick, object, filtered, raw;
        words >> tick >> object >> filtered >> raw;
        gone += raw == "false" ? 1 : 0;
        EXPECT_EQ(filtered, "true") << "frame " << i + 1;
        grabs += held == "null" && object != "null" ? 1 : 0;
        releases += held != "null" && object == "null" ? 1 : 0;
        held = object;
    }
    EXPECT_EQ(gone, 2);  // the tracking node did see the hand vanish
    EXPECT_EQ(grabs, 1);
    EXPECT_EQ(releases, 1);
    // Put down where the unbroken take puts it, within a millimetre (0.05 units).
    const auto expected = numbersOf(linesOf(baseline.out).back());
    const auto actual = numbersOf(linesOf(dropped.out).back());
    ASSERT_EQ(expected.size(), 3u);
    ASSERT_EQ(actual.size(), 3u);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(actual[k], expected[k], 0.05) << k;
}

}  // namespace
