// Timing for the benchmarks: the median of several runs, so that one
// disturbed run does not move the figure.
#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

// Median of the values that fn returns over runs calls.
template <typename Fn>
double MedianOf(int runs, Fn&& fn) {
    std::vector<double> values;
    for (int i = 0; i < runs; ++i)
        values.push_back(fn());
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

// Median wall time of fn in milliseconds.
template <typename Fn>
double MedianMs(int runs, Fn&& fn) {
    return MedianOf(runs, [&] {
        const auto t0 = std::chrono::steady_clock::now();
        fn();
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    });
}
