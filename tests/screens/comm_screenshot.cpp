// Opens the communication screen with all four plates ticked, lets it find the plates that
// `kelvaro-plates` publishes, and saves the window as a PNG for the documentation.
//   comm-screenshot OUTPUT.png [SECONDS]
// The settings go to a temporary file: the operator's own store is never touched.
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPixmap>
#include <QTemporaryDir>
#include <cstdio>

#include "screens/TfrmConfCOM.h"
#include "ui/QtDialogs.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: comm-screenshot OUTPUT.png [SECONDS]\n");
        return 2;
    }
    const int seconds = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 15;
    QTemporaryDir settingsDir;
    if (!settingsDir.isValid()) {
        std::fprintf(stderr, "no temporary folder for the settings\n");
        return 1;
    }

    kelvaro::StationState state;
    state.settingsPath = settingsDir.filePath(QStringLiteral("settings.ini")).toStdString();
    kelvaro::QtDialogs dialogs;
    QWidget mainWindow;
    mainWindow.setWindowTitle(QString::fromUtf8(kelvaro::kMainCaption));
    mainWindow.setGeometry(0, 0, 1088, 710);
    mainWindow.show();

    kelvaro::TfrmConfCOM screen(state, dialogs, &mainWindow);
    screen.show();
    for (int plate = 1; plate <= kelvaro::kPlateCount; ++plate) {
        screen.findChild<QCheckBox*>(QStringLiteral("cbP%1Ativa").arg(plate))->setChecked(true);
    }

    const auto allFound = [&] {
        for (int plate = 1; plate <= kelvaro::kPlateCount; ++plate) {
            const auto* status =
                screen.findChild<QLabel*>(QStringLiteral("lbP%1Status").arg(plate));
            if (!status->text().startsWith(QStringLiteral("Dispositivo encontrado"))) {
                return false;
            }
        }
        return true;
    };
    QElapsedTimer clock;
    clock.start();
    while (!allFound() && clock.elapsed() < seconds * 1000) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    // One more pass so the status line shows its steady blink state rather than a half frame.
    QApplication::processEvents();
    const bool found = allFound();
    if (!screen.grab().save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "could not write %s\n", argv[1]);
        return 1;
    }
    std::fprintf(stderr, found ? "four plates found\n" : "not every plate was found\n");
    return found ? 0 : 1;
}
