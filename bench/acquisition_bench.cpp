// Acquisition benchmark: four virtual plates at 600 Hz in counter mode, started through the
// real start-up and read by the real idle pass on a Qt event loop (a zero-interval timer is
// the idle turn). Prints frames lost or repeated, the sample rate against the plates' rate,
// CPU seconds per second of run and the longest gaps between passes.
//
// Usage: acquisition_bench [samples]   (default 144000, which takes 240 s at 600 Hz)
#include <sys/resource.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdio>

#include "BenchStation.h"

namespace {

using namespace kelvaro;
using namespace kelvaro::bench;

// RUSAGE_THREAD: the station's one thread; RUSAGE_SELF adds the virtual plates' threads.
double CpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<int> samples = SamplesArgument(argc, argv);
    if (!samples) {
        return 2;
    }
    QCoreApplication app(argc, argv);
    const auto station = BenchStation::Create("kelvaro-bench", *samples);
    if (!station) {
        return 1;
    }

    Clock::time_point runStart;
    double cpuStart = 0;
    double processStart = 0;
    std::array<std::uint64_t, kPlateCount> reportsAtStart{};
    const bool started = station->RunTest([&] {
        cpuStart = CpuSeconds(RUSAGE_THREAD);
        processStart = CpuSeconds(RUSAGE_SELF);
        runStart = Clock::now();
        reportsAtStart = station->ReportsSent();
    });
    // The stop (which runs inside the last pass) closes the channels; the clock stops there.
    const Clock::time_point runEnd = station->Timing().lastPassEnd;
    const double cpuEnd = CpuSeconds(RUSAGE_THREAD);
    const double processEnd = CpuSeconds(RUSAGE_SELF);
    const std::array<std::uint64_t, kPlateCount> reportsAtEnd = station->ReportsSent();
    if (!started) {
        std::fprintf(stderr, "the start-up failed\n");
        return 1;
    }

    const StationState& state = station->State();
    const PassTiming& timing = station->Timing();
    const FrameCheck frames = CheckFrames(state);
    const double seconds = std::chrono::duration<double>(runEnd - runStart).count();
    double plateRate = 0;
    for (std::size_t p = 0; p < kPlateCount; ++p) {
        plateRate += static_cast<double>(reportsAtEnd[p] - reportsAtStart[p]) / seconds;
    }
    plateRate /= kPlateCount;

    std::printf("acquisition: %d plates at %d Hz, %d samples in %.2f s (%ld passes)\n", kPlateCount,
                kFrequency, state.NumAmostras, seconds, timing.passes);
    std::printf("frames lost: %llu, repeated or out of order: %llu (must be 0)\n",
                static_cast<unsigned long long>(frames.lost),
                static_cast<unsigned long long>(frames.repeated));
    std::printf("samples per second: %.1f against %.1f sent per plate (%.3f)\n",
                state.NumAmostras / seconds, plateRate, state.NumAmostras / seconds / plateRate);
    std::printf("CPU seconds per second of run: %.3f station thread, %.3f with the plates\n",
                (cpuEnd - cpuStart) / seconds, (processEnd - processStart) / seconds);
    std::printf("longest gap between passes: %.3f ms; longest pass: %.3f ms\n",
                Ms(timing.longestIdleGap), Ms(timing.longestPass));
    return frames.lost == 0 && frames.repeated == 0 ? 0 : 3;
}
