#include "XTestKeyboard.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace kelvaro::testing {

namespace {
Display* Of(void* display) {
    return static_cast<Display*>(display);
}
}  // namespace

XTestKeyboard::XTestKeyboard() : display_(XOpenDisplay(nullptr)) {}

XTestKeyboard::~XTestKeyboard() {
    if (display_ != nullptr) {
        XCloseDisplay(Of(display_));
    }
}

void XTestKeyboard::RepeatEvery(unsigned delayMs, unsigned intervalMs) {
    XAutoRepeatOn(Of(display_));
    XkbSetAutoRepeatRate(Of(display_), XkbUseCoreKbd, delayMs, intervalMs);
    XSync(Of(display_), False);
}

void XTestKeyboard::Escape(bool down) {
    XTestFakeKeyEvent(Of(display_), XKeysymToKeycode(Of(display_), XK_Escape), down ? True : False,
                      CurrentTime);
    XSync(Of(display_), False);
}

}  // namespace kelvaro::testing
