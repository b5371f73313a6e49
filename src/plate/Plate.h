// The words every part of the station shares about a plate: how many there are, what a raw
// reading is (and a missing one), what a sample holds, and a plate's calibration with the one
// formula that turns a reading into a load.
#pragma once

#include <array>
#include <cstdint>

namespace kelvaro {

inline constexpr int kPlateCount = 4;
// The most samples a run takes, and so the most a journal or a test file can hold.
inline constexpr int kMaxSamples = 144000;

// A plate's 24-bit count as it sent it.
using RawReading = std::uint32_t;
// A reading a plate did not deliver (silent, lost, or a damaged report). The plates' counts have
// 24 bits, so no reading can take this value; a genuine 0 stays a reading.
inline constexpr RawReading kMissingReading = 0xFFFFFFFF;

// One sample's raw readings, plate 1 first.
using RawRecord = std::array<RawReading, kPlateCount>;
// One sample's loads, plate 1 first; NaN where the reading is missing.
using LoadRecord = std::array<double, kPlateCount>;

// Zero offset, calibration index and tare of one plate.
struct PlateCalibration {
    double zeroOffset = 0.0;  // raw counts with no load
    double index = 1.0;       // raw counts per load unit
    double tare = 0.0;        // load units

    // A raw reading (or an average of readings) as a load.
    double Load(double raw) const { return ((raw - zeroOffset) / index) - tare; }
    bool operator==(const PlateCalibration&) const = default;
};

using PlateCalibrations = std::array<PlateCalibration, kPlateCount>;
using ActivePlates = std::array<bool, kPlateCount>;

// One raw record as loads: an active plate's reading converted with its calibration, an idle
// plate's copied as read; a missing reading is a missing load (NaN), never a number.
LoadRecord ConvertRecord(const RawRecord& raw, const PlateCalibrations& calibration,
                         const ActivePlates& active);

}  // namespace kelvaro
