#include "results/ShownResults.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace kelvaro {

namespace {

std::string Seconds(double seconds, char decimalSeparator) {
    char text[64];
    const auto written =
        std::to_chars(text, text + sizeof text, seconds + 0.0, std::chars_format::fixed, 3);
    std::string out(text, written.ptr);
    std::replace(out.begin(), out.end(), '.', decimalSeparator);
    return out;
}

}  // namespace

bool TotalShownByDefault(const ActivePlates& active) {
    return std::count(active.begin(), active.end(), true) >= 2;
}

std::pair<double, double> LoadRange(std::span<const LoadRecord> loads,
                                    std::span<const double> total) {
    double low = 0.0;
    double high = 0.0;
    // NaN fails both comparisons, so a missing reading moves neither end.
    for (const LoadRecord& record : loads) {
        for (const double load : record) {
            high = load > high ? load : high;
            low = load < low ? load : low;
        }
    }
    for (const double load : total) {
        high = load > high ? load : high;
        low = load < low ? load : low;
    }
    return {low, high};
}

void ShownResults::Show(ResultsRun run) {
    run_ = std::make_unique<const ResultsRun>(std::move(run));
    if (cutoffHz_ != 0 && !DesignLowPass(cutoffHz_, run_->frequency)) {
        cutoffHz_ = 0;
    }
    stretch_ = {0, static_cast<int>(run_->loads.size()) - 1};
    Figure();
}

void ShownResults::Clear() {
    results_.reset();
    filtered_.clear();
    run_.reset();
    stretch_ = {};
}

LowPassError ShownResults::SetFilter(int cutoffHz) {
    if (cutoffHz != 0) {
        // With no run, only whether the cutoff is one offered matters.
        const LowPassResult design = DesignLowPass(cutoffHz, run_ ? run_->frequency : 100000);
        if (!design) {
            return design.error;
        }
    }
    if (cutoffHz != cutoffHz_) {
        cutoffHz_ = cutoffHz;
        if (run_) {
            Figure();
        }
    }
    return LowPassError::None;
}

void ShownResults::Figure() {
    results_.reset();
    filtered_.clear();
    if (cutoffHz_ != 0) {
        filtered_ =
            FilterLoads(run_->loads, run_->active, DesignLowPass(cutoffHz_, run_->frequency).value);
    }
    results_.emplace(Loads(), run_->active, run_->units, run_->frequency);
}

void ShownResults::SetStretch(SampleStretch stretch) {
    if (!run_ || run_->loads.empty()) {
        return;
    }
    if (stretch.last < stretch.first) {
        std::swap(stretch.first, stretch.last);
    }
    const int last = static_cast<int>(run_->loads.size()) - 1;
    stretch_ = {std::clamp(stretch.first, 0, last), std::clamp(stretch.last, 0, last)};
}

void ShownResults::ShowWholeRun() {
    stretch_ = {0, run_ ? static_cast<int>(run_->loads.size()) - 1 : -1};
}

bool ShownResults::WholeRunShown() const {
    return !run_ || stretch_ == SampleStretch{0, static_cast<int>(run_->loads.size()) - 1};
}

std::span<const LoadRecord> ShownResults::Loads() const {
    if (!run_) {
        return {};
    }
    return cutoffHz_ != 0 ? std::span<const LoadRecord>(filtered_)
                          : std::span<const LoadRecord>(run_->loads);
}

std::span<const double> ShownResults::Total() const {
    return results_ ? results_->Total() : std::span<const double>();
}

std::optional<TotalAbsence> ShownResults::NoTotal() const {
    return results_ ? results_->NoTotal() : std::optional(TotalAbsence::NoActivePlate);
}

StretchResults ShownResults::Results() const {
    if (!results_) {
        StretchResults none;
        none.noTotal = TotalAbsence::NoActivePlate;
        return none;
    }
    return results_->Of(stretch_);
}

std::string StretchText(SampleStretch stretch, std::int32_t frequency, char decimalSeparator) {
    std::string text =
        "amostras " + std::to_string(stretch.first + 1) + " a " + std::to_string(stretch.last + 1);
    if (frequency > 0) {
        text += " (" + Seconds(stretch.first / static_cast<double>(frequency), decimalSeparator) +
                " s a " + Seconds(stretch.last / static_cast<double>(frequency), decimalSeparator) +
                " s)";
    }
    return text;
}

}  // namespace kelvaro
