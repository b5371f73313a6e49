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

    // The steps below are public so the main window and the tests can name them; the button
    // and the idle pass are the normal ways in.
    void HabilitarBotoes(bool enabled);
    // Starts the stream on every active plate; false after reporting the plate that failed.
    bool IniciarDispositivos();
    void LimparAmostras();
    // Stop: unhooks the pass, stops and closes the active plates, draws and offers the export.
    bool PararTeste();
    // Converts the raw readings with each plate's calibration and draws them; false (after
    // the error report) when a calibration value is unusable.
    bool DesenharGrafico();

  private:
    void Iniciar();
    // Ends a failed start-up step: label, buttons, then the error report.
    void FalhaNaPartida(const std::string& message);
    // DTR low, Stop and close for every active plate's channel.
    void PararPlacas();

    StationState& state_;
    Dialogs& dialogs_;
    ProgressView& progress_;
    TestRunView& view_;
    std::string exportFolder_;
    bool testeRodando_ = false;
};

}  // namespace kelvaro
