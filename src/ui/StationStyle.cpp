#include "ui/StationStyle.h"

#include <QPalette>
#include <QStringList>
#include <QWidget>

namespace kelvaro {

namespace {

// DejaVu Sans has Verdana's wide letter shapes, so captions sized for Verdana still fit.
QFont FontWithFallback(const QString& family, int pixelSize, bool bold) {
    QFont font;
    font.setFamilies({family, QStringLiteral("DejaVu Sans"), QStringLiteral("Nimbus Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

}  // namespace

QColor StationBackgroundColour() {
    return {165, 202, 239};
}

QColor BandColour() {
    return {111, 170, 230};
}

QColor NavyColour() {
    return {0, 0, 128};
}

QFont VerdanaFont(int pixelSize, bool bold) {
    return FontWithFallback(QStringLiteral("Verdana"), pixelSize, bold);
}

QFont DefaultWindowFont() {
    return FontWithFallback(QStringLiteral("MS Sans Serif"), 11, false);
}

void FillBackground(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

void SetTextColour(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::ButtonText, colour);
    widget->setPalette(palette);
}

}  // namespace kelvaro
