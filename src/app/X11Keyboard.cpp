#include "app/X11Keyboard.h"

#include <QGuiApplication>

#ifdef KELVARO_HAVE_X11
#include <X11/Xlib.h>
#include <X11/keysym.h>
#endif

namespace kelvaro {

std::optional<bool> EscapeDownOnX11Server() {
#ifdef KELVARO_HAVE_X11
    auto* application = qGuiApp;
    if (application == nullptr) {
        return std::nullopt;
    }
    auto* x11 = application->nativeInterface<QNativeInterface::QX11Application>();
    Display* display = x11 != nullptr ? x11->display() : nullptr;
    if (display == nullptr) {
        return std::nullopt;
    }
    // One bit per key code, for the whole server: any window's focus counts.
    char keys[32] = {};
    XQueryKeymap(display, keys);
    const KeyCode code = XKeysymToKeycode(display, XK_Escape);
    if (code == 0) {
        return false;
    }
    return ((static_cast<unsigned char>(keys[code / 8]) >> (code % 8)) & 1U) != 0;
#else
    return std::nullopt;
#endif
}

}  // namespace kelvaro
