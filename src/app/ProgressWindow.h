// The progress window: one borderless bar centred on the desktop, shown above the current
// screen while a long operation works; a calibration measurement adds a "Cancelar" button.
#pragma once

#include <QElapsedTimer>
#include <QWidget>

#include "station/ProgressView.h"

class QFrame;
class QProgressBar;
class QPushButton;

namespace kelvaro {

class ProgressWindow : public QWidget, public ProgressView {
    Q_OBJECT
  public:
    // The bar is drawn at most this often while positions stream in.
    static constexpr int kRepaintIntervalMs = 50;

    ProgressWindow();
    ~ProgressWindow() override;

    // ProgressView. Positions outside 0..maximum are held at the nearer end.
    void SetMaximum(int maximum) override;
    void SetPosition(int position) override;
    int Position() const override { return position_; }
    void Show() override;
    void Close() override;
    // Modal over every window while it runs: only "Cancelar" takes input.
    bool RunCancellable(const std::function<bool()>& step) override;

    int Maximum() const { return maximum_; }

    QFrame* progressPanel = nullptr;
    QProgressBar* progressBar = nullptr;
    QPushButton* cancelButton = nullptr;  // shown only while a run can be cancelled

  private:
    void DrawBar();
    // The bar's filled width in pixels at `position`.
    int DrawnPixel(int position) const;

    int maximum_ = 100;
    int position_ = 0;
    int drawnPixel_ = -1;
    QElapsedTimer sinceRepaint_;
};

}  // namespace kelvaro
