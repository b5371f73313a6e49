// The test run's state machine: the settings read at the start, the plate start-up, each
// acquisition pass handed on to the sample store and the journal (the live chart reads the store
// on its own timer), the stop and drawing; the stopped run goes to the archive to be saved.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "archive/RunArchive.h"
#include "journal/Journal.h"
#include "run/Acquisition.h"
#include "run/RunStartUp.h"
#include "run/SampleStore.h"
#include "run/TestRunView.h"
#include "station/Dialogs.h"
#include "station/ProgressView.h"
#include "station/StationState.h"

namespace kelvaro {

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
    // The plates' units, read at the last start.
    const std::array<std::string, kPlateCount>& Units() const { return units_; }
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
    // Where a start-up step led: the start question after the plates came on line, the run
    // once they stream, or the failure's report.
    void StartUpMoved(RunStartUp::Outcome outcome);
    void AskToStart();
    // Every plate streams: the journal, the pass and the holder watch begin.
    void Begin();
    // Hands one pass on, in order: the sample store, then the journal.
    void Deliver(const PassResult& pass);
    // Unhooks the pass, stops and closes the active plates, draws, tells the operator what
    // ended the run when it was no choice of theirs, and offers the export.
    void Stop(StopReason reason);
    // Starts the journal of a run whose plates stream; one that cannot be made is told at the
    // stop and the run goes on without it.
    void OpenJournal();
    // Hands the live chart the store's loads, which it reads on its own timer.
    void BeginLiveChart();
    // Ends a failed start-up step: label, buttons, then the error report.
    void FailStartUp(const std::string& message);
    // Tells the operator which plates the last run lost, once.
    void ReportLostPlates();

    StationState& state_;
    Dialogs& dialogs_;
    TestRunView& view_;
    RunArchive& archive_;
    SampleStore samples_;
    PlateCalibrations calibration_{};
    RunState runState_ = RunState::Idle;
    RunStartUp startUp_;
    Acquisition acquisition_;
    std::string holderMessage_;                   // told at the stop
    std::unique_ptr<JournalWriter> journal_;      // the running or last run's
    std::array<std::string, kPlateCount> units_;  // the plates' units when the run started
    std::chrono::system_clock::time_point runStart_;
    RunId runId_{};         // made at the start
    RunMetadata metadata_;  // as the view gave it at the start
    bool live_ = false;     // the live chart reads the loads
};

}  // namespace kelvaro
