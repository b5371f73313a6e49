#include "ui/SecondaryScreen.h"

#include <QShowEvent>

namespace kelvaro {

void SecondaryScreen::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // A spontaneous show is the window system restoring the window, not the screen opening.
    if (!event->spontaneous() && !shown_) {
        shown_ = true;
        OnShown();
    }
}

void SecondaryScreen::done(int result) {
    if (!closed_) {
        closed_ = true;
        OnClosing();
    }
    QDialog::done(result);
}

}  // namespace kelvaro
