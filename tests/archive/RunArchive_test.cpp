// The archive of runs: recovery at start, and the test number every save records in the run's
// journal.
#include "archive/RunArchive.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <memory>

#include "CaseNames.h"
#include "ScriptedDialogs.h"
#include "StationFakes.h"
#include "TempDir.h"
#include "settings/SettingsStore.h"

namespace kelvaro {
namespace {

using testing::PrintTo;
using Setting = std::pair<std::string, std::string>;

class FakeArchiveView : public ArchiveView {
  public:
    kelvaro::testing::FakeChart chart;
    void SetStatusText(const std::string&, bool) override {}
    ChartSink& Chart() override { return chart; }
    void RunAside(const std::function<void()>& work) override { work(); }
    void RunDrawn(const StoredRun& run) override {
        drawnWithQuestions.emplace_back(run.loads.size(), questions());
    }
    std::function<std::size_t()> questions = [] { return std::size_t{0}; };
    std::vector<std::pair<std::size_t, std::size_t>>
        drawnWithQuestions;  // samples, questions asked
};

class RunArchiveTest : public ::testing::Test {
  protected:
    void SetUp() override {
        state.config.settingsPath = dir.File("settings.ini");
        state.config.journalFolder = dir.File("journal");
        state.config.decimalSeparator = ',';
    }
    void Settings(const std::vector<Setting>& values) {
        SettingsStore store(state.config.settingsPath);
        for (const auto& [key, value] : values) {
            store.WriteString(kSettingsSection, key, value);
        }
        ASSERT_TRUE(store.Close());
    }

    kelvaro::testing::TempDir dir;
    StationState state;
    kelvaro::testing::ScriptedDialogs dialogs;
    kelvaro::testing::FakeProgress progress;
    FakeArchiveView view;
    RunArchive archive{state, dialogs, progress, dir.File("Exportados")};
};

// A run whose station died is offered at the next start, once, and recovered as if it had just
// stopped: drawn with the calibration and saved with the units it ran with, whatever the
// settings say now, then the usual save question.
TEST_F(RunArchiveTest, AnUnclosedJournalIsOfferedOnceAndRecoveredAsARunJustStopped) {
    JournalDescription crashed;
    crashed.start = std::chrono::system_clock::now();
    crashed.frequency = 600;
    crashed.plates[0] = {true, "/dev/ttyUSB0", {1000, 2, 5}, "kgf"};
    crashed.plates[1].unit = "un.";
    crashed.plates[2] = {true, "/dev/ttyUSB2", {0, 1, 0}, "kgf"};
    crashed.plates[3].unit = "un.";
    crashed.runId = NewRunId();
    crashed.metadata = {"João", "Salto", "Recuperado"};
    {
        JournalWriter writer;  // gone without Close, as in a kill
        ASSERT_TRUE(writer.Open(state.config.journalFolder, crashed));
        const std::vector<RawRecord> records{{3000, 0, 7, 0}, {3010, 0, 8, 0}};
        writer.Append(records);
    }
    Settings({{"u1", "N"}, {"Frequencia", "50"}});
    dialogs.answers = {DialogResult::Yes, DialogResult::Yes};
    dialogs.saveFiles = {dir.File("Kelvaro_1.csv")};
    view.questions = [this] { return dialogs.messages.size(); };

    const std::optional<StoredRun> recovered = archive.OfferRecovery(view);
    // Its results are shown after "recuperá-lo?" and before "Deseja salvar o teste?".
    EXPECT_EQ(view.drawnWithQuestions, (std::vector<std::pair<std::size_t, std::size_t>>{{2, 1}}));
    const std::vector<std::string> texts = dialogs.Texts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_NE(texts[0].find("não foi encerrado"), std::string::npos) << texts[0];
    EXPECT_NE(texts[0].find("O diário guardou 2 amostras. Deseja recuperá-lo?"), std::string::npos)
        << texts[0];
    EXPECT_EQ(texts[1], "Deseja salvar o teste?");
    ASSERT_TRUE(recovered.has_value());
    EXPECT_EQ(recovered->heading.testNumber, 1);
    EXPECT_EQ(recovered->savedFile, dir.File("Kelvaro_1.csv"));  // what the library records
    EXPECT_EQ(recovered->runId, crashed.runId);
    EXPECT_EQ(recovered->metadata, crashed.metadata);  // kept by the journal, not the test file
    ASSERT_EQ(recovered->loads.size(), 2u);
    EXPECT_EQ(recovered->loads[1], (LoadRecord{1000.0, 0.0, 8.0, 0.0}));
    EXPECT_EQ(view.chart.inLegend, (std::array<bool, 4>{true, false, true, false}));
    std::ifstream file(dir.File("Kelvaro_1.csv"), std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(file), {}};
    EXPECT_EQ(bytes.substr(0, bytes.find("\r\n2;") + 2),
              "Avalia\xE7\xE3o;1;\r\nFrequ\xEAncia;600;\r\n;\r\nPlaca 1;/dev/ttyUSB0;\r\nPlaca "
              "2;;\r\nPlaca 3;/dev/ttyUSB2;\r\nPlaca 4;;\r\n;\r\nAm Geral;Am1: kgf;Am2: un.;Am3: "
              "kgf;Am4: un.;\r\n;\r\n1;995,000;0,000;7,000;0,000;\r\n");
    // The run did not become the station's: the next test starts from the settings.
    EXPECT_EQ(state.config.testFrequency, 50);
    EXPECT_EQ(state.config.plateActive, (std::array<bool, 4>{}));
    const std::vector<JournalSummary> journals = ListJournals(state.config.journalFolder);
    ASSERT_EQ(journals.size(), 1u);
    EXPECT_EQ(journals[0].description.state, JournalState::Stopped);
    EXPECT_EQ(journals[0].description.testNumber, 1);

    EXPECT_FALSE(archive.OfferRecovery(view).has_value());  // closed now: not offered again
    EXPECT_EQ(dialogs.messages.size(), 3u);
}

// A two-sample run of plate 1, its journal left as `writer` has it.
StoredRun JournalRun(JournalWriter& writer, const std::string& folder) {
    JournalDescription description;
    description.frequency = 600;
    description.plates[0] = {true, "/dev/ttyUSB0", {0, 1, 0}, "kgf"};
    EXPECT_TRUE(writer.Open(folder, description));
    const std::vector<RawRecord> records{{3000, 0, 0, 0}, {3010, 0, 0, 0}};
    writer.Append(records);
    StoredRun run;
    run.path = writer.Path();
    run.fromJournal = true;
    return run;
}

// Each way a run is saved records its new number in the run and in its journal: the run that
// has just stopped (its journal still open), a recovered one and one saved again (closed).
enum class SaveWay { Stopped, Recovered, SavedAgain };
struct SavePath {
    const char* name;
    SaveWay way;
};

class TestNumberRecorded : public RunArchiveTest, public ::testing::WithParamInterface<SavePath> {
  protected:
    StoredRun Save() {
        const std::string& folder = state.config.journalFolder;
        auto writer = std::make_unique<JournalWriter>();
        StoredRun run = JournalRun(*writer, folder);
        switch (GetParam().way) {
            case SaveWay::Stopped:
                writer->AwaitAnswer();
                dialogs.answers = {DialogResult::Yes};
                return archive.SaveStoppedRun(std::move(run), std::move(writer));
            case SaveWay::Recovered:
                writer.reset();  // gone without Close, as in a kill
                dialogs.answers = {DialogResult::Yes, DialogResult::Yes};
                return archive.OfferRecovery(view).value_or(StoredRun{});
            case SaveWay::SavedAgain:
                writer->Close();
                EXPECT_TRUE(archive.SaveAgain(run));
                return run;
        }
        return run;
    }
};

TEST_P(TestNumberRecorded, InTheRunAndItsJournal) {
    Settings({{"Teste", "6"}});
    dialogs.saveFiles = {dir.File("Kelvaro_7.csv")};
    const StoredRun saved = Save();
    EXPECT_EQ(saved.heading.testNumber, 7);
    const std::vector<JournalSummary> journals = ListJournals(state.config.journalFolder);
    ASSERT_EQ(journals.size(), 1u);
    EXPECT_EQ(journals[0].description.testNumber, 7);
    EXPECT_NE(journals[0].description.state, JournalState::Open);
    EXPECT_EQ(dialogs.Last().text, "O exportação para o Excel foi concluída com sucesso");
}

INSTANTIATE_TEST_SUITE_P(Saves, TestNumberRecorded,
                         ::testing::Values(SavePath{"Stopped", SaveWay::Stopped},
                                           SavePath{"Recovered", SaveWay::Recovered},
                                           SavePath{"SavedAgain", SaveWay::SavedAgain}),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace kelvaro
