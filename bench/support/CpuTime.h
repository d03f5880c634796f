#pragma once
// CPU time, for benches that measure what a thread costs rather than how long it takes.
#include <ctime>

namespace kivorova::bench {

// Seconds of CPU (user and system) that every thread of this process has used.
inline double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Seconds of CPU that the calling thread has used.
inline double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

}  // namespace kivorova::bench
