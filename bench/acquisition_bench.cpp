// Acquisition benchmark: four virtual plates at 600 Hz in counter mode, started through the
// real start-up and read by the real idle pass on a Qt event loop (a zero-interval timer is
// the idle turn). Prints frames lost or repeated, the sample rate against the plates' rate,
// CPU seconds per second of run and the longest gaps between passes. A second run silences
// plate 2 a second in: frames the other plates lost up to the stop, frames they sent that were
// never read, and the time from the silence to the stop (capped at 10 s by a held Escape).
//
// Usage: acquisition_bench [samples]   (default 144000, which takes 240 s at 600 Hz)
#include <sys/resource.h>

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <cstdio>

#include "BenchStation.h"
#include "device/PlateCommands.h"
#include "plate-sim/VirtualPlate.h"

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

// CPU use over one run of the station.
struct CpuClock {
    double thread = 0;
    double process = 0;
    Clock::time_point start;
    void Start() {
        thread = CpuSeconds(RUSAGE_THREAD);
        process = CpuSeconds(RUSAGE_SELF);
        start = Clock::now();
    }
    void Print(Clock::time_point end) const {
        const double seconds = std::chrono::duration<double>(end - start).count();
        std::printf("CPU seconds per second of run: %.3f station thread, %.3f with the plates\n",
                    (CpuSeconds(RUSAGE_THREAD) - thread) / seconds,
                    (CpuSeconds(RUSAGE_SELF) - process) / seconds);
    }
};

constexpr int kSilenced = 2;
constexpr auto kSilenceAfter = std::chrono::seconds(1);
constexpr auto kStopCap = std::chrono::seconds(10);

// Plate 2 goes silent a second into the run; the run should stop by itself soon after.
int SilencedRun(BenchStation& station, int samples) {
    if (samples < 2 * kFrequency) {
        std::printf("silenced plate: skipped, the run is shorter than 2 s\n");
        return 0;
    }
    CpuClock cpu;
    Clock::time_point silencedAt;
    int silencedRecord = 0;
    const bool started = station.RunTest([&] {
        cpu.Start();
        QTimer::singleShot(kSilenceAfter, [&] {
            station.Plate(kSilenced).Inject({sim::FaultKind::Silence, 0});
            silencedAt = Clock::now();
            silencedRecord = station.Samples().Count();
            station.HoldEscapeFrom(silencedAt + kStopCap);
        });
    });
    const Clock::time_point stoppedAt = station.Timing().lastPassEnd;
    if (!started) {
        std::fprintf(stderr, "the start-up failed\n");
        return 1;
    }
    cpu.Print(stoppedAt);
    const SampleStore& store = station.Samples();
    std::array<bool, kPlateCount> healthy{true, true, true, true};
    healthy[kSilenced - 1] = false;
    const FrameCheck frames = CheckFrames(store, healthy);
    const FrameCheck before = CheckFrames(store, {false, true, false, false}, silencedRecord);
    // Sent by the healthy plates and never read when the run stopped (the Stop is awaited).
    std::uint64_t unread = 0;
    for (int p = 1; p <= kPlateCount; ++p) {
        if (healthy[static_cast<std::size_t>(p - 1)]) {
            station.Plate(p).WaitForRequests(kFnStop, 1, 1000);
            const double last = store.Raw().back()[static_cast<std::size_t>(p - 1)];
            unread +=
                station.Plate(p).Stats().readingsProduced - 1 - static_cast<std::uint64_t>(last);
        }
    }
    const double toStop = Ms(stoppedAt - silencedAt);
    std::printf("plate %d silenced at sample %d: %s %.1f ms after the silence, at sample %d\n",
                kSilenced, silencedRecord,
                stoppedAt - silencedAt < kStopCap ? "the run stopped by itself"
                                                  : "NOT stopped by itself; Escape held",
                toStop, store.Count());
    std::printf(
        "healthy plates: frames lost %llu, repeated %llu (must be 0); sent but unread at "
        "the stop: %llu\n",
        static_cast<unsigned long long>(frames.lost),
        static_cast<unsigned long long>(frames.repeated), static_cast<unsigned long long>(unread));
    std::printf("silenced plate before the silence: frames lost %llu, repeated %llu\n",
                static_cast<unsigned long long>(before.lost),
                static_cast<unsigned long long>(before.repeated));
    return frames.lost == 0 && frames.repeated == 0 ? 0 : 3;
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

    CpuClock cpu;
    std::array<std::uint64_t, kPlateCount> reportsAtStart{};
    const bool started = station->RunTest([&] {
        cpu.Start();
        reportsAtStart = station->ReportsSent();
    });
    // The stop (which runs inside the last pass) closes the channels; the clock stops there.
    const Clock::time_point runEnd = station->Timing().lastPassEnd;
    const std::array<std::uint64_t, kPlateCount> reportsAtEnd = station->ReportsSent();
    if (!started) {
        std::fprintf(stderr, "the start-up failed\n");
        return 1;
    }

    const SampleStore& store = station->Samples();
    const PassTiming& timing = station->Timing();
    const FrameCheck frames = CheckFrames(store);
    const double seconds = std::chrono::duration<double>(runEnd - cpu.start).count();
    double plateRate = 0;
    for (std::size_t p = 0; p < kPlateCount; ++p) {
        plateRate += static_cast<double>(reportsAtEnd[p] - reportsAtStart[p]) / seconds;
    }
    plateRate /= kPlateCount;

    std::printf("acquisition: %d plates at %d Hz, %d samples in %.2f s (%ld passes)\n", kPlateCount,
                kFrequency, store.Count(), seconds, timing.passes);
    std::printf("frames lost: %llu, repeated or out of order: %llu (must be 0)\n",
                static_cast<unsigned long long>(frames.lost),
                static_cast<unsigned long long>(frames.repeated));
    std::printf("samples per second: %.1f against %.1f sent per plate (%.3f)\n",
                store.Count() / seconds, plateRate, store.Count() / seconds / plateRate);
    cpu.Print(runEnd);
    std::printf("longest gap between passes: %.3f ms; longest pass: %.3f ms\n",
                Ms(timing.longestIdleGap), Ms(timing.longestPass));
    const int clean = frames.lost == 0 && frames.repeated == 0 ? 0 : 3;
    const int silenced = SilencedRun(*station, *samples);
    return clean != 0 ? clean : silenced;
}
