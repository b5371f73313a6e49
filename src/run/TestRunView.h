// What the test run needs of the main window: the status label, the start/stop button, the
// other buttons, the idle pass, the Escape key and the chart, drawn after the run and live.
#pragma once

#include <string>

#include "archive/StoredRun.h"
#include "journal/RunMetadata.h"
#include "station/ChartSink.h"
#include "station/LiveChartSink.h"

namespace kelvaro {

// Where the run stands. The start-up goes on in timer steps (StartingUp): the start button
// starts nothing more meanwhile, and closing the window stops and closes the plates. A stop runs
// to its end inside one click or pass (its dialogs are modal).
enum class RunState { Idle, StartingUp, Running };

class TestRunView {
  public:
    virtual ~TestRunView() = default;
    // sampleCountLabel; `repaintNow` draws it at once.
    virtual void SetStatusText(const std::string& text, bool repaintNow) = 0;
    // The start/stop button shows what it does in `state`: stop a run that is on, start one
    // otherwise.
    virtual void ShowRunState(RunState state) = 0;
    // Enables calibrationButton, communicationButton, frequencyButton and closeButton, in that
    // order.
    virtual void EnableButtons(bool enabled) = 0;
    // Hooks/unhooks the acquisition pass to the application's idle turns.
    virtual void StartIdlePass() = 0;
    virtual void StopIdlePass() = 0;
    // Calls TestRun::ContinueStartUp once, `delayMs` from now (0: at the next turn).
    virtual void ScheduleStartUpStep(int delayMs) = 0;
    // True while Escape is held down (whichever window has the focus, where the desktop
    // allows it to be read).
    virtual bool EscapeHeld() = 0;
    virtual ChartSink& Chart() = 0;
    // What the operator says the run is about, asked once as the run starts; nothing filled in
    // is no obstacle to it.
    virtual RunMetadata Metadata() { return {}; }
    // The run that just ended, drawn on the chart, before any question about it: what the
    // window shows of it besides the lines.
    virtual void RunDrawn(const StoredRun& /*run*/) {}
    // The run that just ended, after its save question (its test number 0 when it was not
    // saved), so it can be saved again.
    virtual void RunFinished(StoredRun run) = 0;
    // The run that just ended was saved (its save question answered and a number given), told
    // before RunFinished: what was said of it is not to be carried over to the next run.
    virtual void RunSaved(const StoredRun& /*run*/) {}
    virtual LiveChartSink& LiveChart() = 0;
};

}  // namespace kelvaro
