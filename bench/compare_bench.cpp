// Tests side by side: eight tests of 144000 samples on four plates (half at 600 Hz, half at
// 300 Hz) in the comparison window, 1200 x 780 offscreen. The lines made of the tests, the window
// made and painted the first time, a change of series or alignment painted, a zoom step and a
// mouse move with the read-out; against one chart of the same eight lines loaded and painted.
// Usage: compare_bench   (QT_QPA_PLATFORM=offscreen or under Xvfb)
#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QMouseEvent>
#include <QPixmap>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "BenchTimes.h"
#include "chart/LoadChart.h"
#include "compare/CompareWindow.h"
#include "compare/Comparison.h"

namespace {

using namespace kelvaro;
using bench::Clock;
using bench::Milliseconds;
using bench::Percentile;

constexpr int kTests = 8;
constexpr int kRepeats = 5;

// Someone jumping every few seconds on four plates, with noise and the odd missing reading.
StoredRunData Test(int index) {
    StoredRunData test;
    test.heading.frequency = index % 2 == 0 ? 600 : 300;
    test.heading.testNumber = index + 1;
    test.heading.units = {"kgf", "kgf", "kgf", "kgf"};
    test.active = {true, true, true, true};
    test.metadata.evaluated = "Avaliado " + std::to_string(index + 1);
    test.hasReadings = true;
    std::mt19937 random(static_cast<unsigned>(index));
    std::normal_distribution<double> noise(0.0, 0.4);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    test.loads.resize(kMaxSamples);
    for (int k = 0; k < kMaxSamples; ++k) {
        const double t = static_cast<double>(k) / test.heading.frequency;
        const double jump = std::max(0.0, std::sin(t * 2.1 + index)) * (60.0 + 5.0 * index);
        for (int p = 0; p < kPlateCount; ++p) {
            test.loads[static_cast<std::size_t>(k)][static_cast<std::size_t>(p)] =
                unit(random) < 0.0005 ? std::nan("") : 15.0 + jump / 4.0 + noise(random);
        }
    }
    return test;
}

void Paint(QWidget& widget) {
    QApplication::processEvents();
    const QPixmap picture = widget.grab();
    if (picture.isNull()) {
        std::fprintf(stderr, "compare_bench: nothing painted\n");
    }
}

void Print(const char* what, const std::vector<double>& times) {
    std::printf("%-44s median %8.2f ms  max %8.2f ms  (%zu)\n", what, Percentile(times, 0.5),
                Percentile(times, 1.0), times.size());
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    std::vector<StoredRunData> tests;
    for (int i = 0; i < kTests; ++i) {
        tests.push_back(Test(i));
    }

    std::vector<double> lines;
    for (int r = 0; r < kRepeats; ++r) {
        const Clock::time_point start = Clock::now();
        const std::vector<ComparedLine> made =
            CompareLines(tests, kComparedTotal, CompareAlignment::Peak);
        lines.push_back(Milliseconds(start));
    }
    Print("lines of 8 x 144000 (total, at the peak)", lines);

    std::vector<double> floor;
    for (int r = 0; r < kRepeats; ++r) {
        std::vector<ComparedLine> made = CompareLines(tests, 1, CompareAlignment::FirstSample);
        const Clock::time_point start = Clock::now();
        LoadChart chart(kTests);
        chart.SetTimeAxis(QStringLiteral("Tempo (s)"));
        chart.resize(900, 560);
        for (int i = 0; i < kTests; ++i) {
            chart.SetSeriesPoints(i + 1, std::move(made[static_cast<std::size_t>(i)].points));
        }
        chart.show();
        Paint(chart);
        floor.push_back(Milliseconds(start));
    }
    Print("floor: a chart of the 8 lines, first paint", floor);

    std::vector<double> opened;
    for (int r = 0; r < kRepeats; ++r) {
        std::vector<StoredRunData> copy = tests;  // the library's answer, moved in
        const Clock::time_point start = Clock::now();
        CompareWindow window(std::move(copy), ',');
        window.resize(1200, 780);
        window.show();
        Paint(window);
        opened.push_back(Milliseconds(start));
    }
    Print("window made and painted (lines included)", opened);

    CompareWindow window(tests, ',');
    window.resize(1200, 780);
    window.show();
    Paint(window);
    std::vector<double> switched;
    for (int r = 0; r < 2 * kRepeats; ++r) {
        const Clock::time_point start = Clock::now();
        if (r % 2 == 0) {
            window.alignmentCombo->setCurrentIndex(1 - window.alignmentCombo->currentIndex());
        } else {
            window.seriesCombo->setCurrentIndex((window.seriesCombo->currentIndex() + 1) % 5);
        }
        Paint(window);
        switched.push_back(Milliseconds(start));
    }
    Print("series or alignment changed, painted", switched);

    LoadChart& chart = *window.chart;
    const QRectF area = chart.Chart()->plotArea();
    std::vector<double> zooms;
    for (int r = 0; r < 20; ++r) {
        const Clock::time_point start = Clock::now();
        chart.ZoomAt(area.center(), r < 10 ? 1.6 : 1.0 / 1.6, Qt::Horizontal);
        Paint(*chart.View()->viewport());
        zooms.push_back(Milliseconds(start));
    }
    Print("zoom step, painted", zooms);

    std::vector<double> moves;
    QWidget* viewport = chart.View()->viewport();
    for (int r = 0; r < 200; ++r) {
        const QPointF at(area.left() + area.width() * (0.05 + 0.9 * r / 200.0), area.center().y());
        const Clock::time_point start = Clock::now();
        QMouseEvent move(QEvent::MouseMove, at, viewport->mapToGlobal(at), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &move);
        Paint(*viewport);
        moves.push_back(Milliseconds(start));
    }
    Print("mouse move with the read-out, painted", moves);
    return 0;
}
