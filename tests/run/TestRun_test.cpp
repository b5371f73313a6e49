// The test run against virtual plates: start-up order and failures, the idle acquisition with
// its stop conditions, stream faults, and the conversion and drawing after the stop.
#include "run/TestRun.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "CaseNames.h"
#include "FakeTestRunView.h"
#include "ScriptedDialogs.h"
#include "TempDir.h"
#include "device/ChannelSlot.h"
#include "device/PlateCommands.h"
#include "device/SerialChannel.h"
#include "journal/Journal.h"
#include "plate-sim/VirtualPlate.h"
#include "settings/SettingsStore.h"

namespace kelvaro {
namespace {

using testing::PrintTo;

using testing::FakeView;
using Setting = std::pair<std::string, std::string>;

std::uint64_t RequestCount(const sim::VirtualPlate& plate) {
    std::uint64_t total = 0;
    for (auto n : plate.Stats().requests) {
        total += n;
    }
    return total;
}

class TestRunTest : public ::testing::Test {
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

    // A virtual plate on plate n's port, selected for the test.
    sim::VirtualPlate& Plate(int n, sim::PlateOptions options = {}) {
        auto& plate = plates.at(static_cast<std::size_t>(n - 1));
        plate = std::make_unique<sim::VirtualPlate>(options);
        EXPECT_TRUE(plate->Ok());
        Settings({{"Porta" + std::to_string(n), plate->DevicePath()},
                  {"check" + std::to_string(n), "1"}});
        return *plate;
    }
    std::string Port(int n) { return plates.at(static_cast<std::size_t>(n - 1))->DevicePath(); }

    // The start button, and the start-up's timer steps until the run is on or refused.
    void ClickStart() {
        run.OnStartClicked();
        view.FinishStartUp(run);
    }
    // Drives the idle pass as the event loop would; returns the number of passes.
    int RunPasses(int limit) {
        int passes = 0;
        while (view.idle && passes < limit) {
            run.ReadSamples();
            ++passes;
        }
        return passes;
    }
    // A plate's reading as acquired (kMissingReading: none came), and its load after the stop.
    std::uint32_t Sample(int record, int plate) const {
        return run.Samples()
            .Raw()[static_cast<std::size_t>(record)][static_cast<std::size_t>(plate - 1)];
    }
    double Load(int record, int plate) const {
        return run.Samples()
            .Loads()[static_cast<std::size_t>(record)][static_cast<std::size_t>(plate - 1)];
    }

    kelvaro::testing::TempDir dir;
    std::array<std::unique_ptr<sim::VirtualPlate>, kPlateCount> plates;
    StationState state;  // after the plates: its channels close before they go
    kelvaro::testing::ScriptedDialogs dialogs;
    FakeView view;
    kelvaro::testing::FakeProgress progress;
    RunArchive archive{state, dialogs, progress, dir.File("Exportados")};
    TestRun run{state, dialogs, view, archive};
};

TEST_F(TestRunTest, OnlyActivePlatesStartInOrderAndAStopClosesThem) {
    sim::PlateOptions script;
    script.shape = sim::LoadShape::Script;
    script.readings = {3000};
    Plate(1, script);
    plates[1] = std::make_unique<sim::VirtualPlate>();
    Plate(3);
    plates[3] = std::make_unique<sim::VirtualPlate>();
    Settings({{"sp1", "1000"}, {"idc1", "2"}, {"t1", "5"}});

    ClickStart();
    const std::vector<std::pair<std::string, bool>> startLabels{
        {" Aguarde Conectando a Placa 1 ...", true},
        {" Aguarde Identificando a Placa 1 ...", true},
        {" Aguarde Configurando a Placa 1 ...", true},
        {" Aguarde Conectando a Placa 3 ...", true},
        {" Aguarde Identificando a Placa 3 ...", true},
        {" Aguarde Configurando a Placa 3 ...", true},
        {" ...", false},
        {" Aguarde Iniciando dispositivos ...", true}};
    EXPECT_EQ(view.labels, startLabels);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "Clique em OK para Inicar o Teste!");
    EXPECT_EQ(dialogs.messages[0].title, "Kelvaro - Iniciar");
    EXPECT_EQ(dialogs.messages[0].buttons, DialogButtons::OkCancel);
    EXPECT_EQ(dialogs.messages[0].icon, DialogIcon::Information);
    EXPECT_EQ(view.shown, RunState::Running);
    EXPECT_TRUE(view.idle);
    EXPECT_TRUE(run.IsRunning());
    EXPECT_EQ(view.buttons, std::vector<bool>{false});
    EXPECT_EQ(RequestCount(*plates[1]), 0u);
    EXPECT_EQ(RequestCount(*plates[3]), 0u);
    for (int n : {1, 3}) {
        const auto stats = plates[static_cast<std::size_t>(n - 1)]->Stats();
        EXPECT_EQ(stats.requests[kFnIdentify], 1u) << n;
        EXPECT_EQ(stats.requests[kFnConfigure], 1u) << n;
        EXPECT_EQ(stats.requests[kFnStartStream], 1u) << n;
        EXPECT_EQ(stats.configuredMode, kModeTest) << n;
        EXPECT_EQ(stats.configuredFrequency, 50) << n;
        EXPECT_TRUE(stats.streaming) << n;
    }

    EXPECT_EQ(state.links.Links(),
              (std::array<PlateLink, 4>{PlateLink::Streaming, PlateLink::Closed,
                                        PlateLink::Streaming, PlateLink::Closed}));
    // Live, the chart reads the store's loads, converted as each pass appends its row.
    EXPECT_EQ(view.liveChart.calls, std::vector<std::string>{"begin"});
    EXPECT_EQ(view.liveChart.active, (std::array<bool, 4>{true, false, true, false}));
    run.ReadSamples();
    run.ReadSamples();
    EXPECT_EQ(run.Samples().Loads().size(), 2u);
    ASSERT_TRUE(view.liveChart.loadsSoFar);
    EXPECT_EQ(view.liveChart.loadsSoFar().size(), 2u);
    EXPECT_EQ(view.liveChart.loadsSoFar()[1], (LoadRecord{995.0, 0.0, 8388608.0, 0.0}));
    view.escapeAtCheck = 5;
    std::size_t questionsBeforeResults = 99;
    view.drawn = [&](const StoredRun& drawn) {
        questionsBeforeResults = dialogs.messages.size();
        EXPECT_EQ(drawn.loads.size(), 5u);
        EXPECT_EQ(drawn.heading.frequency, 50);
    };
    EXPECT_EQ(RunPasses(100), 3);
    EXPECT_EQ(questionsBeforeResults, 1u);  // the start's only: the results come before the save
    EXPECT_EQ(view.liveChart.calls, (std::vector<std::string>{"begin", "end"}));
    EXPECT_EQ(view.labels.back(), std::make_pair(std::string(" Amostras: 5"), false));
    EXPECT_EQ(view.shown, RunState::Idle);
    EXPECT_EQ(view.buttons, (std::vector<bool>{false, true}));
    EXPECT_FALSE(run.IsRunning());
    for (int n : {1, 3}) {
        EXPECT_FALSE(state.links.Slot(n)) << n;
        EXPECT_EQ(state.links.Link(n), PlateLink::Closed) << n;
        // Two Stops: the start-up's own before its Identify, then the close's; no third.
        const auto& plate = *plates[static_cast<std::size_t>(n - 1)];
        EXPECT_TRUE(plate.WaitForRequests(kFnStop, 2, 1000)) << n;
        EXPECT_FALSE(plate.WaitForRequests(kFnStop, 3, 300)) << n;
    }
    EXPECT_EQ(RequestCount(*plates[1]) + RequestCount(*plates[3]), 0u);
    ASSERT_EQ(run.Samples().Loads().size(), 5u);
    for (int record = 0; record < 5; ++record) {
        EXPECT_EQ(Load(record, 1), 995.0);  // ((3000 - 1000) / 2) - 5
        EXPECT_EQ(Load(record, 2), 0.0);
        EXPECT_EQ(Load(record, 3), 8388608.0);  // uncalibrated: raw counts
        EXPECT_EQ(Load(record, 4), 0.0);
        EXPECT_EQ(Sample(record, 1), 3000.0);  // the readings stay as acquired
    }
    ASSERT_EQ(view.chart.series[0].size(), 5u);
    EXPECT_EQ(view.chart.series[0][4].x, 5.0);
    EXPECT_EQ(view.chart.series[0][4].y, 995.0);
    EXPECT_TRUE(view.chart.series[1].empty());
    EXPECT_EQ(view.chart.inLegend, (std::array<bool, 4>{true, false, true, false}));
    EXPECT_EQ(view.chart.titles[3], "Placa 4: ");
    EXPECT_EQ(dialogs.Last().text, "Deseja salvar o teste?");
}

// Start-up failures: the screen returns to idle, later plates are not touched, and the report
// follows the full-stop rule.
TEST_F(TestRunTest, SilentPlateThreeEndsTheStartUpBeforePlateFour) {
    Plate(1);
    Plate(2);
    Plate(3).Inject({sim::FaultKind::Silence, 0});
    Plate(4);

    ClickStart();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "Falha ao Identificar a Placa 3: " + Port(3) + ".");
    EXPECT_EQ(dialogs.messages[0].title, kApplicationTitle);
    EXPECT_EQ(dialogs.messages[0].icon, DialogIcon::Error);
    EXPECT_EQ(view.labels.back(), std::make_pair(std::string(" ..."), false));
    EXPECT_EQ(view.buttons, (std::vector<bool>{false, true}));
    EXPECT_EQ(view.shown, RunState::Idle);
    EXPECT_FALSE(view.idle);
    EXPECT_EQ(RequestCount(*plates[3]), 0u);
    EXPECT_EQ(plates[0]->ConfiguredMode(), kModeTest);
    EXPECT_EQ(plates[1]->ConfiguredMode(), kModeTest);
    EXPECT_EQ(state.links.Link(3), PlateLink::Open);
}

// The start-up goes on in timer steps while a silent plate is waited for (Stop, quiet line and
// Identify take over a second); the start button starts nothing more, and the close box ends it.
TEST_F(TestRunTest, StartUpGoesOnInStepsAndTheCloseBoxEndsIt) {
    Plate(1);
    Plate(2).Inject({sim::FaultKind::Silence, 0});
    run.OnStartClicked();
    run.OnStartClicked();  // starts nothing more
    const auto identifyingTwo =
        std::make_pair(std::string(" Aguarde Identificando a Placa 2 ..."), true);
    view.FinishStartUp(run, [&] { return view.labels.back() == identifyingTwo; });
    ASSERT_EQ(view.labels.back(), identifyingTwo);
    const int reached = view.startUpSteps;
    view.FinishStartUp(run, [&] { return view.startUpSteps == reached + 20; });
    EXPECT_EQ(view.startUpSteps, reached + 20);
    EXPECT_TRUE(run.IsStartingUp());
    run.CancelStartUp();
    view.FinishStartUp(run);
    EXPECT_FALSE(run.IsStartingUp() || run.IsRunning());
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(view.labels.back(), std::make_pair(std::string(" ..."), false));
    EXPECT_FALSE(state.links.Slot(1) || state.links.Slot(2));
    EXPECT_TRUE(plates[0]->WaitForRequests(kFnStop, 2, 1000));  // the start-up's, the close's
}

TEST_F(TestRunTest, PlateCalibratedAtAnotherFrequencyFailsAfterIdentify) {
    Plate(2);
    Settings({{"Frequencia", "200"}, {"FrequenciaP2", "100"}});

    ClickStart();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text,
              "A Frequencia (100 Hz) utilizada na Calibração da Placa 2\r"
              "é diferente da Frequencia (200) selecionada para o teste!\r"
              "Calibre novamente a Placa 2 com a Frequencia desejada.");
    EXPECT_EQ(plates[1]->Stats().requests[kFnIdentify], 1u);
    EXPECT_EQ(plates[1]->Stats().requests[kFnConfigure], 0u);
}

TEST_F(TestRunTest, EmptyPortFailsToConnectWithoutFullStop) {
    Settings({{"check1", "1"}});
    ClickStart();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "Falha ao Conectar a Placa 1: ");
    EXPECT_EQ(view.buttons, (std::vector<bool>{false, true}));
}

// A plate that refuses the stream: the plates already streaming are stopped and closed, and
// the screen goes back to idle with the buttons enabled.
TEST_F(TestRunTest, FailedStreamStartStopsThePlatesAlreadyStarted) {
    Plate(1);
    Plate(2);
    dialogs.onMessage = [&](const kelvaro::testing::RecordedMessage& m) {
        if (m.buttons == DialogButtons::OkCancel) {
            plates[1]->Inject({sim::FaultKind::ErrorReply, 1, 0, 0x07});
        }
    };

    ClickStart();
    EXPECT_EQ(dialogs.Last().text, "Falha ao Iniciar a Placa 2: " + Port(2) + ".");
    EXPECT_TRUE(plates[0]->WaitForRequests(kFnStop, 2, 1000));
    EXPECT_FALSE(plates[0]->Streaming());
    EXPECT_FALSE(state.links.Slot(1));
    EXPECT_FALSE(state.links.Slot(2));
    EXPECT_EQ(view.labels.back(), std::make_pair(std::string(" ..."), false));
    EXPECT_EQ(view.buttons, (std::vector<bool>{false, true}));
    EXPECT_EQ(view.shown, RunState::Idle);
    EXPECT_FALSE(view.idle);
}

TEST_F(TestRunTest, CancelClosesTheChannelsAndStillOffersTheSave) {
    Plate(1);
    dialogs.answers = {DialogResult::Cancel};

    ClickStart();
    EXPECT_FALSE(state.links.Slot(1));
    EXPECT_TRUE(plates[0]->WaitForRequests(kFnStop, 2, 1000));
    EXPECT_EQ(plates[0]->Stats().requests[kFnStartStream], 0u);
    EXPECT_EQ(dialogs.Texts(), (std::vector<std::string>{"Clique em OK para Inicar o Teste!",
                                                         "Deseja salvar o teste?"}));
    EXPECT_EQ(view.buttons, (std::vector<bool>{false, true}));
    EXPECT_FALSE(view.idle);
    EXPECT_EQ(view.shown, RunState::Idle);
}

TEST_F(TestRunTest, WithoutActivePlatesTheRunStopsItselfAtTheLastRecord) {
    ClickStart();
    ASSERT_TRUE(view.idle);
    EXPECT_EQ(RunPasses(kMaxSamples + 10), kMaxSamples);
    EXPECT_EQ(run.Samples().Count(), kMaxSamples);
    EXPECT_EQ(view.labels.back(), std::make_pair(std::string(" Amostras: 144000"), false));
    EXPECT_EQ(view.shown, RunState::Idle);
    EXPECT_EQ(view.chart.axisMax, 0.0);
    EXPECT_EQ(view.chart.axisMin, 0.0);
    for (const auto& call : view.chart.calls) {
        EXPECT_NE(call.rfind("points", 0), 0u) << call;
    }
    EXPECT_EQ(dialogs.Last().text, "Deseja salvar o teste?");
}

class StreamingTest : public TestRunTest {
  protected:
    void StartCounters(std::initializer_list<int> plateNumbers) {
        sim::PlateOptions counter;
        counter.shape = sim::LoadShape::Counter;
        for (int n : plateNumbers) {
            Plate(n, counter);
            Settings({{"FrequenciaP" + std::to_string(n), "600"}});
        }
        Settings({{"Frequencia", "600"}});
        ClickStart();
        ASSERT_TRUE(view.idle);
    }
};

TEST_F(StreamingTest, CounterPlatesDeliverEverySampleInOrder) {
    view.metadata = {std::string(101, 'a'), "Salto", "dor no joelho \xF0\x9F\xA6\xB5"};
    StartCounters({1, 2});
    view.metadata = {};  // the form is read once, at the start
    view.escapeAtCheck = 600;
    EXPECT_EQ(RunPasses(1000), 600);
    for (int plate : {1, 2}) {
        for (int record = 1; record < 600; ++record) {
            ASSERT_EQ(Sample(record, plate), Sample(record - 1, plate) + 1)
                << "plate " << plate << " record " << record;
        }
    }
    // Declined at the save question, the run stays in its journal, reading for reading.
    EXPECT_EQ(dialogs.Last().text, "Deseja salvar o teste?");
    const std::vector<JournalSummary> journals = ListJournals(state.config.journalFolder);
    ASSERT_EQ(journals.size(), 1u);
    JournalContents journal;
    ASSERT_TRUE(ReadJournal(journals[0].path, journal));
    EXPECT_EQ(journal.description.state, JournalState::Closed);
    EXPECT_EQ(journal.description.testNumber, 0);
    EXPECT_EQ(journal.description.plates[0].port, Port(1));
    EXPECT_EQ(journal.description.plates[2].active, false);
    EXPECT_EQ(journal.description.plates[1].unit, "un.");
    const RunMetadata kept{std::string(100, 'a'), "Salto", "dor no joelho \xF0\x9F\xA6\xB5"};
    EXPECT_EQ(journal.description.metadata, kept);
    EXPECT_FALSE(IsNullRunId(journal.description.runId));
    ASSERT_EQ(journal.records.size(), 600u);
    for (int record = 0; record < 600; ++record) {
        for (int plate : {1, 2, 3, 4}) {
            ASSERT_EQ(journal.records[static_cast<std::size_t>(record)]
                                     [static_cast<std::size_t>(plate - 1)],
                      Sample(record, plate))
                << "plate " << plate << " record " << record;
        }
    }
    // And the window is handed the run to save later, with the units it started with.
    ASSERT_TRUE(view.finished.has_value());
    EXPECT_EQ(view.finished->path, journals[0].path);
    EXPECT_EQ(view.finished->heading.testNumber, 0);
    EXPECT_EQ(view.finished->heading.units[1], "un.");
    EXPECT_EQ(view.finished->runId, journal.description.runId);
    EXPECT_EQ(view.finished->metadata, kept);
    EXPECT_TRUE(view.saved.empty());  // declined: the form keeps what it holds
    EXPECT_TRUE(std::equal(view.finished->loads.begin(), view.finished->loads.end(),
                           run.Samples().Loads().begin(), run.Samples().Loads().end()));
}

// A journal that fails costs the run nothing: every reading is taken exactly as the plates sent
// it, the save holds the same bytes as the same run with a sound journal, and the operator hears
// why the journal stopped once, after the save.
struct JournalFault {
    const char* name;
    // Passes taken before the journal's disk fills; 0: its folder cannot be made at the start.
    int fullAfter;
    const char* told;  // how the report after the save begins
};

class JournalFaultTest : public StreamingTest, public ::testing::WithParamInterface<JournalFault> {
  protected:
    static constexpr int kSamples = 600;

    // The file size limit fails the journal's writes with EFBIG where a full disk gives ENOSPC;
    // both take the same path. The station ignores SIGXFSZ, as the test does while the limit
    // is low.
    class FileSizeLimit {
      public:
        FileSizeLimit() : handler_(signal(SIGXFSZ, SIG_IGN)) { getrlimit(RLIMIT_FSIZE, &old_); }
        ~FileSizeLimit() {
            Raise();
            signal(SIGXFSZ, handler_);
        }
        FileSizeLimit(const FileSizeLimit&) = delete;
        FileSizeLimit& operator=(const FileSizeLimit&) = delete;
        bool Lower(rlim_t bytes) {
            rlimit low = old_;
            low.rlim_cur = bytes;
            return setrlimit(RLIMIT_FSIZE, &low) == 0;
        }
        // Back up to the hard limit at most, which needs no privilege.
        void Raise() { setrlimit(RLIMIT_FSIZE, &old_); }

      private:
        rlimit old_{};
        sighandler_t handler_;
    };

    // A run of kSamples from plates 1 and 2 counting from 0, saved as `path` under test 1.
    void StartSavedRun(const std::string& path) {
        sim::PlateOptions counter;
        counter.shape = sim::LoadShape::Counter;
        for (int n : {1, 2}) {
            if (auto& plate = plates.at(static_cast<std::size_t>(n - 1))) {
                plate->SetShape(sim::LoadShape::Counter);  // counts from 0 again
            } else {
                Plate(n, counter);
                Settings({{"FrequenciaP" + std::to_string(n), "600"}});
            }
        }
        Settings({{"Frequencia", "600"}, {"Teste", "0"}});
        dialogs.messages.clear();
        dialogs.answers = {DialogResult::Ok, DialogResult::Yes};
        dialogs.saveFiles = {path};
        ClickStart();
        ASSERT_TRUE(view.idle) << dialogs.Last().text;
        view.escapeAtCheck = view.escapeChecks + kSamples;
    }
};

TEST_P(JournalFaultTest, CostsTheRunAndItsSaveNothing) {
    const JournalFault& c = GetParam();
    const std::string sound = dir.File("sound.csv");
    ASSERT_NO_FATAL_FAILURE(StartSavedRun(sound));
    ASSERT_EQ(RunPasses(kSamples + 10), kSamples);
    ASSERT_EQ(dialogs.Texts().size(), 3u) << dialogs.Last().text;

    FileSizeLimit limit;
    if (c.fullAfter == 0) {
        std::ofstream(dir.File("file")) << "x";
        state.config.journalFolder = dir.File("file/journal");
    } else {
        // The journal's disk is often not the export's (the state folder against a pen drive or
        // a shared folder): room comes back for the save.
        dialogs.onMessage = [&](const testing::RecordedMessage& m) {
            if (m.text == "Deseja salvar o teste?") {
                limit.Raise();
            }
        };
    }
    const std::string faulty = dir.File("faulty.csv");
    // What the run is about goes to its journal, never to its test file.
    view.metadata = {"João Conceição", "Salto", "Observações"};
    ASSERT_NO_FATAL_FAILURE(StartSavedRun(faulty));
    RunPasses(c.fullAfter);
    // Room for the 16384-byte header, the records taken so far and half of the next 16-byte one.
    ASSERT_TRUE(c.fullAfter == 0 || limit.Lower(16384 + 16 * c.fullAfter + 8));
    RunPasses(kSamples + 10);
    dialogs.onMessage = nullptr;

    ASSERT_EQ(run.Samples().Count(), kSamples);
    for (int plate : {1, 2}) {
        for (int record = 0; record < kSamples; ++record) {
            ASSERT_EQ(Sample(record, plate), record) << "plate " << plate;
        }
    }
    EXPECT_EQ(testing::ReadFileBytes(faulty), testing::ReadFileBytes(sound));
    EXPECT_EQ(view.saved, (std::vector<std::int64_t>{1, 1}));
    const std::vector<std::string> texts = dialogs.Texts();
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts[1], "Deseja salvar o teste?");
    EXPECT_EQ(texts[2], "O exportação para o Excel foi concluída com sucesso");
    EXPECT_TRUE(texts[3].starts_with(c.told)) << texts[3];
    EXPECT_EQ(dialogs.Last().icon, DialogIcon::Error);
    if (c.fullAfter > 0) {
        // What the disk took stays, marked as cut short, for the recent list.
        const std::vector<JournalSummary> journals = ListJournals(state.config.journalFolder);
        ASSERT_EQ(journals.size(), 2u);
        EXPECT_EQ(journals[0].description.state, JournalState::Stopped);
        EXPECT_EQ(journals[0].sampleCount, static_cast<std::uint64_t>(c.fullAfter));
        EXPECT_EQ(journals[0].description.metadata, view.metadata);
        EXPECT_EQ(texts[3], std::string(c.told) + journals[0].path + ").");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, JournalFaultTest,
    ::testing::Values(JournalFault{"FolderCannotBeMade", 0, "O diário do teste não foi criado: "},
                      JournalFault{"DiskFullMidRun", 300,
                                   "O diário do teste parou: arquivo grande demais ("}),
    [](const auto& param) { return std::string(param.param.name); });

// A journal folder others may write in: a crashed run planted there is not offered, the operator
// is told once at the start, and the next run makes no journal there and says nothing more.
TEST_F(StreamingTest, AJournalFolderOthersMayWriteInIsNamedOnceAndNeverUsed) {
    JournalDescription planted;
    planted.start = std::chrono::system_clock::now();
    planted.frequency = 600;
    planted.plates[0] = {true, "/dev/ttyUSB0", {0, 1, 0}, "kgf"};
    ASSERT_TRUE(JournalWriter().Open(state.config.journalFolder, planted));  // gone as in a kill
    ASSERT_EQ(chmod(state.config.journalFolder.c_str(), 0777), 0);
    EXPECT_FALSE(archive.OfferRecovery(view).has_value());
    EXPECT_THAT(dialogs.Texts(),
                ::testing::ElementsAre(::testing::StartsWith(
                    "A pasta dos diários " + state.config.journalFolder + " não é só sua")));

    dialogs.messages.clear();
    StartCounters({1});
    view.escapeAtCheck = view.escapeChecks + 60;
    RunPasses(100);
    EXPECT_EQ(dialogs.Texts(), (std::vector<std::string>{"Clique em OK para Inicar o Teste!",
                                                         "Deseja salvar o teste?"}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(state.config.journalFolder), {}),
              1);
}

// A station that died during a run (a crash, a kill) let go of its port without a Stop: the
// plate streams on, and the next start-up must take it back rather than fail to identify or
// configure it. The plate takes 20 ms to answer, so its reports line up behind each answer.
TEST_F(StreamingTest, PlateLeftStreamingIsTakenBackByTheNextStartUp) {
    sim::PlateOptions counter;
    counter.shape = sim::LoadShape::Counter;
    Plate(1, counter);
    Settings({{"Frequencia", "600"}, {"FrequenciaP1", "600"}});
    {
        ChannelSlot lost;
        ASSERT_TRUE(OpenPlateChannel(lost, Port(1), 8192));
        ASSERT_TRUE(ConfigurePlate(*lost, 600, kModeTest));
        ASSERT_TRUE(StartPlateStream(*lost));
        lost->Release();
    }
    plates[0]->Inject({sim::FaultKind::LateReply, 0, 0, 0, 20});

    ClickStart();
    ASSERT_TRUE(view.idle) << dialogs.Last().text;
    view.escapeAtCheck = 300;
    EXPECT_EQ(RunPasses(1000), 300);
    for (int record = 1; record < 300; ++record) {
        ASSERT_EQ(Sample(record, 1), Sample(record - 1, 1) + 1) << "record " << record;
    }
}

// A busy machine starves the station and the plates simulated beside it together: for 600 ms
// no pass runs and no report is sent; then the pass comes back a moment before the first report.
// The time the station was away is no silence of the plate, which is not lost.
TEST_F(StreamingTest, AStationAwayLongerThanTheSilenceLimitLosesNoPlate) {
    StartCounters({1, 2});
    ASSERT_EQ(RunPasses(100), 100);
    plates[0]->Inject({sim::FaultKind::Silence, 0});
    plates[1]->Inject({sim::FaultKind::Silence, 0});
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    plates[0]->ClearFaults();
    plates[1]->ClearFaults();
    view.escapeAtCheck = view.escapeChecks + 200;
    EXPECT_EQ(RunPasses(1000), 200);  // a plate called lost would have ended it
    for (int plate : {1, 2}) {
        for (int record = 1; record < run.Samples().Count(); ++record) {
            ASSERT_EQ(Sample(record, plate), Sample(record - 1, plate) + 1)
                << "plate " << plate << " record " << record;
        }
    }
}

TEST_F(StreamingTest, DroppedByteCostsExactlyOneSample) {
    StartCounters({1});
    ASSERT_EQ(RunPasses(100), 100);
    plates[0]->Inject({sim::FaultKind::DropByte, 1, 3});
    view.escapeAtCheck = 300;  // 200 more passes
    RunPasses(1000);
    ASSERT_EQ(run.Samples().Count(), 300);

    std::vector<int> breaks;
    for (int record = 1; record < 300; ++record) {
        if (Sample(record, 1) != Sample(record - 1, 1) + 1) {
            breaks.push_back(record);
        }
    }
    // One missing reading where the damaged frame was, no load made of it; both neighbours
    // intact, one reading skipped.
    ASSERT_EQ(breaks.size(), 2u);
    const auto z = static_cast<int>(breaks[0]);
    EXPECT_EQ(breaks[1], z + 1);
    EXPECT_EQ(Sample(z, 1), kMissingReading);
    EXPECT_EQ(Sample(z + 1, 1), Sample(z - 1, 1) + 2);
    run.DrawChart();
    EXPECT_TRUE(std::isnan(Load(z, 1)));
    // Missing in the journal too, read back (" Abrir", a recovery) as such; the counter's first
    // reading, a genuine 0, stays a load.
    StoredRun stored;
    ASSERT_TRUE(ReadJournalRun(ListJournals(state.config.journalFolder).at(0).path, stored));
    EXPECT_TRUE(std::isnan(stored.loads.at(static_cast<std::size_t>(z))[0]));
    EXPECT_EQ(stored.loads.at(0)[0], 0.0);
}

// Conversion and drawing, straight on the sample store: the loads are drawn, the readings stay.
struct DrawingCase {
    const char* name;
    std::vector<Setting> settings;
    std::array<bool, 4> active;
    std::vector<RawRecord> raw;
    std::vector<LoadRecord> converted;
    double axisMax;
    double axisMin;
};

class DrawingTest : public TestRunTest, public ::testing::WithParamInterface<DrawingCase> {};

TEST_P(DrawingTest, ConvertsAndSpansZero) {
    const DrawingCase& c = GetParam();
    Settings(c.settings);
    state.config.plateActive = c.active;
    for (const RawRecord& record : c.raw) {
        run.Samples().Append(record);
    }

    ASSERT_TRUE(run.ReadCalibration());
    run.DrawChart();
    EXPECT_TRUE(dialogs.messages.empty());
    ASSERT_EQ(run.Samples().Loads().size(), c.converted.size());
    for (std::size_t r = 0; r < c.converted.size(); ++r) {
        EXPECT_THAT(run.Samples().Loads()[r],
                    ::testing::Pointwise(::testing::NanSensitiveDoubleNear(0), c.converted[r]))
            << "record " << r;
        EXPECT_EQ(run.Samples().Raw()[r], c.raw[r]) << "record " << r;
    }
    EXPECT_EQ(view.chart.axisMax, c.axisMax);
    EXPECT_EQ(view.chart.axisMin, c.axisMin);
    EXPECT_TRUE(view.chart.legendVisible);
    for (std::size_t p = 0; p < 4; ++p) {
        EXPECT_EQ(view.chart.series[p].size(), c.active[p] ? c.raw.size() : 0u) << p;
        EXPECT_EQ(view.chart.inLegend[p], c.active[p]) << p;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DrawingTest,
    ::testing::Values(DrawingCase{"positive",
                                  {{"sp1", "1000"}, {"idc1", "2"}, {"t1", "5"}},
                                  {true, false, false, false},
                                  {{3000, 0, 0, 0}, {1010, 0, 0, 0}},
                                  {{995, 0, 0, 0}, {0, 0, 0, 0}},
                                  995,
                                  0},
                      DrawingCase{"negative",
                                  {{"sp2", "5000"}, {"idc2", "0,5"}, {"sp3", "100"}},
                                  {false, true, true, false},
                                  {{0, 4000, 50, 0}, {0, 3000, 99, 0}},
                                  {{0, -2000, -50, 0}, {0, -4000, -1, 0}},
                                  0,
                                  -4000},
                      // A reading not delivered is no load, not even for the axis; a raw 0 (the
                      // bottom of the range) is a reading like any other.
                      DrawingCase{"missing reading",
                                  {{"sp1", "100"}, {"sp2", "100"}},
                                  {true, true, false, false},
                                  {{150, 150, 0, 0}, {kMissingReading, 150, 0, 0}, {150, 0, 0, 0}},
                                  {{50, 50, 0, 0}, {std::nan(""), 50, 0, 0}, {50, -100, 0, 0}},
                                  50,
                                  -100},
                      DrawingCase{"zero index of an idle plate is not used",
                                  {{"idc4", "0"}, {"t1", "-1,5"}},
                                  {true, false, false, false},
                                  {{1, 0, 0, 0}},
                                  {{2.5, 0, 0, 0}},
                                  2.5,
                                  0}),
    [](const auto& param) {
        std::string name = param.param.name;
        std::replace(name.begin(), name.end(), ' ', '_');
        return name;
    });

// Values that would make the run impossible to convert or save, and devices the station does
// not know: the start-up is refused before any plate streams, naming the plate and the value.
struct StartRefusal {
    const char* name;
    int plate;
    std::vector<Setting> settings;
    std::uint8_t model;
    std::string report;  // "PORT" stands for the plate's port
    std::uint64_t identifyRequests;
};

class StartRefusalTest : public TestRunTest, public ::testing::WithParamInterface<StartRefusal> {};

TEST_P(StartRefusalTest, NamesThePlateAndStartsNothing) {
    const StartRefusal& c = GetParam();
    sim::PlateOptions options;
    options.modelCode = c.model;
    Plate(c.plate, options);
    Settings(c.settings);

    ClickStart();
    std::string report = c.report;
    if (const auto at = report.find("PORT"); at != std::string::npos) {
        report.replace(at, 4, Port(c.plate));
    }
    EXPECT_EQ(dialogs.Texts(), std::vector<std::string>{report});
    EXPECT_EQ(dialogs.Last().title, kApplicationTitle);
    EXPECT_EQ(dialogs.Last().icon, DialogIcon::Error);
    EXPECT_EQ(view.labels.back(), std::make_pair(std::string(" ..."), false));
    EXPECT_EQ(view.buttons, (std::vector<bool>{false, true}));
    EXPECT_EQ(view.shown, RunState::Idle);
    EXPECT_FALSE(view.idle);
    const auto stats = plates[static_cast<std::size_t>(c.plate - 1)]->Stats();
    EXPECT_EQ(stats.requests[kFnIdentify], c.identifyRequests);
    EXPECT_EQ(stats.requests[kFnConfigure], 0u);
    EXPECT_FALSE(stats.streaming);
}

const std::string k309Digits = "-1" + std::string(307, '0');

INSTANTIATE_TEST_SUITE_P(
    Cases, StartRefusalTest,
    ::testing::Values(
        StartRefusal{"IndexNotANumber",
                     3,
                     {{"idc3", "abc"}},
                     101,
                     "O Índice de Calibração da Placa 3 (idc3 = 'abc') é inválido!\r"
                     "Calibre novamente a Placa 3.",
                     0},
        StartRefusal{"IndexZero",
                     1,
                     {{"idc1", "0"}},
                     101,
                     "O Índice de Calibração da Placa 1 (idc1 = '0') é inválido!\r"
                     "Calibre novamente a Placa 1.",
                     0},
        StartRefusal{"IndexNegativeZero",
                     1,
                     {{"idc1", "-0,000"}},
                     101,
                     "O Índice de Calibração da Placa 1 (idc1 = '-0,000') é inválido!\r"
                     "Calibre novamente a Placa 1.",
                     0},
        StartRefusal{"IndexRoundingToZero",
                     2,
                     {{"idc2", "0,00004"}},
                     101,
                     "O Índice de Calibração da Placa 2 (idc2 = '0,00004') é inválido!\r"
                     "Calibre novamente a Placa 2.",
                     0},
        StartRefusal{"ZeroOffsetEmpty",
                     1,
                     {{"sp1", ""}},
                     101,
                     "O Zero da Placa 1 (sp1 = '') é inválido!\rZere novamente a Placa 1.",
                     0},
        // The loads would overflow to infinity; the text is quoted cut short.
        StartRefusal{"ZeroOffsetHuge",
                     1,
                     {{"sp1", k309Digits}, {"idc1", "0,01"}},
                     101,
                     "O Zero da Placa 1 (sp1 = '" + k309Digits.substr(0, 40) +
                         "...') é inválido!\rZere novamente a Placa 1.",
                     0},
        StartRefusal{"TareNotANumber",
                     4,
                     {{"t4", "1,5x"}},
                     101,
                     "A Tara da Placa 4 (t4 = '1,5x') é inválida!\rRefaça a Tara da Placa 4.",
                     0},
        StartRefusal{"TareTooLarge",
                     2,
                     {{"t2", "-2000000000000"}},
                     101,
                     "A Tara da Placa 2 (t2 = '-2000000000000') é inválida!\r"
                     "Refaça a Tara da Placa 2.",
                     0},
        // A device the communication screen's search rejects.
        StartRefusal{"UnknownModel",
                     2,
                     {},
                     99,
                     "Falha ao Identificar a Placa 2: PORT (modelo 99 não reconhecido)",
                     1}),
    [](const auto& param) { return std::string(param.param.name); });

// A stored rate the plate's Configure cannot code reads as 50 Hz: the plate runs at the rate
// the file's heading will carry.
class UnlistedRateTest : public TestRunTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(UnlistedRateTest, RunsAtTheDefaultRate) {
    Plate(1);
    Settings({{"Frequencia", GetParam()}, {"FrequenciaP1", GetParam()}});
    ClickStart();
    ASSERT_TRUE(view.idle) << dialogs.Last().text;
    EXPECT_EQ(state.config.testFrequency, 50);
    EXPECT_EQ(plates[0]->Stats().configuredFrequency, 50);
}

INSTANTIATE_TEST_SUITE_P(Stored, UnlistedRateTest,
                         ::testing::Values("99999", "-600", "256", "0", "65586"));

}  // namespace
}  // namespace kelvaro
