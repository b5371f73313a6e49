#include "device/Frame.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace kelvaro {

std::uint8_t FrameChecksum(const DeviceFrame& frame) {
    const std::size_t n = std::min<std::size_t>(frame.bytes[4], kMaxFrameData);
    unsigned sum = 0;
    for (std::size_t i = 1; i <= 4 + n; ++i) {
        sum += frame.bytes[i];
    }
    return static_cast<std::uint8_t>(0x100u - (sum & 0xFFu));
}

}  // namespace kelvaro
