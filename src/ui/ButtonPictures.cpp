#include "ui/ButtonPictures.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <cmath>
#include <numbers>

namespace kelvaro {

namespace {

// Drawn at twice the size so the pictures stay sharp on high-density screens.
constexpr int kPictureScale = 2;

struct Inks {
    QColor fill;
    QColor accent;
    QColor outline;
};

// Disabled pictures keep their shapes in two greys, as a greyed glyph does.
Inks InksFor(bool enabled, QColor fill, QColor accent, QColor outline) {
    if (!enabled) {
        return {QColor(200, 200, 200), QColor(225, 225, 225), QColor(150, 150, 150)};
    }
    return {fill, accent, outline};
}

QPen Outline(const Inks& inks, double width = 1.5) {
    return QPen(inks.outline, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void DrawPlay(QPainter& p, bool enabled) {
    const Inks inks =
        InksFor(enabled, QColor(40, 170, 60), QColor(140, 220, 150), QColor(0, 100, 20));
    p.setPen(Outline(inks));
    p.setBrush(inks.fill);
    p.drawPolygon(QPolygonF({{8, 4}, {28, 16}, {8, 28}}));
    p.setPen(Qt::NoPen);
    p.setBrush(inks.accent);
    p.drawPolygon(QPolygonF({{10.5, 8.5}, {18, 13}, {10.5, 17}}));
}

void DrawStop(QPainter& p, bool enabled) {
    const Inks inks =
        InksFor(enabled, QColor(210, 40, 40), QColor(245, 140, 140), QColor(120, 0, 0));
    p.setPen(Outline(inks));
    p.setBrush(inks.fill);
    p.drawRoundedRect(QRectF(6, 6, 20, 20), 3, 3);
    p.setPen(Qt::NoPen);
    p.setBrush(inks.accent);
    p.drawRoundedRect(QRectF(9, 9, 14, 5), 2, 2);
}

void DrawFrequency(QPainter& p, bool enabled) {
    const Inks inks = InksFor(enabled, QColor(0, 0, 128), QColor(111, 170, 230), QColor(0, 0, 128));
    p.setPen(QPen(inks.accent, 1.0));
    p.drawLine(QPointF(2, 16), QPointF(30, 16));
    QPainterPath wave;
    for (int i = 0; i <= 56; ++i) {
        const double x = 3.0 + i * 0.5;
        // Two whole periods across the picture.
        const double y = 16.0 - 10.0 * std::sin((x - 3.0) / 28.0 * 4.0 * std::numbers::pi);
        if (i == 0) {
            wave.moveTo(x, y);
        } else {
            wave.lineTo(x, y);
        }
    }
    p.setPen(QPen(inks.fill, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(wave);
}

void DrawCommunication(QPainter& p, bool enabled) {
    const Inks inks =
        InksFor(enabled, QColor(60, 60, 60), QColor(230, 190, 60), QColor(20, 20, 20));
    // The cable, leaving the plug downwards.
    p.setPen(QPen(inks.outline, 2.5, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    QPainterPath cable;
    cable.moveTo(16, 24);
    cable.cubicTo(16, 30, 26, 26, 28, 31);
    p.drawPath(cable);
    // Two brass prongs.
    p.setPen(Outline(inks, 1.0));
    p.setBrush(inks.accent);
    p.drawRect(QRectF(10, 2, 3.5, 9));
    p.drawRect(QRectF(18.5, 2, 3.5, 9));
    // The body.
    p.setBrush(inks.fill);
    QPainterPath body;
    body.moveTo(6, 11);
    body.lineTo(26, 11);
    body.lineTo(24, 20);
    body.quadTo(16, 26, 8, 20);
    body.closeSubpath();
    p.drawPath(body);
}

void DrawCalibration(QPainter& p, bool enabled) {
    const Inks inks =
        InksFor(enabled, QColor(120, 120, 130), QColor(200, 160, 60), QColor(40, 40, 50));
    p.setPen(Outline(inks));
    p.setBrush(inks.fill);
    // Foot and post.
    p.drawRect(QRectF(9, 27, 14, 3));
    p.drawRect(QRectF(15, 7, 2, 20));
    // Beam.
    p.drawRect(QRectF(3, 7, 26, 2));
    p.drawEllipse(QPointF(16, 5), 2, 2);
    // Strings and pans.
    p.drawLine(QPointF(5, 9), QPointF(2, 18));
    p.drawLine(QPointF(5, 9), QPointF(9, 18));
    p.drawLine(QPointF(27, 9), QPointF(23, 18));
    p.drawLine(QPointF(27, 9), QPointF(30, 18));
    p.setBrush(inks.accent);
    p.drawChord(QRectF(1, 14, 9, 8), 180 * 16, 180 * 16);
    p.drawChord(QRectF(22, 14, 9, 8), 180 * 16, 180 * 16);
}

void DrawExit(QPainter& p, bool enabled) {
    const Inks inks =
        InksFor(enabled, QColor(150, 90, 40), QColor(210, 40, 40), QColor(70, 40, 10));
    // Door frame and the door swung open.
    p.setPen(Outline(inks));
    p.setBrush(enabled ? QColor(60, 60, 60) : QColor(190, 190, 190));
    p.drawRect(QRectF(4, 3, 16, 26));
    p.setBrush(inks.fill);
    p.drawPolygon(QPolygonF({{4, 3}, {13, 6}, {13, 31}, {4, 29}}));
    p.setBrush(inks.accent);
    p.drawEllipse(QPointF(11, 18), 1.2, 1.2);
    // The way out.
    p.setPen(QPen(inks.accent, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(QPointF(17, 16), QPointF(29, 16));
    p.drawPolyline(QPolygonF({{24, 11}, {29, 16}, {24, 21}}));
}

void DrawBack(QPainter& p, bool enabled) {
    const Inks inks =
        InksFor(enabled, QColor(30, 90, 200), QColor(140, 190, 250), QColor(0, 0, 128));
    p.setPen(Outline(inks));
    p.setBrush(inks.fill);
    p.drawPolygon(QPolygonF({{3, 16}, {15, 4}, {15, 11}, {29, 11}, {29, 21}, {15, 21}, {15, 28}}));
    p.setPen(Qt::NoPen);
    p.setBrush(inks.accent);
    p.drawRect(QRectF(16, 13, 11, 2.5));
}

void DrawEdit(QPainter& p, bool enabled) {
    const Inks inks =
        InksFor(enabled, QColor(240, 200, 40), QColor(240, 160, 160), QColor(90, 70, 0));
    p.setPen(Outline(inks, 1.2));
    p.translate(16, 16);
    p.rotate(-45);
    // Body, eraser and sharpened point, along the diagonal.
    p.setBrush(inks.fill);
    p.drawRect(QRectF(-9, -3.5, 16, 7));
    p.setBrush(inks.accent);
    p.drawRect(QRectF(-13, -3.5, 4, 7));
    p.setBrush(enabled ? QColor(240, 220, 180) : QColor(225, 225, 225));
    p.drawPolygon(QPolygonF({{7, -3.5}, {14, 0}, {7, 3.5}}));
    p.setBrush(inks.outline);
    p.drawPolygon(QPolygonF({{11.5, -1.2}, {14, 0}, {11.5, 1.2}}));
}

void DrawOpen(QPainter& p, bool enabled) {
    const Inks inks =
        InksFor(enabled, QColor(240, 190, 60), QColor(250, 225, 140), QColor(120, 80, 0));
    p.setPen(Outline(inks));
    // The folder's back with its tab, a sheet inside, and the front swung open.
    p.setBrush(inks.fill);
    p.drawPolygon(QPolygonF({{3, 8}, {11, 8}, {14, 11}, {26, 11}, {26, 27}, {3, 27}}));
    p.setBrush(enabled ? QColor(255, 255, 255) : QColor(235, 235, 235));
    p.drawRect(QRectF(7, 5, 15, 14));
    p.setBrush(inks.accent);
    p.drawPolygon(QPolygonF({{3, 27}, {8, 15}, {30, 15}, {26, 27}}));
}

void DrawSave(QPainter& p, bool enabled) {
    const Inks inks =
        InksFor(enabled, QColor(30, 90, 200), QColor(230, 230, 230), QColor(0, 0, 90));
    p.setPen(Outline(inks));
    // The diskette, its label and its shutter.
    p.setBrush(inks.fill);
    p.drawPolygon(QPolygonF({{4, 4}, {25, 4}, {28, 7}, {28, 28}, {4, 28}}));
    p.setBrush(inks.accent);
    p.drawRect(QRectF(8, 4, 15, 9));
    p.setBrush(enabled ? QColor(255, 255, 255) : QColor(235, 235, 235));
    p.drawRect(QRectF(8, 17, 16, 11));
    p.setPen(QPen(inks.outline, 1.0));
    p.drawLine(QPointF(11, 21), QPointF(21, 21));
    p.drawLine(QPointF(11, 24), QPointF(21, 24));
    p.setBrush(inks.outline);
    p.drawRect(QRectF(18, 6, 3, 5));
}

}  // namespace

QPixmap DrawButtonPicture(ButtonPicture picture, bool enabled) {
    QPixmap pixmap(kButtonPictureSize * kPictureScale, kButtonPictureSize * kPictureScale);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(kPictureScale, kPictureScale);
        switch (picture) {
            case ButtonPicture::Play:
                DrawPlay(painter, enabled);
                break;
            case ButtonPicture::Stop:
                DrawStop(painter, enabled);
                break;
            case ButtonPicture::Frequency:
                DrawFrequency(painter, enabled);
                break;
            case ButtonPicture::Communication:
                DrawCommunication(painter, enabled);
                break;
            case ButtonPicture::Calibration:
                DrawCalibration(painter, enabled);
                break;
            case ButtonPicture::Exit:
                DrawExit(painter, enabled);
                break;
            case ButtonPicture::Back:
                DrawBack(painter, enabled);
                break;
            case ButtonPicture::Edit:
                DrawEdit(painter, enabled);
                break;
            case ButtonPicture::Open:
                DrawOpen(painter, enabled);
                break;
            case ButtonPicture::Save:
                DrawSave(painter, enabled);
                break;
        }
    }
    pixmap.setDevicePixelRatio(kPictureScale);
    return pixmap;
}

QIcon ButtonIcon(ButtonPicture picture) {
    QIcon icon;
    icon.addPixmap(DrawButtonPicture(picture, true), QIcon::Normal);
    icon.addPixmap(DrawButtonPicture(picture, false), QIcon::Disabled);
    return icon;
}

}  // namespace kelvaro
