#include "device/Link.h"

#include <algorithm>
#include <cstring>

#include "device/Frame.h"
#include "device/SerialChannel.h"

namespace kelvaro {

namespace {

// How far a resynchronisation looks for the next frame start in one call: a few frames'
// worth. Bytes beyond it are left for the next call, so a call's work stays bounded even
// when the line delivers nothing but garbage.
constexpr std::size_t kHuntLimit = 64;

// A frame found while hunting must be valid AND exactly `size` bytes long: the stream is
// made of frames of one size, and a shorter valid-looking frame inside the data would put
// the reads off the frame boundaries again.
bool HuntCandidateValid(const std::uint8_t* bytes, std::size_t size) {
    DeviceFrame candidate;
    candidate.bytes.fill(0xFF);
    std::memcpy(candidate.bytes.data(), bytes, size);
    return 7u + candidate.Length() == size && ValidateReply(candidate, {}, 0).Ok();
}

}  // namespace

RawReading DecodeReading(const DeviceFrame& frame) {
    return (RawReading{frame.Data(0)} << 16) | (RawReading{frame.Data(1)} << 8) |
           RawReading{frame.Data(2)};
}

LinkStatus SendRequest(SerialChannel& channel, std::span<const std::uint8_t> request) {
    channel.WriteBytes(request.data(), request.size());
    return channel.LastStatus();
}

LinkStatus SendFrame(SerialChannel& channel, const DeviceFrame& frame, std::size_t byteCount) {
    return SendRequest(channel, std::span<const std::uint8_t>(
                                    frame.bytes.data(), std::min(byteCount, frame.bytes.size())));
}

LinkStatus ValidateReply(const DeviceFrame& frame, LinkStatus read, std::uint8_t expectedFunction) {
    const auto& b = frame.bytes;
    if (!read && expectedFunction != 0) {
        return read;
    }
    const std::size_t n = b[4];
    // A length beyond the record (e.g. 255 in a record still full of 0xFF after a time-out)
    // cannot be checked without reading outside the record.
    if (n > kMaxFrameData) {
        return {LinkError::Oversized};
    }
    if (b[5 + n] != FrameChecksum(frame)) {
        return {LinkError::Checksum};
    }
    if (b[0] != kFrameStart) {
        return {LinkError::NoStart};
    }
    if (b[6 + n] != kFrameEnd) {
        return {LinkError::NoEnd};
    }
    if (b[3] >= 241) {
        return {LinkError::Device, b[5]};
    }
    if (expectedFunction != 0 && b[3] != expectedFunction) {
        return {LinkError::BadFunction};
    }
    return {};
}

LinkResult<DeviceFrame> ReceiveReply(SerialChannel& channel, std::size_t size, int timeoutMs,
                                     std::uint8_t expectedFunction) {
    LinkResult<DeviceFrame> reply;
    reply.value.bytes.fill(0xFF);
    size = std::min(size, reply.value.bytes.size());
    channel.ReadBytes(reply.value.bytes.data(), size, timeoutMs);
    static_cast<LinkStatus&>(reply) =
        ValidateReply(reply.value, channel.LastStatus(), expectedFunction);
    return reply;
}

namespace {

struct StreamScan {
    StreamTake outcome;
    std::size_t consumed;
    LinkStatus status;  // of the first frame
};

// Judges the bytes at the front of a stream. `final`: no more bytes will come (time-out or
// failed port), so decide with what is at hand.
StreamScan ScanStream(std::span<const std::uint8_t> bytes, std::size_t size, bool final,
                      DeviceFrame& frame) {
    frame.bytes.fill(0xFF);
    if (bytes.size() < size && !final) {
        return {StreamTake::Incomplete, 0, {}};
    }
    const std::size_t got = std::min(bytes.size(), size);
    std::memcpy(frame.bytes.data(), bytes.data(), got);
    const LinkStatus status = ValidateReply(frame, {}, 0);
    if (status) {
        return {StreamTake::Report, got, status};
    }
    // This sample is lost; find where the next valid frame starts. Byte 0 of the failed frame
    // is dropped and the hunt starts at byte 1, looking no further than kHuntLimit bytes.
    const std::size_t limit = std::min(bytes.size(), kHuntLimit);
    for (std::size_t p = 1;; ++p) {
        while (p < limit && bytes[p] != kFrameStart) {
            ++p;
        }
        if (p >= limit) {  // no start byte among the bytes looked at: they all go
            if (final || bytes.size() >= kHuntLimit) {
                return {StreamTake::Damaged, limit, status};
            }
            return {StreamTake::Incomplete, 0, status};
        }
        if (bytes.size() - p < size) {  // a candidate that cannot be checked yet
            if (final || p + size > kHuntLimit) {
                return {StreamTake::Damaged, p, status};  // the next take starts with it
            }
            return {StreamTake::Incomplete, 0, status};
        }
        if (HuntCandidateValid(&bytes[p], size)) {
            return {StreamTake::Damaged, p, status};
        }
    }
}

StreamTakeResult TakeStream(SerialChannel& channel, DeviceFrame& frame, std::size_t size,
                            bool final) {
    size = std::min(size, frame.bytes.size());
    const std::span<const std::uint8_t> bytes = channel.LookAhead();
    if (bytes.empty() && final) {
        frame.bytes.fill(0xFF);
        return {StreamTake::Failed, 0, channel.LastStatus()};
    }
    const StreamScan scan = ScanStream(bytes, size, final, frame);
    if (scan.outcome == StreamTake::Incomplete) {
        return {StreamTake::Incomplete, 0, {}};
    }
    channel.Consume(scan.consumed);
    if (scan.outcome == StreamTake::Report) {
        return {StreamTake::Report, 0, {}};
    }
    return {StreamTake::Damaged, scan.consumed, scan.status};
}

}  // namespace

StreamTakeResult TakeStreamedReport(SerialChannel& channel, DeviceFrame& frame, std::size_t size) {
    return TakeStream(channel, frame, size, !channel.TakeAvailable());
}

LinkResult<DeviceFrame> ReceiveStreamedReply(SerialChannel& channel, std::size_t size,
                                             int timeoutMs) {
    LinkResult<DeviceFrame> reply;
    for (;;) {
        StreamTakeResult take = TakeStreamedReport(channel, reply.value, size);
        if (take.outcome == StreamTake::Incomplete && !channel.WaitReadable(timeoutMs)) {
            take = TakeStream(channel, reply.value, size, true);
        }
        if (take.outcome != StreamTake::Incomplete) {
            static_cast<LinkStatus&>(reply) = take.status;
            return reply;
        }
    }
}

}  // namespace kelvaro
