// The test run: bringing the selected plates on line, the idle acquisition pass with its journal
// and live chart, the stop, conversion of raw readings into loads and drawing; the stopped run
// goes to the archive to be saved.
#pragma once

#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "archive/RunArchive.h"
#include "device/PlateBringUp.h"
#include "device/PortHolders.h"
#include "journal/Journal.h"
#include "run/SampleStore.h"
#include "run/TestRunView.h"
#include "station/Dialogs.h"
#include "station/ProgressView.h"
#include "station/StationState.h"

namespace kelvaro {

// Where the run stands. The start-up goes on in timer steps (StartingUp): the start button
// starts nothing more meanwhile, and closing the window stops and closes the plates. A stop runs
// to its end inside one click or pass (its dialogs are modal).
enum class RunState { Idle, StartingUp, Running };

// Why a run ends.
enum class StopReason {
    Operator,    // " Parar", the close box, or Cancel at the start question
    EscapeHeld,  // the operator's other way to stop
    StoreFull,   // kMaxSamples samples taken
    PlateLost,   // unplugged, silent, or sending nothing but garbage
    PortTaken,   // another program opened an active plate's port
};

class TestRun {
  public:
    TestRun(StationState& state, Dialogs& dialogs, TestRunView& view, RunArchive& archive);

    // The start/stop button: starts a run when none is on, stops the one that is; nothing while
    // a start-up goes on.
    void OnStartClicked();
    // The start-up's next step, when the view's timer asked for by ScheduleStartUpStep fires.
    void ContinueStartUp();
    // Ends a start-up under way (the window closes): the plates opened so far get their Stop and
    // are closed, the buttons come back.
    void CancelStartUp();
    // One acquisition pass; called on every idle turn while the run is on. The run stops when
    // the pass gives a reason.
    void ReadSamples();

    bool IsRunning() const { return runState_ == RunState::Running; }
    bool IsStartingUp() const { return runState_ == RunState::StartingUp; }
    const SampleStore& Samples() const { return samples_; }
    SampleStore& Samples() { return samples_; }

    // For a program that must end now: a running test is stopped without drawing or asking,
    // its plates get their Stop and their channels are closed; the raw samples stay in the
    // store, and the journal is synced but left open, as the run was never offered for saving.
    // Nothing happens when no test runs.
    void StopForExit();
    // Reads the zero offset, index and tare of every active plate, as the run will convert
    // with them. A value the conversion cannot use ends the start-up with a report naming the
    // plate and the stored text (false), so a run that starts can always be converted and saved.
    bool ReadCalibration();
    // Converts the raw readings with the calibration read at start-up and draws the loads.
    void DrawChart();

  private:
    void StartRun();
    // Brings the next active plate on line (or, once the question was answered, starts its
    // stream); after the last one asks the start question, or begins the run.
    void BeginNextPlate();
    void AskToStart();
    // Starts the stream on every active plate, one after another; a plate that fails is
    // reported and the ones started before it are stopped.
    void StartPlates();
    // Every plate streams: the journal, the pass and the holder watch begin.
    void Begin();
    // The pass itself: one report from every active plate, waiting for all of them together.
    // Gives the reason the run must stop, or nothing while it goes on.
    std::optional<StopReason> TakeSamples();
    // Unhooks the pass, stops and closes the active plates, draws, tells the operator what
    // ended the run when it was no choice of theirs, and offers the export.
    void Stop(StopReason reason);
    // Starts the journal of a run whose plates stream; one that cannot be made is told at the
    // stop and the run goes on without it.
    void OpenJournal();
    // Hands the live chart the loads converted so far.
    void BeginLiveChart();
    // Ends a failed start-up step: label, buttons, then the error report.
    void FailStartUp(const std::string& message);
    // DTR low, Stop and close for every active plate's channel.
    void StopPlates();
    // Tells the operator which plates the last run lost, once.
    void ReportLostPlates();

    using Clock = std::chrono::steady_clock;
    // What the pass remembers of each plate's stream from one pass to the next.
    struct StreamWatch {
        Clock::time_point lastReport;  // the last valid report, or the start of the run
        std::size_t garbage = 0;       // bytes discarded since then
    };
    // Once a second, and at once when a plate was lost: has another program opened an active
    // plate's port? Such a plate counts as lost, and the stop names the plate and the program.
    bool PortTakenByAnotherProgram(bool plateLost);
    // Bytes a plate sent stand unread in its port: a station starved of the processor must
    // read them before it may call the plate silent.
    bool BytesWaiting(std::size_t plate);
    // Time the station was not listening, the part of `from`..`to` beyond what it may take
    // (`expected`), moves the plates' silence clocks on.
    void CreditTimeAway(std::chrono::steady_clock::time_point from,
                        std::chrono::steady_clock::time_point to,
                        std::chrono::steady_clock::duration expected);

    StationState& state_;
    Dialogs& dialogs_;
    TestRunView& view_;
    RunArchive& archive_;
    SampleStore samples_;
    PlateCalibrations calibration_{};
    RunState runState_ = RunState::Idle;
    std::array<StreamWatch, kPlateCount> watch_{};
    std::array<bool, kPlateCount> lost_{};
    PortHolderWatch holderWatch_;
    std::unique_ptr<PlateBringUp> bringUp_;  // the plate the start-up is bringing on line
    int startPlate_ = 0;
    bool startingStreams_ = false;  // the start question was answered
    std::string holderMessage_;     // told at the stop
    std::size_t lossLook_ = 0;      // the look asked for when a plate was lost
    std::chrono::steady_clock::time_point lossSeen_;
    std::chrono::steady_clock::time_point lastPassEnd_;  // when the last pass ended
    std::unique_ptr<JournalWriter> journal_;             // the running or last run's
    std::array<std::string, kPlateCount> units_;         // the plates' units when the run started
    std::chrono::system_clock::time_point runStart_;
    bool live_ = false;  // the live chart reads the loads
};

}  // namespace kelvaro
