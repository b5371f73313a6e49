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
    for (const auto& [minutes, testNumber, active] :
         {std::tuple{60 * 24 * 365 * 5, std::int64_t{12},
                     std::array<bool, 4>{true, true, true, true}},
          std::tuple{5, std::int64_t{0}, std::array<bool, 4>{false, true, false, true}}}) {
        JournalDescription description;
        description.start = std::chrono::system_clock::now() + std::chrono::minutes(minutes);
        description.frequency = 600;
        for (std::size_t i = 0; i < active.size(); ++i) {
            description.plates[i].active = active[i];
        }
        JournalWriter writer;
        ASSERT_TRUE(writer.Open(folder, description));
        const std::vector<RawRecord> records(3, RawRecord{1, 2, 3, 4});
        writer.Append(records);
        ASSERT_TRUE(writer.Close(testNumber));
        paths.push_back(writer.Path());
    }
    // A damaged journal has no sequence: it goes below every run, however new its file time.
    const std::string damaged = folder + "/run-2028-01-01T00-00-00.kjr";
    testing::WriteFileBytes(damaged, "not a journal");
    std::filesystem::last_write_time(
        damaged, std::filesystem::file_time_type::clock::now() + std::chrono::hours(24 * 365));
    // The first format's journal (tests/journal/data: plates 1 and 3 at 300 Hz, test 7).
    std::filesystem::copy_file(KELVARO_JOURNAL_DATA "/version1-closed.kjr", folder + "/v1.kjr");

    RecentRunsDialog dialog(ListRecentRuns(folder), QString());
    ASSERT_EQ(dialog.table->rowCount(), 4);
    // Newest first: the unsaved run on plates 2 and 4, test 12, test 7, then the damaged file.
    EXPECT_EQ(Cell(dialog, 0, 2), "não salvo");
    EXPECT_EQ(Cell(dialog, 0, 3), "3");
    EXPECT_EQ(Cell(dialog, 0, 4), "2, 4");
    EXPECT_EQ(Cell(dialog, 1, 2), "12");
    EXPECT_EQ(Cell(dialog, 1, 4), "1, 2, 3, 4");
    EXPECT_EQ(Cell(dialog, 1, 0).size(), 10u);  // dd/mm/yyyy
    EXPECT_EQ(Cell(dialog, 1, 1).size(), 8u);   // hh:mm:ss
    EXPECT_EQ(Cell(dialog, 2, 2) + " " + Cell(dialog, 2, 4), "7 1, 3");
    EXPECT_EQ(Cell(dialog, 3, 4), "diário danificado");
    EXPECT_FALSE(dialog.table->item(3, 4)->toolTip().isEmpty());

    EXPECT_TRUE(dialog.openButton->isEnabled());  // the newest is picked to begin with
    dialog.table->selectRow(1);
    dialog.openButton->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Chosen(), std::optional<std::string>(paths[0]));

    RecentRunsDialog cancelled(ListRecentRuns(folder), QString());
    cancelled.cancelButton->click();
    EXPECT_EQ(cancelled.Chosen(), std::nullopt);
    // Opened with its loads, plate 1's first a genuine raw 0.
    StoredRun run;
    ASSERT_TRUE(ReadStoredRun(folder + "/v1.kjr", run));
    ASSERT_EQ(run.loads.size(), 300u);
    for (int k = 0; k < 300; ++k) {
        const auto& loads = run.loads[static_cast<std::size_t>(k)];
        ASSERT_DOUBLE_EQ(loads[0], (k * 1000.0 - 8388608) / 1000.5 - 2.5) << k;
        ASSERT_DOUBLE_EQ(loads[2], (0xFFFFFF - k * 7.0 - 100) / -250.25) << k;
    }
}

}  // namespace
}  // namespace kelvaro
