// Soak benchmark: three full tests back to back in one process, each through the real start-up
// and the real idle pass on a Qt event loop, over four virtual plates at 600 Hz in counter mode.
// Per run it prints the frames lost or repeated (must be 0) and the resident memory and open
// file descriptors before and after, so a leak shows as a figure that climbs run after run.
//
// Usage: soak_bench [samples]   (default 144000 per run, which takes 240 s at 600 Hz)
#include <dirent.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "BenchStation.h"

namespace {

using namespace kelvaro;
using namespace kelvaro::bench;

// VmRSS of /proc/self/status in KiB (-1 when it cannot be read).
long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

// Entries of /proc/self/fd, less the one the listing itself holds open.
int OpenDescriptors() {
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) {
        return -1;
    }
    int count = 0;
    while (const dirent* entry = readdir(dir)) {
        count += entry->d_name[0] != '.';
    }
    closedir(dir);
    return count - 1;
}

struct Figures {
    long rssBefore, rssAfter;
    int fdsBefore, fdsAfter;
    int samples;
    FrameCheck frames;
    double seconds;
};

}  // namespace

int main(int argc, char** argv) {
    const std::optional<int> samples = SamplesArgument(argc, argv);
    if (!samples) {
        return 2;
    }
    QCoreApplication app(argc, argv);
    constexpr int kRuns = 3;
    // One state and one test run for all three, as the main window keeps them.
    const auto station = BenchStation::Create("kelvaro-soak", *samples);
    if (!station) {
        return 1;
    }

    std::printf("soak: %d runs of %d samples, %d plates at %d Hz in counter mode\n", kRuns,
                *samples, kPlateCount, kFrequency);
    std::array<Figures, kRuns> figures{};
    bool clean = true;
    for (int r = 0; r < kRuns; ++r) {
        Figures& f = figures[static_cast<std::size_t>(r)];
        f.rssBefore = ResidentKiB();
        f.fdsBefore = OpenDescriptors();
        const auto start = Clock::now();
        if (!station->RunTest()) {
            std::fprintf(stderr, "run %d: the start-up failed\n", r + 1);
            return 1;
        }
        f.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        f.samples = station->Samples().Count();
        f.frames = CheckFrames(station->Samples());
        f.rssAfter = ResidentKiB();
        f.fdsAfter = OpenDescriptors();
        clean = clean && f.frames.lost == 0 && f.frames.repeated == 0 && f.samples == *samples;
        std::printf(
            "run %d: %d samples in %.2f s; frames lost %llu, repeated %llu (must be 0); "
            "VmRSS %ld -> %ld KiB; open fds %d -> %d\n",
            r + 1, f.samples, f.seconds, static_cast<unsigned long long>(f.frames.lost),
            static_cast<unsigned long long>(f.frames.repeated), f.rssBefore, f.rssAfter,
            f.fdsBefore, f.fdsAfter);
    }
    std::printf("across the runs: VmRSS %+ld KiB, open fds %+d (after run 1 to after run %d)\n",
                figures.back().rssAfter - figures.front().rssAfter,
                figures.back().fdsAfter - figures.front().fdsAfter, kRuns);
    return clean ? 0 : 3;
}
