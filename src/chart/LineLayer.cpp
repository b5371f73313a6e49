#include "chart/LineLayer.h"

#include <QLineF>
#include <QList>
#include <QPainter>
#include <QStyleOptionGraphicsItem>
#include <algorithm>
#include <cmath>
#include <utility>

namespace kelvaro {

namespace {

// Far beyond any screen, yet small enough that the rasteriser's clipping stays exact.
constexpr double kFarPixels = 1e7;
// Light enough that every line stays readable through it.
const QColor kBandColour(0x33, 0x99, 0xFF, 0x40);

// The first pixel whose centre is at or past `edge`.
int FirstPixelFrom(double edge) {
    return static_cast<int>(std::ceil(edge - 0.5));
}

}  // namespace

QRect PlotPixels(const QRectF& area, double pixelRatio) {
    const int left = FirstPixelFrom(area.left() * pixelRatio);
    const int top = FirstPixelFrom(area.top() * pixelRatio);
    const int right = FirstPixelFrom(area.right() * pixelRatio);
    const int bottom = FirstPixelFrom(area.bottom() * pixelRatio);
    return {left, top, std::max(right - left, 0), std::max(bottom - top, 0)};
}

LineLayer::LineLayer(QGraphicsItem* parent, std::size_t seriesCount)
    : QGraphicsItem(parent), colours_(seriesCount), points_(seriesCount) {
    setAcceptedMouseButtons(Qt::NoButton);
    setAcceptHoverEvents(false);
    setFlag(ItemHasNoContents, false);
    // For the exposed rectangle: the cursor read-out repaints a line and a box, not the plot.
    setFlag(ItemUsesExtendedStyleOption, true);
}

void LineLayer::SetColour(std::size_t series, const QColor& colour) {
    colours_[series] = colour;
    update();
}

// The setters repaint only on a change, and new points only over the columns they change: a
// run drawn live adds a column's worth of points ten times a second, and repainting the whole
// plot for them would cost the acquisition's thread ten times the CPU.
void LineLayer::SetPlotArea(const QRectF& area, double pixelRatio) {
    const double ratio = pixelRatio > 0.0 ? pixelRatio : 1.0;
    if (area == area_ && ratio == pixelRatio_) {
        return;
    }
    if (area != area_) {
        prepareGeometryChange();
        area_ = area;
    }
    pixelRatio_ = ratio;
    pixels_ = PlotPixels(area_, pixelRatio_);
    update();
}

// The band follows the mouse: only the columns it leaves or reaches are repainted.
void LineLayer::SetBand(std::optional<std::pair<double, double>> xs) {
    if (xs == band_) {
        return;
    }
    const QRectF before = BandRect();
    band_ = xs;
    const QRectF after = BandRect();
    if (!before.isEmpty()) {
        update(before);
    }
    if (!after.isEmpty()) {
        update(after);
    }
}

std::optional<std::pair<int, int>> LineLayer::BandColumns() const {
    if (!band_ || pixels_.isEmpty()) {
        return std::nullopt;
    }
    const double first = std::max(columns_.Any(band_->first), 0.0);
    const double last =
        std::min(columns_.Any(band_->second), static_cast<double>(pixels_.width() - 1));
    if (!(first <= last)) {
        return std::nullopt;
    }
    return std::pair(pixels_.left() + static_cast<int>(first),
                     pixels_.left() + static_cast<int>(last));
}

QRectF LineLayer::BandRect() const {
    const auto columns = BandColumns();
    if (!columns) {
        return {};
    }
    return {QPointF(columns->first / pixelRatio_, pixels_.top() / pixelRatio_),
            QPointF((columns->second + 1) / pixelRatio_, (pixels_.bottom() + 1) / pixelRatio_)};
}

void LineLayer::SetYRange(double low, double high) {
    if (low == yLow_ && high == yHigh_) {
        return;
    }
    yLow_ = low;
    yHigh_ = high;
    update();
}

void LineLayer::SetColumns(const PixelColumns& columns) {
    if (columns == columns_) {
        return;
    }
    columns_ = columns;
    update();
}

void LineLayer::SetPoints(std::size_t series, std::vector<ChartPoint> points) {
    std::vector<ChartPoint>& held = points_[series];
    // Points are in x order, old and new: everything from the first one that differs to the
    // last of either changes, and with it the segment that leads to it.
    std::size_t same = 0;
    while (same < held.size() && same < points.size() && held[same].x == points[same].x &&
           (held[same].y == points[same].y ||
            (std::isnan(held[same].y) && std::isnan(points[same].y)))) {
        ++same;
    }
    if (same == held.size() && same == points.size()) {
        return;
    }
    const double from = same > 0 ? points[same - 1].x : -kFarPixels;
    double to = -kFarPixels;
    if (!held.empty()) {
        to = held.back().x;
    }
    if (!points.empty()) {
        to = std::max(to, points.back().x);
    }
    held = std::move(points);
    if (pixels_.isEmpty() || same == 0) {
        update();
        return;
    }
    // A device pixel of margin each side, for the square caps.
    const double left = (pixels_.left() + std::floor(columns_.Any(from)) - 1.0) / pixelRatio_;
    const double right = (pixels_.left() + std::floor(columns_.Any(to)) + 2.0) / pixelRatio_;
    update(QRectF(QPointF(std::max(left, area_.left() - 1.0), area_.top() - 1.0),
                  QPointF(std::min(right, area_.right() + 1.0), area_.bottom() + 1.0)));
}

// Every point of a pixel column is drawn at that column's x and every y at a whole pixel row:
// within a column the line is then vertical runs between the column's points, whose pixels are
// those from its lowest to its highest point whatever the order in between. That is what makes
// the first, last, lowest and highest point of a column draw the same pixels as all of them.
// Rows use the columns' arithmetic on the load range turned upside down, so the axis maximum
// (always some plate's peak) lands on the first row and the minimum on the last, inside the
// clip, instead of on a fractional edge that rounds out of it.
QPolygonF LineLayer::Mapped(std::size_t series) const {
    const std::vector<ChartPoint>& points = points_[series];
    QPolygonF mapped;
    if (pixels_.isEmpty() || !(yHigh_ > yLow_)) {
        return mapped;
    }
    mapped.reserve(static_cast<qsizetype>(points.size()));
    const PixelColumns rows(-yHigh_, -yLow_, pixels_.height());
    for (const ChartPoint& p : points) {
        const double column =
            std::clamp(pixels_.left() + columns_.Any(p.x), -kFarPixels, kFarPixels);
        // A missing load stays, its row NaN (clamp keeps a NaN), as the gap it makes in the line.
        const double row = std::clamp(pixels_.top() + rows.Any(-p.y), -kFarPixels, kFarPixels);
        if (std::isnan(column)) {
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
// exactly its lowest to highest row. Only the segments reaching the exposed columns are drawn
// (x grows along a series): the rest would be clipped away anyway.
void LineLayer::paint(QPainter* painter, const QStyleOptionGraphicsItem* option,
                      QWidget* /*widget*/) {
    if (pixels_.isEmpty()) {
        return;
    }
    // A device pixel of margin: a segment's square cap reaches half a pixel past its end.
    const double margin = 1.0 / pixelRatio_;
    const QRectF exposed = option != nullptr && !option->exposedRect.isEmpty()
                               ? option->exposedRect.adjusted(-margin, 0.0, margin, 0.0)
                               : area_;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    const QRectF clip(pixels_.left() / pixelRatio_, pixels_.top() / pixelRatio_,
                      pixels_.width() / pixelRatio_, pixels_.height() / pixelRatio_);
    painter->setClipRect(clip, Qt::IntersectClip);
    const QRectF band = BandRect();
    if (!band.isEmpty()) {
        painter->fillRect(band, kBandColour);
    }
    painter->setBrush(Qt::NoBrush);
    for (std::size_t i = 0; i < points_.size(); ++i) {
        const QPolygonF mapped = Mapped(i);
        if (mapped.isEmpty()) {
            continue;
        }
        QPen pen(colours_[i], 1, Qt::SolidLine, Qt::SquareCap);
        pen.setCosmetic(true);
        painter->setPen(pen);
        const auto byX = [](const QPointF& p, double x) { return p.x() < x; };
        // The last point left of the exposed columns and the first right of them end the
        // segments that cross into them.
        const auto from = std::lower_bound(mapped.begin(), mapped.end(), exposed.left(), byX);
        const auto to = std::lower_bound(from, mapped.end(), exposed.right(), byX);
        const qsizetype first = std::max<qsizetype>(from - mapped.begin() - 1, 0);
        const qsizetype last = std::min<qsizetype>(to - mapped.begin(), mapped.size() - 1);
        // A gap (a missing load, y NaN) breaks the line: no segment reaches across it, and a
        // sample alone between gaps, or alone in the series, is a dot.
        QList<QLineF> segments;
        segments.reserve(std::max<qsizetype>(last - first, 0));
        bool previousMissing = first == 0 || std::isnan(mapped[first - 1].y());
        for (qsizetype k = first; k <= last; ++k) {
            const bool here = !std::isnan(mapped[k].y());
            if (here && !previousMissing && k > first) {
                segments.append(QLineF(mapped[k - 1], mapped[k]));
            } else if (here && previousMissing &&
                       (k + 1 == mapped.size() || std::isnan(mapped[k + 1].y()))) {
                painter->drawPoint(mapped[k]);
            }
            previousMissing = !here;
        }
        painter->drawLines(segments);
    }
    painter->restore();
}

}  // namespace kelvaro
