#include "settings/StoredBounds.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "settings/NumberText.h"

namespace kelvaro {

bool KnownSamplingRate(std::int64_t hertz) {
    return std::find(kSamplingRates.begin(), kSamplingRates.end(), hertz) != kSamplingRates.end();
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
