// Frame checksum, reply validation order and codes (read through a real pseudo-terminal),
// reading decode and the error texts.
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
    EXPECT_EQ(FrameChecksum(FrameOf(Bytes(kIdentify.begin(), kIdentify.end()))), 0x6F);
    EXPECT_EQ(FrameChecksum(FrameOf(Bytes(kReadSample.begin(), kReadSample.end()))), 0x6C);
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
    bool ok;
    int code;
};

Bytes WithByte(Bytes b, std::size_t i, std::uint8_t v) {
    b[i] = v;
    return b;
}

const Bytes kIdentifyReply{0x0A, 0xC0, 0xD0, 0x01, 0x01, 0x65, 0x09, 0x0F};

std::vector<ReplyCase> ReplyCases() {
    return {
        {"ValidIdentify", kIdentifyReply, 8, 1, true, kLinkNoError},
        {"ChecksumBeforeStart", WithByte(WithByte(kIdentifyReply, 0, 0x0B), 6, 0x08), 8, 1, false,
         kLinkChecksumError},
        {"BadStart", WithByte(kIdentifyReply, 0, 0x0B), 8, 1, false, kLinkNoStart},
        {"BadEnd", WithByte(kIdentifyReply, 7, 0x0E), 8, 1, false, kLinkNoEnd},
        {"BadChecksum", WithByte(kIdentifyReply, 6, 0x0A), 8, 1, false, kLinkChecksumError},
        {"DeviceErrorBeatsExpectedFunction", MakeFrame(0xF3, {0x05}), 8, 2, false, 5},
        {"DeviceErrorCodeZeroReadsAsChecksum", MakeFrame(0xF1, {0x00}), 8, 0, false, 0},
        {"DeviceErrorOnReadSample", MakeFrame(0xF4, {0x02, 0x00, 0x00}), 10, 0, false, 2},
        {"Function240IsOrdinaryWrong", MakeFrame(0xF0, {}), 7, 2, false, kLinkBadFunction},
        {"Function240AcceptedForAny", MakeFrame(0xF0, {}), 7, 0, true, kLinkNoError},
        {"WrongFunction", MakeFrame(0x04, {0x01}), 8, 1, false, kLinkBadFunction},
        {"WrongFunctionAcceptedForAny", MakeFrame(0x04, {0x01}), 8, 0, true, kLinkNoError},
        {"ReadSampleFunction7Accepted", MakeFrame(0x07, {0x01, 0x02, 0x03}), 10, 0, true,
         kLinkNoError},
        {"TimeoutWithExpectedFunction", Bytes{0x0A, 0xC0, 0xD0}, 8, 1, false, kLinkTimeout},
        // Without an expected function a time-out is validated with the 0xFF fill.
        {"TimeoutAnyFunctionIsNotCode1", Bytes{0x0A, 0xC0, 0xD0, 0x04, 0x03}, 10, 0, false,
         kLinkChecksumError},
        {"SilenceAnyFunctionOversizedLength", Bytes{}, 10, 0, false, kLinkOversizedLength},
        {"LengthAboveEight", Bytes{0x0A, 0xC0, 0xD0, 0x04, 0x09, 1, 2, 3, 4, 5}, 10, 0, false,
         kLinkOversizedLength},
        // Checksum 0x0A (Configure 600 Hz mode 3 shaped as a reply) and data bytes 0A/0F.
        {"ChecksumIs0A",
         Bytes{0x0A, 0xC0, 0xD0, 0x02, 0x06, 0x01, 0x00, 0x00, 0x02, 0x58, 0x03, 0x0A, 0x0F}, 13, 2,
         true, kLinkNoError},
        {"DataBytesAre0Aand0F", MakeFrame(0x04, {0x0A, 0x0F, 0x0A}), 10, 4, true, kLinkNoError},
        {"ChecksumIs0F", MakeFrame(0x04, {0x00, 0x00, 0x5A}), 10, 0, true, kLinkNoError},
        {"EightDataBytesFillTheRecord", MakeFrame(0x04, {1, 2, 3, 4, 5, 6, 7, 8}), 15, 4, true,
         kLinkNoError},
    };
}

class ReceiveReplyTest : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(ReceiveReplyTest, ValidatesInOrder) {
    const ReplyCase& c = GetParam();
    Pty pty;
    ChannelSlot slot;
    ASSERT_TRUE(OpenPlateChannel(slot, pty.Path(), 4096));
    pty.Write(c.wire);
    DeviceFrame frame;
    EXPECT_EQ(ReceiveReply(*slot, frame, c.size, 150, c.expected), c.ok);
    EXPECT_EQ(LinkLastError(), c.code);
    // The record holds what arrived, the rest still 0xFF.
    for (std::size_t i = 0; i < frame.bytes.size(); ++i) {
        std::uint8_t want = i < std::min(c.wire.size(), c.size) ? c.wire[i] : 0xFF;
        EXPECT_EQ(frame.bytes[i], want) << "byte " << i;
    }
    // The pure validation agrees with the channel path.
    DeviceFrame same = FrameOf(
        Bytes(c.wire.begin(),
              c.wire.begin() + static_cast<std::ptrdiff_t>(std::min(c.wire.size(), c.size))));
    EXPECT_EQ(ValidateReply(same, c.wire.size() >= c.size, c.expected), c.code);
    CloseChannel(slot);
}

INSTANTIATE_TEST_SUITE_P(Replies, ReceiveReplyTest, ::testing::ValuesIn(ReplyCases()),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(ReceiveReply, SuccessResetsAnEarlierFailure) {
    Pty pty;
    ChannelSlot slot;
    ASSERT_TRUE(OpenPlateChannel(slot, pty.Path(), 4096));
    DeviceFrame frame;
    pty.Write(WithByte(kIdentifyReply, 7, 0x00));
    EXPECT_FALSE(ReceiveReply(*slot, frame, 8, 200, 1));
    EXPECT_EQ(LinkLastError(), kLinkNoEnd);
    pty.Write(kIdentifyReply);
    EXPECT_TRUE(ReceiveReply(*slot, frame, 8, 200, 1));
    EXPECT_EQ(LinkLastError(), kLinkNoError);
    EXPECT_EQ(frame.Data(0), 101);
}

TEST(ReceiveReply, OnAChannelThatIsNotConnectedFailsAtOnce) {
    ChannelSlot slot;
    EXPECT_FALSE(OpenPlateChannel(slot, "/dev/kelvaro-no-such-port", 4096));
    DeviceFrame frame;
    long long t0 = testing::NowMs();
    EXPECT_FALSE(ReceiveReply(*slot, frame, 8, 2000, 1));
    EXPECT_LT(testing::NowMs() - t0, 200);
    EXPECT_EQ(LinkLastError(), kLinkTimeout);
}

TEST(DecodeReading, BigEndianUnsigned24Bit) {
    EXPECT_EQ(DecodeReading(FrameOf(MakeFrame(5, {0x01, 0x02, 0x03}))), 66051u);
    EXPECT_EQ(DecodeReading(FrameOf(MakeFrame(5, {0xFF, 0xFF, 0xFF}))), 16777215u);
    EXPECT_EQ(DecodeReading(FrameOf(MakeFrame(5, {0x0F, 0x42, 0x40}))), 1000000u);
    EXPECT_EQ(DecodeReading(FrameOf(MakeFrame(5, {0x00, 0x00, 0x00}))), 0u);
}

TEST(LinkErrorTexts, ExactTextsByCode) {
    EXPECT_EQ(LinkErrorText(-1), "   - Nenhum");
    EXPECT_EQ(LinkErrorText(0), "00 - Erro de Checksum");
    EXPECT_EQ(LinkErrorText(1), "01 - Erro de Timeout");
    EXPECT_EQ(LinkErrorText(2), "02 - Nenhum Dispositivo endereçado");
    EXPECT_EQ(LinkErrorText(3), "03 - Endereço Inválido de Dispositivo");
    EXPECT_EQ(LinkErrorText(4), "04 - Falha no Dispositivo");
    EXPECT_EQ(LinkErrorText(5), "05 - Falha na configuração do Dispositivo");
    EXPECT_EQ(LinkErrorText(6), "06 - Função Inválida");
    EXPECT_EQ(LinkErrorText(7), "07 - Dados Inválidos");
    EXPECT_EQ(LinkErrorText(8), "08 - Início da Mensagem não encontrado");
    EXPECT_EQ(LinkErrorText(9), "09 - Fim da Mensagem não encontrado");
    EXPECT_EQ(LinkErrorText(10), "");
    EXPECT_EQ(LinkErrorText(-2), "");
    EXPECT_EQ(LinkErrorTexts.size(), 11u);
}

}  // namespace
}  // namespace kelvaro
