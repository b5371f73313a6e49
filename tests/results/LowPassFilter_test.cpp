// The zero-lag low-pass against its closed form, and stretches between missing readings.
#include "results/LowPassFilter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <numeric>

namespace kelvaro {
namespace {

const LowPass k20HzAt600 = DesignLowPass(20, 600).value;

// A triangle at sample 300 of 601 on a constant: peak, symmetry and constant (gain 1) all stay.
TEST(ZeroLagLowPass, KeepsAPeakOnItsSampleAndAConstantToItsEnds) {
    std::vector<double> x(601, -37.25);
    for (int k = -10; k <= 10; ++k) {
        x[300 + k] += 10.0 - std::abs(k);
    }
    const std::vector<double> y = FilterSeries(x, k20HzAt600);
    EXPECT_EQ(std::max_element(y.begin(), y.end()) - y.begin(), 300);
    EXPECT_THAT(
        y, ::testing::Pointwise(::testing::DoubleNear(1e-9), std::vector(y.rbegin(), y.rend())));
    EXPECT_THAT(std::span(y).last(100), ::testing::Each(::testing::DoubleNear(-37.25, 1e-9)));
}

// Odd reflection carries a ramp on through each end, to within half a sample's rise.
TEST(ZeroLagLowPass, CarriesARampThroughItsEnds) {
    std::vector<double> x(601);
    std::iota(x.begin(), x.end(), 0.0);
    EXPECT_THAT(FilterSeries(x, DesignLowPass(50, 600).value),
                ::testing::Pointwise(::testing::DoubleNear(0.5), x));
}

struct GainCase {
    const char* name;
    int hz, cutoffHz, rate;
};
class SquaredGain : public ::testing::TestWithParam<GainCase> {};

// A 12 s sine keeps (over whole periods, far from the ends) the pre-warped analogue |H|².
TEST_P(SquaredGain, IsTheSinglePassSquared) {
    const auto [name, hz, cutoffHz, rate] = GetParam();
    const auto at = [&](int k) { return 2 * std::numbers::pi * hz * k / rate; };
    std::vector<double> x(12 * rate);
    for (int k = 0; k < 12 * rate; ++k) {
        x[k] = std::sin(at(k));
    }
    const std::vector<double> y = FilterSeries(x, DesignLowPass(cutoffHz, rate).value);
    std::complex<double> z = 0.0;
    for (int k = 4 * rate; k < 8 * rate; ++k) {
        z += y[k] * std::polar(1.0, -at(k));
    }
    const double r = std::tan(at(1) / 2) / std::tan(std::numbers::pi * cutoffHz / rate);
    const double expected = 1.0 / (1.0 + std::pow(r, 4));
    EXPECT_NEAR(2.0 * std::abs(z) / (4.0 * rate), expected, 1e-6 * expected);
}

INSTANTIATE_TEST_SUITE_P(Table, SquaredGain,
                         ::testing::Values(GainCase{"MinusSixDbAt20HzOf600", 20, 20, 600},
                                           GainCase{"MinusSixDbAt50HzOf600", 50, 50, 600},
                                           GainCase{"PassBand", 5, 20, 600},
                                           GainCase{"StopBand", 60, 20, 600},
                                           GainCase{"NearTheLimitAt50Hz", 22, 20, 50}),
                         [](const auto& param) { return std::string(param.param.name); });

// Stretches of the given lengths, a missing reading between them (a length of 0: two missing
// readings, or one at an end), at 150 Hz; plates 1 and 3 (inverted) active, 2 and 4 idle.
struct StretchCase {
    const char* name;
    std::vector<std::size_t> lengths;
};
class Stretches : public ::testing::TestWithParam<StretchCase> {};

TEST_P(Stretches, AreFilteredEachOnItsOwnFromTenSamples) {
    std::vector<LoadRecord> loads;
    std::vector<double> expected;
    for (const std::size_t length : GetParam().lengths) {
        std::vector<double> in(length);
        for (std::size_t k = 0; k < length; ++k) {
            in[k] = 100.0 + (k % 4 == 1) - (k % 4 == 3);
            loads.push_back({in[k], in[k], -in[k], 2 * in[k]});
        }
        const std::vector<double> alone = length >= 10 ? FilterSeries(in, k20HzAt600) : in;
        EXPECT_EQ(alone != in, length >= 10);
        expected.insert(expected.end(), alone.begin(), alone.end());
        loads.push_back({NAN, NAN, NAN, NAN});
        expected.push_back(NAN);
    }
    loads.pop_back();  // no missing reading after the last stretch
    const std::vector<LoadRecord> out = FilterLoads(loads, {true, false, true, false}, k20HzAt600);
    ASSERT_EQ(out.size(), loads.size());
    for (std::size_t k = 0; k < loads.size(); ++k) {
        const LoadRecord want{expected[k], loads[k][1], -expected[k], loads[k][3]};
        EXPECT_THAT(out[k], ::testing::Pointwise(::testing::NanSensitiveDoubleEq(), want)) << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, Stretches,
                         ::testing::Values(StretchCase{"NineLeftAsTheyAre", {9}},
                                           StretchCase{"TenFiltered", {10}},
                                           StretchCase{"BetweenMissingReadings", {40, 9, 10, 25}},
                                           StretchCase{"MissingAtBothEnds", {0, 0, 30, 0}},
                                           StretchCase{"AllMissing", {0, 0, 0}}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(Cutoffs, AreThoseOfferedNotAboveFortyFivePercentOfTheFrequency) {
    EXPECT_EQ(AllowedCutoffs(50), (std::vector{5, 10, 20}));
    EXPECT_EQ(AllowedCutoffs(100), (std::vector{5, 10, 20}));
    EXPECT_EQ(AllowedCutoffs(600), (std::vector{5, 10, 20, 50}));
    EXPECT_TRUE(DesignLowPass(20, 50).Ok());  // 0.45 x 50 Hz = 22.5 Hz
    EXPECT_EQ(DesignLowPass(50, 100).error, LowPassError::CutoffTooHigh);
    EXPECT_EQ(DesignLowPass(15, 600).error, LowPassError::CutoffNotOffered);
    EXPECT_EQ(DesignLowPass(5, 0).error, LowPassError::NoFrequency);
}

}  // namespace
}  // namespace kelvaro
