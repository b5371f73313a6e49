#include "calibration/CalibrationSettings.h"

#include <optional>

#include "settings/NumberText.h"
#include "station/StoredValues.h"

namespace kelvaro {

double ConvertedLoad(double raw, const PlateCalibration& values) {
    return (raw - values.zeroOffset) / values.index - values.tare;
}

std::string PlateKey(std::string_view base, int plate) {
    return std::string(base) + std::to_string(plate);
}

CalibrationScreenSettings ReadCalibrationSettings(const SettingsStore& store,
                                                  char decimalSeparator) {
    CalibrationScreenSettings s;
    s.frequency = ReadSamplingRate(store, "Frequencia");
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        PlateScreenSettings& p = s.plates.at(static_cast<std::size_t>(plate - 1));
        p.active = store.ReadBool(kSettingsSection, PlateKey("check", plate), plate == 1);
        p.port = store.ReadString(kSettingsSection, PlateKey("Porta", plate), "");
        p.load = store.ReadString(kSettingsSection, PlateKey("Carga", plate), "50");
        p.unit = store.ReadString(kSettingsSection, PlateKey("u", plate), "kgf");
        // A text that is no number at all shows the first-run value.
        const auto number = [&](std::string_view base, std::string_view text, double fallback) {
            return ParseStoredNumber(
                       store.ReadString(kSettingsSection, PlateKey(base, plate), text),
                       decimalSeparator)
                .value_or(fallback);
        };
        p.values.index = number("IDC", "1", 1.0);
        p.values.tare = number("t", "0", 0.0);
        p.values.zeroOffset = number("sp", "0", 0.0);
        // Only the exact caption means "no tare applied"; anything else was written by a tare.
        p.tareCaption = store.ReadString(kSettingsSection, PlateKey("btt", plate), "Tara") == "Tara"
                            ? "Tara"
                            : "Remover Tara";
    }
    return s;
}

void WriteClosingSettings(SettingsStore& store,
                          const std::array<PlateClosingState, kPlateCount>& plates) {
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        store.WriteBool(kSettingsSection, PlateKey("check", plate),
                        plates.at(static_cast<std::size_t>(plate - 1)).active);
    }
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        store.WriteString(kSettingsSection, PlateKey("carga", plate),
                          plates.at(static_cast<std::size_t>(plate - 1)).load);
    }
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        store.WriteString(kSettingsSection, PlateKey("u", plate),
                          plates.at(static_cast<std::size_t>(plate - 1)).unit);
    }
}

}  // namespace kelvaro
