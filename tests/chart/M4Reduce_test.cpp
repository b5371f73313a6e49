#include "chart/M4Reduce.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "CaseNames.h"

namespace kelvaro {
namespace {

using testing::PrintTo;

std::vector<ChartPoint> Ramp(int count, double (*y)(int)) {
    std::vector<ChartPoint> points;
    for (int i = 0; i < count; ++i) {
        points.push_back({static_cast<double>(i), y(i)});
    }
    return points;
}

std::vector<double> Xs(const std::vector<ChartPoint>& points) {
    std::vector<double> xs;
    for (const auto& p : points) {
        xs.push_back(p.x);
    }
    return xs;
}

struct Case {
    std::string name;
    std::vector<ChartPoint> input;
    double x0;
    double x1;
    int width;
    std::vector<double> expectedX;
};

class M4ReduceTable : public ::testing::TestWithParam<Case> {};

TEST_P(M4ReduceTable, KeepsTheExpectedPoints) {
    const Case& c = GetParam();
    EXPECT_EQ(Xs(M4Reduce(c.input, c.x0, c.x1, c.width)), c.expectedX);
}

std::vector<ChartPoint> SpikeInBin() {
    // 10 points per column; the spike and the dip sit in the middle of column 1.
    auto points = Ramp(30, [](int) { return 1.0; });
    points[14].y = 50.0;
    points[16].y = -50.0;
    return points;
}

// A constant line of 30 points over three columns of 10, the loads of each [from, to) missing.
Case GapCase(std::string name, std::vector<std::pair<int, int>> gaps, std::vector<double> kept) {
    auto points = Ramp(30, [](int) { return 1.0; });
    for (const auto& [from, to] : gaps) {
        for (int i = from; i < to; ++i) {
            points[static_cast<std::size_t>(i)].y = std::nan("");
        }
    }
    return Case{std::move(name), std::move(points), 0.0, 30.0, 3, std::move(kept)};
}

INSTANTIATE_TEST_SUITE_P(
    Cases, M4ReduceTable,
    ::testing::Values(
        Case{"Empty", {}, 0.0, 10.0, 100, {}},
        Case{"OnePoint", {{3.0, 7.0}}, 0.0, 10.0, 100, {3.0}},
        Case{"FewerPointsThanPixelsKeepsAll",
             Ramp(5, [](int i) { return i * 1.5; }),
             0.0,
             4.0,
             100,
             {0.0, 1.0, 2.0, 3.0, 4.0}},
        // Constant line, 10 points per column: first and last of each column only.
        Case{"FirstAndLastPerColumn",
             Ramp(30, [](int) { return 1.0; }),
             0.0,
             30.0,
             3,
             {0.0, 9.0, 10.0, 19.0, 20.0, 29.0}},
        Case{"SpikeAndDipInsideAColumnKept",
             SpikeInBin(),
             0.0,
             30.0,
             3,
             {0.0, 9.0, 10.0, 14.0, 16.0, 19.0, 20.0, 29.0}},
        // Visible 10..19 in one column: neighbours 9 and 20 let the line enter and leave.
        Case{"NeighboursOutsideTheRangeKept",
             Ramp(30, [](int i) { return static_cast<double>(i % 7); }),
             10.0,
             19.0,
             1,
             {9.0, 10.0, 13.0, 14.0, 19.0, 20.0}},
        Case{"RangeBetweenTwoPointsKeepsBothNeighbours",
             {{0.0, 1.0}, {100.0, 2.0}},
             40.0,
             60.0,
             10,
             {0.0, 100.0}},
        Case{"MinimumEqualsFirstNotRepeated",
             {{0.0, -5.0}, {0.2, 0.0}, {0.4, 9.0}, {0.6, 1.0}},
             0.0,
             1.0,
             1,
             {0.0, 0.4, 0.6}},
        // Points exactly on the right edge share the last column instead of opening one more.
        Case{"RightEdgeBelongsToTheLastColumn",
             {{0.0, 0.0},
              {5.0, 3.0},
              {7.0, 9.0},
              {8.0, -1.0},
              {10.0, 1.0},
              {10.0, 5.0},
              {10.0, 2.0}},
             0.0,
             10.0,
             2,
             {0.0, 5.0, 7.0, 8.0, 10.0}},
        Case{"ZeroWidthCountsAsOneColumn",
             Ramp(10, [](int i) { return static_cast<double>(i == 4 ? 9 : 0); }),
             0.0,
             9.0,
             0,
             {0.0, 4.0, 9.0}},
        // The points either side of a gap stay, and the gap keeps its first point.
        GapCase("GapInsideAColumn", {{12, 15}}, {0, 9, 10, 11, 12, 15, 19, 20, 29}),
        GapCase("GapAcrossAColumnBoundary", {{8, 13}}, {0, 7, 8, 13, 19, 20, 29}),
        GapCase("SampleAloneBetweenGaps", {{3, 9}, {10, 16}}, {0, 2, 3, 9, 10, 16, 19, 20, 29}),
        GapCase("GapsAtTheStartAndTheEnd", {{0, 4}, {26, 30}}, {0, 4, 9, 10, 19, 20, 25, 26}),
        Case{"EmptyRangeIsOneColumn",
             Ramp(10, [](int) { return 0.0; }),
             5.0,
             5.0,
             100,
             {4.0, 5.0, 6.0}}),
    [](const ::testing::TestParamInfo<Case>& param) { return param.param.name; });

// On noisy data every column keeps its extremes and its ends, and the output stays bounded.
TEST(M4Reduce, NoisyDataKeepsEveryColumnsExtremesWithinBound) {
    std::mt19937 random(42);
    std::normal_distribution<double> noise(0.0, 3.0);
    std::vector<ChartPoint> points;
    for (int i = 0; i < 144000; ++i) {
        points.push_back({static_cast<double>(i + 1), noise(random) + (i % 20000 < 9000 ? 50 : 0)});
    }
    for (int width : {1, 7, 333, 1000}) {
        const double x0 = 1000.5;
        const double x1 = 120000.25;
        const auto reduced = M4Reduce(points, x0, x1, width);
        ASSERT_LE(reduced.size(), 4u * static_cast<unsigned>(width) + 2u) << width;
        ASSERT_TRUE(std::is_sorted(reduced.begin(), reduced.end(),
                                   [](auto& a, auto& b) { return a.x < b.x; }));
        EXPECT_EQ(reduced.front().x, 1000.0);
        EXPECT_EQ(reduced.back().x, 120001.0);

        auto column = [&](double x) {
            return std::clamp(static_cast<int>(std::floor((x - x0) / (x1 - x0) * width)), 0,
                              width - 1);
        };
        struct Extremes {
            double low = 1e300, high = -1e300, first = 0, last = 0;
            bool any = false;
        };
        std::map<int, Extremes> full;
        std::map<int, Extremes> kept;
        auto add = [&](std::map<int, Extremes>& into, const ChartPoint& p) {
            if (p.x < x0 || p.x > x1) {
                return;
            }
            Extremes& e = into[column(p.x)];
            e.low = std::min(e.low, p.y);
            e.high = std::max(e.high, p.y);
            if (!e.any) {
                e.first = p.x;
            }
            e.last = p.x;
            e.any = true;
        };
        for (const auto& p : points) {
            add(full, p);
        }
        for (const auto& p : reduced) {
            add(kept, p);
        }
        ASSERT_EQ(full.size(), kept.size());
        for (const auto& [c, e] : full) {
            EXPECT_EQ(kept[c].low, e.low) << "column " << c;
            EXPECT_EQ(kept[c].high, e.high) << "column " << c;
            EXPECT_EQ(kept[c].first, e.first) << "column " << c;
            EXPECT_EQ(kept[c].last, e.last) << "column " << c;
        }
    }
}

// Sample-numbered loads with what a plate sends: runs of equal values (ties for the extremes),
// steps, spikes, and a NaN now and then.
std::vector<ChartPoint> GrowingSeries() {
    std::mt19937 random(11);
    std::uniform_int_distribution<int> level(-4, 4);
    std::vector<ChartPoint> points;
    for (int i = 1; i <= 5000; ++i) {
        const double y = i % 997 == 0 ? std::nan("") : (i / 400 % 2) * 90.0 + level(random);
        points.push_back({static_cast<double>(i), y});
    }
    return points;
}

bool SameBits(double a, double b) {
    return a == b ? std::signbit(a) == std::signbit(b) : std::isnan(a) && std::isnan(b);
}

struct GrowthCase {
    std::string name;
    std::vector<std::size_t> chunks;  // points added before each Extend, repeated to the end
    double x0;
    double x1;
    int width;
};

class GrowingReductionTable : public ::testing::TestWithParam<GrowthCase> {};

// However the series grows, binning only the new points must give the reduction of the whole.
TEST_P(GrowingReductionTable, EqualsTheFullReductionAfterEveryExtend) {
    const GrowthCase& c = GetParam();
    const std::vector<ChartPoint> all = GrowingSeries();
    GrowingReduction growing;
    growing.Reset(PixelColumns(c.x0, c.x1, c.width));
    std::size_t count = 0;
    for (std::size_t step = 0; count < all.size(); ++step) {
        count = std::min(all.size(), count + c.chunks[step % c.chunks.size()]);
        const std::span<const ChartPoint> prefix(all.data(), count);
        growing.Extend(prefix);
        const auto expected = M4Reduce(prefix, c.x0, c.x1, c.width);
        const auto& got = growing.Points();
        ASSERT_EQ(got.size(), expected.size()) << count << " points";
        for (std::size_t k = 0; k < got.size(); ++k) {
            ASSERT_TRUE(SameBits(got[k].x, expected[k].x) && SameBits(got[k].y, expected[k].y))
                << count << " points, kept point " << k << ": " << got[k].x << "," << got[k].y
                << " instead of " << expected[k].x << "," << expected[k].y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GrowingReductionTable,
    ::testing::Values(
        // 600 samples a second read ten times a second, on an axis twice as long as the run.
        GrowthCase{"LiveRefreshes", {60}, 1.0, 10000.0, 997},
        GrowthCase{"OnePointAtATime", {1}, 1.0, 5000.0, 640},
        GrowthCase{"UnevenAndEmptySteps", {0, 1, 7, 0, 333, 2, 61, 1500}, 1.0, 6000.0, 313},
        GrowthCase{"AllAtOnce", {5000}, 1.0, 5000.0, 1000},
        GrowthCase{"FewerPointsThanColumns", {13}, 1.0, 200000.0, 1000},
        GrowthCase{"OneColumn", {45}, 1.0, 5000.0, 1},
        // Points left of the range, then inside it, then right of it.
        GrowthCase{"ZoomedIntoTheMiddle", {1, 250, 9}, 1234.5, 3210.25, 701},
        GrowthCase{"RangeBetweenTwoPoints", {3, 1}, 2000.2, 2000.7, 50},
        GrowthCase{"RangeLeftOfEveryPoint", {17}, -100.0, 0.5, 80},
        GrowthCase{"RangeRightOfEveryPoint", {17}, 9000.0, 9900.0, 80},
        GrowthCase{"InvertedRange", {5, 100}, 3000.0, 2000.0, 40}),
    [](const ::testing::TestParamInfo<GrowthCase>& param) { return param.param.name; });

// Drawing places a point in PixelColumns::Any's column and the reduction scans up to Start():
// both must agree with Inside() to the last bit, or a boundary point is binned in one column
// and drawn in the next.
TEST(PixelColumns, StartIsTheExactFirstXOfEachColumn) {
    struct Range {
        double x0, x1;
        int width;
    };
    for (const Range& r :
         {Range{0.1, 0.7, 3}, Range{1000.5, 120000.25, 333}, Range{0.3, 144000.7, 860},
          Range{-5e-9, 7e-9, 1000}, Range{1e9, 1e9 + 0.001, 7}}) {
        const PixelColumns columns(r.x0, r.x1, r.width);
        for (int c = 1; c < r.width; ++c) {
            const double start = columns.Start(c);
            ASSERT_EQ(columns.Inside(start), c) << r.x0 << ".." << r.x1 << " column " << c;
            ASSERT_EQ(columns.Inside(std::nextafter(start, -1e300)), c - 1)
                << r.x0 << ".." << r.x1 << " column " << c;
            ASSERT_EQ(columns.Any(start), c);
        }
        EXPECT_EQ(columns.Any(r.x0 - (r.x1 - r.x0)), -r.width);
        EXPECT_GE(columns.Any(r.x1 + (r.x1 - r.x0) / r.width), r.width);
    }
}

// The plain definition: every point's column computed, extremes by strict comparison (the first
// of equal values wins).
std::vector<ChartPoint> NaiveM4(const std::vector<ChartPoint>& points, double x0, double x1,
                                int width) {
    const PixelColumns columns(x0, x1, width);
    std::vector<ChartPoint> out;
    std::size_t i = 0;
    while (i < points.size() && points[i].x < x0) {
        ++i;
    }
    if (i > 0) {
        out.push_back(points[i - 1]);
    }
    while (i < points.size() && points[i].x <= x1) {
        const int c = columns.Inside(points[i].x);
        std::size_t first = i, low = i, high = i, last = i;
        for (++i; i < points.size() && points[i].x <= x1 && columns.Inside(points[i].x) == c; ++i) {
            last = i;
            low = points[i].y < points[low].y ? i : low;
            high = points[i].y > points[high].y ? i : high;
        }
        std::vector<std::size_t> keep{first, low, high, last};
        std::sort(keep.begin(), keep.end());
        keep.erase(std::unique(keep.begin(), keep.end()), keep.end());
        for (std::size_t k : keep) {
            out.push_back(points[k]);
        }
    }
    if (i < points.size()) {
        out.push_back(points[i]);
    }
    return out;
}

TEST(M4Reduce, MatchesThePlainDefinitionOnRepeatsTiesAndUnevenSpacing) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> level(-3, 3);
    std::uniform_int_distribution<int> gap(0, 3);
    std::vector<ChartPoint> points;
    double x = 0.0;
    for (int i = 0; i < 20000; ++i) {
        x += gap(random) * 0.37;  // repeated x, and gaps wider than a column
        points.push_back({x, static_cast<double>(level(random))});  // many equal y
    }
    struct View {
        double x0, x1;
        int width;
    };
    for (const View& v : {View{0.0, x, 997}, View{100.1, 2000.9, 640}, View{-50.0, 30.0, 5},
                          View{3000.0, 3001.0, 800}, View{x / 3, x / 3, 10}}) {
        const auto expected = NaiveM4(points, v.x0, v.x1, v.width);
        const auto reduced = M4Reduce(points, v.x0, v.x1, v.width);
        ASSERT_EQ(reduced.size(), expected.size()) << v.x0 << ".." << v.x1;
        for (std::size_t k = 0; k < reduced.size(); ++k) {
            ASSERT_EQ(reduced[k].x, expected[k].x) << k;
            ASSERT_EQ(reduced[k].y, expected[k].y) << k;
        }
    }
}

}  // namespace
}  // namespace kelvaro
