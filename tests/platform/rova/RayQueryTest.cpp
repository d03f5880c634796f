// Ray queries against meshes: exact first hits (against a double-precision triangle loop), one
// structure per mesh that follows its geometry, and the scene-level structure answering as the
// meshes one by one do.
#include <rovahost/Scene.h>

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <optional>
#include <random>
#include <sstream>

#include "HostFixture.h"
#include "TriangleLoop.h"

namespace scene = rova::host::scene;

namespace {

using kivorova::testing::bruteFirstHit;
using kivorova::testing::cross;
using kivorova::testing::dot;
using kivorova::testing::sub;
using kivorova::testing::Vec;

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

// A distance limit keeps exactly the hits within it, through the scene structure and mesh by mesh;
// and the grab question (each fingertip's ray towards the other, each mesh's first hits, the mesh
// whose first hits are closer together than the fingertips with the smallest distance sum) asked
// with both rays limited to the segment between the fingertips answers as whole rays and as a
// double-precision triangle loop do.
TEST_F(RayQueryTest, ADistanceLimitKeepsTheHitsWithinItAndTheGrabQuestionsAnswer) {
    std::mt19937_64 random(31);
    std::uniform_real_distribution<double> spot(-5.0, 5.0), turn(0.0, 90.0), size(0.5, 2.5);
    std::vector<std::string> names;
    for (int k = 0; k < 16; ++k) {
        const std::string name = "m" + std::to_string(k);
        object(name, k % 3 == 0   ? scene::cube(size(random))
                     : k % 3 == 1 ? scene::sphere(size(random) * 0.6, 12 + k)
                                  : scene::plane(size(random), 3));
        place(name,
              std::to_string(spot(random)) + " " + std::to_string(spot(random)) + " " +
                  std::to_string(spot(random)),
              std::to_string(turn(random)) + " " + std::to_string(turn(random)) + " 0", "1 1 1");
        names.push_back(name + "Shape");
    }
    std::vector<scene::MeshGeometry> world;
    for (const auto& name : names) world.push_back(scene::geometry(name, true).value);

    const auto within = [](std::vector<scene::RayHit> all, const Vec& o, double limit) {
        all.erase(std::remove_if(all.begin(), all.end(),
                                 [&](const auto& h) {
                                     const Vec d = sub(h.point, o);
                                     return !(std::sqrt(dot(d, d)) <= limit);
                                 }),
                  all.end());
        return all;
    };
    const auto same = [](const std::vector<scene::RayHit>& a, const std::vector<scene::RayHit>& b) {
        if (a.size() != b.size())
            return false;
        for (std::size_t k = 0; k < a.size(); ++k)
            if (a[k].mesh != b[k].mesh || a[k].polygon != b[k].polygon || a[k].point != b[k].point)
                return false;
        return true;
    };
    struct Answer {
        std::string mesh = "null";
        double sum = -1.0;
    };
    // The rule over each mesh's first hits of the two rays; equal sums go to the earlier mesh.
    const auto choose = [&](const Vec& a, const Vec& b, const std::vector<std::optional<Vec>>& one,
                            const std::vector<std::optional<Vec>>& two) {
        const auto length = [](const Vec& v) { return std::sqrt(dot(v, v)); };
        const double span = length(sub(b, a));
        Answer best;
        for (std::size_t k = 0; k < names.size(); ++k) {
            if (!one[k] || !two[k])
                continue;
            const double sum = length(sub(*one[k], a)) + length(sub(*two[k], b));
            if (span - length(sub(*one[k], *two[k])) > 0.0 && (best.sum < 0.0 || sum < best.sum))
                best = {names[k], sum};
        }
        return best;
    };
    const auto firstOf = [&](const std::vector<scene::RayHit>& hits) {
        std::vector<std::optional<Vec>> first(names.size());
        for (const auto& hit : hits) {
            const auto k = static_cast<std::size_t>(
                std::find(names.begin(), names.end(), hit.mesh) - names.begin());
            if (k < names.size() && !first[k])
                first[k] = hit.point;
        }
        return first;
    };

    int limitedAway = 0;
    int chosen = 0;
    for (int pair = 0; pair < 300; ++pair) {
        const Vec a{spot(random), spot(random), spot(random)};
        Vec b{a[0] + spot(random) * 0.6, a[1] + spot(random) * 0.6, a[2] + spot(random) * 0.6};
        if (pair % 50 == 0)
            b = a;  // fingertips at one point: no direction, no hits
        const Vec ab = sub(b, a);
        const Vec ba = sub(a, b);
        const double span = std::sqrt(dot(ab, ab));

        // Hits within the limit, and nothing else, mesh by mesh and through the scene structure.
        const auto whole = sceneHits(a, ab);
        const auto limited = scene::intersectScene(a, ab, 1e-10, span);
        ASSERT_TRUE(limited.ok());
        EXPECT_TRUE(same(limited.value, within(whole, a, span))) << "pair " << pair;
        limitedAway += static_cast<int>(whole.size() - limited.value.size());
        for (const auto& name : names) {
            const auto mine = scene::intersect(name, a, ab, 1e-10, span);
            ASSERT_TRUE(mine.ok());
            EXPECT_TRUE(same(mine.value, within(hits(name, a, ab), a, span)))
                << name << " pair " << pair;
        }

        // The grab question: limited rays, whole rays and the triangle loop agree.
        const auto limit = span * (1.0 + 1e-9);
        const Answer fromLimited =
            choose(a, b, firstOf(scene::intersectScene(a, ab, 1e-10, limit).value),
                   firstOf(scene::intersectScene(b, ba, 1e-10, limit).value));
        const Answer fromWhole = choose(a, b, firstOf(whole), firstOf(sceneHits(b, ba)));
        std::vector<std::optional<Vec>> loop1, loop2;
        for (const auto& g : world) {
            loop1.push_back(span > 0.0 ? bruteFirstHit(g, a, ab) : std::nullopt);
            loop2.push_back(span > 0.0 ? bruteFirstHit(g, b, ba) : std::nullopt);
        }
        const Answer fromLoop = choose(a, b, loop1, loop2);
        EXPECT_EQ(fromLimited.mesh, fromLoop.mesh) << "pair " << pair;
        EXPECT_EQ(fromWhole.mesh, fromLoop.mesh) << "pair " << pair;
        EXPECT_NEAR(fromLimited.sum, fromLoop.sum, 1e-9) << "pair " << pair;
        EXPECT_EQ(fromLimited.sum, fromWhole.sum) << "pair " << pair;
        chosen += fromLoop.mesh != "null" ? 1 : 0;
    }
    EXPECT_GT(limitedAway, 20);  // the limit left hits out
    EXPECT_GT(chosen, 20);       // and the question often found a mesh

    // A negative limit hits nothing; a limit of zero only what touches the source.
    EXPECT_TRUE(scene::intersectScene({0, 0, 9}, {0, 0, -1}, 1e-10, -1.0).value.empty());
    EXPECT_TRUE(scene::intersect(names[0], {0, 0, 9}, {0, 0, -1}, 1e-10, -1.0).value.empty());
}

// With nothing changed the scene structure is not looked at again; every kind of change to what
// the scene shows is seen at the next query: a stored value, a value arriving through a connection,
// a shape put under another transform, a rename, a delete and its undo, new geometry.
TEST_F(RayQueryTest, TheSceneStructureSeesEveryChangeAndNothingElse) {
    object("a", scene::cube(1.0));
    object("b", scene::sphere(0.5, 16));
    place("b", "3 0 0", "0 0 0", "1 1 1");
    ASSERT_TRUE(scene::createTransform("holder", "").ok());
    ASSERT_TRUE(host.setPlug("holder.translate", {"0", "6", "0"}));

    // The mesh that each ray down the Z axis from above meets first, by the scene structure and by
    // a loop over every live mesh's world-space triangles.
    const auto agree = [&](const std::string& when) {
        std::vector<std::string> meshes;
        for (const auto& name : host.nodeNames("mesh")) meshes.push_back(name);
        for (double x = -1.0; x <= 7.0; x += 0.25)
            for (double y = -1.0; y <= 7.0; y += 0.25) {
                const Vec o{x, y, 10.0}, d{0.013, -0.007, -1.0};
                std::string expected;
                double nearest = INFINITY;
                for (const auto& name : meshes)
                    if (const auto hit = bruteFirstHit(scene::geometry(name, true).value, o, d))
                        if (const double t = sub(*hit, o)[2] / d[2]; t < nearest) {
                            nearest = t;
                            expected = name;
                        }
                const auto found = sceneHits(o, d);
                ASSERT_EQ(found.empty() ? std::string() : found.front().mesh, expected)
                    << when << " at " << x << " " << y;
            }
    };
    agree("at first");
    const auto settled = scene::rayCounters();
    for (int k = 0; k < 5; ++k) sceneHits({0, 0, 10}, {0, 0, -1});
    // Nothing changed: the meshes were not looked at again, let alone the structure changed.
    EXPECT_EQ(scene::rayCounters().sceneChecks, settled.sceneChecks);
    EXPECT_EQ(scene::rayCounters().sceneUpdates, settled.sceneUpdates);

    ASSERT_TRUE(host.setPlug("a.translate", {"1", "1", "0"}));
    agree("after a stored translation");
    ASSERT_TRUE(host.connect("holder.translate", "b.translate"));
    agree("after a connection");
    ASSERT_TRUE(host.setPlug("holder.translate", {"5", "2", "0"}));
    agree("after a value through the connection");
    ASSERT_TRUE(scene::setParent("aShape", "holder"));
    agree("after a shape moved under another transform");
    ASSERT_TRUE(host.renameNode("bShape", "ballShape"));
    agree("after a rename");
    const auto snapshot = host.snapshotNode("ballShape");
    ASSERT_TRUE(snapshot.ok());
    ASSERT_TRUE(host.deleteNode("ballShape"));
    agree("after a delete");
    ASSERT_TRUE(host.restoreNode(snapshot.value));
    agree("after the delete was taken back");
    ASSERT_TRUE(scene::setGeometry("aShape", scene::sphere(2.0, 12)));
    agree("after new geometry");
    const auto before = scene::rayCounters();
    sceneHits({0, 0, 10}, {0, 0, -1});
    sceneHits({0, 0, 10}, {0, 0, -1});
    EXPECT_EQ(scene::rayCounters().sceneChecks, before.sceneChecks);
    EXPECT_EQ(scene::rayCounters().sceneUpdates, before.sceneUpdates);

    // A value of a node outside the scene is looked into, and changes nothing there.
    ASSERT_TRUE(host.createNode("transform", "loose").ok());
    const auto looked = scene::rayCounters();
    ASSERT_TRUE(host.setPlug("loose.translate", {"1", "2", "3"}));
    agree("after an unrelated value");
    EXPECT_EQ(scene::rayCounters().sceneUpdates, looked.sceneUpdates);
}

// Random rays over random placements, all finite but reaching far beyond single precision:
// meshes scaled huge, tiny, unevenly or flat, sources far off, directions of any length. No query
// stops the program or fails, every hit is a finite point nearest first, a flattened mesh shows
// nothing, and where double precision defines the answer (the source within ten thousand of the
// mesh's sizes of it, the mesh within a million of the origin) the first hit is the triangle
// loop's, through the mesh and through the scene structure alike. Some meshes stay, so that the
// scene structure holds meshes of very different sizes together.
TEST_F(RayQueryTest, RaysOfAnyFiniteSizeNeverFailAndAgreeWithTheTriangleLoopWhereDefined) {
    std::mt19937_64 random(20261207);
    std::uniform_real_distribution<double> between(-1.0, 1.0), fraction(0.0, 1.0);
    const auto power = [&](double low, double high) {
        return std::pow(10.0, low + (high - low) * fraction(random));
    };
    const auto text = [](double v) {
        std::ostringstream out;
        out << std::setprecision(17) << v;
        return out.str();
    };
    const auto triple = [&](double x, double y, double z) {
        return text(x) + " " + text(y) + " " + text(z);
    };
    const auto length = [](const Vec& v) { return std::sqrt(dot(v, v)); };

    int compared = 0;
    int flattened = 0;
    int extreme = 0;
    for (int round = 0; round < 150; ++round) {
        const std::string name = "r" + std::to_string(round);
        const std::string shape = name + "Shape";
        object(name, round % 3 == 0   ? scene::cube(1.0)
                     : round % 3 == 1 ? scene::sphere(1.0, 12)
                                      : scene::plane(2.0, 2));
        // Huge, tiny, flat (one axis or all at zero), uneven, or ordinary; some far from the
        // origin for their size.
        const int kind = round % 5;
        const double size = kind == 1   ? power(10, 250)
                            : kind == 2 ? power(-250, -10)
                                        : power(-1, 1);
        double scale[3] = {size, size, size};
        if (kind == 3)
            scale[round % 4 == 3 ? 0 : (round / 5) % 3] = 0.0;
        if (round % 20 == 3)
            scale[0] = scale[1] = scale[2] = 0.0;
        if (kind == 4)
            for (double& s : scale) s = size * power(round % 2 ? -8 : -2, round % 2 ? 8 : 2);
        const double away = round % 7 == 0 ? power(8, 20) : power(-2, 5);
        const double reach = std::max({scale[0], scale[1], scale[2]});
        place(name,
              triple(between(random) * away * reach, between(random) * away * reach,
                     between(random) * away * reach),
              triple(360 * fraction(random), 360 * fraction(random), 360 * fraction(random)),
              triple(scale[0], scale[1], scale[2]));
        const auto world = scene::geometry(name, true).value;
        Vec centre{0, 0, 0};
        for (const auto& p : world.points)
            for (int k = 0; k < 3; ++k)
                centre[k] += p[k] / static_cast<double>(world.points.size());
        double extent = 0.0;
        for (const auto& p : world.points) extent = std::max(extent, length(sub(p, centre)));
        const bool flat = kind == 3 || round % 20 == 3;
        // Stretched by more than a hundred along one axis against another, a mesh's thin
        // triangles leave the double-precision answer itself uncertain beyond the tolerance.
        const double least = std::min({scale[0], scale[1], scale[2]});
        const bool definable =
            !flat && away < 1e6 && reach > 1e-100 && reach < 1e100 && reach < 1e4 * least;

        for (int ray = 0; ray < 24; ++ray) {
            const std::string what = name + " ray " + std::to_string(ray);
            // Aimed inside the mesh (or onto the plane, in general position): a quarter of the
            // way at most from its centre towards each of two corners.
            const auto corner = [&] {
                return world
                    .points[static_cast<std::size_t>(fraction(random) * 1e6) % world.points.size()];
            };
            const Vec& one = round % 3 == 2 ? world.points[0] : corner();
            const Vec& two = round % 3 == 2 ? world.points[2] : corner();
            const double w1 = 0.01 + 0.24 * fraction(random);
            const double w2 = 0.01 + 0.24 * fraction(random);
            Vec aim;
            for (int k = 0; k < 3; ++k)
                aim[k] = centre[k] + w1 * (one[k] - centre[k]) + w2 * (two[k] - centre[k]);
            Vec u{between(random), between(random), between(random)};
            const double ul = length(u);
            for (double& c : u) c /= ul;
            const bool near = ray % 4 != 3;
            const double distance =
                std::max(extent, 1e-300) * (near ? power(0.3, 4) : power(6, 40));
            Vec o{aim[0] - u[0] * distance, aim[1] - u[1] * distance, aim[2] - u[2] * distance};
            // Any non-zero length: ordinary, far below single precision, near its largest, or
            // anything a double holds.
            const double stretch = ray % 6 == 1   ? 1e-50
                                   : ray % 6 == 2 ? 3e38
                                   : ray % 6 == 3 ? power(-300, 300)
                                                  : 1.0;
            Vec d{u[0] * stretch, u[1] * stretch, u[2] * stretch};
            if (ray % 8 == 7) {
                // Anything at all: any source and any direction a double holds.
                for (double& c : o) c = (between(random) < 0 ? -1 : 1) * power(-300, 300);
                for (double& c : d) c = (between(random) < 0 ? -1 : 1) * power(-300, 300);
            }
            const double limit = ray % 5 == 4 ? distance * power(-1, 1) : INFINITY;

            const auto mine = scene::intersect(name, o, d, 1e-10, limit);
            ASSERT_TRUE(mine.ok()) << what << ": " << mine.status.message;
            auto all = scene::intersectScene(o, d, 1e-10, limit);
            ASSERT_TRUE(all.ok()) << what << ": " << all.status.message;
            std::vector<scene::RayHit> fromScene;
            for (const auto& hit : all.value) {
                EXPECT_TRUE(std::isfinite(hit.point[0]) && std::isfinite(hit.point[1]) &&
                            std::isfinite(hit.point[2]))
                    << what;
                if (hit.mesh == shape)
                    fromScene.push_back(hit);
            }
            // Nearest first, to rounding.
            const double most = std::max({std::abs(d[0]), std::abs(d[1]), std::abs(d[2])});
            Vec way{d[0] / most, d[1] / most, d[2] / most};
            const double wl = length(way);
            for (double& c : way) c /= wl;
            for (std::size_t k = 1; k < mine.value.size(); ++k) {
                const double before = dot(mine.value[k - 1].point, way);
                const double after = dot(mine.value[k].point, way);
                EXPECT_LE(before, after + 1e-12 * (std::abs(before) + std::abs(after))) << what;
            }
            if (flat) {
                EXPECT_TRUE(mine.value.empty()) << what;
                EXPECT_TRUE(fromScene.empty()) << what;
                ++flattened;
                continue;
            }
            if (!definable || !near || ray % 8 == 7) {
                ++extreme;
                continue;
            }
            const auto expected = bruteFirstHit(world, o, u);
            ASSERT_TRUE(expected.has_value()) << what;
            if (!(length(sub(*expected, o)) <= limit * (1 - 1e-9)))
                continue;  // the first hit lies beyond the limit, or too near it to tell
            ASSERT_FALSE(mine.value.empty()) << what;
            ASSERT_FALSE(fromScene.empty()) << what;
            // What double precision carries at that distance (a grazing ray magnifies it).
            const double tolerance = 1e-9 * (extent + distance);
            for (int k = 0; k < 3; ++k) {
                EXPECT_NEAR(mine.value.front().point[static_cast<std::size_t>(k)],
                            (*expected)[static_cast<std::size_t>(k)], tolerance)
                    << what;
                EXPECT_NEAR(fromScene.front().point[static_cast<std::size_t>(k)],
                            (*expected)[static_cast<std::size_t>(k)], tolerance)
                    << what;
            }
            ++compared;
        }
        // Every fourth mesh stays; the others go, so that the scene's frame also shrinks.
        if (round % 4 != 0) {
            ASSERT_TRUE(host.deleteNode(shape));
            ASSERT_TRUE(host.deleteNode(name));
        }
    }
    EXPECT_GT(compared, 800);
    EXPECT_GT(flattened, 500);
    EXPECT_GT(extreme, 800);
}

}  // namespace
