// The figures the results table shows of a run, for the whole run or a stretch of it: each
// active plate's and the total's samples, extremes, mean, impulse and rate of rise, and each
// plate's share of the total. Numbers only; a figure that cannot be had is absent, never 0.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "plate/Plate.h"

namespace kelvaro {

// A stretch of a run's samples, both ends included, counted from 0 (the operator's sample k is
// index k - 1). A stretch whose last index is below its first holds no sample.
struct SampleStretch {
    int first = 0;
    int last = -1;
    bool operator==(const SampleStretch&) const = default;
};

// The window of the rate of rise in samples: 50 ms at `frequency`, rounded half up (3 at 50 Hz,
// 30 at 600 Hz); 0, so no rate, below 10 Hz.
int RiseWindow(std::int32_t frequency);

// One series over a stretch. Times are in seconds, loads in the series' own unit; a missing
// reading is left out of every figure but the counts. Time figures need a positive frequency.
struct SeriesFigures {
    int samples = 0;  // in the stretch, missing ones included
    int missing = 0;
    std::optional<double> duration;  // samples / frequency
    std::optional<double> minimum;
    std::optional<double> peak;      // the largest signed value
    std::optional<int> peakSample;   // the run index of the peak's first occurrence
    std::optional<double> peakTime;  // from the stretch's first sample to peakSample
    std::optional<double> mean;      // over the present readings
    std::optional<double> impulse;   // load x s: trapezoids between consecutive present readings
    std::optional<double> peakRise;  // load/s: the largest rise over RiseWindow samples
};

// The figures of `series` (one value per sample, NaN where missing) over `stretch`, which is cut
// to the series.
SeriesFigures FiguresOf(std::span<const double> series, SampleStretch stretch,
                        std::int32_t frequency);
// The figures of plate `plate` (0 is plate 1) of a run's loads over `stretch`.
SeriesFigures FiguresOf(std::span<const LoadRecord> loads, int plate, SampleStretch stretch,
                        std::int32_t frequency);

// Why a run has no total.
enum class TotalAbsence {
    NoActivePlate,
    UnitsDiffer,  // the active plates do not all load in the same unit
};

struct PlateResults {
    int plate = 0;  // 0 is plate 1
    SeriesFigures figures;
    // Fractions (0.25 is 25 %), absent without a total or when the divisor is 0 or missing:
    std::optional<double> meanShare;  // the plate's mean over the total's mean
    std::optional<double> peakShare;  // the plate's load over the total at the total's peak
};

struct StretchResults {
    SampleStretch stretch;             // as figured: ordered and cut to the run
    std::vector<PlateResults> plates;  // the active plates, plate 1 first
    std::optional<SeriesFigures> total;
    std::optional<TotalAbsence> noTotal;  // set exactly when there is no total
};

// The results of one run for any stretch of it. Sums the total once, so a stretch that follows
// the mouse costs one pass over it per series. Keeps a view of `loads`, which must outlive it.
class RunResults {
  public:
    RunResults(std::span<const LoadRecord> loads, const ActivePlates& active,
               const std::array<std::string, kPlateCount>& units, std::int32_t frequency);

    // `stretch` may have its ends in either order and reach beyond the run.
    StretchResults Of(SampleStretch stretch) const;
    SampleStretch WholeRun() const { return {0, static_cast<int>(loads_.size()) - 1}; }

    // The total series, empty when there is no total.
    std::span<const double> Total() const { return total_; }
    std::optional<TotalAbsence> NoTotal() const { return noTotal_; }

  private:
    std::span<const LoadRecord> loads_;
    ActivePlates active_;
    std::int32_t frequency_;
    std::vector<double> total_;
    std::optional<TotalAbsence> noTotal_;
};

}  // namespace kelvaro
