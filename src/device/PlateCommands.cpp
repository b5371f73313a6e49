// The plate command set: Configure built on each use, the data-less requests
// as constants, one transaction per command (send; read the reply only after a good send).
#include "device/PlateCommands.h"

namespace kelvaro {

DeviceFrame BuildConfigure(std::int32_t frequency, std::uint8_t mode) {
    std::uint8_t high = 0x00;
    std::uint8_t low = static_cast<std::uint8_t>(frequency & 0xFF);
    switch (frequency) {
        case 300:
            high = 0x01;
            low = 0x2C;
            break;
        case 400:
            high = 0x01;
            low = 0x90;
            break;
        case 600:
            high = 0x02;
            low = 0x58;
            break;
        default:
            break;  // high byte 0, low 8 bits of the value
    }
    DeviceFrame frame;
    frame.bytes = {kFrameStart, kAddress1, kAddress2, kFnConfigure, 6,         0x01, 0x00, 0x00,
                   high,        low,       mode,      0x00,         kFrameEnd, 0x00, 0x00};
    frame.bytes[11] = FrameChecksum(frame);
    return frame;
}

bool ConfigurePlate(SerialChannel& channel, std::int32_t frequency, std::uint8_t mode) {
    DeviceFrame frame = BuildConfigure(frequency, mode);
    return SendFrame(channel, frame, 13) &&
           ReceiveReply(channel, frame, kAckReplySize, kReplyTimeoutMs, kFnConfigure);
}

bool IdentifyPlate(SerialChannel& channel, int timeoutMs, std::uint8_t* modelCode) {
    DeviceFrame reply;
    if (!SendRequest(channel, kIdentify) ||
        !ReceiveReply(channel, reply, kIdentifyReplySize, timeoutMs, kFnIdentify)) {
        return false;
    }
    if (modelCode != nullptr) {
        *modelCode = reply.Data(0);
    }
    return true;
}

bool ReadPlateSample(SerialChannel& channel, std::uint32_t& reading) {
    DeviceFrame reply;
    if (!SendRequest(channel, kReadSample) ||
        !ReceiveReply(channel, reply, kSampleReplySize, kReplyTimeoutMs, 0)) {
        return false;
    }
    reading = DecodeReading(reply);
    return true;
}

bool StartPlateStream(SerialChannel& channel) {
    DeviceFrame reply;
    return SendRequest(channel, kStartStream) &&
           ReceiveReply(channel, reply, kAckReplySize, kReplyTimeoutMs, kFnStartStream);
}

}  // namespace kelvaro
