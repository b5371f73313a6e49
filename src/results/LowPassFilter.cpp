#include "results/LowPassFilter.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <numbers>

namespace kelvaro {

namespace {

// Samples reflected at each end of a stretch: three times the section's number of coefficients,
// the usual practice of forward-backward filtering, long enough for the start-up to settle.
constexpr std::size_t kReflected = 9;
static_assert(kShortestFilteredStretch == kReflected + 1, "the end sample and the reflected ones");

bool Offered(int cutoffHz) {
    return std::find(kLowPassCutoffsHz.begin(), kLowPassCutoffsHz.end(), cutoffHz) !=
           kLowPassCutoffsHz.end();
}

// cutoff <= 0.45 × frequency in whole numbers, so 22.5 Hz at 50 Hz is not a rounding question.
bool BelowLimit(int cutoffHz, int frequencyHz) {
    return 20LL * cutoffHz <= 9LL * frequencyHz;
}

// One pass of the section (transposed direct form II) over [first, last), in place, in the
// order the iterators walk. It starts in the state the section would hold after a long run of
// the first sample's value: started from rest it would ring up from zero at every stretch's end.
template <class Iterator>
void RunSection(Iterator first, Iterator last, const LowPass& f) {
    if (first == last) {
        return;
    }
    const double start = *first;
    double z1 = (f.b1 - f.a1 + f.b2 - f.a2) * start;
    double z2 = (f.b2 - f.a2) * start;
    for (; first != last; ++first) {
        const double x = *first;
        const double y = f.b0 * x + z1;
        z1 = f.b1 * x - f.a1 * y + z2;
        z2 = f.b2 * x - f.a2 * y;
        *first = y;
    }
}

// A stretch without missing readings, at least kShortestFilteredStretch long, filtered in place.
// Reflecting each end about its sample (2·x0 − x[i]) keeps the load and its slope going through
// the end, so the section's start-up happens outside the stretch rather than on its first loads.
void FilterStretch(std::span<double> x, const LowPass& f, std::vector<double>& extended) {
    const std::size_t n = x.size();
    extended.resize(n + 2 * kReflected);
    for (std::size_t j = 0; j < kReflected; ++j) {
        extended[j] = 2.0 * x[0] - x[kReflected - j];
        extended[kReflected + n + j] = 2.0 * x[n - 1] - x[n - 2 - j];
    }
    std::copy(x.begin(), x.end(), extended.begin() + kReflected);
    RunSection(extended.begin(), extended.end(), f);
    RunSection(extended.rbegin(), extended.rend(), f);
    std::copy_n(extended.begin() + kReflected, n, x.begin());
}

void FilterStretches(std::span<double> series, const LowPass& f, std::vector<double>& extended) {
    const std::size_t n = series.size();
    std::size_t begin = 0;
    while (begin < n) {
        if (std::isnan(series[begin])) {
            ++begin;
            continue;
        }
        std::size_t end = begin;
        while (end < n && !std::isnan(series[end])) {
            ++end;
        }
        if (end - begin >= kShortestFilteredStretch) {
            FilterStretch(series.subspan(begin, end - begin), f, extended);
        }
        begin = end;
    }
}

}  // namespace

std::vector<int> AllowedCutoffs(int frequencyHz) {
    std::vector<int> allowed;
    for (const int cutoff : kLowPassCutoffsHz) {
        if (frequencyHz > 0 && BelowLimit(cutoff, frequencyHz)) {
            allowed.push_back(cutoff);
        }
    }
    return allowed;
}

LowPassResult DesignLowPass(int cutoffHz, int frequencyHz) {
    if (frequencyHz <= 0) {
        return {LowPassError::NoFrequency};
    }
    if (!Offered(cutoffHz)) {
        return {LowPassError::CutoffNotOffered};
    }
    if (!BelowLimit(cutoffHz, frequencyHz)) {
        return {LowPassError::CutoffTooHigh};
    }
    // The bilinear transform maps the analogue frequency tan(π·fc/fs) onto fc: taking that as the
    // analogue cutoff (pre-warping) puts the digital section's -3 dB point on fc itself. There is
    // no correction for the second pass: the cutoff the operator reads is the single pass's, as
    // forward-backward filters are usually named, and both passes are 6 dB down there.
    const double k = std::tan(std::numbers::pi * cutoffHz / frequencyHz);
    const double kk = k * k;
    const double norm = 1.0 / (1.0 + std::numbers::sqrt2 * k + kk);
    LowPass f;
    f.cutoffHz = cutoffHz;
    f.frequencyHz = frequencyHz;
    f.b0 = kk * norm;
    f.b1 = 2.0 * f.b0;
    f.b2 = f.b0;
    f.a1 = 2.0 * (kk - 1.0) * norm;
    f.a2 = (1.0 - std::numbers::sqrt2 * k + kk) * norm;
    return {LowPassError::None, f};
}

std::vector<double> FilterSeries(std::span<const double> series, const LowPass& lowPass) {
    std::vector<double> filtered(series.begin(), series.end());
    FilterSeriesInPlace(filtered, lowPass);
    return filtered;
}

void FilterSeriesInPlace(std::span<double> series, const LowPass& lowPass) {
    std::vector<double> extended;
    FilterStretches(series, lowPass, extended);
}

std::vector<LoadRecord> FilterLoads(std::span<const LoadRecord> loads, const ActivePlates& active,
                                    const LowPass& lowPass) {
    std::vector<LoadRecord> filtered(loads.begin(), loads.end());
    // A plate's loads are every fourth double of a record; the section walks them as one
    // contiguous series, gathered once, so the passes run over neighbouring memory.
    std::vector<double> series(loads.size());
    std::vector<double> extended;
    for (std::size_t plate = 0; plate < kPlateCount; ++plate) {
        if (!active[plate]) {
            continue;
        }
        for (std::size_t i = 0; i < loads.size(); ++i) {
            series[i] = loads[i][plate];
        }
        FilterStretches(series, lowPass, extended);
        for (std::size_t i = 0; i < loads.size(); ++i) {
            filtered[i][plate] = series[i];
        }
    }
    return filtered;
}

}  // namespace kelvaro
