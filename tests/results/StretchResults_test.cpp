// Every figure of a run's results against a plain computation of its definition, on generated
// runs whose answers are also known in closed form (written out in each case).
#include "results/StretchResults.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "results/TotalLoad.h"

namespace kelvaro {
namespace {

constexpr double kNone = std::numeric_limits<double>::quiet_NaN();  // an absent figure
constexpr double kPi = std::numbers::pi;

// The figures of one series, NaN where absent, each found on its own from its definition.
struct Plain {
    int samples, missing;
    double minimum, peak, peakTime, mean, impulse, rise;
};

Plain Reference(const std::vector<double>& x, int first, int last, int f) {
    Plain p{last - first + 1, 0, kNone, kNone, kNone, kNone, kNone, kNone};
    std::vector<double> present;
    for (int k = first; k <= last; ++k) {
        if (std::isnan(x[k])) {
            ++p.missing;
        } else {
            present.push_back(x[k]);
        }
    }
    if (!present.empty()) {
        p.minimum = *std::min_element(present.begin(), present.end());
        p.peak = *std::max_element(present.begin(), present.end());
        const auto peakAt = std::find(x.begin() + first, x.end(), p.peak) - x.begin();
        p.peakTime = static_cast<double>(peakAt - first) / f;
        p.mean = std::accumulate(present.begin(), present.end(), 0.0) /
                 static_cast<double>(present.size());
    }
    for (int k = first; k < last; ++k) {
        if (!std::isnan(x[k] + x[k + 1])) {
            p.impulse = (std::isnan(p.impulse) ? 0.0 : p.impulse) + (x[k] + x[k + 1]) / 2 / f;
        }
    }
    const int w = static_cast<int>(std::floor(0.05 * f + 0.5));
    for (int k = first; k + w <= last; ++k) {
        const double rise = (x[k + w] - x[k]) * f / w;
        if (!std::isnan(rise) && (std::isnan(p.rise) || rise > p.rise)) {
            p.rise = rise;
        }
    }
    return p;
}

void ExpectFigure(std::optional<double> got, double want, double tolerance, const char* what) {
    if (std::isnan(want)) {
        EXPECT_FALSE(got) << what << " = " << got.value_or(0);
        return;
    }
    EXPECT_TRUE(got) << what;
    if (got) {
        EXPECT_NEAR(*got, want, tolerance * std::max(1.0, std::abs(want))) << what;
    }
}

void ExpectFigures(const SeriesFigures& got, const Plain& want, int f, double tolerance) {
    EXPECT_EQ(got.samples, want.samples);
    EXPECT_EQ(got.missing, want.missing);
    ExpectFigure(got.duration, want.samples / 1.0 / f, tolerance, "duration");
    ExpectFigure(got.minimum, want.minimum, tolerance, "minimum");
    ExpectFigure(got.peak, want.peak, tolerance, "peak");
    ExpectFigure(got.peakTime, want.peakTime, tolerance, "time of peak");
    ExpectFigure(got.mean, want.mean, tolerance, "mean");
    ExpectFigure(got.impulse, want.impulse, tolerance, "impulse");
    ExpectFigure(got.peakRise, want.rise, tolerance, "rate of rise");
}

double Ramp(int k, int f) {
    return -20.0 + 4.0 * k / f;
}
double Step(int k, int) {
    return k >= 200 ? 12.0 : 0.0;
}
// 800 sin(pi j / 1200) for j = k - 600 in [0, 1200], else 0; over 144000 samples, j = k - 1 in
// [0, 143998].
double HalfSine(int k, int f) {
    const int m = f == 50 ? 143998 : 1200;
    const int j = k - (f == 50 ? 1 : 600);
    return j < 0 || j > m ? 0.0 : 800.0 * std::sin(kPi * j / m);
}

struct SeriesCase {
    const char* name;
    int frequency, size;
    double (*load)(int k, int f);
    SampleStretch stretch;
    std::vector<int> unread;
    Plain closed;  // over the stretch as cut to the run
};

class Series : public testing::TestWithParam<SeriesCase> {};

// Each case reads the same series as a plain array (the total) and as one plate's column.
TEST_P(Series, EveryFigureMatchesItsDefinitionAndItsClosedForm) {
    const SeriesCase& c = GetParam();
    std::vector<double> x(c.size);
    for (int k = 0; k < c.size; ++k) {
        x[k] = c.load(k, c.frequency);
    }
    for (int k : c.unread) {
        x[k] = kNone;
    }
    std::vector<LoadRecord> loads(c.size, LoadRecord{1.0, 2.0, 3.0, 4.0});
    for (int k = 0; k < c.size; ++k) {
        loads[k][2] = x[k];
    }
    const int first = std::min(c.stretch.first, c.stretch.last);
    const int last = std::min(std::max(c.stretch.first, c.stretch.last), c.size - 1);
    for (const SeriesFigures& got :
         {FiguresOf(x, c.stretch, c.frequency), FiguresOf(loads, 2, c.stretch, c.frequency)}) {
        ExpectFigures(got, Reference(x, first, last, c.frequency), c.frequency, 1e-12);
        ExpectFigures(got, c.closed, c.frequency, 1e-9);
        if (got.peakSample) {
            EXPECT_EQ(*got.peakSample, first + std::lround(c.closed.peakTime * c.frequency));
        }
    }
}

const double kCot2400 = 1.0 / std::tan(kPi / 2400);
const double kCotLong = 1.0 / std::tan(kPi / (2 * 143998));

INSTANTIATE_TEST_SUITE_P(
    Results, Series,
    testing::Values(SeriesCase{"Constant50",
                               50,
                               500,
                               [](int, int) { return 7.5; },
                               {0, 499},
                               {},
                               {500, 0, 7.5, 7.5, 0.0, 7.5, 7.5 * 499 / 50, 0.0}},
                    SeriesCase{"OneSample600",
                               600,
                               1000,
                               [](int, int) { return 7.5; },
                               {100, 100},
                               {},
                               {1, 0, 7.5, 7.5, 0.0, 7.5, kNone, kNone}},
                    SeriesCase{"TwoSamples600",
                               600,
                               1000,
                               Ramp,
                               {10, 11},
                               {},
                               {2, 0, Ramp(10, 600), Ramp(11, 600), 1.0 / 600,
                                (Ramp(10, 600) + Ramp(11, 600)) / 2,
                                (Ramp(10, 600) + Ramp(11, 600)) / 2 / 600, kNone}},
                    SeriesCase{"NegativeRamp50",
                               50,
                               500,
                               Ramp,
                               {0, 499},
                               {},
                               {500, 0, -20.0, Ramp(499, 50), 499.0 / 50, -20.0 + 2.0 * 499 / 50,
                                (-20.0 + 2.0 * 499 / 50) * 499 / 50, 4.0}},
                    SeriesCase{"RampStretchEndsReversed600",
                               600,
                               1800,
                               Ramp,
                               {1199, 600},
                               {},
                               {600, 0, -16.0, Ramp(1199, 600), 599.0 / 600,
                                (Ramp(600, 600) + Ramp(1199, 600)) / 2,
                                (Ramp(600, 600) + Ramp(1199, 600)) / 2 * 599 / 600, 4.0}},
                    SeriesCase{"StretchBeyondTheRun50",
                               50,
                               100,
                               Ramp,
                               {90, 500},
                               {},
                               {10, 0, Ramp(90, 50), Ramp(99, 50), 9.0 / 50,
                                (Ramp(90, 50) + Ramp(99, 50)) / 2,
                                (Ramp(90, 50) + Ramp(99, 50)) / 2 * 9 / 50, 4.0}},
                    SeriesCase{"HalfSine600",
                               600,
                               2400,
                               HalfSine,
                               {0, 2399},
                               {},
                               {2400, 0, 0.0, 800.0, 2.0, 800 * kCot2400 / 2400,
                                800 * kCot2400 / 600, 800 * std::sin(kPi * 30 / 1200) * 600 / 30}},
                    SeriesCase{"Step50",
                               50,
                               500,
                               Step,
                               {0, 499},
                               {},
                               {500, 0, 0.0, 12.0, 4.0, 12.0 * 300 / 500, (6.0 + 299 * 12.0) / 50,
                                12.0 * 50 / 3}},
                    // Missing readings: 7 of the 99 pairs touch one.
                    SeriesCase{"Unread50",
                               50,
                               100,
                               [](int, int) { return 7.5; },
                               {0, 99},
                               {0, 10, 11, 50, 99},
                               {100, 5, 7.5, 7.5, 1.0 / 50, 7.5, 7.5 * 92 / 50, 0.0}},
                    SeriesCase{"AllUnread600",
                               600,
                               10,
                               Ramp,
                               {2, 5},
                               {2, 3, 4, 5},
                               {4, 4, kNone, kNone, kNone, kNone, kNone, kNone}},
                    SeriesCase{"LongHalfSine",
                               50,
                               144000,
                               HalfSine,
                               {0, 143999},
                               {},
                               {144000, 0, 0.0, 800.0, 72000.0 / 50, 800 * kCotLong / 144000,
                                800 * kCotLong / 50, 800 * std::sin(kPi * 3 / 143998) * 50 / 3}}),
    [](const auto& test) { return std::string(test.param.name); });

struct PlatformCase {
    const char* name;
    ActivePlates active;
    std::array<std::string, kPlateCount> units;
    std::array<double (*)(int k), kPlateCount> plates;
    std::optional<TotalAbsence> noTotal;
    std::array<double, kPlateCount> meanShares;  // closed form, NaN where absent or idle
};

class Platform : public testing::TestWithParam<PlatformCase> {};

// The total summed by hand, each row against the plain figures of its own column, and each share
// from the plain figures; over the whole run and a stretch, at 50 Hz.
TEST_P(Platform, RowsTotalAndSharesMatchTheirDefinitions) {
    const PlatformCase& c = GetParam();
    constexpr int kSize = 500;
    std::vector<LoadRecord> loads(kSize);
    std::array<std::vector<double>, kPlateCount + 1> columns;  // the last one is the total
    columns.fill(std::vector<double>(kSize, 0.0));
    for (int k = 0; k < kSize; ++k) {
        for (int p = 0; p < kPlateCount; ++p) {
            loads[k][p] = columns[p][k] = c.plates[p](k);
            columns[kPlateCount][k] += c.active[p] ? loads[k][p] : 0.0;
        }
    }
    const RunResults run(loads, c.active, c.units, 50);
    EXPECT_EQ(run.NoTotal(), c.noTotal);
    if (!c.noTotal) {
        ASSERT_EQ(run.Total().size(), loads.size());
        for (int k = 0; k < kSize; ++k) {
            const double want = columns[kPlateCount][k];
            EXPECT_TRUE(std::isnan(want) ? std::isnan(run.Total()[k]) : run.Total()[k] == want)
                << k;
        }
    }
    for (const SampleStretch stretch : {run.WholeRun(), SampleStretch{150, 420}}) {
        const StretchResults results = run.Of(stretch);
        const Plain total = Reference(columns[kPlateCount], stretch.first, stretch.last, 50);
        EXPECT_EQ(results.noTotal, c.noTotal);
        ASSERT_EQ(results.total.has_value(), !c.noTotal);
        if (results.total) {
            ExpectFigures(*results.total, total, 50, 1e-12);
        }
        const auto peakAt = stretch.first + std::lround(total.peakTime * 50);
        std::size_t row = 0;
        for (int p = 0; p < kPlateCount; ++p) {
            if (!c.active[p]) {
                continue;
            }
            ASSERT_LT(row, results.plates.size());
            const PlateResults& got = results.plates[row++];
            EXPECT_EQ(got.plate, p);
            const Plain plate = Reference(columns[p], stretch.first, stretch.last, 50);
            ExpectFigures(got.figures, plate, 50, 1e-12);
            const bool shared = !c.noTotal && total.mean != 0.0;
            ExpectFigure(got.meanShare, shared ? plate.mean / total.mean : kNone, 1e-12, "mean");
            ExpectFigure(got.peakShare,
                         !c.noTotal && total.peak != 0.0 ? columns[p][peakAt] / total.peak : kNone,
                         1e-12, "at the peak");
            if (stretch == run.WholeRun()) {
                ExpectFigure(got.meanShare, c.meanShares[p], 1e-9, "closed-form mean share");
            }
        }
        EXPECT_EQ(row, results.plates.size());
    }
}

double Ten(int) {
    return 10.0;
}
double Zero(int) {
    return 0.0;
}
double MinusTen(int) {
    return -10.0;
}
double StepUp(int k) {
    return k >= 100 ? 30.0 : 0.0;
}
double Falling(int k) {
    return -5.0 - k / 50.0;
}
double Gappy(int k) {
    return k % 7 == 3 ? kNone : 10.0;
}
const std::array<std::string, kPlateCount> kKgf{"kgf", "kgf", "kgf", "kgf"};

INSTANTIATE_TEST_SUITE_P(Results, Platform,
                         testing::Values(
                             // Means 10, 24, 0 and -9.99: the total's is 24.01.
                             PlatformCase{"FourPlatesOneAtZero",
                                          {true, true, true, true},
                                          kKgf,
                                          {Ten, StepUp, Zero, Falling},
                                          std::nullopt,
                                          {10 / 24.01, 24 / 24.01, 0.0, -9.99 / 24.01}},
                             PlatformCase{"TotalAtZero",
                                          {true, true, false, false},
                                          kKgf,
                                          {Ten, MinusTen, Ten, Ten},
                                          std::nullopt,
                                          {kNone, kNone, kNone, kNone}},
                             PlatformCase{"OnePlate",
                                          {false, false, true, false},
                                          kKgf,
                                          {Zero, Zero, Falling, Zero},
                                          std::nullopt,
                                          {kNone, kNone, 1.0, kNone}},
                             // Plate 1 misses 71 readings (k % 7 == 3); the total's mean over the
                             // 429 left is 14580 / 429.
                             PlatformCase{"UnreadReadingsMissFromTheTotal",
                                          {true, true, false, false},
                                          kKgf,
                                          {Gappy, StepUp, Zero, Zero},
                                          std::nullopt,
                                          {4290 / 14580.0, 24 * 429 / 14580.0, kNone, kNone}},
                             PlatformCase{"UnitsDiffer",
                                          {true, true, false, false},
                                          {"kgf", "N", "kgf", "kgf"},
                                          {Ten, StepUp, Zero, Zero},
                                          TotalAbsence::UnitsDiffer,
                                          {kNone, kNone, kNone, kNone}},
                             PlatformCase{"IdlePlateInAnotherUnit",
                                          {true, true, false, false},
                                          {"N", "N", "kgf", ""},
                                          {Ten, StepUp, Gappy, Zero},
                                          std::nullopt,
                                          {10 / 34.0, 24 / 34.0, kNone, kNone}},
                             PlatformCase{"NoActivePlate",
                                          {false, false, false, false},
                                          kKgf,
                                          {Ten, Ten, Ten, Ten},
                                          TotalAbsence::NoActivePlate,
                                          {kNone, kNone, kNone, kNone}}),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace kelvaro
