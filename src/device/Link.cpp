#include "device/Link.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "device/Frame.h"
#include "device/SerialChannel.h"

namespace kelvaro {

namespace {

// The one last-error value of the link, shared by every plate.
int g_linkLastError = kLinkNoError;

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
    return 7u + candidate.Length() == size && ValidateReply(candidate, true, 0) == kLinkNoError;
}

}  // namespace

std::uint32_t DecodeReading(const DeviceFrame& frame) {
    return (std::uint32_t{frame.Data(0)} << 16) | (std::uint32_t{frame.Data(1)} << 8) |
           std::uint32_t{frame.Data(2)};
}

int LinkLastError() {
    return g_linkLastError;
}

const std::array<std::string_view, 11> LinkErrorTexts{
    "   - Nenhum",
    "00 - Erro de Checksum",
    "01 - Erro de Timeout",
    "02 - Nenhum Dispositivo endereçado",
    "03 - Endereço Inválido de Dispositivo",
    "04 - Falha no Dispositivo",
    "05 - Falha na configuração do Dispositivo",
    "06 - Função Inválida",
    "07 - Dados Inválidos",
    "08 - Início da Mensagem não encontrado",
    "09 - Fim da Mensagem não encontrado",
};

std::string_view LinkErrorText(int code) {
    if (code < -1 || code > 9) {
        return {};
    }
    return LinkErrorTexts[static_cast<std::size_t>(code + 1)];
}

bool SendRequest(SerialChannel& channel, std::span<const std::uint8_t> request) {
    try {
        channel.WriteBytes(request.data(), request.size());
    } catch (...) {
        return false;
    }
    return channel.LastError() == 0;
}

bool SendFrame(SerialChannel& channel, const DeviceFrame& frame, std::size_t byteCount) {
    return SendRequest(channel, std::span<const std::uint8_t>(
                                    frame.bytes.data(), std::min(byteCount, frame.bytes.size())));
}

int ValidateReply(const DeviceFrame& frame, bool readOk, std::uint8_t expectedFunction) {
    const auto& b = frame.bytes;
    if (!readOk && expectedFunction != 0) {
        return kLinkTimeout;
    }
    const std::size_t n = b[4];
    // A length beyond the record (e.g. 255 in a record still full of 0xFF after a time-out)
    // cannot be checked without reading outside the record: it fails the checksum test, the
    // first test that would have needed those bytes (kLinkOversizedLength == 0).
    if (n > kMaxFrameData) {
        return kLinkOversizedLength;
    }
    if (b[5 + n] != FrameChecksum(frame)) {
        return kLinkChecksumError;
    }
    if (b[0] != kFrameStart) {
        return kLinkNoStart;
    }
    if (b[6 + n] != kFrameEnd) {
        return kLinkNoEnd;
    }
    if (b[3] >= 241) {
        return b[5];  // the device's own error code, 0..255
    }
    if (expectedFunction != 0 && b[3] != expectedFunction) {
        return kLinkBadFunction;
    }
    return kLinkNoError;
}

bool ReceiveReply(SerialChannel& channel, DeviceFrame& frame, std::size_t size, int timeoutMs,
                  std::uint8_t expectedFunction) {
    g_linkLastError = kLinkNoError;
    frame.bytes.fill(0xFF);
    size = std::min(size, frame.bytes.size());
    bool readOk = false;
    try {
        channel.ReadBytes(frame.bytes.data(), size, timeoutMs);
        readOk = channel.LastError() == 0;
    } catch (...) {
        readOk = false;
    }
    const int code = ValidateReply(frame, readOk, expectedFunction);
    if (code != kLinkNoError) {
        g_linkLastError = code;
        return false;
    }
    return true;
}

namespace {

struct StreamScan {
    StreamTake outcome;
    std::size_t consumed;
    int code;  // of the first frame
};

// Judges the bytes at the front of a stream. `final`: no more bytes will come (time-out or
// failed port), so decide with what is at hand.
StreamScan ScanStream(std::span<const std::uint8_t> bytes, std::size_t size, bool final,
                      DeviceFrame& frame) {
    frame.bytes.fill(0xFF);
    if (bytes.size() < size && !final) {
        return {StreamTake::Incomplete, 0, kLinkNoError};
    }
    const std::size_t got = std::min(bytes.size(), size);
    std::memcpy(frame.bytes.data(), bytes.data(), got);
    const int code = ValidateReply(frame, true, 0);
    if (code == kLinkNoError) {
        return {StreamTake::Report, got, code};
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
                return {StreamTake::Damaged, limit, code};
            }
            return {StreamTake::Incomplete, 0, code};
        }
        if (bytes.size() - p < size) {  // a candidate that cannot be checked yet
            if (final || p + size > kHuntLimit) {
                return {StreamTake::Damaged, p, code};  // the next take starts with it
            }
            return {StreamTake::Incomplete, 0, code};
        }
        if (HuntCandidateValid(&bytes[p], size)) {
            return {StreamTake::Damaged, p, code};
        }
    }
}

StreamTakeResult TakeStream(SerialChannel& channel, DeviceFrame& frame, std::size_t size,
                            bool final) {
    g_linkLastError = kLinkNoError;
    size = std::min(size, frame.bytes.size());
    const std::span<const std::uint8_t> bytes = channel.LookAhead();
    if (bytes.empty() && final) {
        frame.bytes.fill(0xFF);
        g_linkLastError = ValidateReply(frame, false, 0);
        return {StreamTake::Failed};
    }
    const StreamScan scan = ScanStream(bytes, size, final, frame);
    if (scan.outcome == StreamTake::Incomplete) {
        return {StreamTake::Incomplete};
    }
    channel.Consume(scan.consumed);
    if (scan.outcome == StreamTake::Report) {
        return {StreamTake::Report};
    }
    g_linkLastError = scan.code;
    return {StreamTake::Damaged, scan.consumed};
}

}  // namespace

StreamTakeResult TakeStreamedReport(SerialChannel& channel, DeviceFrame& frame, std::size_t size) {
    bool alive = false;
    try {
        alive = channel.TakeAvailable();
    } catch (...) {
        alive = false;
    }
    return TakeStream(channel, frame, size, !alive);
}

bool ReceiveStreamedReply(SerialChannel& channel, DeviceFrame& frame, std::size_t size,
                          int timeoutMs) {
    try {
        for (;;) {
            const StreamTakeResult take = TakeStreamedReport(channel, frame, size);
            if (take.outcome != StreamTake::Incomplete) {
                return take.outcome == StreamTake::Report;
            }
            if (!channel.WaitReadable(timeoutMs)) {
                return TakeStream(channel, frame, size, true).outcome == StreamTake::Report;
            }
        }
    } catch (...) {
        return false;
    }
}

}  // namespace kelvaro
