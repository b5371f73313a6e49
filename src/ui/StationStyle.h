// The station's look: its colours and fonts, shared by the main window and every screen.
#pragma once

#include <QColor>
#include <QFont>

class QWidget;

namespace kelvaro {

// Window background of every screen.
QColor StationBackgroundColour();
// The bands that carry the buttons (buttonBar, bottomBar) and the progress window's panel.
QColor BandColour();
// Titles and status texts.
QColor NavyColour();

// "Verdana" at a pixel height, falling back to a wide sans-serif where Verdana is missing.
QFont VerdanaFont(int pixelSize, bool bold);
// The windows' default font, "MS Sans Serif" 11 px, with the same kind of fallback.
QFont DefaultWindowFont();

// Paints a widget's own background in `colour` (children inherit the palette).
void FillBackground(QWidget* widget, const QColor& colour);
// Text colour of a label or button.
void SetTextColour(QWidget* widget, const QColor& colour);

}  // namespace kelvaro
