// The deformer's vertex passes (nodes/KivoDeformerNode.h, deformPoints) on a plane of a million
// vertices, as one evaluation without `permanent` runs them: the mesh's points copied into the
// working array, then deformed, with the box the host keeps around the mesh's points (asked once
// per evaluation, computed once per change of the geometry).
//   D1: ten enabled input points of fingertip radius, against a reference that follows the
//       written loops on one thread: at least 5x faster, every coordinate within 1e-9.
//   D2: the same, against a plain copy of the vertex array: within 3x.
//   D3: every input point outside the mesh's bounding box, against the copy: within 1.5x.
// Each benchmark runs several repetitions, interleaved at random with the others' so that a
// change in the machine's load falls on all of them alike; the ratios use each benchmark's
// fastest repetition.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "DeformerReference.h"
#include "nodes/KivoDeformerNode.h"

namespace {

using kivo_rova::DeformSettings;

constexpr int kSide = 1000;      // vertices per side: a million in all
constexpr double kSize = 100.0;  // the plane's side (centimetres)
constexpr double kFinger = 1.0;  // a fingertip's reach

struct Mesh {
    RPointArray points;
    RFloatVectorArray normals;
    kivo_rova::PointBounds
        bounds;  // what the host keeps with the geometry (RFnMesh::getBoundingBox)
};

const Mesh& plane() {
    static const Mesh mesh = [] {
        Mesh m;
        m.points.reserve(static_cast<std::size_t>(kSide) * kSide);
        for (int row = 0; row < kSide; ++row)
            for (int column = 0; column < kSide; ++column) {
                const double x = -kSize / 2 + kSize * column / (kSide - 1);
                const double z = -kSize / 2 + kSize * row / (kSide - 1);
                // A gentle wave, so normals and depths differ from vertex to vertex.
                m.points.emplace_back(x, 0.2 * std::sin(x * 0.3) * std::cos(z * 0.2), z);
                m.normals.emplace_back(static_cast<float>(-0.06 * std::cos(x * 0.3)), 1.0f,
                                       static_cast<float>(0.04 * std::sin(z * 0.2)));
            }
        kivo_rova::PointBounds& b = m.bounds;
        b.lower = RPoint(1e300, 1e300, 1e300);
        b.upper = RPoint(-1e300, -1e300, -1e300);
        for (const RPoint& p : m.points) {
            b.lower = RPoint(std::min(b.lower.x, p.x), std::min(b.lower.y, p.y),
                             std::min(b.lower.z, p.z));
            b.upper = RPoint(std::max(b.upper.x, p.x), std::max(b.upper.y, p.y),
                             std::max(b.upper.z, p.z));
        }
        return m;
    }();
    return mesh;
}

RPointArray fingertips(bool outside) {
    RPointArray tips;
    for (int k = 0; k < 10; ++k) {
        const double x = -30.0 + 6.5 * k, z = 20.0 - 4.5 * k;
        tips.emplace_back(outside ? x + 200.0 : x, outside ? 50.0 : -0.3 + 0.05 * k, z);
    }
    return tips;
}

DeformSettings settings() {
    DeformSettings s;
    s.radius = kFinger;
    s.deformType = 0;
    return s;
}

using kivorova::testing::reference;

RPointArray g_working;

void BM_Copy(benchmark::State& state) {
    const Mesh& mesh = plane();
    g_working.resize(mesh.points.size());
    for (auto _ : state) {
        std::copy(mesh.points.begin(), mesh.points.end(), g_working.begin());
        benchmark::DoNotOptimize(g_working.data());
        benchmark::ClobberMemory();
    }
}

void BM_Reference(benchmark::State& state) {
    const Mesh& mesh = plane();
    const RPointArray tips = fingertips(false);
    g_working.resize(mesh.points.size());
    for (auto _ : state) {
        std::copy(mesh.points.begin(), mesh.points.end(), g_working.begin());
        reference(settings(), tips, g_working, mesh.normals);
        benchmark::ClobberMemory();
    }
}

void deformer(benchmark::State& state, bool outside) {
    const Mesh& mesh = plane();
    const RPointArray tips = fingertips(outside);
    g_working.resize(mesh.points.size());
    for (auto _ : state) {
        std::copy(mesh.points.begin(), mesh.points.end(), g_working.begin());
        kivo_rova::deformPoints(settings(), tips, g_working, mesh.normals, &mesh.bounds);
        benchmark::ClobberMemory();
    }
}

void BM_Deformer(benchmark::State& state) {
    deformer(state, false);
}
void BM_DeformerOutsideBounds(benchmark::State& state) {
    deformer(state, true);
}

constexpr int kRepetitions = 7;

BENCHMARK(BM_Copy)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(kRepetitions);
BENCHMARK(BM_Reference)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(kRepetitions);
BENCHMARK(BM_Deformer)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(kRepetitions);
BENCHMARK(BM_DeformerOutsideBounds)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(kRepetitions);

// Keeps each benchmark's fastest time per iteration for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    std::map<std::string, double> milliseconds;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration)
                continue;
            const std::string name = run.run_name.function_name;
            const double time = run.GetAdjustedRealTime();
            const auto [at, added] = milliseconds.emplace(name, time);
            if (!added)
                at->second = std::min(at->second, time);
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

double largestDifference() {
    const Mesh& mesh = plane();
    RPointArray fast = mesh.points, slow = mesh.points;
    kivo_rova::deformPoints(settings(), fingertips(false), fast, mesh.normals);
    reference(settings(), fingertips(false), slow, mesh.normals);
    double largest = 0.0;
    std::size_t moved = 0;
    for (std::size_t i = 0; i < fast.size(); ++i) {
        largest = std::max({largest, std::fabs(fast[i].x - slow[i].x),
                            std::fabs(fast[i].y - slow[i].y), std::fabs(fast[i].z - slow[i].z)});
        moved += !(slow[i] == mesh.points[i]);
    }
    std::printf("vertices moved: %zu of %zu\n", moved, fast.size());
    return largest;
}

}  // namespace

int main(int argc, char** argv) {
    // Interleaved repetitions unless the command line says otherwise (a later flag wins).
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    std::vector<char*> args(argv, argv + argc);
    args.insert(args.begin() + (argc > 0 ? 1 : 0), interleave.data());
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto time = [&](const char* name) {
        const auto it = reporter.milliseconds.find(name);
        return it == reporter.milliseconds.end() ? std::nan("") : it->second;
    };
    const double copy = time("BM_Copy"), ref = time("BM_Reference");
    const double fast = time("BM_Deformer");
    const double outside = time("BM_DeformerOutsideBounds");
    const double difference = largestDifference();
    std::printf(
        "fastest of %d repetitions: copy %.3f ms, reference %.3f ms, deformer %.3f ms, points "
        "outside the bounds %.3f ms\n",
        kRepetitions, copy, ref, fast, outside);
    std::printf(
        "D1 reference / deformer: %.1fx (at least 5x); largest difference %.3g (at most "
        "1e-9)\n",
        ref / fast, difference);
    std::printf("D2 deformer / copy: %.2fx (at most 3x)\n", fast / copy);
    std::printf("D3 deformer, points outside the bounds / copy: %.2fx (at most 1.5x)\n",
                outside / copy);
    const bool ok =
        ref / fast >= 5.0 && difference <= 1e-9 && fast / copy <= 3.0 && outside / copy <= 1.5;
    std::printf("%s\n", ok ? "all within bounds" : "OUT OF BOUNDS");
    benchmark::Shutdown();
    return ok ? 0 : 1;
}
