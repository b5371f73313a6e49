// The calibration screen's settings: what it reads when it opens, what it writes when it
// closes, and the per-plate calibration values.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "plate/Plate.h"
#include "station/StationSettings.h"
#include "station/StationState.h"

namespace kelvaro {

struct PlateScreenSettings {
    bool active = false;
    std::string port;
    std::string load = "50";
    std::string unit = "kgf";
    PlateCalibration values;
    bool tareApplied = false;
};

struct CalibrationScreenSettings {
    std::int32_t frequency = 50;
    std::array<PlateScreenSettings, kPlateCount> plates;
};

// Everything the screen shows when it opens, with the defaults of a first run.
CalibrationScreenSettings ReadCalibrationSettings(const StationSettings& settings);

// What the screen leaves behind when it closes, per plate.
struct PlateClosingState {
    bool active = false;
    std::string load;  // the load field's text as typed
    std::string unit;
};
void WriteClosingSettings(StationSettings& settings,
                          const std::array<PlateClosingState, kPlateCount>& plates);

}  // namespace kelvaro
