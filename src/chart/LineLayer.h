// The load chart's data lines, drawn over the plot area of a QChart. Qt Charts' own line series
// rebuild a hit-test outline of every point on each change; this item only maps the points it
// holds to device pixels and draws one polyline per series, over a translucent band that shades
// a stretch of samples.
#pragma once

#include <QGraphicsItem>
#include <QPen>
#include <QPolygonF>
#include <QRect>
#include <QRectF>
#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

#include "chart/M4Reduce.h"
#include "station/ChartSink.h"

namespace kelvaro {

// The device pixels of a plot area: those whose centres lie inside it. Lines are drawn and
// clipped to exactly these, so a load on an axis bound lands on the first or last row.
QRect PlotPixels(const QRectF& area, double pixelRatio);

class LineLayer : public QGraphicsItem {
  public:
    // Lines for `seriesCount` series, numbered from 0, without colour or points until set.
    LineLayer(QGraphicsItem* parent, std::size_t seriesCount);

    // Drawn with the pen's colour, one device pixel wide, aliased.
    void SetColour(std::size_t series, const QColor& colour);
    // Plot area in the parent's coordinates and device pixels per coordinate unit.
    void SetPlotArea(const QRectF& area, double pixelRatio);
    // The load range shown from the bottom to the top of the plot area.
    void SetYRange(double low, double high);
    // How sample numbers map to device pixel columns: the plot's first column + columns.Any(x).
    // `columns` should count the plot's columns (PlotPixels) for the visible sample range.
    void SetColumns(const PixelColumns& columns);
    void SetPoints(std::size_t series, std::vector<ChartPoint> points);
    const std::vector<ChartPoint>& Points(std::size_t series) const { return points_[series]; }
    // Shades the samples of [from, to] (x, not necessarily whole) over the plot's full height,
    // under the lines, by the lines' column arithmetic; none for no band.
    void SetBand(std::optional<std::pair<double, double>> xs);
    // The band's device pixel columns, first and last, within the plot's; none when off it.
    std::optional<std::pair<int, int>> BandColumns() const;

    // Where a series' points land, in the parent's coordinates: x on the left edge of their
    // pixel column, y on the top edge of their pixel row. Loads of [low, high] land on the
    // plot's rows, high on the first and low on the last; samples of the visible range on its
    // columns. A missing load (y NaN) keeps its place with a NaN y: the line's gap.
    QPolygonF Mapped(std::size_t series) const;

    QRectF boundingRect() const override { return area_; }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

  private:
    // Where the band is painted, in the parent's coordinates; empty for none.
    QRectF BandRect() const;

    QRectF area_;
    QRect pixels_;
    double pixelRatio_ = 1.0;
    double yLow_ = 0.0;
    double yHigh_ = 1.0;
    PixelColumns columns_{0.0, 1.0, 1};
    std::vector<QColor> colours_;
    std::vector<std::vector<ChartPoint>> points_;
    std::optional<std::pair<double, double>> band_;
};

}  // namespace kelvaro
