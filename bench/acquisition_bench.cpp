// Acquisition benchmark: four virtual plates at 600 Hz in counter mode, started through the
// real start-up and read by the real idle pass on a Qt event loop (a zero-interval timer is
// the idle turn). Two full runs in one invocation, side by side: "on" keeps the run journal in
// the temporary folder and draws the run live on a shown load chart (its own 10 Hz timer,
// painted by the event loop the passes share; offscreen unless QT_QPA_PLATFORM says
// otherwise), "off" keeps no journal and draws nothing until the stop. For each: frames lost
// or repeated, the sample rate against the plates' rate, CPU seconds per second of run, the
// gaps between passes (percentiles and longest) against what the line discipline holds of one
// plate's stream, the longest pass, and the other programs' use of the machine meanwhile. A
// last run (journal and live view on) silences plate 2 a second in: frames the other plates
// lost up to the stop, frames they sent that were never read, and the time from the silence
// to the stop (capped at 10 s by a held Escape).
//
// Then the library, on against off, both with the journal and the live view, back to back: with
// it on, a LibraryWorker records the run before (its journal read back, readings with real
// plates' noise packed as for a saved test) while this one acquires, as the station does when the
// next test starts right after the save question; the station's CPU counts the library's thread
// too. Frames lost, the gaps between passes and CPU for both, with the ratios.
//
// The two runs go back to back rather than in interleaved halves: a half run would never reach
// the live chart's last step of the sample axis (to 200000 at sample 100001, where the whole run
// is binned again in one refresh) nor a journal of the whole run, and those are what the longest
// gap must include. The machine's other load is printed for each run so a difference it made
// shows; the CPU figures count this process's threads only and hardly depend on it.
//
// Usage: acquisition_bench [samples]   (default 144000 per run, which takes 240 s at 600 Hz)
#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QChartView>
#include <QTimer>
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <iterator>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchFakes.h"
#include "BenchStation.h"
#include "chart/LoadChart.h"
#include "device/PlateCommands.h"
#include "journal/Journal.h"
#include "library/LibraryWorker.h"
#include "library/RunRecording.h"
#include "plate-sim/VirtualPlate.h"

namespace {

using namespace kelvaro;
using namespace kelvaro::bench;

// What a Linux tty's line discipline keeps for a reader that does not read (N_TTY_BUF_SIZE).
constexpr double kLineDisciplineBytes = 4096;
// The main window's chart is about this size.
constexpr int kChartWidth = 1000;
constexpr int kChartHeight = 600;

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// RUSAGE_THREAD: the station's one thread; RUSAGE_SELF adds the journal's and the virtual
// plates' threads.
double CpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

std::set<std::string> ThreadIds() {
    std::set<std::string> ids;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (const dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') {
                ids.insert(entry->d_name);
            }
        }
        closedir(dir);
    }
    return ids;
}

// User and system time of threads of this process, from /proc (clock ticks: 10 ms steps).
double ThreadsCpuSeconds(const std::set<std::string>& ids) {
    double ticks = 0;
    for (const std::string& id : ids) {
        std::ifstream file("/proc/self/task/" + id + "/stat");
        std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        const std::size_t name = text.rfind(')');
        if (name == std::string::npos) {
            continue;
        }
        // After the name: state and ten more fields, then utime and stime.
        std::istringstream fields(text.substr(name + 1));
        std::string skipped;
        for (int f = 0; f < 11; ++f) {
            fields >> skipped;
        }
        double user = 0;
        double system = 0;
        fields >> user >> system;
        ticks += user + system;
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// CPU seconds all programs have used, from the first line of /proc/stat.
double MachineBusySeconds() {
    std::ifstream stat("/proc/stat");
    std::string cpu;
    double user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
    stat >> cpu >> user >> nice >> system >> idle >> iowait >> irq >> softirq >> steal;
    return (user + nice + system + irq + softirq + steal) /
           static_cast<double>(sysconf(_SC_CLK_TCK));
}

std::string LoadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// CPU use over one run of the station.
struct CpuSnapshot {
    double thread = 0;
    double process = 0;
    double plates = 0;
    double machine = 0;
    Clock::time_point when;
    static CpuSnapshot Take(const std::set<std::string>& plateThreads) {
        return {CpuSeconds(RUSAGE_THREAD), CpuSeconds(RUSAGE_SELF), ThreadsCpuSeconds(plateThreads),
                MachineBusySeconds(), Clock::now()};
    }
};

// A live chart that is never drawn: the run without the live view.
class NoLiveChart : public LiveChartSink {
  public:
    void BeginLive(const std::array<bool, 4>&, LoadsSoFar) override {}
    void EndLive() override {}
};

struct Configuration {
    const char* name;
    bool journal;
    bool liveView;
};

// What one run measured.
struct Figures {
    int samples = 0;
    double seconds = 0;
    long passes = 0;
    FrameCheck frames;
    double plateRate = 0;  // reports sent per second, per plate
    double stationThread = 0;
    double stationProcess = 0;  // less the virtual plates' threads
    double withPlates = 0;
    double library = 0;        // the library's thread, counted in stationProcess
    double otherPrograms = 0;  // cores the rest of the machine kept busy, on average
    std::string loadBefore, loadAfter;
    std::vector<double> gapsMs;  // sorted
    double longestPassMs = 0;
    double longestPassCpuMs = 0;
    double passCpu = 0;     // CPU s per s of run inside the passes
    double betweenCpu = 0;  // and between them
    long paints = 0;
    std::string journal;
    double At(double q) const {
        if (gapsMs.empty()) {
            return 0;
        }
        const auto i = static_cast<std::size_t>(q * static_cast<double>(gapsMs.size() - 1));
        return gapsMs[i];
    }
};

std::string JournalText(const std::string& folder) {
    if (folder.empty()) {
        return "none";
    }
    const std::vector<JournalSummary> journals = ListJournals(folder);
    if (journals.empty()) {
        return "MISSING";
    }
    const JournalSummary& newest = journals.front();
    const char* state = newest.description.state == JournalState::Closed    ? "closed"
                        : newest.description.state == JournalState::Stopped ? "STOPPED EARLY"
                                                                            : "open";
    return std::to_string(newest.sampleCount) + " records, " + state;
}

// `atStart` runs once the figures are taken at the start of the run; `libraryThreads` are those
// of a library worker, whose CPU is the station's.
std::optional<Figures> Measure(BenchStation& station, const std::set<std::string>& plateThreads,
                               const PaintCounter& counter,
                               const std::function<void()>& atStart = {},
                               const std::set<std::string>& libraryThreads = {}) {
    Figures f;
    CpuSnapshot start;
    double libraryStart = 0;
    std::array<std::uint64_t, kPlateCount> reportsAtStart{};
    long paintsAtStart = 0;
    f.loadBefore = LoadAverage();
    const bool started = station.RunTest([&] {
        start = CpuSnapshot::Take(plateThreads);
        libraryStart = ThreadsCpuSeconds(libraryThreads);
        reportsAtStart = station.ReportsSent();
        paintsAtStart = counter.paints;
        if (atStart) {
            atStart();
        }
    });
    // The stop (which runs inside the last pass) closes the channels; the clock stops there.
    const Clock::time_point runEnd = station.Timing().lastPassEnd;
    const CpuSnapshot end = CpuSnapshot::Take(plateThreads);
    const double libraryEnd = ThreadsCpuSeconds(libraryThreads);
    const std::array<std::uint64_t, kPlateCount> reportsAtEnd = station.ReportsSent();
    if (!started) {
        std::fprintf(stderr, "the start-up failed\n");
        return std::nullopt;
    }
    f.loadAfter = LoadAverage();
    f.paints = counter.paints - paintsAtStart;
    f.samples = station.Samples().Count();
    f.passes = station.Timing().passes;
    f.frames = CheckFrames(station.Samples());
    f.seconds = std::chrono::duration<double>(runEnd - start.when).count();
    for (std::size_t p = 0; p < kPlateCount; ++p) {
        f.plateRate += static_cast<double>(reportsAtEnd[p] - reportsAtStart[p]) / f.seconds;
    }
    f.plateRate /= kPlateCount;
    // CPU to the moment the loop ended, over the run's wall time up to its last pass.
    const double cpuWall = std::chrono::duration<double>(end.when - start.when).count();
    const double self = end.process - start.process;
    const double plates = end.plates - start.plates;
    f.stationThread = (end.thread - start.thread) / cpuWall;
    f.stationProcess = (self - plates) / cpuWall;
    f.withPlates = self / cpuWall;
    f.library = (libraryEnd - libraryStart) / cpuWall;
    f.otherPrograms = std::max(0.0, (end.machine - start.machine - self) / cpuWall);
    for (const Clock::duration gap : station.Timing().idleGaps) {
        f.gapsMs.push_back(Ms(gap));
    }
    std::sort(f.gapsMs.begin(), f.gapsMs.end());
    f.longestPassMs = Ms(station.Timing().longestPass);
    f.longestPassCpuMs = Ms(station.Timing().longestPassCpu);
    f.passCpu = std::chrono::duration<double>(station.Timing().passCpu).count() / f.seconds;
    f.betweenCpu = std::chrono::duration<double>(station.Timing().betweenCpu).count() / f.seconds;
    f.journal = JournalText(station.State().config.journalFolder);
    return f;
}

void PrintSideBySide(const char* heading, const std::array<Configuration, 2>& configurations,
                     const std::array<Figures, 2>& figures) {
    const auto row = [](const char* what, const std::string& a, const std::string& b) {
        std::printf("  %-44s %24s %24s\n", what, a.c_str(), b.c_str());
    };
    const auto number = [](const char* format, double value) {
        char text[64];
        std::snprintf(text, sizeof text, format, value);
        return std::string(text);
    };
    const auto both = [&](const char* what, const char* format, auto field) {
        row(what, number(format, field(figures[0])), number(format, field(figures[1])));
    };
    row(heading, configurations[0].name, configurations[1].name);
    both("samples", "%.0f", [](const Figures& f) { return f.samples; });
    both("seconds of run", "%.2f", [](const Figures& f) { return f.seconds; });
    both("passes", "%.0f", [](const Figures& f) { return static_cast<double>(f.passes); });
    both("frames lost (must be 0)", "%.0f",
         [](const Figures& f) { return static_cast<double>(f.frames.lost); });
    both("frames repeated or out of order (must be 0)", "%.0f",
         [](const Figures& f) { return static_cast<double>(f.frames.repeated); });
    both("samples/s against reports/s sent per plate", "%.4f",
         [](const Figures& f) { return f.samples / f.seconds / f.plateRate; });
    both("CPU s per s: station thread", "%.4f", [](const Figures& f) { return f.stationThread; });
    both("  of which in the passes", "%.4f", [](const Figures& f) { return f.passCpu; });
    both("  of which between passes (timers, paints)", "%.4f",
         [](const Figures& f) { return f.betweenCpu; });
    both("CPU s per s: station (+ journal thread)", "%.4f",
         [](const Figures& f) { return f.stationProcess; });
    both("CPU s per s: with the plate threads", "%.4f",
         [](const Figures& f) { return f.withPlates; });
    both("gap between passes, median (ms)", "%.3f", [](const Figures& f) { return f.At(0.5); });
    both("gap p90 (ms)", "%.3f", [](const Figures& f) { return f.At(0.9); });
    both("gap p99 (ms)", "%.3f", [](const Figures& f) { return f.At(0.99); });
    both("gap p99.9 (ms)", "%.3f", [](const Figures& f) { return f.At(0.999); });
    both("gap p99.99 (ms)", "%.3f", [](const Figures& f) { return f.At(0.9999); });
    both("longest gap (ms)", "%.3f", [](const Figures& f) { return f.At(1.0); });
    both("longest pass (ms)", "%.3f", [](const Figures& f) { return f.longestPassMs; });
    both("  its CPU, the rest waiting for reports (ms)", "%.3f",
         [](const Figures& f) { return f.longestPassCpuMs; });
    both("chart paints during the run", "%.0f",
         [](const Figures& f) { return static_cast<double>(f.paints); });
    row("journal", figures[0].journal, figures[1].journal);
    both("other programs' CPU, cores busy on average", "%.2f",
         [](const Figures& f) { return f.otherPrograms; });
    row("load average before", figures[0].loadBefore, figures[1].loadBefore);
    row("load average after", figures[0].loadAfter, figures[1].loadAfter);

    // A report is start, two address bytes, function, length, three data bytes, checksum, end.
    const double reportsHeld =
        std::floor(kLineDisciplineBytes / static_cast<double>(kSampleReplySize));
    const double heldMs = reportsHeld * 1000.0 / kFrequency;
    std::printf(
        "the line discipline's %.0f bytes hold %.0f whole reports of %zu bytes: %.0f ms of one "
        "plate's stream at %d Hz; longest gap %.1f %% (%s) and %.1f %% (%s) of it\n",
        kLineDisciplineBytes, reportsHeld, kSampleReplySize, heldMs, kFrequency,
        100.0 * figures[0].At(1.0) / heldMs, configurations[0].name,
        100.0 * figures[1].At(1.0) / heldMs, configurations[1].name);
}

constexpr int kSilenced = 2;
constexpr auto kSilenceAfter = std::chrono::seconds(1);
constexpr auto kStopCap = std::chrono::seconds(10);

// Plate 2 goes silent a second into the run; the run should stop by itself soon after.
int SilencedRun(BenchStation& station, int samples) {
    if (samples < 2 * kFrequency) {
        std::printf("silenced plate: skipped, the run is shorter than 2 s\n");
        return 0;
    }
    double cpuStart = 0;
    Clock::time_point silencedAt;
    Clock::time_point startedAt;
    int silencedRecord = 0;
    const bool started = station.RunTest([&] {
        cpuStart = CpuSeconds(RUSAGE_THREAD);
        startedAt = Clock::now();
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
    std::printf("CPU seconds per second of run (station thread): %.3f\n",
                (CpuSeconds(RUSAGE_THREAD) - cpuStart) /
                    std::chrono::duration<double>(stoppedAt - startedAt).count());
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

// The record of the run before, as the library's thread does it after the save question.
struct Recording {
    std::atomic<bool> done{false};
    Clock::time_point started, ended;
    std::size_t samples = 0;
    std::string failure;
};

// The library off, then on with the run before being recorded meanwhile; true when both runs
// lost and repeated no frame.
bool LibraryOnAgainstOff(BenchStation& station, const std::set<std::string>& plateThreads,
                         const PaintCounter& counter, LoadChart& chart) {
    const std::array<Configuration, 2> configurations{
        {{"library off", true, true}, {"library on", true, true}}};
    station.UseJournal(true);
    station.UseCharts(&chart, &chart);
    std::array<Figures, 2> figures;
    std::printf("run 3: journal and live view on, library off...\n");
    std::fflush(stdout);
    std::optional<Figures> off = Measure(station, plateThreads, counter);
    if (!off) {
        return false;
    }
    figures[0] = *off;
    const std::string folder = station.State().config.journalFolder;
    const std::vector<JournalSummary> journals = ListJournals(folder);
    if (journals.empty()) {
        std::fprintf(stderr, "no journal of run 3 to record\n");
        return false;
    }

    const std::set<std::string> before = ThreadIds();
    LibraryWorker worker;
    std::set<std::string> libraryThreads;
    for (const std::string& id : ThreadIds()) {
        if (!before.contains(id)) {
            libraryThreads.insert(id);
        }
    }
    std::promise<LibraryStatus> opened;
    worker.Post([&](LibraryStore& store) { opened.set_value(store.Open(LibraryPathIn(folder))); });
    if (const LibraryStatus status = opened.get_future().get(); !status) {
        std::fprintf(stderr, "the library did not open: %s\n", status.nativeText.c_str());
        return false;
    }
    Recording recording;
    const std::string journal = journals.front().path;
    // Counter plates' readings count, and a counting run packs to nothing: the record is given
    // readings with the noise of real plates (200 counts around a zero at 8,000,000), made first.
    std::vector<RawRecord> noisy(static_cast<std::size_t>(journals.front().sampleCount));
    std::mt19937 random(4);
    std::normal_distribution<double> noise(0.0, 200.0);
    for (RawRecord& record : noisy) {
        for (RawReading& reading : record) {
            reading = static_cast<RawReading>(std::lround(8'000'000.0 + noise(random)));
        }
    }
    Clock::time_point runStart;
    std::printf("run 4: journal and live view on, library on, run 3 recorded meanwhile...\n");
    std::fflush(stdout);
    std::optional<Figures> on = Measure(
        station, plateThreads, counter,
        [&] {
            runStart = Clock::now();
            worker.Post([&recording, &noisy, journal](LibraryStore& store) {
                recording.started = Clock::now();
                LibraryRun run;
                if (const FileStatus read = RunFromJournal(journal, "", run); !read) {
                    recording.failure = "its journal could not be read";
                } else {
                    run.raw.swap(noisy);
                    run.testNumber = std::max<std::int64_t>(run.testNumber, 1);  // saved: packed
                    recording.samples = run.raw.size();
                    if (const LibraryStatus kept = store.RecordRun(run); !kept) {
                        recording.failure = kept.nativeText;
                    }
                }
                recording.ended = Clock::now();
                recording.done = true;
            });
        },
        libraryThreads);
    if (!on) {
        return false;
    }
    figures[1] = *on;
    const Clock::time_point runEnd = station.Timing().lastPassEnd;
    while (!recording.done) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    std::printf(
        "library: the run before recorded on the library's thread while the next run "
        "acquires\n");
    PrintSideBySide("journal and live view on; library", configurations, figures);
    std::printf("  %-44s %24s %24.4f\n", "CPU s per s: of which the library thread", "-",
                figures[1].library);
    const auto ratio = [&](const char* what, double a, double b) {
        std::printf("  %-44s %49.3f\n", what, a > 0 ? b / a : 0.0);
    };
    ratio("ratio on/off: CPU station (+ journal, library)", figures[0].stationProcess,
          figures[1].stationProcess);
    ratio("ratio on/off: CPU station thread", figures[0].stationThread, figures[1].stationThread);
    ratio("ratio on/off: gap p99.9", figures[0].At(0.999), figures[1].At(0.999));
    ratio("ratio on/off: longest gap", figures[0].At(1.0), figures[1].At(1.0));
    if (!recording.failure.empty()) {
        std::printf("the record of run 3 FAILED: %s\n", recording.failure.c_str());
    } else {
        std::printf(
            "record of run 3 (%zu samples, noisy raw readings packed): %.2f s, from %.2f s to %.2f "
            "s "
            "into run 4's %.2f s of acquisition\n",
            recording.samples,
            std::chrono::duration<double>(recording.ended - recording.started).count(),
            std::chrono::duration<double>(recording.started - runStart).count(),
            std::chrono::duration<double>(recording.ended - runStart).count(),
            std::chrono::duration<double>(runEnd - runStart).count());
    }
    bool clean = recording.failure.empty();
    for (const Figures& f : figures) {
        clean = clean && f.frames.lost == 0 && f.frames.repeated == 0;
    }
    return clean;
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<int> samples = SamplesArgument(argc, argv);
    if (!samples) {
        return 2;
    }
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication app(argc, argv);
    const std::set<std::string> before = ThreadIds();
    const auto station = BenchStation::Create("kelvaro-bench", *samples);
    if (!station) {
        return 1;
    }
    // The threads the plates started: theirs is not the station's CPU.
    std::set<std::string> plateThreads;
    for (const std::string& id : ThreadIds()) {
        if (!before.contains(id)) {
            plateThreads.insert(id);
        }
    }
    if (plateThreads.size() != kPlateCount) {
        std::fprintf(stderr, "expected %d plate threads, found %zu\n", kPlateCount,
                     plateThreads.size());
        return 1;
    }

    // The final chart is drawn on the same shown chart in both runs, as in the main window.
    LoadChart chart(kPlateCount);
    chart.resize(kChartWidth, kChartHeight);
    chart.show();
    QApplication::processEvents();
    PaintCounter counter;
    chart.View()->viewport()->installEventFilter(&counter);
    NoLiveChart noLiveChart;

    const std::array<Configuration, 2> configurations{{{"on", true, true}, {"off", false, false}}};
    std::array<Figures, 2> figures;
    for (std::size_t c = 0; c < configurations.size(); ++c) {
        const Configuration& configuration = configurations[c];
        station->UseJournal(configuration.journal);
        LiveChartSink* liveChart = &noLiveChart;
        if (configuration.liveView) {
            liveChart = &chart;
        }
        station->UseCharts(&chart, liveChart);
        std::printf("run %zu: journal and live view %s...\n", c + 1, configuration.name);
        std::fflush(stdout);
        const std::optional<Figures> measured = Measure(*station, plateThreads, counter);
        if (!measured) {
            return 1;
        }
        figures[c] = *measured;
    }
    std::printf("acquisition: %d plates at %d Hz in counter mode, %dx%d chart (%s)\n", kPlateCount,
                kFrequency, kChartWidth, kChartHeight, std::getenv("QT_QPA_PLATFORM"));
    PrintSideBySide("journal and live view", configurations, figures);
    bool clean = true;
    for (const Figures& f : figures) {
        clean = clean && f.frames.lost == 0 && f.frames.repeated == 0 && f.samples == *samples;
    }

    clean = LibraryOnAgainstOff(*station, plateThreads, counter, chart) && clean;

    station->UseJournal(true);
    station->UseCharts(&chart, &chart);
    const int silenced = SilencedRun(*station, *samples);
    return !clean ? 3 : silenced;
}
