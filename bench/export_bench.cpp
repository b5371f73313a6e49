// Export benchmark: a 144000-sample test written by the export (Windows-1252 heading, numbers
// formatted per row, temporary file, sync, rename) against writing the same bytes raw. The
// progress window is a counter here; the real one throttles its own repaints.
//
// Usage: export_bench [rounds]   (default 5; the best round of each kind is compared)
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "test/TestExport.h"

namespace {

using namespace kelvaro;
using Clock = std::chrono::steady_clock;

class CountingProgress : public ProgressView {
  public:
    long calls = 0;
    void SetMaximum(int) override { ++calls; }
    void SetPosition(int p) override {
        position_ = p;
        ++calls;
    }
    int Position() const override { return position_; }
    void Show() override { ++calls; }
    void Close() override { ++calls; }

  private:
    int position_ = 0;
};

// The same bytes in one write; `sync` adds the fsync the export does before its rename.
bool WriteRaw(const std::string& path, const std::string& bytes, bool sync) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            ::close(fd);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    const bool synced = !sync || ::fsync(fd) == 0;
    return ::close(fd) == 0 && synced;
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// CPU seconds of this process (user and system): on a busy machine the wall clock also counts
// other programs' turns, the CPU time does not.
double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Best wall and CPU time of a kind of write.
struct Best {
    double wall = 1e9;
    double cpu = 1e9;
    void Take(Clock::time_point t0, double cpu0) {
        wall = std::min(wall, Seconds(Clock::now() - t0));
        cpu = std::min(cpu, CpuSeconds() - cpu0);
    }
};

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    StationState state;
    std::mt19937 random(42);
    std::uniform_real_distribution<double> load(-50.0, 1500.0);
    for (auto& record : *state.Amostras) {
        for (auto& v : record) {
            v = load(random);
        }
    }
    state.NumAmostras = kMaxSamples;
    TestFileHeading heading;
    heading.testNumber = 7;
    heading.frequency = 600;
    heading.ports = {"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB2", "/dev/ttyUSB3"};
    heading.units = {"kgf", "kgf", "N", "un."};

    const std::filesystem::path folder = std::filesystem::temp_directory_path();
    const std::string exportPath = (folder / "kelvaro_export_bench.csv").string();
    const std::string rawPath = (folder / "kelvaro_export_bench_raw.csv").string();
    const std::span<const SampleRecord> samples(state.Amostras->data(), kMaxSamples);

    Best exportBest;
    Best rawSyncBest;
    Best rawBest;
    long progressCalls = 0;
    std::string bytes;
    for (int round = 0; round < rounds; ++round) {
        CountingProgress progress;
        std::string error;
        auto t0 = Clock::now();
        double cpu0 = CpuSeconds();
        if (!WriteTestFile(exportPath, heading, samples, ',', progress, &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        exportBest.Take(t0, cpu0);
        progressCalls = progress.calls;
        if (bytes.empty()) {
            std::ifstream in(exportPath, std::ios::binary);
            bytes.assign(std::istreambuf_iterator<char>(in), {});
        }
        t0 = Clock::now();
        cpu0 = CpuSeconds();
        if (!WriteRaw(rawPath, bytes, true)) {
            std::perror("raw write");
            return 1;
        }
        rawSyncBest.Take(t0, cpu0);
        t0 = Clock::now();
        cpu0 = CpuSeconds();
        WriteRaw(rawPath, bytes, false);
        rawBest.Take(t0, cpu0);
    }
    std::remove(exportPath.c_str());
    std::remove(rawPath.c_str());

    std::printf("export: %d samples, %zu bytes, best of %d rounds\n", kMaxSamples, bytes.size(),
                rounds);
    std::printf("wall: export %.1f ms; raw write+fsync %.1f ms; raw write %.1f ms\n",
                exportBest.wall * 1e3, rawSyncBest.wall * 1e3, rawBest.wall * 1e3);
    std::printf("cpu:  export %.1f ms; raw write+fsync %.1f ms; raw write %.1f ms\n",
                exportBest.cpu * 1e3, rawSyncBest.cpu * 1e3, rawBest.cpu * 1e3);
    std::printf("ratio export / raw write+fsync: wall %.2f, cpu %.2f (target under 2)\n",
                exportBest.wall / rawSyncBest.wall, exportBest.cpu / rawSyncBest.cpu);
    std::printf("ratio export / raw write alone: wall %.2f, cpu %.2f\n",
                exportBest.wall / rawBest.wall, exportBest.cpu / rawBest.cpu);
    std::printf("progress calls: %ld (%d rows)\n", progressCalls, kMaxSamples);
    return 0;
}
