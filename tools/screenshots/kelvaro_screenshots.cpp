// Draws the station's windows as the operator sees them and saves the pictures for the user
// guide:
//   kelvaro-screenshots OUTPUT_FOLDER
// Run it on a display, e.g. under Xvfb without a window manager:
//   xvfb-run -a -s "-screen 0 1280x800x24" build/tools/screenshots/kelvaro-screenshots
//   docs/screenshots
//
// Everything happens in a temporary folder: XDG_CONFIG_HOME and XDG_STATE_HOME point there (so
// the operator's own settings file and run journals are never read or written), the four virtual
// plates are published there (when the usual folder for them is in use), and the exported test goes
// there. The program then works the station through its own buttons: the empty main window, the
// frequency screen, the communication screen finding four plates, the calibration screen with two
// plates reading live, a four-plate test at 600 Hz with its questions, the save dialog, the drawn
// chart and its cursor read-out, the progress window, a start-up that fails on a silent plate,
// the chart of one steady plate, the library, and three tests compared. Each window is captured
// with QWidget::grab(), which needs no window manager.
#include <QAbstractButton>
#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QValueAxis>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <numbers>
#include <random>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "app/MainWindow.h"
#include "app/ProgressWindow.h"
#include "calibration/CalibrationScreen.h"
#include "chart/CursorLayer.h"
#include "chart/LoadChart.h"
#include "compare/CompareWindow.h"
#include "device/SerialChannel.h"
#include "discovery/CommunicationScreen.h"
#include "frequency/FrequencyScreen.h"
#include "lab/LabServerDialog.h"
#include "library/LibraryStore.h"
#include "library/LibraryWindow.h"
#include "library/LibraryWorker.h"
#include "plate-sim/VirtualPlate.h"
#include "results/ResultsPanel.h"
#include "results/ResultsScreen.h"
#include "results/ResultsText.h"
#include "review/RecentRunsDialog.h"
#include "run/TestRun.h"
#include "settings/NumberText.h"
#include "settings/SettingsStore.h"
#include "testinfo/RunInfoForm.h"
#include "ui/PictureButton.h"
#include "ui/PortugueseDialogs.h"
#include "ui/QtDialogs.h"

namespace {

using namespace kelvaro;

constexpr int kRunSamples = 2400;  // four seconds at 600 Hz
constexpr int kWindowWidth = 1100;
constexpr int kWindowHeight = 760;

// The four virtual plates: raw counts with no load, counts per kgf, the standing load of the
// person on the plate (kgf) and the length of one jump (samples at 600 Hz).
struct PlateSetup {
    double zeroCounts;
    double countsPerUnit;
    double standingLoad;
    int jumpPeriod;
};
constexpr std::array<PlateSetup, kPlateCount> kPlates{{
    {8390128.0, 1000.0, 62.5, 900},
    {8391000.0, 1050.0, 71.0, 1000},
    {8386000.0, 980.0, 80.5, 1100},
    {8389500.0, 1020.0, 55.0, 1200},
}};

// The real dialogs, except that nothing is handed to the desktop's file opener.
class ScreenshotDialogs : public QtDialogs {
  public:
    bool OpenWithAssociatedApplication(const std::string& path) override {
        std::printf("would open %s\n", path.c_str());
        return true;
    }
};

// Runs the event loop until `done` holds or `timeoutMs` passes; true when `done` held.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    if (done()) {
        return true;
    }
    QEventLoop loop;
    QTimer check;
    check.setInterval(20);
    QElapsedTimer clock;
    clock.start();
    bool held = false;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done()) {
            held = true;
            loop.quit();
        } else if (clock.elapsed() >= timeoutMs) {
            loop.quit();
        }
    });
    check.start();
    loop.exec();
    return held;
}

void Wait(int milliseconds) {
    WaitUntil([] { return false; }, milliseconds);
}

// Answers the modal windows the station opens (its screens, message boxes, the save dialog)
// with the handlers queued by Expect, in order, from inside their own event loops.
class ModalDriver {
  public:
    using Handler = std::function<void(QWidget*)>;

    ModalDriver() {
        timer_.setInterval(50);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
        timer_.start();
    }

    void Expect(Handler handler) { handlers_.push_back(std::move(handler)); }
    bool AllHandled() const { return handlers_.empty(); }
    bool Failed() const { return failed_; }
    void Fail(const char* what) {
        std::fprintf(stderr, "kelvaro-screenshots: %s\n", what);
        failed_ = true;
    }

  private:
    void Tick() {
        QWidget* modal = QApplication::activeModalWidget();
        if (busy_ || modal == nullptr || !modal->isVisible()) {
            return;
        }
        busy_ = true;
        if (handlers_.empty()) {
            // Something the script did not plan for: show what it says and close it.
            const auto* box = qobject_cast<QMessageBox*>(modal);
            std::fprintf(stderr, "kelvaro-screenshots: unexpected window '%s'\n",
                         qPrintable(box != nullptr ? box->text() : modal->windowTitle()));
            failed_ = true;
            modal->close();
        } else {
            Handler handler = std::move(handlers_.front());
            handlers_.pop_front();
            handler(modal);
        }
        busy_ = false;
    }

    QTimer timer_;
    std::deque<Handler> handlers_;
    bool busy_ = false;
    bool failed_ = false;
};

class Pictures {
  public:
    explicit Pictures(QString folder) : folder_(std::move(folder)) {}

    void Save(QWidget* window, const char* name) {
        const QPixmap picture = window->grab();
        const QString path = QDir(folder_).filePath(QString::fromLatin1(name));
        if (picture.isNull() || !picture.save(path, "PNG")) {
            std::fprintf(stderr, "kelvaro-screenshots: could not write %s\n", qPrintable(path));
            failed_ = true;
            return;
        }
        std::printf("wrote %s (%dx%d)\n", qPrintable(path), picture.width(), picture.height());
    }
    bool Failed() const { return failed_; }

  private:
    QString folder_;
    bool failed_ = false;
};

// A countermovement jump of someone weighing `weightKgf` as a saved test in the library, for the
// comparison: standing, the dip, the push, the flight and the landing, shared by the four plates
// and read with noise, `hoursAgo` before now.
LibraryRun JumpTest(const char* evaluated, std::int64_t testNumber, std::int32_t frequency,
                    double weightKgf, int hoursAgo) {
    LibraryRun run;
    run.runId = NewRunId();
    run.start = std::chrono::system_clock::now() - std::chrono::hours(hoursAgo);
    run.frequency = frequency;
    run.active = {true, true, true, true};
    run.units = {"kgf", "kgf", "kgf", "kgf"};
    run.ports = {"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB2", "/dev/ttyUSB3"};
    run.testNumber = testNumber;
    run.filePath = "/tmp/teste-" + std::to_string(testNumber) + ".csv";
    run.fileSha256 = Sha256Hex(run.filePath + evaluated);
    run.metadata = {evaluated, "CMJ", ""};
    constexpr std::array<double, kPlateCount> kShare{0.3, 0.2, 0.3, 0.2};
    std::mt19937 random(static_cast<unsigned>(testNumber));
    std::normal_distribution<double> noise(0.0, 0.4);
    const auto total = [weightKgf](double t) {
        const auto bump = [](double from, double length, double t0) {
            return std::sin(std::numbers::pi * (t0 - from) / length);
        };
        if (t < 1.0) {
            return weightKgf;
        }
        if (t < 1.4) {
            return weightKgf * (1.0 - 0.6 * bump(1.0, 0.4, t));
        }
        if (t < 1.7) {
            return weightKgf * (1.0 + 1.3 * bump(1.4, 0.3, t));
        }
        if (t < 2.15) {
            return 0.0;
        }
        if (t < 2.45) {
            return weightKgf * (1.0 + 2.6 * bump(2.15, 0.3, t));
        }
        return weightKgf;
    };
    const int samples = 4 * frequency;
    for (int p = 0; p < kPlateCount; ++p) {
        const PlateSetup& setup = kPlates.at(static_cast<std::size_t>(p));
        run.calibration.at(static_cast<std::size_t>(p)) = {setup.zeroCounts, setup.countsPerUnit,
                                                           0.0};
    }
    for (int k = 0; k < samples; ++k) {
        const double load = total(static_cast<double>(k) / frequency);
        RawRecord& record = run.raw.emplace_back();
        for (std::size_t p = 0; p < kPlateCount; ++p) {
            const double counts =
                kPlates.at(p).zeroCounts +
                kPlates.at(p).countsPerUnit * (load * kShare.at(p) + noise(random));
            record.at(p) = static_cast<RawReading>(std::lround(counts));
        }
    }
    return run;
}

// A handler for the message box whose text is `text`: saves its picture under `name` (when
// given) and presses `button`.
ModalDriver::Handler MessageBoxHandler(ModalDriver& driver, Pictures& pictures, QString text,
                                       const char* name, QMessageBox::StandardButton button) {
    return [&driver, &pictures, text = std::move(text), name, button](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box == nullptr || box->text() != text) {
            driver.Fail("the expected message box did not open");
            modal->close();
            return;
        }
        Wait(300);
        if (name != nullptr) {
            pictures.Save(box, name);
        }
        box->button(button)->click();
    };
}

// The folder the station lists virtual plates from. The usual one,
// ${XDG_RUNTIME_DIR:-/tmp}/kelvaro-ports, when it does not exist yet (it is removed again at
// the end), so the pictures show the port names an operator sees; otherwise, so a running
// kelvaro-plates is left alone, one in the temporary folder (XDG_RUNTIME_DIR moves there).
class PortFolder {
  public:
    explicit PortFolder(const std::string& temporaryRoot) {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        path_ = std::string(runtime != nullptr && *runtime != '\0' ? runtime : "/tmp") +
                "/kelvaro-ports";
        owned_ = ::mkdir(path_.c_str(), 0700) == 0;
        if (!owned_) {
            setenv("XDG_RUNTIME_DIR", temporaryRoot.c_str(), 1);
            path_ = temporaryRoot + "/kelvaro-ports";
        }
    }
    ~PortFolder() {
        if (owned_) {
            ::rmdir(path_.c_str());  // empty once the plates have removed their links
        }
    }
    PortFolder(const PortFolder&) = delete;
    PortFolder& operator=(const PortFolder&) = delete;
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
    bool owned_ = false;
};

// The results table as a picture shows it, for checking its figures against the test file.
void PrintResults(MainWindow& window, const char* picture) {
    const ShownResults& shown = window.results->Shown();
    const ResultsTableText table =
        ResultsTable(shown.Results(), shown.Run().units, window.State().config.decimalSeparator);
    std::printf("%s: %s\n%s", picture, window.results->Caption().toUtf8().constData(),
                TabSeparated(table).c_str());
}

char SystemDecimalSeparator() {
    const QString point = QLocale::system().decimalPoint();
    return point.size() == 1 && point.front().unicode() < 128
               ? static_cast<char>(point.front().unicode())
               : '.';
}

// The settings an operator has after calibrating the four plates at 600 Hz.
bool WriteCalibratedSettings(const std::string& path) {
    const char separator = SystemDecimalSeparator();
    SettingsStore store(path);
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        const PlateSetup& setup = kPlates.at(static_cast<std::size_t>(plate - 1));
        const auto put = [&](const char* key, const std::string& value) {
            store.WriteString(kSettingsSection, key + std::to_string(plate), value);
        };
        put("sp", FormatNumber(setup.zeroCounts, NumberPattern::ThreeDecimals, separator));
        put("IDC", FormatNumber(setup.countsPerUnit, NumberPattern::FourDecimals, separator));
        put("t", FormatNumber(0.0, NumberPattern::ThreeDecimals, separator));
        put("u", "kgf");
        put("FrequenciaP", "600");
    }
    return store.Close().Ok();
}

}  // namespace

int main(int argc, char** argv) {
    const bool keep = argc == 3 && std::string(argv[2]) == "--keep";
    if (argc != 2 && !keep) {
        std::fprintf(stderr, "usage: kelvaro-screenshots OUTPUT_FOLDER [--keep]\n");
        return 2;
    }
    QTemporaryDir temporary(QDir::tempPath() + QStringLiteral("/kelvaro-XXXXXX"));
    if (!temporary.isValid()) {
        std::fprintf(stderr, "kelvaro-screenshots: no temporary folder\n");
        return 1;
    }
    // The test file saved and the journals stay, to check the pictures' figures against them.
    if (keep) {
        temporary.setAutoRemove(false);
        std::printf("keeping %s\n", temporary.path().toLocal8Bit().constData());
    }
    // Before anything reads them: the settings, the plates' links and Qt's own files stay in
    // the temporary folder, and the windows speak the operators' language.
    const QByteArray root = temporary.path().toLocal8Bit();
    const QByteArray config = root + "/config";
    QDir().mkpath(QString::fromLocal8Bit(config));
    setenv("XDG_CONFIG_HOME", config.constData(), 1);
    // The runs drawn here are no operator's tests: their journals stay out of the user's own.
    const QByteArray state = root + "/state";
    setenv("XDG_STATE_HOME", state.constData(), 1);
    const PortFolder ports(root.constData());
    setenv("LC_ALL", "pt_BR.UTF-8", 1);
    setenv("LANGUAGE", "pt_BR", 1);

    QApplication application(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(kApplicationTitle));
    InstallPortugueseTranslation(application);
    const QString output = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(output)) {
        std::fprintf(stderr, "kelvaro-screenshots: cannot create %s\n", argv[1]);
        return 1;
    }

    // Four virtual plates, published where the station looks for them.
    std::array<std::unique_ptr<sim::VirtualPlate>, kPlateCount> plates;
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        const PlateSetup& setup = kPlates.at(static_cast<std::size_t>(plate - 1));
        sim::PlateOptions options;
        options.zeroCounts = setup.zeroCounts;
        options.countsPerUnit = setup.countsPerUnit;
        options.noiseCounts = 150.0;
        options.seed = static_cast<std::uint32_t>(plate);
        options.jumpPeriodSamples = setup.jumpPeriod;
        // On the calibration screen plate 1 is empty and someone stands on plate 2.
        options.load = plate == 2 ? setup.standingLoad : 0.0;
        auto& slot = plates.at(static_cast<std::size_t>(plate - 1));
        slot = std::make_unique<sim::VirtualPlate>(options);
        if (!slot->Ok() || slot->Publish(ports.Path(), "plate" + std::to_string(plate)).empty()) {
            std::fprintf(stderr, "kelvaro-screenshots: no pseudo-terminal for plate %d\n", plate);
            return 1;
        }
    }
    const std::string settingsPath = SettingsStore::DefaultPath();
    if (!WriteCalibratedSettings(settingsPath)) {
        std::fprintf(stderr, "kelvaro-screenshots: cannot write %s\n", settingsPath.c_str());
        return 1;
    }

    ScreenshotDialogs dialogs;
    ModalDriver driver;
    Pictures pictures(output);
    // Started as `scripts/run --demo` starts the station: for virtual plates.
    AllowPseudoTerminalPorts(true);
    MainWindow window(dialogs, {settingsPath, temporary.filePath(QStringLiteral("Kelvaro")), true});
    // Without a window manager nothing maximises: a fixed size stands in for the desktop.
    window.setGeometry(0, 0, kWindowWidth, kWindowHeight);
    window.show();
    Wait(500);
    pictures.Save(&window, "main-window.png");

    // The frequency screen, 600 Hz chosen.
    driver.Expect([&](QWidget* modal) {
        auto* screen = dynamic_cast<FrequencyScreen*>(modal);
        if (screen == nullptr) {
            driver.Fail("the frequency screen did not open");
            modal->close();
            return;
        }
        screen->option600->click();
        Wait(300);
        pictures.Save(screen, "frequency.png");
        screen->backButton->click();
    });
    window.frequencyButton->click();

    // The communication screen with the four plates ticked, once it has found all four.
    driver.Expect([&](QWidget* modal) {
        auto* screen = dynamic_cast<CommunicationScreen*>(modal);
        if (screen == nullptr) {
            driver.Fail("the communication screen did not open");
            modal->close();
            return;
        }
        for (int plate = 1; plate <= kPlateCount; ++plate) {
            auto* tick = screen->findChild<QCheckBox*>(QStringLiteral("cbP%1Ativa").arg(plate));
            if (!tick->isChecked()) {
                tick->click();
            }
        }
        const auto allFound = [&] {
            for (int plate = 1; plate <= kPlateCount; ++plate) {
                const auto* status =
                    screen->findChild<QLabel*>(QStringLiteral("lbP%1Status").arg(plate));
                if (!status->text().startsWith(QStringLiteral("Dispositivo encontrado"))) {
                    return false;
                }
            }
            return true;
        };
        if (!WaitUntil(allFound, 20000)) {
            driver.Fail("the communication screen did not find the four plates");
        }
        Wait(300);
        pictures.Save(screen, "communication.png");
        screen->close();
    });
    window.communicationButton->click();

    // The calibration screen with plates 1 and 2 reading live; 3 and 4 are unticked for the
    // picture and ticked again before the screen closes, so the test uses all four.
    driver.Expect([&](QWidget* modal) {
        auto* screen = dynamic_cast<CalibrationScreen*>(modal);
        if (screen == nullptr) {
            driver.Fail("the calibration screen did not open");
            modal->close();
            return;
        }
        for (int plate : {3, 4}) {
            screen->Plate(plate).activeBox->click();
        }
        Wait(2600);  // a few reading ticks
        pictures.Save(screen, "calibration.png");
        for (int plate : {3, 4}) {
            screen->Plate(plate).activeBox->click();
        }
        Wait(1200);
        screen->close();
    });
    window.calibrationButton->click();

    // What the test is about, filled in before the start; once the run is saved the name and
    // the notes are gone from the row and the protocol stays (run.png).
    window.runInfoForm->evaluatedBox->setEditText(QStringLiteral("Mariana Souza"));
    window.runInfoForm->protocolBox->setEditText(QStringLiteral("Salto com contramovimento"));
    window.runInfoForm->notesEdit->setText(
        QStringLiteral("Após 10 min de aquecimento; tênis de corrida, braços livres"));
    Wait(200);
    pictures.Save(&window, "run-info.png");

    // A test: someone jumps on each plate; the jumps restart with the test.
    for (std::size_t i = 0; i < plates.size(); ++i) {
        plates.at(i)->SetLoad(kPlates.at(i).standingLoad);
        plates.at(i)->SetShape(sim::LoadShape::Jump);
    }
    driver.Expect(MessageBoxHandler(driver, pictures,
                                    QStringLiteral("Clique em OK para Inicar o Teste!"),
                                    "start-confirm.png", QMessageBox::Ok));
    window.startButton->click();
    if (!WaitUntil([&] { return window.Run().Samples().Count() >= kRunSamples; }, 60000)) {
        driver.Fail("the test did not collect its samples");
    }
    pictures.Save(&window, "running.png");
    driver.Expect(MessageBoxHandler(driver, pictures, QStringLiteral("Deseja salvar o teste?"),
                                    "save-question.png", QMessageBox::Yes));
    driver.Expect([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (dialog == nullptr) {
            driver.Fail("the save dialog did not open");
            modal->close();
            return;
        }
        // Qt's first size cuts the last column heading short; the operator would widen it.
        dialog->resize(800, 480);
        Wait(500);
        pictures.Save(dialog, "save-dialog.png");
        // QFileDialog::accept is protected; QDialog::accept reaches it and takes the typed name.
        static_cast<QDialog*>(dialog)->accept();
    });
    driver.Expect(MessageBoxHandler(
        driver, pictures, QStringLiteral("O exportação para o Excel foi concluída com sucesso"),
        "export-done.png", QMessageBox::Ok));
    window.startButton->click();  // " Parar"
    Wait(500);
    pictures.Save(&window, "run.png");
    PrintResults(window, "run.png");

    // A stretch marked with Shift and the left button, then the same run through the 10 Hz
    // low-pass; both undone, so the pictures after these show the run as it ended.
    {
        QWidget* plot = window.loadChart->View()->viewport();
        const QRectF area = window.loadChart->Chart()->plotArea();
        const auto at = [&](double fraction) {
            return QPointF(area.left() + area.width() * fraction, area.top() + area.height() * 0.5);
        };
        QMouseEvent press(QEvent::MouseButtonPress, at(0.30), plot->mapToGlobal(at(0.30)),
                          Qt::LeftButton, Qt::LeftButton, Qt::ShiftModifier);
        QApplication::sendEvent(plot, &press);
        QMouseEvent move(QEvent::MouseMove, at(0.45), plot->mapToGlobal(at(0.45)), Qt::NoButton,
                         Qt::LeftButton, Qt::ShiftModifier);
        QApplication::sendEvent(plot, &move);
        QMouseEvent release(QEvent::MouseButtonRelease, at(0.45), plot->mapToGlobal(at(0.45)),
                            Qt::LeftButton, Qt::NoButton, Qt::ShiftModifier);
        QApplication::sendEvent(plot, &release);
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(plot, &leave);
        Wait(300);
        if (window.results->Shown().WholeRunShown()) {
            driver.Fail("Shift and a drag marked no stretch");
        }
        pictures.Save(&window, "results-stretch.png");
        PrintResults(window, "results-stretch.png");
        window.resultsPanel->wholeRunButton->click();
        QComboBox* filter = window.resultsPanel->filterCombo;
        // As the operator's pick does: the panel follows the combo's activation, not a program's
        // setting of its index.
        filter->setCurrentIndex(filter->findData(10));
        emit filter->activated(filter->currentIndex());
        Wait(300);
        if (window.results->Shown().FilterCutoff() != 10) {
            driver.Fail("the 10 Hz low-pass was not taken");
        }
        pictures.Save(&window, "results-filter.png");
        PrintResults(window, "results-filter.png");
        filter->setCurrentIndex(filter->findData(0));
        emit filter->activated(filter->currentIndex());
        Wait(100);
    }

    // The cursor read-out, the mouse on a jump of plate 3; it goes when the mouse does.
    {
        QWidget* plot = window.loadChart->View()->viewport();
        const QRectF area = window.loadChart->Chart()->plotArea();
        const QPointF at(area.left() + area.width() * 0.31, area.top() + area.height() * 0.5);
        QMouseEvent move(QEvent::MouseMove, at, plot->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(plot, &move);
        Wait(300);
        if (!window.loadChart->Cursor()->Shown()) {
            driver.Fail("the chart shows no cursor read-out");
        }
        pictures.Save(&window, "chart-cursor.png");
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(plot, &leave);
        Wait(100);
    }

    // The progress window as the export shows it, part way.
    ProgressWindow& progress = window.Progress();
    progress.SetMaximum(kRunSamples);
    progress.SetPosition(kRunSamples * 3 / 5);
    progress.Show();
    Wait(300);
    pictures.Save(&progress, "progress.png");
    progress.Close();

    // A start-up that fails: plate 3 no longer answers.
    plates.at(2)->Inject({sim::FaultKind::Silence, 0});
    driver.Expect([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box == nullptr || !box->text().startsWith(QStringLiteral("Falha ao Identificar"))) {
            driver.Fail("the start-up failure was not reported");
            modal->close();
            return;
        }
        Wait(300);
        pictures.Save(box, "start-error.png");
        box->button(QMessageBox::Ok)->click();
    });
    window.startButton->click();
    // The start-up goes on in timer steps after the click; the plate stays silent until it ends.
    if (!WaitUntil([&] { return !window.Run().IsStartingUp() && driver.AllHandled(); }, 20000)) {
        driver.Fail("the failed start-up did not end");
    }
    plates.at(2)->ClearFaults();

    // One plate standing still, the only one ticked: its load is the axis maximum, so its flat
    // line runs along the top of the plot.
    {
        SettingsStore store(settingsPath);
        for (int plate = 2; plate <= kPlateCount; ++plate) {
            store.WriteBool(kSettingsSection, "check" + std::to_string(plate), false);
        }
        if (!store.Close()) {
            driver.Fail("the plate ticks could not be stored");
        }
    }
    plates.at(0)->SetNoise(0.0);
    plates.at(0)->SetLoad(kPlates.at(0).standingLoad);
    plates.at(0)->SetShape(sim::LoadShape::Fixed);
    driver.Expect(MessageBoxHandler(driver, pictures,
                                    QStringLiteral("Clique em OK para Inicar o Teste!"), nullptr,
                                    QMessageBox::Ok));
    window.startButton->click();
    if (!WaitUntil([&] { return window.Run().Samples().Count() >= kRunSamples / 2; }, 60000)) {
        driver.Fail("the steady test did not collect its samples");
    }
    driver.Expect(MessageBoxHandler(driver, pictures, QStringLiteral("Deseja salvar o teste?"),
                                    nullptr, QMessageBox::No));
    window.startButton->click();  // " Parar"
    Wait(500);
    pictures.Save(&window, "chart-steady-plate.png");

    // The recent runs: the jumps saved as test 1, the steady plate not saved. The jumps are
    // opened again, ready to be saved once more.
    driver.Expect([&](QWidget* modal) {
        auto* dialog = dynamic_cast<RecentRunsDialog*>(modal);
        if (dialog == nullptr || dialog->table->rowCount() < 2) {
            driver.Fail("the recent runs were not listed");
            modal->close();
            return;
        }
        dialog->table->selectRow(1);
        Wait(300);
        pictures.Save(dialog, "recent-runs.png");
        dialog->openButton->click();
    });
    window.openButton->click();
    Wait(500);
    pictures.Save(&window, "reopened.png");

    // The library with every test the station ended above, as it opens: searched for nothing.
    driver.Expect([&](QWidget* modal) {
        auto* library = dynamic_cast<LibraryWindow*>(modal);
        if (library == nullptr) {
            driver.Fail("the library did not open");
            modal->close();
            return;
        }
        for (int waited = 0; library->Entries().empty() && waited < 50; ++waited) {
            Wait(100);  // the search runs on the library's thread
        }
        if (library->Entries().empty()) {
            driver.Fail("the library listed no test");
        }
        Wait(300);
        pictures.Save(library, "library.png");
        library->closeButton->click();
    });
    window.libraryButton->click();
    Wait(300);

    // Three people's jumps side by side, one read at 300 Hz, each aligned at its peak.
    window.Library()->Post([](LibraryStore& store) {
        store.RecordRun(JumpTest("Carlos Lima", 2, 300, 82.0, 26));
        store.RecordRun(JumpTest("Beatriz Rocha", 3, 600, 58.0, 2));
        store.RecordRun(JumpTest("Ana Pereira", 4, 600, 70.0, 1));
    });
    driver.Expect([&](QWidget* modal) {
        auto* library = dynamic_cast<LibraryWindow*>(modal);
        if (library == nullptr) {
            driver.Fail("the library did not open");
            modal->close();
            return;
        }
        WaitUntil([&] { return library->Entries().size() >= 5; }, 5000);
        library->resize(1100, 560);
        // A search: every test of one protocol, whoever was measured.
        library->protocolEdit->setText(QStringLiteral("cmj"));
        library->Search();
        if (!WaitUntil([&] { return library->Entries().size() == 3; }, 5000)) {
            driver.Fail("the search for a protocol did not find its three tests");
        }
        Wait(300);
        pictures.Save(library, "library-search.png");
        for (std::size_t row = 0; row < library->Entries().size(); ++row) {
            if (library->Entries()[row].testNumber >= 2) {
                library->table->selectionModel()->select(
                    library->table->model()->index(static_cast<int>(row), 0),
                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
            }
        }
        library->compareButton->click();
        CompareWindow* compare = nullptr;
        WaitUntil([&] { return (compare = library->findChild<CompareWindow*>()) != nullptr; },
                  5000);
        if (compare == nullptr || compare->chart->SeriesCount() != 3) {
            driver.Fail("the comparison did not open with three tests");
            library->closeButton->click();
            return;
        }
        compare->alignmentCombo->setCurrentIndex(1);
        Wait(500);
        // The read-out just after the landing peaks.
        QWidget* plot = compare->chart->View()->viewport();
        const QRectF area = compare->chart->Chart()->plotArea();
        const double low = compare->chart->AxisX()->min();
        const double high = compare->chart->AxisX()->max();
        const QPointF at(area.left() + area.width() * (0.05 - low) / (high - low),
                         area.top() + area.height() * 0.3);
        QMouseEvent move(QEvent::MouseMove, at, plot->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(plot, &move);
        Wait(300);
        pictures.Save(compare, "compare.png");
        compare->close();
        library->closeButton->click();
    });
    window.libraryButton->click();
    Wait(300);

    // The lab server's dialog as IT leaves it on a station: the server checked against the lab's
    // CA, and a password file that libpq would skip because others may read it.
    {
        const QByteArray passwordFile = root + "/.pgpass";
        QFile file(QString::fromLocal8Bit(passwordFile));
        if (!file.open(QIODevice::WriteOnly) ||
            file.write("servidor.laboratorio.local:5432:kelvaro:estacao_sala1:senha\n") < 0 ||
            !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                 QFileDevice::ReadGroup | QFileDevice::ReadOther)) {
            driver.Fail("the password file could not be written");
        }
        file.close();
        setenv("PGPASSFILE", passwordFile.constData(), 1);
        LabServerDialog lab({"servidor.laboratorio.local", 5432, "kelvaro", "estacao_sala1",
                             LabTls::VerifyFull, "/home/operador/CA do laboratório/raiz.crt"});
        bool checked = false;
        QObject::connect(&lab, &LabServerDialog::PasswordFileChecked, [&] { checked = true; });
        lab.show();
        if (!WaitUntil([&] { return checked; }, 5000)) {
            driver.Fail("the lab server's dialog did not look at the password file");
        }
        Wait(300);
        pictures.Save(&lab, "lab-server.png");
    }

    Wait(200);
    window.close();
    const bool ok = !driver.Failed() && driver.AllHandled() && !pictures.Failed();
    std::printf("%s\n", ok ? "all pictures drawn" : "some pictures are missing or wrong");
    return ok ? 0 : 1;
}
