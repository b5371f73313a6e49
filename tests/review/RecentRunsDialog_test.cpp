// The recent-runs list as the operator reads it and picks from it: one line per journal, newest
// first, in the operator's words, and the line picked is the journal opened.
#include "review/RecentRunsDialog.h"

#include <gtest/gtest.h>

#include <QPushButton>
#include <QTableWidget>
#include <filesystem>

#include "TempDir.h"
#include "journal/Journal.h"

namespace kelvaro {
namespace {

std::string Cell(const RecentRunsDialog& dialog, int row, int column) {
    const QTableWidgetItem* item = dialog.table->item(row, column);
    return item == nullptr ? std::string() : item->text().toStdString();
}

TEST(RecentRunsDialog, ListsEveryJournalInTheOperatorsWordsAndOpensTheLinePicked) {
    testing::TempDir dir;
    const std::string folder = dir.File("journal");
    std::vector<std::string> paths;
    // The first run made while the clock was five years ahead: the list follows the order the
    // runs were made in, never the clock.
    for (const auto& [hours, testNumber, active] :
         {std::tuple{24 * 365 * 5, std::int64_t{12}, std::array<bool, 4>{true, true, true, true}},
          std::tuple{0, std::int64_t{0}, std::array<bool, 4>{false, true, false, true}}}) {
        JournalDescription description;
        description.start = std::chrono::system_clock::now() + std::chrono::hours(hours);
        description.frequency = 600;
        for (std::size_t i = 0; i < active.size(); ++i) {
            description.plates[i].active = active[i];
        }
        JournalWriter writer;
        ASSERT_TRUE(writer.Open(folder, description));
        const std::vector<JournalRecord> records(3, JournalRecord{1, 2, 3, 4});
        writer.Append(records);
        ASSERT_TRUE(writer.Close(testNumber));
        paths.push_back(writer.Path());
    }
    // A damaged journal has no sequence: it goes below every run, however new its file time.
    const std::string damaged = folder + "/run-2028-01-01T00-00-00.kjr";
    testing::WriteFileBytes(damaged, "not a journal");
    std::filesystem::last_write_time(
        damaged, std::filesystem::file_time_type::clock::now() + std::chrono::hours(24 * 365));

    RecentRunsDialog dialog(ListRecentRuns(folder), QString());
    ASSERT_EQ(dialog.table->rowCount(), 3);
    // Newest first: the unsaved run on plates 2 and 4, then test 12, then the damaged file.
    EXPECT_EQ(Cell(dialog, 0, 2), "não salvo");
    EXPECT_EQ(Cell(dialog, 0, 3), "3");
    EXPECT_EQ(Cell(dialog, 0, 4), "2, 4");
    EXPECT_EQ(Cell(dialog, 1, 2), "12");
    EXPECT_EQ(Cell(dialog, 1, 4), "1, 2, 3, 4");
    EXPECT_EQ(Cell(dialog, 1, 0).size(), 10u);  // dd/mm/yyyy
    EXPECT_EQ(Cell(dialog, 1, 1).size(), 8u);   // hh:mm:ss
    EXPECT_EQ(Cell(dialog, 2, 4), "diário danificado");
    EXPECT_FALSE(dialog.table->item(2, 4)->toolTip().isEmpty());

    EXPECT_TRUE(dialog.openButton->isEnabled());  // the newest is picked to begin with
    dialog.table->selectRow(1);
    dialog.openButton->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Chosen(), std::optional<std::string>(paths[0]));

    RecentRunsDialog cancelled(ListRecentRuns(folder), QString());
    cancelled.cancelButton->click();
    EXPECT_EQ(cancelled.Chosen(), std::nullopt);
}

// The journals today's station writes stay listed and open with their loads after any change of
// the format (tests/journal/data: plates 1 and 3 at 300 Hz, a run saved as test 7 and a crashed
// one); plate 1's first reading is a genuine raw 0.
TEST(RecentRunsDialog, ListsAndOpensTheJournalsOfTheFirstFormat) {
    testing::TempDir dir;
    const std::string folder = dir.File("journal");
    ASSERT_TRUE(std::filesystem::create_directory(folder));
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
    for (const char* name : {"version1-closed.kjr", "version1-crashed.kjr"}) {
        std::filesystem::copy_file(std::string(KELVARO_JOURNAL_DATA "/") + name,
                                   folder + "/" + name);
    }
    const std::vector<RecentRun> recent = ListRecentRuns(folder);
    ASSERT_EQ(recent.size(), 2u);
    EXPECT_EQ(recent[1].testNumber, "7");
    EXPECT_EQ(recent[1].plates, "1, 3");

    StoredRun run;
    std::string error;
    ASSERT_TRUE(ReadStoredRun(recent[1].path, run, &error)) << error;
    EXPECT_EQ(run.heading.frequency, 300);
    ASSERT_EQ(run.loads.size(), 300u);
    for (std::size_t k = 0; k < run.loads.size(); ++k) {
        const double raw1 = static_cast<double>(k * 1000);
        const double raw3 = static_cast<double>(0xFFFFFF - k * 7);
        ASSERT_DOUBLE_EQ(run.loads[k][0], (raw1 - 8388608) / 1000.5 - 2.5) << k;
        ASSERT_DOUBLE_EQ(run.loads[k][2], (raw3 - 100) / -250.25) << k;
    }
}

}  // namespace
}  // namespace kelvaro
