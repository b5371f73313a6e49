// Export benchmark: a 144000-sample test written by the export (Windows-1252 heading, numbers
// formatted per row, temporary file, sync, rename) against writing the same bytes raw through
// the same kind of temporary file (created beside the target, written, synced, closed and
// renamed over it). The progress window is a counter here; the real one throttles its own
// repaints.
//
// Usage: export_bench [rounds]   (default 5; the kinds of write take turns in every round, each
// after the file system has written back the earlier ones, and the median and the best round of
// each kind are compared)
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
#include <vector>

#include "archive/TestFileWriter.h"
#include "device/SerialChannel.h"
#include "station/FileErrorText.h"

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

// The same bytes in one write to a temporary file beside `path` that is then renamed over it, as
// the export does; `sync` adds the fsync the export does before its rename.
bool WriteRaw(const std::string& path, const std::string& bytes, bool sync) {
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        return false;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            ::close(fd);
            ::unlink(temporary.c_str());
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    const bool synced = !sync || ::fsync(fd) == 0;
    if (::close(fd) != 0 || !synced || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

// Writes back what earlier writes left dirty on the folder's file system, outside the timing:
// otherwise a synced write right after the unsynced one would also pay for that one's data (on
// ext4 the journal commit of an fsync waits for the data of every file written before it).
void Settle(const std::filesystem::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::syncfs(fd);
        ::close(fd);
    }
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

// Wall and CPU times of every round of a kind of write.
struct Times {
    std::vector<double> wall;
    std::vector<double> cpu;
    void Take(Clock::time_point t0, double cpu0) {
        wall.push_back(Seconds(Clock::now() - t0));
        cpu.push_back(CpuSeconds() - cpu0);
    }
};

double Median(const std::vector<double>& times) {
    std::vector<double> v = times;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double Least(const std::vector<double>& v) {
    return *std::min_element(v.begin(), v.end());
}

void PrintFigures(const char* what, double (*pick)(const std::vector<double>&),
                  const Times& exported, const Times& rawSync, const Times& raw) {
    const double ew = pick(exported.wall), ec = pick(exported.cpu);
    const double sw = pick(rawSync.wall), sc = pick(rawSync.cpu);
    const double rw = pick(raw.wall), rc = pick(raw.cpu);
    std::printf("%s\n", what);
    std::printf("  wall: export %.1f ms; raw write+fsync %.1f ms; raw write %.1f ms\n", ew * 1e3,
                sw * 1e3, rw * 1e3);
    std::printf("  cpu:  export %.1f ms; raw write+fsync %.1f ms; raw write %.1f ms\n", ec * 1e3,
                sc * 1e3, rc * 1e3);
    std::printf("  ratio export / raw write+fsync: wall %.2f, cpu %.2f (target under 2)\n", ew / sw,
                ec / sc);
    std::printf("  ratio export / raw write alone: wall %.2f, cpu %.2f\n", ew / rw, ec / rc);
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::vector<LoadRecord> loads(kMaxSamples);
    std::mt19937 random(42);
    std::uniform_real_distribution<double> load(-50.0, 1500.0);
    for (auto& record : loads) {
        for (auto& v : record) {
            v = load(random);
        }
    }
    TestFileHeading heading;
    heading.testNumber = 7;
    heading.frequency = 600;
    heading.ports = {"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB2", "/dev/ttyUSB3"};
    heading.units = {"kgf", "kgf", "N", "un."};

    const std::filesystem::path folder = std::filesystem::temp_directory_path();
    const std::string exportPath = (folder / "kelvaro_export_bench.csv").string();
    const std::string rawPath = (folder / "kelvaro_export_bench_raw.csv").string();
    const std::span<const LoadRecord> samples(loads);

    Times exportTimes;
    Times rawSyncTimes;
    Times rawTimes;
    long progressCalls = 0;
    std::string bytes;
    for (int round = 0; round < rounds; ++round) {
        CountingProgress progress;
        Settle(folder);
        auto t0 = Clock::now();
        double cpu0 = CpuSeconds();
        if (const FileStatus written = WriteTestFile(exportPath, heading, samples, ',', progress);
            !written) {
            std::fprintf(stderr, "%s\n", FileErrorText(*written.error).c_str());
            return 1;
        }
        exportTimes.Take(t0, cpu0);
        progressCalls = progress.calls;
        if (bytes.empty()) {
            std::ifstream in(exportPath, std::ios::binary);
            bytes.assign(std::istreambuf_iterator<char>(in), {});
        }
        Settle(folder);
        t0 = Clock::now();
        cpu0 = CpuSeconds();
        if (!WriteRaw(rawPath, bytes, true)) {
            std::perror("raw write");
            return 1;
        }
        rawSyncTimes.Take(t0, cpu0);
        Settle(folder);
        t0 = Clock::now();
        cpu0 = CpuSeconds();
        if (!WriteRaw(rawPath, bytes, false)) {
            std::perror("raw write");
            return 1;
        }
        rawTimes.Take(t0, cpu0);
    }
    std::remove(exportPath.c_str());
    std::remove(rawPath.c_str());

    std::printf("export: %d samples, %zu bytes, %d rounds\n", kMaxSamples, bytes.size(), rounds);
    PrintFigures("median of the rounds:", Median, exportTimes, rawSyncTimes, rawTimes);
    PrintFigures("best round:", Least, exportTimes, rawSyncTimes, rawTimes);
    std::printf("progress calls: %ld (%d rows)\n", progressCalls, kMaxSamples);
    return 0;
}
