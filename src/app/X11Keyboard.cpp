#include "app/X11Keyboard.h"

#include <QGuiApplication>
#include <array>

#ifdef KELVARO_HAVE_X11
#include <X11/Xlib.h>
#include <X11/keysym.h>
#endif

namespace kelvaro {

namespace {

#ifdef KELVARO_HAVE_X11
Display* X11Display() {
    auto* application = qGuiApp;
    if (application == nullptr) {
        return nullptr;
    }
    auto* x11 = application->nativeInterface<QNativeInterface::QX11Application>();
    return x11 != nullptr ? x11->display() : nullptr;
}

// One bit per key code, for the whole server: any window's focus counts.
std::array<unsigned char, 32> KeyMap(Display* display) {
    char keys[32] = {};
    XQueryKeymap(display, keys);
    std::array<unsigned char, 32> map{};
    for (std::size_t i = 0; i < map.size(); ++i) {
        map[i] = static_cast<unsigned char>(keys[i]);
    }
    return map;
}

bool Down(const std::array<unsigned char, 32>& map, unsigned code) {
    return ((map[code / 8] >> (code % 8)) & 1U) != 0;
}
#endif

}  // namespace

std::optional<bool> EscapeDownOnX11Server() {
#ifdef KELVARO_HAVE_X11
    Display* display = X11Display();
    if (display == nullptr) {
        return std::nullopt;
    }
    const KeyCode code = XKeysymToKeycode(display, XK_Escape);
    return code != 0 && Down(KeyMap(display), code);
#else
    return std::nullopt;
#endif
}

std::vector<std::uint32_t> KeysDownOnX11Server() {
    std::vector<std::uint32_t> codes;
#ifdef KELVARO_HAVE_X11
    if (Display* display = X11Display()) {
        const auto map = KeyMap(display);
        for (unsigned code = 0; code < map.size() * 8; ++code) {
            if (Down(map, code)) {
                codes.push_back(code);
            }
        }
    }
#endif
    return codes;
}

}  // namespace kelvaro
