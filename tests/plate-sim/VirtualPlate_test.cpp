// Virtual plates seen from the host side: byte-exact replies over a raw descriptor on the
// pseudo-terminal, and whole transactions through the station's device link.
#include "plate-sim/VirtualPlate.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "CaseNames.h"
#include "TempDir.h"
#include "device/ChannelSlot.h"
#include "device/Frame.h"
#include "device/Link.h"
#include "device/PlateCommands.h"
#include "device/SerialChannel.h"

namespace kelvaro {
namespace {

using testing::PrintTo;

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using sim::Fault;
using sim::FaultKind;
using sim::LoadShape;
using sim::PlateOptions;
using sim::VirtualPlate;

const Bytes kIdentifyRequest{0x0A, 0xC0, 0xD0, 0x01, 0x00, 0x6F, 0x0F};
const Bytes kStartRequest{0x0A, 0xC0, 0xD0, 0x03, 0x00, 0x6D, 0x0F};
const Bytes kReadRequest{0x0A, 0xC0, 0xD0, 0x04, 0x00, 0x6C, 0x0F};
const Bytes kStopRequest{0x0A, 0xC0, 0xD0, 0x06, 0x00, 0x6A, 0x0F};
const Bytes kIdentifyReply101{0x0A, 0xC0, 0xD0, 0x01, 0x01, 0x65, 0x09, 0x0F};

long MsSince(Clock::time_point t) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

// The host end of a plate, opened in raw mode with plain descriptor I/O.
class RawPort {
  public:
    explicit RawPort(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd_ >= 0) {
            termios t{};
            tcgetattr(fd_, &t);
            cfmakeraw(&t);
            tcsetattr(fd_, TCSANOW, &t);
        }
    }
    ~RawPort() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    RawPort(const RawPort&) = delete;
    RawPort& operator=(const RawPort&) = delete;

    bool Ok() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    void Write(const Bytes& b) {
        ASSERT_EQ(::write(fd_, b.data(), b.size()), static_cast<ssize_t>(b.size()));
    }

    // Up to `count` bytes, waiting at most `timeoutMs` in all.
    Bytes Read(std::size_t count, int timeoutMs) {
        Bytes out;
        const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < count) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
            if (left.count() <= 0)
                break;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                break;
            std::uint8_t buf[256];
            const ssize_t n = ::read(fd_, buf, std::min(sizeof buf, count - out.size()));
            if (n <= 0)
                break;
            out.insert(out.end(), buf, buf + n);
        }
        return out;
    }
    // Everything that arrives until the line has been quiet for `quietMs`.
    Bytes Drain(int quietMs) {
        Bytes out;
        for (;;) {
            Bytes b = Read(4096, quietMs);
            if (b.empty())
                return out;
            out.insert(out.end(), b.begin(), b.end());
        }
    }
    Bytes Transact(const Bytes& request, std::size_t replySize, int timeoutMs = 1000) {
        Write(request);
        return Read(replySize, timeoutMs);
    }

  private:
    int fd_ = -1;
};

Bytes Frame(std::uint8_t function, const Bytes& data) {
    Bytes f{0x0A, 0xC0, 0xD0, function, static_cast<std::uint8_t>(data.size())};
    f.insert(f.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (std::size_t i = 1; i < f.size(); ++i)
        sum += f[i];
    f.push_back(static_cast<std::uint8_t>(0x100 - (sum & 0xFF)));
    f.push_back(0x0F);
    return f;
}

std::uint32_t ReadingOf(const Bytes& f) {
    return static_cast<std::uint32_t>(f.at(5) << 16 | f.at(6) << 8 | f.at(7));
}

// ---- protocol, byte for byte ---------------------------------------------------------------

TEST(VirtualPlate, IdentifyAnswersTheModelCodeByteForByte) {
    VirtualPlate plate;
    ASSERT_TRUE(plate.Ok());
    RawPort port(plate.DevicePath());
    ASSERT_TRUE(port.Ok());
    EXPECT_EQ(port.Transact(kIdentifyRequest, 8), kIdentifyReply101);

    plate.SetModelCode(99);
    EXPECT_EQ(port.Transact(kIdentifyRequest, 8),
              (Bytes{0x0A, 0xC0, 0xD0, 0x01, 0x01, 0x63, 0x0B, 0x0F}));
    EXPECT_EQ(plate.Stats().requests[1], 2u);
}

TEST(VirtualPlate, ConfigureIsAcknowledgedAndRemembered) {
    VirtualPlate plate;
    RawPort port(plate.DevicePath());
    EXPECT_EQ(plate.ConfiguredFrequency(), 0);
    EXPECT_EQ(plate.ConfiguredMode(), -1);
    // 600 Hz in mode 3: the checksum is 0x0A, the start byte's value.
    const Bytes configure{0x0A, 0xC0, 0xD0, 0x02, 0x06, 0x01, 0x00,
                          0x00, 0x02, 0x58, 0x03, 0x0A, 0x0F};
    EXPECT_EQ(port.Transact(configure, 7), (Bytes{0x0A, 0xC0, 0xD0, 0x02, 0x00, 0x6E, 0x0F}));
    EXPECT_EQ(plate.ConfiguredFrequency(), 600);
    EXPECT_EQ(plate.ConfiguredMode(), 3);

    // A Configure without its six data bytes is refused as invalid data and changes nothing.
    EXPECT_EQ(port.Transact(Frame(0x02, {0x01}), 8), Frame(0xF2, {0x07}));
    EXPECT_EQ(plate.ConfiguredFrequency(), 600);
    const auto stats = plate.Stats();
    EXPECT_EQ(stats.configuredFrequency, 600);
    EXPECT_EQ(stats.configuredMode, 3);
    EXPECT_EQ(stats.requests[2], 2u);
}

TEST(VirtualPlate, UnknownFunctionsGetADeviceErrorWithInvalidData) {
    VirtualPlate plate;
    RawPort port(plate.DevicePath());
    EXPECT_EQ(port.Transact(Frame(0x09, {}), 8), Frame(0xF9, {0x07}));
    EXPECT_EQ(port.Transact(Frame(0x00, {}), 8), Frame(0xF1, {0x07}));  // never 0xF0
    EXPECT_EQ(port.Transact(Frame(0x05, {0xAA, 0xBB}), 8), Frame(0xF5, {0x07}));
}

TEST(VirtualPlate, SkipsGarbageAndForeignFramesByteByByte) {
    VirtualPlate plate;
    RawPort port(plate.DevicePath());
    Bytes noise{0xFF, 0x0A, 0x0A, 0xC0};  // junk and a torn start
    const Bytes badChecksum{0x0A, 0xC0, 0xD0, 0x01, 0x00, 0x6E, 0x0F};
    const Bytes otherAddress{0x0A, 0xC1, 0xD0, 0x01, 0x00, 0x6E, 0x0F};  // valid sum, not ours
    noise.insert(noise.end(), badChecksum.begin(), badChecksum.end());
    noise.insert(noise.end(), otherAddress.begin(), otherAddress.end());
    noise.insert(noise.end(), kIdentifyRequest.begin(), kIdentifyRequest.end());
    port.Write(noise);
    EXPECT_EQ(port.Read(8, 1000), kIdentifyReply101);
    EXPECT_TRUE(port.Drain(50).empty());  // exactly one reply
    const auto stats = plate.Stats();
    EXPECT_EQ(stats.requests[1], 1u);
    EXPECT_EQ(stats.garbageBytes, 4u + 7u + 7u);
}

TEST(VirtualPlate, ARequestSplitAcrossWritesIsAnswered) {
    VirtualPlate plate;
    RawPort port(plate.DevicePath());
    port.Write(Bytes(kReadRequest.begin(), kReadRequest.begin() + 3));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    port.Write(Bytes(kReadRequest.begin() + 3, kReadRequest.end()));
    EXPECT_EQ(port.Read(10, 1000).size(), 10u);
}

// ---- reading model -------------------------------------------------------------------------

TEST(VirtualPlate, ScriptedReadingsComeInOrderAndTheLastRepeats) {
    PlateOptions options;
    options.shape = LoadShape::Script;
    options.readings = {1, 66051, 16000000};
    VirtualPlate plate(options);
    RawPort port(plate.DevicePath());
    EXPECT_EQ(port.Transact(kReadRequest, 10), Frame(0x04, {0x00, 0x00, 0x01}));
    EXPECT_EQ(port.Transact(kReadRequest, 10), Frame(0x04, {0x01, 0x02, 0x03}));
    EXPECT_EQ(port.Transact(kReadRequest, 10), Frame(0x04, {0xF4, 0x24, 0x00}));
    EXPECT_EQ(ReadingOf(port.Transact(kReadRequest, 10)), 16000000u);

    plate.SetReadings({0xFFFFFFFF, 7});  // out of range: clamped to 24 bits
    EXPECT_EQ(ReadingOf(port.Transact(kReadRequest, 10)), 16777215u);
    EXPECT_EQ(ReadingOf(port.Transact(kReadRequest, 10)), 7u);
}

TEST(VirtualPlate, LoadIsScaledOffsetAndClampedTo24Bits) {
    PlateOptions options;
    options.zeroCounts = 1000;
    options.countsPerUnit = 10;
    options.load = 2.5;
    VirtualPlate plate(options);
    RawPort port(plate.DevicePath());
    EXPECT_EQ(ReadingOf(port.Transact(kReadRequest, 10)), 1025u);
    plate.SetLoad(-500);
    EXPECT_EQ(ReadingOf(port.Transact(kReadRequest, 10)), 0u);
    plate.SetLoad(1e9);
    EXPECT_EQ(ReadingOf(port.Transact(kReadRequest, 10)), 16777215u);
    plate.SetCalibration(5000, 100);
    plate.SetLoad(3);
    EXPECT_EQ(ReadingOf(port.Transact(kReadRequest, 10)), 5300u);
}

TEST(VirtualPlate, StepAndJumpShapesFollowTheSampleIndex) {
    PlateOptions options;
    options.zeroCounts = 100;
    options.countsPerUnit = 1;
    options.load = 50;
    options.shape = LoadShape::Step;
    options.stepAtSample = 2;
    VirtualPlate plate(options);
    RawPort port(plate.DevicePath());
    std::vector<std::uint32_t> step;
    for (int i = 0; i < 4; ++i)
        step.push_back(ReadingOf(port.Transact(kReadRequest, 10)));
    EXPECT_EQ(step, (std::vector<std::uint32_t>{100, 100, 150, 150}));

    plate.SetShape(LoadShape::Jump);  // 600-sample cycle: stand, dip, push, flight, landing
    std::vector<std::uint32_t> jump;
    for (int i = 0; i < 600; ++i)
        jump.push_back(ReadingOf(port.Transact(kReadRequest, 10)));
    EXPECT_EQ(jump.front(), 150u);                                       // standing
    EXPECT_EQ(*std::min_element(jump.begin(), jump.end()), 100u);        // flight: no load
    EXPECT_GT(*std::max_element(jump.begin(), jump.end()), 100u + 120);  // landing peak
    EXPECT_EQ(jump.back(), 150u);                                        // standing again
}

TEST(VirtualPlate, NoiseIsBoundedAndRepeatsWithTheSeed) {
    PlateOptions options;
    options.zeroCounts = 10000;
    options.noiseCounts = 50;
    options.seed = 42;
    VirtualPlate a(options), b(options);
    RawPort pa(a.DevicePath()), pb(b.DevicePath());
    bool varied = false;
    std::uint32_t first = 0;
    for (int i = 0; i < 50; ++i) {
        const auto ra = ReadingOf(pa.Transact(kReadRequest, 10));
        EXPECT_EQ(ra, ReadingOf(pb.Transact(kReadRequest, 10)));
        EXPECT_GE(ra, 9950u);
        EXPECT_LE(ra, 10050u);
        if (i == 0)
            first = ra;
        varied = varied || ra != first;
    }
    EXPECT_TRUE(varied);
}

// ---- streaming ---------------------------------------------------------------------------

TEST(VirtualPlate, StreamsConsecutiveCounterReportsAtTheConfiguredRateUntilStop) {
    PlateOptions options;
    options.shape = LoadShape::Counter;
    VirtualPlate plate(options);
    ChannelSlot slot;
    ASSERT_TRUE(OpenPlateChannel(slot, plate.DevicePath(), 8192));
    ASSERT_TRUE(ConfigurePlate(*slot, 600, kModeTest));
    ASSERT_TRUE(StartPlateStream(*slot));
    EXPECT_TRUE(plate.Streaming());

    const auto start = Clock::now();
    std::uint32_t expected = 0;
    int frames = 0;
    while (MsSince(start) < 1000) {
        const LinkResult<DeviceFrame> report =
            ReceiveReply(*slot, kSampleReplySize, kStreamTimeoutMs, 0);
        ASSERT_TRUE(report) << "frame " << frames << " error " << static_cast<int>(report.error);
        EXPECT_EQ(report.value.Length(), 3);
        ASSERT_EQ(DecodeReading(report.value), expected) << "a report was lost or repeated";
        ++expected;
        ++frames;
        if (frames == 100) {  // fall behind for a while: the plate keeps its own pace
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    }
    const long elapsed = MsSince(start);
    EXPECT_NEAR(frames, 600.0 * static_cast<double>(elapsed) / 1000.0, 60.0);

    ASSERT_TRUE(SendRequest(*slot, kStop.bytes));
    ASSERT_TRUE(plate.WaitForRequests(kFnStop, 1, 1000));
    EXPECT_FALSE(plate.Streaming());
    const auto sent = plate.ReportsSent();
    // Whatever was sent before Stop is still delivered in order; nothing comes after it.
    for (LinkResult<DeviceFrame> report;
         (report = ReceiveReply(*slot, kSampleReplySize, 100, 0));) {
        EXPECT_EQ(DecodeReading(report.value), expected++);
    }
    EXPECT_EQ(expected, sent);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(plate.ReportsSent(), sent);
    EXPECT_EQ(plate.Stats().reportsDropped, 0u);
}

TEST(VirtualPlate, AHostThatDoesNotReadNeverBlocksRequests) {
    PlateOptions options;
    options.maxPendingBytes = 200;
    VirtualPlate plate(options);
    RawPort port(plate.DevicePath());
    // 20 kHz fills the kernel's queue quickly; the plate then drops and counts reports.
    port.Write(Frame(0x02, {0x01, 0x00, 0x00, 0x4E, 0x20, 0x03}));
    port.Write(kStartRequest);
    const auto start = Clock::now();
    while (plate.Stats().reportsDropped == 0 && MsSince(start) < 3000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_GT(plate.Stats().reportsDropped, 0u);
    port.Write(kStopRequest);
    EXPECT_TRUE(plate.WaitForRequests(6, 1, 500));
    EXPECT_FALSE(plate.Streaming());
}

// ---- faults ----------------------------------------------------------------------------

PlateOptions CounterOptions() {
    PlateOptions options;
    options.shape = LoadShape::Counter;
    return options;
}

// A counter plate streaming at 600 Hz to a raw port, its first five reports taken.
struct StreamingCounterPlate {
    StreamingCounterPlate() : plate(CounterOptions()), port(plate.DevicePath()) {
        port.Write(Frame(0x02, {0x01, 0x00, 0x00, 0x02, 0x58, 0x03}));
        EXPECT_EQ(port.Read(7, 1000).size(), 7u);
        port.Write(kStartRequest);
        EXPECT_EQ(port.Read(7 + 10 * 5, 1000).size(), 57u);
    }
    VirtualPlate plate;
    RawPort port;
};

struct FrameFaultCase {
    const char* name;
    Fault fault;
    Bytes reply;  // what the host receives for Identify
};

class FrameFaults : public ::testing::TestWithParam<FrameFaultCase> {};

TEST_P(FrameFaults, AlterOnlyTheNextReply) {
    VirtualPlate plate;
    RawPort port(plate.DevicePath());
    plate.Inject(GetParam().fault);
    EXPECT_EQ(port.Transact(kIdentifyRequest, GetParam().reply.size()), GetParam().reply);
    EXPECT_TRUE(port.Drain(30).empty());
    EXPECT_EQ(port.Transact(kIdentifyRequest, 8), kIdentifyReply101);
}

INSTANTIATE_TEST_SUITE_P(
    VirtualPlate, FrameFaults,
    ::testing::Values(
        FrameFaultCase{
            "DropByte", {FaultKind::DropByte, 1, 3}, {0x0A, 0xC0, 0xD0, 0x01, 0x65, 0x09, 0x0F}},
        FrameFaultCase{"InsertByte",
                       {FaultKind::InsertByte, 1, 5, 0x55},
                       {0x0A, 0xC0, 0xD0, 0x01, 0x01, 0x55, 0x65, 0x09, 0x0F}},
        FrameFaultCase{"BadChecksum",
                       {FaultKind::BadChecksum},
                       {0x0A, 0xC0, 0xD0, 0x01, 0x01, 0x65, 0x0A, 0x0F}},
        FrameFaultCase{
            "BadStart", {FaultKind::BadStart}, {0x00, 0xC0, 0xD0, 0x01, 0x01, 0x65, 0x09, 0x0F}},
        FrameFaultCase{"BadStartNeverTheStartByte",
                       {FaultKind::BadStart, 1, 0, 0x0A},
                       {0x0B, 0xC0, 0xD0, 0x01, 0x01, 0x65, 0x09, 0x0F}},
        FrameFaultCase{"BadEnd",
                       {FaultKind::BadEnd, 1, 0, 0xEE},
                       {0x0A, 0xC0, 0xD0, 0x01, 0x01, 0x65, 0x09, 0xEE}},
        FrameFaultCase{"Garbage", {FaultKind::Garbage}, Bytes(8, 0x55)},
        FrameFaultCase{"ErrorReply", {FaultKind::ErrorReply, 1, 0, 5}, Frame(0xF1, {0x05})},
        FrameFaultCase{"WrongFunction",
                       {FaultKind::WrongFunction, 1, 0, 4},
                       {0x0A, 0xC0, 0xD0, 0x04, 0x01, 0x65, 0x06, 0x0F}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(VirtualPlate, CountedFaultsLastThatManyFrames) {
    VirtualPlate plate;
    RawPort port(plate.DevicePath());
    plate.Inject({FaultKind::BadChecksum, 2});
    EXPECT_NE(port.Transact(kIdentifyRequest, 8), kIdentifyReply101);
    EXPECT_NE(port.Transact(kIdentifyRequest, 8), kIdentifyReply101);
    EXPECT_EQ(port.Transact(kIdentifyRequest, 8), kIdentifyReply101);
    EXPECT_EQ(plate.Stats().faultsApplied, 2u);
}

TEST(VirtualPlate, ErrorReplyFillsTheSampleReadAndIsSeenAsTheDeviceCode) {
    VirtualPlate plate;
    ChannelSlot slot;
    ASSERT_TRUE(OpenPlateChannel(slot, plate.DevicePath(), 8192));
    plate.Inject({FaultKind::ErrorReply, 1, 0, 4});
    const auto start = Clock::now();
    EXPECT_EQ(ReadPlateSample(*slot), (LinkStatus{LinkError::Device, 4}));
    EXPECT_LT(MsSince(start), 500);  // ten bytes, no time-out
    plate.Inject({FaultKind::ErrorReply, 1, 0, 5});
    EXPECT_EQ(IdentifyPlate(*slot), (LinkStatus{LinkError::Device, 5}));
    // An error reply refuses the request: Configure is not remembered.
    plate.Inject({FaultKind::ErrorReply, 1, 0, 7, 0, 0});  // N = 0, a 7-byte error frame
    EXPECT_FALSE(ConfigurePlate(*slot, 100, kModeTest));
    EXPECT_EQ(plate.ConfiguredFrequency(), 0);
    EXPECT_TRUE(ConfigurePlate(*slot, 100, kModeTest));
    EXPECT_EQ(plate.ConfiguredFrequency(), 100);
}

TEST(VirtualPlate, WrongFunctionIsRefusedWhereAFunctionIsExpected) {
    VirtualPlate plate;
    ChannelSlot slot;
    ASSERT_TRUE(OpenPlateChannel(slot, plate.DevicePath(), 8192));
    plate.Inject({FaultKind::WrongFunction});
    EXPECT_EQ(IdentifyPlate(*slot).error, LinkError::BadFunction);
    plate.Inject({FaultKind::WrongFunction, 1, 0, 7});  // any function passes for ReadSample
    EXPECT_TRUE(ReadPlateSample(*slot));
}

TEST(VirtualPlate, SilenceIgnoresCountedRequestsOrEveryRequestForEver) {
    VirtualPlate plate;
    RawPort port(plate.DevicePath());
    plate.Inject({FaultKind::Silence, 2});
    EXPECT_TRUE(port.Transact(kIdentifyRequest, 8, 100).empty());
    EXPECT_TRUE(port.Transact(kIdentifyRequest, 8, 100).empty());
    EXPECT_EQ(port.Transact(kIdentifyRequest, 8), kIdentifyReply101);
    EXPECT_EQ(plate.Stats().ignoredRequests, 2u);

    plate.Inject({FaultKind::Silence, 0});  // a dead plate
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(port.Transact(kIdentifyRequest, 8, 60).empty());
    plate.ClearFaults();
    EXPECT_EQ(port.Transact(kIdentifyRequest, 8), kIdentifyReply101);
}

TEST(VirtualPlate, SilencePausesTheStreamWithoutLosingCounterNumbers) {
    StreamingCounterPlate streaming;
    VirtualPlate& plate = streaming.plate;
    RawPort& port = streaming.port;
    plate.Inject({FaultKind::Silence, 1});
    const Bytes beforePause = port.Drain(60);  // what was queued at the moment of silence
    EXPECT_TRUE(port.Drain(100).empty());
    const auto sentBefore = plate.ReportsSent();
    const auto resume = Clock::now();
    port.Write(kReadRequest);  // swallowed by the silence; the stream resumes
    ASSERT_TRUE(plate.WaitForRequests(4, 1, 1000));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    // At the plate's pace from the end of the silence, not a burst for the time it lasted.
    const auto sentSince = plate.ReportsSent() - sentBefore;
    EXPECT_LE(static_cast<double>(sentSince), 0.6 * static_cast<double>(MsSince(resume)) + 15.0);
    const Bytes after = port.Read(30, 1000);
    ASSERT_EQ(after.size(), 30u);
    const std::uint32_t resumed = ReadingOf(after);
    EXPECT_EQ(resumed, 5u + beforePause.size() / 10);
    EXPECT_EQ(ReadingOf(Bytes(after.begin() + 10, after.end())), resumed + 1);
}

// A flood replaces the reports by bytes at the line's rate, and the stream comes back after it.
TEST(VirtualPlate, FloodSendsBytesAtTheLineRateInsteadOfReports) {
    StreamingCounterPlate streaming;
    VirtualPlate& plate = streaming.plate;
    RawPort& port = streaming.port;

    plate.Inject({FaultKind::Flood, 0});
    const auto start = Clock::now();
    Bytes line;
    while (MsSince(start) < 300) {
        const Bytes b = port.Read(4096, 20);
        line.insert(line.end(), b.begin(), b.end());
    }
    const auto elapsed = static_cast<double>(MsSince(start));
    plate.ClearFaults();
    const auto flood = static_cast<std::size_t>(std::count(line.begin(), line.end(), 0x55));
    // Reports queued before the flood began may come first; nothing but the flood after them.
    EXPECT_LE(line.size() - flood, 30u);
    EXPECT_EQ(std::find(line.end() - static_cast<std::ptrdiff_t>(flood), line.end(), 0x0A),
              line.end());
    EXPECT_NEAR(static_cast<double>(flood), 10.472 * elapsed, 1000.0);

    Bytes after = port.Read(200, 1000);  // the rest of the flood, then the reports again
    after.erase(after.begin(), std::find(after.begin(), after.end(), 0x0A));
    ASSERT_GE(after.size(), 20u);
    EXPECT_EQ(ReadingOf(Bytes(after.begin() + 10, after.end())), ReadingOf(after) + 1);
}

TEST(VirtualPlate, LateReplyArrivesAfterTheDelay) {
    VirtualPlate plate;
    RawPort port(plate.DevicePath());
    plate.Inject({FaultKind::LateReply, 1, 0, 0, 150});
    const auto start = Clock::now();
    port.Write(kIdentifyRequest);
    EXPECT_TRUE(port.Read(8, 100).empty());
    EXPECT_EQ(port.Read(8, 1000), kIdentifyReply101);
    EXPECT_GE(MsSince(start), 150);
}

TEST(VirtualPlate, AFrameFaultHitsAStreamedReportAndCostsOneSample) {
    PlateOptions options;
    options.shape = LoadShape::Counter;
    VirtualPlate plate(options);
    ChannelSlot slot;
    ASSERT_TRUE(OpenPlateChannel(slot, plate.DevicePath(), 8192));
    ASSERT_TRUE(ConfigurePlate(*slot, 600, kModeTest));
    ASSERT_TRUE(StartPlateStream(*slot));
    const LinkResult<DeviceFrame> first =
        ReceiveReply(*slot, kSampleReplySize, kStreamTimeoutMs, 0);
    ASSERT_TRUE(first);
    std::vector<std::uint32_t> readings{DecodeReading(first.value)};
    plate.Inject({FaultKind::DropByte, 1, 6});
    int failures = 0;
    while (readings.size() < 60) {
        const LinkResult<DeviceFrame> report =
            ReceiveStreamedReply(*slot, kSampleReplySize, kStreamTimeoutMs);
        if (report) {
            readings.push_back(DecodeReading(report.value));
        } else {
            ++failures;
            ASSERT_LT(failures, 5);
        }
    }
    EXPECT_GE(failures, 1);
    int gaps = 0;
    for (std::size_t i = 1; i < readings.size(); ++i) {
        ASSERT_GT(readings[i], readings[i - 1]);
        gaps += static_cast<int>(readings[i] - readings[i - 1] - 1);
    }
    EXPECT_EQ(gaps, 1) << ::testing::PrintToString(
        readings);  // exactly the damaged report is missing
}

TEST(VirtualPlate, UnplugFailsTheHostPromptlyAndRemovesThePort) {
    testing::TempDir tmp;
    VirtualPlate plate;
    const std::string link = plate.Publish(tmp.File("ports"), "plate1");
    ASSERT_FALSE(link.empty());
    ChannelSlot slot;
    ASSERT_TRUE(OpenPlateChannel(slot, link, 8192));
    ASSERT_TRUE(IdentifyPlate(*slot));

    plate.Inject({FaultKind::Unplug});
    EXPECT_FALSE(plate.Stats().plugged);
    const auto start = Clock::now();
    EXPECT_FALSE(ReadPlateSample(*slot));
    EXPECT_LT(MsSince(start), 300);  // far below the 1000 ms time-out
    EXPECT_FALSE(std::filesystem::is_symlink(link));
    EXPECT_FALSE(OpenPlateChannel(slot, link, 8192));
}

TEST(VirtualPlate, RawHostSeesHangUpAfterUnplug) {
    VirtualPlate plate;
    RawPort port(plate.DevicePath());
    plate.Unplug();
    pollfd p{port.Fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 200), 1);
    EXPECT_TRUE(p.revents & (POLLHUP | POLLERR));
    std::uint8_t b = 0;
    EXPECT_LE(::read(port.Fd(), &b, 1), 0);
    plate.Unplug();  // a second unplug is harmless
}

TEST(VirtualPlate, DelayedUnplugHappensMidSession) {
    VirtualPlate plate;
    RawPort port(plate.DevicePath());
    plate.Inject({FaultKind::Unplug, 1, 0, 0, 100});
    EXPECT_EQ(port.Transact(kIdentifyRequest, 8), kIdentifyReply101);
    pollfd p{port.Fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 1000), 1);
    EXPECT_TRUE(p.revents & (POLLHUP | POLLERR));
    EXPECT_FALSE(plate.Stats().plugged);
}

TEST(VirtualPlate, TheHostMayCloseAndReopenThePort) {
    VirtualPlate plate;
    for (int i = 0; i < 3; ++i) {
        ChannelSlot slot;
        ASSERT_TRUE(OpenPlateChannel(slot, plate.DevicePath(), 8192));
        const LinkResult<std::uint8_t> model = IdentifyPlate(*slot);
        EXPECT_TRUE(model);
        EXPECT_EQ(model.value, 101);
        CloseChannel(slot);  // sends Stop
        // A reopen purges, and on a pseudo-terminal that also discards what the plate has not
        // read yet: let the Stop arrive first, as it would on a wire.
        EXPECT_TRUE(plate.WaitForRequests(6, static_cast<std::uint64_t>(i + 1), 1000));
    }
    EXPECT_TRUE(plate.Stats().plugged);
}

TEST(VirtualPlate, PublishCreatesAPrivateFolderAndALinkThatGoesWithThePlate) {
    testing::TempDir tmp;
    const std::string folder = tmp.File("run/kelvaro-ports");
    std::string link;
    {
        VirtualPlate plate;
        link = plate.Publish(folder, "plate1");
        ASSERT_EQ(link, folder + "/plate1");
        EXPECT_EQ(std::filesystem::read_symlink(link).string(), plate.DevicePath());
        struct stat st {};
        ASSERT_EQ(::stat(folder.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);

        VirtualPlate other;  // a stale link of the same name is replaced
        EXPECT_EQ(other.Publish(folder, "plate1"), link);
        EXPECT_EQ(std::filesystem::read_symlink(link).string(), other.DevicePath());
        RawPort port(link);
        EXPECT_EQ(port.Transact(kIdentifyRequest, 8), kIdentifyReply101);
    }
    EXPECT_FALSE(std::filesystem::is_symlink(link));
}

}  // namespace
}  // namespace kelvaro
