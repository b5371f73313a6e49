// The device link: validated request/reply transactions and stream resynchronisation on a serial
// channel. Nothing here throws to its callers.
#pragma once

#include <cstdint>
#include <span>

#include "device/Frame.h"
#include "device/LinkError.h"
#include "device/SerialChannel.h"
#include "plate/Plate.h"

namespace kelvaro {

// Writes a request; fails with the channel's error. Only the record's first `byteCount` bytes
// of a frame are sent.
LinkStatus SendRequest(SerialChannel& channel, std::span<const std::uint8_t> request);
LinkStatus SendFrame(SerialChannel& channel, const DeviceFrame& frame, std::size_t byteCount);
// Reads `size` bytes with `timeoutMs` and validates them (ValidateReply). The value is the
// record as read, the bytes that did not come left at 0xFF, whatever the outcome.
LinkResult<DeviceFrame> ReceiveReply(SerialChannel& channel, std::size_t size, int timeoutMs,
                                     std::uint8_t expectedFunction);
// Checks a record already read, in this order: a failed read when a function is expected (its
// error is the reply's), a length past the record (Oversized: the checksum would read outside
// it), the checksum, the start byte, the end byte, a device error reply (function >= 241,
// code = data byte 0), the expected function (0 = any).
LinkStatus ValidateReply(const DeviceFrame& frame, LinkStatus read, std::uint8_t expectedFunction);
// Streamed reports. A report that fails validation is resynchronised: the link hunts forward
// in the received bytes for the next start byte that begins a valid frame of the same size,
// so one lost or extra byte costs one sample rather than every later one. The take that met
// the damaged frame reports it (with that frame's error) and leaves the channel at the next
// valid frame, which the following take returns; a damaged take discards at most
// a few frames' worth of bytes.
enum class StreamTake {
    Report,      // a valid report is in `frame`
    Damaged,     // the next bytes were not a valid report; they are discarded
    Incomplete,  // not enough bytes yet to decide; nothing discarded
    Failed,      // the port failed and nothing is left
};
struct StreamTakeResult {
    StreamTake outcome;
    std::size_t discarded = 0;  // bytes dropped by a damaged take
    LinkStatus status;          // why a damaged frame or a failed port failed
};
// Never waits: works on what the port has received so far. Used by the acquisition pass,
// which waits for all its plates at once.
StreamTakeResult TakeStreamedReport(SerialChannel& channel, DeviceFrame& frame, std::size_t size);
// The same for one channel, waiting up to `timeoutMs` for each further byte: a valid report,
// or the error of a damaged one, a time-out or a failed port. After a time-out the bytes at
// hand are judged as they are. The bytes after the frame it returns stay queued.
LinkResult<DeviceFrame> ReceiveStreamedReply(SerialChannel& channel, std::size_t size,
                                             int timeoutMs);
// Data bytes 0..2, most significant first.
RawReading DecodeReading(const DeviceFrame& frame);

}  // namespace kelvaro
