#include "app/MainWindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QFileInfo>
#include <QKeySequence>
#include <QLabel>
#include <QLocale>
#include <QTimer>
#include <QVBoxLayout>
#include <string_view>
#include <thread>

#include "app/EscapeKey.h"
#include "app/ExportFolder.h"
#include "app/ProgressWindow.h"
#include "app/TerminationSignals.h"
#include "calibration/CalibrationScreen.h"
#include "chart/LoadChart.h"
#include "device/PortList.h"
#include "device/SerialChannel.h"
#include "discovery/CommunicationScreen.h"
#include "frequency/FrequencyScreen.h"
#include "lab/LabConnection.h"
#include "lab/LabPusher.h"
#include "lab/LabServerDialog.h"
#include "lab/LabServerSettings.h"
#include "library/LibraryWindow.h"
#include "library/LibraryWorker.h"
#include "library/RunRecording.h"
#include "results/ResultsFile.h"
#include "results/ResultsPanel.h"
#include "results/ResultsScreen.h"
#include "review/RecentRunsDialog.h"
#include "run/TestRun.h"
#include "settings/SettingsStore.h"
#include "station/FileErrorText.h"
#include "station/StationSettings.h"
#include "testinfo/RunInfoForm.h"
#include "ui/Panels.h"
#include "ui/PictureButton.h"
#include "ui/StationStyle.h"

namespace kelvaro {

namespace {

constexpr int kButtonGap = 200;       // from one top button's left to the next
constexpr int kTopButtonsSpan = 750;  // four buttons of 150 with three gaps of 50
constexpr int kDesignWidth = 1068;
constexpr int kDesignHeight = 805;
constexpr int kMinimumWidth = 1024;
constexpr int kMinimumHeight = 700;

// The user's decimal separator for number texts; '.' when it is not a single ASCII character.
char LocaleDecimalSeparator() {
    const QString point = QLocale::system().decimalPoint();
    if (point.size() == 1 && point.front().unicode() < 128) {
        return static_cast<char>(point.front().unicode());
    }
    return '.';
}

// One field of the recent runs' texts, newest first, each once whatever its case, blanks left out.
QStringList DistinctTexts(const std::vector<RecentRun>& recent, std::string RunMetadata::*field) {
    QStringList texts;
    for (const RecentRun& run : recent) {
        const QString text = QString::fromStdString(run.metadata.*field).trimmed();
        if (!text.isEmpty() && !texts.contains(text, Qt::CaseInsensitive)) {
            texts.append(text);
        }
    }
    return texts;
}

QFrame* Gap(QWidget* parent) {
    auto* gap = new QFrame(parent);
    gap->setFixedHeight(kPanelMargin);
    return gap;
}

}  // namespace

MainButtonPlacement PlaceMainButtons(int buttonBarWidth, int bottomBarWidth) {
    MainButtonPlacement placement{};
    // C++ integer division truncates towards zero, as the placement requires.
    placement.startButton = (buttonBarWidth - kTopButtonsSpan) / 2;
    placement.frequencyButton = placement.startButton + kButtonGap;
    placement.communicationButton = placement.frequencyButton + kButtonGap;
    placement.calibrationButton = placement.communicationButton + kButtonGap;
    placement.closeButton = bottomBarWidth - (PictureButton::kWidth + kPanelMargin);
    placement.openButton = kPanelMargin;
    placement.saveButton = placement.openButton + PictureButton::kWidth + kPanelMargin;
    placement.saveResultsButton = placement.saveButton + PictureButton::kWidth + kPanelMargin;
    placement.libraryButton = placement.saveResultsButton + PictureButton::kWidth + kPanelMargin;
    return placement;
}

// The live chart as the run drives it, with the total drawn as the operator chose.
class MainWindow::LiveResultsChart : public LiveChartSink {
  public:
    explicit LiveResultsChart(MainWindow& window) : window_(window) {}
    void BeginLive(const ActivePlates& active, LoadsSoFar loadsSoFar) override {
        window_.results->PrepareLive(active, window_.testRun_->Units());
        window_.loadChart->BeginLive(active, std::move(loadsSoFar));
    }
    void EndLive() override { window_.loadChart->EndLive(); }

  private:
    MainWindow& window_;
};

bool StartedForVirtualPlates(const QStringList& arguments, const char* environmentValue) {
    if (arguments.mid(1).contains(QStringLiteral("--virtual-plates"))) {
        return true;
    }
    return environmentValue != nullptr && *environmentValue != '\0' &&
           std::string_view(environmentValue) != "0";
}

MainWindow::MainWindow(Dialogs& dialogs, MainWindowOptions options, QWidget* parent)
    : QWidget(parent), dialogs_(dialogs), options_(std::move(options)) {
    BuildLayout();
    OnCreated();
}

MainWindow::~MainWindow() {
    OnDestroyed();
}

void MainWindow::BuildLayout() {
    setWindowTitle(QString::fromUtf8(kMainCaption) +
                   (options_.virtualPlates ? QString::fromUtf8(kDemonstrationSuffix) : QString()));
    setFont(DefaultWindowFont());
    FillBackground(this, StationBackgroundColour());
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    resize(kDesignWidth, kDesignHeight);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    topPanel = new TitleBand(QStringLiteral("Principal"), this);
    titleLabel = topPanel->Title();
    layout->addWidget(topPanel);

    centrePanel = new LoweredPanel(this);
    layout->addWidget(centrePanel, 1);
    auto* centre = new QVBoxLayout(centrePanel);
    centre->setContentsMargins(kPanelMargin, kPanelMargin, kPanelMargin, kPanelMargin);
    centre->setSpacing(0);

    buttonBar = new ButtonBar(centrePanel);
    buttonBar->setFixedHeight(64);
    centre->addWidget(buttonBar);
    startButton = new PictureButton(QStringLiteral(" Iniciar"), ButtonPicture::Play, buttonBar);
    frequencyButton =
        new PictureButton(QStringLiteral("Frequência"), ButtonPicture::Frequency, buttonBar);
    communicationButton =
        new PictureButton(QStringLiteral(" Comunicação"), ButtonPicture::Communication, buttonBar);
    calibrationButton =
        new PictureButton(QStringLiteral("Calibração"), ButtonPicture::Calibration, buttonBar);
    for (PictureButton* button :
         {startButton, frequencyButton, communicationButton, calibrationButton}) {
        button->move(0, kPanelMargin);
    }

    upperGap = Gap(centrePanel);
    centre->addWidget(upperGap);
    runInfoForm = new RunInfoForm(centrePanel);
    centre->addWidget(runInfoForm);
    centre->addWidget(Gap(centrePanel));
    sampleCountLabel = CreateNavyLabel(QStringLiteral(" Amostras:"), 21,
                                       Qt::AlignLeft | Qt::AlignVCenter, centrePanel);
    sampleCountLabel->setFixedHeight(40);
    centre->addWidget(sampleCountLabel);
    lowerGap = Gap(centrePanel);
    centre->addWidget(lowerGap);
    // A series for each plate, the runs drawing plate p as series p, and one for their total.
    loadChart = new LoadChart(kPlateCount + 1, centrePanel);
    centre->addWidget(loadChart, 1);
    resultsPanel = new ResultsPanel(centrePanel);
    centre->addWidget(resultsPanel);

    bottomBand = new BottomBand(this);
    bottomBar = bottomBand->Bar();
    layout->addWidget(bottomBand);
    closeButton = new PictureButton(QStringLiteral(" Fechar"), ButtonPicture::Exit, bottomBar);
    closeButton->move(0, kPanelMargin);
    openButton = new PictureButton(QStringLiteral(" Abrir"), ButtonPicture::Open, bottomBar);
    openButton->move(0, kPanelMargin);
    openButton->setShortcut(QKeySequence::Open);
    openButton->setToolTip(QStringLiteral("Abrir um teste anterior ou um arquivo salvo (Ctrl+O)"));
    saveButton = new PictureButton(QStringLiteral(" Salvar"), ButtonPicture::Save, bottomBar);
    saveButton->move(0, kPanelMargin);
    saveButton->setShortcut(QKeySequence::Save);
    saveButton->setToolTip(QStringLiteral("Salvar de novo o teste na tela (Ctrl+S)"));
    saveButton->setEnabled(false);
    saveResultsButton =
        new PictureButton(QStringLiteral(" Resultados"), ButtonPicture::Save, bottomBar);
    saveResultsButton->move(0, kPanelMargin);
    saveResultsButton->setToolTip(
        QStringLiteral("Salvar a tabela de resultados do trecho mostrado em um arquivo"));
    saveResultsButton->setEnabled(false);
    libraryButton =
        new PictureButton(QStringLiteral(" Biblioteca"), ButtonPicture::Open, bottomBar);
    libraryButton->move(0, kPanelMargin);
    libraryButton->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
    libraryButton->setToolTip(
        QStringLiteral("Buscar, abrir e importar testes na biblioteca de testes (Ctrl+B)"));

    connect(startButton, &QPushButton::clicked, this, [this] { OnStartClicked(); });
    connect(frequencyButton, &QPushButton::clicked, this, [this] { OnFrequencyClicked(); });
    connect(communicationButton, &QPushButton::clicked, this, [this] { OnCommunicationClicked(); });
    connect(calibrationButton, &QPushButton::clicked, this, [this] { OnCalibrationClicked(); });
    connect(closeButton, &QPushButton::clicked, this, [this] { OnCloseClicked(); });
    connect(openButton, &QPushButton::clicked, this, [this] { OnOpenClicked(); });
    connect(saveButton, &QPushButton::clicked, this, [this] { OnSaveClicked(); });
    connect(saveResultsButton, &QPushButton::clicked, this, [this] { OnSaveResultsClicked(); });
    connect(libraryButton, &QPushButton::clicked, this, [this] { OnLibraryClicked(); });

    // The bars get their widths from the layouts, after the window's own resize.
    buttonBar->installEventFilter(this);
    bottomBar->installEventFilter(this);

    escapeKey_ = new EscapeKeyMonitor(this);
    idleTimer_ = new QTimer(this);
    idleTimer_->setInterval(0);  // fires whenever the event queue is empty: the idle turn
    connect(idleTimer_, &QTimer::timeout, this, [this] { testRun_->ReadSamples(); });
    startUpTimer_ = new QTimer(this);
    startUpTimer_->setSingleShot(true);
    startUpTimer_->setTimerType(Qt::PreciseTimer);
    connect(startUpTimer_, &QTimer::timeout, this, [this] {
        // Escape, the operator's other way to stop a test, also ends a start-up under way.
        if (escapeKey_->Held()) {
            testRun_->CancelStartUp();
            return;
        }
        testRun_->ContinueStartUp();
    });
}

void MainWindow::OnCreated() {
    const QString programFolder = options_.programFolder.isEmpty()
                                      ? QCoreApplication::applicationDirPath()
                                      : options_.programFolder;
    exportFolder_ = PrepareExportFolder(programFolder);

    state_.config.settingsPath = options_.settingsPath;
    state_.config.journalFolder = options_.journalFolder;
    state_.config.decimalSeparator = LocaleDecimalSeparator();
    // Outside a demonstration no virtual plate is ever listed, wherever its link lies.
    state_.config.portRoots.virtualPorts =
        options_.virtualPlates ? VirtualPortFolder() : std::string();
    {
        StationSettings settings(state_.config.settingsPath, state_.config.decimalSeparator);
        state_.config.testFrequency = settings.TestFrequency();
        for (int plate = 1; plate <= kPlateCount; ++plate) {
            state_.config.calibrationFrequency[static_cast<std::size_t>(plate - 1)] =
                settings.CalibrationFrequency(plate);
        }
        settings.Close();
    }

    progressWindow_ = std::make_unique<ProgressWindow>();
    // The save dialog (SalvarD) opens in the export folder.
    archive_ = std::make_unique<RunArchive>(state_, dialogs_, *progressWindow_,
                                            exportFolder_.toStdString());
    testRun_ = std::make_unique<TestRun>(state_, dialogs_, *this, *archive_);
    runChooser_ = std::make_unique<RecentRunsChooser>(this, exportFolder_);

    results = new ResultsScreen(*loadChart, kPlateCount + 1, *resultsPanel,
                                state_.config.decimalSeparator, this);
    {
        StationSettings settings(state_.config.settingsPath, state_.config.decimalSeparator);
        results->SetTotalChoice(settings.TotalShown());
        settings.Close();
    }
    connect(results, &ResultsScreen::TotalChosen, this,
            [this](bool shown) { RememberTotalChoice(shown); });
    connect(results, &ResultsScreen::StretchChanged, this, [this] { ShowStatusText(false); });
    liveChart_ = std::make_unique<LiveResultsChart>(*this);

    // The library lives beside the journals; a station without a journal folder keeps none.
    if (!state_.config.journalFolder.empty()) {
        libraryPath_ = LibraryPathIn(state_.config.journalFolder);
        library_ = std::make_unique<LibraryWorker>();
        library_->Post([this](LibraryStore& store) {
            if (const LibraryStatus opened = store.Open(libraryPath_); !opened) {
                TellLibraryOnce(LibraryStatusText(opened, libraryPath_));
            }
        });
    }
    libraryButton->setEnabled(library_ != nullptr);
    StartLabPusher();
    RefreshRunInfoChoices();
}

void MainWindow::RefreshRunInfoChoices() {
    if (choicesReader_.joinable()) {
        choicesReader_.join();  // the last read, done long ago as a rule
    }
    choicesReader_ = std::jthread([this, folder = state_.config.journalFolder] {
        const std::vector<RecentRun> recent = ListRecentRuns(folder);
        QStringList names = DistinctTexts(recent, &RunMetadata::evaluated);
        QStringList protocols = DistinctTexts(recent, &RunMetadata::protocol);
        // Handed to the window's thread; the window waits for this thread before it goes.
        QMetaObject::invokeMethod(
            this,
            [this, names = std::move(names), protocols = std::move(protocols)] {
                runInfoForm->SetRecentEvaluated(names);
                runInfoForm->SetProtocols(protocols);
            },
            Qt::QueuedConnection);
    });
}

void MainWindow::OnResized() {
    const MainButtonPlacement placement = PlaceMainButtons(buttonBar->width(), bottomBar->width());
    startButton->move(placement.startButton, startButton->y());
    frequencyButton->move(placement.frequencyButton, frequencyButton->y());
    communicationButton->move(placement.communicationButton, communicationButton->y());
    calibrationButton->move(placement.calibrationButton, calibrationButton->y());
    closeButton->move(placement.closeButton, closeButton->y());
    openButton->move(placement.openButton, openButton->y());
    saveButton->move(placement.saveButton, saveButton->y());
    saveResultsButton->move(placement.saveResultsButton, saveResultsButton->y());
    libraryButton->move(placement.libraryButton, libraryButton->y());
}

void MainWindow::OnDestroyed() {
    if (destroyed_) {
        return;
    }
    destroyed_ = true;
    // The plates first: every open one gets its Stop, also when a test is still running.
    state_.links.CloseAll();
    if (choicesReader_.joinable()) {
        choicesReader_.join();
    }
    idleTimer_->stop();
    startUpTimer_->stop();
    // Nothing may keep the exit from completing.
    try {
        labPusher_.reset();  // a push going on is cut: the outbox keeps it for the next start
        library_.reset();    // what it still has to record, within its time
        testRun_.reset();
        archive_.reset();
        progressWindow_.reset();
    } catch (...) {
    }
}

void MainWindow::OnStartClicked() {
    if (!testRun_->IsRunning() && !testRun_->IsStartingUp()) {
        // A start clears the chart, and with it the run read back and its results.
        shownRun_.reset();
        saveButton->setEnabled(false);
        results->Clear();
        saveResultsButton->setEnabled(false);
    }
    testRun_->OnStartClicked();
}

void MainWindow::OnFrequencyClicked() {
    auto frequencyScreen = std::make_unique<FrequencyScreen>(state_, dialogs_, this);
    frequencyScreen->exec();
}

void MainWindow::OnCommunicationClicked() {
    auto communicationScreen = std::make_unique<CommunicationScreen>(state_, dialogs_, this);
    communicationScreen->exec();
}

void MainWindow::OnCalibrationClicked() {
    auto calibrationScreen = std::make_unique<CalibrationScreen>(state_, dialogs_, *progressWindow_,
                                                                 calibrationFirstActivation_, this);
    calibrationScreen->exec();
}

void MainWindow::OnCloseClicked() {
    close();
}

void MainWindow::OnOpenClicked() {
    if (testRun_->IsRunning()) {
        return;
    }
    const auto path = runChooser_->Choose(ListRecentRuns(state_.config.journalFolder));
    if (!path) {
        return;
    }
    if (auto run = archive_->Open(*path, *this)) {
        ShowStoredRun(std::move(*run));
    }
}

void MainWindow::OnLibraryClicked() {
    if (testRun_->IsRunning() || !library_) {
        return;
    }
    LibraryWindow window(*library_, dialogs_, state_.config.decimalSeparator, libraryPath_, this);
    window.rebuildSources = {state_.config.journalFolder, exportFolder_.toStdString()};
    window.openLabServer = [this, &window] { EditLabServer(&window); };
    window.releaseLibrary = [this] { labPusher_.reset(); };
    window.libraryRebuilt = [this] { StartLabPusher(); };
    // An edit may have queued new texts for the server.
    connect(&window, &LibraryWindow::ActionDone, this, [this] { WakeLabPusher(); });
    std::optional<StoredRunData> chosen;
    connect(&window, &LibraryWindow::OpenRequested, this,
            [&chosen](StoredRunData run) { chosen = std::move(run); });
    window.exec();
    if (!chosen) {
        return;
    }
    // Drawn as a test file read back: " Salvar" saves it again as a reopened run.
    StoredRun run;
    run.path = chosen->filePath;
    run.fromJournal = false;
    run.start = chosen->start;
    run.heading = chosen->heading;
    run.active = chosen->active;
    run.loads = std::move(chosen->loads);
    run.decimalSeparator = chosen->decimalSeparator;
    run.runId = chosen->runId;
    run.metadata = chosen->metadata;
    ShowStoredRun(std::move(run));
}

void MainWindow::RunAside(const std::function<void()>& work) {
    const bool startEnabled = startButton->isEnabled();
    startButton->setEnabled(false);
    EnableButtons(false);
    QEventLoop waiting;
    std::jthread reader([&] {
        work();
        QMetaObject::invokeMethod(&waiting, &QEventLoop::quit, Qt::QueuedConnection);
    });
    waiting.exec();
    // The loop ends early only when the station is leaving; the work still ends by itself, as
    // the archive's reads never wait on anything but a regular file.
    reader.join();
    startButton->setEnabled(startEnabled);
    EnableButtons(true);
}

void MainWindow::DescribeOpenedRun() {
    const StoredRun& run = *shownRun_;
    // Which run the chart shows: a journal's by its start, a file by its name.
    std::string source = QFileInfo(QString::fromStdString(run.path)).fileName().toStdString();
    if (run.fromJournal) {
        source = run.heading.testNumber > 0
                     ? "teste " + std::to_string(run.heading.testNumber) + " de " +
                           LocalTimeText(run.start)
                     : "teste de " + LocalTimeText(run.start) + ", não salvo";
    }
    SetStatusText(" Amostras: " + std::to_string(run.loads.size()) + "  (" + source + ")", false);
}

void MainWindow::RunDrawn(const StoredRun& run) {
    ResultsRun shown;
    shown.loads = run.loads;
    shown.active = run.active;
    shown.units = run.heading.units;
    shown.frequency = run.heading.frequency;
    shown.testNumber = run.heading.testNumber;
    if (run.start != std::chrono::system_clock::time_point{}) {
        shown.start = run.start;
    }
    results->Show(std::move(shown));
    saveResultsButton->setEnabled(true);
}

void MainWindow::RecordInLibrary(const StoredRun& run, bool justEnded) {
    if (!library_) {
        return;
    }
    if (!run.fromJournal || run.path.empty()) {
        // A run whose journal could not be kept leaves only its saved file: the library takes
        // its loads from it, as from any test file, with what the run was about. One never
        // saved, or a test file opened again, is not a run that ended here.
        if (justEnded && !run.savedFile.empty()) {
            library_->Post(
                [this, saved = run.savedFile, metadata = run.metadata](LibraryStore& store) {
                    const ImportOutcome imported = store.ImportTestFile(saved);
                    LibraryStatus kept = imported.status;
                    if (imported.result == ImportResult::Refused && imported.fileError) {
                        TellLibraryOnce(FileErrorText(*imported.fileError));
                        return;
                    }
                    if (imported.result == ImportResult::Imported) {
                        kept = store.SetMetadata(imported.runId, metadata);
                        WakeLabPusher();
                    }
                    if (!kept) {
                        TellLibraryOnce(LibraryStatusText(kept, libraryPath_));
                    }
                });
        }
        return;
    }
    library_->Post([this, journal = run.path, saved = run.savedFile](LibraryStore& store) {
        LibraryRun recorded;
        if (const FileStatus read = RunFromJournal(journal, saved, recorded); !read) {
            TellLibraryOnce(FileErrorText(*read.error));
            return;
        }
        if (const LibraryStatus kept = store.RecordRun(recorded); !kept) {
            TellLibraryOnce(LibraryStatusText(kept, libraryPath_));
        } else if (recorded.testNumber > 0) {
            WakeLabPusher();
        }
    });
}

// From the library's thread too: the sender is made and ended on the window's.
void MainWindow::WakeLabPusher() {
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (labPusher_) {
                labPusher_->Wake();
            }
        },
        Qt::QueuedConnection);
}

void MainWindow::StartLabPusher() {
    labPusher_.reset();
    labWaiting_ = 0;
    labProblem_.clear();
    if (!library_ || state_.config.settingsPath.empty()) {
        ShowStatusText(false);
        return;
    }
    const LabServerSettings server =
        ReadLabServerSettings(SettingsStore(state_.config.settingsPath));
    if (server.Configured()) {
        LabPushOptions options;
        options.server = server;
        options.libraryPath = libraryPath_;
        labPusher_ = std::make_unique<LabPusher>(options, [this](const LabPushReport& report) {
            const QString problem =
                report.last.Ok() ? QString() : LabOutcomeWords(report.last.outcome);
            QMetaObject::invokeMethod(
                this,
                [this, waiting = report.waiting, problem] { ShowLabReport(waiting, problem); },
                Qt::QueuedConnection);
        });
    }
    ShowStatusText(false);
}

void MainWindow::EditLabServer(QWidget* parent) {
    const std::string& path = state_.config.settingsPath;
    LabServerDialog dialog(ReadLabServerSettings(SettingsStore(path)), parent);
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    SettingsStore store(path);
    WriteLabServerSettings(store, dialog.Settings());
    if (const FileStatus saved = store.Close(); !saved) {
        ReportError(dialogs_, FileErrorText(*saved.error));
        return;
    }
    StartLabPusher();  // to the server now named
}

void MainWindow::ShowLabReport(int waiting, QString problem) {
    if (!labPusher_) {
        return;  // a report of a sender ended since
    }
    labWaiting_ = waiting;
    labProblem_ = std::move(problem);
    ShowStatusText(false);
}

// From the library's thread: told on the window's, once in the station's life, as a warning; the
// run itself is saved and journaled whatever the library does.
void MainWindow::TellLibraryOnce(const std::string& text) {
    QMetaObject::invokeMethod(
        this,
        [this, text] {
            if (!std::exchange(libraryTold_, true)) {
                dialogs_.MessageBox(ErrorReportText(text), "Kelvaro - Biblioteca",
                                    DialogButtons::Ok, DialogIcon::Warning);
            }
        },
        Qt::QueuedConnection);
}

void MainWindow::RunFinished(StoredRun run) {
    RecordInLibrary(run, true);
    shownRun_ = std::move(run);
    shownRunOpened_ = false;
    saveButton->setEnabled(true);
    RefreshRunInfoChoices();  // the run's own texts among them
}

RunMetadata MainWindow::Metadata() {
    return runInfoForm->Metadata();
}

void MainWindow::RunSaved(const StoredRun& /*run*/) {
    runInfoForm->ClearAfterSave();
}

void MainWindow::ShowStoredRun(StoredRun run) {
    DrawRunLoads(*loadChart, run.loads, run.active);
    RunDrawn(run);
    shownRun_ = std::move(run);
    shownRunOpened_ = true;
    saveButton->setEnabled(true);
    DescribeOpenedRun();
}

void MainWindow::OnSaveClicked() {
    if (!shownRun_ || testRun_->IsRunning()) {
        return;
    }
    const std::string savedBefore = shownRun_->savedFile;
    const bool numbered = archive_->SaveAgain(*shownRun_);
    if (shownRun_->savedFile != savedBefore) {
        RecordInLibrary(*shownRun_, false);  // its number, file and readings as saved now
    }
    if (!numbered) {
        return;
    }
    if (shownRunOpened_) {
        DescribeOpenedRun();  // a number given now changes how an opened run is named
    } else if (const RunMetadata shown = runInfoForm->Metadata();
               shown.evaluated == shownRun_->metadata.evaluated &&
               shown.notes == shownRun_->metadata.notes) {
        // The run just ended, saved after a "Não": the row is done with it as after a "Sim",
        // unless the next test's texts are in it already.
        RunSaved(*shownRun_);
    }
}

void MainWindow::OnSaveResultsClicked() {
    if (results->Shown().Empty() || testRun_->IsRunning()) {
        return;
    }
    const ShownResults& shown = results->Shown();
    ResultsFileHeading heading;
    // The number the run has now: it may have been saved since it was drawn.
    heading.testNumber = shownRun_ ? shownRun_->heading.testNumber : shown.Run().testNumber;
    heading.start = shown.Run().start;
    heading.frequency = shown.Run().frequency;
    heading.stretch = shown.Stretch();
    heading.filterCutoffHz = shown.FilterCutoff();
    SaveFileRequest request;
    request.fileName = ResultsFileName(heading.testNumber, heading.start);
    request.defaultExtension = ".csv";
    request.filter = "Arquivos do Microsoft Excel (*.csv)|*.csv";
    // Beside the test file: the one it was opened from, or where a save would put it.
    request.initialFolder = exportFolder_.toStdString();
    if (shownRun_ && !shownRun_->fromJournal && !shownRun_->path.empty()) {
        request.initialFolder =
            QFileInfo(QString::fromStdString(shownRun_->path)).absolutePath().toStdString();
    }
    const auto path = dialogs_.SaveFile(request);
    if (!path) {
        return;
    }
    const ResultsTableText table =
        ResultsTable(shown.Results(), shown.Run().units, state_.config.decimalSeparator);
    FileStatus written;
    RunAside(
        [&] { written = WriteResultsFile(*path, heading, table, state_.config.decimalSeparator); });
    if (!written) {
        ReportError(dialogs_, FileErrorText(*written.error));
        return;
    }
    dialogs_.MessageBox("Os resultados foram salvos em " + *path, "Kelvaro - Salvar resultados",
                        DialogButtons::Ok, DialogIcon::Information);
}

void MainWindow::RememberTotalChoice(bool shown) {
    StationSettings settings(state_.config.settingsPath, state_.config.decimalSeparator);
    settings.SetTotalShown(shown);
    if (const FileStatus saved = settings.Close(); !saved) {
        ReportError(dialogs_, FileErrorText(*saved.error));
    }
}

void MainWindow::OnShownAtStart() {
    if (testRun_->IsRunning() || testRun_->IsStartingUp()) {
        return;
    }
    if (auto recovered = archive_->OfferRecovery(*this)) {
        RunFinished(std::move(*recovered));
    }
}

void MainWindow::EndSession() {
    testRun_->StopForExit();
    QCoreApplication::exit(0);
}

void MainWindow::EndSessionOn(TerminationSignals& source) {
    connect(&source, &TerminationSignals::Received, this, [this] { EndSession(); });
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (testRun_->IsRunning()) {
        testRun_->OnStartClicked();
    } else if (testRun_->IsStartingUp()) {
        testRun_->CancelStartUp();
    }
    QWidget::closeEvent(event);
}

void MainWindow::SetStatusText(const std::string& text, bool repaintNow) {
    statusText_ = text;
    ShowStatusText(repaintNow);
}

void MainWindow::ShowStatusText(bool repaintNow) {
    const QString stretch = results != nullptr ? results->StretchStatus() : QString();
    QString text = QString::fromStdString(statusText_) +
                   (stretch.isEmpty() ? QString() : QStringLiteral("  —  ") + stretch);
    // What waits for the lab's server, and why, while anything does.
    if (labPusher_ && labWaiting_ > 0) {
        text += (labWaiting_ == 1
                     ? QStringLiteral("  —  1 teste aguardando o servidor")
                     : QStringLiteral("  —  %1 testes aguardando o servidor").arg(labWaiting_)) +
                (labProblem_.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(labProblem_));
    }
    sampleCountLabel->setText(text);
    if (repaintNow) {
        sampleCountLabel->repaint();
    }
}

void MainWindow::ShowRunState(RunState state) {
    const bool running = state == RunState::Running;
    startButton->setText(running ? QStringLiteral(" Parar") : QStringLiteral(" Iniciar"));
    startButton->SetPicture(running ? ButtonPicture::Stop : ButtonPicture::Play);
}

void MainWindow::EnableButtons(bool enabled) {
    // What the run is about is read at its start: no edit while it goes on.
    runInfoForm->setEnabled(enabled);
    calibrationButton->setEnabled(enabled);
    communicationButton->setEnabled(enabled);
    frequencyButton->setEnabled(enabled);
    closeButton->setEnabled(enabled);
    openButton->setEnabled(enabled);
    libraryButton->setEnabled(enabled && library_ != nullptr);
    saveButton->setEnabled(enabled && shownRun_.has_value());
    const bool resultsShown = results != nullptr && !results->Shown().Empty();
    saveResultsButton->setEnabled(enabled && resultsShown);
    resultsPanel->setEnabled(enabled && resultsShown);
}

void MainWindow::StartIdlePass() {
    idleTimer_->start();
}

void MainWindow::StopIdlePass() {
    idleTimer_->stop();
}

void MainWindow::ScheduleStartUpStep(int delayMs) {
    startUpTimer_->start(delayMs);
}

bool MainWindow::IdlePassRunning() const {
    return idleTimer_->isActive();
}

bool MainWindow::EscapeHeld() {
    return escapeKey_->Held();
}

ChartSink& MainWindow::Chart() {
    return *loadChart;
}

LiveChartSink& MainWindow::LiveChart() {
    return *liveChart_;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize && (watched == buttonBar || watched == bottomBar)) {
        OnResized();
    }
    return QWidget::eventFilter(watched, event);
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    OnResized();
}

}  // namespace kelvaro
