// A keyboard for the tests on the X server: key presses through the XTest extension, which the
// server treats as a real keyboard's (auto-repeat included). Kept apart from Qt's headers,
// whose names Xlib's macros break.
#pragma once

namespace kelvaro::testing {

class XTestKeyboard {
  public:
    XTestKeyboard();  // a connection of its own to $DISPLAY
    ~XTestKeyboard();
    XTestKeyboard(const XTestKeyboard&) = delete;
    XTestKeyboard& operator=(const XTestKeyboard&) = delete;

    bool Ok() const { return display_ != nullptr; }
    // Auto-repeat on (the desktop default) with this delay and interval.
    void RepeatEvery(unsigned delayMs, unsigned intervalMs);
    void Escape(bool down);

  private:
    void* display_;
};

}  // namespace kelvaro::testing
