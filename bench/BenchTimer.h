#pragma once
#include <chrono>
#include <cstdio>

// Best of several runs: the least disturbed figure of a shared machine.
template <typename F>
double bestSeconds(int runs, F&& f)
{
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        f();
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (s < best) best = s;
    }
    return best;
}

inline double mbPerSecond(size_t bytes, double seconds)
{
    return seconds > 0 ? bytes / seconds / 1e6 : 0;
}
