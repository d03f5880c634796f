// The deformer's vertex passes against the passes as written, on a mesh small enough for the
// straightforward loops, and on meshes the host never makes (fewer normals than vertices).
#include <gtest/gtest.h>

#include <algorithm>

#include <cmath>
#include <string>
#include <vector>

#include "DeformerReference.h"
#include "nodes/KivoDeformerNode.h"

namespace {

using kivo_rova::DeformSettings;

using kivorova::testing::reference;

struct Mesh {
    RPointArray points;
    RFloatVectorArray normals;
};

// A wavy grid of side x side vertices over [-5, 5] in X and Z.
Mesh wavyGrid(int side) {
    Mesh m;
    for (int row = 0; row < side; ++row)
        for (int column = 0; column < side; ++column) {
            const double x = -5.0 + 10.0 * column / (side - 1);
            const double z = -5.0 + 10.0 * row / (side - 1);
            m.points.emplace_back(x, 0.3 * std::sin(x) * std::cos(z * 0.7), z);
            const RVector n = RVector(-0.3 * std::cos(x), 1.0, 0.2 * std::sin(z * 0.7)).normal();
            m.normals.push_back(RFloatVector(n));
        }
    return m;
}

RPointArray inputPoints() {
    RPointArray points;
    for (int k = 0; k < 10; ++k)
        points.emplace_back(-4.0 + 0.9 * k, (k % 3 - 1) * 0.4, 3.5 - 0.8 * k);
    // Two close together, so the second meets vertices the first has moved.
    points[5] = RPoint(points[4].x + 0.1, points[4].y, points[4].z);
    return points;
}

double largestDifference(const RPointArray& a, const RPointArray& b) {
    double largest = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i)
        largest = std::max({largest, std::fabs(a[i].x - b[i].x), std::fabs(a[i].y - b[i].y),
                            std::fabs(a[i].z - b[i].z)});
    return largest;
}

TEST(KivoDeformerNodePasses, MatchTheWrittenLoopsInEveryMode) {
    // More than one block of vertices, and a radius that spans several blocks.
    const Mesh mesh = wavyGrid(160);
    int compared = 0;
    for (const short deformType : {0, 1, 2})
        for (const short falloffType : {0, 1, 2})
            for (const bool weightedSign : {true, false})
                for (const double radius : {0.7, 3.0}) {
                    DeformSettings s;
                    s.deformType = deformType;
                    s.falloffType = falloffType;
                    s.weightedSign = weightedSign;
                    s.radius = radius;
                    s.power = 0.8;
                    RPointArray fast = mesh.points, slow = mesh.points;
                    kivo_rova::deformPoints(s, inputPoints(), fast, mesh.normals);
                    reference(s, inputPoints(), slow, mesh.normals);
                    EXPECT_LE(largestDifference(fast, slow), 1e-9)
                        << "deformType " << deformType << ", falloffType " << falloffType
                        << ", weightedSign " << weightedSign << ", radius " << radius;
                    compared += largestDifference(slow, mesh.points) > 0.0;
                }
    EXPECT_GT(compared, 30) << "most modes move something";
}

TEST(KivoDeformerNodePasses, PauseMovesNothing) {
    const Mesh mesh = wavyGrid(40);
    DeformSettings s;
    s.pause = true;
    s.deformType = 0;
    RPointArray points = mesh.points;
    kivo_rova::deformPoints(s, inputPoints(), points, mesh.normals);
    EXPECT_EQ(points, mesh.points);
}

TEST(KivoDeformerNodePasses, VerticesWithoutANormalCountAsHavingTheZeroNormal) {
    // Half the normals missing: the missing ones act as zero vectors, and nothing past the end
    // of the normal array is read (AddressSanitizer builds check that).
    const Mesh mesh = wavyGrid(60);
    RFloatVectorArray shorter(mesh.normals.begin(),
                              mesh.normals.begin() + static_cast<long>(mesh.normals.size() / 2));
    RFloatVectorArray padded = shorter;
    padded.resize(mesh.normals.size());
    for (const bool weightedSign : {true, false}) {
        DeformSettings s;
        s.deformType = 0;
        s.weightedSign = weightedSign;
        s.radius = 2.0;
        RPointArray fast = mesh.points, slow = mesh.points;
        kivo_rova::deformPoints(s, inputPoints(), fast, shorter);
        reference(s, inputPoints(), slow, padded);
        EXPECT_LE(largestDifference(fast, slow), 1e-9) << "weightedSign " << weightedSign;
        EXPECT_GT(largestDifference(fast, mesh.points), 0.0);
    }
}

TEST(KivoDeformerNodePasses, ARadiusThatIsNotPositiveReachesNothing) {
    const Mesh mesh = wavyGrid(20);
    RPointArray inputs = inputPoints();
    inputs[0] = mesh.points[7];  // exactly on a vertex: 0 / 0 in the falloff
    for (const double radius : {0.0, -1.0})
        for (const short falloffType : {0, 1, 2}) {
            DeformSettings s;
            s.radius = radius;
            s.falloffType = falloffType;
            s.deformType = 0;
            RPointArray points = mesh.points;
            kivo_rova::deformPoints(s, inputs, points, mesh.normals);
            EXPECT_EQ(points, mesh.points) << "radius " << radius;
        }
}

TEST(KivoDeformerNodePasses, TheMeshBoxDecidesOnlyWhetherAnythingIsRead) {
    // With the box around the points given, the result is the same as without it, whether input
    // points reach the mesh or all lie outside its box.
    const Mesh mesh = wavyGrid(40);
    kivo_rova::PointBounds box{RPoint(1e300, 1e300, 1e300), RPoint(-1e300, -1e300, -1e300)};
    for (const RPoint& p : mesh.points) {
        box.lower = RPoint(std::min(box.lower.x, p.x), std::min(box.lower.y, p.y),
                           std::min(box.lower.z, p.z));
        box.upper = RPoint(std::max(box.upper.x, p.x), std::max(box.upper.y, p.y),
                           std::max(box.upper.z, p.z));
    }
    RPointArray far = inputPoints();
    for (RPoint& p : far) p.y += 1000.0;
    for (const RPointArray& inputs : {inputPoints(), far}) {
        DeformSettings s;
        s.deformType = 0;
        s.weightedSign = false;
        RPointArray without = mesh.points, with = mesh.points;
        kivo_rova::deformPoints(s, inputs, without, mesh.normals);
        kivo_rova::deformPoints(s, inputs, with, mesh.normals, &box);
        EXPECT_EQ(with, without);
    }
    RPointArray moved = mesh.points;
    kivo_rova::deformPoints(DeformSettings{}, inputPoints(), moved, mesh.normals, &box);
    EXPECT_NE(moved, mesh.points) << "the near input points do reach the mesh";
}

}  // namespace
