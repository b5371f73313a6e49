#include "app/TfrmProgBar.h"

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

TfrmProgBar::TfrmProgBar()
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setWindowTitle(QString::fromUtf8(kApplicationTitle));
    FillBackground(this, Qt::white);
    setFixedSize(kClientWidth + 2 * kMargin, kClientHeight + 2 * kMargin);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    pnProgBar = new QFrame(this);
    pnProgBar->setFrameStyle(QFrame::NoFrame);
    FillBackground(pnProgBar, BandColour());
    layout->addWidget(pnProgBar);

    auto* inner = new QHBoxLayout(pnProgBar);
    inner->setContentsMargins(0, 0, 0, 0);
    pbProgBar = new QProgressBar(pnProgBar);
    pbProgBar->setRange(0, maximum_);
    pbProgBar->setValue(0);
    pbProgBar->setTextVisible(false);
    inner->addWidget(pbProgBar, 1);
    btCancelar = new QPushButton(QStringLiteral("Cancelar"), pnProgBar);
    btCancelar->setObjectName(QStringLiteral("btCancelar"));
    btCancelar->setFont(VerdanaFont(11, true));
    btCancelar->setCursor(Qt::PointingHandCursor);
    btCancelar->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    btCancelar->setFixedWidth(110);
    btCancelar->hide();
    inner->addWidget(btCancelar);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area = rect();
        area.moveCenter(screen->availableGeometry().center());
        move(area.topLeft());
    }
}

TfrmProgBar::~TfrmProgBar() = default;

void TfrmProgBar::SetMaximum(int maximum) {
    maximum_ = std::max(maximum, 0);
    position_ = std::min(position_, maximum_);
    pbProgBar->setRange(0, maximum_);
    DrawBar();
}

void TfrmProgBar::SetPosition(int position) {
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

void TfrmProgBar::Show() {
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

void TfrmProgBar::Close() {
    DrawBar();
    hide();
}

bool TfrmProgBar::RunCancellable(const std::function<bool()>& step) {
    bool cancelled = false;
    QEventLoop loop;
    const QMetaObject::Connection onCancel = connect(btCancelar, &QPushButton::clicked, &loop, [&] {
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
    btCancelar->show();
    Show();
    btCancelar->setFocus();
    stepper.start();
    loop.exec();
    stepper.stop();
    disconnect(onCancel);
    Close();
    btCancelar->hide();
    setWindowModality(Qt::NonModal);
    return cancelled;
}

int TfrmProgBar::DrawnPixel(int position) const {
    if (maximum_ <= 0) {
        return 0;
    }
    return static_cast<int>(static_cast<long long>(position) * pbProgBar->width() / maximum_);
}

void TfrmProgBar::DrawBar() {
    drawnPixel_ = DrawnPixel(position_);
    pbProgBar->setValue(position_);
    if (isVisible()) {
        pbProgBar->repaint();
    }
    sinceRepaint_.start();
}

}  // namespace kelvaro
