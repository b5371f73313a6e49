// Frame checksum, reply validation order and errors (read through a real pseudo-terminal) and
// reading decode.
#include <gtest/gtest.h>

#include "CaseNames.h"
#include "Pty.h"
#include "device/ChannelSlot.h"
#include "device/Frame.h"
#include "device/Link.h"
#include "device/PlateCommands.h"
#include "device/SerialChannel.h"

namespace kelvaro {
namespace {

using testing::Bytes;
using testing::MakeFrame;
using testing::PrintTo;
using testing::Pty;

DeviceFrame FrameOf(const Bytes& bytes) {
    DeviceFrame f;
    f.bytes.fill(0xFF);
    std::copy(bytes.begin(),
              bytes.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(bytes.size(), 15)),
              f.bytes.begin());
    return f;
}

TEST(FrameChecksum, MatchesTheKnownRequests) {
    EXPECT_EQ(FrameChecksum(FrameOf(Bytes(kIdentify.bytes.begin(), kIdentify.bytes.end()))), 0x6F);
    EXPECT_EQ(FrameChecksum(FrameOf(Bytes(kReadSample.bytes.begin(), kReadSample.bytes.end()))),
              0x6C);
    // A sum of 0 mod 256 gives 0, not 256 truncated oddly.
    EXPECT_EQ(FrameChecksum(FrameOf({0x0A, 0x80, 0x80, 0x00, 0x00})), 0x00);
}

TEST(FrameChecksum, OversizedLengthStaysInsideTheRecord) {
    DeviceFrame f;
    f.bytes.fill(0xFF);  // length byte 255: only 8 data bytes are summed
    // 4 header bytes + 8 data bytes of 0xFF = 12 * 255 = 3060 = 0xBF4 -> 0x0C
    EXPECT_EQ(FrameChecksum(f), 0x0C);
}

struct ReplyCase {
    const char* name;
    Bytes wire;  // bytes that arrive
    std::size_t size;
    std::uint8_t expected;
    LinkStatus status;
};

Bytes WithByte(Bytes b, std::size_t i, std::uint8_t v) {
    b[i] = v;
    return b;
}

const Bytes kIdentifyReply{0x0A, 0xC0, 0xD0, 0x01, 0x01, 0x65, 0x09, 0x0F};

std::vector<ReplyCase> ReplyCases() {
    using enum LinkError;
    return {
        {"ValidIdentify", kIdentifyReply, 8, 1, {}},
        {"ChecksumBeforeStart",
         WithByte(WithByte(kIdentifyReply, 0, 0x0B), 6, 0x08),
         8,
         1,
         {Checksum}},
        {"BadStart", WithByte(kIdentifyReply, 0, 0x0B), 8, 1, {NoStart}},
        {"BadEnd", WithByte(kIdentifyReply, 7, 0x0E), 8, 1, {NoEnd}},
        {"BadChecksum", WithByte(kIdentifyReply, 6, 0x0A), 8, 1, {Checksum}},
        {"DeviceErrorBeatsExpectedFunction", MakeFrame(0xF3, {0x05}), 8, 2, {Device, 5}},
        {"DeviceErrorCodeZeroIsNoChecksumError", MakeFrame(0xF1, {0x00}), 8, 0, {Device, 0}},
        {"DeviceErrorOnReadSample", MakeFrame(0xF4, {0x02, 0x00, 0x00}), 10, 0, {Device, 2}},
        {"Function240IsOrdinaryWrong", MakeFrame(0xF0, {}), 7, 2, {BadFunction}},
        {"Function240AcceptedForAny", MakeFrame(0xF0, {}), 7, 0, {}},
        {"WrongFunction", MakeFrame(0x04, {0x01}), 8, 1, {BadFunction}},
        {"WrongFunctionAcceptedForAny", MakeFrame(0x04, {0x01}), 8, 0, {}},
        {"ReadSampleFunction7Accepted", MakeFrame(0x07, {0x01, 0x02, 0x03}), 10, 0, {}},
        {"TimeoutWithExpectedFunction", Bytes{0x0A, 0xC0, 0xD0}, 8, 1, {Timeout}},
        // Without an expected function a time-out is validated with the 0xFF fill.
        {"TimeoutAnyFunctionIsJudgedOnTheBytes",
         Bytes{0x0A, 0xC0, 0xD0, 0x04, 0x03},
         10,
         0,
         {Checksum}},
        {"SilenceAnyFunctionOversizedLength", Bytes{}, 10, 0, {Oversized}},
        {"LengthAboveEight",
         Bytes{0x0A, 0xC0, 0xD0, 0x04, 0x09, 1, 2, 3, 4, 5},
         10,
         0,
         {Oversized}},
        // Checksum 0x0A (Configure 600 Hz mode 3 shaped as a reply) and data bytes 0A/0F.
        {"ChecksumIs0A",
         Bytes{0x0A, 0xC0, 0xD0, 0x02, 0x06, 0x01, 0x00, 0x00, 0x02, 0x58, 0x03, 0x0A, 0x0F},
         13,
         2,
         {}},
        {"DataBytesAre0Aand0F", MakeFrame(0x04, {0x0A, 0x0F, 0x0A}), 10, 4, {}},
        {"ChecksumIs0F", MakeFrame(0x04, {0x00, 0x00, 0x5A}), 10, 0, {}},
        {"EightDataBytesFillTheRecord", MakeFrame(0x04, {1, 2, 3, 4, 5, 6, 7, 8}), 15, 4, {}},
    };
}

class ReceiveReplyTest : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(ReceiveReplyTest, ValidatesInOrder) {
    const ReplyCase& c = GetParam();
    Pty pty;
    ChannelSlot slot;
    ASSERT_TRUE(OpenPlateChannel(slot, pty.Path(), 4096));
    pty.Write(c.wire);
    const LinkResult<DeviceFrame> reply = ReceiveReply(*slot, c.size, 150, c.expected);
    EXPECT_EQ(reply.error, c.status.error);
    EXPECT_EQ(reply.code, c.status.code);
    // The record holds what arrived, the rest still 0xFF.
    for (std::size_t i = 0; i < reply.value.bytes.size(); ++i) {
        std::uint8_t want = i < std::min(c.wire.size(), c.size) ? c.wire[i] : 0xFF;
        EXPECT_EQ(reply.value.bytes[i], want) << "byte " << i;
    }
    // The pure validation agrees with the channel path.
    DeviceFrame same = FrameOf(
        Bytes(c.wire.begin(),
              c.wire.begin() + static_cast<std::ptrdiff_t>(std::min(c.wire.size(), c.size))));
    const LinkStatus read = c.wire.size() >= c.size ? LinkStatus{} : LinkStatus{LinkError::Timeout};
    EXPECT_EQ(ValidateReply(same, read, c.expected), c.status);
    CloseChannel(slot);
}

INSTANTIATE_TEST_SUITE_P(Replies, ReceiveReplyTest, ::testing::ValuesIn(ReplyCases()),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(ReceiveReply, OnAChannelThatIsNotConnectedFailsAtOnce) {
    ChannelSlot slot;
    EXPECT_FALSE(OpenPlateChannel(slot, "/dev/kelvaro-no-such-port", 4096));
    long long t0 = testing::NowMs();
    EXPECT_EQ(ReceiveReply(*slot, 8, 2000, 1).error, LinkError::NotConnected);
    EXPECT_LT(testing::NowMs() - t0, 200);
}

TEST(DecodeReading, BigEndianUnsigned24Bit) {
    EXPECT_EQ(DecodeReading(FrameOf(MakeFrame(5, {0x01, 0x02, 0x03}))), 66051u);
    EXPECT_EQ(DecodeReading(FrameOf(MakeFrame(5, {0xFF, 0xFF, 0xFF}))), 16777215u);
    EXPECT_EQ(DecodeReading(FrameOf(MakeFrame(5, {0x0F, 0x42, 0x40}))), 1000000u);
    EXPECT_EQ(DecodeReading(FrameOf(MakeFrame(5, {0x00, 0x00, 0x00}))), 0u);
}

}  // namespace
}  // namespace kelvaro
