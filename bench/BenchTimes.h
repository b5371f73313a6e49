// The timing arithmetic the benchmarks share: milliseconds since a moment, and percentiles of a
// set of times.
#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <vector>

namespace kelvaro::bench {

using Clock = std::chrono::steady_clock;

inline double Milliseconds(Clock::time_point from) {
    return std::chrono::duration<double, std::milli>(Clock::now() - from).count();
}

// The value below which a share `q` of the times fall (the median at 0.5).
inline double Percentile(std::vector<double> times, double q) {
    std::sort(times.begin(), times.end());
    const auto rank = static_cast<std::size_t>(std::ceil(q * static_cast<double>(times.size())));
    return times[std::min(times.size(), std::max<std::size_t>(rank, 1)) - 1];
}

}  // namespace kelvaro::bench
