// The station the acquisition and soak benchmarks share: four virtual plates in counter mode
// written into a settings file in a temporary folder, a fake view whose idle pass is a
// zero-interval Qt timer and whose charts the benchmark chooses, scripted dialogs, and the real
// test run (start-up, idle pass, journal).
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "run/SampleStore.h"
#include "station/ChartSink.h"
#include "station/LiveChartSink.h"
#include "station/StationState.h"

class QEventLoop;
class QTimer;

namespace kelvaro {

class RunArchive;
class TestRun;
namespace sim {
class VirtualPlate;
}

namespace bench {

using Clock = std::chrono::steady_clock;

inline constexpr int kFrequency = 600;

// The optional [samples] argument (default kMaxSamples); prints the usage and gives nothing
// when it is out of range.
std::optional<int> SamplesArgument(int argc, char** argv);

// Frames lost and frames repeated or out of order, read from the counter each plate sends, over
// the records before `records` (all of them when negative) of the plates in `plates`.
struct FrameCheck {
    std::uint64_t lost = 0;
    std::uint64_t repeated = 0;
};
FrameCheck CheckFrames(const SampleStore& samples,
                       std::array<bool, kPlateCount> plates = {true, true, true, true},
                       int records = -1);

// Timing of the idle passes of the last run.
struct PassTiming {
    long passes = 0;
    Clock::time_point lastPassEnd;
    Clock::duration longestIdleGap{};       // from the end of one pass to the start of the next
    Clock::duration longestPass{};          // passes after which the test was still running
    std::vector<Clock::duration> idleGaps;  // every one of them, in order
    // CPU time of the station's thread: inside the passes, and between them (everything else
    // its event loop does), both from the end of the first pass; and that of the longest pass.
    std::chrono::nanoseconds passCpu{};
    std::chrono::nanoseconds betweenCpu{};
    std::chrono::nanoseconds longestPassCpu{};
    std::chrono::nanoseconds lastPassEndCpu{};
};

class BenchDialogs;
class NullProgress;
class BenchView;

class BenchStation {
  public:
    // Makes the temporary folder (from a name such as "kelvaro-bench") and the plates and
    // writes the settings; prints why and gives nothing when one of them fails.
    static std::unique_ptr<BenchStation> Create(const std::string& folderName, int samples);
    ~BenchStation();
    BenchStation(const BenchStation&) = delete;
    BenchStation& operator=(const BenchStation&) = delete;

    // One full test on an event loop of its own (a QCoreApplication must exist): the start-up,
    // then idle passes until the wanted sample count is reached and the test run stops itself.
    // afterStart runs right after a successful start-up. False when the start-up failed.
    bool RunTest(const std::function<void()>& afterStart = {});

    const StationState& State() const { return state_; }
    const SampleStore& Samples() const;
    const PassTiming& Timing() const { return timing_; }
    std::array<std::uint64_t, kPlateCount> ReportsSent() const;
    sim::VirtualPlate& Plate(int n) { return *plates_.at(static_cast<std::size_t>(n - 1)); }
    // The next runs keep a journal in the temporary folder (the default), or none.
    void UseJournal(bool on);
    // The charts the next runs draw on; nullptr: a chart that draws nothing, and a live chart
    // that reads the loads ten times a second without drawing (the defaults).
    void UseCharts(ChartSink* chart, LiveChartSink* liveChart);
    // Escape counts as held from `when` on, in this run only: a cap for a run that might not
    // stop by itself.
    void HoldEscapeFrom(Clock::time_point when);

  private:
    explicit BenchStation(std::string folder);
    void IdlePass();

    // Removes the temporary folder last of all.
    struct Folder {
        std::string path;
        ~Folder();
    } folder_;
    std::array<std::unique_ptr<sim::VirtualPlate>, kPlateCount> plates_;
    StationState state_;
    PassTiming timing_;
    std::unique_ptr<QTimer> idle_;
    std::unique_ptr<BenchDialogs> dialogs_;
    std::unique_ptr<NullProgress> progress_;
    std::unique_ptr<BenchView> view_;
    std::unique_ptr<RunArchive> archive_;
    std::unique_ptr<TestRun> run_;
    QEventLoop* loop_ = nullptr;  // RunTest's, while it runs
};

}  // namespace bench
}  // namespace kelvaro
