// Draws the main window and the frequency screen as the operator sees them and saves the
// pictures for the documentation: shell_screenshots <output folder>. Run it on a real display
// (or Xvfb); it keeps its settings in a temporary folder.
#include <QApplication>
#include <QDir>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>
#include <cstdio>

#include "ScriptedDialogs.h"
#include "TempDir.h"
#include "app/TfrmPrincipal.h"
#include "screens/TfrmFrequencia.h"
#include "ui/PictureButton.h"
#include "ui/PortugueseDialogs.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    kelvaro::InstallPortugueseTranslation(application);
    const QString output = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(output);

    kelvaro::testing::TempDir dir;
    kelvaro::testing::ScriptedDialogs dialogs;
    kelvaro::TfrmPrincipal window(
        dialogs, {dir.File("Tovamu.Kelvaro.ini"), QString::fromStdString(dir.File("bin"))});
    // Without a window manager nothing maximises: take the whole desktop instead.
    window.setGeometry(QGuiApplication::primaryScreen()->availableGeometry());
    window.show();

    bool saved = true;
    QTimer::singleShot(500, [&] {
        saved &= window.grab().save(output + QStringLiteral("/main-window.png"));
        QTimer::singleShot(0, [&] {
            QWidget* screen = QApplication::activeModalWidget();
            QTimer::singleShot(500, [&, screen] {
                auto* frequency = qobject_cast<kelvaro::TfrmFrequencia*>(screen);
                if (frequency == nullptr) {
                    saved = false;
                    return;
                }
                frequency->cbF300->click();
                QTimer::singleShot(200, [&, frequency] {
                    saved &= frequency->grab().save(output + QStringLiteral("/frequency.png"));
                    frequency->btVoltar->click();
                    QTimer::singleShot(200, [&] { window.close(); });
                });
            });
        });
        window.btFrequencia->click();
    });
    QApplication::exec();
    std::printf("%s\n", saved ? "saved main-window.png and frequency.png" : "screenshots failed");
    return saved ? 0 : 1;
}
