// The samples of a test: the raw readings as the plates sent them, and the loads the conversion
// makes of them while the run goes on and at the stop, which the chart and the export read. Both
// tables are allocated once, for the program's life: a run allocates nothing.
#pragma once

#include <array>
#include <memory>
#include <span>

#include "plate/Plate.h"

namespace kelvaro {

class SampleStore {
  public:
    SampleStore();

    int Count() const { return count_; }
    bool Full() const { return count_ >= kMaxSamples; }
    // Forgets the samples and their loads.
    void Clear();
    // The next record, every reading missing: only a report a plate delivers for it fills its
    // field. The store must not be full.
    RawRecord& Append();
    std::span<const RawRecord> Raw() const;
    // Extends the load table to every raw reading: an active plate's column converted with its
    // calibration, an idle plate's column copied as read. Only the rows taken since the last
    // call are converted, so every call until the next Clear must pass the same calibration.
    void Convert(const PlateCalibrations& calibration, const ActivePlates& active);
    // The loads converted so far.
    std::span<const LoadRecord> Loads() const;

  private:
    std::unique_ptr<std::array<RawRecord, kMaxSamples>> raw_;
    std::unique_ptr<std::array<LoadRecord, kMaxSamples>> loads_;
    int count_ = 0;
    int loadCount_ = 0;
};

}  // namespace kelvaro
