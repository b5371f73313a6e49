// The results the main window shows of the run on its chart: the run's loads as they are read
// (raw, or through the low-pass the operator chose), their total, the stretch the operator
// marked and its figures, and the load range the chart needs for them. Numbers only.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "plate/Plate.h"
#include "results/LowPassFilter.h"
#include "results/StretchResults.h"

namespace kelvaro {

// A run as the results read it.
struct ResultsRun {
    std::vector<LoadRecord> loads;
    ActivePlates active{};
    std::array<std::string, kPlateCount> units;
    std::int32_t frequency = 0;
    std::int64_t testNumber = 0;  // 0: never saved
    std::optional<std::chrono::system_clock::time_point> start;
};

// Whether the total is drawn for a run of these plates when the operator never chose: with two
// plates or more, where it is the sum of something.
bool TotalShownByDefault(const ActivePlates& active);

// The lowest and highest load a chart of `loads` spans: zero and every column's extremes, an idle
// plate's too, and `total`'s present values. Missing readings count for nothing.
std::pair<double, double> LoadRange(std::span<const LoadRecord> loads,
                                    std::span<const double> total);

class ShownResults {
  public:
    // A new run, shown whole; the filter chosen stays on when the run's frequency allows it and
    // is dropped otherwise.
    void Show(ResultsRun run);
    void Clear();
    bool Empty() const { return !run_; }
    const ResultsRun& Run() const { return *run_; }

    // 0 takes the filter off. A cutoff the run cannot take is refused and changes nothing; with
    // no run shown any offered cutoff is kept for the next one.
    LowPassError SetFilter(int cutoffHz);
    int FilterCutoff() const { return cutoffHz_; }

    // The stretch whose figures are shown (ends in either order, cut to the run).
    void SetStretch(SampleStretch stretch);
    void ShowWholeRun();
    bool WholeRunShown() const;
    SampleStretch Stretch() const { return stretch_; }

    // The loads drawn and figured: the filtered ones while the filter is on.
    std::span<const LoadRecord> Loads() const;
    // Their total, sample by sample; empty without a total.
    std::span<const double> Total() const;
    std::optional<TotalAbsence> NoTotal() const;
    StretchResults Results() const;

  private:
    void Figure();

    std::unique_ptr<const ResultsRun> run_;
    std::vector<LoadRecord> filtered_;
    int cutoffHz_ = 0;
    std::optional<RunResults> results_;
    SampleStretch stretch_;
};

// How the operator reads a stretch: "amostras 1 a 144000 (0,000 s a 239,998 s)", times from the
// run's first sample; without a frequency, the samples only.
std::string StretchText(SampleStretch stretch, std::int32_t frequency, char decimalSeparator);

}  // namespace kelvaro
