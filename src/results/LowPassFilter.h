// The zero-lag low-pass a run's loads can be read through: a 2nd-order Butterworth section run
// forward and then backward, so a peak keeps its sample and its time. It filters copies of the
// loads only; the readings a run keeps are never touched.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <vector>

#include "plate/Plate.h"

namespace kelvaro {

// The cutoffs the operator chooses from, in Hz, lowest first.
inline constexpr std::array<int, 4> kLowPassCutoffsHz{5, 10, 20, 50};

// A stretch between missing readings shorter than this is left as it is: the ends are extended
// by reflecting the nine samples after the end one, so a stretch needs ten to reflect.
inline constexpr std::size_t kShortestFilteredStretch = 10;

// The cutoffs offered for a run taken at `frequencyHz`: those not above 0.45 × the frequency.
// Nearer the Nyquist frequency the bilinear transform squeezes the response into too few
// samples per period for the cutoff to mean what it says.
std::vector<int> AllowedCutoffs(int frequencyHz);

enum class LowPassError {
    None,
    NoFrequency,       // the run's frequency is not a positive number of Hz
    CutoffNotOffered,  // not one of kLowPassCutoffsHz
    CutoffTooHigh,     // offered, but above 0.45 × the run's frequency
};

// One biquad section, a0 normalised to 1. The default one passes every load through unchanged.
struct LowPass {
    int cutoffHz = 0;
    int frequencyHz = 0;
    double b0 = 1.0;
    double b1 = 0.0;
    double b2 = 0.0;
    double a1 = 0.0;
    double a2 = 0.0;
};

struct [[nodiscard]] LowPassResult {
    LowPassError error = LowPassError::None;
    LowPass value{};

    bool Ok() const { return error == LowPassError::None; }
    explicit operator bool() const { return Ok(); }
};

// The section for a cutoff the operator chose at a run's frequency, or why it is refused.
// `cutoffHz` is the single pass's -3 dB point; the two passes together are 6 dB down there.
LowPassResult DesignLowPass(int cutoffHz, int frequencyHz);

// A series of one plate's loads filtered forward and backward. Each stretch between missing
// readings (NaN) is filtered on its own, one shorter than kShortestFilteredStretch is kept as it
// is, and a missing reading stays missing.
std::vector<double> FilterSeries(std::span<const double> series, const LowPass& lowPass);
void FilterSeriesInPlace(std::span<double> series, const LowPass& lowPass);

// A run's loads with every active plate's series filtered as FilterSeries does; an idle plate's
// loads are copied as they are.
std::vector<LoadRecord> FilterLoads(std::span<const LoadRecord> loads, const ActivePlates& active,
                                    const LowPass& lowPass);

}  // namespace kelvaro
