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
#include "review/RecentRunsDialog.h"
#include "run/TestRun.h"
#include "station/StationSettings.h"
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
    return placement;
}

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
    sampleCountLabel = CreateNavyLabel(QStringLiteral(" Amostras:"), 21,
                                       Qt::AlignLeft | Qt::AlignVCenter, centrePanel);
    sampleCountLabel->setFixedHeight(40);
    centre->addWidget(sampleCountLabel);
    lowerGap = Gap(centrePanel);
    centre->addWidget(lowerGap);
    // A series for each plate: the runs draw plate p as series p.
    loadChart = new LoadChart(kPlateCount, centrePanel);
    centre->addWidget(loadChart, 1);

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

    connect(startButton, &QPushButton::clicked, this, [this] { OnStartClicked(); });
    connect(frequencyButton, &QPushButton::clicked, this, [this] { OnFrequencyClicked(); });
    connect(communicationButton, &QPushButton::clicked, this, [this] { OnCommunicationClicked(); });
    connect(calibrationButton, &QPushButton::clicked, this, [this] { OnCalibrationClicked(); });
    connect(closeButton, &QPushButton::clicked, this, [this] { OnCloseClicked(); });
    connect(openButton, &QPushButton::clicked, this, [this] { OnOpenClicked(); });
    connect(saveButton, &QPushButton::clicked, this, [this] { OnSaveClicked(); });

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
}

void MainWindow::OnDestroyed() {
    if (destroyed_) {
        return;
    }
    destroyed_ = true;
    // The plates first: every open one gets its Stop, also when a test is still running.
    state_.links.CloseAll();
    idleTimer_->stop();
    startUpTimer_->stop();
    // Nothing may keep the exit from completing.
    try {
        testRun_.reset();
        archive_.reset();
        progressWindow_.reset();
    } catch (...) {
    }
}

void MainWindow::OnStartClicked() {
    if (!testRun_->IsRunning() && !testRun_->IsStartingUp()) {
        // A start clears the chart, and with it the run read back.
        shownRun_.reset();
        saveButton->setEnabled(false);
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

void MainWindow::RunFinished(StoredRun run) {
    shownRun_ = std::move(run);
    shownRunOpened_ = false;
    saveButton->setEnabled(true);
}

void MainWindow::ShowStoredRun(StoredRun run) {
    DrawRunLoads(*loadChart, run.loads, run.active);
    shownRun_ = std::move(run);
    shownRunOpened_ = true;
    saveButton->setEnabled(true);
    DescribeOpenedRun();
}

void MainWindow::OnSaveClicked() {
    if (!shownRun_ || testRun_->IsRunning()) {
        return;
    }
    // A number given now changes how an opened run is named.
    if (archive_->SaveAgain(*shownRun_) && shownRunOpened_) {
        DescribeOpenedRun();
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
    sampleCountLabel->setText(QString::fromStdString(text));
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
    calibrationButton->setEnabled(enabled);
    communicationButton->setEnabled(enabled);
    frequencyButton->setEnabled(enabled);
    closeButton->setEnabled(enabled);
    openButton->setEnabled(enabled);
    saveButton->setEnabled(enabled && shownRun_.has_value());
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
    return *loadChart;
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
