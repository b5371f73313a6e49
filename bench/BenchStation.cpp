#include "BenchStation.h"

#include "BenchFakes.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "device/SerialChannel.h"
#include "plate-sim/VirtualPlate.h"
#include "run/TestRun.h"
#include "settings/SettingsStore.h"

namespace kelvaro::bench {

namespace {

std::chrono::nanoseconds ThreadCpu() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

}  // namespace

// The idle pass is the timer; Escape is "held" once the wanted sample count is reached.
class BenchView : public TestRunView {
  public:
    BenchView(QTimer& timer, int samples) : timer_(timer), samples_(samples) {}
    void SetStatusText(const std::string&, bool) override {}
    void ShowRunState(RunState) override {}
    void EnableButtons(bool) override {}
    void StartIdlePass() override { timer_.start(); }
    void StopIdlePass() override { timer_.stop(); }
    void ScheduleStartUpStep(int delayMs) override {
        QTimer::singleShot(delayMs, Qt::PreciseTimer, [this] { run->ContinueStartUp(); });
    }
    bool EscapeHeld() override {
        return store->Count() >= samples_ || (escapeFrom && Clock::now() >= *escapeFrom);
    }
    ChartSink& Chart() override { return chart != nullptr ? *chart : nullChart_; }
    LiveChartSink& LiveChart() override {
        return liveChart != nullptr ? *liveChart : readingChart_;
    }
    void RunFinished(StoredRun /*run*/) override {}

    std::optional<Clock::time_point> escapeFrom;
    const SampleStore* store = nullptr;  // the run's
    TestRun* run = nullptr;
    ChartSink* chart = nullptr;
    LiveChartSink* liveChart = nullptr;

  private:
    QTimer& timer_;
    int samples_;
    NullChart nullChart_;
    ReadingLiveChart readingChart_;
};

std::optional<int> SamplesArgument(int argc, char** argv) {
    if (argc <= 1) {
        return kMaxSamples;
    }
    const int samples = std::atoi(argv[1]);
    if (samples < 1 || samples > kMaxSamples) {
        std::fprintf(stderr, "usage: %s [samples 1..%d]\n", argv[0], kMaxSamples);
        return std::nullopt;
    }
    return samples;
}

FrameCheck CheckFrames(const SampleStore& samples, std::array<bool, kPlateCount> plates,
                       int records) {
    FrameCheck check;
    const std::span<const RawRecord> raw = samples.Raw();
    const int end = records < 0 ? samples.Count() : std::min(records, samples.Count());
    for (std::size_t p = 0; p < kPlateCount; ++p) {
        if (!plates[p]) {
            continue;
        }
        for (int k = 1; k < end; ++k) {
            // A missing reading (kMissingReading) counts as far out of step.
            const double step = static_cast<double>(raw[static_cast<std::size_t>(k)][p]) -
                                static_cast<double>(raw[static_cast<std::size_t>(k - 1)][p]);
            if (step > 1) {
                check.lost += static_cast<std::uint64_t>(step - 1);
            } else if (step < 1) {
                ++check.repeated;
            }
        }
    }
    return check;
}

BenchStation::Folder::~Folder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

BenchStation::BenchStation(std::string folder) : folder_{std::move(folder)} {}

BenchStation::~BenchStation() = default;

std::unique_ptr<BenchStation> BenchStation::Create(const std::string& folderName, int samples) {
    std::string folder =
        (std::filesystem::temp_directory_path() / (folderName + "-XXXXXX")).string();
    if (mkdtemp(folder.data()) == nullptr) {
        std::perror("mkdtemp");
        return nullptr;
    }
    // The bench's plates are virtual: their pseudo-terminals must open as ports.
    AllowPseudoTerminalPorts(true);
    std::unique_ptr<BenchStation> station(new BenchStation(std::move(folder)));
    StationState& state = station->state_;
    state.config.settingsPath = station->folder_.path + "/settings.ini";
    {
        SettingsStore store(state.config.settingsPath);
        sim::PlateOptions options;
        options.shape = sim::LoadShape::Counter;
        for (int p = 1; p <= kPlateCount; ++p) {
            auto& plate = station->plates_[static_cast<std::size_t>(p - 1)];
            plate = std::make_unique<sim::VirtualPlate>(options);
            if (!plate->Ok()) {
                std::fprintf(stderr, "no pseudo-terminal for plate %d\n", p);
                return nullptr;
            }
            const std::string n = std::to_string(p);
            store.WriteString(kSettingsSection, "check" + n, "1");
            store.WriteString(kSettingsSection, "Porta" + n, plate->DevicePath());
            store.WriteString(kSettingsSection, "FrequenciaP" + n, std::to_string(kFrequency));
        }
        store.WriteString(kSettingsSection, "Frequencia", std::to_string(kFrequency));
        if (!store.Close()) {
            std::fprintf(stderr, "settings could not be written\n");
            return nullptr;
        }
    }

    station->idle_ = std::make_unique<QTimer>();
    station->idle_->setInterval(0);
    station->dialogs_ = std::make_unique<BenchDialogs>();
    station->progress_ = std::make_unique<NullProgress>();
    station->view_ = std::make_unique<BenchView>(*station->idle_, samples);
    // One state and one test run for every test, as the main window keeps them.
    station->archive_ = std::make_unique<RunArchive>(state, *station->dialogs_, *station->progress_,
                                                     station->folder_.path);
    station->run_ =
        std::make_unique<TestRun>(state, *station->dialogs_, *station->view_, *station->archive_);
    station->view_->store = &station->run_->Samples();
    station->view_->run = station->run_.get();
    station->UseJournal(true);
    BenchStation* self = station.get();
    QObject::connect(station->idle_.get(), &QTimer::timeout, [self] { self->IdlePass(); });
    return station;
}

void BenchStation::IdlePass() {
    const auto start = Clock::now();
    const std::chrono::nanoseconds startCpu = ThreadCpu();
    if (timing_.passes > 0) {
        const Clock::duration gap = start - timing_.lastPassEnd;
        timing_.longestIdleGap = std::max(timing_.longestIdleGap, gap);
        timing_.idleGaps.push_back(gap);
        timing_.betweenCpu += startCpu - timing_.lastPassEndCpu;
    }
    ++timing_.passes;
    run_->ReadSamples();
    timing_.lastPassEnd = Clock::now();
    timing_.lastPassEndCpu = ThreadCpu();
    if (run_->IsRunning()) {
        const std::chrono::nanoseconds cpu = timing_.lastPassEndCpu - startCpu;
        timing_.passCpu += cpu;
        if (timing_.lastPassEnd - start > timing_.longestPass) {
            timing_.longestPass = timing_.lastPassEnd - start;
            timing_.longestPassCpu = cpu;
        }
        return;
    }
    if (loop_ != nullptr) {
        loop_->exit(0);
    }
}

const SampleStore& BenchStation::Samples() const {
    return run_->Samples();
}

void BenchStation::HoldEscapeFrom(Clock::time_point when) {
    view_->escapeFrom = when;
}

void BenchStation::UseJournal(bool on) {
    state_.config.journalFolder = on ? folder_.path + "/journal" : std::string();
}

void BenchStation::UseCharts(ChartSink* chart, LiveChartSink* liveChart) {
    view_->chart = chart;
    view_->liveChart = liveChart;
}

bool BenchStation::RunTest(const std::function<void()>& afterStart) {
    timing_ = PassTiming{};
    // Room for every gap of a run at the plates' pace, so the bookkeeping never reallocates.
    timing_.idleGaps.reserve(kMaxSamples + kMaxSamples / 8);
    view_->escapeFrom.reset();
    bool started = false;
    // A loop of its own: the application's quit would close every window, the chart's too,
    // and a closed chart is never painted again.
    QEventLoop loop;
    loop_ = &loop;
    QTimer startUp;
    startUp.setInterval(1);
    QObject::connect(&startUp, &QTimer::timeout, [&] {
        if (run_->IsStartingUp()) {
            return;
        }
        startUp.stop();
        if (!run_->IsRunning()) {
            loop.exit(1);
            return;
        }
        started = true;
        if (afterStart) {
            afterStart();
        }
    });
    QTimer::singleShot(0, [&] {
        run_->OnStartClicked();
        startUp.start();
    });
    // The stop (which runs inside the last pass) closes the channels and ends the loop.
    const bool ended = loop.exec() == 0;
    loop_ = nullptr;
    return ended && started;
}

std::array<std::uint64_t, kPlateCount> BenchStation::ReportsSent() const {
    std::array<std::uint64_t, kPlateCount> reports{};
    for (std::size_t p = 0; p < plates_.size(); ++p) {
        reports[p] = plates_[p]->ReportsSent();
    }
    return reports;
}

}  // namespace kelvaro::bench
