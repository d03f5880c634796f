// Ray queries against meshes: exact first hits (against a double-precision triangle loop), one
// structure per mesh that follows its geometry, and the scene-level structure answering as the
// meshes one by one do.
#include <rovahost/Scene.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <random>
#include <sstream>

#include "HostFixture.h"

namespace scene = rova::host::scene;

namespace {

using Vec = std::array<double, 3>;

Vec sub(const Vec& a, const Vec& b) {
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
Vec cross(const Vec& a, const Vec& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double dot(const Vec& a, const Vec& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// Nearest hit (t >= 0) of the ray with the world-space geometry, every polygon fanned into
// triangles, tested one by one in double (Moller-Trumbore).
std::optional<Vec> bruteFirstHit(const scene::MeshGeometry& g, const Vec& o, const Vec& d) {
    double best = INFINITY;
    for (const auto& face : g.faces)
        for (std::size_t k = 1; k + 1 < face.size(); ++k) {
            const Vec& a = g.points[static_cast<std::size_t>(face[0])];
            const Vec e1 = sub(g.points[static_cast<std::size_t>(face[k])], a);
            const Vec e2 = sub(g.points[static_cast<std::size_t>(face[k + 1])], a);
            const Vec p = cross(d, e2);
            const double det = dot(e1, p);
            if (det == 0.0)
                continue;
            const Vec s = sub(o, a);
            const double u = dot(s, p) / det;
            const Vec q = cross(s, e1);
            const double v = dot(d, q) / det;
            const double t = dot(e2, q) / det;
            if (u >= 0.0 && v >= 0.0 && u + v <= 1.0 && t >= 0.0 && t < best)
                best = t;
        }
    if (!std::isfinite(best))
        return std::nullopt;
    return Vec{o[0] + d[0] * best, o[1] + d[1] * best, o[2] + d[2] * best};
}

void expectNear(const Vec& expected, const std::array<double, 3>& actual, const std::string& what) {
    for (int k = 0; k < 3; ++k) {
        const double scale = std::max({1.0, std::abs(expected[static_cast<std::size_t>(k)])});
        EXPECT_NEAR(actual[static_cast<std::size_t>(k)], expected[static_cast<std::size_t>(k)],
                    1e-9 * scale)
            << what;
    }
}

class RayQueryTest : public HostTest {
  protected:
    void object(const std::string& name, const scene::MeshGeometry& geometry) {
        ASSERT_TRUE(scene::createTransform(name, "").ok());
        ASSERT_TRUE(scene::createShape(name, scene::ShapeType::kMesh).ok());
        ASSERT_TRUE(scene::setGeometry(name, geometry));
    }
    void place(const std::string& name, const std::string& translate, const std::string& rotate,
               const std::string& scale) {
        ASSERT_TRUE(host.setPlug(name + ".translate", split(translate)));
        ASSERT_TRUE(host.setPlug(name + ".rotate", split(rotate)));
        ASSERT_TRUE(host.setPlug(name + ".scale", split(scale)));
    }
    static std::vector<std::string> split(const std::string& text) {
        std::vector<std::string> words;
        std::istringstream in(text);
        for (std::string w; in >> w;) words.push_back(w);
        return words;
    }
    std::vector<scene::RayHit> hits(const std::string& object, const Vec& o, const Vec& d) {
        auto found = scene::intersect(object, o, d);
        EXPECT_TRUE(found.ok()) << found.status.message;
        return found.value;
    }
    std::vector<scene::RayHit> sceneHits(const Vec& o, const Vec& d) {
        auto found = scene::intersectScene(o, d);
        EXPECT_TRUE(found.ok()) << found.status.message;
        return found.value;
    }
};

TEST_F(RayQueryTest, TheFirstHitIsWhereADoublePrecisionTriangleLoopFindsIt) {
    object("ball", scene::sphere(1.5, 24));
    place("ball", "0.3 -0.2 0.1", "20 35 -10", "1 0.7 1.3");
    object("sheet", scene::plane(4.0, 7));
    place("sheet", "0 0.4 0", "30 0 15", "1 1 1");
    const auto ballWorld = scene::geometry("ball", true).value;
    const auto sheetWorld = scene::geometry("sheet", true).value;

    std::mt19937_64 random(20240611);
    std::uniform_real_distribution<double> box(-4.0, 4.0), near(-1.5, 1.5);
    int hitRays = 0;
    for (int ray = 0; ray < 1000; ++ray) {
        const Vec o{box(random), box(random), box(random)};
        const Vec d = sub(Vec{near(random), near(random), near(random)}, o);
        for (const auto& [name, world] : {std::pair{"ball", &ballWorld}, {"sheet", &sheetWorld}}) {
            const auto expected = bruteFirstHit(*world, o, d);
            const auto found = hits(name, o, d);
            ASSERT_EQ(expected.has_value(), !found.empty()) << name << " ray " << ray;
            if (expected) {
                expectNear(*expected, found.front().point,
                           std::string(name) + " ray " + std::to_string(ray));
                ++hitRays;
            }
        }
    }
    EXPECT_GT(hitRays, 500);  // the rays mostly aim at the objects
}

TEST_F(RayQueryTest, HitsComeNearestFirstOncePerPolygonWithTheirPolygons) {
    object("box", scene::cube(2.0));
    const auto through = hits("box", {0.25, 0.5, 5.0}, {0.0, 0.0, -1.0});
    ASSERT_EQ(through.size(), 2u);
    expectNear({0.25, 0.5, 1.0}, through[0].point, "front face");
    expectNear({0.25, 0.5, -1.0}, through[1].point, "back face");
    EXPECT_NE(through[0].polygon, through[1].polygon);

    // Along a quad's diagonal both of its triangles are met: still one hit for the polygon.
    object("tile", scene::plane(2.0, 1));
    const auto diagonal = hits("tile", {0.0, 3.0, 0.0}, {0.0, -1.0, 0.0});
    ASSERT_EQ(diagonal.size(), 1u);
    EXPECT_EQ(diagonal[0].polygon, 0);

    // Through the edges two faces of the box share: one hit at each.
    const auto edge = hits("box", {0.5, 2.0, 2.0}, {0.0, -1.0, -1.0});
    ASSERT_EQ(edge.size(), 2u);
    expectNear({0.5, 1.0, 1.0}, edge[0].point, "near edge");
    expectNear({0.5, -1.0, -1.0}, edge[1].point, "far edge");

    EXPECT_TRUE(hits("box", {0.0, 5.0, 5.0}, {0.0, 0.0, -1.0}).empty());
    EXPECT_TRUE(hits("box", {0.0, 0.0, 5.0}, {0.0, 0.0, 0.0}).empty());  // no direction
    EXPECT_TRUE(hits("box", {0.0, 0.0, 5.0}, {0.0, 0.0, 1.0}).empty());  // pointing away
}

TEST_F(RayQueryTest, EachMeshKeepsItsStructureUntilItsOwnGeometryChanges) {
    object("a", scene::sphere(1.0, 32));
    object("b", scene::cube(1.0));
    place("b", "5 0 0", "0 0 0", "1 1 1");
    const auto start = scene::rayCounters();
    hits("a", {0, 0, 5}, {0, 0, -1});
    hits("b", {5, 0, 5}, {0, 0, -1});
    auto now = scene::rayCounters();
    EXPECT_EQ(now.builds - start.builds, 2u);

    // Asking again, or after moving an object, builds nothing: the world matrix carries the move.
    hits("a", {0, 0.5, 5}, {0, 0, -1});
    place("b", "6 0 0", "0 0 45", "2 2 2");
    const auto moved = hits("b", {6, 0, 5}, {0, 0, -1});
    ASSERT_EQ(moved.size(), 2u);
    expectNear({6, 0, 1}, moved[0].point, "moved cube");
    auto after = scene::rayCounters();
    EXPECT_EQ(after.builds, now.builds);
    EXPECT_EQ(after.refits, now.refits);
    EXPECT_EQ(after.rebuilds, now.rebuilds);

    // New points on the same polygons: a's structure is refitted, b's is left alone.
    auto bigger = scene::sphere(2.0, 32);
    ASSERT_TRUE(scene::setGeometry("a", bigger));
    const auto onBigger = hits("a", {0, 0, 5}, {0, 0, -1});
    ASSERT_FALSE(onBigger.empty());
    EXPECT_NEAR(onBigger[0].point[2], 2.0, 1e-12);
    hits("b", {6, 0, 5}, {0, 0, -1});
    now = scene::rayCounters();
    EXPECT_EQ(now.refits - after.refits, 1u);
    EXPECT_EQ(now.builds, after.builds);
    EXPECT_EQ(now.rebuilds, after.rebuilds);

    // Other polygons: rebuilt.
    ASSERT_TRUE(scene::setGeometry("a", scene::sphere(1.0, 12)));
    hits("a", {0, 0, 5}, {0, 0, -1});
    after = scene::rayCounters();
    EXPECT_EQ(after.rebuilds - now.rebuilds, 1u);
    EXPECT_EQ(after.refits, now.refits);
    EXPECT_EQ(after.builds, now.builds);
}

TEST_F(RayQueryTest, TheSceneStructureAnswersAsTheMeshesOneByOne) {
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> spot(-6.0, 6.0), turn(0.0, 90.0);
    std::vector<std::string> names;
    for (int k = 0; k < 24; ++k) {
        const std::string name = "m" + std::to_string(k);
        object(name, k % 2 ? scene::cube(1.0 + k * 0.05) : scene::sphere(0.8, 10 + k));
        place(name,
              std::to_string(spot(random)) + " " + std::to_string(spot(random)) + " " +
                  std::to_string(spot(random)),
              std::to_string(turn(random)) + " " + std::to_string(turn(random)) + " 0", "1 1 1");
        names.push_back(name);
    }
    const auto compare = [&](int rays) {
        for (int ray = 0; ray < rays; ++ray) {
            const Vec o{spot(random), spot(random), 12.0};
            const Vec d{spot(random) * 0.1, spot(random) * 0.1, -1.0};
            std::vector<scene::RayHit> oneByOne;
            for (const auto& name : names)
                if (host.hasNode(name))
                    for (const auto& hit : hits(name, o, d)) oneByOne.push_back(hit);
            const auto all = sceneHits(o, d);
            ASSERT_EQ(all.size(), oneByOne.size()) << "ray " << ray;
            for (const auto& hit : all) {
                const auto same =
                    std::find_if(oneByOne.begin(), oneByOne.end(), [&](const auto& h) {
                        return h.mesh == hit.mesh && h.polygon == hit.polygon &&
                               h.point == hit.point;
                    });
                EXPECT_NE(same, oneByOne.end()) << hit.mesh << " ray " << ray;
            }
            EXPECT_TRUE(std::is_sorted(all.begin(), all.end(), [&](const auto& a, const auto& b) {
                return dot(sub(a.point, o), d) < dot(sub(b.point, o), d);
            }));
        }
    };
    compare(200);
    // Moved, deformed and deleted objects are seen at the next query.
    place("m3", "0 0 0", "0 0 0", "3 3 3");
    ASSERT_TRUE(scene::setGeometry("m4", scene::sphere(2.0, 14)));
    ASSERT_TRUE(host.deleteNode("m5Shape"));
    ASSERT_TRUE(host.deleteNode("m5"));
    compare(200);
}

}  // namespace
