// The serial channel and the channel slots over real pseudo-terminals.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "CaseNames.h"
#include "PortHoldingProgram.h"
#include "PseudoTerminalPorts.h"
#include "Pty.h"
#include "TempDir.h"
#include "device/ChannelSlot.h"
#include "device/Frame.h"
#include "device/Link.h"
#include "device/PlateCommands.h"
#include "device/SerialChannel.h"

namespace kelvaro {
namespace {

using testing::Bytes;
using testing::NowMs;
using testing::PrintTo;
using testing::PseudoTerminalPorts;
using testing::Pty;

// Records the modem-line, purge, write and close calls, passing everything to the system.
class RecordingOs : public SerialOs {
  public:
    std::vector<std::string> log;
    termios lastSet{};
    int Open(const char* path, int flags) override { return System().Open(path, flags); }
    int Close(int fd) override {
        log.push_back("close");
        return System().Close(fd);
    }
    int Ioctl(int fd, unsigned long request, void* arg) override {
        if (request == TIOCMBIS || request == TIOCMBIC) {
            int bits = *static_cast<int*>(arg);
            std::string s = (bits & TIOCM_DTR) ? "DTR" : "";
            if (bits & TIOCM_RTS)
                s += s.empty() ? "RTS" : "+RTS";
            log.push_back(s + (request == TIOCMBIS ? " high" : " low"));
        }
        return System().Ioctl(fd, request, arg);
    }
    int Flush(int fd, int queue) override {
        log.push_back(queue == TCIOFLUSH  ? "purge"
                      : queue == TCIFLUSH ? "purge input"
                                          : "purge output");
        return System().Flush(fd, queue);
    }
    int SetAttr(int fd, const termios* attr) override {
        lastSet = *attr;
        if (keepTermios) {
            haveSet = true;
            return 0;
        }
        return SerialOs::SetAttr(fd, attr);
    }
    int GetAttr(int fd, termios* attr) override {
        int r = SerialOs::GetAttr(fd, attr);
        if (r == 0 && haveSet) {
            *attr = lastSet;
        }
        return r;
    }
    // Pseudo-terminals force CS8 and refuse parity; with keepTermios the line settings are
    // kept here instead of in the terminal, so parity handling can be checked.
    bool keepTermios = false;
    bool haveSet = false;
    long Write(int fd, const void* data, std::size_t count) override {
        log.push_back("write " + std::to_string(count));
        return SerialOs::Write(fd, data, count);
    }
};

Bytes Sequence(std::size_t n, std::uint8_t first = 1) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) {
        b[i] = static_cast<std::uint8_t>(first + i);
    }
    return b;
}

void Settle() {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

TEST(SerialChannel, LookAheadKeepsWhatArrivedBeyondTheRequest) {
    Pty pty;
    ChannelSlot slot;
    ASSERT_TRUE(OpenPlateChannel(slot, pty.Path(), 4096));
    SerialChannel& ch = *slot;
    pty.Write(Sequence(25));
    Settle();

    Bytes buf(10);
    long long t0 = NowMs();
    ASSERT_EQ(ch.ReadBytes(buf.data(), 10, 1000), 10u);
    EXPECT_EQ(buf, Sequence(10, 1));
    EXPECT_EQ(ch.LookAheadSize(), 15u);  // everything available was taken at once
    ASSERT_EQ(ch.ReadBytes(buf.data(), 10, 1000), 10u);
    EXPECT_EQ(buf, Sequence(10, 11));
    EXPECT_LT(NowMs() - t0, 100);

    t0 = NowMs();
    EXPECT_EQ(ch.ReadBytes(buf.data(), 10, 200), 5u);
    long long waited = NowMs() - t0;
    EXPECT_EQ(ch.LastStatus().error, LinkError::Timeout);
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 5), Sequence(5, 21));
    EXPECT_GE(waited, 190);
    EXPECT_LT(waited, 1000);
}

TEST(SerialChannel, PurgeDropsLookAheadAndQueuedInput) {
    Pty pty;
    ChannelSlot slot;
    ASSERT_TRUE(OpenPlateChannel(slot, pty.Path(), 4096));
    pty.Write(Sequence(25));
    Settle();
    Bytes buf(10);
    ASSERT_EQ(slot->ReadBytes(buf.data(), 10, 500), 10u);
    ASSERT_EQ(slot->LookAheadSize(), 15u);
    pty.Write(Sequence(5, 100));
    Settle();
    EXPECT_TRUE(PurgeChannel(slot));
    EXPECT_EQ(slot->LookAheadSize(), 0u);
    EXPECT_EQ(slot->ReadBytes(buf.data(), 1, 100), 0u);
    EXPECT_EQ(slot->LastStatus().error, LinkError::Timeout);
    // Fresh bytes after the purge are read normally.
    pty.Write({0x42});
    EXPECT_EQ(slot->ReadBytes(buf.data(), 1, 500), 1u);
    EXPECT_EQ(buf[0], 0x42);
}

TEST(SerialChannel, TricklingBytesWithGapsShorterThanTheTimeoutAreReceivedWhole) {
    Pty pty;
    ChannelSlot slot;
    ASSERT_TRUE(OpenPlateChannel(slot, pty.Path(), 4096));
    const Bytes reply = testing::MakeFrame(4, {0x01, 0x02, 0x03});
    std::thread sender([&] {
        for (std::uint8_t b : reply) {
            pty.Write({b});
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
        }
    });
    long long t0 = NowMs();
    const LinkResult<DeviceFrame> received = ReceiveReply(*slot, 10, 200, 4);
    long long took = NowMs() - t0;
    sender.join();
    EXPECT_TRUE(received);
    EXPECT_EQ(DecodeReading(received.value), 66051u);
    EXPECT_GE(took, 500);  // far longer than one time-out: the wait restarts on every byte
}

TEST(SerialChannel, UnplugDuringAReadFailsPromptlyAndStaysFailed) {
    auto pty = std::make_unique<Pty>();
    ChannelSlot slot;
    ASSERT_TRUE(OpenPlateChannel(slot, pty->Path(), 4096));
    std::thread unplug([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pty->CloseMaster();
    });
    Bytes buf(10);
    long long t0 = NowMs();
    EXPECT_EQ(slot->ReadBytes(buf.data(), 10, 5000), 0u);
    long long took = NowMs() - t0;
    unplug.join();
    EXPECT_EQ(slot->LastStatus().error, LinkError::Disconnected);
    EXPECT_LT(took, 1500);
    // Later reads fail at once instead of waiting or spinning.
    t0 = NowMs();
    EXPECT_EQ(slot->ReadBytes(buf.data(), 10, 5000), 0u);
    EXPECT_EQ(slot->LastStatus().error, LinkError::Disconnected);
    EXPECT_LT(NowMs() - t0, 200);
    // Writes fail too, and closing is quick and leaves the slot empty.
    EXPECT_EQ(SendRequest(*slot, kReadSample.bytes).error, LinkError::Disconnected);
    t0 = NowMs();
    CloseChannel(slot);
    EXPECT_FALSE(slot);
    EXPECT_LT(NowMs() - t0, 500);
}

TEST(SerialChannel, WritesReachTheDevice) {
    Pty pty;
    ChannelSlot slot;
    ASSERT_TRUE(OpenPlateChannel(slot, pty.Path(), 4096));
    Bytes big = Sequence(3000);  // more than one poll round on the terminal
    std::thread reader([&] { EXPECT_EQ(pty.Read(big.size(), 2000), big); });
    EXPECT_EQ(slot->WriteBytes(big.data(), big.size()), big.size());
    EXPECT_TRUE(slot->LastStatus());
    reader.join();
}

TEST(OpenChannel, PlateLineSettingsAreRaw115200_8N2) {
    Pty pty;
    RecordingOs os;
    ChannelSlot slot;
    ASSERT_TRUE(OpenPlateChannel(slot, pty.Path(), 4096, os));
    const termios& t = os.lastSet;
    EXPECT_EQ(cfgetispeed(&t), B115200);
    EXPECT_EQ(cfgetospeed(&t), B115200);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_NE(t.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(t.c_cflag & PARENB, 0u);
    EXPECT_NE(t.c_cflag & CLOCAL, 0u);
    EXPECT_NE(t.c_cflag & CREAD, 0u);
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | ISTRIP), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_cc[VTIME], 0);
}

struct ParityCase {
    char letter;
    bool enabled;
    bool odd;
    bool stick;
};

TEST(OpenChannel, ParityLettersEitherCaseAndUnknownLettersLeaveParity) {
    const ParityCase cases[] = {
        {'N', false, false, false}, {'n', false, false, false}, {'O', true, true, false},
        {'o', true, true, false},   {'E', true, false, false},  {'e', true, false, false},
        {'M', true, true, true},    {'m', true, true, true},    {'S', true, false, true},
        {'s', true, false, true},
    };
    Pty pty;
    RecordingOs os;
    os.keepTermios = true;
    for (const auto& c : cases) {
        ChannelSlot slot;
        ASSERT_TRUE(OpenChannel(slot, pty.Path(), 115200, 8, c.letter, 2, false, false, 4096, os))
            << c.letter;
        const termios& t = os.lastSet;
        EXPECT_EQ((t.c_cflag & PARENB) != 0, c.enabled) << c.letter;
        EXPECT_EQ((t.c_cflag & PARODD) != 0, c.odd) << c.letter;
        EXPECT_EQ((t.c_cflag & CMSPAR) != 0, c.stick) << c.letter;
        EXPECT_EQ((t.c_iflag & INPCK) != 0, c.enabled) << c.letter;
        CloseChannel(slot);
    }
    // A port found with mark parity, opened with a letter that means nothing: the port's
    // parity is left as it is.
    os.lastSet.c_cflag |= PARENB | PARODD | CMSPAR;
    os.lastSet.c_iflag |= INPCK;
    ChannelSlot slot;
    ASSERT_TRUE(OpenChannel(slot, pty.Path(), 115200, 8, 'x', 0, false, false, 4096, os));
    const termios& t = os.lastSet;
    EXPECT_NE(t.c_cflag & CMSPAR, 0u);
    EXPECT_NE(t.c_cflag & PARENB, 0u);
    EXPECT_NE(t.c_cflag & PARODD, 0u);
    EXPECT_NE(t.c_iflag & INPCK, 0u);
    EXPECT_EQ(t.c_cflag & CSTOPB, 0u);  // stop bits 0 = one
}

struct HolderCase {
    const char* name;
    // Takes the port as another user of it would; letting the result go releases it.
    std::function<std::shared_ptr<void>(const std::string& port)> hold;
};

class HeldPort : public ::testing::TestWithParam<HolderCase> {};

TEST_P(HeldPort, CannotBeOpenedUntilReleased) {
    Pty pty;
    auto holder = GetParam().hold(pty.Path());
    ASSERT_TRUE(holder);
    ChannelSlot slot;
    EXPECT_FALSE(OpenPlateChannel(slot, pty.Path(), 4096));
    ASSERT_TRUE(slot);
    EXPECT_FALSE(slot->IsConnected());
    EXPECT_FALSE(slot->LastStatus());
    holder.reset();
    EXPECT_TRUE(OpenPlateChannel(slot, pty.Path(), 4096));
}

INSTANTIATE_TEST_SUITE_P(
    OpenChannel, HeldPort,
    ::testing::Values(HolderCase{"AnotherChannel",
                                 [](const std::string& port) -> std::shared_ptr<void> {
                                     auto slot = std::make_shared<ChannelSlot>();
                                     return OpenPlateChannel(*slot, port, 4096) ? slot : nullptr;
                                 }},
                      // A terminal program opens the line without a lock: neither the lock nor the
                      // exclusive mode set later would stop the station sharing it.
                      HolderCase{"AProgramWithoutALock", testing::PortHoldingProgram::Start}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(OpenChannel, AMissingPortLeavesADisconnectedChannelInTheSlot) {
    ChannelSlot slot;
    EXPECT_FALSE(OpenPlateChannel(slot, "/dev/kelvaro-no-such-port", 4096));
    ASSERT_TRUE(slot);
    EXPECT_FALSE(slot->IsConnected());
    EXPECT_FALSE(SlotConnected(slot));
    EXPECT_FALSE(slot->LastStatus());
    Bytes buf(10);
    long long t0 = NowMs();
    EXPECT_EQ(slot->ReadBytes(buf.data(), 10, 2000), 0u);
    EXPECT_EQ(slot->LastStatus().error, LinkError::NotConnected);
    EXPECT_LT(NowMs() - t0, 100);
    EXPECT_EQ(SendRequest(*slot, kIdentify.bytes).error, LinkError::NotConnected);
    slot->SetDTR(true);  // no effect, no error
    EXPECT_TRUE(slot->LastStatus());
    EXPECT_TRUE(PurgeChannel(slot));
    CloseChannel(slot);
    EXPECT_FALSE(slot);
    CloseChannel(slot);  // an empty slot stays empty
    EXPECT_FALSE(slot);
    EXPECT_FALSE(PurgeChannel(slot));
}

TEST(OpenChannel, ANonTerminalFileIsNotAPort) {
    ChannelSlot slot;
    EXPECT_FALSE(OpenPlateChannel(slot, "/dev/null", 4096));
    EXPECT_FALSE(SlotConnected(slot));
}

// A terminal window's line (a pseudo-terminal, outside virtual-plate mode) is not a plate's:
// it is neither switched to the plates' settings nor sent anything.
TEST(OpenChannel, APseudoTerminalIsAPortOnlyInVirtualPlateMode) {
    Pty pty;
    termios before{};
    ASSERT_EQ(tcgetattr(pty.SlaveFd(), &before), 0);
    before.c_lflag |= ICANON | ECHO;
    cfsetspeed(&before, B9600);
    ASSERT_EQ(tcsetattr(pty.SlaveFd(), TCSANOW, &before), 0);
    ChannelSlot slot;
    {
        const PseudoTerminalPorts off(false);
        EXPECT_FALSE(OpenPlateChannel(slot, pty.Path(), 4096));
        ASSERT_TRUE(slot);
        EXPECT_FALSE(slot->IsConnected());
        EXPECT_EQ(slot->LastStatus().error, LinkError::NotSerialPort);
        CloseChannel(slot);
        termios after{};
        ASSERT_EQ(tcgetattr(pty.SlaveFd(), &after), 0);
        EXPECT_NE(after.c_lflag & ICANON, 0u);
        EXPECT_EQ(cfgetospeed(&after), B9600);
        EXPECT_TRUE(pty.Read(16, 100).empty());
    }
    const PseudoTerminalPorts on(true);
    EXPECT_TRUE(OpenPlateChannel(slot, pty.Path(), 4096));
}

// The line goes back to what it was: a port shared with other programs, or a terminal opened
// in virtual-plate mode, is not left raw at 115200.
TEST(CloseChannel, PutsBackTheLineSettingsFoundAtOpen) {
    Pty pty;
    termios before{};
    ASSERT_EQ(tcgetattr(pty.SlaveFd(), &before), 0);
    before.c_lflag |= ICANON | ECHO | ISIG;
    before.c_iflag |= ICRNL | IXON;
    before.c_oflag |= OPOST;
    cfsetspeed(&before, B9600);
    ASSERT_EQ(tcsetattr(pty.SlaveFd(), TCSANOW, &before), 0);
    ASSERT_EQ(tcgetattr(pty.SlaveFd(), &before), 0);

    ChannelSlot slot;
    ASSERT_TRUE(OpenPlateChannel(slot, pty.Path(), 4096));
    termios open{};
    ASSERT_EQ(tcgetattr(pty.SlaveFd(), &open), 0);
    ASSERT_EQ(open.c_lflag & ICANON, 0u);  // raw while the plate uses it
    CloseChannel(slot);

    termios after{};
    ASSERT_EQ(tcgetattr(pty.SlaveFd(), &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(cfgetospeed(&after), B9600);
}

struct TtyCase {
    const char* name;
    unsigned major, minor;
    const char* sysfsEntry;  // created under <sys>/dev/char/<major>:<minor>/, or null
    TtyKind kind;
};

class TtyKinds : public ::testing::TestWithParam<TtyCase> {};

TEST_P(TtyKinds, OnlyADriverBehindTheNodeMakesASerialPort) {
    const TtyCase& c = GetParam();
    testing::TempDir sys;
    if (c.sysfsEntry != nullptr) {
        const std::string node = "dev/char/" + std::to_string(c.major) + ":" +
                                 std::to_string(c.minor) + "/" + c.sysfsEntry;
        std::filesystem::create_directories(sys.File(node));
    }
    EXPECT_EQ(ClassifyTty(c.major, c.minor, sys.Path().string()), c.kind);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, TtyKinds,
    ::testing::Values(TtyCase{"UsbAdapter", 188, 0, "device/driver", TtyKind::Serial},
                      TtyCase{"AcmDevice", 166, 1, "device/driver", TtyKind::Serial},
                      TtyCase{"BuiltInUart", 4, 64, "device/driver", TtyKind::Serial},
                      TtyCase{"ControllingTerminal", 5, 0, "power", TtyKind::Other},
                      TtyCase{"VirtualConsole", 4, 1, "power", TtyKind::Other},
                      TtyCase{"DeviceWithoutDriver", 4, 65, "device", TtyKind::Other},
                      TtyCase{"NotInSysfs", 188, 7, nullptr, TtyKind::Other},
                      TtyCase{"PseudoTerminal", 136, 3, nullptr, TtyKind::PseudoTerminal},
                      TtyCase{"PseudoTerminalHighMajor", 143, 255, nullptr,
                              TtyKind::PseudoTerminal}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(OpenChannel, ReleasesTheHeldChannelWithoutSendingAnything) {
    Pty a, b;
    ChannelSlot slot;
    ASSERT_TRUE(OpenPlateChannel(slot, a.Path(), 4096));
    ASSERT_TRUE(OpenPlateChannel(slot, b.Path(), 4096));
    EXPECT_TRUE(a.Read(16, 100).empty());
    ChannelSlot other;
    EXPECT_TRUE(OpenPlateChannel(other, a.Path(), 4096));  // a was released
}

TEST(CloseChannel, WritesExactlyTheSevenStopBytes) {
    Pty pty;
    ChannelSlot slot;
    ASSERT_TRUE(OpenPlateChannel(slot, pty.Path(), 4096));
    CloseChannel(slot);
    EXPECT_FALSE(slot);
    EXPECT_EQ(pty.Read(64, 200), Bytes(kStop.bytes.begin(), kStop.bytes.end()));
}

TEST(SerialChannel, ComPortNamesMapToBuiltInUarts) {
    EXPECT_EQ(SerialChannel::DevicePath("COM1"), "/dev/ttyS0");
    EXPECT_EQ(SerialChannel::DevicePath("com3"), "/dev/ttyS2");
    EXPECT_EQ(SerialChannel::DevicePath("Com12"), "/dev/ttyS11");
    EXPECT_EQ(SerialChannel::DevicePath("COM0"), "COM0");
    EXPECT_EQ(SerialChannel::DevicePath("COM"), "COM");
    EXPECT_EQ(SerialChannel::DevicePath("COM3x"), "COM3x");
    EXPECT_EQ(SerialChannel::DevicePath("/dev/ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(SerialChannel::DevicePath("/tmp/kelvaro ports/Placa 1"),
              "/tmp/kelvaro ports/Placa 1");
}

TEST(CloseChannel, LineSequenceOfOpenAndClose) {
    Pty pty;
    RecordingOs os;
    ChannelSlot slot;
    ASSERT_TRUE(OpenPlateChannel(slot, pty.Path(), 4096, os));
    EXPECT_EQ(os.log, (std::vector<std::string>{"DTR+RTS high", "purge input", "DTR+RTS high"}));
    os.log.clear();
    CloseChannel(slot);
    EXPECT_EQ(os.log, (std::vector<std::string>{"DTR low", "write 7", "purge input", "RTS low",
                                                "DTR low", "close"}));
}

TEST(CloseChannel, OnADisconnectedChannelOnlyEmptiesTheSlot) {
    RecordingOs os;
    ChannelSlot slot;
    EXPECT_FALSE(OpenPlateChannel(slot, "/dev/kelvaro-no-such-port", 4096, os));
    os.log.clear();
    CloseChannel(slot);
    EXPECT_FALSE(slot);
    EXPECT_TRUE(os.log.empty());
}

}  // namespace
}  // namespace kelvaro
