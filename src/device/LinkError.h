// What a call on a plate's link reports: one error vocabulary for the port, the frame and the
// plate itself, and the small result that every link call returns.
#pragma once

namespace kelvaro {

enum class LinkError {
    None,
    // The port.
    NotConnected,   // the channel holds no open port (a failed open, or released)
    Timeout,        // nothing (more) arrived within the time allowed, or a write did not drain
    LineFault,      // framing, overrun, parity or queue-overflow error on the line
    Disconnected,   // the device went away (hang-up, EIO)
    NotSerialPort,  // a terminal without a serial driver behind it
    System,         // another failed system call; `code` holds its errno
    // The frame.
    Checksum,     // the checksum byte does not match
    Oversized,    // the length byte claims more data than a frame of the protocol carries
    NoStart,      // byte 0 is not the start byte
    NoEnd,        // the byte after the checksum is not the end byte
    BadFunction,  // a valid frame, but not the function the request expects
    // The plate.
    Device,  // the plate answered with an error reply; `code` holds its code byte
};

struct [[nodiscard]] LinkStatus {
    LinkError error = LinkError::None;
    int code = 0;  // errno for System, the plate's code byte for Device, 0 otherwise

    bool Ok() const { return error == LinkError::None; }
    explicit operator bool() const { return Ok(); }
    friend bool operator==(const LinkStatus&, const LinkStatus&) = default;
};

// A status and, when it is ok, the value the call produced.
template <typename T>
struct [[nodiscard]] LinkResult : LinkStatus {
    T value{};
};

}  // namespace kelvaro
