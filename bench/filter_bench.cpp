// Low-pass benchmark: a 144000-sample run of four plates at 600 Hz, with a few missing readings,
// filtered forward and backward at 20 Hz, against a floor measured in the same run: one plain
// pass copying the same loads through a first-order recursion. Median and p99 of each, and the
// ratio, in wall-clock and CPU time; the station needs the filtered run in under 50 ms.
//
// Usage: filter_bench [repetitions]   (default 20; the two kinds take turns in every repetition)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <numbers>
#include <vector>

#include "results/LowPassFilter.h"

namespace {

using namespace kelvaro;
using Clock = std::chrono::steady_clock;

constexpr int kFrequencyHz = 600;
constexpr int kCutoffHz = 20;

// Four plates under a slow swing with a little vibration on top, and gaps of missing readings
// of different lengths: single readings, a few of 5 (left unfiltered between them) and one
// plate silent for a second.
std::vector<LoadRecord> MakeRun() {
    std::vector<LoadRecord> loads(kMaxSamples);
    for (std::size_t k = 0; k < loads.size(); ++k) {
        const double t = static_cast<double>(k) / kFrequencyHz;
        for (int p = 0; p < kPlateCount; ++p) {
            loads[k][p] = 250.0 * (p + 1) * std::sin(2 * std::numbers::pi * 0.5 * t + p) +
                          3.0 * std::sin(2 * std::numbers::pi * 85.0 * t);
        }
    }
    for (std::size_t k = 1000; k < loads.size(); k += 9973) {
        loads[k][k % kPlateCount] = NAN;
    }
    for (std::size_t k = 50000; k < 50040; k += 8) {
        loads[k][1] = NAN;
    }
    for (std::size_t k = 90000; k < 90000 + kFrequencyHz; ++k) {
        loads[k][3] = NAN;
    }
    return loads;
}

// The floor: the same loads read once and written once into a new run, through a first-order
// recursion that only steps over a missing reading: no reflection, no second pass, no stretches.
std::vector<LoadRecord> FirstOrderPass(const std::vector<LoadRecord>& loads, double alpha) {
    std::vector<LoadRecord> out(loads.size());
    LoadRecord state{};
    for (std::size_t k = 0; k < loads.size(); ++k) {
        for (std::size_t p = 0; p < kPlateCount; ++p) {
            const double x = loads[k][p];
            state[p] = std::isnan(x) ? state[p] : state[p] + alpha * (x - state[p]);
            out[k][p] = std::isnan(x) ? x : state[p];
        }
    }
    return out;
}

// CPU milliseconds of this thread: on a busy machine the wall clock also counts other
// programs' turns, the CPU time does not.
double CpuMilliseconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Wall and CPU milliseconds of every repetition of one kind of pass.
struct Times {
    std::vector<double> wall;
    std::vector<double> cpu;

    template <class Pass>
    auto Take(Pass pass) {
        const double cpu0 = CpuMilliseconds();
        const Clock::time_point t0 = Clock::now();
        auto result = pass();
        wall.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        cpu.push_back(CpuMilliseconds() - cpu0);
        return result;
    }
};

// The nearest-rank percentile: of 20 repetitions, p99 is the slowest.
double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    const auto rank =
        static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(v.size())));
    return v[std::clamp<std::size_t>(rank, 1, v.size()) - 1];
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::atoi(argv[1]) : 20;
    if (repetitions < 1) {
        std::fprintf(stderr, "usage: filter_bench [repetitions >= 1]\n");
        return 2;
    }
    const LowPassResult design = DesignLowPass(kCutoffHz, kFrequencyHz);
    if (!design) {
        std::fprintf(stderr, "filter_bench: %d Hz refused at %d Hz\n", kCutoffHz, kFrequencyHz);
        return 1;
    }
    const std::vector<LoadRecord> loads = MakeRun();
    const ActivePlates active{true, true, true, true};
    const double alpha = 1.0 - std::exp(-2 * std::numbers::pi * kCutoffHz / kFrequencyHz);

    Times filter;
    Times floor;
    // A sample of every result goes into a checksum that is printed, so no pass can be left out.
    double checksum = 0.0;
    for (int r = 0; r < repetitions; ++r) {
        checksum += filter.Take(
            [&] { return FilterLoads(loads, active, design.value); })[kMaxSamples / 2][0];
        checksum += floor.Take([&] { return FirstOrderPass(loads, alpha); })[kMaxSamples / 2][0];
    }

    std::printf("Low-pass %d Hz at %d Hz, %d samples x %d plates, %d repetitions\n", kCutoffHz,
                kFrequencyHz, kMaxSamples, kPlateCount, repetitions);
    for (const auto& [name, times] : {std::pair{"forward-backward filter", &filter},
                                      {"floor (one first-order pass)", &floor}}) {
        std::printf("  %-30s wall median %6.2f ms, p99 %6.2f ms; CPU median %6.2f ms\n", name,
                    Median(times->wall), Percentile(times->wall, 99), Median(times->cpu));
    }
    std::printf("  ratio filter / floor: wall median %.1fx, p99 %.1fx; CPU median %.1fx\n",
                Median(filter.wall) / Median(floor.wall),
                Percentile(filter.wall, 99) / Percentile(floor.wall, 99),
                Median(filter.cpu) / Median(floor.cpu));
    std::printf("  target under 50 ms: %s at p99 (checksum %.6g)\n",
                Percentile(filter.wall, 99) < 50.0 ? "met" : "NOT met", checksum);
    return 0;
}
