// Load chart benchmark: what a long run costs to load and draw, and what the per-column
// reduction changes in the picture; with `live`, what drawing a run while it goes on costs the
// thread the acquisition shares, without and with the plates' total; and what moving the mouse
// over a long run costs with the cursor read-out. Prints the figures it measured; runs offscreen.
// Usage: chart_bench [live [climbing]]
#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QImage>
#include <QMouseEvent>
#include <QPixmap>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "BenchFakes.h"
#include "chart/CursorLayer.h"
#include "chart/LineLayer.h"
#include "chart/LoadChart.h"

namespace {

using kelvaro::ChartPoint;
using kelvaro::kPlateCount;
using kelvaro::LoadChart;
using kelvaro::bench::PaintCounter;
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

// The app's drawing sequence: the series, then the axis from the running extremes, then the
// plates' titles.
void Load(LoadChart& chart, Run run, Extremes extremes) {
    const double high = extremes.high;
    const double low = extremes.low;
    for (int s = 1; s <= 4; ++s) {
        chart.SetSeriesPoints(s, std::move(run[static_cast<std::size_t>(s - 1)]));
    }
    chart.SetLegendVisible(true);
    chart.SetLeftAxisMaximum(high);
    chart.SetLeftAxisMinimum(low);
    for (int s = 1; s <= 4; ++s) {
        chart.SetSeriesTitle(s, "Placa " + std::to_string(s) + ": ");
    }
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
        LoadChart chart(kPlateCount);
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

double CpuSeconds(clockid_t clock = CLOCK_PROCESS_CPUTIME_ID) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Prints the median, 99th percentile and longest of some times in milliseconds.
void Report(const char* what, std::vector<double> times) {
    std::sort(times.begin(), times.end());
    const auto at = [&](double q) {
        return times[std::min(times.size() - 1,
                              static_cast<std::size_t>(q * static_cast<double>(times.size())))];
    };
    std::printf("%s: median %.3f ms, p99 %.3f ms, max %.3f ms\n", what, at(0.5), at(0.99),
                times.back());
}

// What drawing one run live cost.
struct LiveFigures {
    std::vector<double> refreshMs;     // read + bin + paint, wall
    std::vector<double> binMs;         // read + bin, wall
    std::vector<double> refreshCpuMs;  // the thread's CPU
    long paints = 0;
    double cpu = 0.0;  // the process's, over the refreshes
    double endMs = 0.0;
};

// Draws `rows` live on a chart of `seriesCount` series, `sumSeries` drawing the plates' total
// (0: none), refreshed every `perRefresh` rows as the live timer does between two acquisition
// passes, letting the event loop paint what changed as it does between passes.
LiveFigures DrawLive(const std::vector<kelvaro::PlateLoads>& rows, int seriesCount, int sumSeries,
                     std::size_t perRefresh) {
    LoadChart chart(seriesCount);
    chart.SetLiveSumSeries(sumSeries);
    chart.resize(kWidth, kHeight);
    chart.show();
    QApplication::processEvents();
    std::size_t acquired = 0;
    chart.BeginLive({true, true, true, true},
                    [&] { return std::span<const kelvaro::PlateLoads>(rows.data(), acquired); });
    QWidget* viewport = chart.View()->viewport();
    PaintCounter counter;
    viewport->installEventFilter(&counter);
    LiveFigures figures;
    figures.refreshMs.reserve(rows.size() / perRefresh + 1);
    figures.binMs.reserve(figures.refreshMs.capacity());
    figures.refreshCpuMs.reserve(figures.refreshMs.capacity());
    const double cpuStart = CpuSeconds();
    while (acquired < rows.size()) {
        acquired = std::min(rows.size(), acquired + perRefresh);
        const double cpuBefore = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        const auto start = Clock::now();
        chart.RefreshLive();
        const auto binned = Clock::now();
        QApplication::processEvents();
        const auto painted = Clock::now();
        figures.binMs.push_back(Milliseconds(binned - start));
        figures.refreshMs.push_back(Milliseconds(painted - start));
        figures.refreshCpuMs.push_back((CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - cpuBefore) * 1000.0);
    }
    figures.cpu = CpuSeconds() - cpuStart;
    figures.paints = counter.paints;
    const auto endStart = Clock::now();
    chart.EndLive();
    QApplication::processEvents();
    figures.endMs = Milliseconds(Clock::now() - endStart);
    if (sumSeries != 0 && chart.Points(sumSeries).size() != rows.size()) {
        std::fprintf(stderr, "chart_bench: the total was not drawn live\n");
        std::exit(1);
    }
    return figures;
}

double Sum(const std::vector<double>& values) {
    double sum = 0.0;
    for (const double v : values) {
        sum += v;
    }
    return sum;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void PrintLive(const LiveFigures& figures, double runSeconds) {
    Report("one refresh (read + bin + paint), wall", figures.refreshMs);
    Report("  of which read + bin (no paint), wall", figures.binMs);
    Report("one refresh, CPU of the thread (other programs' use of the cores left out)",
           figures.refreshCpuMs);
    const double sum = Sum(figures.refreshMs);
    std::printf(
        "refreshes: %zu, paints: %ld; the refresh time summed: %.3f s, %.4f s per second of run\n",
        figures.refreshMs.size(), figures.paints, sum / 1000.0, sum / 1000.0 / runSeconds);
    std::printf("process CPU over the refreshes: %.3f s, %.4f s per second of run\n", figures.cpu,
                figures.cpu / runSeconds);
    std::printf("the stop (last rows, the whole run's reduction, paint): %.1f ms\n", figures.endMs);
}

// A 144000-sample run of four plates at 600 Hz drawn live: each refresh reads the 60 rows the
// run added in 100 ms, bins them and repaints the chart. The refresh time is what one pass may
// wait; the sum over the run's 240 s is the CPU the live view costs per second of run. Drawn
// twice in the same process, the plates alone and then with their total as a fifth series, so
// the total's cost is the ratio of the two on the same machine at the same moment. `climbing`
// feeds loads that rise all run long, as counter-mode plates give them: the load axis's worst
// case.
int LiveBench(bool climbing) {
    constexpr int kRate = 600;
    constexpr int kRefreshesPerSecond = 10;
    constexpr std::size_t kRowsPerRefresh = kRate / kRefreshesPerSecond;
    const Run run = MakeRun(kLongRun);
    std::vector<kelvaro::PlateLoads> rows(kLongRun);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (std::size_t p = 0; p < 4; ++p) {
            rows[r][p] = climbing ? static_cast<double>(r + 100 * p) : run[p][r].y;
        }
    }
    const LiveFigures plates = DrawLive(rows, kPlateCount, 0, kRowsPerRefresh);
    const LiveFigures withTotal = DrawLive(rows, kPlateCount + 1, kPlateCount + 1, kRowsPerRefresh);

    const double runSeconds = static_cast<double>(kLongRun) / kRate;
    std::printf(
        "chart_bench live: %dx%d offscreen, 4 plates x %d samples at %d Hz (%.0f s), "
        "%d refreshes a second of %zu rows each, loads %s\n",
        kWidth, kHeight, kLongRun, kRate, runSeconds, kRefreshesPerSecond, kRowsPerRefresh,
        climbing ? "climbing all run (counter mode)" : "of people jumping");
    std::printf("4 plates:\n");
    PrintLive(plates, runSeconds);
    std::printf("4 plates and their total (5 series):\n");
    PrintLive(withTotal, runSeconds);
    std::printf(
        "with the total / without: refresh median %.2f, refresh time summed %.2f, thread CPU "
        "summed %.2f, process CPU %.2f\n",
        Median(withTotal.refreshMs) / Median(plates.refreshMs),
        Sum(withTotal.refreshMs) / Sum(plates.refreshMs),
        Sum(withTotal.refreshCpuMs) / Sum(plates.refreshCpuMs), withTotal.cpu / plates.cpu);
    return 0;
}

// Mouse moves across the plot of a drawn 4 x 144000 run, one column apart: the move's handling
// (the hit test, four binary searches, the read-out's text, marking the old and new places of
// the line and box for repaint) and then the repaint of those places, against a repaint of the
// whole chart.
void CursorBench(const Run& run) {
    LoadChart chart(kPlateCount);
    chart.resize(kWidth, kHeight);
    chart.show();
    QApplication::processEvents();
    Load(chart, run, FindExtremes(run));
    QApplication::processEvents();
    QWidget* viewport = chart.View()->viewport();
    PaintCounter counter;
    viewport->installEventFilter(&counter);
    const QRectF area = chart.Chart()->plotArea();
    constexpr int kMoves = 600;
    std::vector<double> handleMs;
    std::vector<double> repaintMs;
    int shown = 0;
    for (int m = 0; m < kMoves; ++m) {
        const QPointF at(area.left() + 1.0 + (m % static_cast<int>(area.width() - 2.0)),
                         area.top() + area.height() * (0.2 + 0.6 * (m % 7) / 7.0));
        QMouseEvent move(QEvent::MouseMove, at, viewport->mapToGlobal(at), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        const auto start = Clock::now();
        QApplication::sendEvent(viewport, &move);
        const auto handled = Clock::now();
        QApplication::processEvents();
        const auto painted = Clock::now();
        handleMs.push_back(Milliseconds(handled - start));
        repaintMs.push_back(Milliseconds(painted - handled));
        shown += chart.Cursor()->Shown() ? 1 : 0;
    }
    const long cursorPaints = counter.paints;
    std::vector<double> fullMs;
    for (int r = 0; r < 50; ++r) {
        const auto start = Clock::now();
        viewport->repaint();
        fullMs.push_back(Milliseconds(Clock::now() - start));
    }
    std::printf("cursor read-out, %d mouse moves over 4 x %d points (read-out shown after %d):\n",
                kMoves, kLongRun, shown);
    Report("  one move, handled (hit test, loads, text, repaint marked)", handleMs);
    Report("  one move, the repaint that follows", repaintMs);
    std::printf("  paints: %ld for %d moves\n", cursorPaints, kMoves);
    Report("  a repaint of the whole chart, for comparison", fullMs);
}

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication app(argc, argv);
    if (argc > 1 && std::string_view(argv[1]) == "live") {
        return LiveBench(argc > 2 && std::string_view(argv[2]) == "climbing");
    }

    const Run longRun = MakeRun(kLongRun);
    const Run shortRun = MakeRun(kShortRun);
    const double longMs = LoadAndDrawMs(longRun);
    const double shortMs = LoadAndDrawMs(shortRun);

    // Same chart, same layout: the reduced picture, then every point handed to Qt directly.
    LoadChart chart(kPlateCount);
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
    CursorBench(longRun);
    return 0;
}
