// Per-pixel-column reduction of a line series (M4): keeps, for each device pixel column, the
// points that decide what a one-pixel line looks like, so drawing stays cheap for long runs.
#pragma once

#include <span>
#include <vector>

#include "station/ChartSink.h"

namespace kelvaro {

// Reduces `points` (x ascending) for the visible range [x0, x1] drawn `width` pixels wide.
// Column of a point = floor((x - x0) / (x1 - x0) * width), clamped to [0, width - 1]; per column
// the first, last, lowest and highest point are kept in x order, each once. The last point
// before x0 and the first point after x1 are kept too, so lines enter and leave the view at the
// right slope. The result holds at most 4 * width + 2 points. A width below 1 counts as 1; an
// empty or inverted range (x1 <= x0) puts every point of [x0, x1] into one column.
std::vector<ChartPoint> M4Reduce(std::span<const ChartPoint> points, double x0, double x1,
                                 int width);

}  // namespace kelvaro
