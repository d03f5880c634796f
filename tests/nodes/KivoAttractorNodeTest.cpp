// The attractor node driven through scripts in the headless host.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>
#include <sstream>
#include <string>

#include "RunRova.h"
#include "ScriptValues.h"

namespace {

using kivorova::testing::linesOf;
using kivorova::testing::numbersOf;
using kivorova::testing::runRovaScript;

using Matrix = std::array<double, 16>;

// Uniform scale, then a turn about Z, then a translation (row vectors, translation in row 3).
Matrix transform(double scale, double degreesAboutZ, double x, double y, double z) {
    const double angle = degreesAboutZ * std::numbers::pi / 180.0;
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    return {scale * c, scale * s, 0, 0, -scale * s, scale * c, 0, 0, 0, 0, scale, 0, x, y, z, 1};
}

std::string text(const Matrix& m) {
    std::ostringstream out;
    out.precision(17);
    for (std::size_t i = 0; i < m.size(); ++i) {
        out << (i ? " " : "") << m[i];
    }
    return out.str();
}

void expectNear(const std::string& printed, const Matrix& expected) {
    const auto values = numbersOf(printed);
    ASSERT_EQ(values.size(), 16u) << printed;
    for (std::size_t i = 0; i < 16; ++i) {
        EXPECT_NEAR(values[i], expected[i], 1e-9) << "element " << i << " of " << printed;
    }
}

// An attractor node "follow" whose attractor is a transform with scale 2, a quarter turn about
// Z and translation (24, 48, -24); the attracted matrix stays at its identity default.
std::string setUp() {
    return "plugin -load kivo_rova\n"
           "create kivoAttractor -name follow\n"
           "set follow.inputAttractor " +
           text(transform(2, 90, 24, 48, -24)) + "\n";
}

TEST(KivoAttractorNode, TrackCopiesTheAttractorExactlyThenTheFollowGoesOnFromThere) {
    const auto run = runRovaScript(setUp() +
                                   "set follow.track true\n"
                                   "set follow.time 0.5\n"
                                   "get follow.outputAttracted\n"
                                   "get follow.inputAttractor\n"
                                   "set follow.track false\n"
                                   "set follow.inputAttractor " +
                                   text(transform(1, 0, 0, 0, 0)) +
                                   "\n"
                                   "set follow.time 1\n"
                                   "get follow.outputAttracted\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto lines = linesOf(run.out);
    ASSERT_EQ(lines.size(), 4u) << run.out;
    EXPECT_EQ(lines[1], lines[2]);
    // Half way (strength 1, half a second) from the tracked pose back to the identity.
    expectNear(lines[3], transform(1, 45, 12, 24, -12));
}

TEST(KivoAttractorNode, OneFrameAtStrengthOneMovesOneTwentyFourthOfTheWay) {
    const auto run = runRovaScript(setUp() +
                                   "set follow.time 0\n"
                                   "get follow.outputAttracted\n"
                                   "set follow.time 0.041666666666666664\n"
                                   "get follow.outputAttracted\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto lines = linesOf(run.out);
    ASSERT_EQ(lines.size(), 3u) << run.out;
    expectNear(lines[1], transform(1, 0, 0, 0, 0));
    expectNear(lines[2], transform(1, 90.0 / 24, 1, 2, -1));
}

TEST(KivoAttractorNode, ReachesTheAttractorWithUnitScaleWhenStrengthTimesStepIsOneOrMore) {
    const auto run = runRovaScript(setUp() +
                                   "set follow.strength 4\n"
                                   "set follow.time 0.25\n"
                                   "get follow.outputAttracted\n"
                                   "set follow.strength 100\n"
                                   "set follow.inputAttractor " +
                                   text(transform(3, -30, 1, 2, 3)) +
                                   "\n"
                                   "set follow.time 0.5\n"
                                   "get follow.outputAttracted\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto lines = linesOf(run.out);
    ASSERT_EQ(lines.size(), 3u) << run.out;
    expectNear(lines[1], transform(1, 90, 24, 48, -24));
    expectNear(lines[2], transform(1, -30, 1, 2, 3));
}

TEST(KivoAttractorNode, ZeroOrNegativeStrengthKeepsThePoseButDropsTheScale) {
    for (const char* strength : {"0", "-3"}) {
        SCOPED_TRACE(strength);
        const auto run = runRovaScript(
            "plugin -load kivo_rova\n"
            "create kivoAttractor -name follow\n"
            "set follow.inputAttracted " +
            text(transform(2, 30, 5, 0, 0)) +
            "\n"
            "set follow.inputAttractor " +
            text(transform(1, 0, 100, 100, 100)) +
            "\n"
            "set follow.strength " +
            strength +
            "\n"
            "get follow.outputAttracted\n"
            "set follow.time 1\n"
            "get follow.outputAttracted\n");
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const auto lines = linesOf(run.out);
        ASSERT_EQ(lines.size(), 3u) << run.out;
        // At time zero nothing has elapsed: the attracted matrix itself, scale included.
        expectNear(lines[1], transform(2, 30, 5, 0, 0));
        expectNear(lines[2], transform(1, 30, 5, 0, 0));
    }
}

TEST(KivoAttractorNode, TimeGoingBackHoldsAndTheNextStepCountsFromThere) {
    const auto run = runRovaScript(
        "plugin -load kivo_rova\n"
        "create kivoAttractor -name follow\n"
        "set follow.inputAttractor " +
        text(transform(1, 0, 8, 0, 0)) +
        "\n"
        "set follow.time 0.5\n"
        "get follow.outputAttracted\n"  // half way: x = 4
        "set follow.time 0.25\n"
        "get follow.outputAttracted\n"  // back in time: held
        "set follow.time 0.5\n"
        "get follow.outputAttracted\n");  // a quarter second from 0.25: x = 4 + 4 / 4
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto lines = linesOf(run.out);
    ASSERT_EQ(lines.size(), 4u) << run.out;
    expectNear(lines[1], transform(1, 0, 4, 0, 0));
    expectNear(lines[2], transform(1, 0, 4, 0, 0));
    expectNear(lines[3], transform(1, 0, 5, 0, 0));
}

TEST(KivoAttractorNode, OnlyTimeAndAttractorChangesReevaluate) {
    const auto run = runRovaScript(setUp() +
                                   "set follow.time 0\n"
                                   "trace on -compute\n"
                                   "get follow.outputAttracted\n"
                                   // None of these reaches the output.
                                   "set follow.track true\n"
                                   "set follow.strength 2\n"
                                   "set follow.inputAttracted " +
                                   text(transform(1, 0, 7, 7, 7)) +
                                   "\n"
                                   "get follow.outputAttracted\n"
                                   "set follow.track false\n"
                                   "set follow.time 0.25\n"
                                   "get follow.outputAttracted\n"
                                   "set follow.inputAttractor " +
                                   text(transform(1, 0, 0, 0, 0)) +
                                   "\n"
                                   "get follow.outputAttracted\n");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto lines = linesOf(run.out);
    ASSERT_EQ(lines.size(), 8u) << run.out;
    EXPECT_EQ(lines[1], "trace: compute follow.outputAttracted");
    expectNear(lines[2], transform(1, 0, 0, 0, 0));
    // No evaluation: the stored output is read as it was.
    EXPECT_EQ(lines[3], lines[2]);
    // The new strength applies at the next time step: 2 * 0.25 = half way, from the identity.
    EXPECT_EQ(lines[4], "trace: compute follow.outputAttracted");
    expectNear(lines[5], transform(1, 45, 12, 24, -12));
    // A new attractor re-evaluates at once; time stood still, so the held pose stays.
    EXPECT_EQ(lines[6], "trace: compute follow.outputAttracted");
    EXPECT_EQ(lines[7], lines[5]);
}

// Requests for plugs the node does not compute answer 5 and leave its state alone: the next
// real evaluation gives what it gives without them.
TEST(KivoAttractorNode, RequestsForInputsAnswerFiveAndLeaveTheStateAlone) {
    const std::string steps[] = {"set follow.time 0\n",    "get follow.outputAttracted\n",
                                 "set follow.time 0.25\n", "get follow.outputAttracted\n",
                                 "set follow.time 0.5\n",  "get follow.outputAttracted\n"};
    const std::string requests =
        "evaluate follow.time\n"
        "evaluate follow.inputAttractor\n"
        "evaluate follow.inputAttracted\n"
        "evaluate follow.strength\n"
        "evaluate follow.track\n";
    std::string plain = setUp(), asked = setUp();
    for (const std::string& step : steps) {
        plain += step;
        asked += requests + step;
    }
    const auto without = runRovaScript(plain);
    const auto with = runRovaScript(asked);
    ASSERT_EQ(without.exitCode, 0) << without.err;
    ASSERT_EQ(with.exitCode, 0) << with.err;
    std::string answers, values;
    for (const std::string& line : linesOf(with.out)) {
        if (line.rfind("evaluate: ", 0) == 0) {
            EXPECT_NE(line.find(": status 5, stored value kept: "), std::string::npos) << line;
            answers += line + "\n";
        } else {
            values += line + "\n";
        }
    }
    EXPECT_EQ(values, without.out);
    EXPECT_EQ(linesOf(answers).size(), 30u) << with.out;
}

}  // namespace
