// The plate command set: the bytes on the wire and the transactions.
#include <gtest/gtest.h>

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
using testing::Pty;

TEST(Requests, PrebuiltRequestsAreExact) {
    EXPECT_EQ(Bytes(kIdentify.begin(), kIdentify.end()),
              (Bytes{0x0A, 0xC0, 0xD0, 0x01, 0x00, 0x6F, 0x0F}));
    EXPECT_EQ(Bytes(kStartStream.begin(), kStartStream.end()),
              (Bytes{0x0A, 0xC0, 0xD0, 0x03, 0x00, 0x6D, 0x0F}));
    EXPECT_EQ(Bytes(kReadSample.begin(), kReadSample.end()),
              (Bytes{0x0A, 0xC0, 0xD0, 0x04, 0x00, 0x6C, 0x0F}));
    EXPECT_EQ(Bytes(kStop.begin(), kStop.end()), (Bytes{0x0A, 0xC0, 0xD0, 0x06, 0x00, 0x6A, 0x0F}));
}

struct ConfigureCase {
    std::int32_t frequency;
    std::uint8_t mode;
    Bytes wire;
};

std::ostream& operator<<(std::ostream& out, const ConfigureCase& c) {
    return out << c.frequency << " Hz, mode " << static_cast<int>(c.mode);
}

class BuildConfigureTest : public ::testing::TestWithParam<ConfigureCase> {};

TEST_P(BuildConfigureTest, ByteExact) {
    const auto& c = GetParam();
    DeviceFrame f = BuildConfigure(c.frequency, c.mode);
    EXPECT_EQ(Bytes(f.bytes.begin(), f.bytes.begin() + 13), c.wire);
}

INSTANTIATE_TEST_SUITE_P(
    Frequencies, BuildConfigureTest,
    ::testing::Values(
        ConfigureCase{
            50, 3, {0x0A, 0xC0, 0xD0, 0x02, 0x06, 0x01, 0x00, 0x00, 0x00, 0x32, 0x03, 0x32, 0x0F}},
        ConfigureCase{
            100, 3, {0x0A, 0xC0, 0xD0, 0x02, 0x06, 0x01, 0x00, 0x00, 0x00, 0x64, 0x03, 0x00, 0x0F}},
        ConfigureCase{
            300, 0, {0x0A, 0xC0, 0xD0, 0x02, 0x06, 0x01, 0x00, 0x00, 0x01, 0x2C, 0x00, 0x3A, 0x0F}},
        ConfigureCase{
            400, 2, {0x0A, 0xC0, 0xD0, 0x02, 0x06, 0x01, 0x00, 0x00, 0x01, 0x90, 0x02, 0xD4, 0x0F}},
        ConfigureCase{
            600, 2, {0x0A, 0xC0, 0xD0, 0x02, 0x06, 0x01, 0x00, 0x00, 0x02, 0x58, 0x02, 0x0B, 0x0F}},
        ConfigureCase{
            600, 3, {0x0A, 0xC0, 0xD0, 0x02, 0x06, 0x01, 0x00, 0x00, 0x02, 0x58, 0x03, 0x0A, 0x0F}},
        // Not a selectable frequency: high byte 0, low 8 bits of the value.
        ConfigureCase{
            500,
            3,
            {0x0A, 0xC0, 0xD0, 0x02, 0x06, 0x01, 0x00, 0x00, 0x00, 0xF4, 0x03, 0x70, 0x0F}}));

class CommandTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(OpenPlateChannel(slot, pty.Path(), 4096)); }
    Pty pty;
    ChannelSlot slot;
};

TEST_F(CommandTest, ConfigureSendsThirteenBytesAndNeedsAFunction2Ack) {
    pty.Write(MakeFrame(kFnConfigure, {}));
    EXPECT_TRUE(ConfigurePlate(*slot, 100, kModeTest));
    DeviceFrame expected = BuildConfigure(100, kModeTest);
    EXPECT_EQ(pty.Read(64, 100), Bytes(expected.bytes.begin(), expected.bytes.begin() + 13));

    pty.Write(MakeFrame(kFnStartStream, {}));  // acknowledged with the wrong function
    EXPECT_FALSE(ConfigurePlate(*slot, 100, kModeTest));
    EXPECT_EQ(LinkLastError(), kLinkBadFunction);
}

TEST_F(CommandTest, IdentifyReturnsTheModelCode) {
    pty.Write({0x0A, 0xC0, 0xD0, 0x01, 0x01, 0x65, 0x09, 0x0F});
    std::uint8_t model = 0;
    EXPECT_TRUE(IdentifyPlate(*slot, kReplyTimeoutMs, &model));
    EXPECT_EQ(model, 101);
    EXPECT_TRUE(ModelCodeAccepted(model));
    EXPECT_EQ(pty.Read(64, 100), Bytes(kIdentify.begin(), kIdentify.end()));

    pty.Write({0x0A, 0xC0, 0xD0, 0x01, 0x01, 0x63, 0x0B, 0x0F});
    EXPECT_TRUE(IdentifyPlate(*slot, kReplyTimeoutMs, &model));
    EXPECT_EQ(model, 99);
    EXPECT_FALSE(ModelCodeAccepted(model));
}

TEST_F(CommandTest, ReadSampleAcceptsAnyFunctionButNotADeviceError) {
    std::uint32_t reading = 0;
    pty.Write(MakeFrame(7, {0x0F, 0x42, 0x40}));
    EXPECT_TRUE(ReadPlateSample(*slot, reading));
    EXPECT_EQ(reading, 1000000u);
    reading = 7;
    pty.Write(MakeFrame(0xF4, {0x04, 0x00, 0x00}));
    EXPECT_FALSE(ReadPlateSample(*slot, reading));
    EXPECT_EQ(LinkLastError(), 4);
    EXPECT_EQ(reading, 7u);
}

TEST_F(CommandTest, StartStreamNeedsAFunction3Ack) {
    pty.Write(MakeFrame(kFnStartStream, {}));
    EXPECT_TRUE(StartPlateStream(*slot));
    EXPECT_EQ(pty.Read(64, 100), Bytes(kStartStream.begin(), kStartStream.end()));
}

TEST(Commands, AFailedSendSkipsTheRead) {
    ChannelSlot slot;
    EXPECT_FALSE(OpenPlateChannel(slot, "/dev/kelvaro-no-such-port", 4096));
    // A reply checked would reset LinkLastError; a skipped one leaves it alone.
    Pty pty;
    ChannelSlot good;
    ASSERT_TRUE(OpenPlateChannel(good, pty.Path(), 4096));
    DeviceFrame f;
    EXPECT_FALSE(ReceiveReply(*good, f, 7, 50, 2));
    ASSERT_EQ(LinkLastError(), kLinkTimeout);
    long long t0 = testing::NowMs();
    EXPECT_FALSE(ConfigurePlate(*slot, 50, kModeTest));
    EXPECT_LT(testing::NowMs() - t0, 100);
    EXPECT_EQ(LinkLastError(), kLinkTimeout);  // untouched: no receive ran
}

}  // namespace
}  // namespace kelvaro
