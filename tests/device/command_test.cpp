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
    EXPECT_EQ(Bytes(kIdentify.bytes.begin(), kIdentify.bytes.end()),
              (Bytes{0x0A, 0xC0, 0xD0, 0x01, 0x00, 0x6F, 0x0F}));
    EXPECT_EQ(Bytes(kStartStream.bytes.begin(), kStartStream.bytes.end()),
              (Bytes{0x0A, 0xC0, 0xD0, 0x03, 0x00, 0x6D, 0x0F}));
    EXPECT_EQ(Bytes(kReadSample.bytes.begin(), kReadSample.bytes.end()),
              (Bytes{0x0A, 0xC0, 0xD0, 0x04, 0x00, 0x6C, 0x0F}));
    EXPECT_EQ(Bytes(kStop.bytes.begin(), kStop.bytes.end()),
              (Bytes{0x0A, 0xC0, 0xD0, 0x06, 0x00, 0x6A, 0x0F}));
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
    EXPECT_EQ(ConfigurePlate(*slot, 100, kModeTest).error, LinkError::BadFunction);
}

TEST_F(CommandTest, IdentifyReturnsTheModelCode) {
    pty.Write({0x0A, 0xC0, 0xD0, 0x01, 0x01, 0x65, 0x09, 0x0F});
    LinkResult<std::uint8_t> model = IdentifyPlate(*slot);
    EXPECT_TRUE(model);
    EXPECT_EQ(model.value, 101);
    EXPECT_TRUE(ModelCodeAccepted(model.value));
    EXPECT_EQ(pty.Read(64, 100), Bytes(kIdentify.bytes.begin(), kIdentify.bytes.end()));

    pty.Write({0x0A, 0xC0, 0xD0, 0x01, 0x01, 0x63, 0x0B, 0x0F});
    model = IdentifyPlate(*slot);
    EXPECT_TRUE(model);
    EXPECT_EQ(model.value, 99);
    EXPECT_FALSE(ModelCodeAccepted(model.value));
}

TEST_F(CommandTest, ReadSampleAcceptsAnyFunctionButNotADeviceError) {
    pty.Write(MakeFrame(7, {0x0F, 0x42, 0x40}));
    LinkResult<std::uint32_t> reading = ReadPlateSample(*slot);
    EXPECT_TRUE(reading);
    EXPECT_EQ(reading.value, 1000000u);
    pty.Write(MakeFrame(0xF4, {0x04, 0x00, 0x00}));
    EXPECT_EQ(ReadPlateSample(*slot), (LinkStatus{LinkError::Device, 4}));
}

TEST_F(CommandTest, StartStreamNeedsAFunction3Ack) {
    pty.Write(MakeFrame(kFnStartStream, {}));
    EXPECT_TRUE(StartPlateStream(*slot));
    EXPECT_EQ(pty.Read(64, 100), Bytes(kStartStream.bytes.begin(), kStartStream.bytes.end()));
}

// A failed send is not followed by a read that would wait for its whole time-out.
TEST(Commands, AFailedSendSkipsTheRead) {
    ChannelSlot slot;
    EXPECT_FALSE(OpenPlateChannel(slot, "/dev/kelvaro-no-such-port", 4096));
    long long t0 = testing::NowMs();
    EXPECT_EQ(ConfigurePlate(*slot, 50, kModeTest).error, LinkError::NotConnected);
    EXPECT_LT(testing::NowMs() - t0, 100);
}

}  // namespace
}  // namespace kelvaro
