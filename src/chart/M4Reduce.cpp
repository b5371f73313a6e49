#include "chart/M4Reduce.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>

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

// The first index of [from, to) whose x is not below `next` (x ascending), or `to`. Galloping
// from `from` finds it in about 2 log2(n) looks instead of looking at every point of the column.
std::size_t ColumnEnd(std::span<const ChartPoint> points, std::size_t from, std::size_t to,
                      double next) {
    std::size_t below = from;  // points[below].x < next
    std::size_t step = 1;
    std::size_t probe = from + 1;
    while (probe < to && points[probe].x < next) {
        below = probe;
        step *= 2;
        probe = from + step;
    }
    const auto rest = points.subspan(below + 1, std::min(probe, to) - (below + 1));
    const auto it = std::partition_point(rest.begin(), rest.end(),
                                         [next](const ChartPoint& p) { return p.x < next; });
    return below + 1 + static_cast<std::size_t>(it - rest.begin());
}

struct ColumnExtremes {
    std::size_t lowest;
    std::size_t highest;
    bool missing;  // some y of the range is NaN: the line has a gap there
};

// Indices of the first lowest and the first highest y of [from, to), and whether a y is missing.
// Values first, with four independent running extremes so the loop is not one long chain of
// dependent compares; then the first point holding each, found while the column is still in the
// cache. A NaN is never an extreme (unless it comes first), as with a plain scan.
ColumnExtremes Extremes(std::span<const ChartPoint> points, std::size_t from, std::size_t to) {
    // Named locals, not an array: an indexed array lives in memory and every compare waits
    // for the store before it.
    const double start = points[from].y;
    double low0 = start, low1 = start, low2 = start, low3 = start;
    double high0 = start, high1 = start, high2 = start, high3 = start;
    // Two points to a compare (unordered: either is NaN), or-ed rather than branched on, so
    // looking for gaps costs the scan about a tenth.
    bool missing0 = std::isnan(start), missing1 = false;
    auto lower = [](double y, double low) { return y < low ? y : low; };
    auto higher = [](double y, double high) { return y > high ? y : high; };
    std::size_t i = from + 1;
    for (; i + 4 <= to; i += 4) {
        low0 = lower(points[i].y, low0);
        low1 = lower(points[i + 1].y, low1);
        low2 = lower(points[i + 2].y, low2);
        low3 = lower(points[i + 3].y, low3);
        high0 = higher(points[i].y, high0);
        high1 = higher(points[i + 1].y, high1);
        high2 = higher(points[i + 2].y, high2);
        high3 = higher(points[i + 3].y, high3);
        missing0 |= std::isunordered(points[i].y, points[i + 1].y);
        missing1 |= std::isunordered(points[i + 2].y, points[i + 3].y);
    }
    for (; i < to; ++i) {
        low0 = lower(points[i].y, low0);
        high0 = higher(points[i].y, high0);
        missing0 |= std::isnan(points[i].y);
    }
    const double lowest = lower(lower(low1, low0), lower(low3, low2));
    const double highest = higher(higher(high1, high0), higher(high3, high2));
    auto firstHolding = [&](double value) {
        for (std::size_t j = from; j < to; ++j) {
            if (points[j].y == value) {
                return j;
            }
        }
        return from;  // NaN first: nothing compares equal
    };
    return {firstHolding(lowest), firstHolding(highest), missing0 || missing1};
}

// A column with missing loads: the line breaks at each gap, so each stretch between gaps keeps
// its own first, last, lowest and highest point (merged, the column would join stretches the
// gap keeps apart), and each gap keeps its first point as the break. The points on both sides
// of every gap are then kept, wherever the gap lies against the columns.
void EmitColumnWithGaps(std::span<const ChartPoint> points, std::size_t from, std::size_t to,
                        std::vector<ChartPoint>& out) {
    std::size_t i = from;
    while (i < to) {
        if (std::isnan(points[i].y)) {
            if (out.empty() || !std::isnan(out.back().y)) {
                out.push_back(points[i]);
            }
            while (i < to && std::isnan(points[i].y)) {
                ++i;
            }
            continue;
        }
        std::size_t end = i + 1;
        while (end < to && !std::isnan(points[end].y)) {
            ++end;
        }
        const ColumnExtremes stretch = Extremes(points, i, end);
        EmitColumn(points, i, end - 1, stretch.lowest, stretch.highest, out);
        i = end;
    }
}

}  // namespace

double PixelColumns::Start(int column) const {
    if (!(scale_ > 0.0)) {
        return std::numeric_limits<double>::infinity();
    }
    // The division is off by a few units in the last place at most; walk to the exact edge.
    double x = x0_ + static_cast<double>(column) / scale_;
    while (Inside(x) < column) {
        x = std::nextafter(x, std::numeric_limits<double>::infinity());
    }
    for (double below = std::nextafter(x, -std::numeric_limits<double>::infinity());
         Inside(below) >= column;
         below = std::nextafter(x, -std::numeric_limits<double>::infinity())) {
        x = below;
    }
    return x;
}

namespace {

// Reduces the in-range points [from, to) column by column into `out`. Returns the first index
// of the last column and the size of `out` before it was emitted, so a growing series can take
// that column up again when points join it.
std::pair<std::size_t, std::size_t> ReduceColumns(std::span<const ChartPoint> points,
                                                  std::size_t from, std::size_t to,
                                                  const PixelColumns& bins,
                                                  std::vector<ChartPoint>& out) {
    std::pair<std::size_t, std::size_t> last{from, out.size()};
    std::size_t i = from;
    while (i < to) {
        last = {i, out.size()};
        const int column = bins.Inside(points[i].x);
        const double next = column + 1 < bins.Count() ? bins.Start(column + 1)
                                                      : std::numeric_limits<double>::infinity();
        const std::size_t stop = ColumnEnd(points, i, to, next);
        const ColumnExtremes found = Extremes(points, i, stop);
        if (found.missing) {
            EmitColumnWithGaps(points, i, stop, out);
        } else {
            EmitColumn(points, i, stop - 1, found.lowest, found.highest, out);
        }
        i = stop;
    }
    return last;
}

bool BeyondRange(const ChartPoint& p, double x1) {
    return x1 < p.x;
}

}  // namespace

std::vector<ChartPoint> M4Reduce(std::span<const ChartPoint> points, double x0, double x1,
                                 int width) {
    std::vector<ChartPoint> out;
    if (points.empty()) {
        return out;
    }
    const PixelColumns bins(x0, x1, width);
    const auto begin = std::lower_bound(points.begin(), points.end(), x0,
                                        [](const ChartPoint& p, double x) { return p.x < x; });
    const auto end = std::upper_bound(begin, points.end(), x1,
                                      [](double x, const ChartPoint& p) { return x < p.x; });
    const auto lo = static_cast<std::size_t>(begin - points.begin());
    const auto hi = static_cast<std::size_t>(end - points.begin());

    out.reserve(std::min(points.size(), 4 * static_cast<std::size_t>(bins.Count()) + 2));
    if (lo > 0) {
        out.push_back(points[lo - 1]);
    }
    ReduceColumns(points, lo, hi, bins, out);
    if (hi < points.size()) {
        out.push_back(points[hi]);
    }
    return out;
}

void GrowingReduction::Reset(const PixelColumns& columns) {
    columns_ = columns;
    reduced_.clear();
    read_ = 0;
    open_ = 0;
    closed_ = 0;
    inRange_ = false;
    ended_ = false;
}

void GrowingReduction::Extend(std::span<const ChartPoint> points) {
    const std::size_t count = points.size();
    if (ended_ || read_ >= count) {
        read_ = std::max(read_, count);
        return;
    }
    if (!inRange_) {
        // Points left of the range: only the last of them is kept, as the line's way in.
        std::size_t i = read_;
        while (i < count && points[i].x < columns_.X0()) {
            ++i;
        }
        if (i > read_) {
            reduced_.assign(1, points[i - 1]);
        }
        closed_ = reduced_.size();
        open_ = i;
        inRange_ = i < count;
    }
    if (inRange_) {
        // Up to read_ every point was inside the range (or the reduction had ended).
        const auto rest = points.subspan(std::max(read_, open_));
        const auto beyond = std::find_if(rest.begin(), rest.end(), [this](const ChartPoint& p) {
            return BeyondRange(p, columns_.X1());
        });
        const std::size_t hi = count - static_cast<std::size_t>(rest.end() - beyond);
        reduced_.resize(closed_);
        const auto [lastColumn, beforeLast] = ReduceColumns(points, open_, hi, columns_, reduced_);
        open_ = lastColumn;
        closed_ = beforeLast;
        if (hi < count) {
            // The first point right of the range is the line's way out; nothing after it counts.
            reduced_.push_back(points[hi]);
            ended_ = true;
        }
    }
    read_ = count;
}

}  // namespace kelvaro
