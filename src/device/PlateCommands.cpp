// The plate command set: Configure built on each use, the data-less requests
// as constants, one transaction per command (send; read the reply only after a good send).
#include "device/PlateCommands.h"

namespace kelvaro {

namespace {

// A transaction's reply read as `T` when it is valid.
template <typename T, typename Read>
LinkResult<T> ReplyValue(const LinkResult<DeviceFrame>& reply, Read read) {
    LinkResult<T> result{reply, {}};
    if (reply) {
        result.value = read(reply.value);
    }
    return result;
}

}  // namespace

LinkResult<DeviceFrame> Transact(SerialChannel& channel, const PlateRequest& request,
                                 int timeoutMs) {
    if (LinkStatus sent = SendRequest(channel, request.bytes); !sent) {
        return {sent, {}};
    }
    return ReceiveReply(channel, request.replySize, timeoutMs, request.replyFunction);
}

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

LinkStatus ConfigurePlate(SerialChannel& channel, std::int32_t frequency, std::uint8_t mode) {
    if (LinkStatus sent = SendFrame(channel, BuildConfigure(frequency, mode), 13); !sent) {
        return sent;
    }
    return ReceiveReply(channel, kAckReplySize, kReplyTimeoutMs, kFnConfigure);
}

LinkResult<std::uint8_t> IdentifyPlate(SerialChannel& channel, int timeoutMs) {
    return ReplyValue<std::uint8_t>(Transact(channel, kIdentify, timeoutMs),
                                    [](const DeviceFrame& reply) { return reply.Data(0); });
}

LinkResult<RawReading> ReadPlateSample(SerialChannel& channel) {
    return ReplyValue<RawReading>(Transact(channel, kReadSample), DecodeReading);
}

LinkStatus StartPlateStream(SerialChannel& channel) {
    return Transact(channel, kStartStream);
}

void SendStop(SerialChannel& channel) {
    (void)SendRequest(channel, kStop.bytes);
}

}  // namespace kelvaro
