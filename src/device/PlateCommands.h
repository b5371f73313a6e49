// The plate command set: the prebuilt requests, Configure, and one transaction per command.
#pragma once

#include <array>
#include <cstdint>

#include "device/Link.h"

namespace kelvaro {

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
