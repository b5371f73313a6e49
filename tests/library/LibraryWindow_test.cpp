// The library window over a real library in a temporary folder: its searches fill the table, a
// removal waits for "Sim", an import tells what it did with each file, a test opens with its
// loads, and chosen tests are compared side by side. Every answer comes from the library's thread,
// so each check waits for it.
#include "library/LibraryWindow.h"

#include <gmock/gmock.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QValueAxis>
#include <algorithm>

#include "CaseNames.h"
#include "LibraryRuns.h"
#include "ScriptedDialogs.h"
#include "StationFakes.h"
#include "TempDir.h"
#include "chart/LoadChart.h"
#include "compare/CompareWindow.h"
#include "library/LibraryWorker.h"

namespace kelvaro {
namespace {

using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using testing::NoisyRun;

bool WaitFor(const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 60'000) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return done();
}

class LibraryWindowTest : public ::testing::Test {
  protected:
    // Before the window's first search, as the main window opens it at its start.
    bool OpenLibrary() {
        LibraryStore store;
        EXPECT_TRUE(store.Open(path_));
        // Started an hour apart, the last first in the list.
        EXPECT_TRUE(store.RecordRun(NoisyRun(50, 1, 1, {"José Araújo", "Salto", ""})));
        EXPECT_TRUE(store.RecordRun(NoisyRun(50, 2, 2, {"Maria", "Salto", "queda\nno fim"})));
        EXPECT_TRUE(store.RecordRun(NoisyRun(50, 3, 0, {"Jose Silva", "Marcha", ""})));
        worker_.Post([path = path_](LibraryStore& opened) { opened.Open(path); });
        return true;
    }
    LibraryWindowTest() {
        QObject::connect(&window, &LibraryWindow::SearchDone, [this] { ++searches_; });
        QObject::connect(&window, &LibraryWindow::ActionDone, [this] { ++actions_; });
        EXPECT_TRUE(WaitFor([this] { return searches_ > 0; }));
    }
    void Search() {
        const int before = searches_;
        window.Search();
        ASSERT_TRUE(WaitFor([&] { return searches_ > before; }));
    }
    void Act(QPushButton* button) {
        const int before = actions_;
        button->click();
        ASSERT_TRUE(WaitFor([&] { return actions_ > before; }));
    }
    std::vector<std::int64_t> Numbers() const {
        std::vector<std::int64_t> numbers;
        for (const LibraryEntry& entry : window.Entries()) {
            numbers.push_back(entry.testNumber);
        }
        return numbers;
    }
    void Select(int row) {
        window.table->selectionModel()->select(
            window.table->model()->index(row, 0),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    QString Cell(int row, int column) const {
        return window.table->model()->index(row, column).data().toString();
    }

    testing::TempDir dir_;
    std::string path_ = dir_.File("library.sqlite");
    testing::ScriptedDialogs dialogs;
    LibraryWorker worker_;
    bool opened_ = OpenLibrary();
    LibraryWindow window{worker_, dialogs, ',', path_};
    int searches_ = 0;
    int actions_ = 0;
};

TEST_F(LibraryWindowTest, ShowsEveryTestWithItsFiguresInTheStationsWords) {
    EXPECT_THAT(Numbers(), ElementsAreArray({0, 2, 1}));
    EXPECT_EQ(window.countLabel->text(), QStringLiteral("3 testes"));
    EXPECT_EQ(Cell(0, 1), QStringLiteral("não salvo"));
    EXPECT_EQ(Cell(1, 4), QStringLiteral("queda"));
    EXPECT_THAT(Cell(1, 7).toStdString(), ::testing::MatchesRegex("-?[0-9]+,[0-9]{3}"));
    EXPECT_EQ(Cell(1, 9), QStringLiteral("kgf"));
    // A click on "Teste" sorts by number, from the lowest.
    emit window.table->horizontalHeader()->sectionClicked(1);
    ASSERT_TRUE(WaitFor([this] { return searches_ > 1; }));
    EXPECT_THAT(Numbers(), ElementsAreArray({0, 1, 2}));
}

struct SearchCase {
    const char* name;
    const char* evaluated;
    const char* protocol;
    const char* notes;
    const char* testNumber;
    std::vector<std::int64_t> found;
};
using testing::PrintTo;

class LibraryWindowSearch : public LibraryWindowTest,
                            public ::testing::WithParamInterface<SearchCase> {};

TEST_P(LibraryWindowSearch, FindsWhatTheFieldsAskFor) {
    const SearchCase& c = GetParam();
    window.evaluatedEdit->setText(QString::fromUtf8(c.evaluated));
    window.protocolEdit->setText(QString::fromUtf8(c.protocol));
    window.notesEdit->setText(QString::fromUtf8(c.notes));
    window.testNumberEdit->setText(QString::fromUtf8(c.testNumber));
    window.show();  // Enter in a field reaches the default button, "Buscar", when shown
    const int before = searches_;
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(window.testNumberEdit, &enter);
    ASSERT_TRUE(WaitFor([&] { return searches_ > before; }));
    EXPECT_THAT(Numbers(), ElementsAreArray(c.found));
    EXPECT_EQ(window.table->model()->rowCount(), static_cast<int>(c.found.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Fields, LibraryWindowSearch,
    ::testing::Values(SearchCase{"Nothing", "", "", "", "", {0, 2, 1}},
                      SearchCase{"EvaluatedWithoutAccents", "JOSE", "", "", "", {0, 1}},
                      SearchCase{"Protocol", "", "salto", "", "", {2, 1}},
                      SearchCase{"TestNumber", "", "", "", "2", {2}},
                      SearchCase{"NotesAndProtocol", "", "Salto", "fim", "", {2}},
                      SearchCase{"NoMatch", "Ninguém", "", "", "", {}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(LibraryWindowTest, OffersTheLabServerOnlyToAnOwnerThatOpensIt) {
    window.show();
    EXPECT_FALSE(window.labServerButton->isVisible());
    window.hide();
    int opened = 0;
    window.openLabServer = [&opened] { ++opened; };
    window.show();
    ASSERT_TRUE(window.labServerButton->isVisible());
    window.labServerButton->click();
    EXPECT_EQ(opened, 1);
}

TEST_F(LibraryWindowTest, RemovesATestOnlyAfterSim) {
    Select(1);
    dialogs.answers = {DialogResult::No};
    window.removeButton->click();
    EXPECT_EQ(dialogs.Last().text,
              "Remover o teste 2 da biblioteca? O arquivo salvo não é apagado.");
    Search();
    EXPECT_THAT(Numbers(), ElementsAreArray({0, 2, 1}));

    Select(1);
    dialogs.answers = {DialogResult::Yes};
    Act(window.removeButton);
    ASSERT_TRUE(WaitFor([this] { return Numbers().size() == 2; }));
    EXPECT_THAT(Numbers(), ElementsAreArray({0, 1}));
}

TEST_F(LibraryWindowTest, ImportsAFolderAndTellsWhatBecameOfEachFile) {
    testing::TempDir folder;
    TestFileHeading heading{9, 600, {"/dev/ttyUSB0", "", "", ""}, {"kgf", "kgf", "kgf", "kgf"}};
    std::vector<LoadRecord> rows(200, {1.5, 0.0, 0.0, 0.0});
    testing::FakeProgress progress;
    ASSERT_TRUE(WriteTestFile(folder.File("a.csv"), heading, rows, ',', progress));
    ASSERT_TRUE(WriteTestFile(folder.File("b.csv"), heading, rows, ',', progress));
    testing::WriteFileBytes(folder.File("c.csv"), "not a test\r\n");
    testing::WriteFileBytes(folder.File("notes.txt"), "not a test either\r\n");
    window.chooseFolder = [&] { return std::optional<std::string>(folder.Path().string()); };
    Act(window.importButton);
    const std::string& text = dialogs.Last().text;
    EXPECT_THAT(text, HasSubstr("Arquivos importados: 1."));
    EXPECT_THAT(text, HasSubstr("Já estavam na biblioteca: 1."));
    EXPECT_THAT(text, HasSubstr(folder.File("c.csv")));
    EXPECT_THAT(text, ::testing::Not(HasSubstr("notes.txt")));
    ASSERT_TRUE(WaitFor([this] { return Numbers().size() == 4; }));
}

TEST_F(LibraryWindowTest, RebuildsOnlyAfterSimThenTellsWhatCameBackAndSearchesAgain) {
    const std::string journals = dir_.File("state");
    ASSERT_FALSE(testing::JournalOf(NoisyRun(50, 7, 7, {"Rita", "CMJ", ""}), journals).empty());
    window.rebuildSources = {journals, ""};
    dialogs.answers = {DialogResult::No};
    window.rebuildButton->click();
    EXPECT_THAT(dialogs.Last().text, HasSubstr("A biblioteca atual não é apagada"));
    Search();
    EXPECT_THAT(Numbers(), ElementsAreArray({0, 2, 1}));

    dialogs.answers = {DialogResult::Yes};
    Act(window.rebuildButton);
    EXPECT_THAT(dialogs.Last().text, HasSubstr("Testes dos diários: 1 (com o arquivo salvo: 0)."));
    EXPECT_THAT(dialogs.Last().text, HasSubstr("guardada em " + dir_.File("library-antiga-")));
    ASSERT_TRUE(WaitFor([this] { return Numbers().size() == 1; }));
    EXPECT_THAT(Numbers(), ElementsAreArray({7}));
    EXPECT_TRUE(window.rebuildButton->isEnabled());
}

TEST_F(LibraryWindowTest, OpensASavedTestWithItsLoadsAndNotOneNeverSaved) {
    std::vector<StoredRunData> opened;
    QObject::connect(&window, &LibraryWindow::OpenRequested,
                     [&](const StoredRunData& run) { opened.push_back(run); });
    Select(0);
    Act(window.openButton);
    EXPECT_TRUE(opened.empty());
    EXPECT_THAT(dialogs.Last().text, HasSubstr("não tem leituras na biblioteca"));

    Select(1);
    Act(window.openButton);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].heading.testNumber, 2);
    EXPECT_EQ(opened[0].loads.size(), 50u);
    EXPECT_EQ(opened[0].metadata.evaluated, "Maria");
    EXPECT_EQ(window.result(), QDialog::Accepted);
}

TEST_F(LibraryWindowTest, EditsTheWholeNotesAndHoldsTheTextsToTheirLimits) {
    std::vector<RunMetadata> shown;
    window.editMetadata = [&](const QString& title, const RunMetadata& metadata) {
        EXPECT_EQ(title, QStringLiteral("Kelvaro - Editar o teste 2"));
        shown.push_back(metadata);
        return shown.size() == 1
                   ? std::nullopt
                   : std::optional<RunMetadata>({"  Ana Lúcia ", "Salto", std::string(2100, 'x')});
    };
    Select(1);
    window.editButton->click();
    ASSERT_TRUE(WaitFor([&] { return shown.size() == 1; }));
    EXPECT_EQ(shown[0].notes, "queda\nno fim");  // the list shows its first line only

    Select(1);
    Act(window.editButton);
    window.evaluatedEdit->setText(QStringLiteral("ana lucia"));
    Search();
    ASSERT_THAT(Numbers(), ElementsAreArray({2}));
    LibraryStore store;
    ASSERT_TRUE(store.Open(path_));
    const std::optional<StoredRunData> run = store.LoadRun(window.Entries()[0].runId);
    ASSERT_TRUE(run);
    EXPECT_EQ(run->metadata.evaluated, "Ana Lúcia");
    EXPECT_EQ(run->metadata.notes.size(), kNotesMaxChars);
}

// A day chosen in the date fields is the whole of that day on the station's clock.
TEST_F(LibraryWindowTest, SearchesDatesFromTheStartOfTheFirstDayToTheEndOfTheLast) {
    const auto at = [](int day, int hour, int minute, int second, int millisecond) {
        return std::chrono::system_clock::time_point(std::chrono::milliseconds(
            QDateTime(QDate(2026, 3, day), QTime(hour, minute, second, millisecond))
                .toMSecsSinceEpoch()));
    };
    {
        LibraryStore store;
        ASSERT_TRUE(store.Open(path_));
        const std::pair<std::int64_t, std::chrono::system_clock::time_point> runs[] = {
            {21, at(9, 23, 59, 59, 999)},
            {22, at(10, 0, 0, 0, 0)},
            {23, at(10, 23, 59, 59, 999)},
            {24, at(11, 0, 0, 0, 0)}};
        for (const auto& [number, start] : runs) {
            LibraryRun run = NoisyRun(10, static_cast<unsigned>(number), number);
            run.start = start;
            ASSERT_TRUE(store.RecordRun(run));
        }
    }
    const QDate day(2026, 3, 10);
    struct DateCase {
        bool from, to;
        std::vector<std::int64_t> found;
    };
    for (const DateCase& c : {DateCase{true, true, {23, 22}}, DateCase{true, false, {24, 23, 22}},
                              DateCase{false, true, {23, 22, 21, 0, 2, 1}}}) {
        window.fromCheck->setChecked(c.from);
        window.toCheck->setChecked(c.to);
        window.fromEdit->setDate(day);
        window.toEdit->setDate(day);
        Search();
        EXPECT_THAT(Numbers(), ElementsAreArray(c.found)) << c.from << c.to;
    }
}

TEST_F(LibraryWindowTest, CopiesTheLibraryToANewFileAndNeverOverAnother) {
    const std::string copy = dir_.File("copia.sqlite");
    dialogs.saveFiles = {copy, copy};
    Act(window.backupButton);
    EXPECT_EQ(dialogs.Last().text, "A biblioteca foi copiada para " + copy + ".");
    {
        LibraryStore store;
        ASSERT_TRUE(store.Open(copy));
        EXPECT_EQ(store.Count({}), 3);
    }
    Act(window.backupButton);
    EXPECT_EQ(dialogs.Last().icon, DialogIcon::Warning);
    EXPECT_THAT(dialogs.Last().text, HasSubstr(copy + ": esse arquivo já existe"));
}

// The test never saved is named and left out; the others are drawn in seconds whatever their
// frequency, a row each, and aligned at the peak on request.
TEST_F(LibraryWindowTest, ComparesTheChosenTestsInSecondsLeavingOutOneNeverSaved) {
    LibraryRun slower = NoisyRun(100, 4, 3, {"Eva", "Salto", ""});
    slower.frequency = 300;
    worker_.Post([slower](LibraryStore& store) { EXPECT_TRUE(store.RecordRun(slower)); });
    Search();
    ASSERT_THAT(Numbers(), ElementsAreArray({3, 0, 2, 1}));
    Select(0);
    EXPECT_FALSE(window.compareButton->isEnabled());
    EXPECT_FALSE(window.compareHint->text().isEmpty());
    window.table->selectAll();
    ASSERT_TRUE(window.compareButton->isEnabled());
    Act(window.compareButton);
    EXPECT_THAT(dialogs.Last().text, HasSubstr("teste não salvo de"));
    EXPECT_THAT(dialogs.Last().text, HasSubstr("Os outros 3 testes são comparados."));

    auto* compare = window.findChild<CompareWindow*>();
    ASSERT_NE(compare, nullptr);
    LoadChart& chart = *compare->chart;
    ASSERT_EQ(chart.SeriesCount(), 3);
    EXPECT_DOUBLE_EQ(chart.Points(1).back().x, 99.0 / 300.0);
    EXPECT_DOUBLE_EQ(chart.Points(2).back().x, 49.0 / 600.0);
    EXPECT_DOUBLE_EQ(chart.AxisX()->min(), 0.0);
    EXPECT_DOUBLE_EQ(chart.AxisX()->max(), 99.0 / 300.0);
    ASSERT_EQ(compare->table->model()->rowCount(), 3);
    EXPECT_THAT(compare->table->model()->index(0, 0).data().toString().toStdString(),
                ::testing::StartsWith("Eva — "));

    compare->alignmentCombo->setCurrentIndex(1);
    for (int series = 1; series <= 3; ++series) {
        const std::vector<ChartPoint>& points = chart.Points(series);
        const auto peak = std::max_element(points.begin(), points.end(),
                                           [](auto a, auto b) { return a.y < b.y; });
        EXPECT_EQ(peak->x, 0.0) << "series " << series;
        EXPECT_LT(points.front().x, 0.0) << "series " << series;
    }
}

}  // namespace
}  // namespace kelvaro
