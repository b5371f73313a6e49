// Results benchmark: the figures of a 144000-sample run of four plates at 600 Hz (each plate's
// and the total's, the total summed first) as the table needs them once a run is drawn, and one
// stretch of it as the table follows the mouse. Every time is printed with its ratio against the
// floor measured in the same run: one plain loop summing the same loads, the least work that
// reads every value once.
// Usage: results_bench [samples]   (default 144000)
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "BenchTimes.h"
#include "results/StretchResults.h"

namespace {

using namespace kelvaro;
using bench::Clock;
using bench::Milliseconds;
using bench::Percentile;

constexpr std::int32_t kFrequency = 600;
constexpr int kRunRepeats = 30;
constexpr int kStretches = 200;

volatile double sink = 0.0;  // keeps every measured result alive

// Four plates under one person stepping on and off: load pulses of differing height and length,
// noise, and a missing reading now and then.
std::vector<LoadRecord> Run(int samples) {
    std::mt19937 random(20);
    std::normal_distribution<double> noise(0.0, 0.4);
    std::uniform_int_distribution<int> unread(0, 9999);
    std::vector<LoadRecord> loads(static_cast<std::size_t>(samples));
    for (int k = 0; k < samples; ++k) {
        const double t = static_cast<double>(k) / kFrequency;
        for (int p = 0; p < kPlateCount; ++p) {
            const double pulse = std::max(0.0, std::sin(t * (0.7 + 0.2 * p)));
            loads[k][p] = unread(random) == 0 ? std::numeric_limits<double>::quiet_NaN()
                                              : (150.0 + 20.0 * p) * pulse + noise(random);
        }
    }
    return loads;
}

double Floor(const std::vector<LoadRecord>& loads) {
    const auto start = Clock::now();
    double sum = 0.0;
    for (const LoadRecord& record : loads) {
        for (double load : record) {
            sum += load;
        }
    }
    sink = sum;
    return Milliseconds(start);
}

void Print(const char* what, const std::vector<double>& times, double floor) {
    const double median = Percentile(times, 0.5);
    const double p99 = Percentile(times, 0.99);
    std::printf("%-44s median %7.3f ms (%5.1f x floor)   p99 %7.3f ms (%5.1f x floor)\n", what,
                median, median / floor, p99, p99 / floor);
}

}  // namespace

int main(int argc, char** argv) {
    const int samples = argc > 1 ? std::atoi(argv[1]) : kMaxSamples;
    if (samples < 2) {
        std::fprintf(stderr, "usage: results_bench [samples]   (at least 2)\n");
        return 2;
    }
    const std::vector<LoadRecord> loads = Run(samples);
    const ActivePlates active{true, true, true, true};
    const std::array<std::string, kPlateCount> units{"kgf", "kgf", "kgf", "kgf"};

    // Whole-run results and the floor take turns, so a busy machine weighs on both alike.
    std::vector<double> floors;
    std::vector<double> wholeRuns;
    std::vector<double> wholeStretches;
    for (int i = 0; i < kRunRepeats; ++i) {
        floors.push_back(Floor(loads));
        auto start = Clock::now();
        const RunResults run(loads, active, units, kFrequency);
        const StretchResults results = run.Of(run.WholeRun());
        wholeRuns.push_back(Milliseconds(start));
        sink = *results.total->peak;
        start = Clock::now();
        sink = *run.Of(run.WholeRun()).plates[0].figures.mean;
        wholeStretches.push_back(Milliseconds(start));
    }

    const RunResults run(loads, active, units, kFrequency);
    std::mt19937 random(30);
    std::uniform_int_distribution<int> end(0, samples - 1);
    std::vector<double> updates;
    double length = 0.0;
    for (int i = 0; i < kStretches; ++i) {
        const SampleStretch stretch{end(random), end(random)};
        const auto start = Clock::now();
        const StretchResults results = run.Of(stretch);
        updates.push_back(Milliseconds(start));
        sink = results.plates[3].figures.samples;
        length += results.stretch.last - results.stretch.first + 1;
        if (i % 10 == 0) {
            floors.push_back(Floor(loads));
        }
    }

    const double floor = Percentile(floors, 0.5);
    std::printf("results_bench: %d samples x %d plates at %d Hz, %zu floors, median %.3f ms\n",
                samples, kPlateCount, kFrequency, floors.size(), floor);
    Print("whole run: total summed, 4 plates + total", wholeRuns, floor);
    Print("stretch update, whole run", wholeStretches, floor);
    char random200[64];
    std::snprintf(random200, sizeof random200, "stretch update, %d random (mean %.0f samples)",
                  kStretches, length / kStretches);
    Print(random200, updates, floor);
    return 0;
}
