#pragma once
// CPU time per thread of this process (Linux), and percentiles of measured samples.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace kivorova::bench {

// The process's threads (Linux task ids).
inline std::set<long> tasks() {
    std::set<long> out;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
        out.insert(std::strtol(entry.path().filename().c_str(), nullptr, 10));
    return out;
}

// CPU time a thread of this process has used, in seconds (0 once it has ended).
inline double taskCpuSeconds(long task) {
    std::ifstream in("/proc/self/task/" + std::to_string(task) + "/schedstat");
    unsigned long long ns = 0;
    if (!(in >> ns))
        return 0.0;
    return static_cast<double>(ns) * 1e-9;
}

// The p-th percentile (0-100), nearest rank.
inline double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * values.size()));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

}  // namespace kivorova::bench
