// The library shared by processes: one killed in the middle of a transaction leaves it whole
// with every earlier test in it, and two recording at once lose nothing.
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>

#include <QSqlDatabase>
#include <QSqlQuery>
#include <chrono>
#include <csignal>
#include <set>

#include "LibraryRuns.h"
#include "TempDir.h"
#include "library/LibraryStore.h"

namespace kelvaro {
namespace {

using testing::NoisyRun;
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
    EXPECT_TRUE(store.RecordRun(big));
    EXPECT_EQ(store.LoadRun(big.runId)->loads.size(), static_cast<std::size_t>(kMaxSamples));
}

TEST(LibraryProcesses, TwoRecordingAtOnceLoseNothing) {
    TempDir dir;
    const std::string path = dir.File("library.sqlite");
    auto record = [&](unsigned first) {
        return [&path, first] {
            LibraryStore store;
            if (!store.Open(path)) {
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

}  // namespace
}  // namespace kelvaro
