// Review benchmark: reading a saved 144000-sample test file back (the file read whole, every
// heading line and row checked, the loads converted), and the parsing alone on bytes already in
// memory. The file is in the page cache after the first round; what a cold disk adds is the
// disk's own reading of about 8 MB.
//
// Usage: review_bench [file]   (default: a test file of 144000 random loads written by the
// export into the temporary folder and removed afterwards; 5 rounds, median and best)
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "review/TestFileReader.h"
#include "run/TestExport.h"

namespace {

using namespace kelvaro;
using Clock = std::chrono::steady_clock;

class NoProgress : public ProgressView {
  public:
    void SetMaximum(int /*maximum*/) override {}
    void SetPosition(int /*position*/) override {}
    int Position() const override { return 0; }
    void Show() override {}
    void Close() override {}
};

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Times {
    std::vector<double> wall;
    std::vector<double> cpu;
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double Least(const std::vector<double>& v) {
    return *std::min_element(v.begin(), v.end());
}

void Print(const char* what, const Times& t, double megabytes) {
    std::printf("%s: median %.1f ms wall, %.1f ms cpu (%.0f MB/s); best %.1f ms wall\n", what,
                Median(t.wall) * 1e3, Median(t.cpu) * 1e3, megabytes / Median(t.wall),
                Least(t.wall) * 1e3);
}

// The export's own file of `count` random loads, about one in a thousand not a number.
bool WriteSample(const std::string& path, std::size_t count) {
    std::mt19937 random(42);
    std::uniform_real_distribution<double> load(-50.0, 1500.0);
    std::vector<SampleRecord> loads(count);
    for (auto& sample : loads) {
        for (double& v : sample) {
            v = random() % 1000 == 0 ? std::numeric_limits<double>::quiet_NaN() : load(random);
        }
    }
    const TestFileHeading heading{7,
                                  600,
                                  {"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB2", "/dev/ttyUSB3"},
                                  {"kgf", "kgf", "N", "un."}};
    NoProgress progress;
    std::string error;
    if (!WriteTestFile(path, heading, loads, ',', progress, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    constexpr int kRounds = 5;
    const bool own = argc > 1;
    const std::string path =
        own ? argv[1]
            : (std::filesystem::temp_directory_path() / "kelvaro_review_bench.csv").string();
    if (!own && !WriteSample(path, kTestFileMaxSamples)) {
        return 1;
    }

    Times read;
    std::size_t samples = 0;
    for (int round = 0; round < kRounds; ++round) {
        TestFileContent content;
        std::string error;
        const auto t0 = Clock::now();
        const double cpu0 = CpuSeconds();
        if (!ReadTestFile(path, content, &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        read.wall.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
        read.cpu.push_back(CpuSeconds() - cpu0);
        samples = content.loads.size();
    }

    std::string bytes;
    {
        std::FILE* file = std::fopen(path.c_str(), "rb");
        if (file == nullptr) {
            std::perror(path.c_str());
            return 1;
        }
        char buffer[1 << 16];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
            bytes.append(buffer, n);
        }
        std::fclose(file);
    }
    Times parse;
    for (int round = 0; round < kRounds; ++round) {
        TestFileContent content;
        const auto t0 = Clock::now();
        const double cpu0 = CpuSeconds();
        ParseTestFile(bytes, path, content, nullptr);
        parse.wall.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
        parse.cpu.push_back(CpuSeconds() - cpu0);
    }
    if (!own) {
        std::filesystem::remove(path);
    }

    const double megabytes = static_cast<double>(bytes.size()) / 1e6;
    std::printf("review: %s, %zu bytes, %zu samples read, %d rounds\n", path.c_str(), bytes.size(),
                samples, kRounds);
    Print("read the file (open, read, check, convert)", read, megabytes);
    Print("parse alone (bytes in memory)", parse, megabytes);
    return 0;
}
