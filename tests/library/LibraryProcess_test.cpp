// The library shared by processes: one killed in the middle of a transaction leaves it whole
// with every earlier test in it, and two recording at once lose nothing.
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdio>

#include <gmock/gmock.h>

#include <QSqlDatabase>
#include <QSqlQuery>
#include <chrono>
#include <csignal>
#include <fstream>
#include <set>

#include "LibraryRuns.h"
#include "TempDir.h"
#include "library/LibraryRebuild.h"
#include "library/LibraryStore.h"
#include "library/RunRecording.h"

namespace kelvaro {
namespace {

using testing::JournalOf;
using testing::NoisyRun;
using testing::ReadFileBytes;
using testing::TempDir;

// Runs `child` in a forked process and gives how it ended (waitpid's status).
template <class Child>
int InChild(Child child) {
    const pid_t pid = fork();
    if (pid == 0) {
        _exit(child());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

TEST(LibraryProcesses, AKillInsideATransactionLeavesEveryEarlierTest) {
    TempDir dir;
    const std::string path = dir.File("library.sqlite");
    std::set<RunId> earlier;
    {
        LibraryStore store;
        ASSERT_TRUE(store.Open(path));
        for (unsigned i = 0; i < 10; ++i) {
            const LibraryRun run = NoisyRun(6000, i, i + 1);
            ASSERT_TRUE(store.RecordRun(run));
            earlier.insert(run.runId);
        }
    }
    const LibraryRun big = NoisyRun(kMaxSamples, 77, 11);
    const std::string journal = JournalOf(big, dir.File("journals"));
    const int status = InChild([&] {
        LibraryStore store;
        if (!store.Open(path)) {
            return 1;
        }
        // The rows are written, the commit not yet made: the process dies here.
        store.beforeCommit = [] { raise(SIGKILL); };
        store.RecordRun(big);
        return 2;
    });
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGKILL);

    LibraryStore store;
    const LibraryStatus opened = store.Open(path);  // quick_check included
    ASSERT_TRUE(opened) << opened.nativeText;
    std::set<RunId> found;
    for (const LibraryEntry& entry : store.Search({})) {
        found.insert(entry.runId);
    }
    EXPECT_EQ(found, earlier);
    EXPECT_FALSE(store.LoadRun(big.runId));
    // Its journal still has the run, to be recorded again.
    LibraryRun recovered;
    ASSERT_TRUE(RunFromJournal(journal, "", recovered));
    EXPECT_EQ(recovered.runId, big.runId);
    EXPECT_TRUE(store.RecordRun(recovered));
    EXPECT_EQ(store.LoadRun(big.runId)->loads.size(), static_cast<std::size_t>(kMaxSamples));
}

TEST(LibraryProcesses, ARebuildIsRefusedWhileAnotherStationHasTheLibraryOpen) {
    TempDir dir;
    const std::string path = LibraryPathIn(dir.File("journals"));
    ASSERT_FALSE(JournalOf(NoisyRun(100, 1, 1), dir.File("journals")).empty());
    int opened[2], quit[2];
    ASSERT_TRUE(pipe(opened) == 0 && pipe(quit) == 0);
    const pid_t other = fork();
    if (other == 0) {
        close(quit[1]);  // so that its read ends when the test closes its own
        LibraryStore store;
        char byte = store.Open(path) ? 'y' : 'n';
        _exit(write(opened[1], &byte, 1) == 1 && read(quit[0], &byte, 1) >= 0 ? 0 : 1);
    }
    char byte = 0;
    ASSERT_TRUE(read(opened[0], &byte, 1) == 1 && byte == 'y');
    const std::string bytes = ReadFileBytes(path);
    LibraryStore store;
    const LibraryRebuildReport report = RebuildLibrary(store, path, {dir.File("journals"), ""});
    EXPECT_EQ(report.status.error, LibraryError::Busy) << report.status.nativeText;
    EXPECT_TRUE(ReadFileBytes(path) == bytes);
    EXPECT_TRUE(store.Writable());  // the library as it was, shared with the other station
    for (const int fd : {opened[0], opened[1], quit[0], quit[1]}) {
        close(fd);  // the other station reads the end of its pipe and leaves
    }
    int status = 0;
    waitpid(other, &status, 0);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(RebuildLibrary(store, path, {dir.File("journals"), ""}).status);
    EXPECT_EQ(store.Search({}).size(), 1u);
}

TEST(LibraryProcesses, TwoRecordingAtOnceLoseNothing) {
    TempDir dir;
    const std::string path = dir.File("library.sqlite");
    auto record = [&](unsigned first) {
        return [&path, first] {
            LibraryStore store;
            if (const LibraryStatus opened = store.Open(path); !opened) {
                std::fprintf(stderr, "open: %d %s\n", static_cast<int>(opened.error),
                             opened.nativeText.c_str());
                return 1;
            }
            for (unsigned i = first; i < first + 50; ++i) {
                if (!store.RecordRun(NoisyRun(600, i, i + 1))) {
                    return 2;
                }
            }
            return 0;
        };
    };
    const pid_t one = fork();
    if (one == 0) {
        _exit(record(0)());
    }
    const int other = InChild(record(1000));
    int first = 0;
    waitpid(one, &first, 0);
    EXPECT_TRUE(WIFEXITED(first) && WEXITSTATUS(first) == 0) << first;
    EXPECT_TRUE(WIFEXITED(other) && WEXITSTATUS(other) == 0) << other;
    LibraryStore store;
    ASSERT_TRUE(store.Open(path));
    EXPECT_EQ(store.Search({}).size(), 100u);
    // Both made the library at once; one station id came out of it.
    EXPECT_FALSE(store.StationId().empty());
}

TEST(LibraryProcesses, AWriterHoldingTheLibraryIsWaitedForThenSaidBusy) {
    TempDir dir;
    const std::string path = dir.File("library.sqlite");
    LibraryStore store;
    ASSERT_TRUE(store.Open(path));
    {
        QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "other");
        other.setDatabaseName(QString::fromStdString(path));
        ASSERT_TRUE(other.open());
        ASSERT_TRUE(QSqlQuery(other).exec("BEGIN IMMEDIATE"));
        const auto from = std::chrono::steady_clock::now();
        const LibraryStatus recorded = store.RecordRun(NoisyRun(100, 1, 1));
        EXPECT_EQ(recorded.error, LibraryError::Busy) << recorded.nativeText;
        EXPECT_GE(std::chrono::steady_clock::now() - from,
                  std::chrono::milliseconds(kLibraryBusyMilliseconds));
        QSqlQuery(other).exec("ROLLBACK");
    }
    QSqlDatabase::removeDatabase("other");
    EXPECT_TRUE(store.RecordRun(NoisyRun(100, 1, 1)));
}

// A full or read-only disk for real, also for root: a small file system of its own (where
// there is the right to mount one).
class LibraryOnASmallDisk : public ::testing::TestWithParam<bool> {};

TEST_P(LibraryOnASmallDisk, RefusesTheWriteAndKeepsWhatItHad) {
    const bool readOnly = GetParam();
    TempDir dir;
    const std::string disk = dir.File("disk");
    std::filesystem::create_directories(disk);
    if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=512k") != 0) {
        GTEST_SKIP() << "no right to mount a file system here";
    }
    const std::unique_ptr<const char, void (*)(const char*)> unmount(
        disk.c_str(), [](const char* at) { umount2(at, MNT_DETACH); });
    const std::string path = disk + "/library.sqlite";
    auto store = std::make_unique<LibraryStore>();
    ASSERT_TRUE(store->Open(path));
    ASSERT_TRUE(store->RecordRun(NoisyRun(100, 1, 1)));
    LibraryStatus status;
    if (readOnly) {
        store.reset();
        ASSERT_EQ(mount(nullptr, disk.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
        store = std::make_unique<LibraryStore>();
        status = store->Open(path);
    } else {
        std::ofstream filler(disk + "/filler", std::ios::binary);
        const std::string block(4096, 'x');
        while (filler.write(block.data(), block.size())) {
        }
        status = store->RecordRun(NoisyRun(20000, 2, 2));
    }
    EXPECT_EQ(status.error, readOnly ? LibraryError::ReadOnly : LibraryError::DiskFull)
        << status.nativeText;
    EXPECT_EQ(store->Search({}).size(), 1u);

    // Nor can a new one be made there: a rebuild leaves the old one where it was.
    ASSERT_FALSE(JournalOf(NoisyRun(20000, 3, 3), dir.File("journals")).empty());
    const LibraryRebuildReport rebuilt = RebuildLibrary(*store, path, {dir.File("journals"), ""});
    EXPECT_EQ(rebuilt.status.error, status.error) << rebuilt.status.nativeText;
    EXPECT_TRUE(rebuilt.keptAside.empty());
    EXPECT_FALSE(std::filesystem::exists(disk + "/library-reconstrucao.sqlite"));
    EXPECT_EQ(store->Search({}).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Disks, LibraryOnASmallDisk, ::testing::Values(false, true),
                         [](const auto& param) { return param.param ? "ReadOnly" : "Full"; });

}  // namespace
}  // namespace kelvaro
