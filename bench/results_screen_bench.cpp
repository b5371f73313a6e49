// Results screen benchmark: the main window with a 144000-sample run of four plates at 600 Hz.
// (1) The table after the chart: from the chart drawn and painted to the results table filled
// and painted, the total line drawn too, as a run's stop does before its save question; with the
// filter off and with the 20 Hz low-pass. (2) The table following the mouse: Shift + drag over the
// chart, one mouse move at a time, each up to the chart's shade and the table painted again. Each
// figure is printed with its ratio against its floor measured in the same run: the same figures
// computed alone, without a widget (RunResults over the whole run; one stretch's figures). Usage:
// results_screen_bench   (offscreen or under Xvfb)
#include <QApplication>
#include <QChartView>
#include <QComboBox>
#include <QMouseEvent>
#include <QTableView>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <random>
#include <vector>

#include "BenchFakes.h"
#include "BenchTimes.h"
#include "app/MainWindow.h"
#include "chart/LoadChart.h"
#include "results/ResultsPanel.h"
#include "results/ResultsScreen.h"
#include "results/StretchResults.h"

namespace {

using namespace kelvaro;
using bench::Clock;
using bench::Milliseconds;
using bench::Percentile;

constexpr std::int32_t kFrequency = 600;
constexpr int kSamples = 144000;
constexpr int kRounds = 10;
constexpr int kMoves = 200;

// Four plates under one person stepping on and off, noise, a missing reading now and then.
StoredRun Run() {
    StoredRun run;
    run.heading.frequency = kFrequency;
    run.heading.units = {"kgf", "kgf", "kgf", "kgf"};
    run.active = {true, true, true, true};
    std::mt19937 random(20);
    std::normal_distribution<double> noise(0.0, 0.4);
    std::uniform_int_distribution<int> unread(0, 9999);
    run.loads.resize(kSamples);
    for (int k = 0; k < kSamples; ++k) {
        const double t = static_cast<double>(k) / kFrequency;
        for (int p = 0; p < kPlateCount; ++p) {
            const double pulse = std::max(0.0, std::sin(t * (0.7 + 0.2 * p)));
            run.loads[k][p] = unread(random) == 0 ? std::numeric_limits<double>::quiet_NaN()
                                                  : (150.0 + 20.0 * p) * pulse + noise(random);
        }
    }
    return run;
}

void SendMouse(QWidget* plot, QEvent::Type type, QPointF at, Qt::MouseButton button,
               Qt::MouseButtons buttons) {
    QMouseEvent event(type, at, plot->mapToGlobal(at), button, buttons, Qt::ShiftModifier);
    QApplication::sendEvent(plot, &event);
}

// As the operator's pick does: the panel follows the combo's activation.
void ChooseFilter(MainWindow& window, int cutoffHz) {
    QComboBox* combo = window.resultsPanel->filterCombo;
    combo->setCurrentIndex(combo->findData(cutoffHz));
    emit combo->activated(combo->currentIndex());
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / "kelvaro_results_screen_bench";
    std::filesystem::remove_all(folder);
    const StoredRun run = Run();
    volatile double sink = 0.0;
    {
        bench::BenchDialogs dialogs;
        MainWindow window(dialogs, MainWindowOptions{(folder / "Tovamu.Kelvaro.ini").string(),
                                                     QString::fromStdString(folder.string()), false,
                                                     (folder / "journal").string()});
        window.show();
        QApplication::processEvents();

        std::vector<double> floor, off, filtered;
        for (int round = 0; round < kRounds; ++round) {
            auto t0 = Clock::now();
            const RunResults alone(run.loads, run.active, run.heading.units, kFrequency);
            sink = sink + alone.Of(alone.WholeRun()).total->mean.value_or(0.0);
            floor.push_back(Milliseconds(t0));
            for (const int cutoff : {0, 20}) {
                ChooseFilter(window, 0);
                DrawRunLoads(*window.loadChart, run.loads, run.active);
                window.loadChart->grab();
                if (cutoff != 0) {
                    window.RunDrawn(run);  // the choice is taken on a run shown
                    ChooseFilter(window, cutoff);
                    DrawRunLoads(*window.loadChart, run.loads, run.active);
                    window.loadChart->grab();
                }
                t0 = Clock::now();
                window.RunDrawn(run);
                window.resultsPanel->grab();
                (cutoff == 0 ? off : filtered).push_back(Milliseconds(t0));
            }
        }
        ChooseFilter(window, 0);
        window.RunDrawn(run);
        QApplication::processEvents();

        // Shift + drag: the press at a tenth of the plot, then moves across it.
        QWidget* plot = window.loadChart->View()->viewport();
        const QRectF area = window.loadChart->Chart()->plotArea();
        const auto at = [&](double fraction) {
            return QPointF(area.left() + area.width() * fraction, area.top() + area.height() / 2);
        };
        SendMouse(plot, QEvent::MouseButtonPress, at(0.1), Qt::LeftButton, Qt::LeftButton);
        std::vector<double> moves, stretchFloor;
        const RunResults alone(run.loads, run.active, run.heading.units, kFrequency);
        for (int m = 0; m < kMoves; ++m) {
            const double fraction = 0.15 + 0.8 * m / kMoves;
            const auto t0 = Clock::now();
            SendMouse(plot, QEvent::MouseMove, at(fraction), Qt::NoButton, Qt::LeftButton);
            // Whatever the move left to paint, the shade on the chart and the table, painted
            // as the event loop paints it.
            QApplication::processEvents();
            moves.push_back(Milliseconds(t0));
            const auto t1 = Clock::now();
            const StretchResults results =
                alone.Of({kSamples / 10, static_cast<int>(fraction * kSamples)});
            sink = sink + results.total->mean.value_or(0.0);
            stretchFloor.push_back(Milliseconds(t1));
        }
        SendMouse(plot, QEvent::MouseButtonRelease, at(0.95), Qt::LeftButton, Qt::NoButton);
        const bool marked = !window.results->Shown().WholeRunShown();

        const double floorMedian = Percentile(floor, 0.5);
        std::printf("results screen: %d samples of 4 plates at %d Hz, window %dx%d, %d rounds\n",
                    kSamples, kFrequency, window.width(), window.height(), kRounds);
        std::printf("floor, the whole run's figures alone: median %.2f ms\n", floorMedian);
        for (const auto& [name, times] :
             {std::pair{"table after the chart, no filter", off},
              std::pair{"table after the chart, 20 Hz low-pass", filtered}}) {
            std::printf("%s: median %.2f ms (%.1f x the floor), p99 %.2f ms, max %.2f ms\n", name,
                        Percentile(times, 0.5), Percentile(times, 0.5) / floorMedian,
                        Percentile(times, 0.99), Percentile(times, 1.0));
        }
        const double moveMedian = Percentile(moves, 0.5);
        std::printf(
            "Shift + drag, %d moves (stretch %s): median %.2f ms, p99 %.2f ms, max %.2f ms: "
            "%.0f updates/s at the median, %.0f at p99; floor, one stretch's figures alone: "
            "median %.3f ms (%.1f x)\n",
            kMoves, marked ? "marked" : "NOT MARKED", moveMedian, Percentile(moves, 0.99),
            Percentile(moves, 1.0), 1000.0 / moveMedian, 1000.0 / Percentile(moves, 0.99),
            Percentile(stretchFloor, 0.5), moveMedian / Percentile(stretchFloor, 0.5));
        if (!marked) {
            return 1;
        }
    }
    std::filesystem::remove_all(folder);
    return sink == -1.0 ? 2 : 0;
}
