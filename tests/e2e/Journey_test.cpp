// An operator's day through the screens' own handlers: the station starts, the communication
// screen finds four plates, the frequency screen sets 300 Hz, two plates are calibrated on the
// calibration screen, and a test runs on the main window's idle timer and is saved. The file
// the operator gets is checked value by value against the calibration just made.
//
// The secondary screens are built here exactly as the main window's buttons build them (same
// state, dialogs, progress window and main window) and shown without exec(): a failed check
// inside a nested modal loop could not stop the test, and the buttons' modal path is proven by
// the shell tests. Their timers are driven by calling the handlers, so every pass is counted.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTimer>
#include <cmath>
#include <deque>
#include <filesystem>
#include <functional>

#include "Station.h"
#include "app/ProgressWindow.h"
#include "archive/RunArchive.h"
#include "calibration/CalibrationScreen.h"
#include "chart/LoadChart.h"
#include "device/PlateCommands.h"
#include "discovery/CommunicationScreen.h"
#include "frequency/FrequencyScreen.h"
#include "journal/Journal.h"
#include "review/RunReview.h"
#include "run/TestRun.h"
#include "ui/PictureButton.h"

namespace kelvaro {
namespace {

using testing::Comma3;
using testing::Fields;
using testing::Lines;
using testing::ReadFileBytes;
using testing::WriteFileBytes;

void Type(QWidget* field, const QString& text) {
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(field, &press);
    }
}

// Two readings alternating `count` times, then the loaded phase the same way.
std::vector<std::uint32_t> TwoPhases(std::uint32_t a0, std::uint32_t a1, std::uint32_t b0,
                                     std::uint32_t b1, int count) {
    std::vector<std::uint32_t> readings;
    for (int i = 0; i < count; ++i) {
        readings.push_back(i % 2 == 0 ? a0 : a1);
    }
    for (int i = 0; i < count; ++i) {
        readings.push_back(i % 2 == 0 ? b0 : b1);
    }
    return readings;
}

struct Calibration {
    double sp, idc, t;
};

TEST(Journey, AnOperatorsDayFromPlateSearchToTheSavedTest) {
    testing::Station station;
    // Plates 3 and 4 were calibrated at 300 Hz on an earlier day; plates 1 and 2 get a new
    // calibration today.
    station.Seed({{"FrequenciaP3", "300"},
                  {"sp3", "100"},
                  {"idc3", "2"},
                  {"t3", "1,5"},
                  {"FrequenciaP4", "300"},
                  {"sp4", "10"},
                  {"idc4", "0,25"}});
    MainWindow& window = station.Start();
    StationState& state = window.State();
    auto& dialogs = station.dialogs;

    // Communication: tick all four plates and let the screen's timer find them.
    {
        CommunicationScreen screen(state, dialogs, &window);
        screen.show();
        for (int n = 2; n <= kPlateCount; ++n) {
            screen.findChild<QCheckBox*>(QStringLiteral("cbP%1Ativa").arg(n))->click();
        }
        const auto status = [&](int n) {
            return screen.findChild<QLabel*>(QStringLiteral("lbP%1Status").arg(n))->text();
        };
        const auto allFound = [&] {
            for (int n = 1; n <= kPlateCount; ++n) {
                if (status(n).toStdString() !=
                    "Dispositivo encontrado. Porta: " + station.Port(n)) {
                    return false;
                }
            }
            return true;
        };
        for (int tick = 0; tick < 4 && !allFound(); ++tick) {
            testing::RunCommunicationPass(screen);
        }
        EXPECT_TRUE(allFound()) << status(1).toStdString() << " | " << status(4).toStdString();
        screen.OnBackClicked();
    }
    EXPECT_TRUE(window.isVisible());
    for (int n = 1; n <= kPlateCount; ++n) {
        EXPECT_EQ(station.Stored("Porta" + std::to_string(n)), station.Port(n));
        EXPECT_EQ(station.Stored("check" + std::to_string(n)), "1");
        EXPECT_FALSE(state.links.Slot(n)) << "the screen releases what it found";
    }

    // Frequency: 300 Hz.
    {
        FrequencyScreen screen(state, dialogs, &window);
        screen.show();
        screen.option300->click();
        screen.OnBackClicked();
    }
    EXPECT_EQ(station.Stored("Frequencia"), "300");

    // Calibration of plates 1 and 2 with scripted readings and a typed load.
    {
        bool firstActivation = true;
        CalibrationScreen screen(state, dialogs, window.Progress(), firstActivation, &window);
        screen.show();
        QApplication::processEvents();
        EXPECT_EQ(state.config.testFrequency, 300);
        const struct {
            int plate;
            std::vector<std::uint32_t> readings;
            QString load;
        } today[] = {{1, TwoPhases(1000, 1001, 1125, 1126, 300), QStringLiteral("250")},
                     {2, TwoPhases(1999, 2001, 2400, 2400, 300), QStringLiteral("100")}};
        for (const auto& c : today) {
            QLineEdit* load = screen.Plate(c.plate).loadField;
            load->clear();
            Type(load, c.load);
            station.Plate(c.plate).SetShape(sim::LoadShape::Script);
            station.Plate(c.plate).SetReadings(c.readings);
            dialogs.messages.clear();
            screen.OnCalibrateClicked(c.plate);
            testing::Station::SpinWhile([&] { return screen.Preparing(); });
            const std::string n = std::to_string(c.plate);
            EXPECT_EQ(
                dialogs.Texts(),
                (std::vector<std::string>{
                    "Deixe a Placa " + n + " sem peso e clique em OK para efetuar a Calibração.",
                    "Calibração sem Peso realizada com sucesso!",
                    "Coloque a Carga de " + c.load.toStdString() +
                        " (kgf) e clique em OK para efetuar a Calibração.",
                    "Calibração com Peso realizada com sucesso!"}));
            EXPECT_TRUE(screen.ReadingTimer()->isActive());
        }
        screen.OnBackClicked();
    }
    EXPECT_EQ(station.Stored("sp1"), "1000,500");
    EXPECT_EQ(station.Stored("idc1"), "0,5000");
    EXPECT_EQ(station.Stored("sp2"), "2000,000");
    EXPECT_EQ(station.Stored("idc2"), "4,0000");
    EXPECT_EQ(station.Stored("FrequenciaP1"), "300");
    EXPECT_EQ(station.Stored("FrequenciaP2"), "300");
    EXPECT_EQ(station.Stored("sp3"), "100");  // the other plates keep theirs
    EXPECT_EQ(station.Stored("idc4"), "0,25");

    // The test: counter plates, the real idle timer, stop, save.
    for (int n = 1; n <= kPlateCount; ++n) {
        station.Plate(n).SetShape(sim::LoadShape::Counter);
    }
    dialogs.messages.clear();
    dialogs.answers = {DialogResult::Ok, DialogResult::Yes};
    const std::string path = window.ExportFolder().toStdString() + "/Kelvaro_1.csv";
    dialogs.saveFiles = {path};
    window.OnStartClicked();
    station.FinishStartUp();
    ASSERT_TRUE(window.IdlePassRunning()) << (dialogs.messages.empty() ? "" : dialogs.Last().text);
    EXPECT_EQ(window.startButton->text(), QStringLiteral(" Parar"));
    EXPECT_FALSE(window.calibrationButton->isEnabled());
    EXPECT_FALSE(window.closeButton->isEnabled());
    station.RunUntil(600);
    EXPECT_TRUE(window.loadChart->Live());
    window.OnStartClicked();
    station.FinishStartUp();
    const int samples = window.Run().Samples().Count();
    ASSERT_GE(samples, 600);
    EXPECT_FALSE(window.IdlePassRunning());
    EXPECT_FALSE(window.loadChart->Live());
    EXPECT_EQ(window.sampleCountLabel->text().toStdString(),
              " Amostras: " + std::to_string(samples));
    EXPECT_EQ(window.startButton->text(), QStringLiteral(" Iniciar"));
    EXPECT_TRUE(window.calibrationButton->isEnabled());
    EXPECT_TRUE(window.closeButton->isEnabled());
    EXPECT_EQ(dialogs.Texts(), (std::vector<std::string>{
                                   "Clique em OK para Inicar o Teste!", "Deseja salvar o teste?",
                                   "O exportação para o Excel foi concluída com sucesso"}));
    ASSERT_EQ(dialogs.saveRequests.size(), 1u);
    EXPECT_EQ(dialogs.saveRequests[0].fileName, "Kelvaro_1");
    EXPECT_EQ(dialogs.saveRequests[0].initialFolder, window.ExportFolder().toStdString());
    EXPECT_EQ(dialogs.openedFiles, std::vector<std::string>{path});
    EXPECT_EQ(station.Stored("Teste"), "1");
    for (int n = 1; n <= kPlateCount; ++n) {
        // Two Stops: the start-up's own before its Identify, then the stop's.
        EXPECT_TRUE(station.Plate(n).WaitForRequests(kFnStop, 2, 1000)) << n;
        EXPECT_FALSE(station.Plate(n).Streaming()) << n;
    }

    // The journal: closed with the saved test's number, every reading as the plates sent it, and
    // the values the run converted with.
    const std::vector<JournalSummary> journals = ListJournals(station.JournalFolder());
    ASSERT_EQ(journals.size(), 1u);
    JournalContents journal;
    ASSERT_TRUE(ReadJournal(journals[0].path, journal));
    EXPECT_EQ(journal.description.state, JournalState::Closed);
    EXPECT_EQ(journal.description.testNumber, 1);
    EXPECT_EQ(journal.description.frequency, 300);
    ASSERT_EQ(journal.records.size(), static_cast<std::size_t>(samples));
    for (int record = 0; record < samples; ++record) {
        for (int n = 1; n <= kPlateCount; ++n) {
            ASSERT_EQ(journal.records[static_cast<std::size_t>(record)][testing::Station::Index(n)],
                      station.Sample(record, n))
                << "record " << record << " plate " << n;
        }
    }

    // The file: ten heading lines in Windows-1252, then every sample in order.
    const std::vector<std::string> lines = Lines(ReadFileBytes(path));
    ASSERT_EQ(lines.size(), 10u + static_cast<std::size_t>(samples));
    std::vector<std::string> heading{"Avalia\xE7\xE3o;1;", "Frequ\xEAncia;300;", ";"};
    for (int n = 1; n <= kPlateCount; ++n) {
        heading.push_back("Placa " + std::to_string(n) + ";" + station.Port(n) + ";");
    }
    heading.insert(heading.end(), {";", "Am Geral;Am1: kgf;Am2: kgf;Am3: kgf;Am4: kgf;", ";"});
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 10), heading);

    // Each plate's counter reading k converts as (k - sp) / idc - t with today's values for
    // plates 1 and 2; the first row gives each plate's first report number.
    const std::array<Calibration, kPlateCount> calibration{
        {{1000.5, 0.5, 0}, {2000, 4, 0}, {100, 2, 1.5}, {10, 0.25, 0}}};
    std::array<double, kPlateCount> first{};
    for (std::size_t p = 0; p < kPlateCount; ++p) {
        const Calibration& c = calibration[p];
        const std::string text = Fields(lines[10])[p + 1];
        std::string dotted = text;
        std::replace(dotted.begin(), dotted.end(), ',', '.');
        first[p] = std::round((std::stod(dotted) + c.t) * c.idc + c.sp);
        EXPECT_GE(first[p], 0) << "plate " << p + 1;
    }
    for (int row = 1; row <= samples; ++row) {
        const std::vector<std::string> fields = Fields(lines[static_cast<std::size_t>(9 + row)]);
        ASSERT_EQ(fields.size(), 5u) << "row " << row;
        ASSERT_EQ(fields[0], std::to_string(row));
        for (std::size_t p = 0; p < kPlateCount; ++p) {
            const Calibration& c = calibration[p];
            const double reading = first[p] + row - 1;
            ASSERT_EQ(fields[p + 1], Comma3((reading - c.sp) / c.idc - c.t))
                << "plate " << p + 1 << " row " << row;
        }
    }
    for (std::size_t p = 0; p < kPlateCount; ++p) {
        const JournalPlate& plate = journal.description.plates[p];
        EXPECT_TRUE(plate.active) << p;
        EXPECT_EQ(plate.port, station.Port(static_cast<int>(p + 1))) << p;
        EXPECT_EQ(plate.unit, "kgf") << p;
        EXPECT_EQ(plate.calibration.zeroOffset, calibration[p].sp) << p;
        EXPECT_EQ(plate.calibration.index, calibration[p].idc) << p;
        EXPECT_EQ(plate.calibration.tare, calibration[p].t) << p;
    }
}

// Picks a row of the recent-runs list, or a file, as the operator would in the list's dialog.
class ScriptedChooser : public RunChooser {
  public:
    std::deque<std::function<std::optional<std::string>(const std::vector<RecentRun>&)>> picks;
    std::vector<RecentRun> lastShown;

    std::optional<std::string> Choose(const std::vector<RecentRun>& recent) override {
        lastShown = recent;
        auto pick = std::move(picks.front());
        picks.pop_front();
        return pick(recent);
    }
};

// "Não" by mistake is mended from the recent list: the reopened run saves the file "Sim" would
// have saved, byte for byte, and the journal learns its number. What is not a run is refused by
// name, and the run on the chart stays.
TEST(Journey, ARunNotSavedIsReopenedFromTheRecentListAndSavedAsAtTheStop) {
    testing::Station station;
    station.SeedReadyPlates(600);
    station.Seed({{"u2", "N"}, {"Teste", "6"}, {"check4", "0"}});
    MainWindow& window = station.Start();
    auto chooser = std::make_unique<ScriptedChooser>();
    ScriptedChooser& picks = *chooser;
    window.SetRunChooser(std::move(chooser));
    testing::ScriptedDialogs& dialogs = station.dialogs;

    dialogs.answers = {DialogResult::Ok, DialogResult::No};
    window.OnStartClicked();
    station.FinishStartUp();
    ASSERT_TRUE(window.IdlePassRunning()) << (dialogs.messages.empty() ? "" : dialogs.Last().text);
    station.RunUntil(300);
    window.OnStartClicked();
    station.FinishStartUp();
    const int samples = window.Run().Samples().Count();
    ASSERT_GE(samples, 300);
    EXPECT_EQ(station.Stored("Teste"), "6");
    // " Salvar" offers the run at once; here it is reopened from the list, as after a restart.
    EXPECT_TRUE(window.saveButton->isEnabled());
    ASSERT_TRUE(window.ShownRun().has_value());
    EXPECT_EQ(window.ShownRun()->heading.testNumber, 0);

    // What "Sim" would have saved; then the number is given back, as if it had not been.
    const std::string atTheStop = window.ExportFolder().toStdString() + "/sim.csv";
    dialogs.answers = {DialogResult::Yes};
    dialogs.saveFiles = {atTheStop};
    StoredRun stopped;
    stopped.loads.assign(window.Run().Samples().Loads().begin(),
                         window.Run().Samples().Loads().end());
    ASSERT_EQ(window.Archive().SaveStoppedRun(std::move(stopped), nullptr).heading.testNumber, 7);
    station.Seed({{"Teste", "6"}});

    picks.picks.emplace_back([](const std::vector<RecentRun>& recent) { return recent[0].path; });
    window.OnOpenClicked();
    ASSERT_EQ(picks.lastShown.size(), 1u);
    EXPECT_EQ(picks.lastShown[0].testNumber, "não salvo");
    EXPECT_EQ(picks.lastShown[0].samples, std::to_string(samples));
    EXPECT_EQ(picks.lastShown[0].plates, "1, 2, 3");
    ASSERT_TRUE(window.ShownRun().has_value()) << dialogs.Last().text;
    EXPECT_TRUE(window.saveButton->isEnabled());
    EXPECT_EQ(window.loadChart->Points(1).size(), static_cast<std::size_t>(samples));
    EXPECT_TRUE(window.loadChart->Points(4).empty());
    EXPECT_EQ(window.sampleCountLabel->text().toStdString().rfind(
                  " Amostras: " + std::to_string(samples) + "  (teste de ", 0),
              0u);

    const std::string reopened = window.ExportFolder().toStdString() + "/Kelvaro_7.csv";
    dialogs.messages.clear();
    dialogs.saveFiles = {reopened};
    window.OnSaveClicked();
    EXPECT_EQ(dialogs.Texts(),
              std::vector<std::string>{"O exportação para o Excel foi concluída com sucesso"});
    EXPECT_EQ(dialogs.saveRequests.back().fileName, "Kelvaro_7");
    EXPECT_EQ(ReadFileBytes(reopened), ReadFileBytes(atTheStop));
    EXPECT_EQ(station.Stored("Teste"), "7");
    EXPECT_EQ(ListRecentRuns(station.JournalFolder())[0].testNumber, "7");
    EXPECT_EQ(window.sampleCountLabel->text().toStdString().rfind(
                  " Amostras: " + std::to_string(samples) + "  (teste 7 de ", 0),
              0u);

    // The saved file opened again saves the same bytes under its own number.
    picks.picks.emplace_back([&](const std::vector<RecentRun>&) { return reopened; });
    window.OnOpenClicked();
    ASSERT_TRUE(window.ShownRun().has_value());
    EXPECT_FALSE(window.ShownRun()->fromJournal);
    EXPECT_EQ(window.ShownRun()->active, (std::array<bool, 4>{true, true, true, false}));
    const std::string again = window.ExportFolder().toStdString() + "/again.csv";
    dialogs.saveFiles = {again};
    window.OnSaveClicked();
    EXPECT_EQ(dialogs.saveRequests.back().fileName, "Kelvaro_7");
    EXPECT_EQ(ReadFileBytes(again), ReadFileBytes(atTheStop));
    EXPECT_EQ(station.Stored("Teste"), "7");

    // Neither a foreign file nor a damaged journal replaces the run on the chart.
    const std::string foreign = window.ExportFolder().toStdString() + "/planilha.csv";
    WriteFileBytes(foreign, "Nome;Peso\r\nAna;61,5\r\n");
    const std::string damaged = station.JournalFolder() + "/run-2026-01-01T00-00-00.kjr";
    WriteFileBytes(damaged, "KELVJRNL");
    const auto files =
        std::distance(std::filesystem::directory_iterator(window.ExportFolder().toStdString()), {});
    for (const auto& [path, refusal] :
         {std::pair{foreign, "Linha 1: "}, std::pair{damaged, "não pode ser lido"}}) {
        dialogs.messages.clear();
        picks.picks.emplace_back([path = path](const std::vector<RecentRun>&) { return path; });
        window.OnOpenClicked();
        ASSERT_EQ(dialogs.messages.size(), 1u) << path;
        EXPECT_NE(dialogs.Last().text.find(refusal), std::string::npos) << dialogs.Last().text;
        EXPECT_NE(dialogs.Last().text.find(path), std::string::npos) << dialogs.Last().text;
        EXPECT_EQ(dialogs.Last().icon, DialogIcon::Error);
        EXPECT_EQ(window.ShownRun()->path, reopened);
        EXPECT_EQ(window.loadChart->Points(1).size(), static_cast<std::size_t>(samples));
    }
    EXPECT_EQ(
        std::distance(std::filesystem::directory_iterator(window.ExportFolder().toStdString()), {}),
        files);
}

}  // namespace
}  // namespace kelvaro
