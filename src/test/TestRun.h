// The test run: bringing the selected plates on line, the idle acquisition pass, the stop,
// conversion of raw readings into loads, drawing, and the export of the test.
#pragma once

#include <string>

#include "station/Dialogs.h"
#include "station/ProgressView.h"
#include "station/StationState.h"
#include "test/TestRunView.h"

namespace kelvaro {

class TestRun {
  public:
    TestRun(StationState& state, Dialogs& dialogs, ProgressView& progress, TestRunView& view,
            std::string exportFolder);

    // Start-up when the caption is " Iniciar", stop otherwise.
    void btIniciarClick();
    // One acquisition pass; called on every idle turn while the run is on.
    void LerAmostras();

    bool TesteRodando() const { return testeRodando_; }

  private:
    StationState& state_;
    Dialogs& dialogs_;
    ProgressView& progress_;
    TestRunView& view_;
    std::string exportFolder_;
    bool testeRodando_ = false;
};

}  // namespace kelvaro
