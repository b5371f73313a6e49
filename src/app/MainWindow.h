// The main window: the station's start screen with the test's start/stop button, the buttons
// that open the secondary screens, the sample counter, the result chart, and the opening and
// saving again of an earlier run. It owns the state
// the whole run shares, the progress window, the archive of runs and the test run.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "archive/RunArchive.h"
#include "journal/Journal.h"
#include "review/RunReview.h"
#include "run/TestRunView.h"
#include "station/Dialogs.h"
#include "station/StationState.h"

class QFrame;
class QLabel;
class QTimer;

namespace kelvaro {

class EscapeKeyMonitor;
class LabPusher;
class LibraryWorker;
class LoadChart;
class LoweredPanel;
class PictureButton;
class TerminationSignals;
class TestRun;
class ProgressWindow;
class ResultsPanel;
class ResultsScreen;
class RunInfoForm;
class TitleBand;
class BottomBand;

// Left positions of the five buttons for the current widths of the two button bars.
struct MainButtonPlacement {
    int startButton;
    int frequencyButton;
    int communicationButton;
    int calibrationButton;
    int closeButton;
    int openButton;
    int saveButton;
    int saveResultsButton;
    int libraryButton;
};
// The four top buttons (150 wide, 50 apart, 750 in all) centred in buttonBar with the quotient
// truncated towards zero, so a bar narrower than 750 gives negative lefts; closeButton against
// the right edge of bottomBar, inside its 8 px margin; openButton, saveButton, saveResultsButton
// and libraryButton against its left edge, in that order, 8 px apart.
MainButtonPlacement PlaceMainButtons(int buttonBarWidth, int bottomBarWidth);

struct MainWindowOptions {
    // The station's settings file.
    std::string settingsPath;
    // The folder that holds "Exportados"; empty means the folder of the running program.
    QString programFolder;
    // Started for virtual plates: their folder is listed and the title says "(demonstração)",
    // so neither a screenshot nor a saved test passes for a real one.
    bool virtualPlates = false;
    // Where the run journals are kept.
    std::string journalFolder = DefaultJournalFolder();
};

inline constexpr const char* kDemonstrationSuffix = " (demonstração)";

// Whether the station is started for virtual plates: the --virtual-plates option, or the
// environment's KELVARO_VIRTUAL_PLATES (what `scripts/run --demo` sets) holding anything but
// nothing or "0". `environmentValue` is that variable's value, or null when it is not set.
bool StartedForVirtualPlates(const QStringList& arguments, const char* environmentValue);

class MainWindow : public QWidget, public TestRunView, public ArchiveView {
    Q_OBJECT
  public:
    MainWindow(Dialogs& dialogs, MainWindowOptions options, QWidget* parent = nullptr);
    ~MainWindow() override;  // OnDestroyed

    // Event handlers.
    void OnCreated();
    void OnResized();
    void OnDestroyed();
    void OnStartClicked();
    void OnFrequencyClicked();
    void OnCommunicationClicked();
    void OnCalibrationClicked();
    void OnCloseClicked();
    // Lets the operator pick a recent run or a saved test file, and draws it as after a run.
    void OnOpenClicked();
    // Saves the run on the chart that was read back (opened or recovered) as a test file again.
    void OnSaveClicked();
    // Writes the results table of the run on the chart, for the stretch and filter shown, to a
    // file the operator names.
    void OnSaveResultsClicked();
    // Offers the run a crash left in its journal (RunArchive::OfferRecovery).
    void OnShownAtStart();

    // The desktop session is ending (logout, shutdown, the terminal closed) and nobody is left
    // to answer a question: a running test is stopped without one, its plates get their Stop
    // and the raw samples stay in the store; then the event loops end, and with them the
    // program.
    void EndSession();
    // Calls EndSession whenever `source` reports a termination signal.
    void EndSessionOn(TerminationSignals& source);

    // TestRunView and ArchiveView.
    void SetStatusText(const std::string& text, bool repaintNow) override;
    void ShowRunState(RunState state) override;
    void EnableButtons(bool enabled) override;
    void StartIdlePass() override;
    void StopIdlePass() override;
    void ScheduleStartUpStep(int delayMs) override;
    bool EscapeHeld() override;
    ChartSink& Chart() override;
    LiveChartSink& LiveChart() override;
    void RunFinished(StoredRun run) override;
    // TestRunView: the run information row's texts; emptied but for the protocol once saved.
    RunMetadata Metadata() override;
    void RunSaved(const StoredRun& run) override;
    // TestRunView and ArchiveView: the run's results beside its lines.
    void RunDrawn(const StoredRun& run) override;
    // ArchiveView: `work` on a thread of its own, the start button and the others off meanwhile.
    void RunAside(const std::function<void()>& work) override;

    // Where OnOpenClicked lets the operator pick; the recent-runs dialog unless replaced.
    void SetRunChooser(std::unique_ptr<RunChooser> chooser) { runChooser_ = std::move(chooser); }
    // The run read back that the chart shows, if any.
    const std::optional<StoredRun>& ShownRun() const { return shownRun_; }
    // The library's thread, none without a journal folder.
    LibraryWorker* Library() const { return library_.get(); }

    StationState& State() { return state_; }
    ProgressWindow& Progress() { return *progressWindow_; }
    TestRun& Run() { return *testRun_; }
    RunArchive& Archive() { return *archive_; }
    // The save dialog's initial folder (SalvarD).
    const QString& ExportFolder() const { return exportFolder_; }
    bool IdlePassRunning() const;

    TitleBand* topPanel = nullptr;
    QLabel* titleLabel = nullptr;
    LoweredPanel* centrePanel = nullptr;
    QFrame* buttonBar = nullptr;
    PictureButton* startButton = nullptr;
    PictureButton* frequencyButton = nullptr;
    PictureButton* communicationButton = nullptr;
    PictureButton* calibrationButton = nullptr;
    QFrame* upperGap = nullptr;
    RunInfoForm* runInfoForm = nullptr;
    QLabel* sampleCountLabel = nullptr;
    QFrame* lowerGap = nullptr;
    LoadChart* loadChart = nullptr;
    ResultsPanel* resultsPanel = nullptr;
    BottomBand* bottomBand = nullptr;
    QFrame* bottomBar = nullptr;
    PictureButton* closeButton = nullptr;
    PictureButton* openButton = nullptr;
    PictureButton* saveButton = nullptr;
    PictureButton* saveResultsButton = nullptr;
    PictureButton* libraryButton = nullptr;
    ResultsScreen* results = nullptr;

  protected:
    // The close box during a run ends the run as " Parar" does (the plates are stopped and
    // the save question is asked) before the window goes.
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void BuildLayout();
    void ShowStoredRun(StoredRun run);
    void OnLibraryClicked();
    // The status line of a run opened again: its samples and which run it is.
    void DescribeOpenedRun();
    // The status line: what the run set, and the stretch marked, if any.
    void ShowStatusText(bool repaintNow);
    void RememberTotalChoice(bool shown);
    // Records a run that ended (or was saved again) in the library, off the window's thread.
    // `justEnded`: the run has just stopped, rather than been saved again.
    void RecordInLibrary(const StoredRun& run, bool justEnded);
    void TellLibraryOnce(const std::string& text);
    // Starts sending the library's outbox to the lab's server its settings name, if any, after
    // ending the sender already running.
    void StartLabPusher();
    // "Servidor do laboratório...": the settings edited, kept, and the sender made again.
    void EditLabServer(QWidget* parent);
    // The sender's report of a try, on the window's thread: the queue in the status line.
    void ShowLabReport(int waiting, QString problem);
    // Something was queued for the server: the sender tries now. From any thread.
    void WakeLabPusher();
    // Fills the run information row's lists from the recent runs' journals, read off this thread.
    void RefreshRunInfoChoices();
    class LiveResultsChart;

    Dialogs& dialogs_;
    MainWindowOptions options_;
    StationState state_;
    QString exportFolder_;
    std::unique_ptr<ProgressWindow> progressWindow_;
    std::unique_ptr<RunArchive> archive_;
    std::unique_ptr<TestRun> testRun_;
    EscapeKeyMonitor* escapeKey_ = nullptr;
    QTimer* idleTimer_ = nullptr;
    QTimer* startUpTimer_ = nullptr;  // the test start-up's next step
    std::unique_ptr<RunChooser> runChooser_;
    std::optional<StoredRun> shownRun_;
    std::string statusText_ = " Amostras:";  // the label's text before any run
    std::unique_ptr<LiveResultsChart> liveChart_;
    std::string libraryPath_;
    std::unique_ptr<LibraryWorker> library_;
    bool libraryTold_ = false;  // what went wrong with the library is told once
    // Sends the saved tests to the lab's server, when one is set; made again when its settings
    // change and around a rebuild of the library.
    std::unique_ptr<LabPusher> labPusher_;
    int labWaiting_ = 0;           // tests the last try left for the server
    QString labProblem_;           // the operator's words for the last try's failure; empty: none
    std::jthread choicesReader_;   // reads the recent runs for the information row's lists
    bool shownRunOpened_ = false;  // opened again, rather than the run just ended
    // Only the calibration screen's first activation in the program's life opens the ticked
    // plates' channels.
    bool calibrationFirstActivation_ = true;
    bool destroyed_ = false;
};

}  // namespace kelvaro
