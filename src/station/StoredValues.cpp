#include "station/StoredValues.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "settings/NumberText.h"

namespace kelvaro {

std::int32_t ReadSamplingRate(const SettingsStore& store, std::string_view key) {
    const std::int32_t rate = store.ReadInteger(kSettingsSection, key, kDefaultSamplingRate);
    return std::find(kSamplingRates.begin(), kSamplingRates.end(), rate) != kSamplingRates.end()
               ? rate
               : kDefaultSamplingRate;
}

bool UsableOffset(double value) {
    return std::isfinite(value) && std::fabs(value) <= kCalibrationLimit;
}

bool UsableIndex(double value) {
    if (!UsableOffset(value)) {
        return false;
    }
    const std::string stored = FormatNumber(value, NumberPattern::FourDecimals, '.');
    return stored.find_first_not_of("-0.") != std::string::npos;
}

}  // namespace kelvaro
