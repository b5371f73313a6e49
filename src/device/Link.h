// The device link: validated request/reply transactions and stream resynchronisation on a serial
// channel, and the link's error codes and texts. Nothing here throws to its callers.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "device/Frame.h"
#include "device/SerialChannel.h"

namespace kelvaro {

inline constexpr int kLinkNoError = -1;
inline constexpr int kLinkChecksumError = 0;
inline constexpr int kLinkTimeout = 1;
inline constexpr int kLinkBadFunction = 6;
inline constexpr int kLinkNoStart = 8;
inline constexpr int kLinkNoEnd = 9;
// A reply whose length byte claims more than 8 data bytes cannot be a frame of this protocol;
// it is rejected before anything past the record is touched and reported as a bad checksum,
// the check that would have read outside the record.
inline constexpr int kLinkOversizedLength = kLinkChecksumError;

// The one last-error value shared by all plates; only ReceiveReply changes it.
int LinkLastError();
// Texts for codes -1..9 ("   - Nenhum", "00 - Erro de Checksum", ...).
extern const std::array<std::string_view, 11> LinkErrorTexts;
// The text of a code, or an empty view for codes outside -1..9.
std::string_view LinkErrorText(int code);

bool SendRequest(SerialChannel& channel, std::span<const std::uint8_t> request);
bool SendFrame(SerialChannel& channel, const DeviceFrame& frame, std::size_t byteCount);
// Reads `size` bytes with `timeoutMs` and validates: checksum, start, end, device error
// (function >= 241, code = data byte 0), expected function (0 = any).
bool ReceiveReply(SerialChannel& channel, DeviceFrame& frame, std::size_t size, int timeoutMs,
                  std::uint8_t expectedFunction);
// The validation of ReceiveReply steps 4 to 9 on a record already read: the link error code
// (kLinkNoError = valid; 0..255 otherwise). `readOk` is false when the channel reported an
// error after the read (it only matters when a function is expected).
int ValidateReply(const DeviceFrame& frame, bool readOk, std::uint8_t expectedFunction);
// Streamed reports. A report that fails validation is resynchronised: the link hunts forward
// in the received bytes for the next start byte that begins a valid frame of the same size,
// so one lost or extra byte costs one sample rather than every later one. The take that met
// the damaged frame reports it (with LinkLastError set by that frame) and leaves the channel
// at the next valid frame, which the following take returns; a damaged take discards at most
// a few frames' worth of bytes.
enum class StreamTake {
    Report,      // a valid report is in `frame`
    Damaged,     // the next bytes were not a valid report; they are discarded
    Incomplete,  // not enough bytes yet to decide; nothing discarded
    Failed,      // the port failed (LastError of the channel says why) and nothing is left
};
struct StreamTakeResult {
    StreamTake outcome;
    std::size_t discarded = 0;  // bytes dropped by a damaged take
};
// Never waits: works on what the port has received so far. Used by the acquisition pass,
// which waits for all its plates at once.
StreamTakeResult TakeStreamedReport(SerialChannel& channel, DeviceFrame& frame, std::size_t size);
// The same for one channel, waiting up to `timeoutMs` for each further byte: true for a valid
// report; false for a damaged one, a time-out or a failed port. After a time-out the bytes at
// hand are judged as they are. The bytes after the frame it returns stay queued.
bool ReceiveStreamedReply(SerialChannel& channel, DeviceFrame& frame, std::size_t size,
                          int timeoutMs);
// Data bytes 0..2, most significant first.
std::uint32_t DecodeReading(const DeviceFrame& frame);

}  // namespace kelvaro
