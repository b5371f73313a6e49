// The zero-lag low-pass against the closed form of a pre-warped 2nd-order Butterworth: gain 1 at
// 0 Hz, the single pass's squared magnitude after both passes, a peak kept on its sample; the
// same checks run on a moving average and a single pass, which must fail them.
#include "results/LowPassFilter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <numeric>

#include "CaseNames.h"

namespace kelvaro {
namespace {

using testing::PrintTo;
using Filter = std::function<std::vector<double>(std::span<const double>)>;
constexpr double kPi = std::numbers::pi;
const LowPass k20HzAt600 = DesignLowPass(20, 600).value;

// |H|² of the analogue Butterworth at the pre-warped frequency: the two passes' amplitude ratio.
double SquaredGain(int hz, int cutoffHz, int rate) {
    const double r = std::tan(kPi * hz / rate) / std::tan(kPi * cutoffHz / rate);
    return 1.0 / (1.0 + std::pow(r, 4));
}

// The amplitude a filter leaves of a 12 s unit sine, over whole periods far from both ends.
double SineGain(const Filter& filter, int hz, int rate) {
    std::vector<double> x(12 * rate);
    for (std::size_t k = 0; k < x.size(); ++k) {
        x[k] = std::sin(2 * kPi * hz * static_cast<double>(k) / rate);
    }
    const std::vector<double> y = filter(x);
    double s = 0.0;
    double c = 0.0;
    for (int k = 4 * rate; k < 8 * rate; ++k) {
        s += y[k] * std::sin(2 * kPi * hz * k / rate);
        c += y[k] * std::cos(2 * kPi * hz * k / rate);
    }
    return 2.0 * std::hypot(s, c) / (4.0 * rate);
}

bool KeepsAConstant(const Filter& filter) {
    const std::vector<double> x(100, -37.25);
    const std::vector<double> y = filter(x);
    return std::all_of(y.begin(), y.end(), [](double v) { return std::abs(v + 37.25) <= 1e-9; });
}

bool SquaresTheGain(const Filter& filter) {
    return std::all_of(kLowPassCutoffsHz.begin(), kLowPassCutoffsHz.end(), [&](int hz) {
        return std::abs(SineGain(filter, hz, 600) - SquaredGain(hz, 20, 600)) <= 1e-6;
    });
}

// A triangle 10 samples wide each side, at sample 300 of 601: the peak and the symmetry stay.
bool KeepsAPeakOnItsSample(const Filter& filter) {
    std::vector<double> x(601, 0.0);
    for (int k = -10; k <= 10; ++k) {
        x[300 + k] = 10.0 - std::abs(k);
    }
    const std::vector<double> y = filter(x);
    bool symmetric = true;
    for (std::size_t k = 1; k <= 300; ++k) {
        symmetric = symmetric && std::abs(y[300 - k] - y[300 + k]) <= 1e-9;
    }
    return symmetric && std::max_element(y.begin(), y.end()) - y.begin() == 300;
}

std::vector<double> ZeroLag(std::span<const double> x) {
    return FilterSeries(x, k20HzAt600);
}

// A centred moving average over 15 samples (fewer at the ends): zero phase, gain 1 at 0 Hz.
std::vector<double> MovingAverage(std::span<const double> x) {
    std::vector<double> y(x.size());
    for (std::size_t k = 0; k < x.size(); ++k) {
        const auto first = x.begin() + static_cast<long>(k - std::min<std::size_t>(k, 7));
        const auto last = x.begin() + static_cast<long>(std::min(x.size(), k + 8));
        y[k] = std::accumulate(first, last, 0.0) / static_cast<double>(last - first);
    }
    return y;
}

// The same section once forward, from its steady state.
std::vector<double> SinglePass(std::span<const double> x) {
    const LowPass& f = k20HzAt600;
    std::vector<double> y(x.size());
    double z1 = (f.b1 - f.a1 + f.b2 - f.a2) * x[0];
    double z2 = (f.b2 - f.a2) * x[0];
    for (std::size_t k = 0; k < x.size(); ++k) {
        y[k] = f.b0 * x[k] + z1;
        z1 = f.b1 * x[k] - f.a1 * y[k] + z2;
        z2 = f.b2 * x[k] - f.a2 * y[k];
    }
    return y;
}

struct FilterCase {
    const char* name;
    Filter filter;
    bool keepsAConstant, squaresTheGain, keepsAPeakOnItsSample;
};
class ClosedFormChecks : public ::testing::TestWithParam<FilterCase> {};

TEST_P(ClosedFormChecks, PassOnlyForTheZeroLagLowPass) {
    const FilterCase& c = GetParam();
    EXPECT_EQ(KeepsAConstant(c.filter), c.keepsAConstant);
    EXPECT_EQ(SquaresTheGain(c.filter), c.squaresTheGain);
    EXPECT_EQ(KeepsAPeakOnItsSample(c.filter), c.keepsAPeakOnItsSample);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ClosedFormChecks,
    ::testing::Values(FilterCase{"ZeroLag", ZeroLag, true, true, true},
                      FilterCase{"MovingAverage", MovingAverage, true, false, true},
                      FilterCase{"SinglePass", SinglePass, true, false, false}),
    [](const auto& param) { return std::string(param.param.name); });

struct GainCase {
    const char* name;
    int hz, cutoffHz, rate;
    double expected;
};
class SquaredMagnitude : public ::testing::TestWithParam<GainCase> {};

TEST_P(SquaredMagnitude, IsTheSinglePassSquared) {
    const GainCase& c = GetParam();
    const LowPass f = DesignLowPass(c.cutoffHz, c.rate).value;
    const double gain = SineGain([&](auto x) { return FilterSeries(x, f); }, c.hz, c.rate);
    EXPECT_NEAR(gain, c.expected, 1e-6 * c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SquaredMagnitude,
    ::testing::Values(GainCase{"SixDbDownAtTheCutoff", 20, 20, 600, 0.5},
                      GainCase{"SixDbDownAt50HzOf600", 50, 50, 600, 0.5},
                      GainCase{"SixDbDownAt5HzOf50", 5, 5, 50, 0.5},
                      GainCase{"PassBand", 5, 20, 600, SquaredGain(5, 20, 600)},
                      GainCase{"StopBand", 60, 20, 600, SquaredGain(60, 20, 600)},
                      GainCase{"NearTheLimit", 22, 20, 50, SquaredGain(22, 20, 50)},
                      GainCase{"AboveTheCutoffAt100Hz", 30, 10, 100, SquaredGain(30, 10, 100)}),
    [](const auto& param) { return std::string(param.param.name); });

// Stretches of the given lengths, each followed by a missing reading but the last (a length of 0
// is a missing reading next to another, or at an end); the loads swing at 150 Hz of 600.
struct StretchCase {
    const char* name;
    std::vector<std::size_t> lengths;
};
class Stretches : public ::testing::TestWithParam<StretchCase> {};

TEST_P(Stretches, AreFilteredEachOnItsOwnFromTenSamples) {
    std::vector<double> x;
    for (const std::size_t length : GetParam().lengths) {
        for (std::size_t k = 0; k < length; ++k) {
            x.push_back(100.0 + static_cast<double>(k % 4 == 1) - static_cast<double>(k % 4 == 3));
        }
        x.push_back(NAN);
    }
    x.pop_back();
    const std::vector<double> y = FilterSeries(x, k20HzAt600);
    ASSERT_EQ(y.size(), x.size());
    std::size_t begin = 0;
    for (const std::size_t length : GetParam().lengths) {
        const std::span<const double> in(x.data() + begin, length);
        const std::span<const double> out(y.data() + begin, length);
        const std::vector<double> alone =
            length >= 10 ? FilterSeries(in, k20HzAt600) : std::vector<double>(in.begin(), in.end());
        EXPECT_TRUE(std::equal(out.begin(), out.end(), alone.begin())) << "at " << begin;
        EXPECT_EQ(std::equal(out.begin(), out.end(), in.begin()), length < 10) << "at " << begin;
        begin += length + 1;
        EXPECT_TRUE(begin > x.size() || std::isnan(y[begin - 1])) << "at " << begin - 1;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, Stretches,
                         ::testing::Values(StretchCase{"NineLeftAsTheyAre", {9}},
                                           StretchCase{"TenFiltered", {10}},
                                           StretchCase{"BetweenMissingReadings", {40, 9, 10, 25}},
                                           StretchCase{"MissingAtBothEnds", {0, 0, 30, 0}},
                                           StretchCase{"AllMissing", {0, 0, 0}}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(FilterLoads, FiltersActivePlatesAsSeriesAndCopiesIdleOnes) {
    std::vector<LoadRecord> loads(200);
    std::array<std::vector<double>, kPlateCount> series;
    for (int k = 0; k < 200; ++k) {
        loads[k] = {std::sin(0.3 * k), k == 50 ? NAN : -2.0 * k, std::cos(0.7 * k), NAN};
        for (std::size_t p = 0; p < kPlateCount; ++p) {
            series[p].push_back(loads[k][p]);
        }
    }
    const std::vector<LoadRecord> out = FilterLoads(loads, {true, true, false, true}, k20HzAt600);
    ASSERT_EQ(out.size(), loads.size());
    const std::array<std::vector<double>, kPlateCount> expected{FilterSeries(series[0], k20HzAt600),
                                                                FilterSeries(series[1], k20HzAt600),
                                                                series[2], series[3]};
    for (std::size_t k = 0; k < loads.size(); ++k) {
        for (std::size_t p = 0; p < kPlateCount; ++p) {
            EXPECT_TRUE(out[k][p] == expected[p][k] || std::isnan(out[k][p] + expected[p][k]))
                << k << ", plate " << p + 1;
        }
    }
}

struct CutoffCase {
    const char* name;
    int frequencyHz;
    std::vector<int> allowed;
};
class Cutoffs : public ::testing::TestWithParam<CutoffCase> {};

TEST_P(Cutoffs, AreThoseNotAboveFortyFivePercentOfTheFrequency) {
    const CutoffCase& c = GetParam();
    EXPECT_EQ(AllowedCutoffs(c.frequencyHz), c.allowed);
    for (const int cutoff : {5, 10, 15, 20, 50}) {
        const bool allowed = std::count(c.allowed.begin(), c.allowed.end(), cutoff) == 1;
        const LowPassError refusal =
            cutoff == 15 ? LowPassError::CutoffNotOffered : LowPassError::CutoffTooHigh;
        EXPECT_EQ(DesignLowPass(cutoff, c.frequencyHz).error,
                  allowed ? LowPassError::None : refusal)
            << cutoff;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, Cutoffs,
                         ::testing::Values(CutoffCase{"At50Hz", 50, {5, 10, 20}},
                                           CutoffCase{"At100Hz", 100, {5, 10, 20}},
                                           CutoffCase{"At600Hz", 600, {5, 10, 20, 50}}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(DesignLowPass, RefusesARunWithoutFrequency) {
    EXPECT_TRUE(AllowedCutoffs(0).empty());
    EXPECT_EQ(DesignLowPass(5, 0).error, LowPassError::NoFrequency);
}

}  // namespace
}  // namespace kelvaro
