// How the dependency graph's costs grow with the scene: chains and fans of timeRotate nodes, each
// also fed by sceneTime.time, from 100 nodes up. For each scene it measures, per node: building
// (create and connect), dirtying (a time change) and evaluating (pulling every output that time
// dirtied: the chain's end, or every leaf of the fan), and prints each against the 100-node scene
// of the same shape measured in the same run. A cost that does not grow with the scene stays
// near ratio 1. Each size is built once before it is measured; that first build, whose memory
// comes new from the system, is printed apart.
//
// Usage: rova_graph_scale [--max N] [--budget NODES]
//   --max: the largest scene (default 100000; sizes go up by 10 from 100)
//   --budget: node visits measured per size and phase (default 200000): smaller scenes are built
//             and evaluated again until they reach it, and each figure is the median repetition
//
// Times are the measuring thread's CPU time. Everything runs on a thread of its own, with the
// stack size of a process's main thread.
#include <pthread.h>
#include <rovahost/Host.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

using rova::host::Host;

// The thread's own CPU time: on a shared machine the wall clock would count the time other
// processes take, and the longer runs of the larger scenes would suffer more of it.
struct Clock {
    using duration = std::chrono::nanoseconds;
    using time_point = std::chrono::time_point<Clock, duration>;
    static time_point now() {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return time_point(duration(std::int64_t{t.tv_sec} * 1000000000 + t.tv_nsec));
    }
};

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "rova_graph_scale: %s\n", what.c_str());
    std::exit(1);
}

void check(const rova::host::Status& status) {
    if (!status)
        fail(status.message);
}

double microseconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::micro>(to - from).count();
}

double median(std::vector<double> values) {
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Costs {
    double build = 0.0, dirty = 0.0, evaluate = 0.0;  // microseconds per node
    double firstBuild = 0.0;  // the first scene of its size: its memory new from the system
};

enum class Shape { kChain, kFan };

// One scene of `n` timeRotate nodes, built, then dirtied and evaluated `frames` times; the nodes
// are deleted again. Per-node medians of `repeats` builds and of every frame.
Costs measure(Host& host, Shape shape, int n, int repeats, int frames) {
    std::vector<std::string> names(static_cast<std::size_t>(n));
    for (int k = 0; k < n; ++k) names[static_cast<std::size_t>(k)] = "n" + std::to_string(k);
    std::vector<std::string> outputs;
    std::vector<double> builds, dirties, evaluations;
    double time = 0.0;
    const auto build = [&] {
        for (int k = 0; k < n; ++k) {
            const std::string& name = names[static_cast<std::size_t>(k)];
            check(host.createNode("timeRotate", name).status);
            check(host.connect("sceneTime.time", name + ".time"));
            if (k > 0) {
                const std::string& source =
                    shape == Shape::kChain ? names[static_cast<std::size_t>(k - 1)] : names[0];
                check(host.connect(source + ".outputRotate", name + ".initialRotate"));
            }
        }
    };
    const auto deleteAll = [&] {
        for (auto it = names.rbegin(); it != names.rend(); ++it) check(host.deleteNode(*it));
    };
    // Once unmeasured: the first scene of a size takes its memory from the system, page by page,
    // a cost per byte whatever the size (and on a virtual machine several times what building
    // costs), which the smaller scenes, built again and again into memory the process holds,
    // would not show. Printed apart as the first build.
    const auto f0 = Clock::now();
    build();
    const double first = microseconds(f0, Clock::now()) / n;
    deleteAll();
    for (int r = 0; r < repeats; ++r) {
        const auto b0 = Clock::now();
        build();
        builds.push_back(microseconds(b0, Clock::now()) / n);
        outputs.clear();
        if (shape == Shape::kChain)
            outputs.push_back(names.back() + ".outputRotate");
        else
            for (int k = 1; k < n; ++k)
                outputs.push_back(names[static_cast<std::size_t>(k)] + ".outputRotate");
        for (const auto& plug : outputs) check(host.getPlug(plug).status);
        const int frameCount = r == 0 ? frames : 1;
        for (int f = 0; f < frameCount; ++f) {
            time += 1.0 / 24.0;
            const auto d0 = Clock::now();
            host.setTime(time);
            const auto e0 = Clock::now();
            for (const auto& plug : outputs) check(host.getPlug(plug).status);
            const auto e1 = Clock::now();
            dirties.push_back(microseconds(d0, e0) / n);
            evaluations.push_back(microseconds(e0, e1) / n);
        }
        deleteAll();
    }
    return {median(builds), median(dirties), median(evaluations), first};
}

struct Options {
    int max = 100000;
    int budget = 200000;
};

struct Run {
    Options options;
};

void* run(void* argument) {
    Run& run = *static_cast<Run*>(argument);
    Host& host = Host::instance();
    check(host.loadPlugin("kivo_rova"));
    std::vector<int> sizes;
    for (int n = 100; n <= run.options.max; n *= 10) sizes.push_back(n);
    constexpr double kRatioTarget = 1.5, kEvaluationTargetUs = 1.0;
    std::printf(
        "graph scale: timeRotate nodes, each fed by sceneTime.time; per-node costs in us and "
        "their\n"
        "ratio against the 100-node scene of the same shape (medians; targets at the largest "
        "scene:\nratios within %.1f, evaluation under %.1f us a node)\n\n",
        kRatioTarget, kEvaluationTargetUs);
    std::printf("%-6s %8s %9s %7s %9s %7s %9s %7s %11s\n", "shape", "nodes", "build", "ratio",
                "dirty", "ratio", "evaluate", "ratio", "first build");
    for (const Shape shape : {Shape::kChain, Shape::kFan}) {
        const char* name = shape == Shape::kChain ? "chain" : "fan";
        Costs base;
        for (const int n : sizes) {
            const int repeats = std::max(1, run.options.budget / 10 / n);
            const int frames = std::max(3, run.options.budget / n);
            const Costs c = measure(host, shape, n, repeats, frames);
            if (n == sizes.front())
                base = c;
            const double rb = c.build / base.build, rd = c.dirty / base.dirty,
                         re = c.evaluate / base.evaluate;
            std::printf("%-6s %8d %9.3f %7.2f %9.3f %7.2f %9.3f %7.2f %11.3f\n", name, n, c.build,
                        rb, c.dirty, rd, c.evaluate, re, c.firstBuild);
            if (n == sizes.back()) {
                const bool ok = rb <= kRatioTarget && rd <= kRatioTarget && re <= kRatioTarget &&
                                c.evaluate < kEvaluationTargetUs;
                std::printf(
                    "graph scale %s at %d nodes: build %.2f, dirty %.2f, evaluate %.2f x "
                    "the 100-node cost a node; evaluation %.3f us a node (%s)\n",
                    name, n, rb, rd, re, c.evaluate, ok ? "targets met" : "NOT MET");
            }
        }
    }
    std::fflush(stdout);
    host.shutdownForExit();
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    Run state;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        const bool hasValue = k + 1 < argc;
        if (arg == "--max" && hasValue)
            state.options.max = std::atoi(argv[++k]);
        else if (arg == "--budget" && hasValue)
            state.options.budget = std::atoi(argv[++k]);
        else
            fail("usage: rova_graph_scale [--max N] [--budget NODES]");
    }
    if (state.options.max < 100 || state.options.budget < 100)
        fail("--max and --budget must be at least 100");
    // The stack of a main thread: a deep chain is pulled without one level of it per node.
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, std::size_t{8} << 20);
    pthread_t thread;
    if (pthread_create(&thread, &attributes, run, &state) != 0)
        fail("cannot start the measuring thread");
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
    return 0;  // a missed target is reported, not a failure of the program
}
