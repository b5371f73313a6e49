// The keyboard's state read from the X server, kept apart because Xlib's macros clash with
// Qt's names.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace kelvaro {

// Whether Escape is down on the X server's keyboard right now, or none when the application
// is not on X11 (Wayland, offscreen) or was built without Xlib.
std::optional<bool> EscapeDownOnX11Server();

// The key codes held down on the X server's keyboard right now (the native scan codes of
// Qt's key events there); empty when the application is not on X11.
std::vector<std::uint32_t> KeysDownOnX11Server();

}  // namespace kelvaro
