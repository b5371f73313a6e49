// A whole station for end-to-end tests: four virtual plates published as COM1..COM4 in a
// private port folder, the settings and journals in a temporary folder and the real main window
// over them.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ScriptedDialogs.h"
#include "TempDir.h"
#include "app/MainWindow.h"
#include "device/SerialChannel.h"
#include "plate-sim/VirtualPlate.h"
#include "run/TestRun.h"
#include "settings/SettingsStore.h"

namespace kelvaro::testing {

class Station {
  public:
    Station() {
        std::filesystem::create_directories(dir.Path() / "sys" / "class" / "tty");
        std::filesystem::create_directories(dir.Path() / "dev");
        sim::PlateOptions counter;
        counter.shape = sim::LoadShape::Counter;
        for (int n = 1; n <= kPlateCount; ++n) {
            auto& plate = plates[Index(n)];
            plate = std::make_unique<sim::VirtualPlate>(counter);
            ports[Index(n)] = plate->Publish(dir.File("ports"), "COM" + std::to_string(n));
        }
    }

    void Seed(const std::map<std::string, std::string>& values) const {
        SettingsStore store(SettingsPath());
        for (const auto& [key, value] : values) {
            store.WriteString(kSettingsSection, key, value);
        }
        store.Close();
    }
    // Every plate ticked on its port and calibrated (by default values) at `frequency`.
    void SeedReadyPlates(int frequency) const {
        std::map<std::string, std::string> values{{"Frequencia", std::to_string(frequency)}};
        for (int n = 1; n <= kPlateCount; ++n) {
            const std::string k = std::to_string(n);
            values["check" + k] = "1";
            values["Porta" + k] = Port(n);
            values["FrequenciaP" + k] = std::to_string(frequency);
        }
        Seed(values);
    }
    std::string Stored(const std::string& key) const {
        SettingsStore store(SettingsPath());
        return store.ReadString(kSettingsSection, key, "<none>");
    }

    // The main window as the program builds it, with the test's folders; the separator is the
    // one a Portuguese desktop gives the window (the tests run in the C locale), unless
    // `ownLocale` keeps the one the window took from the test program's locale.
    MainWindow& Start(bool ownLocale = false) {
        window = std::make_unique<MainWindow>(
            dialogs, MainWindowOptions{SettingsPath(), QString::fromStdString(dir.File("bin")),
                                       false, JournalFolder()});
        StationState& state = window->State();
        if (!ownLocale) {
            state.config.decimalSeparator = ',';
        }
        state.config.portRoots = {dir.File("sys/class/tty"), dir.File("dev"), dir.File("ports")};
        window->show();
        return *window;
    }

    // The main window as main() builds it, started for virtual plates or not: the port list
    // is left as the window sets it, but for the fake, empty sysfs and /dev.
    MainWindow& StartAsProgram(bool virtualPlates) {
        window = std::make_unique<MainWindow>(
            dialogs, MainWindowOptions{SettingsPath(), QString::fromStdString(dir.File("bin")),
                                       virtualPlates, JournalFolder()});
        StationState& state = window->State();
        state.config.portRoots.sysClassTty = dir.File("sys/class/tty");
        state.config.portRoots.dev = dir.File("dev");
        window->show();
        return *window;
    }

    // Runs the event loop while `busy` holds (a plate preparation's timer steps), at most
    // `timeoutMs`.
    static void SpinWhile(const std::function<bool()>& busy, int timeoutMs = 60000) {
        QElapsedTimer clock;
        clock.start();
        while (busy() && clock.elapsed() < timeoutMs) {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        }
    }
    // Lets the start-up's timer steps run until the test is on or the start-up gave up.
    void FinishStartUp() const {
        SpinWhile([this] { return window->Run().IsStartingUp(); });
    }
    // Lets the real idle timer run until `samples` are taken or the run stops by itself.
    int RunUntil(int samples, int timeoutMs = 20000) const {
        QElapsedTimer clock;
        clock.start();
        while (window->IdlePassRunning() && window->Run().Samples().Count() < samples &&
               clock.elapsed() < timeoutMs) {
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return window->Run().Samples().Count();
    }
    // A plate's reading as acquired, and its load after the stop.
    double Sample(int record, int plate) const {
        return window->Run().Samples().Raw()[static_cast<std::size_t>(record)][Index(plate)];
    }
    double Load(int record, int plate) const {
        return window->Run().Samples().Loads()[static_cast<std::size_t>(record)][Index(plate)];
    }

    std::string SettingsPath() const { return dir.File("Tovamu.Kelvaro.ini"); }
    std::string JournalFolder() const { return dir.File("journal"); }
    const std::string& Port(int n) const { return ports[Index(n)]; }
    sim::VirtualPlate& Plate(int n) const { return *plates[Index(n)]; }
    static std::size_t Index(int n) { return static_cast<std::size_t>(n - 1); }

    TempDir dir;
    std::array<std::unique_ptr<sim::VirtualPlate>, kPlateCount> plates;
    std::array<std::string, kPlateCount> ports;
    ScriptedDialogs dialogs;
    // Last: the window closes its channels before the plates go.
    std::unique_ptr<MainWindow> window;
};

// Runs the event loop until `done` holds or `timeoutMs` have passed, and returns the longest time
// in milliseconds that it could not keep a 5 ms heartbeat: how long the windows stood frozen.
inline long long RunEventsUntil(const std::function<bool()>& done, int timeoutMs) {
    QEventLoop loop;
    QElapsedTimer clock;
    QElapsedTimer sinceBeat;
    clock.start();
    sinceBeat.start();
    long long longest = 0;
    QTimer beat;
    beat.setTimerType(Qt::PreciseTimer);
    beat.setInterval(5);
    QObject::connect(&beat, &QTimer::timeout, &loop, [&] {
        longest = std::max(longest, sinceBeat.restart());
        if (done() || clock.elapsed() >= timeoutMs) {
            loop.quit();
        }
    });
    beat.start();
    loop.exec();
    return longest;
}

// One refresh pass of the communication screen run to its end: the pass goes on from the
// screen's own step timer while the event loop runs, as on the operator's desktop.
template <typename CommunicationScreen>
void RunCommunicationPass(CommunicationScreen& screen) {
    screen.OnScanTick();
    const auto* step = screen.template findChild<QTimer*>(QStringLiteral("tmPasso"));
    if (step != nullptr) {
        RunEventsUntil([step] { return !step->isActive(); }, 10000);
    }
}

// "0.000" with a comma, for loads that are exact in binary.
inline std::string Comma3(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", value);
    std::string out = text;
    for (char& c : out) {
        if (c == '.') {
            c = ',';
        }
    }
    return out == "-0,000" ? "0,000" : out;
}

// CR LF lines of a file, without their ends.
inline std::vector<std::string> Lines(const std::string& bytes) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2) {
        lines.push_back(bytes.substr(start, end - start));
    }
    if (start < bytes.size()) {
        lines.push_back(bytes.substr(start));  // an unterminated tail shows as a line of its own
    }
    return lines;
}

inline std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t end; (end = line.find(';', start)) != std::string::npos; start = end + 1) {
        fields.push_back(line.substr(start, end - start));
    }
    return fields;
}

}  // namespace kelvaro::testing
