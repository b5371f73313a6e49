// Stored values that reach a plate or a test's conversion: the sampling rates a plate is
// configured with, and the bounds a plate's calibration values keep so that every reading
// converts to a finite load the export can write and the store can read back.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "settings/SettingsStore.h"

namespace kelvaro {

// The rates the frequency screen offers, in Hz; the plate's Configure codes only these.
inline constexpr std::array<std::int32_t, 7> kSamplingRates{50, 100, 150, 200, 300, 400, 600};
inline constexpr std::int32_t kDefaultSamplingRate = 50;

// The rate stored under `key` (Frequencia, FrequenciaP1..4) when it is one of kSamplingRates;
// anything else (missing, not a number, an edited 99999 or 0) reads as kDefaultSamplingRate.
std::int32_t ReadSamplingRate(const SettingsStore& store, std::string_view key);

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
