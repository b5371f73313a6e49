// The samples of a test: the raw readings as the plates sent them, and the loads the conversion
// makes of them while the run goes on and at the stop, which the chart and the export read. Both
// tables are allocated once, for the program's life: a run allocates nothing.
#pragma once

#include <array>
#include <memory>
#include <span>

#include "station/StationState.h"

namespace kelvaro {

inline constexpr int kMaxSamples = 144000;

// One sample: a value per plate, plate 1 first.
using SampleRecord = std::array<double, kPlateCount>;

// Zero offset, calibration index and tare of one plate: load = ((raw - sp) / idc) - t.
struct LoadConversion {
    double sp = 0;
    double idc = 1;
    double t = 0;
};

// One raw record as loads: an active plate's reading converted with its calibration, an idle
// plate's copied as read.
inline SampleRecord ConvertRecord(const SampleRecord& raw,
                                  const std::array<LoadConversion, kPlateCount>& calibration,
                                  const std::array<bool, kPlateCount>& active) {
    SampleRecord load;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const LoadConversion& c = calibration[i];
        load[i] = active[i] ? ((raw[i] - c.sp) / c.idc) - c.t : raw[i];
    }
    return load;
}

class SampleStore {
  public:
    SampleStore();

    int Count() const { return count_; }
    bool Full() const { return count_ >= kMaxSamples; }
    // Forgets the samples and their loads.
    void Clear();
    // The next record, all zeros: a plate that sends no report for it keeps its 0. The store
    // must not be full.
    SampleRecord& Append();
    std::span<const SampleRecord> Raw() const;
    // Extends the load table to every raw reading: an active plate's column converted with its
    // calibration, an idle plate's column copied as read. Only the rows taken since the last
    // call are converted, so every call until the next Clear must pass the same calibration.
    void Convert(const std::array<LoadConversion, kPlateCount>& calibration,
                 const std::array<bool, kPlateCount>& active);
    // The loads converted so far.
    std::span<const SampleRecord> Loads() const;

  private:
    using Table = std::array<SampleRecord, kMaxSamples>;
    std::unique_ptr<Table> raw_;
    std::unique_ptr<Table> loads_;
    int count_ = 0;
    int loadCount_ = 0;
};

}  // namespace kelvaro
