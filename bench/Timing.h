#pragma once
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
