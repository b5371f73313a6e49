// The library made again from the journals and the export folder, over the real SQLite engine:
// the runs come back with their ids, texts and saved files, a saved run once, and the old file
// is kept aside whatever state it was in.
#include "library/LibraryRebuild.h"

#include <gmock/gmock.h>

#include <QSqlDatabase>
#include <QSqlQuery>

#include "CaseNames.h"
#include "LibraryRuns.h"
#include "StationFakes.h"
#include "TempDir.h"
#include "library/RunRecording.h"

namespace kelvaro {
namespace {

using testing::JournalOf;
using testing::NoisyRun;
using testing::ReadFileBytes;
using testing::TempDir;

enum class OldLibrary { Missing, Healthy, Damaged, NewerSchema };
struct RebuildCase {
    const char* name;
    OldLibrary old;
};
using testing::PrintTo;

class LibraryRebuild : public ::testing::TestWithParam<RebuildCase> {};

// Texts edited in the library reach the run's journal, the one thing a rebuild of a lost
// library reads them from.
TEST(LibraryEdits, ReachTheRunsJournal) {
    TempDir dir;
    const LibraryRun run = NoisyRun(30, 5, 2, {"Ana", "CMJ", ""});
    const std::string journal = JournalOf(run, dir.Path().string());
    ASSERT_FALSE(journal.empty());
    const RunMetadata edited{"Ana Lima", "SJ", "refeito"};
    EXPECT_TRUE(KeepMetadataInJournal(dir.Path().string(), NoisyRun(1, 6).runId, edited));
    ASSERT_TRUE(KeepMetadataInJournal(dir.Path().string(), run.runId, edited));
    JournalContents read;
    ASSERT_TRUE(ReadJournal(journal, read));
    EXPECT_EQ(read.description.metadata, edited);
}

TEST_P(LibraryRebuild, GivesBackEveryJournalsRunAndEveryFileOnce) {
    TempDir dir;
    const std::string journals = dir.File("state");
    const std::string exported = dir.File("Exportados");
    std::filesystem::create_directories(exported);
    const std::string path = LibraryPathIn(journals);
    testing::FakeProgress progress;

    const LibraryRun saved = NoisyRun(900, 1, 1, {"Ana", "CMJ", "joelho"});
    const LibraryRun unsaved = NoisyRun(300, 2, 0, {"Bruno", "SJ", ""});
    ASSERT_FALSE(JournalOf(saved, journals).empty() || JournalOf(unsaved, journals).empty());
    testing::WriteFileBytes(journals + "/broken.kjr", "KELVJRNL and nothing a journal holds");
    std::vector<LoadRecord> loads;
    for (const RawRecord& raw : saved.raw) {
        loads.push_back(ConvertRecord(raw, saved.calibration, saved.active));
    }
    ASSERT_TRUE(WriteTestFile(exported + "/Kelvaro_1.csv", {1, 600, saved.ports, saved.units},
                              loads, ',', progress));
    ASSERT_TRUE(WriteTestFile(exported + "/Kelvaro_9.csv", {9, 600, saved.ports, saved.units},
                              std::vector<LoadRecord>(50, {1.5, 2, 3, 4}), ',', progress));
    testing::WriteFileBytes(exported + "/notas.csv", "not a test\r\n");

    std::string station;
    const RunMetadata edited{"Ana Lima", "CMJ", "joelho direito"};
    const std::string elsewhere = dir.File("outro.csv");
    ASSERT_TRUE(WriteTestFile(elsewhere, {4, 600, saved.ports, saved.units},
                              std::vector<LoadRecord>(20, {7, 0, 0, 0}), ',', progress));
    if (GetParam().old != OldLibrary::Missing) {
        LibraryStore old;
        ASSERT_TRUE(old.Open(path));
        ASSERT_TRUE(old.RecordRun(NoisyRun(100, 3, 3)));  // its journal long pruned
        ASSERT_TRUE(old.RecordRun(saved));
        ASSERT_TRUE(old.SetMetadata(saved.runId, edited));  // in the library only
        ASSERT_EQ(old.ImportTestFile(elsewhere).result, ImportResult::Imported);
        station = old.StationId();
    }
    // What the old library alone knew comes back when it can still be read.
    const bool readable =
        GetParam().old == OldLibrary::Healthy || GetParam().old == OldLibrary::NewerSchema;
    if (GetParam().old == OldLibrary::Damaged) {
        std::string bytes = ReadFileBytes(path);
        std::fill(bytes.begin() + 4096, bytes.end(), '\x5A');
        testing::WriteFileBytes(path, bytes);
    }
    if (GetParam().old == OldLibrary::NewerSchema) {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "raw");
            db.setDatabaseName(QString::fromStdString(path));
            ASSERT_TRUE(db.open());
            QSqlQuery(db).exec("PRAGMA user_version = 99");
        }
        QSqlDatabase::removeDatabase("raw");
    }
    const std::string oldBytes = ReadFileBytes(path);

    LibraryStore store;
    if (GetParam().old != OldLibrary::Missing) {
        store.Open(path);  // as the station left it, refused or not
    }
    if (GetParam().old == OldLibrary::NewerSchema) {
        // Not without the operator's word: nothing is touched.
        const LibraryRebuildReport refused = RebuildLibrary(store, path, {journals, exported});
        EXPECT_EQ(refused.status.error, LibraryError::NewerSchema);
        EXPECT_TRUE(ReadFileBytes(path) == oldBytes);
        EXPECT_TRUE(store.IsOpen());
    }
    const LibraryRebuildReport report = RebuildLibrary(store, path, {journals, exported, true});
    ASSERT_TRUE(report.status) << report.status.nativeText;
    EXPECT_EQ(report.runsFromJournals, 2);
    EXPECT_EQ(report.savedFilesFound, 1);
    EXPECT_EQ(report.filesImported, readable ? 2 : 1);
    EXPECT_EQ(report.filesAlreadyThere, 1);  // the saved run's file
    ASSERT_EQ(report.refusedFiles.size(), 1u);
    EXPECT_EQ(report.refusedFiles[0].path, exported + "/notas.csv");
    ASSERT_EQ(report.unreadableJournals.size(), 1u);
    EXPECT_EQ(report.unreadableJournals[0].path, journals + "/broken.kjr");
    EXPECT_TRUE(ReadFileBytes(report.keptAside) == oldBytes);
    EXPECT_EQ(report.keptAside.empty(), GetParam().old == OldLibrary::Missing);
    EXPECT_FALSE(std::filesystem::exists(dir.File("state/biblioteca-reconstrucao.sqlite")));

    ASSERT_TRUE(store.Writable());
    if (readable) {
        EXPECT_EQ(store.StationId(), station);
    }
    EXPECT_EQ(store.Search({}).size(), readable ? 4u : 3u);
    const std::optional<StoredRunData> back = store.LoadRun(saved.runId);
    ASSERT_TRUE(back && back->hasReadings);
    EXPECT_EQ(back->metadata, readable ? edited : saved.metadata);
    EXPECT_EQ(back->filePath, exported + "/Kelvaro_1.csv");
    EXPECT_EQ(back->fileSha256, Sha256Hex(ReadFileBytes(back->filePath)));
    EXPECT_EQ(store.LoadRun(unsaved.runId)->metadata, unsaved.metadata);
}

INSTANTIATE_TEST_SUITE_P(Libraries, LibraryRebuild,
                         ::testing::Values(RebuildCase{"Missing", OldLibrary::Missing},
                                           RebuildCase{"Healthy", OldLibrary::Healthy},
                                           RebuildCase{"Damaged", OldLibrary::Damaged},
                                           RebuildCase{"NewerSchema", OldLibrary::NewerSchema}),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace kelvaro
