// The intersect command at the edges of what a ray may be: sources and directions far beyond
// single precision, directions of any non-zero length, meshes far larger or smaller than the
// scene around them, and world matrices that flatten a mesh. Every one is answered in full, by
// the scene structure and mesh by mesh alike, and none stops the program.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "RunRova.h"
#include "ScriptValues.h"

namespace rova::test {

using namespace kivorova::testing;
namespace {

struct Hit {
    std::string mesh;
    int polygon = -1;
    double x = 0.0, y = 0.0, z = 0.0;
};

// The hits the script's last intersect printed (every line after the objects' names), after
// checking that the script succeeded in silence.
std::vector<Hit> hitsOf(const std::string& statements) {
    const auto run = runRovaStatements(statements);
    EXPECT_EQ(run.exitCode, 0) << statements << "\n" << run.err;
    EXPECT_EQ(run.err, "") << statements;
    std::vector<Hit> hits;
    for (const auto& line : linesOf(run.out)) {
        std::istringstream in(line);
        Hit hit;
        if (in >> hit.mesh >> hit.polygon >> hit.x >> hit.y >> hit.z)
            hits.push_back(hit);
    }
    return hits;
}

void expectHit(const Hit& hit, const std::string& mesh, int polygon, double z, double scale,
               const std::string& what) {
    EXPECT_EQ(hit.mesh, mesh) << what;
    EXPECT_EQ(hit.polygon, polygon) << what;
    EXPECT_NEAR(hit.x, 0.0, 1e-12 * scale) << what;
    EXPECT_NEAR(hit.y, 0.0, 1e-12 * scale) << what;
    EXPECT_NEAR(hit.z, z, 1e-12 * scale) << what;
}

// The ray down the Z axis meets the front face (polygon 0) and then the back face (polygon 2).
void expectThrough(const std::string& scene, const std::string& ray, double half,
                   const std::string& mesh = "cShape") {
    for (const std::string& target : {std::string(), std::string(" c")}) {
        const std::string statements = scene + "\nintersect " + ray + target;
        const auto hits = hitsOf(statements);
        ASSERT_EQ(hits.size(), 2u) << statements;
        expectHit(hits[0], mesh, 0, half, half, statements);
        expectHit(hits[1], mesh, 2, -half, half, statements);
    }
}

TEST(IntersectCommand, FarSourcesAndDirectionsOfAnyLengthHitWhatTheyAimAt) {
    expectThrough("cube -name c", "-from 0 0 1e20 -direction 0 0 -1", 0.5);
    expectThrough("cube -name c", "-from 0 0 5 -direction 0 0 -3e38", 0.5);
    expectThrough("cube -name c", "-from 0 0 5 -direction 0 0 -1e-50", 0.5);
    expectThrough("cube -name c", "-from 0 0 5 -direction 0 0 -1e-300", 0.5);
    expectThrough("cube -name c", "-from 0 0 1e300 -direction 0 0 -1e300", 0.5);
    // From beyond the back, the back face comes first.
    const auto back = hitsOf("cube -name c\nintersect -from 0 0 -1e20 -direction 0 0 1");
    ASSERT_EQ(back.size(), 2u);
    expectHit(back[0], "cShape", 2, -0.5, 1.0, "from behind");
    expectHit(back[1], "cShape", 0, 0.5, 1.0, "from behind");
}

TEST(IntersectCommand, MeshesFarLargerOrSmallerThanSinglePrecisionAreHitWhereTheyAre) {
    expectThrough("cube -name c -size 1e19", "-from 0 0 1e20 -direction 0 0 -1", 5e18);
    expectThrough("cube -name c\nset c.scale 1e300 1e300 1e300",
                  "-from 0 0 1e301 -direction 0 0 -1", 5e299);
    expectThrough("cube -name c\nset c.scale 1e-8 1e-8 1e-8", "-from 0 0 1e10 -direction 0 0 -1",
                  5e-9);
    // Below single precision: its two faces lie closer together than the tolerance, one hit.
    for (const std::string target : {"", " c"}) {
        const auto tiny = hitsOf(
            "cube -name c\nset c.scale 1e-40 1e-40 1e-40\n"
            "intersect -from 0 0 1 -direction 0 0 -1" +
            target);
        ASSERT_EQ(tiny.size(), 1u) << target;
        expectHit(tiny[0], "cShape", 0, 5e-41, 1e-40, "tiny" + target);
    }
    // A huge cube far off and a tiny one at the origin on one ray: the scene structure cannot
    // hold both in single precision, and answers as the meshes one by one do.
    const std::string both =
        "cube -name big -size 1e19\nmove -a 0 0 -1e20 big\ncube -name c -size 1e-3\n";
    for (const std::string target : {"", " c", " big"}) {
        const auto hits = hitsOf(both + "intersect -from 0 0 1 -direction 0 0 -1" + target);
        const bool small = target != " big";
        const bool large = target != " c";
        ASSERT_EQ(hits.size(), (small ? 2u : 0u) + (large ? 2u : 0u)) << target;
        std::size_t k = 0;
        if (small) {
            expectHit(hits[k++], "cShape", 0, 5e-4, 1e-3, "small" + target);
            expectHit(hits[k++], "cShape", 2, -5e-4, 1e-3, "small" + target);
        }
        if (large) {
            expectHit(hits[k++], "bigShape", 0, -9.5e19, 1e20, "big" + target);
            expectHit(hits[k++], "bigShape", 2, -1.05e20, 1e20, "big" + target);
        }
    }
}

TEST(IntersectCommand, AFlattenedOrOverflowingWorldMatrixShowsNoHits) {
    for (const std::string scale : {"0 1 1", "1 0 1", "1 1 0", "0 0 0"})
        for (const std::string target : {"", " c"})
            EXPECT_TRUE(hitsOf("cube -name c\nset c.scale " + scale +
                               "\nintersect -from 0 0 5 -direction 0 0 -1" + target)
                            .empty())
                << scale << target;
    // A flattened mesh beside another: the other is still hit.
    const auto beside = hitsOf(
        "cube -name c\nset c.scale 0 1 1\ncube -name d\nmove -a 0 0 -3 d\n"
        "intersect -from 0 0 5 -direction 0 0 -1");
    ASSERT_EQ(beside.size(), 2u);
    EXPECT_EQ(beside[0].mesh, "dShape");
    // Scales multiplied along the hierarchy past the largest double.
    EXPECT_TRUE(hitsOf("transform -name p\ncube -name c -parent p\nset p.scale 1e300 1 1\n"
                       "set c.scale 1e300 1 1\nintersect -from 0 0 1 -direction 0 0 -1")
                    .empty());
}

}  // namespace
}  // namespace rova::test
