// The library on the real SQLite engine in a temporary folder: what is recorded comes back and
// is found, a run or a file recorded twice is one test, and a file that is damaged or of a newer
// schema is never written.
#include "library/LibraryStore.h"

#include <gmock/gmock.h>

#include <QSqlDatabase>
#include <QSqlQuery>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <future>
#include <thread>

#include "CaseNames.h"
#include "LibraryRuns.h"
#include "StationFakes.h"
#include "TempDir.h"
#include "archive/TestFileReader.h"
#include "library/LibraryCodec.h"
#include "library/LibraryWorker.h"
#include "library/RunRecording.h"
#include "results/StretchResults.h"

namespace kelvaro {
namespace {

using ::testing::ElementsAreArray;
using testing::NoisyRun;
using testing::ReadFileBytes;
using testing::TempDir;

std::vector<std::int64_t> Numbers(const std::vector<LibraryEntry>& entries) {
    std::vector<std::int64_t> numbers;
    for (const LibraryEntry& entry : entries) {
        numbers.push_back(entry.testNumber);
    }
    return numbers;
}

// Sets a library file's schema version behind the store's back.
void SetUserVersion(const std::string& path, int version) {
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "raw");
        db.setDatabaseName(QString::fromStdString(path));
        ASSERT_TRUE(db.open());
        QSqlQuery(db).exec(QString("PRAGMA user_version = %1").arg(version));
    }
    QSqlDatabase::removeDatabase("raw");
}

struct SearchCase {
    const char* name;
    LibraryQuery query;
    std::vector<std::int64_t> numbers;
};
using testing::PrintTo;

class LibrarySearch : public ::testing::TestWithParam<SearchCase> {};

TEST_P(LibrarySearch, FindsTheTestsAskedForInOrder) {
    TempDir dir;
    LibraryStore store;
    ASSERT_TRUE(store.Open(dir.File("library.sqlite")));
    const std::vector<RunMetadata> metadata = {
        {"João Silva", "Salto vertical", "Primeira sessão\nsem dor"},
        {"Maria Souza", "Salto vertical", "joelho dolorido"},
        {"joao pereira", "Agachamento", ""},
        {"", "Salto", "Peça 7 - LOTE B"},
    };
    for (int i = 0; i < 4; ++i) {
        LibraryRun run = NoisyRun(600 * (i + 1), i, 101 + i, metadata[i]);
        ASSERT_TRUE(store.RecordRun(run));
    }
    LibraryRun unsaved = NoisyRun(300, 9);  // the latest, never saved
    ASSERT_TRUE(store.RecordRun(unsaved));
    LibraryStatus status;
    EXPECT_THAT(Numbers(store.Search(GetParam().query, &status)),
                ElementsAreArray(GetParam().numbers));
    EXPECT_TRUE(status) << status.nativeText;
    LibraryQuery unpaged = GetParam().query;
    unpaged.limit = unpaged.offset = 0;
    EXPECT_EQ(store.Count(GetParam().query), static_cast<int>(store.Search(unpaged).size()));
}

using Hours = std::chrono::hours;
const auto kAt = [](int seed) {
    return std::chrono::system_clock::time_point(Hours(490000 + seed));
};

INSTANTIATE_TEST_SUITE_P(
    Queries, LibrarySearch,
    ::testing::Values(
        SearchCase{"everything_newest_first", {}, {0, 104, 103, 102, 101}},
        SearchCase{"evaluated_without_case_or_accents", {.evaluated = "JOAO"}, {103, 101}},
        SearchCase{"evaluated_with_accent", {.evaluated = "joão s"}, {101}},
        SearchCase{"protocol_within", {.protocol = "salto"}, {104, 102, 101}},
        SearchCase{"protocol_exact", {.protocol = "SALTO", .protocolExact = true}, {104}},
        SearchCase{"notes_any_line", {.notes = "sem DOR"}, {101}},
        SearchCase{"notes_accents", {.notes = "peca 7"}, {104}},
        SearchCase{"date_range", {.from = kAt(1), .to = kAt(2)}, {103, 102}},
        SearchCase{"test_number", {.testNumber = 102}, {102}},
        SearchCase{
            "by_samples_ascending_paged",
            {.sortBy = LibrarySortColumn::Samples, .descending = false, .limit = 2, .offset = 1},
            {101, 102}},
        SearchCase{"by_total_peak",
                   {.sortBy = LibrarySortColumn::TotalPeak, .descending = false, .limit = 2},
                   {0, 101}},
        SearchCase{"nothing", {.evaluated = "Ana"}, {}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(LibraryStore, KeepsARunOnceWithItsFiguresAndReadingsOnlyWhenSaved) {
    TempDir dir;
    LibraryStore store;
    ASSERT_TRUE(store.Open(dir.File("library.sqlite")));
    EXPECT_EQ(store.JournalMode(), "wal");
    LibraryRun run = NoisyRun(2000, 1);
    ASSERT_TRUE(store.RecordRun(run));
    ASSERT_TRUE(store.RecordRun(run));
    std::optional<StoredRunData> unsaved = store.LoadRun(run.runId);
    ASSERT_TRUE(unsaved);
    EXPECT_FALSE(unsaved->hasReadings);  // its journal keeps them
    EXPECT_TRUE(unsaved->loads.empty());

    run.testNumber = 12;
    run.metadata = {"Ana", "CMJ", "x"};
    ASSERT_TRUE(store.RecordRun(run));
    std::vector<LibraryEntry> entries = store.Search({});
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].runId, run.runId);
    EXPECT_EQ(entries[0].samples, 2000);
    std::vector<LoadRecord> loads;
    for (const RawRecord& raw : run.raw) {
        loads.push_back(ConvertRecord(raw, run.calibration, run.active));
    }
    const RunResults results(loads, run.active, run.units, run.frequency);
    const StretchResults whole = results.Of(results.WholeRun());
    EXPECT_EQ(entries[0].totalPeak, whole.total->peak);
    EXPECT_EQ(entries[0].totalMean, whole.total->mean);
    EXPECT_EQ(entries[0].plates[2].peak, whole.plates[2].figures.peak);

    std::optional<StoredRunData> saved = store.LoadRun(run.runId);
    ASSERT_TRUE(saved && saved->hasReadings);
    EXPECT_EQ(saved->heading.testNumber, 12);
    EXPECT_EQ(saved->heading.ports, run.ports);
    EXPECT_EQ(saved->calibration, run.calibration);
    EXPECT_EQ(saved->metadata, run.metadata);
    ASSERT_EQ(saved->loads.size(), loads.size());
    EXPECT_EQ(std::memcmp(saved->loads.data(), loads.data(), loads.size() * sizeof(LoadRecord)), 0);

    ASSERT_TRUE(store.SetMetadata(run.runId, {"Bia", "SJ", ""}));
    ASSERT_TRUE(store.SetSaved(run.runId, 13, "/tmp/t.csv", "ab"));
    EXPECT_EQ(Numbers(store.Search({.evaluated = "bia", .testNumber = 13})),
              std::vector<std::int64_t>{13});
    ASSERT_TRUE(store.Remove(run.runId));
    EXPECT_TRUE(store.Search({}).empty());
    EXPECT_FALSE(store.LoadRun(run.runId));
    EXPECT_EQ(store.Remove(run.runId).error, LibraryError::Other);
}

// Journals written before runs had ids: each is given one from what never changes in it, the
// same at every reading, so that a rebuild or another save finds the test it made before.
TEST(LibraryStore, GivesAJournalOlderThanRunIdsTheSameIdEveryTime) {
    std::vector<RunId> ids;
    for (const char* name : {"version1-closed.kjr", "version2-closed.kjr", "version2-closed.kjr"}) {
        LibraryRun run;
        ASSERT_TRUE(RunFromJournal(std::string(KELVARO_JOURNAL_DATA "/") + name, "", run));
        EXPECT_FALSE(IsNullRunId(run.runId));
        ids.push_back(run.runId);
    }
    EXPECT_NE(ids[0], ids[1]);
    EXPECT_EQ(ids[1], ids[2]);
}

TEST(LibraryStore, ImportsAFileOnceAndNotAFileItSavedItself) {
    TempDir dir;
    LibraryStore store;
    ASSERT_TRUE(store.Open(dir.File("library.sqlite")));
    TestFileHeading heading{7, 600, {"/dev/ttyUSB0", "", "", ""}, {"kgf", "kgf", "kgf", "kgf"}};
    std::vector<LoadRecord> rows;
    for (int k = 0; k < 500; ++k) {
        rows.push_back({k * 0.125 - 3, 0.0, k % 3 * 1.5, 0.0});
    }
    testing::FakeProgress progress;
    const std::string file = dir.File("teste7.csv");
    ASSERT_TRUE(WriteTestFile(file, heading, rows, ',', progress));

    const ImportOutcome first = store.ImportTestFile(file);
    ASSERT_EQ(first.result, ImportResult::Imported) << first.status.nativeText;
    const ImportOutcome second = store.ImportTestFile(file);
    EXPECT_EQ(second.result, ImportResult::AlreadyThere);
    EXPECT_EQ(second.runId, first.runId);

    // Read back, it saves again to the very bytes it came from.
    const std::optional<StoredRunData> run = store.LoadRun(first.runId);
    ASSERT_TRUE(run && run->imported);
    EXPECT_EQ(run->active, (ActivePlates{true, false, true, false}));
    ASSERT_TRUE(WriteTestFile(dir.File("again.csv"), run->heading, run->loads,
                              run->decimalSeparator.value_or(','), progress));
    EXPECT_EQ(ReadFileBytes(dir.File("again.csv")), ReadFileBytes(file));

    // A file whose bytes a saved run of the station recorded is that run.
    LibraryRun saved = NoisyRun(100, 3, 8);
    heading.testNumber = 8;
    const std::string savedFile = dir.File("teste8.csv");
    ASSERT_TRUE(WriteTestFile(savedFile, heading, rows, ',', progress));
    saved.fileSha256 = Sha256Hex(ReadFileBytes(savedFile));
    ASSERT_TRUE(store.RecordRun(saved));
    const ImportOutcome mine = store.ImportTestFile(savedFile);
    EXPECT_EQ(mine.result, ImportResult::AlreadyThere);
    EXPECT_EQ(mine.runId, saved.runId);
    EXPECT_EQ(store.Search({}).size(), 2u);

    testing::WriteFileBytes(dir.File("bad.csv"), "not a test\r\n");
    const ImportOutcome bad = store.ImportTestFile(dir.File("bad.csv"));
    EXPECT_EQ(bad.result, ImportResult::Refused);
    ASSERT_TRUE(bad.fileError);
    EXPECT_EQ(bad.fileError->path, dir.File("bad.csv"));
    EXPECT_EQ(store.Search({}).size(), 2u);
}

struct DamageCase {
    const char* name;
    std::string (*damage)(const std::string& library);
};

class DamagedLibrary : public ::testing::TestWithParam<DamageCase> {};

TEST_P(DamagedLibrary, IsRefusedAndLeftAsItWas) {
    TempDir dir;
    const std::string path = dir.File("library.sqlite");
    {
        LibraryStore store;
        ASSERT_TRUE(store.Open(path));
        for (unsigned i = 0; i < 20; ++i) {
            ASSERT_TRUE(store.RecordRun(NoisyRun(3000, i, i + 1)));
        }
    }  // closed: the log is folded into the file
    const std::string damaged = GetParam().damage(ReadFileBytes(path));
    testing::WriteFileBytes(path, damaged);
    LibraryStore store;
    const LibraryStatus opened = store.Open(path);
    EXPECT_EQ(opened.error, LibraryError::Damaged) << opened.nativeText;
    EXPECT_FALSE(store.IsOpen());
    EXPECT_EQ(store.RecordRun(NoisyRun(10, 1)).error, LibraryError::Other);
    EXPECT_EQ(ReadFileBytes(path), damaged);
}

INSTANTIATE_TEST_SUITE_P(
    Files, DamagedLibrary,
    ::testing::Values(
        DamageCase{"random_bytes",
                   [](const std::string& bytes) {
                       std::string random(bytes.size(), '\0');
                       std::mt19937 gen(5);
                       for (char& c : random) {
                           c = static_cast<char>(gen());
                       }
                       return random;
                   }},
        DamageCase{"truncated",
                   [](const std::string& bytes) { return bytes.substr(0, bytes.size() / 3); }},
        DamageCase{"another_programs_database",
                   [](const std::string&) {
                       TempDir other;
                       {
                           QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "other");
                           db.setDatabaseName(QString::fromStdString(other.File("x")));
                           db.open();
                           QSqlQuery(db).exec("CREATE TABLE notes (text TEXT)");
                       }
                       QSqlDatabase::removeDatabase("other");
                       return ReadFileBytes(other.File("x"));
                   }},
        DamageCase{"pages_overwritten",
                   [](const std::string& bytes) {
                       std::string hit = bytes;
                       std::fill(hit.begin() + 4096, hit.begin() + 3 * 4096, '\x5A');
                       return hit;
                   }}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(LibraryStore, ReadsButNeverWritesALibraryOfANewerSchema) {
    TempDir dir;
    const std::string path = dir.File("library.sqlite");
    const LibraryRun run = NoisyRun(100, 2, 5);
    {
        LibraryStore store;
        ASSERT_TRUE(store.Open(path));
        ASSERT_TRUE(store.RecordRun(run));
    }
    SetUserVersion(path, 99);
    const std::string bytes = ReadFileBytes(path);
    LibraryStore store;
    EXPECT_EQ(store.Open(path).error, LibraryError::NewerSchema);
    EXPECT_TRUE(store.IsOpen());
    EXPECT_FALSE(store.Writable());
    EXPECT_EQ(Numbers(store.Search({})), std::vector<std::int64_t>{5});
    EXPECT_EQ(store.RecordRun(NoisyRun(10, 1)).error, LibraryError::NewerSchema);
    EXPECT_EQ(store.SetMetadata(run.runId, {}).error, LibraryError::NewerSchema);
    EXPECT_EQ(ReadFileBytes(path), bytes);
}

TEST(LibraryStore, CopiesItselfToANewFileOnly) {
    TempDir dir;
    LibraryStore store;
    ASSERT_TRUE(store.Open(dir.File("library.sqlite")));
    ASSERT_TRUE(store.RecordRun(NoisyRun(100, 2, 5, {"Ana", "CMJ", ""})));
    const std::string station = store.StationId();
    EXPECT_TRUE(ParseRunId(station));
    ASSERT_TRUE(store.Backup(dir.File("copy.sqlite")));
    EXPECT_EQ(store.Backup(dir.File("copy.sqlite")).systemError, EEXIST);
    LibraryStore copy;
    ASSERT_TRUE(copy.Open(dir.File("copy.sqlite")));
    EXPECT_EQ(copy.StationId(), station);
    EXPECT_FALSE(copy.StationHost().empty());
    EXPECT_EQ(copy.RecentEvaluated(5), std::vector<std::string>{"Ana"});
    EXPECT_EQ(copy.Protocols(), std::vector<std::string>{"CMJ"});
}

TEST(LibraryStore, KeepsTheRawReadingsOfANoisyFullRunSmall) {
    const LibraryRun run = NoisyRun(kMaxSamples, 4, 1);
    const std::string packed = PackRawReadings(run.raw);
    std::printf("noisy %d-sample 4-plate run: %zu bytes in the library (%.2f MB)\n", kMaxSamples,
                packed.size(), static_cast<double>(packed.size()) / 1e6);
    EXPECT_LE(packed.size(), 2'500'000u);
    EXPECT_EQ(UnpackRawReadings(packed), run.raw);
    std::vector<RawRecord> missing(3, RawRecord{kMissingReading, 0, 0xFFFFFF, 5});
    EXPECT_EQ(UnpackRawReadings(PackRawReadings(missing)), missing);
    EXPECT_FALSE(UnpackRawReadings(packed.substr(0, packed.size() / 2)));
}

TEST(LibraryWorker, RunsJobsInOrderOnItsOwnThreadAndFinishesThemAtItsEnd) {
    TempDir dir;
    std::vector<int> done;
    std::thread::id caller = std::this_thread::get_id();
    std::promise<std::thread::id> where;
    {
        LibraryWorker worker;
        worker.Post([&](LibraryStore& store) {
            where.set_value(std::this_thread::get_id());
            EXPECT_TRUE(store.Open(dir.File("library.sqlite")));
        });
        for (int i = 1; i <= 20; ++i) {
            worker.Post([&, i](LibraryStore& store) {
                EXPECT_TRUE(store.RecordRun(NoisyRun(50, i, i)));
                done.push_back(i);
            });
        }
    }
    EXPECT_NE(where.get_future().get(), caller);
    ASSERT_EQ(done.size(), 20u);
    EXPECT_TRUE(std::is_sorted(done.begin(), done.end()));
    LibraryStore store;
    ASSERT_TRUE(store.Open(dir.File("library.sqlite")));
    EXPECT_EQ(store.Search({}).size(), 20u);
}

TEST(LibraryWorker, DropsWhatIsStillQueuedOnceItsTimeAtTheEndIsUp) {
    std::atomic<int> ran{0};
    {
        LibraryWorker worker(std::chrono::milliseconds(0));
        std::promise<void> started;
        worker.Post([&](LibraryStore&) {
            started.set_value();
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            ++ran;
        });
        for (int i = 0; i < 5; ++i) {
            worker.Post([&](LibraryStore&) { ++ran; });
        }
        started.get_future().wait();
    }  // the job running is waited for, the five behind it are not run
    EXPECT_EQ(ran, 1);
}

}  // namespace
}  // namespace kelvaro
