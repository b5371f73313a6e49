#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>

#include "KelvaroVersion.h"
#include "ui/WindowHandOver.h"

namespace kelvaro {
namespace {

class WindowHandOverTest : public ::testing::Test {
  protected:
    void SetUp() override {
        main.setWindowTitle(QStringLiteral("TOVAMU - Kelvaro [" KELVARO_VERSION "]"));
        main.setMinimumSize(1024, 700);
    }
    QWidget main;
    QWidget screen;
};

TEST_F(WindowHandOverTest, ScreenTakesTheNormalMainWindowsPlaceAndHidesIt) {
    main.move(100, 50);
    main.resize(1100, 760);
    main.show();

    WindowHandOver::OnShow(&screen, &main, QStringLiteral(" - Frequência"));
    screen.show();

    EXPECT_EQ(screen.windowTitle(),
              QStringLiteral("TOVAMU - Kelvaro [" KELVARO_VERSION "] - Frequência"));
    EXPECT_EQ(screen.pos(), QPoint(100, 50));
    EXPECT_EQ(screen.size(), QSize(1100, 760));
    EXPECT_FALSE(screen.isMaximized());
    EXPECT_FALSE(main.isVisible());
    // Fixed-size screens: the operator cannot drag another size.
    EXPECT_EQ(screen.minimumSize(), screen.maximumSize());
}

TEST_F(WindowHandOverTest, MaximisedMainWindowGivesAMaximisedScreen) {
    main.showMaximized();
    WindowHandOver::OnShow(&screen, &main, QStringLiteral(" - Comunicação"));
    screen.show();

    EXPECT_TRUE(screen.isMaximized());
    EXPECT_FALSE(main.isVisible());

    WindowHandOver::OnClose(&screen, &main);
    EXPECT_TRUE(main.isVisible());
    EXPECT_TRUE(main.isMaximized());
}

TEST_F(WindowHandOverTest, ClosingHandsTheScreensLastPlaceBackAndShowsTheMainWindow) {
    main.move(100, 50);
    main.resize(1100, 760);
    main.show();
    WindowHandOver::OnShow(&screen, &main, QStringLiteral(" - Calibração"));
    screen.show();

    // The operator drags the screen elsewhere (its size is held).
    screen.move(230, 140);
    WindowHandOver::OnClose(&screen, &main);

    EXPECT_TRUE(main.isVisible());
    EXPECT_EQ(main.pos(), QPoint(230, 140));
    EXPECT_EQ(main.size(), QSize(1100, 760));
}

TEST_F(WindowHandOverTest, RestoredScreenTakesTheMainWindowOutOfItsMaximisedState) {
    main.showMaximized();
    WindowHandOver::OnShow(&screen, &main, QString());
    screen.show();
    screen.showNormal();
    screen.move(40, 30);
    screen.resize(1050, 720);

    WindowHandOver::OnClose(&screen, &main);

    EXPECT_FALSE(main.isMaximized());
    EXPECT_EQ(main.pos(), QPoint(40, 30));
    EXPECT_EQ(main.size(), QSize(1050, 720));
}

}  // namespace
}  // namespace kelvaro
