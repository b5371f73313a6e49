// Every figure of a run's results against its value in closed form, worked out plainly in each
// case from the definitions, on generated runs: constants, ramps, half-sine pulses and steps.
#include "results/StretchResults.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kelvaro {
namespace {

const double kNone = std::nan("");  // absent, or unread
constexpr double kPi = std::numbers::pi;

void ExpectFigure(std::optional<double> got, double want, const char* what) {
    EXPECT_EQ(got.has_value(), !std::isnan(want)) << what;
    EXPECT_NEAR(got.value_or(0), got ? want : 0, 1e-9 * std::max(1.0, std::abs(want))) << what;
}

using Load = double (*)(int k, int f);
const Load kZero = [](int, int) { return 0.0; };
const Load kTen = [](int, int) { return 10.0; };
const Load kGappy = [](int k, int) { return k % 7 == 3 ? kNone : 10.0; };  // 71 of 500 unread
const Load kStepUp = [](int k, int) { return k >= 100 ? 30.0 : 0.0; };
const Load kRamp = [](int k, int f) { return -20.0 + 4.0 * k / f; };
// 800 sin(pi j / m) over j = k - 600 in [0, 1200]; at 50 Hz over j = k - 1 in [0, 143998].
double Pulse(int k, int f) {
    const int m = f == 50 ? 143998 : 1200;
    return 800 * std::sin(kPi * std::clamp(k - (f == 50 ? 1 : 600), 0, m) / m);
}
// The pulses' sums: the sum of sin(pi j / m) for j in [0, m] is cot(pi / 2m).
const double kSum = 800 / std::tan(kPi / 2400), kLongSum = 800 / std::tan(kPi / 287996);

struct Closed {
    int samples, missing;
    double minimum, peak, peakTime, mean, impulse, rise;
};
using Shares = std::array<double, kPlateCount>;  // NaN where absent or idle
const Shares kNoShares{kNone, kNone, kNone, kNone}, kAllOnThird{kNone, kNone, 1, kNone};
const std::array<std::string, kPlateCount> kKgf{"kgf", "kgf", "kgf", "kgf"};
const ActivePlates kAll{true, true, true, true}, kTwo{true, true, false, false};

struct RunCase {
    const char* name;
    int frequency, size;
    ActivePlates active;
    std::array<std::string, kPlateCount> units;
    std::array<Load, kPlateCount> plates;
    int first, last;         // the stretch as asked for
    Closed total;            // over the stretch as cut to the run; alone, a plate's too
    Shares mean, atThePeak;  // each plate's
    std::optional<TotalAbsence> noTotal;
};

RunCase Platform(const char* name, ActivePlates active, std::array<std::string, kPlateCount> units,
                 std::array<Load, kPlateCount> plates, int first, int last, Closed total,
                 Shares mean, Shares atThePeak, std::optional<TotalAbsence> noTotal = {},
                 int f = 50, int size = 500) {
    return {name, f, size, active, units, plates, first, last, total, mean, atThePeak, noTotal};
}

// Plate 3 alone, so the total is its load.
RunCase Alone(const char* name, int f, int size, Load load, int first, int last, Closed closed) {
    const Shares shares = std::isnan(closed.mean) || closed.mean == 0 ? kNoShares : kAllOnThird;
    return Platform(name, {false, false, true, false}, kKgf, {kZero, kZero, load, kZero}, first,
                    last, closed, shares, shares, std::nullopt, f, size);
}

const RunCase kCases[] = {
    Alone("Constant50", 50, 500, kTen, 0, 499, {500, 0, 10, 10, 0, 10, 10.0 * 499 / 50, 0}),
    Alone("OneSample600", 600, 9, kTen, 4, 4, {1, 0, 10, 10, 0, 10, kNone, kNone}),
    Alone("TwoSamples600", 600, 999, kStepUp, 99, 100, {2, 0, 0, 30, 1.0 / 600, 15, 0.025, kNone}),
    Alone("NegativeRampStretchReversedAndBeyondTheRun50", 50, 100, kRamp, 500, 90,
          {10, 0, -12.8, -12.08, 0.18, -12.44, -12.44 * 0.18, 4}),
    Alone("HalfSine600", 600, 2400, Pulse, 0, 2399,
          {2400, 0, 0, 800, 2, kSum / 2400, kSum / 600, 800 * std::sin(kPi * 30 / 1200) * 20}),
    Alone("Step50", 50, 500, kStepUp, 0, 499,
          {500, 0, 0, 30, 2, 30.0 * 400 / 500, (15 + 399 * 30.0) / 50, 30.0 * 50 / 3}),
    // 14 readings unread, the first one too, and 27 of the 96 pairs touch one.
    Alone("Unread50", 50, 100, kGappy, 3, 99, {97, 14, 10, 10, 1.0 / 50, 10, 10.0 * 69 / 50, 0}),
    Alone("AllUnread600", 600, 10, kGappy, 3, 3, {1, 1, kNone, kNone, kNone, kNone, kNone, kNone}),
    Alone("LongHalfSine50", 50, kMaxSamples, Pulse, 0, kMaxSamples - 1,
          {kMaxSamples, 0, 0, 800, 72000.0 / 50, kLongSum / kMaxSamples, kLongSum / 50,
           800 * std::sin(kPi * 3 / 143998) * 50 / 3}),
    // The total, 20 + 4t from sample 100 on, over samples 151 to 421: plates' means 10, 30, 0 and
    // 2.8 (the total's 42.8), and its peak, 53.6, at the stretch's last sample.
    Platform("FourPlatesOneAtZero", kAll, kKgf, {kTen, kStepUp, kZero, kRamp}, 420, 150,
             {271, 0, 32, 53.6, 5.4, 42.8, 42.8 * 5.4, 4}, {10 / 42.8, 30 / 42.8, 0, 2.8 / 42.8},
             {10 / 53.6, 30 / 53.6, 0, 13.6 / 53.6}),
    Platform("TotalAtZero", kTwo, kKgf, {kZero, kZero, kTen, kTen}, 0, 499,
             {500, 0, 0, 0, 0, 0, 0, 0}, kNoShares, kNoShares),
    // Plate 1's 71 unread readings leave the total 429 samples, 343 of them on the step (a mean of
    // 14580 / 429), and 357 pairs, 285 of them on the step and one climbing it.
    Platform("UnreadReadingsMissFromTheTotal", kTwo, kKgf, {kGappy, kStepUp, kZero, kZero}, 0, 499,
             {500, 71, 10, 40, 2, 14580 / 429.0, 12135 / 50.0, 500},
             {4290 / 14580.0, 10296 / 14580.0, kNone, kNone}, {0.25, 0.75, kNone, kNone}),
    Platform("UnitsDiffer", kTwo, {"kgf", "N", "", ""}, {kTen, kStepUp, kZero, kZero}, 0, 499, {},
             kNoShares, kNoShares, TotalAbsence::UnitsDiffer),
    Platform("IdlePlateInAnotherUnit", kTwo, {"N", "N", "kgf", ""}, {kTen, kStepUp, kGappy, kZero},
             0, 499, {500, 0, 10, 40, 2, 34, (10 * 499 + 30 * 399 + 15) / 50.0, 30 * 50 / 3.0},
             {10 / 34.0, 24 / 34.0, kNone, kNone}, {0.25, 0.75, kNone, kNone}),
    Platform("NoActivePlate", {}, kKgf, {kTen, kTen, kTen, kTen}, 0, 499, {}, kNoShares, kNoShares,
             TotalAbsence::NoActivePlate),
};

class Results : public testing::TestWithParam<RunCase> {};

// The total against one summed by hand; its figures, a lone plate's and the shares as worked out.
TEST_P(Results, FollowTheirDefinitions) {
    const RunCase& c = GetParam();
    std::vector<LoadRecord> loads(c.size);
    std::vector<double> total(c.size, 0.0);
    for (int k = 0; k < c.size; ++k) {
        for (int p = 0; p < kPlateCount; ++p) {
            loads[k][p] = c.plates[p](k, c.frequency);
            total[k] += c.active[p] ? loads[k][p] : 0.0;
        }
    }
    total.resize(c.noTotal ? 0 : total.size());
    const RunResults run(loads, c.active, c.units, c.frequency);
    EXPECT_EQ(run.NoTotal(), c.noTotal);
    EXPECT_THAT(std::vector(run.Total().begin(), run.Total().end()),
                testing::Pointwise(testing::NanSensitiveDoubleEq(), total));
    const StretchResults results = run.Of({c.first, c.last});
    EXPECT_EQ(results.noTotal, c.noTotal);
    ASSERT_EQ(results.total.has_value(), !c.noTotal);
    std::vector<SeriesFigures> closed{results.total.value_or(SeriesFigures{})};
    if (results.plates.size() == 1) {
        closed.push_back(results.plates[0].figures);
    }
    for (const SeriesFigures& got : c.noTotal ? std::vector<SeriesFigures>{} : closed) {
        EXPECT_EQ(got.samples, c.total.samples);
        EXPECT_EQ(got.missing, c.total.missing);
        ExpectFigure(got.duration, c.total.samples / static_cast<double>(c.frequency), "duration");
        ExpectFigure(got.minimum, c.total.minimum, "minimum");
        ExpectFigure(got.peak, c.total.peak, "peak");
        ExpectFigure(got.peakTime, c.total.peakTime, "time of peak");
        ExpectFigure(got.mean, c.total.mean, "mean");
        ExpectFigure(got.impulse, c.total.impulse, "impulse");
        ExpectFigure(got.peakRise, c.total.rise, "rate of rise");
    }
    std::size_t row = 0;
    for (int p = 0; p < kPlateCount; ++p) {
        const bool listed = c.active[p] && row < results.plates.size();
        const PlateResults* got = listed ? &results.plates[row++] : nullptr;
        EXPECT_EQ(got != nullptr, c.active[p]);
        EXPECT_EQ(got ? got->plate : p, p);
        ExpectFigure(got ? got->meanShare : std::nullopt, c.mean[p], "share of the mean");
        ExpectFigure(got ? got->peakShare : std::nullopt, c.atThePeak[p], "share at the peak");
    }
    EXPECT_EQ(row, results.plates.size());
}

INSTANTIATE_TEST_SUITE_P(Runs, Results, testing::ValuesIn(kCases),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace kelvaro
