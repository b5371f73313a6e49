// The test run: bringing the selected plates on line, the idle acquisition pass, the stop,
// conversion of raw readings into loads, drawing, and the export of the test.
#pragma once

#include <array>
#include <chrono>
#include <string>

#include "device/PortHolders.h"
#include "run/TestRunView.h"
#include "station/Dialogs.h"
#include "station/ProgressView.h"
#include "station/StationState.h"

namespace kelvaro {

class TestRun {
  public:
    TestRun(StationState& state, Dialogs& dialogs, ProgressView& progress, TestRunView& view,
            std::string exportFolder);

    // Start-up when the caption is " Iniciar", stop otherwise.
    void onStartClicked();
    // One acquisition pass; called on every idle turn while the run is on. It takes one report
    // from every active plate, waiting for all of them together, and stops the run when a
    // plate is gone: unplugged, silent, or sending nothing but garbage.
    void readSamples();

    bool isRunning() const { return running_; }

    // The steps below are public so the main window and the tests can name them; the button
    // and the idle pass are the normal ways in.
    void enableButtons(bool enabled);
    // Starts the stream on every active plate; false after reporting the plate that failed.
    bool startPlates();
    void clearSamples();
    // Stop: unhooks the pass, stops and closes the active plates, draws and offers the export.
    bool stopTest();
    // For a program that must end now: a running test is stopped without drawing or asking,
    // its plates get their Stop and their channels are closed; the raw samples stay in the
    // store. Nothing happens when no test runs.
    void StopForExit();
    // Reads the zero offset, index and tare of every active plate, as the run will convert
    // with them. A value the conversion cannot use ends the start-up with a report naming the
    // plate and the stored text (false), so a run that starts can always be converted and saved.
    bool ReadCalibration();
    // Converts the raw readings with the calibration read at start-up and draws them.
    void drawChart();

  private:
    // Zero offset, calibration index and tare of one plate.
    struct Calibration {
        double sp = 0;
        double idc = 1;
        double t = 0;
    };

    void startRun();
    // Ends a failed start-up step: label, buttons, then the error report.
    void failStartUp(const std::string& message);
    // DTR low, Stop and close for every active plate's channel.
    void stopPlates();
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

    StationState& state_;
    Dialogs& dialogs_;
    ProgressView& progress_;
    TestRunView& view_;
    std::string exportFolder_;
    std::array<Calibration, kPlateCount> calibration_{};
    bool running_ = false;
    std::array<StreamWatch, kPlateCount> watch_{};
    std::array<bool, kPlateCount> lost_{};
    PortHolderWatch holderWatch_;
    std::string holderMessage_;  // told at the stop
};

}  // namespace kelvaro
