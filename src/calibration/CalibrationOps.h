// The calibration screen's work without its widgets: the live reading of the ticked plates,
// and per plate the zeroing, the tare, the two-point calibration and the index entry, with
// the plate preparation and averaged sampling run they share. Talks to the operator through
// Dialogs, to the progress window through ProgressView and to its screen through
// CalibrationView.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "calibration/CalibrationSettings.h"
#include "calibration/CalibrationView.h"
#include "station/Dialogs.h"
#include "station/ProgressView.h"
#include "station/StationState.h"

namespace kelvaro {

// The value a read that failed stands for; any reading at or above it ends a measurement.
inline constexpr double kFailedReading = 16000000.0;

// The load field takes Backspace, the comma and digits; every other typed character is
// dropped (there is no decimal point and no minus sign to type).
inline bool LoadFieldAccepts(char32_t typed) {
    return typed == 8 || typed == U',' || (typed >= U'0' && typed <= U'9');
}

// The six texts an operation gives its averaged sampling run.
struct SamplingTexts {
    std::string prompt, promptTitle;
    std::string failure, failureTitle;
    std::string cancelled, cancelledTitle;
};

class CalibrationOps {
  public:
    CalibrationOps(StationState& state, Dialogs& dialogs, ProgressView& progress,
                   CalibrationView& view);

    // Opening: reads the screen's settings (FrequenciaTeste is reloaded), keeps the ports and
    // calibration values and returns everything the controls show.
    CalibrationScreenSettings Open();
    // First activation of the run only: opens the channels of the ticked plates.
    void Activate(const std::array<bool, kPlateCount>& ticked);
    // One reading tick over the ticked plates, in plate order.
    void ReadingTick(const std::array<bool, kPlateCount>& ticked);
    // Closing: stores the plates' check boxes, loads and units, then closes all four channels.
    void Close(const std::array<PlateClosingState, kPlateCount>& plates);

    void Zerar(int plate);
    void Tara(int plate);
    void Calibrar(int plate);
    void EditarIDC(int plate);

    const PlateCalibration& Values(int plate) const { return values_.at(Index(plate)); }
    const std::string& Port(int plate) const { return ports_.at(Index(plate)); }

  private:
    static std::size_t Index(int plate) { return static_cast<std::size_t>(plate - 1); }
    PlateCalibration& ValuesOf(int plate) { return values_.at(Index(plate)); }

    // A read for the live display; false when the tick has failed for the plate.
    bool TickRead(int plate, double& raw);
    bool FrequencyUsable(const std::string& title);
    bool PreparePlate(int plate, std::uint8_t mode);
    std::optional<double> AveragedSampling(int plate, const SamplingTexts& texts);
    // Opens the store, lets `write` fill it, closes it; a failed save is reported.
    void Store(const std::function<void(SettingsStore&)>& write);
    std::string Format3(double value) const;
    void Message(const std::string& text, const std::string& title, DialogIcon icon);

    StationState& state_;
    Dialogs& dialogs_;
    ProgressView& progress_;
    CalibrationView& view_;
    std::array<PlateCalibration, kPlateCount> values_{};
    std::array<std::string, kPlateCount> ports_{};
};

}  // namespace kelvaro
