#include "chart/M4Reduce.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

namespace kelvaro {

namespace {

// Indices of the points kept for one column, in x order and without repeats.
void EmitColumn(std::span<const ChartPoint> points, std::size_t first, std::size_t last,
                std::size_t lowest, std::size_t highest, std::vector<ChartPoint>& out) {
    std::array<std::size_t, 4> keep{first, lowest, highest, last};
    std::sort(keep.begin(), keep.end());
    const auto end = std::unique(keep.begin(), keep.end());
    for (auto it = keep.begin(); it != end; ++it) {
        out.push_back(points[*it]);
    }
}

}  // namespace

std::vector<ChartPoint> M4Reduce(std::span<const ChartPoint> points, double x0, double x1,
                                 int width) {
    std::vector<ChartPoint> out;
    if (points.empty()) {
        return out;
    }
    const PixelColumns bins(x0, x1, width);
    const int columns = bins.Count();
    const auto begin = std::lower_bound(points.begin(), points.end(), x0,
                                        [](const ChartPoint& p, double x) { return p.x < x; });
    const auto end = std::upper_bound(begin, points.end(), x1,
                                      [](double x, const ChartPoint& p) { return x < p.x; });
    const auto lo = static_cast<std::size_t>(begin - points.begin());
    const auto hi = static_cast<std::size_t>(end - points.begin());

    out.reserve(std::min(points.size(), 4 * static_cast<std::size_t>(columns) + 2));
    if (lo > 0) {
        out.push_back(points[lo - 1]);
    }
    auto columnOf = [&bins](double x) { return bins.Inside(x); };

    std::size_t i = lo;
    while (i < hi) {
        const int column = columnOf(points[i].x);
        std::size_t first = i;
        std::size_t lowest = i;
        std::size_t highest = i;
        std::size_t last = i;
        for (++i; i < hi && columnOf(points[i].x) == column; ++i) {
            last = i;
            if (points[i].y < points[lowest].y) {
                lowest = i;
            }
            if (points[i].y > points[highest].y) {
                highest = i;
            }
        }
        EmitColumn(points, first, last, lowest, highest, out);
    }
    if (hi < points.size()) {
        out.push_back(points[hi]);
    }
    return out;
}

}  // namespace kelvaro
