#include "chart/LineLayer.h"

#include <QLineF>
#include <QList>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <utility>

namespace kelvaro {

namespace {

// Far beyond any screen, yet small enough that the rasteriser's clipping stays exact.
constexpr double kFarPixels = 1e7;

}  // namespace

LineLayer::LineLayer(QGraphicsItem* parent) : QGraphicsItem(parent) {
    setAcceptedMouseButtons(Qt::NoButton);
    setAcceptHoverEvents(false);
    setFlag(ItemHasNoContents, false);
}

void LineLayer::SetColour(std::size_t series, const QColor& colour) {
    colours_[series] = colour;
    update();
}

void LineLayer::SetPlotArea(const QRectF& area, double pixelRatio) {
    if (area != area_) {
        prepareGeometryChange();
        area_ = area;
    }
    pixelRatio_ = pixelRatio > 0.0 ? pixelRatio : 1.0;
    update();
}

void LineLayer::SetYRange(double low, double high) {
    yLow_ = low;
    yHigh_ = high;
    update();
}

void LineLayer::SetColumns(const PixelColumns& columns, double firstColumn) {
    columns_ = columns;
    firstColumn_ = firstColumn;
    update();
}

void LineLayer::SetPoints(std::size_t series, std::vector<ChartPoint> points) {
    points_[series] = std::move(points);
    update();
}

// Every point of a pixel column is drawn at that column's x and every y at a whole pixel row:
// within a column the line is then vertical runs between the column's points, whose pixels are
// those from its lowest to its highest point whatever the order in between. That is what makes
// the first, last, lowest and highest point of a column draw the same pixels as all of them.
QPolygonF LineLayer::Mapped(std::size_t series) const {
    const std::vector<ChartPoint>& points = points_[series];
    QPolygonF mapped;
    if (area_.isEmpty() || !(yHigh_ > yLow_)) {
        return mapped;
    }
    mapped.reserve(static_cast<qsizetype>(points.size()));
    const double top = area_.top() * pixelRatio_;
    const double perLoad = area_.height() * pixelRatio_ / (yHigh_ - yLow_);
    for (const ChartPoint& p : points) {
        const double column = std::clamp(firstColumn_ + columns_.Any(p.x), -kFarPixels, kFarPixels);
        const double row =
            std::floor(std::clamp(top + (yHigh_ - p.y) * perLoad, -kFarPixels, kFarPixels));
        if (std::isnan(row)) {
            continue;
        }
        mapped.append(QPointF(column / pixelRatio_, row / pixelRatio_));
    }
    return mapped;
}

// Separate segments, not a polyline: Qt's aliased polyline drops or adds a pixel where the
// direction changes, depending on the segment before, so the same column could come out one
// pixel different for all points and for their reduction. A lone segment with square caps
// covers both its end pixels whatever came before, and a column's vertical runs then cover
// exactly its lowest to highest row.
void LineLayer::paint(QPainter* painter, const QStyleOptionGraphicsItem* /*option*/,
                      QWidget* /*widget*/) {
    if (area_.isEmpty()) {
        return;
    }
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setClipRect(area_, Qt::IntersectClip);
    painter->setBrush(Qt::NoBrush);
    for (std::size_t i = 0; i < kSeriesCount; ++i) {
        const QPolygonF mapped = Mapped(i);
        if (mapped.size() < 2) {
            continue;
        }
        QList<QLineF> segments;
        segments.reserve(mapped.size() - 1);
        for (qsizetype k = 1; k < mapped.size(); ++k) {
            segments.append(QLineF(mapped[k - 1], mapped[k]));
        }
        QPen pen(colours_[i], 1, Qt::SolidLine, Qt::SquareCap);
        pen.setCosmetic(true);
        painter->setPen(pen);
        painter->drawLines(segments);
    }
    painter->restore();
}

}  // namespace kelvaro
