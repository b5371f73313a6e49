#include "calibration/CalibrationSettings.h"

namespace kelvaro {

CalibrationScreenSettings ReadCalibrationSettings(const StationSettings& settings) {
    CalibrationScreenSettings s;
    s.frequency = settings.TestFrequency();
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        PlateScreenSettings& p = s.plates.at(static_cast<std::size_t>(plate - 1));
        p.active = settings.PlateTicked(plate, plate == 1);
        p.port = settings.PlatePort(plate);
        p.load = settings.LoadText(plate);
        p.unit = settings.Unit(plate, "kgf");
        // A text that is no number at all shows the first-run value.
        p.values.index = settings.CalibrationIndex(plate).value.value_or(1.0);
        p.values.tare = settings.Tare(plate).value.value_or(0.0);
        p.values.zeroOffset = settings.ZeroOffset(plate).value.value_or(0.0);
        p.tareApplied = settings.TareApplied(plate);
    }
    return s;
}

void WriteClosingSettings(StationSettings& settings,
                          const std::array<PlateClosingState, kPlateCount>& plates) {
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        settings.SetPlateTicked(plate, plates.at(static_cast<std::size_t>(plate - 1)).active);
    }
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        settings.SetLoadText(plate, plates.at(static_cast<std::size_t>(plate - 1)).load);
    }
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        settings.SetUnit(plate, plates.at(static_cast<std::size_t>(plate - 1)).unit);
    }
}

}  // namespace kelvaro
