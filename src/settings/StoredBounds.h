// The bounds every stored value that reaches a plate or a test's conversion must keep, wherever
// it was stored: the settings file, or a run's journal read back.
#pragma once

#include <array>
#include <cstdint>

namespace kelvaro {

// The rates the frequency screen offers, in Hz; the plate's Configure codes only these.
inline constexpr std::array<std::int32_t, 7> kSamplingRates{50, 100, 150, 200, 300, 400, 600};

// Whether `hertz` is one of kSamplingRates.
bool KnownSamplingRate(std::int64_t hertz);

// The largest magnitude a zero offset, tare or calibration index may have. Raw readings are
// 24-bit counts; with an index no smaller than what four decimals can hold, every load then
// stays below 1e17 and is written as plain digits.
inline constexpr double kCalibrationLimit = 1e12;

// A zero offset or tare the conversion can use: a finite number within kCalibrationLimit.
bool UsableOffset(double value);
// A calibration index the conversion can use: finite, within kCalibrationLimit, and not zero
// once stored with four decimals (0.00004 would be stored as 0,0000).
bool UsableIndex(double value);

}  // namespace kelvaro
