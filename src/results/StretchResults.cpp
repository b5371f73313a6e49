#include "results/StretchResults.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "results/TotalLoad.h"

namespace kelvaro {

namespace {

// A stretch with its ends in order and cut to a series of `size` samples.
SampleStretch Cut(SampleStretch stretch, std::size_t size) {
    if (stretch.last < stretch.first) {
        std::swap(stretch.first, stretch.last);
    }
    stretch.first = std::max(stretch.first, 0);
    stretch.last = static_cast<int>(
        std::min<std::ptrdiff_t>(stretch.last, static_cast<std::ptrdiff_t>(size) - 1));
    return stretch;
}

// Every figure of a series in one pass over the stretch; `at(k)` is the series' sample k (a
// plate's column is read in place, the total from its own array). The rate of rise takes the
// largest difference over the window and scales it once: the scale is positive, so the largest
// difference gives the largest rate.
template <class At>
SeriesFigures Figure(const At& at, SampleStretch stretch, std::int32_t frequency) {
    SeriesFigures out;
    out.samples = std::max(stretch.last - stretch.first + 1, 0);
    const double f = frequency;
    const int window = RiseWindow(frequency);
    int present = 0;
    int peakAt = -1;
    double sum = 0.0;
    double lowest = 0.0;
    double highest = 0.0;
    double pairs = 0.0;
    bool paired = false;
    double rise = 0.0;
    bool rose = false;
    double previous = std::nan("");
    for (int k = stretch.first; k <= stretch.last; ++k) {
        const double x = at(k);
        if (std::isnan(x)) {
            previous = x;
            continue;
        }
        if (present == 0 || x < lowest) {
            lowest = x;
        }
        if (present == 0 || x > highest) {
            highest = x;
            peakAt = k;
        }
        ++present;
        sum += x;
        if (!std::isnan(previous)) {
            pairs += previous + x;
            paired = true;
        }
        previous = x;
        if (window > 0 && k - window >= stretch.first) {
            const double before = at(k - window);
            if (!std::isnan(before) && (!rose || x - before > rise)) {
                rise = x - before;
                rose = true;
            }
        }
    }
    out.missing = out.samples - present;
    if (present > 0) {
        out.minimum = lowest;
        out.peak = highest;
        out.peakSample = peakAt;
        out.mean = sum / present;
    }
    if (frequency > 0) {
        out.duration = out.samples / f;
        if (present > 0) {
            out.peakTime = (peakAt - stretch.first) / f;
        }
        if (paired) {
            out.impulse = pairs / 2.0 / f;
        }
        if (rose) {
            out.peakRise = rise * f / window;
        }
    }
    return out;
}

// a / b, absent when either is, or when b is 0.
std::optional<double> Share(std::optional<double> a, std::optional<double> b) {
    if (!a || !b || *b == 0.0 || std::isnan(*a)) {
        return std::nullopt;
    }
    return *a / *b;
}

}  // namespace

int RiseWindow(std::int32_t frequency) {
    return static_cast<int>(std::floor(0.05 * frequency + 0.5));
}

SeriesFigures FiguresOf(std::span<const double> series, SampleStretch stretch,
                        std::int32_t frequency) {
    return Figure([series](int k) { return series[k]; }, Cut(stretch, series.size()), frequency);
}

SeriesFigures FiguresOf(std::span<const LoadRecord> loads, int plate, SampleStretch stretch,
                        std::int32_t frequency) {
    return Figure([loads, plate](int k) { return loads[k][plate]; }, Cut(stretch, loads.size()),
                  frequency);
}

RunResults::RunResults(std::span<const LoadRecord> loads, const ActivePlates& active,
                       const std::array<std::string, kPlateCount>& units, std::int32_t frequency)
    : loads_(loads), active_(active), frequency_(frequency) {
    const std::string* unit = nullptr;
    for (int plate = 0; plate < kPlateCount; ++plate) {
        if (!active[plate]) {
            continue;
        }
        if (unit != nullptr && *unit != units[plate]) {
            noTotal_ = TotalAbsence::UnitsDiffer;
            return;
        }
        unit = &units[plate];
    }
    if (unit == nullptr) {
        noTotal_ = TotalAbsence::NoActivePlate;
        return;
    }
    total_ = TotalLoads(loads, active);
}

StretchResults RunResults::Of(SampleStretch stretch) const {
    StretchResults out;
    out.stretch = Cut(stretch, loads_.size());
    if (noTotal_) {
        out.noTotal = noTotal_;
    } else {
        out.total = FiguresOf(total_, out.stretch, frequency_);
    }
    for (int plate = 0; plate < kPlateCount; ++plate) {
        if (!active_[plate]) {
            continue;
        }
        PlateResults& row = out.plates.emplace_back();
        row.plate = plate;
        row.figures = FiguresOf(loads_, plate, out.stretch, frequency_);
        if (out.total) {
            row.meanShare = Share(row.figures.mean, out.total->mean);
            if (out.total->peakSample) {
                row.peakShare = Share(loads_[*out.total->peakSample][plate], out.total->peak);
            }
        }
    }
    return out;
}

}  // namespace kelvaro
