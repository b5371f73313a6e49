// How long the windows stand frozen while plates are looked for and read: the communication
// screen with three dead ports among four plates, and the calibration screen's live reading of
// four silent plates. Prints the longest time the event loop could not keep a 5 ms heartbeat.
#include <stdlib.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "BenchFakes.h"
#include "calibration/CalibrationScreen.h"
#include "device/SerialChannel.h"
#include "discovery/CommunicationScreen.h"
#include "plate-sim/VirtualPlate.h"
#include "settings/SettingsStore.h"

namespace kelvaro {
namespace {

using bench::BenchDialogs;
using bench::NullProgress;

struct Stall {
    long long longestMs = 0;
    long long elapsedMs = 0;
};

// Runs the event loop until `done` or `timeoutMs`, measuring the longest heartbeat gap.
Stall RunEvents(const std::function<bool()>& done, int timeoutMs) {
    QEventLoop loop;
    QElapsedTimer clock;
    QElapsedTimer sinceBeat;
    clock.start();
    sinceBeat.start();
    Stall stall;
    QTimer beat;
    beat.setTimerType(Qt::PreciseTimer);
    beat.setInterval(5);
    QObject::connect(&beat, &QTimer::timeout, &loop, [&] {
        stall.longestMs = std::max(stall.longestMs, sinceBeat.restart());
        if (done() || clock.elapsed() >= timeoutMs) {
            loop.quit();
        }
    });
    beat.start();
    loop.exec();
    stall.elapsedMs = clock.elapsed();
    return stall;
}

int Run() {
    char pattern[] = "/tmp/kelvaro-responsiveness-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::filesystem::path dir(pattern);
    std::filesystem::create_directories(dir / "sys" / "class" / "tty");
    std::filesystem::create_directories(dir / "dev");
    const std::string ports = (dir / "ports").string();

    std::vector<std::unique_ptr<sim::VirtualPlate>> plates;
    std::vector<std::string> plateDevices;
    for (int n = 1; n <= kPlateCount; ++n) {
        plates.push_back(std::make_unique<sim::VirtualPlate>());
        plates.back()->Publish(ports, "COM" + std::to_string(n));
        plateDevices.push_back(plates.back()->DevicePath());
    }
    for (const char* name : {"COM15", "COM25", "COM35"}) {
        plates.push_back(std::make_unique<sim::VirtualPlate>());
        plates.back()->Inject({sim::FaultKind::Silence, 0});
        plates.back()->Publish(ports, name);
    }

    BenchDialogs dialogs;
    int result = 0;
    {
        StationState state;
        state.config.settingsPath = (dir / "settings.ini").string();
        state.config.portRoots = {(dir / "sys" / "class" / "tty").string(), (dir / "dev").string(),
                                  ports};
        {
            SettingsStore store(state.config.settingsPath);
            for (int n = 1; n <= kPlateCount; ++n) {
                store.WriteBool(kSettingsSection, "check" + std::to_string(n), true);
            }
            store.Close();
        }
        CommunicationScreen screen(state, dialogs, nullptr);
        screen.show();
        const auto allFound = [&] {
            return std::all_of(state.links.found.begin(), state.links.found.end(),
                               [](bool found) { return found; });
        };
        const Stall search = RunEvents(allFound, 15000);
        const Stall checks = RunEvents([] { return false; }, 4000);
        std::printf("communication screen, 4 plates and 3 dead ports (7 ports):\n");
        std::printf("  all four plates found after      %6lld ms%s\n", search.elapsedMs,
                    allFound() ? "" : " (NOT all found)");
        std::printf("  longest stall while searching    %6lld ms\n", search.longestMs);
        std::printf("  longest stall over 2 more passes %6lld ms\n", checks.longestMs);
        result = allFound() ? 0 : 1;
        screen.close();
    }
    for (int n = 1; n <= kPlateCount; ++n) {
        plates[static_cast<std::size_t>(n - 1)]->Inject({sim::FaultKind::Silence, 0});
    }
    {
        StationState state;
        state.config.settingsPath = (dir / "calibration.ini").string();
        bool firstActivation = false;
        {
            SettingsStore store(state.config.settingsPath);
            for (int n = 1; n <= kPlateCount; ++n) {
                const std::string k = std::to_string(n);
                store.WriteBool(kSettingsSection, "check" + k, true);
                store.WriteString(kSettingsSection, "Porta" + k,
                                  plateDevices[static_cast<std::size_t>(n - 1)]);
            }
            store.Close();
        }
        NullProgress progress;
        CalibrationScreen screen(state, dialogs, progress, firstActivation, nullptr);
        screen.show();
        const Stall reading = RunEvents([] { return false; }, 4000);
        std::printf("calibration screen, 4 silent plates, 4 s of live reading:\n");
        std::printf("  longest stall                    %6lld ms\n", reading.longestMs);
        std::printf("  plate 1 shows                    %s / %s\n",
                    screen.Plate(1).readingField->text().toStdString().c_str(),
                    screen.Plate(1).convertedLoadField->text().toStdString().c_str());
        screen.close();
    }
    plates.clear();
    std::filesystem::remove_all(dir);
    return result;
}

}  // namespace
}  // namespace kelvaro

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    // The plates here are virtual: their pseudo-terminals stand for serial ports.
    kelvaro::AllowPseudoTerminalPorts(true);
    return kelvaro::Run();
}
