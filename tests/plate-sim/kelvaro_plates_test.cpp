// The kelvaro-plates program: starts plates, publishes and prints their ports, obeys commands
// on standard input and removes its links when it is told to stop.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "TempDir.h"
#include "device/ChannelSlot.h"
#include "device/Link.h"
#include "device/PlateCommands.h"
#include "device/SerialChannel.h"

namespace kelvaro {
namespace {

using Clock = std::chrono::steady_clock;

// The program as a child process with a pipe on its standard input and output.
class Plates {
  public:
    explicit Plates(const std::vector<std::string>& args) {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], STDIN_FILENO);
            ::dup2(out[1], STDOUT_FILENO);
            std::vector<char*> argv;
            std::string program = KELVARO_PLATES_PROGRAM;
            argv.push_back(program.data());
            std::vector<std::string> copy = args;
            for (auto& a : copy)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        stdin_ = in[1];
        stdout_ = out[0];
    }
    ~Plates() {
        if (stdin_ >= 0)
            ::close(stdin_);
        if (stdout_ >= 0)
            ::close(stdout_);
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Plates(const Plates&) = delete;
    Plates& operator=(const Plates&) = delete;

    // One line of output without its newline; "" after `timeoutMs` or at the end.
    std::string Line(int timeoutMs = 2000) {
        const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const auto nl = buffer_.find('\n');
            if (nl != std::string::npos) {
                std::string line = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                return line;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            pollfd p{stdout_, POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0)
                return "";
            char buf[256];
            const ssize_t n = ::read(stdout_, buf, sizeof buf);
            if (n <= 0)
                return "";
            buffer_.append(buf, static_cast<std::size_t>(n));
        }
    }
    void Send(const std::string& command) {
        const std::string line = command + "\n";
        ASSERT_EQ(::write(stdin_, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    }
    void Signal(int signal) { ::kill(pid_, signal); }
    void CloseInput() {
        ::close(stdin_);
        stdin_ = -1;
    }
    // Sends a signal and waits for the exit; the exit status, or -1 when it did not end.
    int Stop(int signal, int timeoutMs = 2000) {
        ::kill(pid_, signal);
        return Wait(timeoutMs);
    }
    int Wait(int timeoutMs) {
        const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Clock::now() < end) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                reaped_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

  private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    int stdin_ = -1;
    int stdout_ = -1;
    std::string buffer_;
};

std::uint8_t ModelOf(const std::string& port) {
    ChannelSlot slot;
    if (!OpenPlateChannel(slot, port, 8192)) {
        return 0;
    }
    return IdentifyPlate(*slot).value;
}

TEST(KelvaroPlates, PublishesItsPlatesAndRemovesThemOnSigterm) {
    testing::TempDir tmp;
    const std::string folder = tmp.File("ports");
    Plates program({"2", "--model", "102", "--folder", folder});
    const std::string first = program.Line();
    const std::string second = program.Line();
    ASSERT_EQ(first, folder + "/plate1");
    ASSERT_EQ(second, folder + "/plate2");
    for (const auto& link : {first, second}) {
        ASSERT_TRUE(std::filesystem::is_symlink(link));
        EXPECT_EQ(std::filesystem::read_symlink(link).string().rfind("/dev/pts/", 0), 0u);
        EXPECT_EQ(ModelOf(link), 102);
    }

    program.Send("2 model 77");
    EXPECT_EQ(program.Line(), "ok");
    EXPECT_EQ(ModelOf(second), 77);
    EXPECT_EQ(ModelOf(first), 102);
    program.Send("3 model 77");
    EXPECT_NE(program.Line().find("error"), std::string::npos);

    EXPECT_EQ(program.Stop(SIGTERM), 0);
    EXPECT_FALSE(std::filesystem::exists(first));
    EXPECT_FALSE(std::filesystem::is_symlink(second));
}

TEST(KelvaroPlates, DemoCommandsReachThePlates) {
    testing::TempDir tmp;
    Plates program({"1", "--counter", "--folder", tmp.File("ports")});
    const std::string port = program.Line();
    ASSERT_FALSE(port.empty());
    ChannelSlot slot;
    ASSERT_TRUE(OpenPlateChannel(slot, port, 8192));
    const LinkResult<std::uint32_t> a = ReadPlateSample(*slot);
    const LinkResult<std::uint32_t> b = ReadPlateSample(*slot);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(b.value, a.value + 1);  // --counter

    program.Send("1 error 5");
    EXPECT_EQ(program.Line(), "ok");
    EXPECT_EQ(IdentifyPlate(*slot), (LinkStatus{LinkError::Device, 5}));

    program.Send("1 unplug");
    EXPECT_EQ(program.Line(), "ok");
    EXPECT_FALSE(IdentifyPlate(*slot));
    EXPECT_FALSE(std::filesystem::is_symlink(port));
    EXPECT_EQ(program.Stop(SIGINT), 0);
}

TEST(KelvaroPlates, KeepsServingWhenStandardInputCloses) {
    testing::TempDir tmp;
    Plates program(
        {"1", "--load", "2", "--zero", "1000", "--scale", "10", "--folder", tmp.File("p")});
    const std::string port = program.Line();
    ASSERT_FALSE(port.empty());
    program.Send("help");
    EXPECT_EQ(program.Line().rfind("Usage", 0), 0u);
    // Closing standard input (as a background demo run does) must not end the program.
    program.CloseInput();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ChannelSlot slot;
    ASSERT_TRUE(OpenPlateChannel(slot, port, 8192));
    const LinkResult<std::uint32_t> reading = ReadPlateSample(*slot);
    ASSERT_TRUE(reading);
    EXPECT_EQ(reading.value, 1020u);
}

// A plate program starved of the processor (here: stopped outright) sends every report that fell
// due meanwhile once it runs again, in order, as a real plate's would wait in the line's buffer.
TEST(KelvaroPlates, AStoppedProgramCatchesUpOnEveryReportInOrder) {
    testing::TempDir tmp;
    Plates program({"1", "--counter", "--folder", tmp.File("ports")});
    const std::string port = program.Line();
    ASSERT_FALSE(port.empty());
    ChannelSlot slot;
    ASSERT_TRUE(OpenPlateChannel(slot, port, 8192));
    constexpr int kRate = 600;
    ASSERT_TRUE(ConfigurePlate(*slot, kRate, kModeTest));
    ASSERT_TRUE(StartPlateStream(*slot));
    const auto started = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    program.Signal(SIGSTOP);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    program.Signal(SIGCONT);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    SendStop(*slot);

    std::vector<std::uint8_t> bytes(64 * 1024);
    std::size_t received = 0;
    while (const std::size_t n =
               slot->ReadBytes(bytes.data() + received, bytes.size() - received, 200)) {
        received += n;
    }
    ASSERT_EQ(received % kSampleReplySize, 0u);
    const std::size_t reports = received / kSampleReplySize;
    // Those the program owed for the time it was stopped (900) are among them; a scheduler
    // that was slow to wake it costs far fewer.
    EXPECT_GE(static_cast<double>(reports), seconds * kRate - 300) << seconds << " s";
    for (std::size_t k = 1; k < reports; ++k) {
        const std::uint8_t* a = bytes.data() + (k - 1) * kSampleReplySize;
        const std::uint8_t* b = a + kSampleReplySize;
        ASSERT_EQ((b[5] << 16 | b[6] << 8 | b[7]), (a[5] << 16 | a[6] << 8 | a[7]) + 1) << k;
    }
}

TEST(KelvaroPlates, RejectsBadArgumentsAndPrintsHelp) {
    {
        Plates program({"--help"});
        EXPECT_EQ(program.Line().rfind("Usage: kelvaro-plates N", 0), 0u);
        EXPECT_EQ(program.Wait(2000), 0);
    }
    for (const char* bad : {"5", "0", "--shape"}) {
        Plates program({bad});
        EXPECT_EQ(program.Wait(2000), 2) << bad;
    }
}

}  // namespace
}  // namespace kelvaro
