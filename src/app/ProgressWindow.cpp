#include "app/ProgressWindow.h"

#include <QApplication>
#include <QEventLoop>
#include <QFrame>
#include <QHBoxLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>

#include "station/Dialogs.h"
#include "ui/StationStyle.h"

namespace kelvaro {

namespace {

constexpr int kMargin = 8;
constexpr int kClientWidth = 644;
constexpr int kClientHeight = 50;
// How long Show waits for the window system to put the window on screen.
constexpr int kExposeWaitMs = 200;

}  // namespace

ProgressWindow::ProgressWindow()
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setWindowTitle(QString::fromUtf8(kApplicationTitle));
    FillBackground(this, Qt::white);
    setFixedSize(kClientWidth + 2 * kMargin, kClientHeight + 2 * kMargin);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    progressPanel = new QFrame(this);
    progressPanel->setFrameStyle(QFrame::NoFrame);
    FillBackground(progressPanel, BandColour());
    layout->addWidget(progressPanel);

    auto* inner = new QHBoxLayout(progressPanel);
    inner->setContentsMargins(0, 0, 0, 0);
    progressBar = new QProgressBar(progressPanel);
    progressBar->setRange(0, maximum_);
    progressBar->setValue(0);
    progressBar->setTextVisible(false);
    inner->addWidget(progressBar, 1);
    cancelButton = new QPushButton(QStringLiteral("Cancelar"), progressPanel);
    cancelButton->setObjectName(QStringLiteral("btCancelar"));
    cancelButton->setFont(VerdanaFont(11, true));
    cancelButton->setCursor(Qt::PointingHandCursor);
    cancelButton->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    cancelButton->setFixedWidth(110);
    cancelButton->hide();
    inner->addWidget(cancelButton);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area = rect();
        area.moveCenter(screen->availableGeometry().center());
        move(area.topLeft());
    }
}

ProgressWindow::~ProgressWindow() = default;

void ProgressWindow::SetMaximum(int maximum) {
    maximum_ = std::max(maximum, 0);
    position_ = std::min(position_, maximum_);
    progressBar->setRange(0, maximum_);
    DrawBar();
}

void ProgressWindow::SetPosition(int position) {
    position_ = std::clamp(position, 0, maximum_);
    // Callers step through up to 144000 positions in a tight loop: drawing every step would
    // cost more than their work, so the bar is drawn on a clock, and always at the end. Even
    // the clock is only read when the step would move the bar by a pixel.
    const int pixel = DrawnPixel(position_);
    if (position_ == maximum_ || !sinceRepaint_.isValid() ||
        (pixel != drawnPixel_ && sinceRepaint_.elapsed() >= kRepaintIntervalMs)) {
        DrawBar();
    }
}

void ProgressWindow::Show() {
    show();
    raise();
    // The caller blocks the message loop right after this, so let the window system map the
    // window now; without it the bar would stay invisible until the work is done. Input is
    // held back so the operator cannot start anything in between.
    QElapsedTimer waited;
    waited.start();
    while (windowHandle() != nullptr && !windowHandle()->isExposed() &&
           waited.elapsed() < kExposeWaitMs) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
    }
    DrawBar();
}

void ProgressWindow::Close() {
    DrawBar();
    hide();
}

bool ProgressWindow::RunCancellable(const std::function<bool()>& step) {
    bool cancelled = false;
    QEventLoop loop;
    const QMetaObject::Connection onCancel =
        connect(cancelButton, &QPushButton::clicked, &loop, [&] {
            cancelled = true;
            loop.quit();
        });
    // A zero-interval timer runs one step whenever the window system has nothing to do.
    QTimer stepper;
    stepper.setInterval(0);
    connect(&stepper, &QTimer::timeout, &loop, [&] {
        if (!step()) {
            stepper.stop();
            loop.quit();
        }
    });

    setWindowModality(Qt::ApplicationModal);
    cancelButton->show();
    Show();
    cancelButton->setFocus();
    stepper.start();
    loop.exec();
    stepper.stop();
    disconnect(onCancel);
    Close();
    cancelButton->hide();
    setWindowModality(Qt::NonModal);
    return cancelled;
}

int ProgressWindow::DrawnPixel(int position) const {
    if (maximum_ <= 0) {
        return 0;
    }
    return static_cast<int>(static_cast<long long>(position) * progressBar->width() / maximum_);
}

void ProgressWindow::DrawBar() {
    drawnPixel_ = DrawnPixel(position_);
    progressBar->setValue(position_);
    if (isVisible()) {
        progressBar->repaint();
    }
    sinceRepaint_.start();
}

}  // namespace kelvaro
