#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

#include "LayoutChecks.h"
#include "app/ProgressWindow.h"

namespace kelvaro {
namespace {

class PaintCounter : public QObject {
  public:
    int paints = 0;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints;
        }
        return QObject::eventFilter(watched, event);
    }
};

TEST(ProgressWindowTest, CreatedHiddenBorderlessAndCentredWithAWhiteMargin) {
    ProgressWindow progress;
    EXPECT_FALSE(progress.isVisible());
    EXPECT_TRUE(progress.windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(progress.Maximum(), 100);
    EXPECT_EQ(progress.Position(), 0);
    progress.show();
    QApplication::processEvents();
    testing::ExpectLaidOut(&progress);
    testing::ExpectCentredIn(progress.progressPanel, &progress);
    EXPECT_TRUE(
        progress.rect().adjusted(1, 1, -1, -1).contains(progress.progressPanel->geometry()));
    const QRect desktop = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE(std::abs(progress.geometry().center().x() - desktop.center().x()), 1);
    EXPECT_LE(std::abs(progress.geometry().center().y() - desktop.center().y()), 1);

    // "Cancelar" stands beside the bar while a measurement can be cancelled.
    progress.RunCancellable([&] {
        testing::ExpectLaidOut(&progress);
        testing::ExpectLeftToRight({progress.progressBar, progress.cancelButton});
        return false;
    });
}

TEST(ProgressWindowTest, ExportSizedRangeBeyondSixteenBits) {
    ProgressWindow progress;
    progress.SetMaximum(144000);
    progress.SetPosition(0);
    progress.Show();
    EXPECT_TRUE(progress.isVisible());
    progress.SetPosition(70000);
    EXPECT_EQ(progress.Position(), 70000);
    progress.SetPosition(144000);
    EXPECT_EQ(progress.Position(), 144000);
    EXPECT_EQ(progress.progressBar->maximum(), 144000);
    EXPECT_EQ(progress.progressBar->value(), 144000);
    progress.Close();
    EXPECT_FALSE(progress.isVisible());
}

TEST(ProgressWindowTest, PositionsOutsideTheRangeStopAtItsEnds) {
    ProgressWindow progress;
    progress.SetMaximum(50);
    progress.SetPosition(51);
    EXPECT_EQ(progress.Position(), 50);
    progress.SetPosition(-3);
    EXPECT_EQ(progress.Position(), 0);
    // A smaller maximum from the next user pulls a left-over position back in.
    progress.SetPosition(40);
    progress.SetMaximum(20);
    EXPECT_EQ(progress.Position(), 20);
}

TEST(ProgressWindowTest, NextUserStartsFromThePositionItSets) {
    ProgressWindow progress;
    progress.SetMaximum(600);
    progress.Show();
    progress.SetPosition(250);  // a calibration stopped early
    progress.Close();

    progress.SetMaximum(144000);
    progress.SetPosition(0);
    progress.Show();
    EXPECT_EQ(progress.Position(), 0);
    EXPECT_EQ(progress.progressBar->value(), 0);
    progress.Close();
}

TEST(ProgressWindowTest, StreamingEveryPositionDrawsOnAClockAndTheLastOneAlways) {
    ProgressWindow progress;
    PaintCounter counter;
    progress.progressBar->installEventFilter(&counter);
    progress.SetMaximum(144000);
    progress.SetPosition(0);
    progress.Show();
    counter.paints = 0;

    QElapsedTimer clock;
    clock.start();
    for (int row = 1; row <= 144000; ++row) {
        progress.SetPosition(row);
    }
    const qint64 elapsedMs = clock.elapsed();

    std::printf("144000 positions in %lld ms, %d paints\n", static_cast<long long>(elapsedMs),
                counter.paints);
    EXPECT_GE(counter.paints, 1);  // the last position was drawn
    EXPECT_LE(counter.paints, elapsedMs / ProgressWindow::kRepaintIntervalMs + 2);
    EXPECT_EQ(progress.progressBar->value(), 144000);
    progress.Close();
}

}  // namespace
}  // namespace kelvaro
