#include "chart/CursorLayer.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <utility>

#include "chart/LineLayer.h"

namespace kelvaro {

namespace {

const QColor kCursorColour(0x60, 0x60, 0x60);
const QColor kBoxBorder(0x80, 0x80, 0x80);
// Nearly opaque: the lines under the box stay guessable without blurring its text.
const QColor kBoxFill(255, 255, 255, 235);
// Between the cursor line and the box, and between the box and the plot's top edge.
constexpr double kGap = 6.0;
constexpr double kPadding = 4.0;

QFont BoxFont() {
    return QFont(QStringLiteral("Verdana"), 8);
}

}  // namespace

CursorLayer::CursorLayer(QGraphicsItem* parent) : QGraphicsItem(parent) {
    setAcceptedMouseButtons(Qt::NoButton);
    setAcceptHoverEvents(false);
}

void CursorLayer::SetPlotArea(const QRectF& area, double pixelRatio) {
    const double ratio = pixelRatio > 0.0 ? pixelRatio : 1.0;
    if (area == area_ && ratio == pixelRatio_) {
        return;
    }
    Invalidate();
    prepareGeometryChange();
    area_ = area;
    pixelRatio_ = ratio;
    pixels_ = PlotPixels(area_, pixelRatio_);
    Place();
    Invalidate();
}

void CursorLayer::Show(int column, std::vector<Entry> entries) {
    if (shown_ && column == column_ && entries == entries_) {
        return;
    }
    Invalidate();
    shown_ = true;
    column_ = column;
    entries_ = std::move(entries);
    Place();
    Invalidate();
}

void CursorLayer::Place() {
    if (!shown_) {
        return;
    }
    const QFontMetricsF metrics(BoxFont());
    const double swatch = metrics.ascent();
    double width = 0.0;
    for (const Entry& entry : entries_) {
        const double indent = entry.swatch.isValid() ? swatch + kPadding : 0.0;
        width = std::max(width, indent + metrics.horizontalAdvance(entry.text));
    }
    const QSizeF size(
        std::ceil(width + 2 * kPadding),
        std::ceil(metrics.height() * static_cast<double>(entries_.size()) + 2 * kPadding));
    // Right of the line while it fits, else left of it; never out of the plot on the left.
    const double line = column_ / pixelRatio_;
    double left = line + 1.0 / pixelRatio_ + kGap;
    if (left + size.width() > area_.right()) {
        left = std::max(area_.left(), line - kGap - size.width());
    }
    box_ = QRectF(QPointF(std::round(left), std::round(area_.top() + kGap)), size);
}

void CursorLayer::Hide() {
    if (!shown_) {
        return;
    }
    Invalidate();
    shown_ = false;
    entries_.clear();
}

QString CursorLayer::Text() const {
    QStringList texts;
    for (const Entry& entry : entries_) {
        texts << entry.text;
    }
    return texts.join(QLatin1Char('\n'));
}

QRectF CursorLayer::LineRect() const {
    if (!shown_ || column_ < pixels_.left() || column_ > pixels_.right()) {
        return {};
    }
    return {column_ / pixelRatio_, pixels_.top() / pixelRatio_, 1.0 / pixelRatio_,
            pixels_.height() / pixelRatio_};
}

QRectF CursorLayer::BoxRect() const {
    return shown_ ? box_ : QRectF();
}

// Only the old and the new places are repainted: the lines under them are drawn again, the
// rest of the chart is left as it is.
void CursorLayer::Invalidate() {
    if (!shown_) {
        return;
    }
    const QRectF line = LineRect();
    if (!line.isEmpty()) {
        update(line);
    }
    // The border pen straddles the box's edge.
    update(box_.adjusted(-1.0, -1.0, 1.0, 1.0));
}

void CursorLayer::paint(QPainter* painter, const QStyleOptionGraphicsItem* /*option*/,
                        QWidget* /*widget*/) {
    if (!shown_ || pixels_.isEmpty()) {
        return;
    }
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setClipRect(QRectF(pixels_.left() / pixelRatio_, pixels_.top() / pixelRatio_,
                                pixels_.width() / pixelRatio_, pixels_.height() / pixelRatio_),
                         Qt::IntersectClip);
    const QRectF line = LineRect();
    if (!line.isEmpty()) {
        painter->fillRect(line, kCursorColour);
    }

    painter->setPen(QPen(kBoxBorder, 0));
    painter->setBrush(kBoxFill);
    painter->drawRect(box_);
    const QFont font = BoxFont();
    const QFontMetricsF metrics(font);
    painter->setFont(font);
    const double swatch = metrics.ascent();
    double top = box_.top() + kPadding;
    for (const Entry& entry : entries_) {
        double left = box_.left() + kPadding;
        if (entry.swatch.isValid()) {
            const double y = top + (metrics.height() - swatch) / 2.0;
            painter->setPen(Qt::NoPen);
            painter->setBrush(entry.swatch);
            painter->drawRect(QRectF(left, y, swatch, swatch));
            left += swatch + kPadding;
        }
        painter->setPen(Qt::black);
        painter->drawText(QPointF(left, top + metrics.ascent()), entry.text);
        top += metrics.height();
    }
    painter->restore();
}

}  // namespace kelvaro
