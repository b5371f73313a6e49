// Per-pixel-column reduction of a line series (M4): keeps, for each device pixel column, the
// points that decide what a one-pixel line looks like, so drawing stays cheap for long runs;
// for a series that grows while it is drawn, kept up to date from the new points alone.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <span>
#include <vector>

#include "station/ChartSink.h"

namespace kelvaro {

// The column arithmetic of the reduction. Drawing places points with the same arithmetic, so
// a point is drawn in exactly the column it was binned in; a separately computed mapping
// disagrees for points on a column boundary, and the line then gains or loses a pixel there.
class PixelColumns {
  public:
    // Columns of the range [x0, x1] drawn `width` pixels wide. A width below 1 counts as 1; an
    // empty or inverted range (x1 <= x0) puts every point of [x0, x1] into column 0.
    PixelColumns(double x0, double x1, int width)
        : x0_(x0),
          x1_(x1),
          columns_(std::max(width, 1)),
          scale_(x1 > x0 ? static_cast<double>(columns_) / (x1 - x0) : 0.0) {}

    bool operator==(const PixelColumns& other) const {
        return x0_ == other.x0_ && x1_ == other.x1_ && columns_ == other.columns_;
    }

    double X0() const { return x0_; }
    double X1() const { return x1_; }
    int Count() const { return columns_; }

    // Column of an x of [x0, x1]: floor((x - x0) / (x1 - x0) * width), clamped to the columns.
    int Inside(double x) const {
        const double c = std::floor((x - x0_) * scale_);
        return static_cast<int>(std::clamp(c, 0.0, static_cast<double>(columns_ - 1)));
    }
    // The smallest x whose column is `column` or beyond (for 1 <= column < Count()): the first
    // x past the end of column - 1, exact to the last bit, so a scan can compare x against it
    // instead of computing every point's column.
    double Start(int column) const;
    // Column of any x: as Inside for [x0, x1], beyond the columns (unclamped) outside it.
    double Any(double x) const {
        if (x >= x0_ && x <= x1_) {
            return Inside(x);
        }
        return std::floor((x - x0_) * scale_);
    }

  private:
    double x0_;
    double x1_;
    int columns_;
    double scale_;
};

// Reduces `points` (x ascending) for the visible range [x0, x1] drawn `width` pixels wide.
// Column of a point: PixelColumns(x0, x1, width).Inside(x). Per column the first, last, lowest
// and highest point are kept in x order, each once. The last point before x0 and the first
// point after x1 are kept too, so lines enter and leave the view at the right slope. A point
// whose y is NaN is a missing load, where the line has a gap: in a column with gaps, each
// stretch between them is reduced on its own and each gap keeps its first point, so the
// points on both sides of every gap stay. Without gaps the result holds at most 4 * width + 2
// points; each gap in view adds at most five.
std::vector<ChartPoint> M4Reduce(std::span<const ChartPoint> points, double x0, double x1,
                                 int width);

// M4Reduce of a series that only grows at its end, for columns that stay put: each Extend bins
// the points added since the last one, re-reading only the last column they may join, so a
// refresh costs the new points, not the whole series.
class GrowingReduction {
  public:
    // Forgets what was binned; the next Extend bins the series from its first point.
    void Reset(const PixelColumns& columns);
    // `points` is the whole series so far: those of the last call, unchanged, then the new ones.
    void Extend(std::span<const ChartPoint> points);
    // M4Reduce(points, X0, X1, Count) of the points of the last Extend.
    const std::vector<ChartPoint>& Points() const { return reduced_; }
    const PixelColumns& Columns() const { return columns_; }

  private:
    PixelColumns columns_{0.0, 1.0, 1};
    std::vector<ChartPoint> reduced_;
    std::size_t read_ = 0;    // points binned so far
    std::size_t open_ = 0;    // first point of the last column, which new points may join
    std::size_t closed_ = 0;  // reduced points before that column's
    bool inRange_ = false;    // a point at or right of X0 has come
    bool ended_ = false;      // a point right of X1 has come: no later point is drawn
};

}  // namespace kelvaro
