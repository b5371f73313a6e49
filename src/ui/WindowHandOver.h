// The hand-over between the main window and a secondary screen: the screen takes the main
// window's place while it is open and gives it back when it closes. Every screen uses this.
#pragma once

#include <QString>

class QWidget;

namespace kelvaro {

class WindowHandOver {
  public:
    // Called first thing when the screen is shown: its caption becomes the main window's
    // caption followed by `suffix`; it is maximised when the main window is, otherwise it
    // takes the main window's left, top, width and height, in that order; the main window
    // is hidden. The screen's size is then held there, so the operator cannot resize it.
    static void OnShow(QWidget* screen, QWidget* mainWindow, const QString& suffix);

    // Called first thing when the screen closes: the main window takes the screen's left,
    // top, width and height and is shown again (before the screen disappears, so the
    // application never sees a moment without a visible window).
    static void OnClose(QWidget* screen, QWidget* mainWindow);
};

}  // namespace kelvaro
