// The fault matrix of docs/FAULTS.md, each row on the real main window and screens over
// virtual plates: what the operator is told, and that nothing already taken is lost.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string_view>

#include "CaseNames.h"
#include "PortHoldingProgram.h"
#include "PseudoTerminalPorts.h"
#include "Station.h"
#include "app/ProgressWindow.h"
#include "calibration/CalibrationScreen.h"
#include "chart/LoadChart.h"
#include "device/PlateCommands.h"
#include "device/PortList.h"
#include "device/SerialChannel.h"
#include "discovery/CommunicationScreen.h"
#include "frequency/FrequencyScreen.h"
#include "journal/Journal.h"
#include "library/LibraryWorker.h"
#include "ui/PictureButton.h"

namespace kelvaro {
namespace {

using testing::PrintTo;
using testing::ReadFileBytes;
using testing::WriteFileBytes;

class FaultTest : public ::testing::Test {
  protected:
    // Every plate ready at 300 Hz, the window up and a test running.
    MainWindow& StartRunning() {
        station.SeedReadyPlates(300);
        MainWindow& window = station.Start();
        station.dialogs.answers = {DialogResult::Ok};
        window.OnStartClicked();
        station.FinishStartUp();
        EXPECT_TRUE(window.IdlePassRunning());
        return window;
    }
    // Records [from, to) of the plate hold consecutive counter readings.
    ::testing::AssertionResult Consecutive(int plate, int from, int to) const {
        for (int r = from + 1; r < to; ++r) {
            if (station.Sample(r, plate) != station.Sample(r - 1, plate) + 1) {
                return ::testing::AssertionFailure()
                       << "plate " << plate << " record " << r << ": "
                       << station.Sample(r - 1, plate) << " then " << station.Sample(r, plate);
            }
        }
        return ::testing::AssertionSuccess();
    }
    // The saved test holds n records, a field empty exactly where its plate's reading is missing
    // (never a load made of it). Returns how many of `plate`'s are, -1 at a mismatch.
    int MissingFieldsSaved(const std::string& bytes, int n, int plate) const {
        const std::vector<std::string> lines = testing::Lines(bytes);
        EXPECT_EQ(lines.size(), 10u + static_cast<std::size_t>(n));
        int missing = 0;
        for (int r = 0; r < n && 10u + static_cast<std::size_t>(r) < lines.size(); ++r) {
            const std::string& line = lines[10 + static_cast<std::size_t>(r)];
            const std::vector<std::string> fields = testing::Fields(line);
            for (int p = 1; p <= kPlateCount; ++p) {
                const bool gap = station.Sample(r, p) == kMissingReading;
                if (fields.size() <= kPlateCount ||
                    fields[static_cast<std::size_t>(p)].empty() != gap) {
                    ADD_FAILURE() << "record " << r << " plate " << p << ": " << line;
                    return -1;
                }
                missing += p == plate && gap ? 1 : 0;
            }
        }
        return missing;
    }
    void ExpectIdleAndUsable(MainWindow& window) const {
        EXPECT_FALSE(window.IdlePassRunning());
        EXPECT_EQ(window.startButton->text(), QStringLiteral(" Iniciar"));
        EXPECT_TRUE(window.communicationButton->isEnabled());
        EXPECT_TRUE(window.calibrationButton->isEnabled());
        EXPECT_TRUE(window.closeButton->isEnabled());
    }
    void ExpectReport(const std::string& text) const {
        ASSERT_FALSE(station.dialogs.messages.empty());
        EXPECT_EQ(station.dialogs.Last().text, text);
        EXPECT_EQ(station.dialogs.Last().title, kApplicationTitle);
        EXPECT_EQ(station.dialogs.Last().icon, DialogIcon::Error);
    }

    testing::Station station;
};

// --- Plates ------------------------------------------------------------------------------

struct LostPlate {
    const char* name;
    std::vector<int> plates;  // the plates that go
    sim::Fault fault;
    int minimumMs;  // a silent plate is given about half a second
};

class PlateLostDuringARun : public FaultTest, public ::testing::WithParamInterface<LostPlate> {
  protected:
    // The plate's readings run on without a gap or a repeat, then stay empty to the end.
    ::testing::AssertionResult ConsecutiveThenEmpty(int plate, int n, int from) const {
        int z = 1;
        while (z < n && station.Sample(z, plate) != kMissingReading) {
            ++z;
        }
        if (z < from) {
            return ::testing::AssertionFailure() << "plate " << plate << " empty at " << z;
        }
        for (int r = z; r < n; ++r) {
            if (station.Sample(r, plate) != kMissingReading) {
                return ::testing::AssertionFailure() << "plate " << plate << " record " << r;
            }
        }
        return Consecutive(plate, 0, z);
    }
};

// A plate unplugged, silent, or sending nothing but garbage stops the run about half a second
// later at most; the others are not slowed and lose nothing, the operator is told which plate
// stopped answering, and the save follows with every sample taken.
TEST_P(PlateLostDuringARun, StopsItNamesThePlateAndKeepsEverySample) {
    const LostPlate& c = GetParam();
    MainWindow& window = StartRunning();
    auto& dialogs = station.dialogs;
    dialogs.answers = {DialogResult::Yes};
    const std::string path = window.ExportFolder().toStdString() + "/Kelvaro_1.csv";
    dialogs.saveFiles = {path};
    ASSERT_GE(station.RunUntil(150), 150);

    const int before = window.Run().Samples().Count();
    const auto start = std::chrono::steady_clock::now();
    for (int plate : c.plates) {
        station.Plate(plate).Inject(c.fault);
    }
    station.RunUntil(kMaxSamples, 3000);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();

    ExpectIdleAndUsable(window);
    EXPECT_LT(ms, 1000);
    EXPECT_GE(ms, c.minimumMs);
    const int n = window.Run().Samples().Count();
    EXPECT_EQ(window.sampleCountLabel->text().toStdString(), " Amostras: " + std::to_string(n));
    std::string told = "O teste foi interrompido.";
    for (int plate : c.plates) {
        told += "\rA Placa " + std::to_string(plate) + " parou de responder (porta " +
                station.Port(plate) + ").";
    }
    EXPECT_EQ(dialogs.Texts(),
              (std::vector<std::string>{"Clique em OK para Inicar o Teste!", told,
                                        "Deseja salvar o teste?",
                                        "O exportação para o Excel foi concluída com sucesso"}));
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        if (std::find(c.plates.begin(), c.plates.end(), plate) != c.plates.end()) {
            EXPECT_TRUE(ConsecutiveThenEmpty(plate, n, before));
            continue;
        }
        EXPECT_TRUE(Consecutive(plate, 0, n));
        // Read as fast as it streamed: what it sent before the Stop is (nearly) all recorded.
        // Two Stops: the start-up's own before its Identify, then the stop's.
        ASSERT_TRUE(station.Plate(plate).WaitForRequests(kFnStop, 2, 1000)) << plate;
        EXPECT_LE(static_cast<double>(station.Plate(plate).ReportsSent()) - 1 -
                      station.Sample(n - 1, plate),
                  30.0)
            << plate;
    }
    const std::string saved = ReadFileBytes(path);
    EXPECT_GE(MissingFieldsSaved(saved, n, c.plates.front()), 0);

    // The next start-up fails on the first of them (to connect, identify or configure, as
    // the fault allows), and the saved test stays as it was.
    dialogs.messages.clear();
    window.OnStartClicked();
    station.FinishStartUp();
    const int first = c.plates.front();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    const std::string& report = dialogs.Last().text;
    EXPECT_TRUE(report.starts_with("Falha ao ")) << report;
    EXPECT_TRUE(
        report.ends_with(" a Placa " + std::to_string(first) + ": " + station.Port(first) + "."))
        << report;
    EXPECT_EQ(dialogs.Last().icon, DialogIcon::Error);
    EXPECT_EQ(window.sampleCountLabel->text(), QStringLiteral(" ..."));
    ExpectIdleAndUsable(window);
    EXPECT_EQ(ReadFileBytes(path), saved);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, PlateLostDuringARun,
    ::testing::Values(LostPlate{"Unplugged", {2}, {sim::FaultKind::Unplug}, 0},
                      LostPlate{"Silent", {2}, {sim::FaultKind::Silence, 0}, 400},
                      LostPlate{"AllSilent", {1, 2, 3, 4}, {sim::FaultKind::Silence, 0}, 400},
                      LostPlate{"Garbage", {3}, {sim::FaultKind::Garbage, 0}, 0},
                      LostPlate{"Flood", {4}, {sim::FaultKind::Flood, 0}, 0}),
    [](const auto& param) { return std::string(param.param.name); });

// The close box during a run ends it as " Parar" does: every plate has its Stop before the
// save question, and the file holds every sample.
TEST_F(FaultTest, ClosingTheWindowDuringARunStopsThePlatesAndOffersTheSave) {
    MainWindow& window = StartRunning();
    auto& dialogs = station.dialogs;
    ASSERT_GE(station.RunUntil(150), 150);
    dialogs.answers = {DialogResult::Yes};
    const std::string path = window.ExportFolder().toStdString() + "/Kelvaro_1.csv";
    dialogs.saveFiles = {path};
    std::vector<int> stoppedBeforeQuestion;
    dialogs.onMessage = [&](const testing::RecordedMessage& m) {
        for (int plate = 1; m.text == "Deseja salvar o teste?" && plate <= kPlateCount; ++plate) {
            if (station.Plate(plate).WaitForRequests(kFnStop, 2, 1000)) {
                stoppedBeforeQuestion.push_back(plate);
            }
        }
    };

    EXPECT_TRUE(window.close());

    dialogs.onMessage = nullptr;
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(stoppedBeforeQuestion, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(dialogs.Texts(), (std::vector<std::string>{
                                   "Clique em OK para Inicar o Teste!", "Deseja salvar o teste?",
                                   "O exportação para o Excel foi concluída com sucesso"}));
    const int n = window.Run().Samples().Count();
    EXPECT_EQ(testing::Lines(ReadFileBytes(path)).size(), 10u + static_cast<std::size_t>(n));
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        EXPECT_FALSE(window.State().links.Slot(plate)) << plate;
    }
}

// The station as a child process (tests/e2e/StationChild.cpp) with its output read by line.
class StationProcess {
  public:
    StationProcess(const std::string& settingsPath, const std::string& programFolder,
                   const char* mode = nullptr) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        const char* argv[] = {KELVARO_STATION_CHILD, settingsPath.c_str(), programFolder.c_str(),
                              mode, nullptr};
        if (posix_spawn(&pid_, KELVARO_STATION_CHILD, &actions, nullptr,
                        const_cast<char* const*>(argv), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        out_ = fds[0];
    }
    ~StationProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(out_);
    }
    StationProcess(const StationProcess&) = delete;
    StationProcess& operator=(const StationProcess&) = delete;

    // The next line it prints within `timeoutMs`.
    std::optional<std::string> Line(int timeoutMs) {
        std::string line;
        pollfd pfd{out_, POLLIN, 0};
        char c = 0;
        while (poll(&pfd, 1, timeoutMs) > 0 && read(out_, &c, 1) == 1) {
            if (c == '\n') {
                return line;
            }
            line += c;
        }
        return std::nullopt;
    }
    void Signal(int number) const { kill(pid_, number); }
    // Its wait status once it has ended within `timeoutMs`.
    std::optional<int> Wait(int timeoutMs) {
        for (int waited = 0; waited <= timeoutMs; waited += 10) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return status;
            }
            usleep(10000);
        }
        return std::nullopt;
    }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
};

struct SessionSignal {
    const char* name;
    int number;
    bool atSaveQuestion = false;  // the run stopped, its save question showing
};

class SessionEnd : public FaultTest, public ::testing::WithParamInterface<SessionSignal> {};

// Logout or shutdown (SIGTERM), a closed terminal (SIGHUP) or Ctrl+C during a run: the plates
// get their Stop, the program ends normally without asking anything, and the run's samples
// are still in the store when it does.
TEST_P(SessionEnd, StopsThePlatesKeepsTheSamplesAndExitsCleanly) {
    station.SeedReadyPlates(300);
    StationProcess child(station.SettingsPath(), station.dir.File("bin"));
    ASSERT_EQ(child.Line(10000), std::optional<std::string>("running"));
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        ASSERT_TRUE(station.Plate(plate).WaitForReports(300, 5000)) << plate;
    }

    child.Signal(GetParam().number);
    const std::optional<int> status = child.Wait(10000);

    ASSERT_TRUE(status.has_value()) << "still running 10 s after the signal";
    ASSERT_TRUE(WIFEXITED(*status)) << "killed by signal " << WTERMSIG(*status);
    EXPECT_EQ(WEXITSTATUS(*status), 0);
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        EXPECT_TRUE(station.Plate(plate).WaitForRequests(kFnStop, 2, 1000)) << plate;
        EXPECT_FALSE(station.Plate(plate).Streaming()) << plate;
    }
    int samples = 0;
    std::size_t questions = 0;
    const std::string summary = child.Line(1000).value_or("");
    ASSERT_EQ(std::sscanf(summary.c_str(), "samples %d questions %zu", &samples, &questions), 2)
        << summary;
    EXPECT_GT(samples, 0);
    EXPECT_EQ(questions, 1u);  // the start-up's confirmation only
}

INSTANTIATE_TEST_SUITE_P(Signals, SessionEnd,
                         ::testing::Values(SessionSignal{"SIGTERM", SIGTERM},
                                           SessionSignal{"SIGHUP", SIGHUP},
                                           SessionSignal{"SIGINT", SIGINT}),
                         [](const auto& param) { return std::string(param.param.name); });

class DeathDuringARun : public FaultTest, public ::testing::WithParamInterface<SessionSignal> {};

// The program killed (SIGKILL) or crashed (a segmentation fault, an abort) during a run, or
// killed while "Deseja salvar o teste?" showed: the next start offers the run from its journal,
// and the recovered run holds every reading the station had read, less at most the last second's
// (none at the question), in order, as the plates sent them.
TEST_P(DeathDuringARun, IsRecoveredAtTheNextStart) {
    station.SeedReadyPlates(300);
    int keptBeforeKill = 0;  // the samples the run said it kept just before the signal
    int keptAtKill = -1;     // the samples the run kept when its save question showed
    {
        // No core file: the crash is what is tested, not the dump.
        rlimit before{};
        getrlimit(RLIMIT_CORE, &before);
        const rlimit noCore{0, before.rlim_max};  // the hard limit kept, so it can be undone
        setrlimit(RLIMIT_CORE, &noCore);
        StationProcess child(station.SettingsPath(), station.dir.File("bin"),
                             GetParam().atSaveQuestion ? "ask" : nullptr);
        setrlimit(RLIMIT_CORE, &before);
        ASSERT_EQ(child.Line(10000), std::optional<std::string>("running"));
        if (GetParam().atSaveQuestion) {
            const std::string asking = child.Line(10000).value_or("");
            ASSERT_EQ(std::sscanf(asking.c_str(), "asking %d", &keptAtKill), 1) << asking;
        } else {
            const std::string kept = child.Line(10000).value_or("");
            ASSERT_EQ(std::sscanf(kept.c_str(), "kept %d", &keptBeforeKill), 1) << kept;
        }
        child.Signal(GetParam().number);
        const std::optional<int> status = child.Wait(10000);
        ASSERT_TRUE(status.has_value() && WIFSIGNALED(*status));
    }

    MainWindow& window = station.Start();
    station.dialogs.answers = {DialogResult::Yes};  // recover; the save question gets "Não"
    window.OnShownAtStart();
    const std::vector<std::string> texts = station.dialogs.Texts();
    ASSERT_EQ(texts.size(), 2u);
    const char* told = GetParam().atSaveQuestion ? "não foi salvo" : "não foi encerrado";
    EXPECT_NE(texts[0].find(told), std::string::npos) << texts[0];
    EXPECT_EQ(texts[1], "Deseja salvar o teste?");
    ASSERT_TRUE(window.ShownRun().has_value());
    const std::vector<LoadRecord>& loads = window.ShownRun()->loads;
    const int samples = static_cast<int>(loads.size());
    EXPECT_GE(samples + 300, keptBeforeKill);  // one second at 300 Hz
    EXPECT_TRUE(!GetParam().atSaveQuestion || samples == keptAtKill) << keptAtKill;
    EXPECT_NE(texts[0].find(" " + std::to_string(samples) + " amostras"), std::string::npos);
    JournalContents journal;
    ASSERT_TRUE(ReadJournal(window.ShownRun()->path, journal));
    ASSERT_EQ(journal.records.size(), loads.size());
    for (std::size_t plate = 0; plate < kPlateCount; ++plate) {
        for (std::size_t record = 1; record < journal.records.size(); ++record) {
            ASSERT_EQ(journal.records[record][plate], journal.records[record - 1][plate] + 1)
                << "plate " << plate + 1 << " record " << record;
        }
    }
    EXPECT_EQ(window.loadChart->Points(1).size(), loads.size());
    EXPECT_EQ(window.sampleCountLabel->text().toStdString(),
              " Amostras: " + std::to_string(samples));
}

INSTANTIATE_TEST_SUITE_P(Deaths, DeathDuringARun,
                         ::testing::Values(SessionSignal{"SIGKILL", SIGKILL},
                                           SessionSignal{"SIGSEGV", SIGSEGV},
                                           SessionSignal{"SIGABRT", SIGABRT},
                                           SessionSignal{"SIGKILLAtSaveQuestion", SIGKILL, true}),
                         [](const auto& param) { return std::string(param.param.name); });

struct Garble {
    const char* name;
    sim::Fault fault;
};

class GarbledStream : public FaultTest, public ::testing::WithParamInterface<Garble> {};

// Line noise on one plate costs that plate the damaged report only: no later reading shifts,
// none repeats, and the other plates lose nothing.
TEST_P(GarbledStream, CostsOneReadingOfOnePlate) {
    MainWindow& window = StartRunning();
    ASSERT_GE(station.RunUntil(100), 100);
    station.Plate(3).Inject(GetParam().fault);
    station.RunUntil(300);
    station.dialogs.answers = {DialogResult::Yes};
    const std::string path = window.ExportFolder().toStdString() + "/Kelvaro_1.csv";
    station.dialogs.saveFiles = {path};
    window.OnStartClicked();  // " Parar", and the save
    const int n = window.Run().Samples().Count();
    ASSERT_GE(n, 300);

    ExpectIdleAndUsable(window);
    EXPECT_EQ(
        station.dialogs.Texts(),
        (std::vector<std::string>{"Clique em OK para Inicar o Teste!", "Deseja salvar o teste?",
                                  "O exportação para o Excel foi concluída com sucesso"}));
    for (int plate : {1, 2, 4}) {
        EXPECT_TRUE(Consecutive(plate, 0, n));
    }
    int emptyRecords = 0;
    double lost = 0;
    double previous = -1;
    for (int r = 0; r < n; ++r) {
        const double reading = station.Sample(r, 3);
        if (reading == kMissingReading) {
            ++emptyRecords;
            continue;
        }
        ASSERT_GT(reading, previous) << "record " << r << " repeats or goes back";
        lost += reading - previous - 1;
        previous = reading;
    }
    EXPECT_EQ(lost, 1.0);
    EXPECT_LE(emptyRecords, 1);
    EXPECT_EQ(MissingFieldsSaved(ReadFileBytes(path), n, 3), emptyRecords);
}

INSTANTIATE_TEST_SUITE_P(Faults, GarbledStream,
                         ::testing::Values(Garble{"InsertedByte",
                                                  {sim::FaultKind::InsertByte, 1, 4, 0x0A}},
                                           Garble{"BadChecksum", {sim::FaultKind::BadChecksum}},
                                           Garble{"BadStartByte", {sim::FaultKind::BadStart}},
                                           Garble{"BadEndByte", {sim::FaultKind::BadEnd}}),
                         [](const auto& param) { return std::string(param.param.name); });

struct PortHolderKind {
    const char* name;
    // Takes the port as the other program would; letting the result go releases it.
    std::function<std::shared_ptr<void>(const std::string& port)> hold;
};

class HeldPortAtStartUp : public FaultTest, public ::testing::WithParamInterface<PortHolderKind> {};

TEST_P(HeldPortAtStartUp, IsNamedAndTheNextStartWorks) {
    station.SeedReadyPlates(300);
    MainWindow& window = station.Start();
    auto holder = GetParam().hold(station.Port(2));
    ASSERT_TRUE(holder);

    window.OnStartClicked();
    station.FinishStartUp();
    ExpectReport("Falha ao Conectar a Placa 2: " + station.Port(2) + ".");
    EXPECT_EQ(station.dialogs.messages.size(), 1u);
    EXPECT_EQ(window.sampleCountLabel->text(), QStringLiteral(" ..."));
    ExpectIdleAndUsable(window);
    EXPECT_EQ(station.Plate(2).Stats().requests[kFnIdentify], 0u);
    EXPECT_FALSE(station.Plate(1).Streaming());

    holder.reset();
    station.dialogs.messages.clear();
    station.dialogs.answers = {DialogResult::Ok};
    window.OnStartClicked();
    station.FinishStartUp();
    ASSERT_TRUE(window.IdlePassRunning());
    station.RunUntil(30);
    window.OnStartClicked();
    EXPECT_TRUE(Consecutive(2, 0, window.Run().Samples().Count()));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, HeldPortAtStartUp,
    ::testing::Values(
        // Open and locked, as the station itself holds a port.
        PortHolderKind{"LockedByAnotherStation",
                       [](const std::string& port) -> std::shared_ptr<void> {
                           const int fd = open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
                           if (fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0) {
                               return nullptr;
                           }
                           return std::shared_ptr<int>(new int(fd), [](int* p) {
                               close(*p);
                               delete p;
                           });
                       }},
        // A terminal program: opened without a lock, it would read half of every reply.
        PortHolderKind{"OpenedByAProgramWithoutALock", testing::PortHoldingProgram::Start}),
    [](const auto& param) { return std::string(param.param.name); });

// Escape or the close box while the start-up waits on a silent plate ends it at once, the plates
// it opened sent Stop and closed, nothing asked.
class StartUpEnded : public FaultTest, public ::testing::WithParamInterface<bool> {};

TEST_P(StartUpEnded, LeavesThePlatesStoppedAndClosed) {
    station.SeedReadyPlates(300);
    station.Plate(2).Inject({sim::FaultKind::Silence, 0});
    MainWindow& window = station.Start();
    window.OnStartClicked();
    testing::Station::SpinWhile([&] {
        return window.sampleCountLabel->text() !=
               QStringLiteral(" Aguarde Identificando a Placa 2 ...");
    });
    ASSERT_TRUE(window.Run().IsStartingUp());
    if (GetParam()) {
        window.close();
    } else {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(&window, &press);
    }
    station.FinishStartUp();
    EXPECT_FALSE(window.Run().IsStartingUp() || window.Run().IsRunning());
    EXPECT_TRUE(station.dialogs.messages.empty());
    EXPECT_FALSE(window.State().links.Slot(1) || window.State().links.Slot(2));
    EXPECT_TRUE(station.Plate(1).WaitForRequests(kFnStop, 2, 1000));  // the start-up's, the close's
    ExpectIdleAndUsable(window);
    EXPECT_EQ(window.sampleCountLabel->text(), QStringLiteral(" ..."));
}

INSTANTIATE_TEST_SUITE_P(Faults, StartUpEnded, ::testing::Values(false, true),
                         [](const auto& test) { return test.param ? "CloseBox" : "Escape"; });

// Another program that opens a plate's port during a run takes readings from it: the run stops
// as for a lost plate, every sample is kept and the operator learns which plate and program.
TEST_F(FaultTest, ProgramOpeningAPlatesPortDuringARunStopsItAndIsNamed) {
    // Without root the station's exclusive mode keeps the program out; a root program, which
    // the mode does not stop, is what this stands for.
    const int spare = open(station.Port(2).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(spare, 0);
    MainWindow& window = StartRunning();
    auto& dialogs = station.dialogs;
    dialogs.answers = {DialogResult::Yes};
    const std::string path = window.ExportFolder().toStdString() + "/Kelvaro_1.csv";
    dialogs.saveFiles = {path};
    ASSERT_GE(station.RunUntil(100), 100);

    ioctl(spare, TIOCNXCL);
    testing::PortHoldingProgram cat(station.Port(2));
    ASSERT_TRUE(cat.Holding());
    station.RunUntil(kMaxSamples, 5000);
    close(spare);

    ExpectIdleAndUsable(window);
    const int n = window.Run().Samples().Count();
    ASSERT_EQ(dialogs.messages.size(), 4u);
    EXPECT_EQ(dialogs.messages[1].text,
              "Outro programa abriu a porta da Placa 2 (" + station.Port(2) + "): cat (processo " +
                  std::to_string(cat.Pid()) +
                  ").\rO teste foi parado para que esse programa não tome as leituras da placa; "
                  "as amostras lidas até aqui foram mantidas.");
    EXPECT_EQ(dialogs.messages[1].title, "Kelvaro - Teste");
    EXPECT_EQ(dialogs.messages[1].icon, DialogIcon::Error);
    EXPECT_EQ(dialogs.messages[2].text, "Deseja salvar o teste?");
    for (int plate : {1, 3, 4}) {
        EXPECT_TRUE(Consecutive(plate, 0, n));
    }
    EXPECT_TRUE(Consecutive(2, 0, 100));  // before the program came
    EXPECT_GT(MissingFieldsSaved(ReadFileBytes(path), n, 2), 0);
}

// --- Ports --------------------------------------------------------------------------------

// Two USB adapters whose ttyUSB numbers swap when they are plugged back in another order: each
// plate keeps its own adapter, so its calibration stays with it.
TEST_F(FaultTest, AdaptersPluggedBackInAnotherOrderKeepTheirPlatesAndCalibrations) {
    namespace fs = std::filesystem;
    station.SeedReadyPlates(300);
    // Each plate's calibration zeroes its own reading: any load but 0 is the other's.
    station.Seed({{"check3", "0"},
                  {"check4", "0"},
                  {"sp1", "1000,000"},
                  {"sp2", "2000,000"},
                  {"idc1", "1,0000"},
                  {"idc2", "1,0000"},
                  {"t1", "0,000"},
                  {"t2", "0,000"}});
    station.Plate(1).SetShape(sim::LoadShape::Script);
    station.Plate(1).SetReadings({1000});
    station.Plate(2).SetShape(sim::LoadShape::Script);
    station.Plate(2).SetReadings({2000});
    const fs::path dev = station.dir.File("dev");
    const fs::path byId = dev / "serial" / "by-id";
    fs::create_directories(byId);
    const std::string adapterA = "usb-FTDI_FT232R_USB_UART_A1-if00-port0";
    const std::string adapterB = "usb-FTDI_FT232R_USB_UART_B2-if00-port0";
    // The kernel numbers the adapters in plug-in order; udev's by-id links follow the adapter.
    const auto plugIn = [&](int firstPlate, int secondPlate) {
        for (const char* name : {"ttyUSB0", "ttyUSB1"}) {
            fs::create_directories(station.dir.Path() / "sys/class/tty" / name / "device/driver");
            fs::remove(dev / name);
        }
        fs::remove(byId / adapterA);
        fs::remove(byId / adapterB);
        fs::create_symlink(station.Plate(firstPlate).DevicePath(), dev / "ttyUSB0");
        fs::create_symlink(station.Plate(secondPlate).DevicePath(), dev / "ttyUSB1");
        fs::create_symlink(firstPlate == 1 ? "../../ttyUSB0" : "../../ttyUSB1", byId / adapterA);
        fs::create_symlink(firstPlate == 1 ? "../../ttyUSB1" : "../../ttyUSB0", byId / adapterB);
    };
    plugIn(1, 2);
    MainWindow& window = station.Start();
    window.State().config.portRoots.virtualPorts.clear();  // only the adapters
    {
        CommunicationScreen screen(window.State(), station.dialogs, &window);
        screen.show();
        testing::RunCommunicationPass(screen);
        EXPECT_EQ(screen.findChild<QLabel*>(QStringLiteral("lbP1Status"))->text().toStdString(),
                  "Dispositivo encontrado. Porta: FTDI FT232R USB UART A1");
        EXPECT_EQ(screen.findChild<QListWidget*>(QStringLiteral("lsbPortas"))->item(1)->text(),
                  QStringLiteral("FTDI FT232R USB UART B2"));
        screen.OnBackClicked();
    }
    EXPECT_EQ(station.Stored("Porta1"), (byId / adapterA).string());
    EXPECT_EQ(station.Stored("Porta2"), (byId / adapterB).string());

    plugIn(2, 1);
    station.dialogs.answers = {DialogResult::Ok, DialogResult::Yes};
    const std::string path = window.ExportFolder().toStdString() + "/Kelvaro_1.csv";
    station.dialogs.saveFiles = {path};
    window.OnStartClicked();
    station.FinishStartUp();
    ASSERT_TRUE(window.IdlePassRunning());
    station.RunUntil(30);
    window.OnStartClicked();
    const int n = window.Run().Samples().Count();
    ASSERT_GT(n, 0);
    ASSERT_EQ(window.Run().Samples().Loads().size(), static_cast<std::size_t>(n));
    for (int r = 0; r < n; ++r) {
        ASSERT_EQ(station.Load(r, 1), 0.0) << r;
        ASSERT_EQ(station.Load(r, 2), 0.0) << r;
    }
    // The saved test names each plate's port as stored.
    const std::string saved = ReadFileBytes(path);
    EXPECT_NE(saved.find((byId / adapterA).string()), std::string::npos);
    EXPECT_NE(saved.find((byId / adapterB).string()), std::string::npos);
}

// A stored port that leads to a terminal rather than a serial port (a pseudo-terminal outside
// virtual-plate mode, as a terminal window's is) is refused before anything is sent to it.
TEST_F(FaultTest, APortThatIsNoSerialPortIsRefusedAtStartUp) {
    station.SeedReadyPlates(300);
    MainWindow& window = station.Start();
    const testing::PseudoTerminalPorts realPlatesOnly(false);
    window.OnStartClicked();
    station.FinishStartUp();
    ExpectReport("Falha ao Conectar a Placa 1: " + station.Port(1) + ".");
    EXPECT_EQ(station.Plate(1).Stats().requests[kFnIdentify], 0u);
    ExpectIdleAndUsable(window);
}

struct ModeCase {
    const char* name;
    bool virtualPlates;
    const char* titleSuffix;
};

class StartMode : public FaultTest, public ::testing::WithParamInterface<ModeCase> {};

// A virtual plate left running (or a link dropped in its folder) is never taken for a real one
// by a station that was not started for them; one that was says so in its title.
TEST_P(StartMode, ListsVirtualPlatesOnlyWhenStartedForThem) {
    const ModeCase& c = GetParam();
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = old ? old : "";
    setenv("XDG_RUNTIME_DIR", station.dir.File("run").c_str(), 1);
    const std::string link = station.Plate(1).Publish(VirtualPortFolder(), "plate1");
    station.Seed({{"check1", "1"}});
    MainWindow& window = station.StartAsProgram(c.virtualPlates);
    EXPECT_EQ(window.windowTitle().toStdString(), std::string(kMainCaption) + c.titleSuffix);
    {
        CommunicationScreen screen(window.State(), station.dialogs, &window);
        screen.show();
        testing::RunCommunicationPass(screen);
        const auto status1 =
            screen.findChild<QLabel*>(QStringLiteral("lbP1Status"))->text().toStdString();
        if (c.virtualPlates) {
            EXPECT_EQ(status1, "Dispositivo encontrado. Porta: " + link);
        } else {
            EXPECT_EQ(screen.findChild<QLabel*>(QStringLiteral("lbStatus2"))->text().toStdString(),
                      "Não foram localizadas Portas Seriais neste Computador...");
            EXPECT_EQ(station.Plate(1).Stats().requests[kFnIdentify], 0u);
        }
        screen.OnBackClicked();
    }
    EXPECT_EQ(station.Stored("Porta1"), c.virtualPlates ? link : "<none>");
    if (old)
        setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    else
        unsetenv("XDG_RUNTIME_DIR");
}

INSTANTIATE_TEST_SUITE_P(Ports, StartMode,
                         ::testing::Values(ModeCase{"Station", false, ""},
                                           ModeCase{"Demonstration", true, " (demonstração)"}),
                         [](const auto& param) { return std::string(param.param.name); });

// The scan finds the plates that are still there when a plate goes during it, in port order.
TEST_F(FaultTest, PlateUnpluggedDuringTheCommunicationScanIsNotFoundAndTheOthersAre) {
    MainWindow& window = station.Start();
    CommunicationScreen screen(window.State(), station.dialogs, &window);
    screen.show();
    for (int n = 2; n <= kPlateCount; ++n) {
        screen.findChild<QCheckBox*>(QStringLiteral("cbP%1Ativa").arg(n))->click();
    }
    const auto status = [&](int n) {
        return screen.findChild<QLabel*>(QStringLiteral("lbP%1Status").arg(n))
            ->text()
            .toStdString();
    };
    // The ports are listed and opened at once, then wait 400 ms for their lines to settle: a
    // plate pulled 300 ms into the scan was listed but is gone before it is asked.
    station.Plate(3).Inject({sim::FaultKind::Unplug, 1, 0, 0, 300});
    testing::RunCommunicationPass(screen);

    EXPECT_EQ(status(1), "Dispositivo encontrado. Porta: " + station.Port(1));
    EXPECT_EQ(status(2), "Dispositivo encontrado. Porta: " + station.Port(2));
    EXPECT_EQ(status(3), "Dispositivo encontrado. Porta: " + station.Port(4));
    EXPECT_EQ(status(4), "Dispositivo não encontrado.");
    EXPECT_EQ(station.Stored("Porta3"), station.Port(4));
    EXPECT_EQ(station.Stored("Porta4"), "<none>");

    testing::RunCommunicationPass(screen);  // the next pass lists what is left, keeps the plates
    EXPECT_EQ(screen.findChild<QListWidget*>(QStringLiteral("lsbPortas"))->count(), 3);
    EXPECT_EQ(status(3), "Dispositivo encontrado. Porta: " + station.Port(4));
    screen.OnBackClicked();
    EXPECT_TRUE(station.dialogs.messages.empty());
    EXPECT_EQ(station.Stored("check4"), "1");
}

// Three ports whose devices never answer, among the plates: the search and every later check
// go on while the windows keep answering, and each plate is found on its own port.
TEST_F(FaultTest, DeadPortsAmongThePlatesNeverFreezeTheCommunicationScreen) {
    std::vector<std::unique_ptr<sim::VirtualPlate>> dead;
    for (const char* name : {"COM15", "COM25", "COM35"}) {
        dead.push_back(std::make_unique<sim::VirtualPlate>());
        dead.back()->Inject({sim::FaultKind::Silence, 0});
        dead.back()->Publish(station.dir.File("ports"), name);
    }
    station.Seed({{"check2", "1"}, {"check3", "1"}, {"check4", "1"}});
    MainWindow& window = station.Start();
    CommunicationScreen screen(window.State(), station.dialogs, &window);
    screen.show();
    const auto status = [&](int n) {
        return screen.findChild<QLabel*>(QStringLiteral("lbP%1Status").arg(n))
            ->text()
            .toStdString();
    };
    const auto allFound = [&] {
        for (int n = 1; n <= kPlateCount; ++n) {
            if (status(n) != "Dispositivo encontrado. Porta: " + station.Port(n)) {
                return false;
            }
        }
        return true;
    };

    // The scan pass, then a pass that checks the four plates found.
    long long longest = testing::RunEventsUntil(allFound, 8000);
    ASSERT_TRUE(allFound());
    longest = std::max(longest, testing::RunEventsUntil([] { return false; }, 2500));

    EXPECT_LT(longest, 250);
    EXPECT_TRUE(allFound());
    for (int n = 1; n <= kPlateCount; ++n) {
        EXPECT_EQ(station.Stored("Porta" + std::to_string(n)), station.Port(n));
    }
    screen.OnBackClicked();
    EXPECT_TRUE(station.dialogs.messages.empty());
}

// 300 readings with no load, then the loaded reading for ever.
std::vector<std::uint32_t> Phases(std::uint32_t empty, std::uint32_t loaded) {
    std::vector<std::uint32_t> readings(300, empty);
    readings.push_back(loaded);
    return readings;
}

class CalibrationFault : public FaultTest {
  protected:
    void SetUp() override {
        station.SeedReadyPlates(300);
        station.Seed({{"sp1", "5,000"}, {"idc1", "2,0000"}, {"Carga1", "1,000"}});
        MainWindow& window = station.Start();
        screen = std::make_unique<CalibrationScreen>(window.State(), station.dialogs,
                                                     window.Progress(), firstActivation, &window);
        screen->show();
        QApplication::processEvents();
        for (int plate : {1, 2}) {
            screen->Plate(plate).loadField->setText(QStringLiteral("10"));
            station.Plate(plate).SetShape(sim::LoadShape::Script);
            station.Plate(plate).SetReadings(Phases(1000, 2000));
        }
        before = ReadFileBytes(station.SettingsPath());
        station.dialogs.messages.clear();
    }
    void TearDown() override { screen.reset(); }

    bool firstActivation = true;
    std::unique_ptr<CalibrationScreen> screen;
    std::string before;
};

TEST_F(CalibrationFault, PlateUnpluggedMidMeasurementKeepsTheOldCalibration) {
    auto& dialogs = station.dialogs;
    dialogs.onMessage = [&](const testing::RecordedMessage& m) {
        if (m.text.rfind("Coloque a Carga", 0) == 0) {
            // Slow replies make the 300 readings last at least 600 ms; the plate goes in them.
            station.Plate(1).Inject({sim::FaultKind::LateReply, 0, 0, 0, 2});
            station.Plate(1).Inject({sim::FaultKind::Unplug, 1, 0, 0, 100});
        }
    };
    screen->OnCalibrateClicked(1);
    testing::Station::SpinWhile([&] { return screen->Preparing(); });
    dialogs.onMessage = nullptr;

    ASSERT_EQ(dialogs.messages.size(), 4u);
    EXPECT_EQ(dialogs.Last().text,
              "Processo de Calibração não foi efetuado corretamente, tentar novamente.");
    EXPECT_EQ(dialogs.Last().title, "Placa 1 - Calibração com Peso");
    EXPECT_EQ(dialogs.Last().icon, DialogIcon::Error);
    EXPECT_FALSE(station.window->Progress().isVisible());
    EXPECT_TRUE(screen->ReadingTimer()->isActive());
    EXPECT_EQ(ReadFileBytes(station.SettingsPath()), before);

    // The other plate still calibrates on the same screen.
    station.Plate(2).SetReadings(Phases(1000, 2000));
    dialogs.messages.clear();
    screen->OnCalibrateClicked(2);
    testing::Station::SpinWhile([&] { return screen->Preparing(); });
    EXPECT_EQ(dialogs.Last().text, "Calibração com Peso realizada com sucesso!");
    EXPECT_EQ(station.Stored("FrequenciaP2"), "300");
    EXPECT_EQ(station.Stored("sp1"), "5,000");
}

// A full disk when the calibration is stored: simulated with the file-size limit, which fails
// the write with EFBIG where a full disk gives ENOSPC; both take the same path.
TEST_F(CalibrationFault, FullDiskWhenStoringIsReportedAndTheOldFileKept) {
    // The limit is the whole process's: the library, opened on its own thread at the start, is
    // left to finish first, or it would find the disk full too and say so.
    std::promise<void> libraryOpened;
    station.window->Library()->Post([&](LibraryStore&) { libraryOpened.set_value(); });
    ASSERT_EQ(libraryOpened.get_future().wait_for(std::chrono::seconds(30)),
              std::future_status::ready);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto* oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    screen->OnCalibrateClicked(1);
    testing::Station::SpinWhile([&] { return screen->Preparing(); });
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);

    const std::string& text = station.dialogs.Last().text;
    const std::string start =
        "Não foi possível gravar as configurações em \"" + station.SettingsPath() + "\" (";
    EXPECT_EQ(text.substr(0, start.size()), start) << text;
    EXPECT_TRUE(text.ends_with(": arquivo grande demais.")) << text;
    EXPECT_EQ(station.dialogs.Last().title, kApplicationTitle);
    EXPECT_EQ(station.dialogs.Last().icon, DialogIcon::Error);
    EXPECT_EQ(ReadFileBytes(station.SettingsPath()), before);

    // With room again the next save goes through.
    screen->OnBackClicked();
    EXPECT_EQ(station.dialogs.messages.size(), 5u);
    EXPECT_EQ(station.Stored("Carga1"), "10");
    EXPECT_EQ(station.Stored("sp1"), "5,000");
}

// Four plates that never answer: every live reading waits out its time-out, all of them at the
// same time, and the windows keep answering; each plate shows the failure value, no load.
TEST_F(CalibrationFault, FourSilentPlatesNeverFreezeTheLiveReading) {
    for (int n = 1; n <= kPlateCount; ++n) {
        station.Plate(n).Inject({sim::FaultKind::Silence, 0});
        screen->Plate(n).activeBox->setChecked(true);
    }
    const auto allFailed = [&] {
        for (int n = 1; n <= kPlateCount; ++n) {
            if (screen->Plate(n).readingField->text() != QStringLiteral("16000000")) {
                return false;
            }
        }
        return true;
    };
    long long longest = testing::RunEventsUntil(allFailed, 5000);
    longest = std::max(longest, testing::RunEventsUntil([] { return false; }, 2000));

    EXPECT_LT(longest, 250);
    EXPECT_TRUE(allFailed());
    for (int n = 1; n <= kPlateCount; ++n) {
        EXPECT_EQ(screen->Plate(n).convertedLoadField->text(), QStringLiteral("---")) << n;
    }
}

// A plate answering slowly makes a measurement last; the operator ends it from the progress
// window, and nothing of the old calibration changes.
TEST_F(CalibrationFault, ASlowMeasurementIsCancelledFromTheProgressWindow) {
    auto& dialogs = station.dialogs;
    ProgressWindow& progress = station.window->Progress();
    auto* cancel = progress.findChild<QPushButton*>(QStringLiteral("btCancelar"));
    ASSERT_NE(cancel, nullptr);
    // 300 readings of 20 ms each would take six seconds.
    station.Plate(1).Inject({sim::FaultKind::LateReply, 0, 0, 0, 20});
    bool visibleWhenPressed = false;
    int positionWhenPressed = 0;
    dialogs.onMessage = [&](const testing::RecordedMessage& m) {
        if (m.text.rfind("Deixe a Placa 1 sem peso", 0) == 0) {
            QTimer::singleShot(500, cancel, [&] {
                visibleWhenPressed = cancel->isVisible();
                positionWhenPressed = progress.Position();
                cancel->click();
            });
        }
    };
    QElapsedTimer clock;
    clock.start();
    screen->OnCalibrateClicked(1);
    testing::Station::SpinWhile([&] { return screen->Preparing(); });
    dialogs.onMessage = nullptr;

    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_TRUE(visibleWhenPressed);
    EXPECT_GT(positionWhenPressed, 0);
    EXPECT_LT(positionWhenPressed, 300);
    EXPECT_EQ(dialogs.Last().text, "Calibração cancelada!");
    EXPECT_EQ(dialogs.Last().title, "Placa 1 - Calibração sem Peso");
    EXPECT_EQ(dialogs.Last().icon, DialogIcon::Warning);
    EXPECT_FALSE(progress.isVisible());
    EXPECT_FALSE(cancel->isVisible());
    EXPECT_TRUE(screen->ReadingTimer()->isActive());
    EXPECT_EQ(ReadFileBytes(station.SettingsPath()), before);
}

// --- Settings ------------------------------------------------------------------------------

TEST_F(FaultTest, DamagedSettingsFileStartsTheStationWithItsGoodKeys) {
    const std::string damaged = "[Dados]\nFrequencia=300\n" +
                                std::string(
                                    "\x7F"
                                    "ELF\x02\x01\x00\xFF\xD8 lixo\n",
                                    15) +
                                "FrequenciaP1=600\n";
    WriteFileBytes(station.SettingsPath(), damaged);

    MainWindow& window = station.Start();
    EXPECT_EQ(window.State().config.testFrequency, 300);
    EXPECT_EQ(window.State().config.calibrationFrequency[0], 600);
    EXPECT_EQ(ReadFileBytes(station.SettingsPath() + ".damaged"), damaged);
    {
        FrequencyScreen screen(window.State(), station.dialogs, &window);
        screen.show();
        EXPECT_EQ(screen.SelectedFrequency(), 300);
        screen.OnBackClicked();
    }
    EXPECT_TRUE(station.dialogs.messages.empty());
    SettingsStore store(station.SettingsPath());
    EXPECT_FALSE(store.WasDamaged());
    EXPECT_EQ(store.ReadInteger(kSettingsSection, "Frequencia", 0), 300);
    EXPECT_EQ(store.ReadInteger(kSettingsSection, "FrequenciaP1", 0), 600);
    EXPECT_EQ(ReadFileBytes(station.SettingsPath()).find("lixo"), std::string::npos);
}

// The station started in one locale over a store written in the other: a Portuguese
// desktop's commas read by a station started from a terminal in C.UTF-8, or (registered once
// more under pt_BR.UTF-8) dots read by a Portuguese station. The run converts with the stored
// values and is saved in the station's own notation; the store is left as it was written.
TEST_F(FaultTest, StoreWrittenInTheOtherLocaleConvertsAndSavesTheRun) {
    const char* locale = std::getenv("LC_ALL");
    const char own = locale != nullptr && std::string_view(locale).starts_with("pt_") ? ',' : '.';
    const char other = own == ',' ? '.' : ',';
    const auto written = [&](std::string text) {
        std::replace(text.begin(), text.end(), '#', other);
        return text;
    };
    const std::map<std::string, std::string> calibration{
        {"sp1", written("1000#500")},    {"idc1", written("2#5000")}, {"t1", written("1#500")},
        {"sp2", written("8388608#000")}, {"idc2", written("0#5000")}, {"t2", written("0#000")},
        {"t3", written("-2#250")}};
    station.SeedReadyPlates(300);
    station.Seed(calibration);
    const RawRecord raw{3000, 8388708, 10, 5};
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        station.Plate(plate).SetShape(sim::LoadShape::Script);
        station.Plate(plate).SetReadings({raw[static_cast<std::size_t>(plate - 1)]});
    }
    MainWindow& window = station.Start(true);
    ASSERT_EQ(window.State().config.decimalSeparator, own) << (locale ? locale : "no LC_ALL");
    auto& dialogs = station.dialogs;
    const std::string path = window.ExportFolder().toStdString() + "/Kelvaro_1.csv";
    dialogs.answers = {DialogResult::Ok, DialogResult::Yes};
    dialogs.saveFiles = {path};

    window.OnStartClicked();
    station.FinishStartUp();
    ASSERT_TRUE(window.IdlePassRunning()) << dialogs.Last().text;
    station.RunUntil(40);
    window.OnStartClicked();

    EXPECT_EQ(dialogs.Texts(), (std::vector<std::string>{
                                   "Clique em OK para Inicar o Teste!", "Deseja salvar o teste?",
                                   "O exportação para o Excel foi concluída com sucesso"}));
    const int n = window.Run().Samples().Count();
    const auto lines = testing::Lines(ReadFileBytes(path));
    ASSERT_EQ(lines.size(), 10u + static_cast<std::size_t>(n));
    // ((3000 - 1000.5) / 2.5) - 1.5, (8388708 - 8388608) / 0.5, 10 + 2.25, and raw counts.
    std::string loads = ";798,300;200,000;12,250;5,000;";
    std::replace(loads.begin(), loads.end(), ',', own);
    for (int row = 1; row <= n; ++row) {
        ASSERT_EQ(lines[static_cast<std::size_t>(9 + row)], std::to_string(row) + loads) << row;
    }
    for (const auto& [key, text] : calibration) {
        EXPECT_EQ(station.Stored(key), text) << key;
    }
    EXPECT_EQ(station.Stored("Teste"), "1");
}

// --- Export --------------------------------------------------------------------------------

// A small file system of its own for the export folder: full or read-only for real, also for
// root. Needs the right to mount; the row is skipped where there is none.
class ScratchFileSystem {
  public:
    explicit ScratchFileSystem(const std::string& path) : path_(path) {
        std::filesystem::create_directories(path);
        mounted_ = mount("tmpfs", path.c_str(), "tmpfs", 0, "size=64k") == 0;
    }
    ~ScratchFileSystem() {
        if (mounted_) {
            umount2(path_.c_str(), MNT_DETACH);
        }
    }
    ScratchFileSystem(const ScratchFileSystem&) = delete;
    ScratchFileSystem& operator=(const ScratchFileSystem&) = delete;
    bool Mounted() const { return mounted_; }
    bool MakeReadOnly() const {
        return mount(nullptr, path_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }
    // Fills every free block.
    bool Fill() const {
        std::ofstream filler(path_ + "/filler", std::ios::binary);
        const std::string block(4096, 'x');
        for (int i = 0; i < 64 && filler.write(block.data(), 4096); ++i) {
        }
        filler.flush();
        return !filler;  // the write failed: no room left
    }

  private:
    std::string path_;
    bool mounted_ = false;
};

struct ExportPlace {
    const char* name;
    bool readOnly;
    const char* reason;
};

class ExportFault : public FaultTest, public ::testing::WithParamInterface<ExportPlace> {};

TEST_P(ExportFault, IsReportedKeepsTheEarlierFileAndTheSamples) {
    const std::string folder = station.dir.File("pendrive");
    ScratchFileSystem disk(folder);
    if (!disk.Mounted()) {
        GTEST_SKIP() << "no right to mount a file system here";
    }
    const std::string path = folder + "/Kelvaro_1.csv";
    WriteFileBytes(path, "earlier test\r\n");
    ASSERT_TRUE(GetParam().readOnly ? disk.MakeReadOnly() : disk.Fill());

    MainWindow& window = StartRunning();
    auto& dialogs = station.dialogs;
    dialogs.answers = {DialogResult::Yes};
    dialogs.saveFiles = {path};
    station.RunUntil(200);
    window.OnStartClicked();
    const int n = window.Run().Samples().Count();

    ExpectReport("Não foi possível gravar o arquivo " + path + ": " + GetParam().reason + ".");
    EXPECT_TRUE(dialogs.openedFiles.empty());
    EXPECT_EQ(ReadFileBytes(path), "earlier test\r\n");
    EXPECT_FALSE(window.Progress().isVisible());
    ExpectIdleAndUsable(window);
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        EXPECT_TRUE(Consecutive(plate, 0, n));
    }

    // The next test is saved where there is room, under the next number.
    dialogs.messages.clear();
    dialogs.answers = {DialogResult::Ok, DialogResult::Yes};
    const std::string next = window.ExportFolder().toStdString() + "/Kelvaro_2.csv";
    dialogs.saveFiles = {next};
    window.OnStartClicked();
    station.FinishStartUp();
    station.RunUntil(30);
    window.OnStartClicked();
    EXPECT_EQ(dialogs.openedFiles, std::vector<std::string>{next});
    EXPECT_EQ(testing::Lines(ReadFileBytes(next)).front(), "Avalia\xE7\xE3o;2;");
}

INSTANTIATE_TEST_SUITE_P(
    Places, ExportFault,
    ::testing::Values(ExportPlace{"FullDisk", false, "Sem espaço no dispositivo"},
                      ExportPlace{"ReadOnlyDisk", true, "Sistema de arquivos somente leitura"}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace kelvaro
