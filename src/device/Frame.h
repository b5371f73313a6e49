// The plates' frame: its bytes, its checksum and the reading it carries.
#pragma once

#include <array>
#include <cstdint>

namespace kelvaro {

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

}  // namespace kelvaro
