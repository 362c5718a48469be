#pragma once
// Timing for the benchmarks: the best of several rounds, so a busy machine inflates a figure less.

#include <windows.h>

#include <algorithm>
#include <cstdio>

namespace benchmark_support
{
// Nanoseconds per call of body, the best of `rounds` rounds of `iterations` calls each.
template <class Body>
double nanoseconds_per_call(Body&& body, int iterations, int rounds = 5)
{
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    double best = 1e300;
    for (int round = 0; round < rounds; ++round)
    {
        LARGE_INTEGER start{}, stop{};
        QueryPerformanceCounter(&start);
        for (int i = 0; i < iterations; ++i)
            body();
        QueryPerformanceCounter(&stop);
        const double ns = static_cast<double>(stop.QuadPart - start.QuadPart) * 1e9 / frequency.QuadPart / iterations;
        best = std::min(best, ns);
    }
    return best;
}

inline void print_ratio(const char* name, double measured_ns, const char* baseline_name, double baseline_ns)
{
    std::printf("%-48s %12.1f ns   %-40s %12.1f ns   ratio %.2f\n", name, measured_ns, baseline_name, baseline_ns,
                measured_ns / baseline_ns);
}
} // namespace benchmark_support
