// The samples of a test: the raw readings as the plates sent them, and their loads, which the
// chart and the export read. Once the run's calibration is known every row is converted as it is
// appended, so the loads are always whole. Both tables are allocated once, for the program's
// life: a run allocates nothing.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <span>
#include <utility>

#include "plate/Plate.h"

namespace kelvaro {

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
    void Convert(const PlateCalibrations& calibration, const ActivePlates& active);
    // The loads of every row taken since the calibration is known.
    std::span<const LoadRecord> Loads() const;

  private:
    std::unique_ptr<std::array<RawRecord, kMaxSamples>> raw_;
    std::unique_ptr<std::array<LoadRecord, kMaxSamples>> loads_;
    int count_ = 0;
    int loadCount_ = 0;
    std::optional<std::pair<PlateCalibrations, ActivePlates>> conversion_;
};

}  // namespace kelvaro
