// Opens the calibration screen with two virtual plates reading live and saves a picture of it:
//   calibration_screenshot <output.png>
// Meant to run under a real (virtual) X server, e.g. xvfb-run, so the fonts and styles are
// those an operator sees.
#include <QApplication>
#include <QEventLoop>
#include <QPixmap>
#include <QTimer>
#include <cstdio>

#include "CalibrationFakes.h"
#include "ScriptedDialogs.h"
#include "TempDir.h"
#include "calibration/TfrmCalibracao.h"
#include "plate-sim/VirtualPlate.h"
#include "settings/SettingsStore.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output.png>\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    using namespace kelvaro;

    testing::TempDir dir;
    sim::PlateOptions first;
    first.zeroCounts = 8388608.0;
    first.countsPerUnit = 1000.0;
    first.load = 42.5;
    first.noiseCounts = 40.0;
    sim::VirtualPlate plate1(first);
    sim::PlateOptions second = first;
    second.load = 71.25;
    second.zeroCounts = 8391000.0;
    second.seed = 7;
    sim::VirtualPlate plate2(second);
    if (!plate1.Ok() || !plate2.Ok()) {
        std::fprintf(stderr, "no pseudo-terminals for the virtual plates\n");
        return 1;
    }

    StationState state;
    state.settingsPath = dir.File("Tovamu.Kelvaro.ini");
    state.decimalSeparator = ',';
    {
        SettingsStore store(state.settingsPath);
        const auto put = [&](const char* key, const std::string& value) {
            store.WriteString(kSettingsSection, key, value);
        };
        put("Porta1", plate1.DevicePath());
        put("Porta2", plate2.DevicePath());
        put("check1", "1");
        put("check2", "1");
        put("sp1", "8388608,000");
        put("IDC1", "1000,0000");
        put("sp2", "8391000,000");
        put("IDC2", "1000,0000");
        put("t2", "20,000");
        put("btt2", "Remover Tara");
        put("u3", "N");
        if (!store.Close()) {
            return 1;
        }
    }

    testing::ScriptedDialogs dialogs;
    testing::CountingProgress progress;
    QWidget mainWindow;
    mainWindow.setWindowTitle(QString::fromUtf8(kMainCaption));
    mainWindow.setGeometry(40, 40, 697, 668);
    mainWindow.show();

    TfrmCalibracao screen(state, dialogs, progress, &mainWindow);
    screen.show();
    QEventLoop wait;
    QTimer::singleShot(2600, &wait, &QEventLoop::quit);  // a few reading ticks
    wait.exec();

    const bool saved = screen.grab().save(QString::fromLocal8Bit(argv[1]), "PNG");
    screen.close();
    return saved ? 0 : 1;
}
