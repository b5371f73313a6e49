// The Escape key's state read from the X server, kept apart because Xlib's macros clash with
// Qt's names.
#pragma once

#include <optional>

namespace kelvaro {

// Whether Escape is down on the X server's keyboard right now, or none when the application
// is not on X11 (Wayland, offscreen) or was built without Xlib.
std::optional<bool> EscapeDownOnX11Server();

}  // namespace kelvaro
