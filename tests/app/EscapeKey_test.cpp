#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

#include "app/EscapeKey.h"

namespace kelvaro {
namespace {

void Send(QWidget& target, QEvent::Type type, int key, bool autoRepeat = false) {
    QKeyEvent event(type, key, Qt::NoModifier, QString(), autoRepeat);
    QApplication::sendEvent(&target, &event);
}

// Without an X server the monitor follows the station's own key events.
TEST(EscapeKeyTest, FollowsEscapeInAnyOfTheStationsWindows) {
    EscapeKeyMonitor monitor;
    if (monitor.ReadsKeyboardDirectly()) {
        GTEST_SKIP() << "the key state comes from the X server here";
    }
    QWidget mainWindow;
    QWidget otherScreen;
    EXPECT_FALSE(monitor.Held());

    Send(otherScreen, QEvent::KeyPress, Qt::Key_Escape);
    EXPECT_TRUE(monitor.Held());
    Send(mainWindow, QEvent::KeyPress, Qt::Key_A);
    EXPECT_TRUE(monitor.Held());
    Send(otherScreen, QEvent::KeyRelease, Qt::Key_Escape, true);  // auto-repeat, still held
    EXPECT_TRUE(monitor.Held());
    Send(mainWindow, QEvent::KeyRelease, Qt::Key_Escape);
    EXPECT_FALSE(monitor.Held());
}

TEST(EscapeKeyTest, LosingTheFocusForgetsAHeldEscape) {
    EscapeKeyMonitor monitor;
    if (monitor.ReadsKeyboardDirectly()) {
        GTEST_SKIP() << "the key state comes from the X server here";
    }
    QWidget window;
    Send(window, QEvent::KeyPress, Qt::Key_Escape);
    ASSERT_TRUE(monitor.Held());
    QEvent deactivate(QEvent::ApplicationDeactivate);
    QApplication::sendEvent(qApp, &deactivate);
    EXPECT_FALSE(monitor.Held());
}

}  // namespace
}  // namespace kelvaro
