// The station's program entry: the application object, its title, the main window, the loop.
#include "app/StationApplication.h"
#include "app/TfrmPrincipal.h"
#include "settings/SettingsStore.h"
#include "station/Dialogs.h"
#include "ui/PortugueseDialogs.h"
#include "ui/QtDialogs.h"

int main(int argc, char** argv) {
    kelvaro::StationApplication application(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(kelvaro::kApplicationTitle));
    QApplication::setApplicationVersion(QStringLiteral("1.0.0.8"));
    kelvaro::InstallPortugueseTranslation(application);

    kelvaro::QtDialogs dialogs;
    application.SetErrorReporter(&dialogs);
    kelvaro::TfrmPrincipal frmPrincipal(dialogs, {kelvaro::SettingsStore::DefaultPath(), {}});
    frmPrincipal.showMaximized();
    return QApplication::exec();
}
