// Other programs holding a port, found in a fake /proc: what counts as a holder and what
// does not, and how often a run looks.
#include "device/PortHolders.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <future>
#include <thread>

#include "CaseNames.h"
#include "Pty.h"
#include "TempDir.h"

namespace kelvaro {
namespace {

using testing::PrintTo;

namespace fs = std::filesystem;
using testing::Pty;
using testing::TempDir;
using testing::WriteFileBytes;

// A fake /proc: process folders with their command names and descriptor links.
class FakeProc {
  public:
    std::string Root() const { return dir_.File("proc"); }
    void Process(const std::string& pid, const std::string& program) {
        fs::create_directories(Folder(pid) / "fd");
        fs::create_directories(Folder(pid) / "fdinfo");
        WriteFileBytes((Folder(pid) / "comm").string(), program + "\n");
    }
    void Descriptor(const std::string& pid, int fd, const std::string& target,
                    const std::string& info = "pos:\t0\n") {
        fs::create_symlink(target, Folder(pid) / "fd" / std::to_string(fd));
        WriteFileBytes((Folder(pid) / "fdinfo" / std::to_string(fd)).string(), info);
    }
    // A process whose descriptors this user may not read.
    void Hidden(const std::string& pid) {
        fs::create_directories(Folder(pid));
        WriteFileBytes((Folder(pid) / "fd").string(), "");
    }
    std::string File(const std::string& name) const { return dir_.File(name); }

  private:
    fs::path Folder(const std::string& pid) const { return fs::path(Root()) / pid; }
    TempDir dir_;
};

struct Layout {
    FakeProc& proc;
    const std::string& port;  // the pseudo-terminal's slave path
    long index;               // its terminal index
};

struct ScanCase {
    const char* name;
    std::function<void(const Layout&)> build;
    // Which port to ask about: the device, or a link to it.
    bool askThroughLink = false;
    std::vector<std::pair<int, std::string>> holders;  // pid, program
};

class HolderScan : public ::testing::TestWithParam<ScanCase> {};

TEST_P(HolderScan, FindsOnlyOtherProgramsOnTheLine) {
    Pty pty;
    struct stat info {};
    ASSERT_EQ(stat(pty.Path().c_str(), &info), 0);
    const long index = static_cast<long>((major(info.st_rdev) - 136) * 256 + minor(info.st_rdev));
    FakeProc proc;
    fs::create_directories(proc.Root());
    GetParam().build({proc, pty.Path(), index});

    std::string asked = pty.Path();
    if (GetParam().askThroughLink) {
        asked = proc.File("usb-Kelvaro_Placa_0001-if00-port0");
        fs::create_symlink(pty.Path(), asked);
    }
    const std::vector<std::string> ports{"", asked};
    std::vector<std::pair<int, std::string>> found;
    for (const PortHolder& h : FindPortHolders(ports, proc.Root())) {
        EXPECT_EQ(h.port, 1u);
        found.emplace_back(h.pid, h.program);
    }
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, GetParam().holders);
}

const std::string kSelf = std::to_string(getpid());

INSTANTIATE_TEST_SUITE_P(
    PortHolders, HolderScan,
    ::testing::Values(
        ScanCase{"AnotherProgram",
                 [](const Layout& l) {
                     l.proc.Process("4242", "cat");
                     l.proc.Descriptor("4242", 0, "/dev/null");
                     l.proc.Descriptor("4242", 3, l.port);
                 },
                 false,
                 {{4242, "cat"}}},
        ScanCase{"AskedThroughALinkToTheDevice",
                 [](const Layout& l) {
                     l.proc.Process("4242", "minicom");
                     l.proc.Descriptor("4242", 5, l.port);
                 },
                 true,
                 {{4242, "minicom"}}},
        ScanCase{"ThisProcessIsNoHolder",
                 [](const Layout& l) {
                     l.proc.Process(kSelf, "station");
                     l.proc.Descriptor(kSelf, 7, l.port);
                 },
                 false,
                 {}},
        ScanCase{"OtherDevicesFilesSocketsAndDeadLinks",
                 [](const Layout& l) {
                     l.proc.Process("4242", "bash");
                     l.proc.Descriptor("4242", 0, "/dev/null");
                     l.proc.Descriptor("4242", 1, "/dev/ptmx");
                     l.proc.Descriptor("4242", 2, l.proc.File("plain"));
                     l.proc.Descriptor("4242", 3, "socket:[81723]");
                     l.proc.Descriptor("4242", 4, "/dev/kelvaro-gone");
                     WriteFileBytes(l.proc.File("plain"), "x");
                 },
                 false,
                 {}},
        // The (virtual) plate holds the master of its own line, and usually the slave too.
        ScanCase{"TheLinesOtherEnd",
                 [](const Layout& l) {
                     l.proc.Process("4242", "kelvaro-plates");
                     l.proc.Descriptor("4242", 3, "/dev/ptmx",
                                       "pos:\t0\ntty-index:\t" + std::to_string(l.index) + "\n");
                     l.proc.Descriptor("4242", 4, l.port);
                 },
                 false,
                 {}},
        ScanCase{"TheMasterOfAnotherLineExcusesNothing",
                 [](const Layout& l) {
                     l.proc.Process("4242", "screen");
                     l.proc.Descriptor("4242", 3, "/dev/ptmx",
                                       "tty-index:\t" + std::to_string(l.index + 1) + "\n");
                     l.proc.Descriptor("4242", 4, l.port);
                 },
                 false,
                 {{4242, "screen"}}},
        ScanCase{"UninspectableProcessesAndOtherEntriesAreSkipped",
                 [](const Layout& l) {
                     l.proc.Hidden("1");
                     l.proc.Process("self", "station");
                     l.proc.Descriptor("self", 3, l.port);
                     l.proc.Process("4243", "");
                     l.proc.Descriptor("4243", 3, l.port);
                 },
                 false,
                 {{4243, ""}}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(PortHolderText, NamesTheProgramAndItsProcess) {
    EXPECT_EQ(HolderText({4242, "cat", 0}), "cat (processo 4242)");
    EXPECT_EQ(HolderText({4243, "", 0}), "processo 4243");
}

// Answers come once per interval, or as soon as a look asked for has ended, each told once.
TEST(PortHolderWatch, LooksOncePerIntervalOrWhenAsked) {
    Pty pty;
    FakeProc proc;
    proc.Process("4242", "cat");
    proc.Descriptor("4242", 3, pty.Path());
    PortHolderWatch watch(std::chrono::milliseconds(200), proc.Root());
    EXPECT_FALSE(watch.Poll());  // not started
    EXPECT_TRUE(watch.Answered(watch.LookNow()));

    watch.Start({"", pty.Path()});
    EXPECT_FALSE(watch.Poll());  // the open has just looked
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    const auto holder = watch.Poll();
    ASSERT_TRUE(holder);
    EXPECT_EQ(holder->pid, 4242);
    EXPECT_EQ(holder->port, 1u);
    EXPECT_FALSE(watch.Poll());  // told once

    watch.Stop();
    watch.Start({pty.Path()});
    const std::size_t asked = watch.LookNow();  // a plate was lost: look at once
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!watch.Answered(asked) && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(watch.Answered(asked));
    ASSERT_TRUE(watch.Poll());

    watch.Stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    EXPECT_FALSE(watch.Poll());
}

// A machine with 150,000 descriptors open: the look walks them on the watch's own thread while
// the caller's Poll answers at once, and it still finds the holder behind them all.
TEST(PortHolderWatch, LooksOnItsOwnThreadAndPollNeverWaits) {
    Pty pty;
    FakeProc proc;
    constexpr int kProcesses = 3;
    constexpr int kDescriptorsEach = 50000;
    for (int p = 0; p < kProcesses; ++p) {
        const std::string pid = std::to_string(1000 + p);
        proc.Process(pid, "busy");
        const fs::path fd = fs::path(proc.Root()) / pid / "fd";
        for (int n = 0; n < kDescriptorsEach; ++n) {
            const std::string target =
                n % 100 == 0 ? "/dev/null" : "socket:[" + std::to_string(n) + "]";
            ASSERT_EQ(::symlink(target.c_str(), (fd / std::to_string(n)).c_str()), 0);
        }
    }
    proc.Process("4242", "cat");
    proc.Descriptor("4242", 3, pty.Path());

    PortHolderWatch watch(std::chrono::hours(1), proc.Root());
    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();
    std::promise<std::thread::id> lookingThread;
    bool first = true;
    watch.SetBeforeLook([&] {
        if (std::exchange(first, false)) {
            lookingThread.set_value(std::this_thread::get_id());
        }
        opened.wait();
    });
    watch.Start({pty.Path()}, true);
    const std::thread::id looker = lookingThread.get_future().get();
    EXPECT_NE(looker, std::this_thread::get_id());
    // The look is held up: Poll has no answer yet and returns all the same.
    for (int i = 0; i < 100; ++i) {
        EXPECT_FALSE(watch.Poll());
        EXPECT_FALSE(watch.Answered(1));
    }
    gate.set_value();
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!watch.Answered(1) && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const auto holder = watch.Poll();
    ASSERT_TRUE(holder);
    EXPECT_EQ(holder->pid, 4242);
}

}  // namespace
}  // namespace kelvaro
