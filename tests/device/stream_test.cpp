// Streamed SampleReports: a dropped or an inserted byte costs one sample, not the rest.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "Pty.h"
#include "device/ChannelSlot.h"
#include "device/Frame.h"
#include "device/Link.h"
#include "device/SerialChannel.h"

namespace kelvaro {
namespace {

using testing::Bytes;
using testing::Pty;

Bytes Report(std::uint32_t reading) {
    return testing::MakeFrame(
        0x05, {static_cast<std::uint8_t>(reading >> 16), static_cast<std::uint8_t>(reading >> 8),
               static_cast<std::uint8_t>(reading)});
}

// Readings chosen so that a report's bytes include 0x0A and 0x0F in the data, the hardest
// case for a hunter that looks for start bytes.
const std::uint32_t kReadings[] = {0x0A0F0A, 0x123456, 0x0A0A0A, 0x7F0F01, 0xFFFFFF, 0x000000};
constexpr std::size_t kDamaged = 2;  // index of the frame that gets damaged

struct Outcome {
    std::vector<std::uint32_t> readings;  // of the calls that returned true
    int failures = 0;
    int calls = 0;
};

// Calls ReceiveStreamedReply until a call fails on silence (nothing left).
Outcome Drain(SerialChannel& ch) {
    Outcome out;
    for (int i = 0; i < 40; ++i) {
        const LinkResult<DeviceFrame> reply = ReceiveStreamedReply(ch, 10, 100);
        if (reply.error == LinkError::Timeout && ch.LookAheadSize() == 0 &&
            reply.value.bytes[0] == 0xFF) {
            break;  // silence: the 0xFF-filled record
        }
        ++out.calls;
        if (reply) {
            out.readings.push_back(DecodeReading(reply.value));
        } else {
            ++out.failures;
        }
    }
    return out;
}

Bytes StreamWith(const std::function<void(Bytes&)>& damage) {
    Bytes stream;
    for (std::size_t i = 0; i < std::size(kReadings); ++i) {
        Bytes f = Report(kReadings[i]);
        if (i == kDamaged) {
            damage(f);
        }
        stream.insert(stream.end(), f.begin(), f.end());
    }
    return stream;
}

std::vector<std::uint32_t> AllBut(std::size_t skip) {
    std::vector<std::uint32_t> v;
    for (std::size_t i = 0; i < std::size(kReadings); ++i) {
        if (i != skip)
            v.push_back(kReadings[i]);
    }
    return v;
}

class StreamResync : public ::testing::TestWithParam<std::size_t> {
  protected:
    Outcome Run(const Bytes& stream) {
        Pty pty;
        ChannelSlot slot;
        EXPECT_TRUE(OpenPlateChannel(slot, pty.Path(), 4096));
        pty.Write(stream);
        return Drain(*slot);
    }
};
class StreamResyncDrop : public StreamResync {};

TEST_P(StreamResyncDrop, DroppedByteCostsOneSample) {
    const std::size_t pos = GetParam();
    Outcome out =
        Run(StreamWith([&](Bytes& f) { f.erase(f.begin() + static_cast<std::ptrdiff_t>(pos)); }));
    EXPECT_EQ(out.failures, 1);
    EXPECT_EQ(out.readings, AllBut(kDamaged));
}

TEST_P(StreamResync, InsertedByteCostsOneSample) {
    const std::size_t pos = GetParam();
    for (std::uint8_t extra : {std::uint8_t{0x55}, std::uint8_t{0x0A}, std::uint8_t{0x0F}}) {
        Outcome out = Run(StreamWith(
            [&](Bytes& f) { f.insert(f.begin() + static_cast<std::ptrdiff_t>(pos), extra); }));
        EXPECT_EQ(out.failures, 1) << "extra " << int{extra} << " at " << pos;
        // Inserted before the start or after the end byte, the frame itself is intact and
        // still delivered; inside it, the frame is lost. An extra byte equal to all the bytes
        // before it (0x0A at 1) or after it (0x0F at 9) is the same stream as one outside.
        const Bytes f = Report(kReadings[kDamaged]);
        const bool outside = std::all_of(f.begin(), f.begin() + static_cast<std::ptrdiff_t>(pos),
                                         [&](std::uint8_t b) { return b == extra; }) ||
                             std::all_of(f.begin() + static_cast<std::ptrdiff_t>(pos), f.end(),
                                         [&](std::uint8_t b) { return b == extra; });
        if (outside) {
            EXPECT_EQ(out.readings, AllBut(99)) << "extra " << int{extra} << " at " << pos;
        } else {
            EXPECT_EQ(out.readings, AllBut(kDamaged)) << "extra " << int{extra} << " at " << pos;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Positions, StreamResync, ::testing::Range<std::size_t>(0, 11));
INSTANTIATE_TEST_SUITE_P(Positions, StreamResyncDrop, ::testing::Range<std::size_t>(0, 10));

TEST(StreamResyncGarbage, ABurstOfNoiseIsSkipped) {
    Bytes stream = Report(kReadings[0]);
    for (int i = 0; i < 150; ++i) {
        stream.push_back(static_cast<std::uint8_t>(i * 37 + 11));  // includes 0x0A bytes
    }
    for (std::size_t i = 1; i < std::size(kReadings); ++i) {
        Bytes f = Report(kReadings[i]);
        stream.insert(stream.end(), f.begin(), f.end());
    }
    Pty pty;
    ChannelSlot slot;
    ASSERT_TRUE(OpenPlateChannel(slot, pty.Path(), 4096));
    pty.Write(stream);
    Outcome out = Drain(*slot);
    EXPECT_EQ(out.readings, AllBut(99));
    EXPECT_GE(out.failures, 1);
    EXPECT_LE(out.failures, 5);  // each failed call consumes a bounded stretch of noise
}

TEST(StreamResyncGarbage, APartialFrameThenSilenceFailsWithinOneTimeout) {
    Pty pty;
    ChannelSlot slot;
    ASSERT_TRUE(OpenPlateChannel(slot, pty.Path(), 4096));
    Bytes partial = Report(kReadings[1]);
    partial.resize(6);
    pty.Write(partial);
    long long t0 = testing::NowMs();
    EXPECT_EQ(ReceiveStreamedReply(*slot, 10, 150).error, LinkError::Checksum);
    EXPECT_LT(testing::NowMs() - t0, 400);
}

TEST(StreamResyncGarbage, AValidStreamIsReadFrameByFrame) {
    Pty pty;
    ChannelSlot slot;
    ASSERT_TRUE(OpenPlateChannel(slot, pty.Path(), 4096));
    pty.Write(StreamWith([](Bytes&) {}));
    Outcome out = Drain(*slot);
    EXPECT_EQ(out.failures, 0);
    EXPECT_EQ(out.readings, AllBut(99));
}

}  // namespace
}  // namespace kelvaro
