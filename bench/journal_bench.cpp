// Run journal: what Append costs the acquisition pass at four plates x 600 Hz while the
// background thread writes and syncs, over simulated passes at the real pace; optionally with
// another writer keeping the same disk busy so the syncs are slow. Prints the cost per pass
// (median, p99, p99.9, max), the process's CPU time per second of run, the time Close waits,
// and checks that every record came back.
// Usage: journal_bench [seconds] [--busy-disk] [folder]   (default 60 s, a new folder in /var/tmp)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "journal/Journal.h"
#include "station/FileErrorText.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRate = 600;

double CpuSeconds(int who = RUSAGE_SELF) {
    rusage usage{};
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Micro(std::chrono::nanoseconds d) {
    return static_cast<double>(d.count()) / 1000.0;
}

// Writes and syncs 8 MB pieces of a 256 MB scratch file until told to stop, so the journal's
// syncs queue behind other work on the disk.
void KeepDiskBusy(const std::string& path, const std::atomic<bool>& stop, std::uint64_t& bytes,
                  double& cpu) {
    const std::vector<char> piece(8 << 20, 'x');
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    for (off_t offset = 0; fd >= 0 && !stop.load(); offset = (offset + (8 << 20)) % (256 << 20)) {
        if (pwrite(fd, piece.data(), piece.size(), offset) < 0 || fdatasync(fd) != 0) {
            break;
        }
        bytes += piece.size();
    }
    if (fd >= 0) {
        close(fd);
    }
    unlink(path.c_str());
    cpu = CpuSeconds(RUSAGE_THREAD);
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = 60;
    bool busyDisk = false;
    std::string folder;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--busy-disk") {
            busyDisk = true;
        } else if (!arg.empty() && arg.find_first_not_of("0123456789") == std::string::npos) {
            seconds = std::max(1, std::atoi(arg.c_str()));
        } else {
            folder = arg;
        }
    }
    bool madeFolder = false;
    if (folder.empty()) {
        char pattern[] = "/var/tmp/journal_bench.XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            std::perror("mkdtemp");
            return 1;
        }
        folder = pattern;
        madeFolder = true;
    }
    struct statfs fs {};
    statfs(folder.c_str(), &fs);
    std::printf("journal_bench: %d s at 4 plates x %d Hz in %s (file system 0x%lx%s)%s\n", seconds,
                kRate, folder.c_str(), static_cast<unsigned long>(fs.f_type),
                fs.f_type == 0x01021994 ? ", tmpfs: syncs cost nothing" : "",
                busyDisk ? ", another writer keeping the disk busy" : "");

    std::atomic<bool> stopBusy{false};
    std::uint64_t busyBytes = 0;
    double busyCpu = 0;
    std::thread busy;
    if (busyDisk) {
        busy = std::thread(KeepDiskBusy, folder + "/busy.bin", std::cref(stopBusy),
                           std::ref(busyBytes), std::ref(busyCpu));
    }

    kelvaro::JournalDescription description;
    description.start = std::chrono::system_clock::now();
    description.frequency = kRate;
    for (auto& plate : description.plates) {
        plate.active = true;
        plate.port = "/dev/ttyUSB0";
        plate.unit = "kgf";
    }
    kelvaro::JournalWriter writer;
    if (!writer.Open(folder, description)) {
        const auto error = writer.TakeError();
        std::printf("%s\n", error ? kelvaro::FileErrorText(*error).c_str() : "?");
        return 1;
    }
    const std::size_t passes = static_cast<std::size_t>(seconds) * kRate;
    std::vector<Clock::duration> costs;
    costs.reserve(passes);
    Clock::duration lateMost{};
    const double cpuBefore = CpuSeconds();
    const auto start = Clock::now();
    for (std::size_t k = 0; k < passes; ++k) {
        const auto due = start + std::chrono::microseconds(k * 1000000 / kRate);
        std::this_thread::sleep_until(due);
        const auto before = Clock::now();
        lateMost = std::max(lateMost, before - due);
        const auto v = static_cast<std::uint32_t>(k % (1U << 24));
        const kelvaro::RawRecord record{v, v, v, v};
        writer.Append({&record, 1});
        costs.push_back(Clock::now() - before);
    }
    const auto runTime = Clock::now() - start;
    double cpu = CpuSeconds() - cpuBefore;
    const auto closeStart = Clock::now();
    const bool closed = writer.Close(0);
    const auto closeTime = Clock::now() - closeStart;
    stopBusy = true;
    if (busy.joinable()) {
        busy.join();
        cpu -= busyCpu;  // the other writer's own time, counted from before the run
    }

    std::sort(costs.begin(), costs.end());
    const auto at = [&](double q) {
        return Micro(costs[std::min(
            costs.size() - 1, static_cast<std::size_t>(q * static_cast<double>(costs.size())))]);
    };
    std::printf(
        "Append per pass: %zu passes, median %.2f us, p99 %.2f us, p99.9 %.2f us, "
        "max %.1f us (a pass at %d Hz has %.0f us)\n",
        costs.size(), at(0.5), at(0.99), at(0.999), Micro(costs.back()), kRate, 1e6 / kRate);
    std::printf(
        "latest pass wake-up (the scheduler's): %.1f us; CPU of the journal and the passes: %.4f s "
        "per second of run\n",
        Micro(lateMost), cpu / std::chrono::duration<double>(runTime).count());
    if (busyDisk) {
        std::printf("the other writer wrote and synced %.0f MB meanwhile\n",
                    static_cast<double>(busyBytes) / 1e6);
    }
    const auto closeError = writer.TakeError();
    std::printf("Close (last write, sync, header): %.1f ms, %s\n",
                std::chrono::duration<double, std::milli>(closeTime).count(),
                closed       ? "closed whole"
                : closeError ? kelvaro::FileErrorText(*closeError).c_str()
                             : "failed");

    kelvaro::JournalContents back;
    const kelvaro::FileStatus read = kelvaro::ReadJournal(writer.Path(), back);
    bool same = read && back.records.size() == passes;
    for (std::size_t k = 0; same && k < passes; ++k) {
        same = back.records[k][0] == static_cast<std::uint32_t>(k % (1U << 24));
    }
    std::printf("read back: %zu records of %zu, %s\n", back.records.size(), passes,
                same   ? "every one as appended"
                : read ? "DIFFERENT"
                       : kelvaro::FileErrorText(*read.error).c_str());
    std::filesystem::remove(writer.Path());
    if (madeFolder) {
        std::filesystem::remove(folder);
    }
    return same ? 0 : 1;
}
