// The device-to-scene mapping on its own: frames built from two axes, including the inputs that
// have no unique answer, and transforms placed with scale, offset and a camera frame.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "tracking/SceneMapping.h"

namespace kivo_rova {
namespace {

constexpr double kTolerance = 1e-12;

RVector row(const RMatrix& m, unsigned int r) {
    return {m[r][0], m[r][1], m[r][2]};
}

// Finite, orthonormal rows, determinant 1, column 3 (0, 0, 0, 1).
void expectRotation(const RMatrix& m) {
    for (unsigned int r = 0; r < 4; ++r) {
        for (unsigned int c = 0; c < 4; ++c) {
            ASSERT_TRUE(std::isfinite(m[r][c])) << r << "," << c;
        }
        EXPECT_EQ(m[r][3], r == 3 ? 1.0 : 0.0);
    }
    for (unsigned int r = 0; r < 3; ++r) {
        for (unsigned int s = 0; s < 3; ++s) {
            EXPECT_NEAR(row(m, r) * row(m, s), r == s ? 1.0 : 0.0, 1e-9) << r << "," << s;
        }
    }
    EXPECT_NEAR((row(m, 0) ^ row(m, 1)) * row(m, 2), 1.0, 1e-9);
}

struct AxesCase {
    std::string name;
    RVector primary, secondary, position;
    RVector x, y, z;  // expected rows
};

void PrintTo(const AxesCase& c, std::ostream* out) {
    *out << c.name;
}

class FrameFromAxes : public ::testing::TestWithParam<AxesCase> {};

TEST_P(FrameFromAxes, GivesTheExpectedRows) {
    const AxesCase& c = GetParam();
    const RMatrix m = frameFromAxes(c.primary, c.secondary, c.position);
    expectRotation(m);
    EXPECT_TRUE(row(m, 0).isEquivalent(c.x, kTolerance))
        << row(m, 0).x << " " << row(m, 0).y << " " << row(m, 0).z;
    EXPECT_TRUE(row(m, 1).isEquivalent(c.y, kTolerance))
        << row(m, 1).x << " " << row(m, 1).y << " " << row(m, 1).z;
    EXPECT_TRUE(row(m, 2).isEquivalent(c.z, kTolerance))
        << row(m, 2).x << " " << row(m, 2).y << " " << row(m, 2).z;
    EXPECT_EQ(row(m, 3), c.position);
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

const AxesCase kAxesCases[] = {
    // The half turn about +Y.
    {"worked example", {0, 1, 0}, {0, 0, -1}, {1, 2, 3}, {-1, 0, 0}, {0, 1, 0}, {0, 0, -1}},
    {"identity", {0, 1, 0}, {0, 0, 1}, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}},
    // A secondary axis not perpendicular is made so, on its own side.
    {"slanted secondary", {0, 1, 0}, {0, 0.5, 2}, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}},
    // A pointable along -Z takes world up as its +Z unchanged.
    {"pointable along -Z",
     {0, 0, -1},
     {0, 1, 0},
     {-22, 200, -85},
     {1, 0, 0},
     {0, 0, -1},
     {0, 1, 0}},
    // Primary exactly along -Y (a palm facing up): the half turn about +X, then the roll.
    {"primary along -Y", {0, -1, 0}, {0, 0, -1}, {0, 0, 0}, {1, 0, 0}, {0, -1, 0}, {0, 0, -1}},
    {"primary along -Y, rolled",
     {0, -1, 0},
     {1, 0, 0},
     {0, 0, 0},
     {0, 0, 1},
     {0, -1, 0},
     {1, 0, 0}},
    // Secondary parallel to the primary: no roll, the shortest turn alone.
    {"secondary along the primary",
     {0, 0, 1},
     {0, 0, 2},
     {0, 0, 0},
     {1, 0, 0},
     {0, 0, 1},
     {0, -1, 0}},
    {"secondary against the primary",
     {0, 0, 1},
     {0, 0, -1},
     {0, 0, 0},
     {1, 0, 0},
     {0, 0, 1},
     {0, -1, 0}},
    {"secondary parallel, primary along -Y",
     {0, -2, 0},
     {0, 1, 0},
     {0, 0, 0},
     {1, 0, 0},
     {0, -1, 0},
     {0, 0, -1}},
    {"zero secondary", {0, 0, 1}, {0, 0, 0}, {0, 0, 0}, {1, 0, 0}, {0, 0, 1}, {0, -1, 0}},
    {"non-finite secondary", {0, 0, 1}, {kNaN, 0, 1}, {0, 0, 0}, {1, 0, 0}, {0, 0, 1}, {0, -1, 0}},
    // Zero or non-finite primary: taken as +Y, so only the roll applies.
    {"zero primary", {0, 0, 0}, {1, 0, 0}, {4, 5, 6}, {0, 0, -1}, {0, 1, 0}, {1, 0, 0}},
    {"non-finite primary", {kInf, 0, 0}, {0, 0, 1}, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}},
    {"zero primary and secondary",
     {0, 0, 0},
     {0, 0, 0},
     {0, 0, 0},
     {1, 0, 0},
     {0, 1, 0},
     {0, 0, 1}},
};

INSTANTIATE_TEST_SUITE_P(Mapping, FrameFromAxes, ::testing::ValuesIn(kAxesCases));

// Random axes, half of them close to the degenerate directions: always a rotation that turns +Y
// to the primary axis and, unless the axes are parallel, +Z to the secondary made perpendicular.
TEST(FrameFromAxesRandom, AlwaysOrthonormalAndFollowsTheAxes) {
    std::mt19937 generator(20131);
    std::uniform_real_distribution<double> component(-1.0, 1.0);
    std::uniform_real_distribution<double> tiny(-1e-9, 1e-9);
    const auto randomVector = [&] {
        return RVector(component(generator), component(generator), component(generator));
    };
    for (int k = 0; k < 20000; ++k) {
        RVector a = randomVector();
        RVector b = randomVector();
        switch (k % 4) {
            case 1:  // primary nearly along -Y
                a = RVector(tiny(generator), -1.0, tiny(generator));
                break;
            case 2:  // secondary nearly parallel to the primary
                b = a * component(generator) + RVector(tiny(generator), 0.0, tiny(generator));
                break;
            default:
                break;
        }
        SCOPED_TRACE(::testing::Message() << "case " << k << ": A " << a.x << " " << a.y << " "
                                          << a.z << ", B " << b.x << " " << b.y << " " << b.z);
        const RMatrix m = frameFromAxes(a, b, RVector(1, 2, 3));
        expectRotation(m);
        if (::testing::Test::HasFailure()) {
            return;
        }
        EXPECT_TRUE(row(m, 1).isEquivalent(a.normal(), 1e-8));
        const RVector perpendicular = b - a.normal() * (a.normal() * b);
        if (perpendicular.length() > 1e-6 && std::abs(a * b) > 0.001) {
            EXPECT_TRUE(row(m, 2).isEquivalent(perpendicular.normal(), 1e-6));
        }
        if (::testing::Test::HasFailure()) {
            return;
        }
    }
}

struct PlaceCase {
    std::string name;
    SceneMapping mapping;
    RVector translation;  // of the device-space transform
    RVector expected;     // translation once placed
};

void PrintTo(const PlaceCase& c, std::ostream* out) {
    *out << c.name;
}

class PlaceTransform : public ::testing::TestWithParam<PlaceCase> {};

TEST_P(PlaceTransform, ScalesOffsetsAndCarriesTheTranslation) {
    const PlaceCase& c = GetParam();
    // The half turn about +Y: its rows stay unchanged unless a camera turns them.
    RMatrix m = frameFromAxes({0, 1, 0}, {0, 0, -1}, c.translation);
    const RMatrix before = m;
    placeTransform(m, c.mapping);
    EXPECT_TRUE(row(m, 3).isEquivalent(c.expected, kTolerance))
        << row(m, 3).x << " " << row(m, 3).y << " " << row(m, 3).z;
    for (unsigned int r = 0; r < 3; ++r) {
        EXPECT_TRUE(row(m, r).isEquivalent(row(before * c.mapping.cameraFrame, r), kTolerance));
    }
}

SceneMapping mapping(double scale, RVector offset, bool relative, RMatrix frame) {
    SceneMapping m;
    m.scale = scale;
    m.offset = offset;
    m.relativeToCamera = relative;
    m.cameraFrame = frame;
    return m;
}

const RMatrix kCameraAt10 = matrixFromRows({1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 0, 10});
const RMatrix kCameraTurned = matrixFromRows({0, 0, -1}, {0, 1, 0}, {1, 0, 0}, {1, 2, 3});

const PlaceCase kPlaceCases[] = {
    {"default scale", mapping(0.05, {}, false, RMatrix::identity), {0, 200, 0}, {0, 10, 0}},
    {"offset", mapping(1.0, {1, 2, 3}, false, RMatrix::identity), {0, 0, 0}, {1, 2, 3}},
    {"scale then offset", mapping(0.5, {1, 2, 3}, false, RMatrix::identity), {2, 4, 6}, {2, 4, 6}},
    // A camera frame is ignored while relativeToCamera is false.
    {"camera ignored", mapping(0.05, {}, false, kCameraAt10), {0, 200, 0}, {0, 10, 0}},
    {"camera at 10", mapping(0.05, {}, true, kCameraAt10), {0, 200, 0}, {0, 10, 10}},
    {"camera turned", mapping(0.05, {}, true, kCameraTurned), {20, 200, 0}, {1, 12, 2}},
};

INSTANTIATE_TEST_SUITE_P(Mapping, PlaceTransform, ::testing::ValuesIn(kPlaceCases));

}  // namespace
}  // namespace kivo_rova
