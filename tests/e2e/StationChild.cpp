// A station run as a child process by the signal tests: the real main window over the plates
// named in its settings file (argument 1, whose folder also takes the journals; argument 2 is
// the program folder), the termination signals caught as the program catches them, and a test
// started at once, the confirmation answered by scripted dialogs. It prints "running" once the run
// is on, "kept N" once it keeps 600 samples and, after its event loop has ended, the samples the
// run kept and the questions it asked.
// With "ask" (argument 3) it stops the run after a second and, at "Deseja salvar o teste?",
// prints "asking" and the samples kept, then waits for ever for the answer.
#include <unistd.h>
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "ScriptedDialogs.h"
#include "app/MainWindow.h"
#include "app/StationApplication.h"
#include "app/TerminationSignals.h"
#include "device/SerialChannel.h"
#include "run/TestRun.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: station_child SETTINGS PROGRAM_FOLDER\n");
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // The plates are virtual: pseudo-terminals open as ports, as in a demonstration.
    kelvaro::AllowPseudoTerminalPorts(true);
    kelvaro::StationApplication application(argc, argv);
    kelvaro::testing::ScriptedDialogs dialogs;
    dialogs.answers = {kelvaro::DialogResult::Ok};
    const std::string journalFolder = std::filesystem::path(argv[1]).parent_path() / "journal";
    kelvaro::MainWindow window(dialogs,
                               {argv[1], QString::fromLocal8Bit(argv[2]), false, journalFolder});
    kelvaro::TerminationSignals terminationSignals;
    window.EndSessionOn(terminationSignals);
    window.show();
    const bool ask = argc > 3 && std::string(argv[3]) == "ask";
    if (ask) {
        dialogs.onMessage = [&window](const kelvaro::testing::RecordedMessage& m) {
            if (m.text == "Deseja salvar o teste?") {
                std::printf("asking %d\n", window.Run().Samples().Count());
                std::fflush(stdout);
                for (;;) {
                    pause();
                }
            }
        };
    }
    // Without "ask", once the run keeps 600 samples it says how many it keeps ("kept N"): what a
    // death may cost is counted from what the station had, whatever a busy machine let it read.
    QTimer keptReport;
    keptReport.setInterval(5);
    QObject::connect(&keptReport, &QTimer::timeout, &window, [&window, &keptReport] {
        if (const int kept = window.Run().Samples().Count(); kept >= 600) {
            keptReport.stop();
            std::printf("kept %d\n", kept);
            std::fflush(stdout);
        }
    });
    // The start-up goes on in the window's timer steps; the run is on once they are done.
    QTimer startUp;
    startUp.setInterval(1);
    QObject::connect(&startUp, &QTimer::timeout, &window, [&window, &startUp, &keptReport, ask] {
        if (window.Run().IsStartingUp()) {
            return;
        }
        startUp.stop();
        if (window.IdlePassRunning()) {
            std::printf("running\n");
            std::fflush(stdout);
            if (ask) {
                QTimer::singleShot(1000, &window, [&window] { window.OnStartClicked(); });
            } else {
                keptReport.start();
            }
        }
    });
    QTimer::singleShot(0, &window, [&window, &startUp] {
        window.OnStartClicked();
        startUp.start();
    });
    const int code = QApplication::exec();
    std::printf("samples %d questions %zu\n", window.Run().Samples().Count(),
                dialogs.messages.size());
    return code;
}
