#include "station/StationSettings.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "settings/NumberText.h"

namespace kelvaro {

StationSettings::StationSettings(std::string path, char decimalSeparator)
    : store_(std::move(path)), decimalSeparator_(decimalSeparator) {}

void StationSettings::SetCalibrationIndex(int plate, double index) {
    SetText(Key(kIndex, plate),
            FormatNumber(index, NumberPattern::FourDecimals, decimalSeparator_));
}

StoredNumber StationSettings::Number(std::string key, std::string_view unset) const {
    std::string text = Text(key, unset);
    std::optional<double> value = ParseStoredNumber(text, decimalSeparator_);
    return {std::move(key), std::move(text), value};
}

std::int32_t StationSettings::SamplingRate(std::string_view key) const {
    const std::int32_t rate = store_.ReadInteger(kSettingsSection, key, kDefaultSamplingRate);
    return std::find(kSamplingRates.begin(), kSamplingRates.end(), rate) != kSamplingRates.end()
               ? rate
               : kDefaultSamplingRate;
}

void StationSettings::SetThreeDecimals(std::string_view key, double value) {
    SetText(key, FormatNumber(value, NumberPattern::ThreeDecimals, decimalSeparator_));
}

}  // namespace kelvaro
