// The plate command set: the requests, what each one's reply must be, and one call per command.
#pragma once

#include <array>
#include <cstdint>

#include "device/Link.h"

namespace kelvaro {

// The function byte of each request and of its reply.
inline constexpr std::uint8_t kFnIdentify = 1;
inline constexpr std::uint8_t kFnConfigure = 2;
inline constexpr std::uint8_t kFnStartStream = 3;
inline constexpr std::uint8_t kFnReadSample = 4;
inline constexpr std::uint8_t kFnStop = 6;
// The modes Configure puts a plate in.
inline constexpr std::uint8_t kModeZero = 0;
inline constexpr std::uint8_t kModeCalibrate = 2;
inline constexpr std::uint8_t kModeTest = 3;

inline constexpr std::size_t kIdentifyReplySize = 8;
inline constexpr std::size_t kAckReplySize = 7;
inline constexpr std::size_t kSampleReplySize = 10;
inline constexpr int kReplyTimeoutMs = 1000;
inline constexpr int kProbeTimeoutMs = 500;
inline constexpr int kStreamTimeoutMs = 250;
// Longer than a report's period at the slowest rate (20 ms at 50 Hz): a plate that was sent
// Stop and sends nothing for this long has stopped.
inline constexpr int kStopSettleMs = 50;

// A request without data, and the reply it is answered with.
struct PlateRequest {
    std::array<std::uint8_t, 7> bytes;
    std::size_t replySize;       // 0: no reply is read
    std::uint8_t replyFunction;  // 0: any function
};
inline constexpr PlateRequest kIdentify{
    {0x0A, 0xC0, 0xD0, 0x01, 0x00, 0x6F, 0x0F}, kIdentifyReplySize, kFnIdentify};
inline constexpr PlateRequest kStartStream{
    {0x0A, 0xC0, 0xD0, 0x03, 0x00, 0x6D, 0x0F}, kAckReplySize, kFnStartStream};
inline constexpr PlateRequest kReadSample{
    {0x0A, 0xC0, 0xD0, 0x04, 0x00, 0x6C, 0x0F}, kSampleReplySize, 0};
inline constexpr PlateRequest kStop{{0x0A, 0xC0, 0xD0, 0x06, 0x00, 0x6A, 0x0F}, 0, 0};

// One transaction: sends the request and, only when that succeeded, reads and validates its
// reply.
LinkResult<DeviceFrame> Transact(SerialChannel& channel, const PlateRequest& request,
                                 int timeoutMs = kReplyTimeoutMs);
// The 13-byte Configure request for a frequency and mode.
DeviceFrame BuildConfigure(std::int32_t frequency, std::uint8_t mode);
// Sends Configure and reads its 7-byte acknowledgement.
LinkStatus ConfigurePlate(SerialChannel& channel, std::int32_t frequency, std::uint8_t mode);
// Identify; the value is the plate's model code (data byte 0).
LinkResult<std::uint8_t> IdentifyPlate(SerialChannel& channel, int timeoutMs = kReplyTimeoutMs);
// ReadSample (a reply of any function); the value is the reading.
LinkResult<RawReading> ReadPlateSample(SerialChannel& channel);
LinkStatus StartPlateStream(SerialChannel& channel);
// Stop has no reply, and its loss goes unnoticed: the callers have put DTR low.
void SendStop(SerialChannel& channel);
// Model codes that the communication screen accepts.
inline bool ModelCodeAccepted(std::uint8_t code) {
    return code >= 100 && code <= 103;
}

}  // namespace kelvaro
