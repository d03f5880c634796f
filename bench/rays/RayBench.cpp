// Ray structures on a scene of 100 spheres of about 20,000 triangles each (2 million in all).
//  G1: the grab node's candidate search (two rays between fingertips, each mesh's first hits,
//      the nearest qualifying mesh) through the scene-level structure, against a double-precision
//      loop over every triangle computing the same answer; and the grab node's own evaluation,
//      which asks each mesh in turn through RFnMesh::intersect. The structure's search limits
//      both rays to the segment between the fingertips (a mesh qualifies only when its first hits
//      are closer together than the fingertips; a mesh that does not cross the segment has both
//      first hits beyond the fingers, farther apart than they are), so it gives the full rays'
//      answer; the full rays are timed too. The answers are compared before timing.
//  G2: a query with nothing changed rebuilds nothing; after one mesh is deformed only that mesh
//      is refitted, against building every structure from nothing.
//  G3: memory the structures hold per triangle.
// Ratios against the baselines of the same run are printed at the end.
#include <benchmark/benchmark.h>
#include <rovahost/Host.h>
#include <rovahost/Scene.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "TriangleLoop.h"

namespace scene = rova::host::scene;

namespace {

using kivorova::testing::bruteFirstHit;
using kivorova::testing::cross;
using kivorova::testing::dot;
using kivorova::testing::sub;
using kivorova::testing::Vec;

constexpr int kMeshes = 100;
constexpr int kSegments = 142;  // 2 * 142 * 70 = 19,880 triangles a sphere
constexpr double kSpacing = 3.0;

rova::host::Host& host() {
    return rova::host::Host::instance();
}

double distance(const Vec& a, const Vec& b) {
    const Vec d = sub(a, b);
    return std::sqrt(dot(d, d));
}

std::string meshName(int k) {
    return "m" + std::to_string(k);
}

// Spheres on a 10 x 10 grid in the XY plane.
void makeScene(const std::string& prefix) {
    const auto ball = scene::sphere(1.0, kSegments);
    for (int k = 0; k < kMeshes; ++k) {
        const std::string name = prefix + meshName(k);
        (void)scene::createTransform(name, "");
        (void)scene::createShape(name, scene::ShapeType::kMesh);
        (void)scene::setGeometry(name, ball);
        (void)host().setPlug(name + ".translate", {std::to_string((k % 10) * kSpacing),
                                                   std::to_string((k / 10) * kSpacing), "0"});
    }
}

// Fingertips either side of sphere 44, a gap of 1 to its surface.
const Vec kFinger1{4 * kSpacing - 1.5, 4 * kSpacing, 0.0};
const Vec kFinger2{4 * kSpacing + 1.5, 4 * kSpacing, 0.0};

struct Candidate {
    std::string name = "null";
    double sum = -1.0;
};

// The grab node's rule over each mesh's first hits of the two rays.
Candidate choose(const std::map<std::string, Vec>& first1, const std::map<std::string, Vec>& first2,
                 const std::vector<std::string>& order) {
    Candidate best;
    const double span = distance(kFinger1, kFinger2);
    for (const auto& name : order) {
        const auto h1 = first1.find(name);
        const auto h2 = first2.find(name);
        if (h1 == first1.end() || h2 == first2.end())
            continue;
        const double e1 = distance(h1->second, kFinger1);
        const double e2 = distance(h2->second, kFinger2);
        if (span - distance(h1->second, h2->second) > 0.0 && (best.sum < 0.0 || e1 + e2 < best.sum))
            best = {name, e1 + e2};
    }
    return best;
}

std::vector<std::string> shapeOrder() {
    std::vector<std::string> order;
    for (int k = 0; k < kMeshes; ++k) order.push_back(meshName(k) + "Shape");
    return order;
}

// Through the scene-level structure: only the meshes the rays meet are looked at (the same rule;
// equal sums go to the mesh made first, as in the loop over every mesh).
struct FirstHit {
    std::string mesh;
    Vec point;
};
Candidate sceneCandidate(bool limited = true) {
    const double span = distance(kFinger1, kFinger2);
    // A little beyond the far fingertip: any limit from the span on gives the same answer.
    const double limit = limited ? span * (1.0 + 1e-9) : INFINITY;
    const auto firstHits = [limit](const Vec& from, const Vec& to) {
        std::vector<FirstHit> first;
        for (auto& hit : scene::intersectScene(from, sub(to, from), 1e-10, limit).value)
            if (std::none_of(first.begin(), first.end(),
                             [&](const FirstHit& f) { return f.mesh == hit.mesh; }))
                first.push_back({std::move(hit.mesh), hit.point});  // nearest first
        return first;
    };
    static const auto rank = [] {
        std::unordered_map<std::string, int> out;
        const auto order = shapeOrder();
        for (std::size_t k = 0; k < order.size(); ++k) out[order[k]] = static_cast<int>(k);
        return out;
    }();
    const auto first1 = firstHits(kFinger1, kFinger2);
    const auto first2 = firstHits(kFinger2, kFinger1);
    Candidate best;
    int bestRank = 0;
    for (const auto& h1 : first1) {
        const auto h2 = std::find_if(first2.begin(), first2.end(),
                                     [&](const FirstHit& f) { return f.mesh == h1.mesh; });
        if (h2 == first2.end())
            continue;
        const double e1 = distance(h1.point, kFinger1);
        const double e2 = distance(h2->point, kFinger2);
        if (!(span - distance(h1.point, h2->point) > 0.0))
            continue;
        const int r = rank.at(h1.mesh);
        if (best.sum < 0.0 || e1 + e2 < best.sum || (e1 + e2 == best.sum && r < bestRank)) {
            best = {h1.mesh, e1 + e2};
            bestRank = r;
        }
    }
    return best;
}

struct World {
    std::vector<std::string> order;
    std::vector<scene::MeshGeometry> meshes;  // world space
};

const World& world() {
    static const World w = [] {
        World out;
        out.order = shapeOrder();
        for (int k = 0; k < kMeshes; ++k)
            out.meshes.push_back(scene::geometry(meshName(k), true).value);
        return out;
    }();
    return w;
}

Candidate bruteCandidate() {
    const World& w = world();
    std::map<std::string, Vec> first1, first2;
    for (std::size_t k = 0; k < w.meshes.size(); ++k) {
        if (const auto h = bruteFirstHit(w.meshes[k], kFinger1, sub(kFinger2, kFinger1)))
            first1[w.order[k]] = *h;
        if (const auto h = bruteFirstHit(w.meshes[k], kFinger2, sub(kFinger1, kFinger2)))
            first2[w.order[k]] = *h;
    }
    return choose(first1, first2, w.order);
}

bool g_nodeLoaded = false;

void BM_G1_GrabSearch_SceneStructure(benchmark::State& state) {
    (void)sceneCandidate();  // structures built before timing
    const auto before = scene::rayCounters();
    Candidate c;
    for (auto _ : state) {
        c = sceneCandidate();
        benchmark::DoNotOptimize(c);
    }
    const auto after = scene::rayCounters();
    state.counters["builds"] = static_cast<double>(after.builds - before.builds);
    state.counters["refits"] = static_cast<double>(after.refits - before.refits);
    state.counters["rebuilds"] = static_cast<double>(after.rebuilds - before.rebuilds);
    state.SetLabel(c.name);
}
BENCHMARK(BM_G1_GrabSearch_SceneStructure)->Unit(benchmark::kMicrosecond);

// The same through whole rays: every mesh behind the fingers is met and placed too.
void BM_G1_GrabSearch_SceneStructure_WholeRays(benchmark::State& state) {
    (void)sceneCandidate(false);
    Candidate c;
    for (auto _ : state) {
        c = sceneCandidate(false);
        benchmark::DoNotOptimize(c);
    }
    state.SetLabel(c.name);
}
BENCHMARK(BM_G1_GrabSearch_SceneStructure_WholeRays)->Unit(benchmark::kMicrosecond);

void BM_G1_GrabSearch_BruteForce(benchmark::State& state) {
    (void)world();
    Candidate c;
    for (auto _ : state) {
        c = bruteCandidate();
        benchmark::DoNotOptimize(c);
    }
    state.SetLabel(c.name);
}
BENCHMARK(BM_G1_GrabSearch_BruteForce)->Unit(benchmark::kMicrosecond)->Iterations(20);

// The node itself: every mesh asked in turn, two rays each, as the node's evaluation is written.
void BM_G1_GrabNodeEvaluation(benchmark::State& state) {
    if (!g_nodeLoaded) {
        state.SkipWithError("the plug-in did not load");
        return;
    }
    (void)host().setPlug("g.finger2",
                         {std::to_string(kFinger2[0]), std::to_string(kFinger2[1]), "0"});
    double x = kFinger1[0];
    std::string name;
    for (auto _ : state) {
        x = x == kFinger1[0] ? kFinger1[0] + 1e-9 : kFinger1[0];  // finger1 changes each time
        (void)host().setPlug("g.finger1",
                             {rova::host::formatDouble(x), std::to_string(kFinger1[1]), "0"});
        name = host().getPlug("g.intersectObject").value.text;
    }
    state.SetLabel(name);
}
BENCHMARK(BM_G1_GrabNodeEvaluation)->Unit(benchmark::kMicrosecond);

void BM_G2_QueryUnchanged(benchmark::State& state) {
    (void)sceneCandidate();
    const auto before = scene::rayCounters();
    for (auto _ : state)
        benchmark::DoNotOptimize(scene::intersectScene(kFinger1, sub(kFinger2, kFinger1)));
    const auto after = scene::rayCounters();
    state.counters["builds+refits+rebuilds"] =
        static_cast<double>((after.builds - before.builds) + (after.refits - before.refits) +
                            (after.rebuilds - before.rebuilds));
}
BENCHMARK(BM_G2_QueryUnchanged)->Unit(benchmark::kMicrosecond);

// One sphere's points pushed out and back: the next query refits that sphere alone.
void BM_G2_QueryAfterOneMeshDeformed(benchmark::State& state) {
    (void)sceneCandidate();
    const auto plain = scene::sphere(1.0, kSegments);
    const auto bulged = scene::sphere(1.1, kSegments);
    bool flip = false;
    const auto before = scene::rayCounters();
    for (auto _ : state) {
        state.PauseTiming();
        (void)scene::setGeometry(meshName(44), flip ? plain : bulged);
        flip = !flip;
        state.ResumeTiming();
        benchmark::DoNotOptimize(scene::intersectScene(kFinger1, sub(kFinger2, kFinger1)));
    }
    const auto after = scene::rayCounters();
    state.counters["refits/iter"] =
        static_cast<double>(after.refits - before.refits) / static_cast<double>(state.iterations());
    state.counters["builds"] = static_cast<double>(after.builds - before.builds);
    state.counters["rebuilds"] = static_cast<double>(after.rebuilds - before.rebuilds);
}
BENCHMARK(BM_G2_QueryAfterOneMeshDeformed)->Unit(benchmark::kMicrosecond)->Iterations(40);

// Every structure built from nothing: a fresh copy of the scene, queried once.
void BM_G2_BuildEverything(benchmark::State& state) {
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string prefix = "fresh" + std::to_string(round++);
        makeScene(prefix);
        std::vector<std::string> names;
        for (int k = 0; k < kMeshes; ++k) names.push_back(prefix + meshName(k));
        state.ResumeTiming();
        for (const auto& name : names)
            benchmark::DoNotOptimize(scene::intersect(name, {0, 0, 50}, {0, 0, -1}));
        state.PauseTiming();
        for (const auto& name : names) {
            (void)host().deleteNode(name + "Shape");
            (void)host().deleteNode(name);
        }
        state.ResumeTiming();
    }
}
BENCHMARK(BM_G2_BuildEverything)->Unit(benchmark::kMillisecond)->Iterations(2);

// Wall-clock and CPU seconds per iteration. Every benchmark runs on one thread: on a machine
// others load, CPU time is the work done, wall-clock time adds the waits for a core.
class Collecting : public benchmark::ConsoleReporter {
  public:
    std::map<std::string, std::pair<double, double>> seconds;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            const double unit = benchmark::GetTimeUnitMultiplier(run.time_unit);
            seconds[run.benchmark_name()] = {run.GetAdjustedRealTime() / unit,
                                             run.GetAdjustedCPUTime() / unit};
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

// The benchmark whose name is `name`, or starts with it followed by its settings ("/...").
std::pair<double, double> find(const Collecting& c, const std::string& name) {
    for (const auto& [full, s] : c.seconds)
        if (full == name || full.rfind(name + "/", 0) == 0)
            return s;
    return {NAN, NAN};
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    makeScene("");
    (void)scene::intersectScene(kFinger1, sub(kFinger2, kFinger1));  // build everything
    const auto built = scene::rayCounters();
    const double triangles = 2.0 * kSegments * (kSegments / 2 - 1) * kMeshes;

    host().pluginPath().insert(host().pluginPath().begin(), KIVOROVA_PLUGIN_DIR);
    g_nodeLoaded = static_cast<bool>(host().loadPlugin("kivo_rova")) &&
                   host().createNode("kivoGrabNode", "g").ok();

    // The structure's answers are the triangle loop's, limited rays or whole.
    const Candidate expected = bruteCandidate();
    for (const bool limited : {true, false}) {
        const Candidate found = sceneCandidate(limited);
        if (found.name != expected.name ||
            std::abs(found.sum - expected.sum) > 1e-9 * std::max(1.0, expected.sum)) {
            std::fprintf(stderr, "G1 answers differ (%s rays): %s %.17g, loop %s %.17g\n",
                         limited ? "limited" : "whole", found.name.c_str(), found.sum,
                         expected.name.c_str(), expected.sum);
            return 1;
        }
    }
    std::printf("G1 answer (structure and loop): %s, distance sum %.17g\n", expected.name.c_str(),
                expected.sum);

    Collecting reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    const auto scene = find(reporter, "BM_G1_GrabSearch_SceneStructure");
    const auto whole = find(reporter, "BM_G1_GrabSearch_SceneStructure_WholeRays");
    const auto brute = find(reporter, "BM_G1_GrabSearch_BruteForce");
    const auto node = find(reporter, "BM_G1_GrabNodeEvaluation");
    const auto refit = find(reporter, "BM_G2_QueryAfterOneMeshDeformed");
    const auto everything = find(reporter, "BM_G2_BuildEverything");
    // Ratios of CPU time, then of wall-clock time.
    const auto ratio = [](const char* what, std::pair<double, double> baseline,
                          std::pair<double, double> measured, const char* goal) {
        std::printf("%s: %.0fx CPU, %.0fx wall-clock%s\n", what, baseline.second / measured.second,
                    baseline.first / measured.first, goal);
    };
    std::printf("\n");
    ratio("G1 brute force / scene-structure search", brute, scene, " (goal >= 10000x)");
    ratio("G1 brute force / scene-structure search with whole rays", brute, whole, "");
    ratio("G1 brute force / grab node evaluation (mesh by mesh)", brute, node, "");
    std::printf(
        "G2 one deformed mesh / building everything: 1/%.0f CPU, 1/%.0f wall-clock (goal "
        "<= 1/50)\n",
        everything.second / refit.second, everything.first / refit.first);
    std::printf("G3 structure memory: %.1f bytes per triangle (%.0f triangles, %.1f MiB)\n",
                static_cast<double>(built.bytes) / triangles, triangles,
                static_cast<double>(built.bytes) / (1024.0 * 1024.0));
    host().shutdownForExit();
    return 0;
}
