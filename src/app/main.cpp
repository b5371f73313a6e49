// The station's program entry: the application object, its title, the main window, the loop.
// `--virtual-plates` (or KELVARO_VIRTUAL_PLATES=1) starts it for kelvaro-plates' virtual plates.
#include <QTimer>
#include <csignal>
#include <cstdlib>

#include "KelvaroVersion.h"
#include "app/MainWindow.h"
#include "app/StationApplication.h"
#include "app/TerminationSignals.h"
#include "app/X11Keyboard.h"
#include "device/SerialChannel.h"
#include "settings/SettingsStore.h"
#include "station/Dialogs.h"
#include "ui/PortugueseDialogs.h"
#include "ui/QtDialogs.h"

int main(int argc, char** argv) {
    // A file-size limit must fail a write (the journal then stops, the export reports it)
    // rather than kill the station in the middle of a run.
    std::signal(SIGXFSZ, SIG_IGN);
    kelvaro::StationApplication application(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(kelvaro::kApplicationTitle));
    QApplication::setApplicationVersion(QString::fromUtf8(kelvaro::kVersion));
    kelvaro::InstallPortugueseTranslation(application);

    // Virtual plates are pseudo-terminals: they are listed and opened only when asked for.
    const bool virtualPlates = kelvaro::StartedForVirtualPlates(
        QCoreApplication::arguments(), std::getenv("KELVARO_VIRTUAL_PLATES"));
    kelvaro::AllowPseudoTerminalPorts(virtualPlates);

    kelvaro::QtDialogs dialogs(kelvaro::KeysDownOnX11Server);
    application.SetErrorReporter(&dialogs);
    kelvaro::MainWindow mainWindowScreen(
        dialogs, {kelvaro::SettingsStore::DefaultPath(), {}, virtualPlates});
    kelvaro::TerminationSignals terminationSignals;
    mainWindowScreen.EndSessionOn(terminationSignals);
    mainWindowScreen.showMaximized();
    // Once the window is up, so the question stands over it.
    QTimer::singleShot(0, &mainWindowScreen,
                       [&mainWindowScreen] { mainWindowScreen.OnShownAtStart(); });
    return QApplication::exec();
}
