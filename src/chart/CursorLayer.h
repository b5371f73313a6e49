// The load chart's cursor read-out: a thin vertical line on one device pixel column of the plot
// and a small box beside it with the sample number and the loads there. Moving it repaints only
// where the line and the box were and now are.
#pragma once

#include <QColor>
#include <QGraphicsItem>
#include <QRect>
#include <QRectF>
#include <QString>
#include <vector>

namespace kelvaro {

class CursorLayer : public QGraphicsItem {
  public:
    // One line of the box; a valid colour puts a swatch of it before the text, as in the legend.
    struct Entry {
        QString text;
        QColor swatch;
        bool operator==(const Entry& other) const = default;
    };

    explicit CursorLayer(QGraphicsItem* parent);

    // Plot area in the parent's coordinates and device pixels per coordinate unit.
    void SetPlotArea(const QRectF& area, double pixelRatio);
    // Shows the line on device pixel column `column` (clipped to the plot) and the box.
    void Show(int column, std::vector<Entry> entries);
    void Hide();

    bool Shown() const { return shown_; }
    int Column() const { return column_; }
    // The box's lines, one a line; empty when hidden.
    QString Text() const;
    // Where the line and the box are painted, in the parent's coordinates; empty when hidden.
    QRectF LineRect() const;
    QRectF BoxRect() const;

    QRectF boundingRect() const override { return area_; }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

  private:
    // Puts the box beside the line, inside the plot.
    void Place();
    void Invalidate();

    QRectF area_;
    QRect pixels_;
    double pixelRatio_ = 1.0;
    bool shown_ = false;
    int column_ = 0;
    std::vector<Entry> entries_;
    QRectF box_;
};

}  // namespace kelvaro
