#pragma once
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <ctime>

// CPU time of this thread, so that other load on the machine does not skew a ratio.
inline double ThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The thread CPU time one piece of work takes.
template <typename Work>
double Seconds(Work&& work) {
    const double start = ThreadSeconds();
    work();
    return ThreadSeconds() - start;
}

// The tests run every benchmark once with VELTRA_BENCH_SMOKE set, to show that it still builds
// and runs; such a run does a small share of the work, so its figures mean nothing.
inline bool SmokeRun() {
    static const bool smoke = std::getenv("VELTRA_BENCH_SMOKE") != nullptr;
    return smoke;
}

// How many items a benchmark works on: all of them, or at most 200 in a smoke run.
inline std::int64_t WorkSize(std::int64_t full) {
    return SmokeRun() ? std::min<std::int64_t>(full, 200) : full;
}
