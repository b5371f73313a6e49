#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "CaseNames.h"
#include "KelvaroVersion.h"
#include "LayoutChecks.h"
#include "ScriptedDialogs.h"
#include "StationFakes.h"
#include "TempDir.h"
#include "app/ExportFolder.h"
#include "app/MainWindow.h"
#include "app/ProgressWindow.h"
#include "app/StationApplication.h"
#include "archive/TestFileWriter.h"
#include "chart/LoadChart.h"
#include "device/ChannelSlot.h"
#include "device/PlateCommands.h"
#include "device/SerialChannel.h"
#include "frequency/FrequencyScreen.h"
#include "journal/Journal.h"
#include "lab/LabConnection.h"
#include "library/LibraryStore.h"
#include "library/LibraryWindow.h"
#include "library/LibraryWorker.h"
#include "library/RunRecording.h"
#include "results/ResultsPanel.h"
#include "results/ResultsScreen.h"
#include "settings/SettingsStore.h"
#include "testinfo/RunInfoForm.h"
#include "ui/Panels.h"
#include "ui/PictureButton.h"

namespace kelvaro {
namespace {

using testing::PrintTo;

namespace fs = std::filesystem;

struct SwitchCase {
    const char* name;
    QStringList arguments;
    const char* environment;
    bool virtualPlates;
};

class VirtualPlatesSwitch : public ::testing::TestWithParam<SwitchCase> {};

// A demonstration is asked for, never assumed: only the option or a set variable turns it on.
TEST_P(VirtualPlatesSwitch, TurnsOnOnlyWhenAskedFor) {
    const SwitchCase& c = GetParam();
    EXPECT_EQ(StartedForVirtualPlates(c.arguments, c.environment), c.virtualPlates);
}

INSTANTIATE_TEST_SUITE_P(
    Starts, VirtualPlatesSwitch,
    ::testing::Values(SwitchCase{"Plain", {"kelvaro"}, nullptr, false},
                      SwitchCase{"Option", {"kelvaro", "--virtual-plates"}, nullptr, true},
                      SwitchCase{"ProgramNamedLikeTheOption", {"--virtual-plates"}, nullptr, false},
                      SwitchCase{"OtherOption", {"kelvaro", "--virtual"}, nullptr, false},
                      SwitchCase{"Variable", {"kelvaro"}, "1", true},
                      SwitchCase{"VariableZero", {"kelvaro"}, "0", false},
                      SwitchCase{"VariableEmpty", {"kelvaro"}, "", false}),
    [](const auto& param) { return std::string(param.param.name); });

class MainWindowTest : public ::testing::Test {
  protected:
    std::unique_ptr<MainWindow> Create() {
        return std::make_unique<MainWindow>(
            dialogs, MainWindowOptions{settingsPath, QString::fromStdString(programFolder), false,
                                       dir.File("journal")});
    }
    void Store(const std::vector<std::pair<const char*, const char*>>& values) {
        SettingsStore store(settingsPath);
        for (const auto& [key, value] : values) {
            store.WriteString(kSettingsSection, key, value);
        }
        ASSERT_TRUE(store.Close());
    }

    testing::TempDir dir;
    testing::ScriptedDialogs dialogs;
    std::string settingsPath = dir.File("Tovamu.Kelvaro.ini");
    std::string programFolder = dir.File("programa/bin");
};

TEST_F(MainWindowTest, LayoutHoldsTheStationsTexts) {
    auto window = Create();
    window->show();
    QApplication::processEvents();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("TOVAMU - Kelvaro [" KELVARO_VERSION "]"));
    EXPECT_EQ(window->titleLabel->text(), QStringLiteral("Principal"));
    EXPECT_EQ(window->sampleCountLabel->text(), QStringLiteral(" Amostras:"));
    EXPECT_EQ(window->startButton->text(), QStringLiteral(" Iniciar"));
    EXPECT_EQ(window->frequencyButton->text(), QStringLiteral("Frequência"));
    EXPECT_EQ(window->communicationButton->text(), QStringLiteral(" Comunicação"));
    EXPECT_EQ(window->calibrationButton->text(), QStringLiteral("Calibração"));
    EXPECT_EQ(window->closeButton->text(), QStringLiteral(" Fechar"));
    EXPECT_EQ(window->openButton->text(), QStringLiteral(" Abrir"));
    EXPECT_EQ(window->saveButton->text(), QStringLiteral(" Salvar"));
    EXPECT_FALSE(window->saveButton->isEnabled());  // nothing read back to save yet
    EXPECT_EQ(window->startButton->cursor().shape(), Qt::PointingHandCursor);
}

TEST_F(MainWindowTest, EverySizeKeepsTheButtonsInOrderAndTheChartTakesTheRoom) {
    auto window = Create();
    window->show();
    QApplication::processEvents();
    // The operator can shrink the window only as far as the screens are proven to fit.
    EXPECT_EQ(window->minimumSize(), testing::StationWindowSizes().front());
    EXPECT_THAT(testing::StationWindowSizes(), ::testing::Contains(window->size()));
    const QSize aroundTheChart = window->size() - window->loadChart->size();

    testing::AtEveryWindowSize(window.get(), [&] {
        testing::ExpectLeftToRight({window->startButton, window->frequencyButton,
                                    window->communicationButton, window->calibrationButton});
        testing::ExpectCentredIn(
            window->startButton->geometry().united(window->calibrationButton->geometry()),
            window->buttonBar);
        testing::ExpectInTopRightCorner(window->closeButton);
        testing::ExpectLeftToRight({window->openButton, window->saveButton,
                                    window->saveResultsButton, window->libraryButton,
                                    window->closeButton});
        testing::ExpectTopToBottom({window->topPanel, window->buttonBar, window->runInfoForm,
                                    window->sampleCountLabel, window->loadChart,
                                    window->resultsPanel, window->bottomBand});
        EXPECT_EQ(window->size() - window->loadChart->size(), aroundTheChart);
    });
}

// A run drawn shows its results: the total line by the plates' rule until the operator chooses
// (remembered for the next window), the stretch marked in the status line, and the table saved.
TEST_F(MainWindowTest, ARunDrawnShowsItsTotalStretchAndResults) {
    StoredRun run;
    run.heading = {7, 50, {}, {"kgf", "kgf", "kgf", "kgf"}};
    run.active = {true, false, true, false};
    run.loads.assign(100, LoadRecord{10.0, 0.0, 30.0, 0.0});
    auto window = Create();
    window->show();
    window->RunDrawn(run);
    EXPECT_EQ(window->loadChart->Points(kPlateCount + 1).size(), 100u);
    EXPECT_EQ(window->loadChart->Points(kPlateCount + 1)[0].y, 40.0);
    EXPECT_EQ(window->loadChart->LeftAxisMaximum(), 40.0);
    EXPECT_EQ(window->resultsPanel->table->model()->rowCount(), 3);
    window->SetStatusText(" Amostras: 100", false);
    emit window->loadChart->StretchMarked(11, 20);
    EXPECT_TRUE(window->sampleCountLabel->text().startsWith(
        QStringLiteral(" Amostras: 100  —  trecho: amostras 11 a 20 (0")))
        << window->sampleCountLabel->text().toStdString();
    window->resultsPanel->wholeRunButton->click();
    EXPECT_EQ(window->sampleCountLabel->text(), QStringLiteral(" Amostras: 100"));

    window->resultsPanel->totalCheck->click();
    EXPECT_TRUE(window->loadChart->Points(kPlateCount + 1).empty());
    EXPECT_EQ(window->loadChart->LeftAxisMaximum(), 30.0);  // the plates' alone again
    dialogs.saveFiles = {dir.File("results.csv")};
    window->OnSaveResultsClicked();
    ASSERT_EQ(dialogs.saveRequests.size(), 1u);
    EXPECT_EQ(dialogs.saveRequests[0].fileName, "Kelvaro_7_resultados");
    EXPECT_TRUE(std::filesystem::file_size(dir.File("results.csv")) > 0);
    window.reset();
    window = Create();
    window->RunDrawn(run);
    EXPECT_FALSE(window->resultsPanel->totalCheck->isChecked());  // the choice was kept
    EXPECT_TRUE(window->loadChart->Points(kPlateCount + 1).empty());
    window->resultsPanel->totalCheck->click();
    window->results->PrepareLive(run.active, run.heading.units);  // drawn live too
    EXPECT_EQ(window->loadChart->LiveSumSeries(), kPlateCount + 1);
    window->results->PrepareLive(run.active, {"kgf", "kgf", "N", "kgf"});  // no total in two units
    EXPECT_EQ(window->loadChart->LiveSumSeries(), 0);
}

// A run that ended reaches the library from its journal, off the window's thread, with its id,
// texts, number and the saved file's SHA-256; saved again, it stays one test; opened from the
// library window, it is drawn from the library's readings.
TEST_F(MainWindowTest, ARunThatEndedIsRecordedInTheLibraryFromItsJournal) {
    JournalDescription description;
    description.start = std::chrono::system_clock::now();
    description.frequency = 50;
    description.plates[1] = {true, "/dev/ttyUSB1", {1000, 2, 0}, "kgf"};
    description.runId = NewRunId();
    description.metadata = {"Joana", "Salto", "primeiro"};
    StoredRun run;
    {
        JournalWriter writer;
        ASSERT_TRUE(writer.Open(dir.File("journal"), description));
        const std::vector<RawRecord> records(300, RawRecord{0, 3000, 0, 0});
        writer.Append(records);
        writer.Close(7);
        run.path = writer.Path();
    }
    run.fromJournal = true;
    run.savedFile = dir.File("Kelvaro_7.csv");
    std::ofstream(run.savedFile) << "bytes of the saved test";
    auto window = Create();
    const auto recorded = [&] {
        std::promise<void> done;
        window->Library()->Post([&](LibraryStore&) { done.set_value(); });
        return done.get_future().wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    };
    window->RunFinished(run);
    window->RunFinished(run);
    ASSERT_TRUE(recorded());
    LibraryStore library;
    ASSERT_TRUE(library.Open(LibraryPathIn(dir.File("journal"))));
    const std::vector<LibraryEntry> entries = library.Search({});
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].runId, description.runId);
    EXPECT_EQ(entries[0].evaluated, "Joana");
    EXPECT_EQ(entries[0].testNumber, 7);
    EXPECT_EQ(entries[0].samples, 300);
    EXPECT_EQ(entries[0].totalPeak, 1000.0);
    const std::optional<StoredRunData> read = library.LoadRun(description.runId);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->fileSha256, Sha256Hex("bytes of the saved test"));
    EXPECT_TRUE(read->hasReadings);
    EXPECT_TRUE(dialogs.messages.empty());

    // Opened from the library window, it is drawn with its readings, ready to save again.
    QTimer::singleShot(0, [journals = dir.File("journal")] {
        auto* screen = qobject_cast<LibraryWindow*>(QApplication::activeModalWidget());
        ASSERT_NE(screen, nullptr);
        EXPECT_EQ(screen->rebuildSources.journalFolder, journals);
        EXPECT_FALSE(screen->rebuildSources.exportFolder.empty());
        for (int waited = 0; screen->Entries().empty() && waited < 3000; ++waited) {
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        screen->table->selectionModel()->select(
            screen->table->model()->index(0, 0),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        screen->openButton->click();
    });
    window->libraryButton->click();
    ASSERT_TRUE(window->ShownRun().has_value());
    EXPECT_EQ(window->ShownRun()->runId, description.runId);
    EXPECT_EQ(window->ShownRun()->heading.testNumber, 7);
    EXPECT_EQ(window->ShownRun()->loads.size(), 300u);
    EXPECT_FALSE(window->ShownRun()->fromJournal);
    EXPECT_TRUE(window->saveButton->isEnabled());
}

// A run whose journal could not be kept reaches the library through its saved file, with what it
// was about; one never saved has nothing the library could keep.
TEST_F(MainWindowTest, ARunWithoutAJournalIsRecordedFromItsSavedFile) {
    StoredRun run;
    run.heading = {9, 50, {"", "/dev/ttyUSB1", "", ""}, {"kgf", "kgf", "kgf", "kgf"}};
    run.active = {false, true, false, false};
    run.loads.assign(40, LoadRecord{0.0, 12.5, 0.0, 0.0});
    run.metadata = {"Rui", "CMJ", ""};
    auto window = Create();
    window->RunFinished(run);  // not saved
    run.savedFile = dir.File("Kelvaro_9.csv");
    testing::FakeProgress progress;
    ASSERT_TRUE(WriteTestFile(run.savedFile, run.heading, run.loads, ',', progress));
    window->RunFinished(run);
    std::promise<void> done;
    window->Library()->Post([&](LibraryStore&) { done.set_value(); });
    ASSERT_EQ(done.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);
    LibraryStore library;
    ASSERT_TRUE(library.Open(LibraryPathIn(dir.File("journal"))));
    const std::vector<LibraryEntry> entries = library.Search({});
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].testNumber, 9);
    EXPECT_EQ(entries[0].evaluated, "Rui");
    EXPECT_EQ(entries[0].samples, 40);
    EXPECT_TRUE(dialogs.messages.empty());
}

// With a lab server set, a saved test waits for it in the library's outbox, and the status line
// says so with why the last try failed: here a server that is not there at all.
TEST_F(MainWindowTest, ASavedTestWaitingForTheLabServerIsShownInTheStatusLine) {
    const std::string nowhere = dir.File("no-server");
    Store({{"ServidorEndereco", nowhere.c_str()}, {"ServidorUsuario", "estacao1"}});
    StoredRun run;
    run.heading = {3, 50, {"/dev/ttyUSB0", "", "", ""}, {"kgf", "kgf", "kgf", "kgf"}};
    run.active = {true, false, false, false};
    run.loads.assign(20, LoadRecord{4.0, 0.0, 0.0, 0.0});
    run.savedFile = dir.File("Kelvaro_3.csv");
    testing::FakeProgress progress;
    ASSERT_TRUE(WriteTestFile(run.savedFile, run.heading, run.loads, ',', progress));
    auto window = Create();
    window->RunFinished(run);
    const QString waiting = QStringLiteral("1 teste aguardando o servidor (%1)")
                                .arg(LabOutcomeWords(LabOutcome::Unreachable));
    QElapsedTimer waited;
    waited.start();
    while (!window->sampleCountLabel->text().contains(waiting) && waited.elapsed() < 60000) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    EXPECT_TRUE(window->sampleCountLabel->text().contains(waiting))
        << window->sampleCountLabel->text().toStdString();
}

TEST_F(MainWindowTest, FirstRunReadsFiftyEverywhereAndStartsWithNothingFound) {
    auto window = Create();
    const StationState& state = window->State();
    EXPECT_EQ(state.config.testFrequency, 50);
    EXPECT_EQ(state.config.calibrationFrequency, (std::array<std::int32_t, 4>{50, 50, 50, 50}));
    EXPECT_EQ(state.located, (std::array<bool, 4>{false, false, false, false}));
    EXPECT_EQ(state.config.settingsPath, settingsPath);
    EXPECT_FALSE(window->Progress().isVisible());
    EXPECT_EQ(window->Progress().Maximum(), 100);
    EXPECT_EQ(window->Progress().Position(), 0);
}

TEST_F(MainWindowTest, StoredFrequenciesAreReadAndBadOnesDefaultToFifty) {
    Store({{"Frequencia", "300"},
           {"frequenciap1", "600"},
           {"FrequenciaP2", "abc"},
           {"FrequenciaP3", "150"},
           {"FrequenciaP4", "2,5"}});
    auto window = Create();
    EXPECT_EQ(window->State().config.testFrequency, 300);
    EXPECT_EQ(window->State().config.calibrationFrequency,
              (std::array<std::int32_t, 4>{600, 50, 150, 50}));
}

TEST_F(MainWindowTest, ExportFolderIsCreatedWithItsMissingParents) {
    ASSERT_FALSE(fs::exists(programFolder));
    auto window = Create();
    const fs::path expected = fs::path(programFolder) / "Exportados";
    EXPECT_TRUE(fs::is_directory(expected));
    EXPECT_EQ(window->ExportFolder().toStdString(), expected.string());
}

TEST_F(MainWindowTest, ExistingExportFolderIsLeftAsItIs) {
    const fs::path folder = fs::path(programFolder) / "Exportados";
    fs::create_directories(folder);
    testing::WriteFileBytes((folder / "Kelvaro_1.csv").string(), "a;b\r\n");
    fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    const auto before = fs::status(folder).permissions();

    auto window = Create();

    EXPECT_EQ(window->ExportFolder().toStdString(), folder.string());
    EXPECT_EQ(testing::ReadFileBytes((folder / "Kelvaro_1.csv").string()), "a;b\r\n");
    EXPECT_EQ(fs::status(folder).permissions(), before);
}

// Runs with HOME pointing into the test's folder and restores it.
class ScopedHome {
  public:
    explicit ScopedHome(const std::string& home) {
        if (const char* old = std::getenv("HOME")) {
            old_ = old;
        }
        if (const char* old = std::getenv("XDG_CONFIG_HOME")) {
            oldConfig_ = old;
        }
        setenv("HOME", home.c_str(), 1);
        // No user-dirs.dirs there: the documents folder is HOME/Documents.
        setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
    }
    ~ScopedHome() {
        Restore("HOME", old_);
        Restore("XDG_CONFIG_HOME", oldConfig_);
    }

  private:
    static void Restore(const char* name, const std::optional<std::string>& value) {
        if (value) {
            setenv(name, value->c_str(), 1);
        } else {
            unsetenv(name);
        }
    }
    std::optional<std::string> old_;
    std::optional<std::string> oldConfig_;
};

TEST_F(MainWindowTest, UnusableProgramFolderFallsBackToThePerUserDocuments) {
    // A file where the program's folder should be: nothing can be created below it (this
    // holds even for root, unlike a read-only folder).
    testing::WriteFileBytes(dir.File("blocked"), "");
    const std::string home = dir.File("home");
    fs::create_directories(home);
    ScopedHome scopedHome(home);

    const QString chosen = PrepareExportFolder(QString::fromStdString(dir.File("blocked")));

    EXPECT_EQ(chosen.toStdString(), home + "/Documents/Kelvaro/Exportados");
    EXPECT_TRUE(fs::is_directory(chosen.toStdString()));
}

// A pseudo-terminal standing in for a plate: the station opens the device side, the test
// reads what reaches the plate from the other.
class PlateLine {
  public:
    PlateLine() {
        char name[256] = {};
        if (openpty(&master_, &slave_, name, nullptr, nullptr) == 0) {
            path_ = name;
        }
    }
    ~PlateLine() {
        if (slave_ >= 0) {
            close(slave_);
        }
        if (master_ >= 0) {
            close(master_);
        }
    }
    PlateLine(const PlateLine&) = delete;
    PlateLine& operator=(const PlateLine&) = delete;

    const std::string& Path() const { return path_; }
    std::vector<std::uint8_t> Received(int timeoutMs) {
        std::vector<std::uint8_t> bytes;
        pollfd pfd{master_, POLLIN, 0};
        while (poll(&pfd, 1, timeoutMs) > 0 && (pfd.revents & POLLIN) != 0) {
            std::uint8_t buffer[64];
            const ssize_t n = read(master_, buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            bytes.insert(bytes.end(), buffer, buffer + n);
            timeoutMs = 100;
        }
        return bytes;
    }

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

TEST_F(MainWindowTest, DestroyingTheWindowStopsEveryOpenPlate) {
    PlateLine plate2;
    PlateLine plate4;
    ASSERT_FALSE(plate2.Path().empty());
    auto window = Create();
    ASSERT_TRUE(OpenPlateChannel(window->State().links.Slot(2), plate2.Path(), 8192));
    ASSERT_TRUE(OpenPlateChannel(window->State().links.Slot(4), plate4.Path(), 8192));
    plate2.Received(50);  // whatever the open itself sent
    plate4.Received(50);

    window.reset();

    const std::vector<std::uint8_t> stop(kStop.bytes.begin(), kStop.bytes.end());
    EXPECT_EQ(plate2.Received(1000), stop);
    EXPECT_EQ(plate4.Received(1000), stop);
}

TEST_F(MainWindowTest, DestroyingEmptiesTheSlotsBeforeTheWindowGoes) {
    PlateLine plate1;
    auto window = Create();
    ASSERT_TRUE(OpenPlateChannel(window->State().links.Slot(1), plate1.Path(), 8192));
    window->OnDestroyed();
    EXPECT_FALSE(window->State().links.Slot(1));
    EXPECT_EQ(plate1.Received(1000),
              std::vector<std::uint8_t>(kStop.bytes.begin(), kStop.bytes.end()));
}

TEST_F(MainWindowTest, TestRunViewDrivesTheWindowsControls) {
    auto window = Create();
    window->show();

    window->EnableButtons(false);
    EXPECT_FALSE(window->calibrationButton->isEnabled());
    EXPECT_FALSE(window->communicationButton->isEnabled());
    EXPECT_FALSE(window->frequencyButton->isEnabled());
    EXPECT_FALSE(window->closeButton->isEnabled());
    EXPECT_FALSE(window->openButton->isEnabled());
    EXPECT_TRUE(window->startButton->isEnabled());
    window->EnableButtons(true);
    EXPECT_TRUE(window->closeButton->isEnabled());

    window->ShowRunState(RunState::Running);
    EXPECT_EQ(window->startButton->text(), QStringLiteral(" Parar"));
    EXPECT_EQ(window->startButton->Picture(), ButtonPicture::Stop);
    window->ShowRunState(RunState::Idle);
    EXPECT_EQ(window->startButton->text(), QStringLiteral(" Iniciar"));
    EXPECT_EQ(window->startButton->Picture(), ButtonPicture::Play);

    window->SetStatusText(" Amostras: 1500", true);
    EXPECT_EQ(window->sampleCountLabel->text(), QStringLiteral(" Amostras: 1500"));
    EXPECT_EQ(&window->Chart(), static_cast<ChartSink*>(window->loadChart));

    window->StartIdlePass();
    EXPECT_TRUE(window->IdlePassRunning());
    window->StopIdlePass();
    EXPECT_FALSE(window->IdlePassRunning());
}

// The information row offers the names and protocols of the recent runs (newest first, each
// once), gives the run what it holds, is shut while a run starts or goes on, and loses the name
// and notes, not the protocol, once a run is saved.
TEST_F(MainWindowTest, TheRunInfoRowOffersRecentTextsAndASaveClearsTheName) {
    for (const RunMetadata& said :
         {RunMetadata{"ana", "salto", ""}, RunMetadata{"Ana", "Salto", "1"},
          RunMetadata{"Bruno", "Corrida", "2"}}) {
        JournalDescription d;
        d.frequency = 600;
        d.metadata = said;
        JournalWriter writer;
        ASSERT_TRUE(writer.Open(dir.File("journal"), d));
        ASSERT_TRUE(writer.Close(0));
    }
    auto window = Create();
    RunInfoForm& form = *window->runInfoForm;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (form.protocolBox->count() == 0 && std::chrono::steady_clock::now() < giveUp) {
        QApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(form.evaluatedBox->count(), 2);
    EXPECT_EQ(form.evaluatedBox->itemText(1), QStringLiteral("Ana"));
    EXPECT_EQ(form.protocolBox->itemText(0), QStringLiteral("Corrida"));
    EXPECT_EQ(window->Metadata(), RunMetadata{});  // nothing chosen for the operator

    form.evaluatedBox->setEditText(QStringLiteral("Carla"));
    form.protocolBox->setCurrentIndex(1);
    form.notesEdit->setText(QStringLiteral("sem aquecimento"));
    EXPECT_EQ(window->Metadata(), (RunMetadata{"Carla", "Salto", "sem aquecimento"}));
    window->EnableButtons(false);
    EXPECT_FALSE(form.isEnabled());
    window->RunSaved(StoredRun{});
    EXPECT_EQ(window->Metadata(), (RunMetadata{"", "Salto", ""}));
    // The same once the run just ended is saved after a "Não" to the question.
    form.evaluatedBox->setEditText(QStringLiteral("Davi"));
    StoredRun ended;
    ended.heading = {0, 600, {}, {"N", "N", "N", "N"}};
    ended.active = {true, false, false, false};
    ended.loads.assign(5, LoadRecord{1.0, 0.0, 0.0, 0.0});
    ended.metadata = window->Metadata();
    window->RunFinished(ended);
    dialogs.saveFiles = {dir.File("Kelvaro_1.csv")};
    window->OnSaveClicked();
    EXPECT_EQ(window->Metadata(), (RunMetadata{"", "Salto", ""}));
}

TEST_F(MainWindowTest, CloseButtonClosesTheWindow) {
    auto window = Create();
    window->show();
    window->closeButton->click();
    EXPECT_FALSE(window->isVisible());
}

TEST_F(MainWindowTest, FrequencyButtonOpensTheScreenModallyInTheWindowsPlace) {
    Store({{"Frequencia", "100"}, {"freq2", "1"}, {"freq1", "0"}});
    auto window = Create();
    window->move(100, 50);
    window->resize(1100, 760);
    window->show();
    QApplication::processEvents();

    bool sawScreen = false;
    QTimer::singleShot(0, [&] {
        auto* screen = qobject_cast<FrequencyScreen*>(QApplication::activeModalWidget());
        ASSERT_NE(screen, nullptr);
        sawScreen = true;
        EXPECT_EQ(screen->windowTitle(),
                  QStringLiteral("TOVAMU - Kelvaro [" KELVARO_VERSION "] - Frequência"));
        EXPECT_EQ(screen->pos(), QPoint(100, 50));
        EXPECT_EQ(screen->size(), QSize(1100, 760));
        EXPECT_FALSE(window->isVisible());
        EXPECT_TRUE(screen->option100->isChecked());
        screen->option400->click();
        screen->move(120, 60);
        screen->backButton->click();
    });
    window->frequencyButton->click();

    EXPECT_TRUE(sawScreen);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->pos(), QPoint(120, 60));
    EXPECT_EQ(window->size(), QSize(1100, 760));
    SettingsStore store(settingsPath);
    EXPECT_EQ(store.ReadInteger(kSettingsSection, "Frequencia", 0), 400);
    EXPECT_TRUE(store.ReadBool(kSettingsSection, "freq6", false));
    // The screen lived only while it was open.
    for (QWidget* topLevel : QApplication::topLevelWidgets()) {
        EXPECT_EQ(qobject_cast<FrequencyScreen*>(topLevel), nullptr);
    }
}

}  // namespace
}  // namespace kelvaro

namespace kelvaro {
namespace {

TEST(ApplicationErrorReportTest, AnErrorLeavingAHandlerIsReportedAndHandled) {
    testing::ScriptedDialogs dialogs;
    const bool handled = DeliverReportingErrors(
        []() -> bool { throw std::runtime_error("Falha ao abrir a porta COM3"); }, &dialogs);
    EXPECT_TRUE(handled);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.Last().text, "Falha ao abrir a porta COM3.");
    EXPECT_EQ(dialogs.Last().title, kApplicationTitle);
    EXPECT_EQ(dialogs.Last().icon, DialogIcon::Error);
    EXPECT_FALSE(DeliverReportingErrors([] { return false; }, &dialogs));
    EXPECT_EQ(dialogs.messages.size(), 1u);
}

}  // namespace
}  // namespace kelvaro
