// A secondary screen: a dialog over the main window whose opening work runs when it is first
// shown and whose closing work runs exactly once, however it is closed (Voltar, the close box,
// Escape).
#pragma once

#include <QDialog>

namespace kelvaro {

class SecondaryScreen : public QDialog {
  public:
    using QDialog::QDialog;

    virtual void OnShown() = 0;
    virtual void OnClosing() = 0;

    void done(int result) override;

  protected:
    void showEvent(QShowEvent* event) override;
    bool Shown() const { return shown_; }
    bool Closed() const { return closed_; }

  private:
    bool shown_ = false;
    bool closed_ = false;
};

}  // namespace kelvaro
