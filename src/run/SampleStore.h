// The samples of a test: the raw readings as the plates sent them, and their loads, which the
// chart and the export read. Once the run's calibration is known every row is converted as it is
// appended, so the loads are always whole. Both tables are allocated once, for the program's
// life: a run allocates nothing.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <utility>

#include "plate/Plate.h"
#include "station/StationState.h"

namespace kelvaro {

// Zero offset, calibration index and tare of one plate: load = ((raw - sp) / idc) - t.
struct LoadConversion {
    double sp = 0;
    double idc = 1;
    double t = 0;
};

// One raw record as loads: an active plate's reading converted with its calibration, an idle
// plate's copied as read; a missing reading is a missing load (NaN), never a number.
inline LoadRecord ConvertRecord(const RawRecord& raw,
                                const std::array<LoadConversion, kPlateCount>& calibration,
                                const std::array<bool, kPlateCount>& active) {
    LoadRecord load;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const LoadConversion& c = calibration[i];
        const auto reading = static_cast<double>(raw[i]);
        load[i] = raw[i] == kMissingReading ? std::numeric_limits<double>::quiet_NaN()
                  : active[i]               ? ((reading - c.sp) / c.idc) - c.t
                                            : reading;
    }
    return load;
}

class SampleStore {
  public:
    SampleStore();

    int Count() const { return count_; }
    bool Full() const { return count_ >= kMaxSamples; }
    // Forgets the samples, their loads and the calibration.
    void Clear();
    // The next record; converted at once when the calibration is known. The store must not be
    // full.
    void Append(const RawRecord& raw);
    std::span<const RawRecord> Raw() const;
    // Converts every row taken so far and, until the next Clear, each row as it is appended: an
    // active plate's column with its calibration, an idle plate's column copied as read. Every
    // call until the next Clear must pass the same calibration.
    void Convert(const std::array<LoadConversion, kPlateCount>& calibration,
                 const std::array<bool, kPlateCount>& active);
    // The loads of every row taken since the calibration is known.
    std::span<const LoadRecord> Loads() const;

  private:
    std::unique_ptr<std::array<RawRecord, kMaxSamples>> raw_;
    std::unique_ptr<std::array<LoadRecord, kMaxSamples>> loads_;
    int count_ = 0;
    int loadCount_ = 0;
    std::optional<std::pair<std::array<LoadConversion, kPlateCount>, ActivePlates>> conversion_;
};

}  // namespace kelvaro
