#include "ui/WindowHandOver.h"

#include <QWidget>

namespace kelvaro {

void WindowHandOver::OnShow(QWidget* screen, QWidget* mainWindow, const QString& suffix) {
    screen->setWindowTitle(mainWindow->windowTitle() + suffix);
    if (mainWindow->isMaximized()) {
        // A size lock would stop the window manager from maximising.
        screen->setMinimumSize(0, 0);
        screen->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        screen->setWindowState(screen->windowState() | Qt::WindowMaximized);
    } else {
        screen->setWindowState(screen->windowState() & ~Qt::WindowMaximized);
        screen->move(mainWindow->x(), mainWindow->y());
        screen->setFixedSize(mainWindow->width(), mainWindow->height());
    }
    mainWindow->hide();
}

void WindowHandOver::OnClose(QWidget* screen, QWidget* mainWindow) {
    const bool bothMaximised = screen->isMaximized() && mainWindow->isMaximized();
    if (!bothMaximised) {
        // Also when the operator restored a maximised screen: the main window follows it.
        mainWindow->setWindowState(mainWindow->windowState() & ~Qt::WindowMaximized);
        mainWindow->move(screen->x(), screen->y());
        mainWindow->resize(screen->width(), screen->height());
    }
    mainWindow->show();
}

}  // namespace kelvaro
