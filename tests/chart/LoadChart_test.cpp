#include "chart/LoadChart.h"

#include "chart/CursorLayer.h"
#include "chart/LineLayer.h"
#include "chart/M4Reduce.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QElapsedTimer>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QGraphicsTextItem>
#include <QImage>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QThread>
#include <QValueAxis>
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "CaseNames.h"
#include "results/TotalLoad.h"

namespace kelvaro {
namespace {

using testing::PrintTo;

// The station's chart: a series for each plate.
constexpr int kSeries = 4;

std::vector<ChartPoint> Samples(int count, double step = 1.0) {
    std::vector<ChartPoint> points;
    points.reserve(static_cast<std::size_t>(count));
    for (int i = 1; i <= count; ++i) {
        points.push_back({i * step, std::sin(i * 0.01) * 100.0 + (i % 37)});
    }
    return points;
}

// A shown chart of a known size, laid out so the plot area is real, its series titled as the
// station titles them.
struct ShownChart {
    explicit ShownChart(int series = kSeries) : chart(series) {
        for (int s = 1; s <= kSeries; ++s) {
            chart.SetSeriesTitle(s, "Placa " + std::to_string(s) + ": ");
        }
        chart.resize(1000, 600);
        chart.show();
        QApplication::processEvents();
    }
    int PlotColumns() const {
        return static_cast<int>(
            std::ceil(chart.Chart()->plotArea().width() * chart.View()->devicePixelRatioF()));
    }
    LoadChart chart;
};

struct AxisStep {
    bool maximum;
    double value;
};
struct AxisCase {
    std::string name;
    std::vector<AxisStep> steps;
    double expectedMinimum;
    double expectedMaximum;
};

class LeftAxisRule : public ::testing::TestWithParam<AxisCase> {};

TEST_P(LeftAxisRule, RefusesAMaximumBelowTheMinimumAndAMinimumAboveTheMaximum) {
    LoadChart chart{kSeries};
    for (const AxisStep& step : GetParam().steps) {
        if (step.maximum) {
            chart.SetLeftAxisMaximum(step.value);
        } else {
            chart.SetLeftAxisMinimum(step.value);
        }
    }
    EXPECT_EQ(chart.LeftAxisMinimum(), GetParam().expectedMinimum);
    EXPECT_EQ(chart.LeftAxisMaximum(), GetParam().expectedMaximum);
    if (GetParam().expectedMaximum > GetParam().expectedMinimum) {
        EXPECT_EQ(chart.AxisY()->min(), GetParam().expectedMinimum);
        EXPECT_EQ(chart.AxisY()->max(), GetParam().expectedMaximum);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LeftAxisRule,
    ::testing::Values(AxisCase{"Initial", {}, 0.0, 10.0},
                      AxisCase{"MaximumBelowMinimumRefused", {{true, -1.0}}, 0.0, 10.0},
                      AxisCase{"MinimumAboveMaximumRefused", {{false, 10.5}}, 0.0, 10.0},
                      AxisCase{"MaximumEqualToMinimumAccepted", {{true, 0.0}}, 0.0, 0.0},
                      // The drawing sets the maximum then the minimum, both spanning zero.
                      AxisCase{"AllPositive", {{true, 995.0}, {false, 0.0}}, 0.0, 995.0},
                      AxisCase{"AllNegative", {{true, 0.0}, {false, -42.5}}, -42.5, 0.0},
                      AxisCase{"NothingDrawn", {{true, 0.0}, {false, 0.0}}, 0.0, 0.0},
                      AxisCase{"BothSides", {{true, 3.0}, {false, -7.0}}, -7.0, 3.0},
                      // Shrinking below the old minimum needs the minimum lowered first.
                      AxisCase{
                          "RefusedThenAcceptedAfterMinimumLowered",
                          {{true, 0.0}, {false, -5.0}, {true, -8.0}, {false, -9.0}, {true, -8.0}},
                          -9.0,
                          -8.0}),
    [](const ::testing::TestParamInfo<AxisCase>& param) { return param.param.name; });

TEST(LoadChart, SeriesStartHiddenFromLegendWithTheirColours) {
    LoadChart chart{kSeries};
    const QColor expected[] = {Qt::red, Qt::green, Qt::black, Qt::blue};
    for (int s = 1; s <= 4; ++s) {
        EXPECT_EQ(chart.Series(s)->pen().color(), expected[s - 1]) << s;
        EXPECT_FALSE(chart.Series(s)->pointsVisible()) << s;
        EXPECT_EQ(chart.Series(s)->name(), QString()) << s;  // the caller names them
    }
    EXPECT_FALSE(chart.Chart()->legend()->isVisible());
    EXPECT_EQ(chart.Chart()->legend()->alignment(), Qt::AlignBottom);
    EXPECT_EQ(chart.Chart()->animationOptions(), QChart::NoAnimation);
}

TEST(LoadChart, LegendListsOnlyTheSeriesAskedFor) {
    ShownChart shown;
    LoadChart& chart = shown.chart;
    chart.SetLegendVisible(true);
    chart.SetSeriesTitle(3, "Placa 3: ");
    for (int s = 1; s <= 4; ++s) {
        chart.SetSeriesInLegend(s, s % 2 == 1);
    }
    chart.SetSeriesInLegend(3, false);
    chart.SetSeriesInLegend(3, true);
    QApplication::processEvents();
    EXPECT_TRUE(chart.Chart()->legend()->isVisible());
    for (int s = 1; s <= 4; ++s) {
        const auto markers = chart.Chart()->legend()->markers(chart.Series(s));
        ASSERT_EQ(markers.size(), 1) << s;
        EXPECT_EQ(markers.front()->isVisible(), s % 2 == 1) << s;
    }
    // The next run hides the legend and shows it again: the listing must survive.
    chart.SetLegendVisible(false);
    EXPECT_FALSE(chart.Chart()->legend()->isVisible());
    chart.SetLegendVisible(true);
    QApplication::processEvents();
    for (int s = 1; s <= 4; ++s) {
        const auto markers = chart.Chart()->legend()->markers(chart.Series(s));
        EXPECT_EQ(markers.front()->isVisible(), s % 2 == 1) << s;
    }
    // A run opened while the legend shows: all four listed without hiding it are placed as on a
    // chart that listed them before showing it, not where the two entries before stood.
    for (int s = 1; s <= 4; ++s) {
        chart.SetSeriesInLegend(s, true);
    }
    ShownChart fresh;
    for (int s = 1; s <= 4; ++s) {
        fresh.chart.SetSeriesInLegend(s, true);
    }
    fresh.chart.SetLegendVisible(true);
    QApplication::processEvents();
    EXPECT_EQ(chart.grab().toImage(), fresh.chart.grab().toImage());
}

TEST(LoadChart, KeepsEveryPointButDrawsOnlyTheReduction) {
    ShownChart shown;
    LoadChart& chart = shown.chart;
    const auto points = Samples(144000);
    for (int s = 1; s <= 4; ++s) {
        chart.SetSeriesPoints(s, points);
    }
    QApplication::processEvents();
    const int columns = shown.PlotColumns();
    ASSERT_GT(columns, 100);
    for (int s = 1; s <= 4; ++s) {
        EXPECT_EQ(chart.Points(s).size(), 144000u);
        EXPECT_GT(chart.DrawnPoints(s).size(), static_cast<std::size_t>(columns));
        EXPECT_LE(chart.DrawnPoints(s).size(), 4u * (columns + 1u) + 2u);
        // Qt Charts' series carry the legend entry only: no points for it to re-map.
        EXPECT_EQ(chart.Series(s)->count(), 0);
    }
    // The sample axis follows the data.
    EXPECT_EQ(chart.AxisX()->min(), 1.0);
    EXPECT_EQ(chart.AxisX()->max(), 144000.0);

    chart.ClearSeries(2);
    QApplication::processEvents();
    EXPECT_TRUE(chart.Points(2).empty());
    EXPECT_TRUE(chart.DrawnPoints(2).empty());
    EXPECT_EQ(chart.Points(1).size(), 144000u);
}

TEST(LoadChart, ShortRunsAreDrawnUnreduced) {
    ShownChart shown;
    shown.chart.SetSeriesPoints(4, Samples(300));
    QApplication::processEvents();
    const auto& drawn = shown.chart.DrawnPoints(4);
    ASSERT_EQ(drawn.size(), 300u);
    EXPECT_EQ(drawn[299].x, 300.0);
    EXPECT_EQ(drawn[299].y, Samples(300)[299].y);
}

TEST(LoadChart, UnorderedPointsAreOrderedNotLost) {
    LoadChart chart{kSeries};
    chart.SetSeriesPoints(1, {{3.0, 1.0}, {1.0, 2.0}, {2.0, 3.0}});
    ASSERT_EQ(chart.Points(1).size(), 3u);
    EXPECT_EQ(chart.Points(1)[0].x, 1.0);
    EXPECT_EQ(chart.Points(1)[2].x, 3.0);
}

TEST(LoadChart, BadSeriesNumberIsRefusedClearly) {
    LoadChart chart{kSeries};
    chart.SetSeriesPoints(1, Samples(10));
    for (int bad : {0, 5, -1}) {
        EXPECT_THROW(chart.SetSeriesPoints(bad, Samples(3)), std::out_of_range) << bad;
        EXPECT_THROW(chart.ClearSeries(bad), std::out_of_range) << bad;
        EXPECT_THROW(chart.SetSeriesInLegend(bad, true), std::out_of_range) << bad;
        EXPECT_THROW(chart.SetSeriesTitle(bad, "x"), std::out_of_range) << bad;
    }
    EXPECT_EQ(chart.Points(1).size(), 10u);
}

// The series are the chart's own, as many as it is made with, whatever a run's plates are.
TEST(LoadChart, HasTheSeriesItIsMadeWith) {
    LoadChart wide{6};
    EXPECT_EQ(wide.SeriesCount(), 6);
    EXPECT_EQ(wide.Series(5)->pen().color(), QColor(0xC0, 0x00, 0xC0));  // the total's
    EXPECT_EQ(wide.Series(6)->pen().color(), QColor(Qt::red));
    wide.SetSeriesPoints(6, Samples(10));
    EXPECT_EQ(wide.Points(6).size(), 10u);
    EXPECT_THROW(wide.ClearSeries(7), std::out_of_range);
    EXPECT_THROW(wide.SetLiveSumSeries(7), std::out_of_range);
    // Live, a run's first plates are the series; the others still reach the load axis.
    LoadChart narrow{2};
    narrow.SetLiveSumSeries(2);
    const std::vector<PlateLoads> rows{{1.0, 2.0, 3.0, -40.0}};
    narrow.BeginLive({true, true, true, true}, [&] { return std::span<const PlateLoads>(rows); });
    narrow.EndLive();
    ASSERT_EQ(narrow.Points(2).size(), 1u);
    EXPECT_EQ(narrow.Points(2)[0].y, 2.0);
    EXPECT_EQ(narrow.LeftAxisMinimum(), -40.0);
}

TEST(LoadChart, ZoomPanAndResetRecomputeTheVisibleReduction) {
    ShownChart shown;
    LoadChart& chart = shown.chart;
    const auto points = Samples(144000);
    chart.SetSeriesPoints(1, points);
    chart.SetLeftAxisMaximum(200.0);
    chart.SetLeftAxisMinimum(-100.0);
    QApplication::processEvents();

    // QChartView shows the chart unscaled at its origin: view pixels are chart pixels.
    QRectF area = chart.Chart()->plotArea();
    const QPointF quarter(area.left() + area.width() / 4.0, area.center().y());
    const double anchor = 1.0 + 143999.0 / 4.0;
    chart.ZoomAt(quarter, 1000.0, Qt::Horizontal);
    QApplication::processEvents();
    const double x0 = chart.AxisX()->min();
    const double x1 = chart.AxisX()->max();
    // The sample under the cursor stays under the cursor.
    EXPECT_NEAR(x0 + (x1 - x0) / 4.0, anchor, 1e-6);
    EXPECT_NEAR(x1 - x0, 143999.0 / 1000.0, 1e-6);
    // Zoomed in below one sample per column: the visible samples plus one on either side.
    const auto visible = std::count_if(points.begin(), points.end(),
                                       [&](const ChartPoint& p) { return p.x >= x0 && p.x <= x1; });
    EXPECT_EQ(chart.DrawnPoints(1).size(), static_cast<std::size_t>(visible + 2));
    EXPECT_LT(chart.DrawnPoints(1).front().x, x0);
    EXPECT_GT(chart.DrawnPoints(1).back().x, x1);

    area = chart.Chart()->plotArea();
    chart.PanBy(QPointF(area.width() / 2.0, 0.0));
    QApplication::processEvents();
    EXPECT_NEAR(chart.AxisX()->min(), x0 - (x1 - x0) / 2.0, 1e-6);
    EXPECT_LT(chart.DrawnPoints(1).front().x, chart.AxisX()->min());

    chart.ZoomAt(quarter, 4.0, Qt::Vertical);
    EXPECT_NEAR(chart.AxisY()->max() - chart.AxisY()->min(), 75.0, 1e-6);
    EXPECT_EQ(chart.LeftAxisMaximum(), 200.0);

    // Another version of the run's loads keeps the zoomed-in view, and is what is drawn.
    const std::pair panned(chart.AxisX()->min(), chart.AxisX()->max());
    chart.ReplaceSeriesPoints(1, Samples(144000, 0.5));
    QApplication::processEvents();
    EXPECT_EQ(std::pair(chart.AxisX()->min(), chart.AxisX()->max()), panned);
    EXPECT_GT(chart.DrawnPoints(1).back().x, panned.second);
    chart.SetSeriesPoints(1, points);
    chart.ResetView();
    EXPECT_EQ(chart.AxisX()->min(), 1.0);
    EXPECT_EQ(chart.AxisX()->max(), 144000.0);
    EXPECT_EQ(chart.AxisY()->min(), -100.0);
    EXPECT_EQ(chart.AxisY()->max(), 200.0);
}

// Sample numbers are whole: down to a hundred samples in view, a handful of ticks on whole
// round numbers.
TEST(LoadChart, SampleAxisTicksStayFewAndWholeAtEveryZoom) {
    ShownChart shown;
    LoadChart& chart = shown.chart;
    chart.SetSeriesPoints(1, Samples(144000));
    QApplication::processEvents();
    const QRectF area = chart.Chart()->plotArea();
    for (double factor : {1.0, 10.0, 10.0, 10.0, 0.001}) {
        if (factor != 1.0) {
            chart.ZoomAt(area.center(), factor, Qt::Horizontal);
            QApplication::processEvents();
        }
        const double step = chart.AxisX()->tickInterval();
        const double ticks = (chart.AxisX()->max() - chart.AxisX()->min()) / step;
        EXPECT_EQ(step, std::floor(step)) << "after zooming by " << factor;
        EXPECT_LE(ticks, 11.0) << "after zooming by " << factor;
        EXPECT_GE(ticks, 2.0) << "after zooming by " << factor;
    }
}

TEST(LoadChart, ResizeRecomputesForTheNewWidth) {
    ShownChart shown;
    shown.chart.SetSeriesPoints(1, Samples(144000));
    QApplication::processEvents();
    const auto wide = shown.chart.DrawnPoints(1).size();
    shown.chart.resize(400, 600);
    QApplication::processEvents();
    const int columns = shown.PlotColumns();
    EXPECT_LT(shown.chart.DrawnPoints(1).size(), wide);
    EXPECT_LE(shown.chart.DrawnPoints(1).size(), 4u * (columns + 1u) + 2u);
}

// Samples [from, to) whose loads are missing.
using Gaps = std::vector<std::pair<int, int>>;

// A measured plate: steps between loads with noise and the odd spike, one sample apart.
std::vector<ChartPoint> NoisyRun(int count, unsigned seed, const Gaps& gaps = {}) {
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<ChartPoint> points;
    points.reserve(static_cast<std::size_t>(count));
    double level = 0.0;
    for (int i = 1; i <= count; ++i) {
        if (i % 9000 == 0) {
            level = unit(random) < 0.3 ? 0.0 : 50.0 + unit(random) * 700.0;
        }
        double y = level + noise(random) * (2.0 + 0.01 * level);
        if (unit(random) < 0.001) {
            y += (unit(random) - 0.3) * 200.0;
        }
        points.push_back({static_cast<double>(i), y});
    }
    for (const auto& [from, to] : gaps) {
        for (int n = from; n < to; ++n) {
            points[static_cast<std::size_t>(n - 1)].y = std::nan("");
        }
    }
    return points;
}

// Four plates of 144000 noisy samples, drawn with their legend over a load axis holding them.
void DrawNoisyRuns(LoadChart& chart, unsigned seed, const Gaps& gaps = {}) {
    for (int s = 1; s <= 4; ++s) {
        chart.SetSeriesPoints(s, NoisyRun(144000, seed + static_cast<unsigned>(s), gaps));
    }
    chart.SetLegendVisible(true);
    chart.SetLeftAxisMaximum(800.0);
    chart.SetLeftAxisMinimum(-60.0);
}

QImage Picture(LoadChart& chart) {
    QApplication::processEvents();
    return chart.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// What the window shows, repainted piece by piece as the events asked, unlike grab() which
// draws the whole widget afresh.
QImage OnScreen(LoadChart& chart) {
    QApplication::processEvents();
    return QGuiApplication::primaryScreen()
        ->grabWindow(chart.winId())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

// Pixels the lines paint (differing from `empty`) and pixels where `a` and `b` differ.
std::pair<long, long> LineAndDifferingPixels(const QImage& a, const QImage& b,
                                             const QImage& empty) {
    long lines = 0;
    long differing = 0;
    for (int y = 0; y < b.height(); ++y) {
        for (int x = 0; x < b.width(); ++x) {
            lines += b.pixel(x, y) != empty.pixel(x, y) ? 1 : 0;
            differing += a.pixel(x, y) != b.pixel(x, y) ? 1 : 0;
        }
    }
    return {lines, differing};
}

enum class ViewChange { None, ZoomIn, ZoomInAndPan, LoadZoom };

struct PictureCase {
    std::string name;
    ViewChange view;
    Gaps gaps;
};

// Gaps of `length` samples every `period` over [from, to): on every place against the columns.
Gaps ShortGaps(int from, int to, int period, int length) {
    Gaps gaps;
    for (int n = from; n < to; n += period) {
        gaps.emplace_back(n, n + length);
    }
    return gaps;
}

class ReducedPicture : public ::testing::TestWithParam<PictureCase> {};

// The reduction is only worth having if nobody can see it: drawn by the same code, the reduced
// points must give the picture of every point, gaps (missing loads) included.
TEST_P(ReducedPicture, EqualsThePictureOfEveryPoint) {
    ShownChart shown;
    LoadChart& chart = shown.chart;
    DrawNoisyRuns(chart, 10u, GetParam().gaps);
    QApplication::processEvents();
    const QRectF area = chart.Chart()->plotArea();
    const QPointF third(area.left() + area.width() / 3.0, area.center().y());
    switch (GetParam().view) {
        case ViewChange::None:
            break;
        case ViewChange::ZoomIn:
            chart.ZoomAt(third, 20.0, Qt::Horizontal);
            break;
        case ViewChange::ZoomInAndPan:
            chart.ZoomAt(third, 7.0, Qt::Horizontal);
            chart.PanBy(QPointF(area.width() / 5.0, 33.0));
            break;
        case ViewChange::LoadZoom:
            chart.ZoomAt(third, 3.0, Qt::Vertical);
            break;
    }

    const QImage reduced = Picture(chart);
    const std::size_t reducedPoints = chart.DrawnPoints(1).size();
    chart.SetReduction(false);
    const QImage full = Picture(chart);
    ASSERT_EQ(chart.DrawnPoints(1).size(), 144000u);
    ASSERT_LT(reducedPoints, 144000u / 4);
    chart.Lines()->hide();
    const QImage empty = Picture(chart);
    ASSERT_EQ(reduced.size(), full.size());

    const auto [lines, differing] = LineAndDifferingPixels(reduced, full, empty);
    EXPECT_GT(lines, 2000) << "the lines should cover a good part of the plot";
    // Every column's points are drawn at one x, and each segment covers both its end pixels:
    // the reduced lines paint exactly the pixels of all points.
    EXPECT_EQ(differing, 0) << differing << " of " << lines << " line pixels differ";
    // Where every plate's load is missing the lines leave the plot empty: a gap, not a bridge.
    for (const auto& [from, to] : GetParam().gaps) {
        const int left = static_cast<int>(chart.Chart()->mapToPosition(QPointF(from + 1, 0)).x());
        const int right = static_cast<int>(chart.Chart()->mapToPosition(QPointF(to - 2, 0)).x());
        const QRect inside(left + 1, 0, right - left - 1, full.height());
        EXPECT_TRUE(right <= left + 1 || full.copy(inside) == empty.copy(inside))
            << "samples " << from << " to " << to;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Views, ReducedPicture,
    ::testing::Values(
        PictureCase{"None", ViewChange::None, {}}, PictureCase{"ZoomIn", ViewChange::ZoomIn, {}},
        PictureCase{"ZoomInAndPan", ViewChange::ZoomInAndPan, {}},
        PictureCase{"LoadZoom", ViewChange::LoadZoom, {}},
        PictureCase{"GapsAcrossColumnBoundaries", ViewChange::ZoomIn,
                    ShortGaps(45000, 53000, 37, 5)},
        PictureCase{"GapsPanned", ViewChange::ZoomInAndPan, ShortGaps(30000, 70000, 101, 13)},
        PictureCase{"LongGap", ViewChange::None, {{30000, 60000}}},
        PictureCase{"GapsAtTheStartAndTheEnd", ViewChange::None, {{1, 2001}, {143000, 144001}}},
        PictureCase{"ManyShortGaps", ViewChange::None, ShortGaps(1, 144000, 211, 3)}),
    [](const ::testing::TestParamInfo<PictureCase>& param) { return param.param.name; });

// The run's drawing at the stop: every series cleared, the active plates' loads set, then the
// load axis from zero and every value of the table, an idle plate's too; with `total`, series 5.
void DrawFinal(LoadChart& chart, const std::vector<PlateLoads>& rows,
               const std::array<bool, 4>& active, bool legend, bool total = false) {
    std::array<std::vector<ChartPoint>, 4> points;
    double maximum = 0.0;
    double minimum = 0.0;
    const std::vector<double> totals = total ? TotalLoads(rows, active) : std::vector<double>{};
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (std::size_t i = 0; i < 4; ++i) {
            if (active[i]) {
                points[i].push_back({static_cast<double>(r + 1), rows[r][i]});
            }
            maximum = std::max(maximum, rows[r][i]);
            minimum = std::min(minimum, rows[r][i]);
        }
    }
    std::vector<ChartPoint> totalPoints;
    for (std::size_t r = 0; r < totals.size(); ++r) {
        totalPoints.push_back({static_cast<double>(r + 1), totals[r]});
        maximum = std::max(maximum, totals[r]);  // a missing total is left out
        minimum = std::min(minimum, totals[r]);
    }
    for (int s = 1; s <= chart.SeriesCount(); ++s) {
        chart.ClearSeries(s);
    }
    if (total) {
        chart.SetSeriesPoints(5, std::move(totalPoints));
    }
    for (int s = 1; s <= 4; ++s) {
        if (active[static_cast<std::size_t>(s - 1)]) {
            chart.SetSeriesPoints(s, std::move(points[static_cast<std::size_t>(s - 1)]));
        }
    }
    chart.SetLegendVisible(legend);
    chart.SetLeftAxisMaximum(maximum);
    chart.SetLeftAxisMinimum(minimum);
    for (int s = 1; s <= 4; ++s) {
        chart.SetSeriesTitle(s, "Placa " + std::to_string(s) + ": ");
        chart.SetSeriesInLegend(s, active[static_cast<std::size_t>(s - 1)]);
    }
}

struct LiveCase {
    std::string name;
    std::size_t samples;
    std::size_t perRefresh;  // rows the run adds between two refreshes
    std::array<bool, 4> active;
    Gaps gaps{};                // samples whose loads are missing on every plate
    bool total = false;         // the active plates' total drawn live as series 5
    std::size_t totalFrom = 0;  // the row it is shown from, mid-run
};

class LiveView : public ::testing::TestWithParam<LiveCase> {};

// Drawn live, a run must end on the picture the final chart draws of the same loads, and the
// final chart drawn over the live view must be the one drawn today on a chart that never was.
TEST_P(LiveView, EndsOnThePictureOfTheFinalChart) {
    const LiveCase& c = GetParam();
    std::vector<PlateLoads> rows(c.samples, PlateLoads{});  // an idle plate's column stays 0
    for (std::size_t i = 0; i < 4; ++i) {
        const auto loads =
            NoisyRun(static_cast<int>(c.samples), 20u + static_cast<unsigned>(i), c.gaps);
        for (std::size_t r = 0; r < rows.size() && c.active[i]; ++r) {
            rows[r][i] = loads[r].y;
        }
    }
    const int seriesCount = c.total ? 5 : 4;
    ShownChart live(seriesCount);
    live.chart.SetLiveSumSeries(c.total && c.totalFrom == 0 ? 5 : 0);
    std::size_t acquired = 0;
    DrawFinal(live.chart, {}, c.active, false, c.total);  // the start of a run
    live.chart.BeginLive(c.active,
                         [&] { return std::span<const PlateLoads>(rows.data(), acquired); });
    // The first rows are read by the chart's own timer, as in a run.
    acquired = std::min(rows.size(), c.perRefresh);
    const auto plotted = [&] {
        std::size_t points = 0;
        for (int s = 1; s <= 4; ++s) {
            points += live.chart.Points(s).size();
        }
        return points;
    };
    const std::size_t expected =
        acquired * static_cast<std::size_t>(std::count(c.active.begin(), c.active.end(), true));
    QElapsedTimer waited;
    waited.start();
    while (plotted() < expected && waited.elapsed() < 5000) {
        QApplication::processEvents();
        QThread::msleep(5);
    }
    ASSERT_EQ(plotted(), expected) << "the timer read nothing in " << waited.elapsed() << " ms";
    while (acquired < rows.size()) {
        acquired = std::min(rows.size(), acquired + c.perRefresh);
        live.chart.SetLiveSumSeries(c.total && acquired >= c.totalFrom ? 5 : 0);
        live.chart.RefreshLive();
        QApplication::processEvents();
    }
    // The load axis holds every load read, with at most a quarter of it left empty each side.
    double low = 0.0;
    double high = 0.0;
    const std::vector<double> totals = TotalLoads(rows, c.active);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (const double load : rows[r]) {
            low = std::min(low, load);
            high = std::max(high, load);
        }
        low = c.total ? std::min(low, totals[r]) : low;
        high = c.total ? std::max(high, totals[r]) : high;
    }
    if (c.total) {
        // The total read row by row is the whole run's, to the last bit, missing where it is.
        ASSERT_EQ(live.chart.Points(5).size(), rows.size());
        for (std::size_t r = 0; r < rows.size(); ++r) {
            ASSERT_EQ(std::bit_cast<std::uint64_t>(live.chart.Points(5)[r].y),
                      std::bit_cast<std::uint64_t>(totals[r]));
        }
    }
    EXPECT_LE(live.chart.AxisY()->min(), low);
    EXPECT_GE(live.chart.AxisY()->max(), high);
    if (low < 0.0) {
        EXPECT_GE(live.chart.AxisY()->min() * 0.75, low);
    }
    if (high > 0.0) {
        EXPECT_LE(live.chart.AxisY()->max() * 0.75, high);
    }
    // A refresh repaints only the columns its rows reach: what the window shows after all those
    // pieces is the whole chart drawn afresh.
    const QImage onScreen = OnScreen(live.chart);
    const QImage lastRefresh = Picture(live.chart);
    EXPECT_EQ(LineAndDifferingPixels(onScreen, lastRefresh, lastRefresh).second, 0)
        << "pixels the piecewise repaints left different during the run";
    live.chart.EndLive();
    EXPECT_FALSE(live.chart.Live());
    const QImage stopped = Picture(live.chart);

    ShownChart final(seriesCount);
    DrawFinal(final.chart, rows, c.active, false, c.total);
    const QImage finalPicture = Picture(final.chart);
    final.chart.Lines()->hide();
    const QImage empty = Picture(final.chart);
    final.chart.Lines()->show();
    const auto [lines, differing] = LineAndDifferingPixels(stopped, finalPicture, empty);
    EXPECT_GE(lines, c.samples > 1 ? 1000 : 0);
    EXPECT_EQ(differing, 0) << differing << " of " << lines << " line pixels differ at the stop";

    DrawFinal(live.chart, rows, c.active, true, c.total);
    DrawFinal(final.chart, rows, c.active, true, c.total);
    EXPECT_EQ(LineAndDifferingPixels(Picture(live.chart), Picture(final.chart), empty).second, 0)
        << "the final chart drawn after the live view";
}

// Missing at the start, alone, long, a sample alone between two gaps, and at the end.
const Gaps kGaps{{1, 3}, {700, 701}, {1000, 1700}, {2001, 2059}, {2060, 2100}, {4990, 5001}};

INSTANTIATE_TEST_SUITE_P(
    Cases, LiveView,
    ::testing::Values(LiveCase{"OnAStepOfTheSampleAxis", 5000, 60, {true, true, true, true}},
                      LiveCase{"BetweenTwoSteps", 4321, 60, {true, false, true, false}},
                      LiveCase{"FullRunInLargeBursts", 144000, 5000, {true, true, true, true}},
                      LiveCase{"OnePlateOneRowAtATime", 2000, 1, {false, false, false, true}},
                      LiveCase{"GapsReadAsTheyCome", 5000, 60, {true, true, false, true}, kGaps},
                      LiveCase{"WithTheTotal", 5000, 60, {true, true, false, true}, kGaps, true},
                      LiveCase{"TotalMidRun", 4321, 60, {true, false, true, true}, {}, true, 2100},
                      LiveCase{"OneSample", 1, 60, {false, true, false, false}},
                      LiveCase{"StoppedBeforeTheFirstSample", 0, 60, {true, true, false, false}}),
    [](const ::testing::TestParamInfo<LiveCase>& param) { return param.param.name; });

// The first and last device pixel rows and columns whose centres lie inside the plot area.
struct PlotPixels {
    int left;
    int top;
    int right;
    int bottom;
};

PlotPixels InsidePixels(const LoadChart& chart) {
    const double ratio = chart.View()->devicePixelRatioF();
    const QRectF area = chart.Chart()->plotArea();
    auto first = [ratio](double edge) { return static_cast<int>(std::ceil(edge * ratio - 0.5)); };
    return {first(area.left()), first(area.top()), first(area.right()) - 1,
            first(area.bottom()) - 1};
}

// How many pixels of row `y` (or of column `x`, when `x` is not negative) the lines turned to
// `colour`.
int PaintedOnLine(const QImage& picture, const QImage& empty, const QColor& colour, int x, int y,
                  const PlotPixels& plot) {
    const QRgb wanted = colour.rgb();
    int painted = 0;
    const int from = x >= 0 ? plot.top : plot.left;
    const int to = x >= 0 ? plot.bottom : plot.right;
    for (int i = from; i <= to; ++i) {
        const int px = x >= 0 ? x : i;
        const int py = x >= 0 ? i : y;
        painted += picture.pixel(px, py) == wanted && empty.pixel(px, py) != wanted ? 1 : 0;
    }
    return painted;
}

struct EdgeCase {
    std::string name;
    int series;
    std::vector<double> loads;  // samples 1, 2, ...
    double axisMaximum;
    double axisMinimum;
    bool reachesTop;
    bool reachesBottom;
    QSize size;
};

class LinesOnTheAxisBounds : public ::testing::TestWithParam<EdgeCase> {};

// The load axis always spans the data exactly (its maximum is some plate's peak), so the
// highest and lowest loads sit on the plot's edges: they must be drawn there, in the series'
// own colour, as must the first and the last sample on the left and right edges.
TEST_P(LinesOnTheAxisBounds, PaintTheSeriesColourOnTheEdgeRowsAndColumns) {
    const EdgeCase& c = GetParam();
    LoadChart chart{kSeries};
    chart.resize(c.size);
    chart.show();
    std::vector<ChartPoint> points;
    for (std::size_t i = 0; i < c.loads.size(); ++i) {
        points.push_back({static_cast<double>(i + 1), c.loads[i]});
    }
    chart.SetSeriesPoints(c.series, points);
    chart.SetLegendVisible(true);
    chart.SetLeftAxisMaximum(c.axisMaximum);
    chart.SetLeftAxisMinimum(c.axisMinimum);
    const QImage picture = Picture(chart);
    chart.Lines()->hide();
    const QImage empty = Picture(chart);
    const PlotPixels plot = InsidePixels(chart);
    const QColor colour = chart.Series(c.series)->pen().color();
    const QRectF area = chart.Chart()->plotArea();
    const std::string where = "plot area " + std::to_string(area.left()) + "," +
                              std::to_string(area.top()) + " to " + std::to_string(area.right()) +
                              "," + std::to_string(area.bottom());

    if (c.reachesTop) {
        EXPECT_GT(PaintedOnLine(picture, empty, colour, -1, plot.top, plot), 0)
            << "top row " << plot.top << ", " << where;
    }
    if (c.reachesBottom) {
        EXPECT_GT(PaintedOnLine(picture, empty, colour, -1, plot.bottom, plot), 0)
            << "bottom row " << plot.bottom << ", " << where;
    }
    if (c.loads.size() > 1) {
        EXPECT_GT(PaintedOnLine(picture, empty, colour, plot.left, -1, plot), 0)
            << "left column " << plot.left << ", " << where;
        EXPECT_GT(PaintedOnLine(picture, empty, colour, plot.right, -1, plot), 0)
            << "right column " << plot.right << ", " << where;
    } else {
        EXPECT_GT(
            PaintedOnLine(picture, empty, colour, -1, c.reachesTop ? plot.top : plot.bottom, plot),
            0)
            << "a single sample is drawn, " << where;
    }
}

const std::vector<double> kFlat(200, 50.0);
std::vector<double> Step(double from, double to) {
    std::vector<double> loads(100, from);
    loads.insert(loads.end(), 100, to);
    return loads;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LinesOnTheAxisBounds,
    ::testing::Values(
        EdgeCase{"FlatLineAtTheMaximum", 1, kFlat, 50.0, 0.0, true, false, {1000, 600}},
        EdgeCase{"FlatLineAtTheMinimum",
                 2,
                 std::vector<double>(200, -50.0),
                 0.0,
                 -50.0,
                 false,
                 true,
                 {1000, 600}},
        EdgeCase{"FlatLineInAnOddSizedWindow", 4, kFlat, 50.0, 0.0, true, false, {777, 411}},
        EdgeCase{"SingleSampleAtTheMaximum", 3, {12.5}, 12.5, 0.0, true, false, {1000, 600}},
        EdgeCase{"SingleSampleAtTheMinimum", 4, {-3.0}, 0.0, -3.0, false, true, {1000, 600}},
        EdgeCase{"StepUpFromZero", 1, Step(0.0, 80.0), 80.0, 0.0, true, true, {1000, 600}},
        EdgeCase{"StepDownAcrossZero", 2, Step(30.0, -20.0), 30.0, -20.0, true, true, {1000, 600}},
        EdgeCase{"StepInAnOddSizedWindow",
                 3,
                 Step(-7.25, 1234.5),
                 1234.5,
                 -7.25,
                 true,
                 true,
                 {643, 389}}),
    [](const ::testing::TestParamInfo<EdgeCase>& param) { return param.param.name; });

QStringList SceneTexts(const LoadChart& chart) {
    QStringList texts;
    for (QGraphicsItem* item : chart.View()->scene()->items()) {
        if (auto* simple = dynamic_cast<QGraphicsSimpleTextItem*>(item)) {
            texts << simple->text();
        } else if (auto* rich = dynamic_cast<QGraphicsTextItem*>(item)) {
            texts << rich->toPlainText();
        }
    }
    return texts;
}

struct LabelCase {
    std::string name;
    double minimum;
    double maximum;
    QStringList shown;  // labels the load axis must show
};

class LoadLabels : public ::testing::TestWithParam<LabelCase> {};

// "#,##0.000" in the locale's separators up to 12 integer digits, the exponent form beyond, and
// never a negative zero, on the load axis or any other.
TEST_P(LoadLabels, UseTheLocaleThreeDecimalsAndNoNegativeZero) {
    const LabelCase& c = GetParam();
    ShownChart shown;
    shown.chart.SetNumberLocale(QLocale(QLocale::Portuguese, QLocale::Brazil));
    shown.chart.SetLeftAxisMaximum(c.maximum);
    shown.chart.SetLeftAxisMinimum(c.minimum);
    shown.chart.grab();  // laid out and painted
    const QStringList texts = SceneTexts(shown.chart);
    for (const QString& label : c.shown) {
        EXPECT_TRUE(texts.contains(label))
            << label.toStdString() << " not in " << texts.join("|").toStdString();
    }
    EXPECT_FALSE(texts.join(" ").contains("-0,000")) << texts.join(" | ").toStdString();
    // Mended or not, the load labels stay right-aligned to the axis.
    std::vector<double> rights;
    for (QGraphicsItem* item : shown.chart.View()->scene()->items()) {
        const auto* label = dynamic_cast<QGraphicsTextItem*>(item);
        if (label != nullptr && c.shown.contains(label->toPlainText())) {
            rights.push_back(label->mapRectToScene(label->boundingRect()).right());
        }
    }
    const auto [left, right] = std::minmax_element(rights.begin(), rights.end());
    EXPECT_TRUE(left != rights.end() && *right - *left < 1.0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LoadLabels,
    ::testing::Values(
        LabelCase{"Grouped", 0.0, 20000.0, {"20.000,000", "0,000"}},
        LabelCase{"TwelveIntegerDigits", 1 - 1e12, 1e12 - 1, {"999.999.999.999,000", "0,000"}},
        LabelCase{"AbsurdLoads", -2e16, 2e16, {"2,000E+16", "-2,000E+16", "1,000E+16"}},
        LabelCase{"AbsurdLoadOnOneSide", 0.0, 20000000070880000.0, {"2,000E+16"}},
        LabelCase{"NegativeZero", -1e-19, 50.0, {"0,000", "50,000"}},
        LabelCase{"TickAHairBelowZero", -1.0 - 1e-12, 3.0, {"0,000", "-1,000", "3,000"}}),
    [](const ::testing::TestParamInfo<LabelCase>& param) { return param.param.name; });

// Loads known to the last bit: plate 3 pulls (negative), and every load grows with the sample,
// so a zoomed-out column draws only its first and last samples.
double RampLoad(int series, long long sample) {
    if (series == 2 && sample == 151) {
        return std::nan("");  // a reading plate 2 did not deliver
    }
    return (series == 3 ? -1.0 : 1.0) * (series * 1000.0 + static_cast<double>(sample) / 8.0);
}

enum class CursorView { Whole, ZoomInAtStart, ZoomInAtEnd, ZoomInAndPan, PanPastTheEnd, Live };
enum class Pointer { AtSample, LeftOfPlot, BelowPlot };

struct CursorCase {
    std::string name;
    std::array<int, 4> lengths;  // samples per series, 0 for an idle plate
    CursorView view;
    Pointer pointer;
    double fraction;  // where in the visible sample range the mouse is
    bool exact;       // a column per sample or more: the sample aimed at is the one read
    bool reads;
    std::string text;  // the read-out, when the case checks it
    double hz = 0.0;   // the sample frequency, 0 unknown
    QLocale locale = QLocale(QLocale::Portuguese, QLocale::Brazil);
};

class CursorReadout : public ::testing::TestWithParam<CursorCase> {};

// The mouse on the column where the lines draw a sample must read a sample drawn in that
// column, at whatever zoom, with the load stored for it, not the one the reduction kept.
TEST_P(CursorReadout, ReadsTheStoredLoadsOfTheSampleDrawnUnderTheMouse) {
    const CursorCase& c = GetParam();
    ShownChart shown;
    LoadChart& chart = shown.chart;
    chart.SetNumberLocale(c.locale);
    chart.SetSampleFrequency(c.hz);
    std::vector<PlateLoads> rows;
    for (int s = 1; s <= 4; ++s) {
        std::vector<ChartPoint> points;
        for (long long n = 1; n <= c.lengths[static_cast<std::size_t>(s - 1)]; ++n) {
            points.push_back({static_cast<double>(n), RampLoad(s, n)});
        }
        rows.resize(std::max(rows.size(), points.size()), PlateLoads{});
        chart.SetSeriesPoints(s, std::move(points));
    }
    chart.SetLegendVisible(true);
    chart.SetLeftAxisMaximum(5000.0);
    chart.SetLeftAxisMinimum(-5000.0);
    QApplication::processEvents();
    const QRectF area = chart.Chart()->plotArea();
    switch (c.view) {
        case CursorView::Whole:
            break;
        case CursorView::ZoomInAtStart:
            chart.ZoomAt(area.topLeft(), 1000.0, Qt::Horizontal);
            break;
        case CursorView::ZoomInAtEnd:
            chart.ZoomAt(area.bottomRight(), 1000.0, Qt::Horizontal);
            break;
        case CursorView::ZoomInAndPan:
            chart.ZoomAt(area.center(), 1000.0, Qt::Horizontal);
            chart.PanBy(QPointF(area.width() / 3.0, 0.0));
            break;
        case CursorView::PanPastTheEnd:
            chart.PanBy(QPointF(-area.width() * 1.5, 0.0));
            break;
        case CursorView::Live:
            chart.BeginLive({true, true, true, true},
                            [&] { return std::span<const PlateLoads>(rows); });
            break;
    }
    QApplication::processEvents();

    const double ratio = chart.View()->devicePixelRatioF();
    const PlotPixels plot = InsidePixels(chart);
    const PixelColumns columns(chart.AxisX()->min(), chart.AxisX()->max(),
                               plot.right - plot.left + 1);
    const double aimed = std::round(chart.AxisX()->min() +
                                    c.fraction * (chart.AxisX()->max() - chart.AxisX()->min()));
    const double middleRow = (plot.top + plot.bottom) / 2 + 0.5;
    QPointF mouse((plot.left + columns.Any(aimed) + 0.5) / ratio, middleRow / ratio);
    if (c.pointer == Pointer::LeftOfPlot) {
        mouse.setX((plot.left - 0.5) / ratio);
    } else if (c.pointer == Pointer::BelowPlot) {
        mouse.setY((plot.bottom + 1.5) / ratio);
    }

    const std::optional<CursorReading> reading = chart.ReadingAt(mouse);
    ASSERT_EQ(reading.has_value(), c.reads);
    if (!reading) {
        return;
    }
    const long long sample = reading->sample;
    EXPECT_EQ(columns.Inside(static_cast<double>(sample)), columns.Inside(aimed))
        << "read sample " << sample << ", aimed at " << aimed;
    if (c.exact) {
        EXPECT_EQ(sample, static_cast<long long>(aimed));
    }
    EXPECT_EQ(reading->seconds, c.hz > 0.0
                                    ? std::optional((static_cast<double>(sample) - 1.0) / c.hz)
                                    : std::nullopt);
    for (int s = 1; s <= 4; ++s) {
        const auto i = static_cast<std::size_t>(s - 1);
        if (sample <= c.lengths[i]) {
            const double load = RampLoad(s, sample);  // a missing load reads back missing
            EXPECT_TRUE(reading->loads[i] == load ||
                        (std::isnan(load) && std::isnan(reading->loads[i].value_or(0.0))))
                << "series " << s;
        } else {
            EXPECT_FALSE(reading->loads[i].has_value()) << "series " << s;
        }
    }
    if (c.lengths[0] >= 144000 && c.view == CursorView::Whole) {
        const auto& drawn = chart.DrawnPoints(1);
        ASSERT_TRUE(
            std::none_of(drawn.begin(), drawn.end(),
                         [&](const ChartPoint& p) { return p.x == static_cast<double>(sample); }))
            << "sample " << sample << " is drawn: the case shows nothing";
    }
    if (!c.text.empty()) {
        EXPECT_EQ(chart.ReadingText(*reading).toStdString(), c.text);
    }
    // The same pixel on the whole run is another sample.
    if (c.view != CursorView::Whole) {
        chart.ResetView();
        QApplication::processEvents();
        const auto whole = chart.ReadingAt(mouse);
        ASSERT_TRUE(whole.has_value());
        EXPECT_NE(whole->sample, sample);
    }
}

constexpr std::array<int, 4> kShortRun{300, 300, 300, 300};
constexpr std::array<int, 4> kLongRun{144000, 144000, 144000, 144000};
constexpr std::array<int, 4> kOnePlate{300, 0, 0, 0};

INSTANTIATE_TEST_SUITE_P(
    Cases, CursorReadout,
    ::testing::Values(
        CursorCase{"FirstSampleOfAShortRun", kShortRun, CursorView::Whole, Pointer::AtSample, 0.0,
                   true, true,
                   "Amostra 1\nPlaca 1: 1.000,125\nPlaca 2: 2.000,125\nPlaca 3: -3.000,125\n"
                   "Placa 4: 4.000,125"},
        CursorCase{"LastSampleOfAShortRun", kShortRun, CursorView::Whole, Pointer::AtSample, 1.0,
                   true, true, ""},
        CursorCase{"TimeBesideTheSample", kOnePlate, CursorView::Whole, Pointer::AtSample, 0.5,
                   true, true, "Amostra 151 (0,250 s)\nPlaca 1: 1.018,875", 600.0},
        CursorCase{"TimeInAnotherLocale", kOnePlate, CursorView::Whole, Pointer::AtSample, 1.0,
                   true, true, "Amostra 300 (5.980 s)\nPlaca 1: 1,037.500", 50.0,
                   QLocale(QLocale::English, QLocale::UnitedStates)},
        CursorCase{"SampleTheReductionDoesNotDraw", kLongRun, CursorView::Whole, Pointer::AtSample,
                   0.37, false, true, ""},
        CursorCase{"FirstSampleZoomedIn", kLongRun, CursorView::ZoomInAtStart, Pointer::AtSample,
                   0.0, true, true, ""},
        CursorCase{"LastSampleZoomedIn", kLongRun, CursorView::ZoomInAtEnd, Pointer::AtSample, 1.0,
                   true, true, ""},
        CursorCase{"ZoomedInAndPanned", kLongRun, CursorView::ZoomInAndPan, Pointer::AtSample, 0.5,
                   true, true, ""},
        CursorCase{"IdlePlatesShowNothing",
                   {300, 0, 300, 0},
                   CursorView::Whole,
                   Pointer::AtSample,
                   0.5,
                   true,
                   true,
                   "Amostra 151\nPlaca 1: 1.018,875\nPlaca 3: -3.018,875"},
        CursorCase{"MissingLoadShowsDashes", kShortRun, CursorView::Whole, Pointer::AtSample, 0.5,
                   true, true,
                   "Amostra 151\nPlaca 1: 1.018,875\nPlaca 2: ---\nPlaca 3: -3.018,875\n"
                   "Placa 4: 4.018,875"},
        CursorCase{"PastTheEndOfAShorterSeries",
                   {300, 300, 120, 300},
                   CursorView::Whole,
                   Pointer::AtSample,
                   0.8,
                   true,
                   true,
                   ""},
        CursorCase{"LeftOfThePlot", kShortRun, CursorView::Whole, Pointer::LeftOfPlot, 0.0, true,
                   false, ""},
        CursorCase{"BelowThePlot", kShortRun, CursorView::Whole, Pointer::BelowPlot, 0.5, true,
                   false, ""},
        CursorCase{"PannedPastTheEndOfTheRun", kShortRun, CursorView::PanPastTheEnd,
                   Pointer::AtSample, 0.5, true, false, ""},
        CursorCase{
            "EmptyChart", {0, 0, 0, 0}, CursorView::Whole, Pointer::AtSample, 0.5, true, false, ""},
        CursorCase{"DrawnLive", kShortRun, CursorView::Live, Pointer::AtSample, 0.1, true, false,
                   ""}),
    [](const ::testing::TestParamInfo<CursorCase>& param) { return param.param.name; });

// Runs of different frequencies on a time axis: the read-out gives the time under the mouse and
// each series' own point nearest it, none for a series that does not reach that time.
struct TimeCursorCase {
    std::string name;
    std::array<double, 2> hz;      // each series' samples per second
    std::array<double, 2> starts;  // the time of its first sample
    std::array<int, 2> samples;
    double zoom;      // 1: the whole comparison in view
    double fraction;  // where in the view the mouse is
    std::array<bool, 2> reads;
};

class TimeCursorReadout : public ::testing::TestWithParam<TimeCursorCase> {};

TEST_P(TimeCursorReadout, ReadsEachSeriesPointNearestTheTimeUnderTheMouse) {
    const TimeCursorCase& c = GetParam();
    ShownChart shown;
    LoadChart& chart = shown.chart;
    const QLocale locale(QLocale::Portuguese, QLocale::Brazil);
    chart.SetTimeAxis(QStringLiteral("Tempo (s)"));
    chart.SetNumberLocale(locale);
    const auto load = [](std::size_t s, int k) { return static_cast<double>(s + 1) * 1000.0 + k; };
    for (std::size_t s = 0; s < 2; ++s) {
        std::vector<ChartPoint> points;
        for (int k = 0; k < c.samples[s]; ++k) {
            points.push_back({c.starts[s] + k / c.hz[s], load(s, k)});
        }
        chart.SetSeriesPoints(static_cast<int>(s) + 1, std::move(points));
    }
    chart.SetLeftAxisMaximum(5000.0);
    QApplication::processEvents();
    if (c.zoom != 1.0) {
        chart.ZoomAt(chart.Chart()->plotArea().center(), c.zoom, Qt::Horizontal);
        QApplication::processEvents();
    }
    EXPECT_EQ(chart.AxisX()->titleText(), QStringLiteral("Tempo (s)"));
    // Every tick label keeps its time: the step has the decimals it needs, and few ticks show.
    const double step = chart.AxisX()->tickInterval();
    const QByteArray format = chart.AxisX()->labelFormat().toLatin1();
    EXPECT_NEAR(QString::asprintf(format.constData(), step).toDouble(), step, step * 1e-9);
    EXPECT_LE((chart.AxisX()->max() - chart.AxisX()->min()) / step, 11.0);

    const double ratio = chart.View()->devicePixelRatioF();
    const PlotPixels plot = InsidePixels(chart);
    const int width = plot.right - plot.left + 1;
    const PixelColumns columns(chart.AxisX()->min(), chart.AxisX()->max(), width);
    const double aimed =
        chart.AxisX()->min() + c.fraction * (chart.AxisX()->max() - chart.AxisX()->min());
    const QPointF mouse((plot.left + columns.Any(aimed) + 0.5) / ratio,
                        ((plot.top + plot.bottom) / 2 + 0.5) / ratio);
    const std::optional<CursorReading> reading = chart.ReadingAt(mouse);
    ASSERT_TRUE(reading.has_value());
    ASSERT_TRUE(reading->seconds.has_value());
    const double t = *reading->seconds;
    EXPECT_NEAR(t, aimed, (chart.AxisX()->max() - chart.AxisX()->min()) / width);
    for (std::size_t s = 0; s < 2; ++s) {
        if (!c.reads[s]) {
            EXPECT_FALSE(reading->loads[s].has_value()) << "series " << s + 1;
            continue;
        }
        const int nearest = std::clamp(static_cast<int>(std::lround((t - c.starts[s]) * c.hz[s])),
                                       0, c.samples[s] - 1);
        EXPECT_EQ(reading->loads[s], load(s, nearest)) << "series " << s + 1;
    }
    EXPECT_EQ(chart.ReadingText(*reading).section(QLatin1Char('\n'), 0, 0),
              QStringLiteral("Tempo %1 s").arg(locale.toString(t, 'f', 3)));
}

INSTANTIATE_TEST_SUITE_P(Cases, TimeCursorReadout,
                         ::testing::Values(TimeCursorCase{"EachSeriesAtItsOwnSpacing",
                                                          {600.0, 50.0},
                                                          {0.0, 0.0},
                                                          {1800, 150},
                                                          1.0,
                                                          0.37,
                                                          {true, true}},
                                           TimeCursorCase{"ZoomedInBetweenTheSlowerSeriesSamples",
                                                          {600.0, 50.0},
                                                          {0.0, 0.0},
                                                          {1800, 150},
                                                          200.0,
                                                          0.5,
                                                          {true, true}},
                                           TimeCursorCase{"PastTheEndOfTheShorterSeries",
                                                          {600.0, 50.0},
                                                          {0.0, 0.0},
                                                          {1800, 50},
                                                          1.0,
                                                          0.8,
                                                          {true, false}},
                                           TimeCursorCase{"BeforeTheStartOfASeriesAlignedAtItsPeak",
                                                          {600.0, 50.0},
                                                          {-1.0, -2.5},
                                                          {1800, 150},
                                                          1.0,
                                                          0.2,
                                                          {false, true}}),
                         [](const ::testing::TestParamInfo<TimeCursorCase>& param) {
                             return param.param.name;
                         });

// WCAG's contrast of a colour against white.
double ContrastOnWhite(const QColor& colour) {
    const auto linear = [](double c) {
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    const double luminance = 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
                             0.0722 * linear(colour.blueF());
    return 1.05 / (luminance + 0.05);
}

TEST(LoadChart, DistinctColoursAreUnlikeEachOtherAndReadableOnWhite) {
    for (int i = 0; i < kDistinctColourCount; ++i) {
        const QColor a = DistinctColour(i);
        EXPECT_GE(ContrastOnWhite(a), 3.0) << a.name().toStdString();
        for (int j = 0; j < i; ++j) {
            const QColor b = DistinctColour(j);
            EXPECT_GE(std::hypot(a.red() - b.red(), a.green() - b.green(), a.blue() - b.blue()),
                      80.0)
                << a.name().toStdString() << " and " << b.name().toStdString();
        }
    }
    EXPECT_EQ(DistinctColour(kDistinctColourCount), DistinctColour(0));
    // Given to one series; the others keep the main chart's.
    LoadChart chart{kSeries};
    chart.SetSeriesColour(2, DistinctColour(5));
    EXPECT_EQ(chart.Series(2)->pen().color(), DistinctColour(5));
    EXPECT_EQ(chart.Series(1)->pen().color(), QColor(Qt::red));
    EXPECT_EQ(chart.Series(3)->pen().color(), QColor(Qt::black));
}

long Differing(const QImage& a, const QImage& b) {
    return a.size() == b.size() ? LineAndDifferingPixels(a, b, a).second : -1;
}

void MoveMouse(LoadChart& chart, QPointF position) {
    QMouseEvent move(QEvent::MouseMove, position, chart.View()->viewport()->mapToGlobal(position),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(chart.View()->viewport(), &move);
    QApplication::processEvents();
}

// The read-out follows the mouse and the view, paints nothing outside its line and box, and
// leaves the chart as it was when the mouse goes.
TEST(LoadChart, MouseOverThePlotShowsTheReadingAndLeavingHidesIt) {
    ShownChart shown;
    LoadChart& chart = shown.chart;
    DrawNoisyRuns(chart, 30u);
    const QImage before = Picture(chart);
    const QRectF area = chart.Chart()->plotArea();
    const QPointF inside(std::floor(area.left() + area.width() * 0.6), area.center().y());

    MoveMouse(chart, inside);
    const auto reading = chart.ReadingAt(inside);
    ASSERT_TRUE(reading.has_value());
    ASSERT_TRUE(chart.Cursor()->Shown());
    EXPECT_EQ(chart.Cursor()->Text(), chart.ReadingText(*reading));
    const double ratio = chart.View()->devicePixelRatioF();
    EXPECT_EQ(chart.Cursor()->Column(), static_cast<int>(std::floor(inside.x() * ratio)))
        << "zoomed out, the line is on the mouse's column";
    const QImage withCursor = Picture(chart);
    const QRectF line = chart.Cursor()->LineRect();
    const QRectF box = chart.Cursor()->BoxRect().adjusted(-1.0, -1.0, 1.0, 1.0);
    EXPECT_TRUE(area.contains(box)) << "the box stays inside the plot";
    long changed = 0;
    long elsewhere = 0;
    for (int y = 0; y < before.height(); ++y) {
        for (int x = 0; x < before.width(); ++x) {
            if (before.pixel(x, y) != withCursor.pixel(x, y)) {
                const QPointF centre((x + 0.5) / ratio, (y + 0.5) / ratio);
                ++changed;
                elsewhere += line.contains(centre) || box.contains(centre) ? 0 : 1;
            }
        }
    }
    EXPECT_GT(changed, 200);
    EXPECT_EQ(elsewhere, 0);

    // The view moves under a still mouse: the read-out follows.
    chart.PanBy(QPointF(area.width() / 4.0, 0.0));
    QApplication::processEvents();
    const auto panned = chart.ReadingAt(inside);
    ASSERT_TRUE(panned.has_value());
    EXPECT_NE(panned->sample, reading->sample);
    EXPECT_EQ(chart.Cursor()->Text(), chart.ReadingText(*panned));
    chart.ResetView();

    // A move repaints only where the line and the box were and are: the screen must still
    // show what drawing the whole chart shows, with a column per sample as with many.
    for (const double zoom : {2000.0, 1.0}) {
        chart.ZoomAt(area.center(), zoom, Qt::Horizontal);
        for (const double fraction : {0.1, 0.97, 0.5, 0.51, 0.3}) {
            MoveMouse(chart, QPointF(area.left() + area.width() * fraction, area.center().y()));
        }
        EXPECT_EQ(Differing(OnScreen(chart), Picture(chart)), 0) << "zoomed in " << zoom;
        chart.ResetView();
    }
    MoveMouse(chart, QPointF(area.left() - 10.0, area.center().y()));
    EXPECT_FALSE(chart.Cursor()->Shown()) << "over the load labels";
    MoveMouse(chart, inside);
    ASSERT_TRUE(chart.Cursor()->Shown());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(chart.View()->viewport(), &leave);
    EXPECT_FALSE(chart.Cursor()->Shown());
    EXPECT_EQ(Differing(OnScreen(chart), before), 0) << "the mouse gone, nothing of it is left";
}

void Mouse(LoadChart& chart, QEvent::Type type, QPointF at, Qt::KeyboardModifiers modifiers) {
    const bool move = type == QEvent::MouseMove;
    QMouseEvent event(
        type, at, chart.View()->viewport()->mapToGlobal(at), move ? Qt::NoButton : Qt::LeftButton,
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, modifiers);
    QApplication::sendEvent(chart.View()->viewport(), &event);
    QApplication::processEvents();
}

// Shift + drag marks a stretch, ordered whichever way the mouse went, and shades that and only
// that; the plain drag still pans, and the live view takes no marking.
TEST(LoadChart, ShiftDragMarksAndShadesAStretchAndPlainDragStillPans) {
    using Stretch = std::pair<long long, long long>;
    ShownChart shown;
    LoadChart& chart = shown.chart;
    DrawNoisyRuns(chart, 40u);
    std::vector<Stretch> marked;
    QObject::connect(&chart, &LoadChart::StretchMarked,
                     [&](long long first, long long last) { marked.emplace_back(first, last); });
    const QRectF area = chart.Chart()->plotArea();
    const auto at = [&](double f) {
        return QPointF(std::floor(area.left() + area.width() * f) + 0.5, area.center().y());
    };
    const long long pressed = chart.ReadingAt(at(0.7))->sample;
    const long long moved = chart.ReadingAt(at(0.2))->sample;
    const QImage before = Picture(chart);
    Mouse(chart, QEvent::MouseButtonPress, at(0.7), Qt::ShiftModifier);
    EXPECT_EQ(chart.View()->cursor().shape(), Qt::SizeHorCursor);
    Mouse(chart, QEvent::MouseMove, at(0.2), Qt::ShiftModifier);
    Mouse(chart, QEvent::MouseMove, at(0.2) + QPointF(0.0, 9.0), Qt::NoModifier);
    Mouse(chart, QEvent::MouseButtonRelease, at(0.2), Qt::NoModifier);
    EXPECT_EQ(marked, (std::vector<Stretch>{{pressed, pressed}, {moved, pressed}}));
    EXPECT_EQ(chart.ShadedStretch(), Stretch(moved, pressed));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(chart.View()->viewport(), &leave);
    const QImage shaded = Picture(chart);
    const auto band = chart.Lines()->BandColumns();
    ASSERT_TRUE(band.has_value());
    const QRect columns(band->first, 0, band->second - band->first + 1, before.height());
    EXPECT_NE(before.copy(columns), shaded.copy(columns));
    QImage beside[2] = {before, shaded};
    QPainter(&beside[0]).fillRect(columns, Qt::black);
    QPainter(&beside[1]).fillRect(columns, Qt::black);
    EXPECT_EQ(beside[0], beside[1]) << "shaded beyond its samples, or panned";
    // Dragged past the plot's left end: from the first sample. A click marks one sample.
    Mouse(chart, QEvent::MouseButtonPress, at(0.7), Qt::ShiftModifier);
    Mouse(chart, QEvent::MouseMove, QPointF(area.left() - 30.0, 5.0), Qt::ShiftModifier);
    Mouse(chart, QEvent::MouseButtonRelease, at(0.2), Qt::ShiftModifier);
    EXPECT_EQ(marked.back(), Stretch(1, pressed));
    Mouse(chart, QEvent::MouseButtonPress, at(0.2), Qt::ShiftModifier);
    Mouse(chart, QEvent::MouseButtonRelease, at(0.2), Qt::ShiftModifier);
    EXPECT_EQ(marked.back(), Stretch(moved, moved));
    const std::size_t marks = marked.size();
    Mouse(chart, QEvent::MouseButtonPress, at(0.5), Qt::NoModifier);
    Mouse(chart, QEvent::MouseMove, at(0.6), Qt::NoModifier);
    Mouse(chart, QEvent::MouseButtonRelease, at(0.6), Qt::NoModifier);
    EXPECT_LT(chart.AxisX()->min(), 1.0) << "the plain drag pans";
    EXPECT_EQ(marked.size(), marks);
    EXPECT_EQ(chart.ShadedStretch(), Stretch(moved, moved));
    chart.BeginLive({true, true, true, true}, [] { return std::span<const PlateLoads>(); });
    EXPECT_FALSE(chart.ShadedStretch().has_value());
    Mouse(chart, QEvent::MouseButtonPress, at(0.5), Qt::ShiftModifier);
    Mouse(chart, QEvent::MouseButtonRelease, at(0.5), Qt::ShiftModifier);
    EXPECT_EQ(marked.size(), marks) << "nothing marked live";
}

}  // namespace
}  // namespace kelvaro
