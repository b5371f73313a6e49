// The device link: frames, checksum, send and validated receive, the link's last error and its
// texts, opening/closing/purging channel slots, the port list and the plate command set.
// Nothing here throws to its callers: every routine returns its outcome.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "device/SerialChannel.h"

namespace kelvaro {

// ---- Frames ------------------------------------------------------------------------------

inline constexpr std::uint8_t kFrameStart = 0x0A;
inline constexpr std::uint8_t kFrameEnd = 0x0F;
inline constexpr std::uint8_t kAddress1 = 0xC0;
inline constexpr std::uint8_t kAddress2 = 0xD0;
inline constexpr std::size_t kMaxFrameData = 8;

// One frame: start, two address bytes, function, length N, N data bytes, checksum, end.
struct DeviceFrame {
    std::array<std::uint8_t, 15> bytes{};
    std::uint8_t Function() const { return bytes[3]; }
    std::uint8_t Length() const { return bytes[4]; }
    std::uint8_t Data(std::size_t i) const { return bytes[5 + i]; }
};

// Two's complement of the sum of bytes 1..4+N (N from byte 4, limited to the record).
std::uint8_t FrameChecksum(const DeviceFrame& frame);

// ---- Link errors --------------------------------------------------------------------------

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

// ---- Transactions -------------------------------------------------------------------------

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

// ---- Channel slots ------------------------------------------------------------------------

// Releases a channel the slot held (nothing is sent), places a new one in it, connects and
// configures it. True when the channel's last error is 0 afterwards. A failed open leaves a
// channel that is not connected in the slot. `os` is the seam tests record through.
// `receiveQueueSize` is what the caller needs buffered (8192 or less for every caller); Linux
// offers no per-port input queue to request and always buffers more, so it is not applied.
bool OpenChannel(ChannelSlot& slot, const std::string& portName, int baudRate, int dataBits,
                 char parity, int stopBits, bool softwareFlow, bool hardwareFlow,
                 int receiveQueueSize, SerialOs& os = SerialOs::System());
// Opens with the plates' line settings: 115200 8N2, no flow control.
bool OpenPlateChannel(ChannelSlot& slot, const std::string& portName, int receiveQueueSize,
                      SerialOs& os = SerialOs::System());
// DTR low, the 7 Stop bytes, release, slot empty. Always true.
bool CloseChannel(ChannelSlot& slot);
// False for an empty slot / null channel; true otherwise.
bool PurgeChannel(SerialChannel* channel);
inline bool PurgeChannel(ChannelSlot& slot) {
    return PurgeChannel(slot.get());
}
// Reads and throws away what the channel receives until nothing has come for `quietMs`,
// giving up after `limitMs`; true when the line went quiet, false when it did not or the
// port failed. A plate sent Stop may still have a report on its way.
bool DiscardUntilQuiet(SerialChannel& channel, int quietMs, int limitMs);
inline bool SlotConnected(const ChannelSlot& slot) {
    return slot && slot->IsConnected();
}

// ---- Port list ----------------------------------------------------------------------------

struct PortListRoots {
    std::string sysClassTty = "/sys/class/tty";
    std::string dev = "/dev";
    // The folder of virtual plates' links, read only when it is the user's own and nobody
    // else may write in it; empty (the default): no virtual plates are listed.
    std::string virtualPorts;
};
// ${XDG_RUNTIME_DIR:-/tmp}/kelvaro-ports, where kelvaro-plates publishes its plates.
std::string VirtualPortFolder();
// The serial devices a plate can hang on, in a stable order, as comma-separated text. Each
// adapter is named by its link in <dev>/serial/by-id/, else in <dev>/serial/by-path/, else
// by its device path.
std::string ListSerialPorts(const PortListRoots& roots = {});
std::vector<std::string> ListSerialPortNames(const PortListRoots& roots = {});
// What the operator is shown for a listed or stored port: the adapter's model and serial
// number for a by-id name ("FTDI FT232R USB UART A50285BI"), the link's own name for a
// by-path name, any other name unchanged.
std::string PortDisplayName(const std::string& port);
std::string JoinPortList(const std::vector<std::string>& names);
std::vector<std::string> SplitPortList(std::string_view text);

// ---- Command set --------------------------------------------------------------------------

enum PlateFunction : std::uint8_t {
    kFnIdentify = 1,
    kFnConfigure = 2,
    kFnStartStream = 3,
    kFnReadSample = 4,
    kFnStop = 6,
};
enum PlateMode : std::uint8_t { kModeZero = 0, kModeCalibrate = 2, kModeTest = 3 };

inline constexpr std::array<std::uint8_t, 7> kIdentify{0x0A, 0xC0, 0xD0, 0x01, 0x00, 0x6F, 0x0F};
inline constexpr std::array<std::uint8_t, 7> kStartStream{0x0A, 0xC0, 0xD0, 0x03, 0x00, 0x6D, 0x0F};
inline constexpr std::array<std::uint8_t, 7> kReadSample{0x0A, 0xC0, 0xD0, 0x04, 0x00, 0x6C, 0x0F};
inline constexpr std::array<std::uint8_t, 7> kStop{0x0A, 0xC0, 0xD0, 0x06, 0x00, 0x6A, 0x0F};

inline constexpr std::size_t kIdentifyReplySize = 8;
inline constexpr std::size_t kAckReplySize = 7;
inline constexpr std::size_t kSampleReplySize = 10;
inline constexpr int kReplyTimeoutMs = 1000;
inline constexpr int kProbeTimeoutMs = 500;
inline constexpr int kStreamTimeoutMs = 250;
// Longer than a report's period at the slowest rate (20 ms at 50 Hz): a plate that was sent
// Stop and sends nothing for this long has stopped.
inline constexpr int kStopSettleMs = 50;

// The 13-byte Configure request for a frequency and mode.
DeviceFrame BuildConfigure(std::int32_t frequency, std::uint8_t mode);
// Sends Configure and reads its 7-byte acknowledgement; true when acknowledged.
bool ConfigurePlate(SerialChannel& channel, std::int32_t frequency, std::uint8_t mode);
// Sends Identify and reads the reply; on success `modelCode` holds data byte 0.
bool IdentifyPlate(SerialChannel& channel, int timeoutMs, std::uint8_t* modelCode = nullptr);
// Sends ReadSample and reads the 10-byte reply (any function); on success `reading` is set.
bool ReadPlateSample(SerialChannel& channel, std::uint32_t& reading);
// Sends StartStream and reads its acknowledgement.
bool StartPlateStream(SerialChannel& channel);
// Model codes that the communication screen accepts.
inline bool ModelCodeAccepted(std::uint8_t code) {
    return code >= 100 && code <= 103;
}

}  // namespace kelvaro
