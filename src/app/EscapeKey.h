// Whether the Escape key is held down right now, whichever of the desktop's windows has the
// keyboard: the way the operator stops a running test.
#pragma once

#include <QObject>

namespace kelvaro {

// On X11 the key state is read from the server (XQueryKeymap), so Escape counts even while
// another program's window has the focus. Wayland and the offscreen platform offer no such
// query to clients; there an application-wide event filter follows Escape being pressed and
// released in any of the station's own windows, and forgets it when the station loses the
// focus (the release would not reach it).
class EscapeKeyMonitor : public QObject {
  public:
    explicit EscapeKeyMonitor(QObject* parent = nullptr);
    ~EscapeKeyMonitor() override;

    bool Held() const;
    // True when the state comes from the X server rather than the station's own events.
    bool ReadsKeyboardDirectly() const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    bool heldInStation_ = false;
};

}  // namespace kelvaro
