// Load chart benchmark: what a long run costs to load and draw, and what the per-column
// reduction changes in the picture. Prints the figures it measured; runs offscreen.
#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QImage>
#include <QPixmap>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "chart/LineLayer.h"
#include "chart/LoadChart.h"

namespace {

using kelvaro::ChartPoint;
using kelvaro::LoadChart;
using Clock = std::chrono::steady_clock;

constexpr int kWidth = 1000;
constexpr int kHeight = 600;
constexpr int kRepeats = 5;
constexpr int kLongRun = 144000;
constexpr int kShortRun = 800;

// A plate's loads over a run: rest near zero, then loads applied and removed as fast steps
// with overshoot, measurement noise and the odd impact spike.
std::vector<ChartPoint> PlateSignal(int count, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> level(20.0, 800.0);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::normal_distribution<double> noise(0.0, 1.0);
    const double scale = count / static_cast<double>(kLongRun);
    std::vector<ChartPoint> points;
    points.reserve(static_cast<std::size_t>(count));
    double current = 0.0;
    double target = 0.0;
    int nextStep = 0;
    for (int i = 1; i <= count; ++i) {
        if (i >= nextStep) {
            target = unit(random) < 0.3 ? 0.0 : level(random);
            nextStep = i + std::max(1, static_cast<int>((2000 + unit(random) * 13000) * scale));
        }
        // A quick first-order approach with some overshoot on the way.
        current += (target - current) * 0.08 + (target - current) * 0.02 * noise(random);
        double value = current + noise(random) * (0.05 + 0.005 * std::abs(current));
        if (unit(random) < 0.001) {
            value += (unit(random) - 0.3) * 0.3 * (std::abs(current) + 50.0);
        }
        points.push_back({static_cast<double>(i), value});
    }
    return points;
}

using Run = std::array<std::vector<ChartPoint>, 4>;

Run MakeRun(int count) {
    Run run;
    for (unsigned p = 0; p < 4; ++p) {
        run[p] = PlateSignal(count, 1000 + p);
    }
    return run;
}

struct Extremes {
    double high = 0.0;
    double low = 0.0;
};

// The running extremes that the test run gathers while it converts the samples; they are the
// caller's work, not the chart's, so they are found before the clock starts.
Extremes FindExtremes(const Run& run) {
    Extremes e;
    for (const auto& points : run) {
        for (const auto& p : points) {
            e.high = std::max(e.high, p.y);
            e.low = std::min(e.low, p.y);
        }
    }
    return e;
}

// The app's drawing sequence: the series, then the axis from the running extremes.
void Load(LoadChart& chart, Run run, Extremes extremes) {
    const double high = extremes.high;
    const double low = extremes.low;
    for (int s = 1; s <= 4; ++s) {
        chart.SetSeriesPoints(s, std::move(run[static_cast<std::size_t>(s - 1)]));
    }
    chart.SetLegendVisible(true);
    chart.SetLeftAxisMaximum(high);
    chart.SetLeftAxisMinimum(low);
}

double Percent(long part, long whole) {
    return whole > 0 ? 100.0 * static_cast<double>(part) / static_cast<double>(whole) : 0.0;
}

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Median over fresh, already shown charts of the time from loading to a finished picture.
double LoadAndDrawMs(const Run& run) {
    std::vector<double> times;
    for (int r = 0; r < kRepeats; ++r) {
        LoadChart chart;
        chart.resize(kWidth, kHeight);
        chart.show();
        QApplication::processEvents();
        Run copy = run;
        const Extremes extremes = FindExtremes(copy);
        const auto start = Clock::now();
        Load(chart, std::move(copy), extremes);
        QApplication::processEvents();
        const QPixmap picture = chart.grab();
        const auto end = Clock::now();
        if (picture.isNull()) {
            std::fprintf(stderr, "chart_bench: grab() returned no picture\n");
            std::exit(1);
        }
        times.push_back(Milliseconds(end - start));
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

QImage Picture(LoadChart& chart) {
    QApplication::processEvents();
    return chart.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication app(argc, argv);

    const Run longRun = MakeRun(kLongRun);
    const Run shortRun = MakeRun(kShortRun);
    const double longMs = LoadAndDrawMs(longRun);
    const double shortMs = LoadAndDrawMs(shortRun);

    // Same chart, same layout: the reduced picture, then every point handed to Qt directly.
    LoadChart chart;
    chart.resize(kWidth, kHeight);
    chart.show();
    QApplication::processEvents();
    Load(chart, longRun, FindExtremes(longRun));
    const QImage reduced = Picture(chart);
    std::size_t reducedPoints = 0;
    for (int s = 1; s <= 4; ++s) {
        reducedPoints += chart.DrawnPoints(s).size();
    }
    const QRectF plot = chart.Chart()->plotArea();
    // The same drawing code handed every point.
    const auto unreducedStart = Clock::now();
    chart.SetReduction(false);
    const QImage unreduced = Picture(chart);
    const double unreducedMs = Milliseconds(Clock::now() - unreducedStart);
    std::size_t unreducedPoints = 0;
    for (int s = 1; s <= 4; ++s) {
        unreducedPoints += chart.DrawnPoints(s).size();
    }
    if (chart.Chart()->plotArea() != plot) {
        std::fprintf(stderr, "chart_bench: the plot area moved between the two drawings\n");
        return 1;
    }
    chart.Lines()->hide();
    const QImage empty = Picture(chart);

    long differing = 0;
    long nonWhite = 0;
    long linePixels = 0;
    for (int y = 0; y < unreduced.height(); ++y) {
        const auto* a = reinterpret_cast<const QRgb*>(reduced.constScanLine(y));
        const auto* b = reinterpret_cast<const QRgb*>(unreduced.constScanLine(y));
        const auto* e = reinterpret_cast<const QRgb*>(empty.constScanLine(y));
        for (int x = 0; x < unreduced.width(); ++x) {
            differing += a[x] != b[x] ? 1 : 0;
            nonWhite += qRgb(qRed(b[x]), qGreen(b[x]), qBlue(b[x])) != qRgb(255, 255, 255) ? 1 : 0;
            linePixels += b[x] != e[x] ? 1 : 0;
        }
    }

    std::printf(
        "chart_bench: %dx%d offscreen, antialiasing %s, median of %d runs\n", kWidth, kHeight,
        chart.View()->renderHints().testFlag(QPainter::Antialiasing) ? "on" : "off", kRepeats);
    std::printf("load + first draw, 4 x %d points: %.1f ms\n", kLongRun, longMs);
    std::printf("load + first draw, 4 x %d points:    %.1f ms\n", kShortRun, shortMs);
    std::printf("ratio long / short: %.2f (target < 3)\n", longMs / shortMs);
    std::printf("points drawn: %zu reduced against %zu unreduced\n", reducedPoints,
                unreducedPoints);
    std::printf("drawing every point instead (same drawing code): %.1f ms\n", unreducedMs);
    std::printf("differing pixels, reduced vs unreduced: %ld\n", differing);
    std::printf("  of %ld non-white pixels of the unreduced drawing: %.4f %% (target < 0.1 %%)\n",
                nonWhite, Percent(differing, nonWhite));
    std::printf("  of %ld pixels the series themselves paint: %.4f %%\n", linePixels,
                Percent(differing, linePixels));
    return 0;
}
