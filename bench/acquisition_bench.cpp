// Acquisition benchmark: four virtual plates at 600 Hz in counter mode, started through the
// real start-up and read by the real idle pass on a Qt event loop (a zero-interval timer is
// the idle turn). Prints frames lost or repeated, the sample rate against the plates' rate,
// CPU seconds per second of run and the longest gaps between passes.
//
// Usage: acquisition_bench [samples]   (default 144000, which takes 240 s at 600 Hz)
#include <sys/resource.h>

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "plate-sim/VirtualPlate.h"
#include "settings/SettingsStore.h"
#include "test/TestRun.h"

namespace {

using namespace kelvaro;
using Clock = std::chrono::steady_clock;

// Confirms the start, declines the save, prints anything else (an error would spoil the run).
class BenchDialogs : public Dialogs {
  public:
    DialogResult MessageBox(const std::string& text, const std::string&, DialogButtons buttons,
                            DialogIcon) override {
        if (buttons == DialogButtons::OkCancel) {
            return DialogResult::Ok;
        }
        if (buttons == DialogButtons::YesNo) {
            return DialogResult::No;
        }
        std::fprintf(stderr, "message: %s\n", text.c_str());
        return DialogResult::Ok;
    }
    std::string InputBox(const std::string&, const std::string&, const std::string& initial,
                         bool* cancelled) override {
        if (cancelled) {
            *cancelled = true;
        }
        return initial;
    }
    std::optional<std::string> SaveFile(const SaveFileRequest&) override { return std::nullopt; }
    bool OpenWithAssociatedApplication(const std::string&) override { return false; }
};

class NullChart : public ChartSink {
  public:
    void ClearSeries(int) override {}
    void SetSeriesPoints(int, std::vector<ChartPoint>) override {}
    void SetLeftAxisMaximum(double) override {}
    void SetLeftAxisMinimum(double) override {}
    void SetSeriesTitle(int, const std::string&) override {}
    void SetSeriesInLegend(int, bool) override {}
    void SetLegendVisible(bool) override {}
};

class NullProgress : public ProgressView {
  public:
    void SetMaximum(int) override {}
    void SetPosition(int) override {}
    int Position() const override { return 0; }
    void Show() override {}
    void Close() override {}
};

// The idle pass is the timer; Escape is "held" once the wanted sample count is reached.
class BenchView : public TestRunView {
  public:
    BenchView(QTimer& timer, const StationState& state, int samples)
        : timer_(timer), state_(state), samples_(samples) {}
    void SetStatusText(const std::string&, bool) override {}
    std::string StartButtonCaption() const override { return caption_; }
    void SetStartButtonCaption(const std::string& caption) override { caption_ = caption; }
    void HabilitarBotoes(bool) override {}
    void StartIdlePass() override { timer_.start(); }
    void StopIdlePass() override { timer_.stop(); }
    bool EscapeHeld() override { return state_.NumAmostras >= samples_; }
    ChartSink& Chart() override { return chart_; }

  private:
    QTimer& timer_;
    const StationState& state_;
    int samples_;
    std::string caption_ = " Iniciar";
    NullChart chart_;
};

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
    int samples = kMaxSamples;
    if (argc > 1) {
        samples = std::atoi(argv[1]);
        if (samples < 1 || samples > kMaxSamples) {
            std::fprintf(stderr, "usage: %s [samples 1..%d]\n", argv[0], kMaxSamples);
            return 2;
        }
    }
    QCoreApplication app(argc, argv);
    constexpr int kFrequency = 600;

    std::string folder = (std::filesystem::temp_directory_path() / "kelvaro-bench-XXXXXX").string();
    if (mkdtemp(folder.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    std::array<std::unique_ptr<sim::VirtualPlate>, kPlateCount> plates;
    StationState state;
    state.settingsPath = folder + "/settings.ini";
    {
        SettingsStore store(state.settingsPath);
        sim::PlateOptions options;
        options.shape = sim::LoadShape::Counter;
        for (int p = 1; p <= kPlateCount; ++p) {
            auto& plate = plates[static_cast<std::size_t>(p - 1)];
            plate = std::make_unique<sim::VirtualPlate>(options);
            if (!plate->Ok()) {
                std::fprintf(stderr, "no pseudo-terminal for plate %d\n", p);
                return 1;
            }
            const std::string n = std::to_string(p);
            store.WriteString(kSettingsSection, "check" + n, "1");
            store.WriteString(kSettingsSection, "Porta" + n, plate->DevicePath());
            store.WriteString(kSettingsSection, "FrequenciaP" + n, std::to_string(kFrequency));
        }
        store.WriteString(kSettingsSection, "Frequencia", std::to_string(kFrequency));
        if (!store.Close()) {
            std::fprintf(stderr, "settings could not be written\n");
            return 1;
        }
    }

    QTimer idle;
    idle.setInterval(0);
    BenchDialogs dialogs;
    NullProgress progress;
    BenchView view(idle, state, samples);
    TestRun run(state, dialogs, progress, view, folder);

    Clock::time_point runStart;
    Clock::time_point runEnd;
    Clock::time_point lastPassEnd;
    Clock::duration longestIdleGap{};  // from the end of one pass to the start of the next
    Clock::duration longestPass{};
    double cpuStart = 0;
    double cpuEnd = 0;
    double processStart = 0;
    double processEnd = 0;
    std::array<std::uint64_t, kPlateCount> reportsAtStart{};
    std::array<std::uint64_t, kPlateCount> reportsAtEnd{};
    long passes = 0;

    QObject::connect(&idle, &QTimer::timeout, [&] {
        const auto start = Clock::now();
        if (passes > 0) {
            longestIdleGap = std::max(longestIdleGap, start - lastPassEnd);
        }
        ++passes;
        run.LerAmostras();
        lastPassEnd = Clock::now();
        if (run.TesteRodando()) {
            longestPass = std::max(longestPass, lastPassEnd - start);
            return;
        }
        app.quit();
    });
    QTimer::singleShot(0, [&] {
        run.btIniciarClick();
        if (!run.TesteRodando()) {
            std::fprintf(stderr, "the start-up failed\n");
            app.exit(1);
            return;
        }
        cpuStart = CpuSeconds(RUSAGE_THREAD);
        processStart = CpuSeconds(RUSAGE_SELF);
        runStart = Clock::now();
        for (std::size_t p = 0; p < plates.size(); ++p) {
            reportsAtStart[p] = plates[p]->ReportsSent();
        }
    });
    // The stop (which runs inside the last pass) closes the channels; the clock stops there.
    const int status = app.exec();
    runEnd = lastPassEnd;
    cpuEnd = CpuSeconds(RUSAGE_THREAD);
    processEnd = CpuSeconds(RUSAGE_SELF);
    for (std::size_t p = 0; p < plates.size(); ++p) {
        reportsAtEnd[p] = plates[p]->ReportsSent();
    }
    if (status != 0) {
        return status;
    }

    std::uint64_t lost = 0;
    std::uint64_t repeated = 0;
    for (std::size_t p = 0; p < kPlateCount; ++p) {
        for (int k = 1; k < state.NumAmostras; ++k) {
            const double step = (*state.Amostras)[static_cast<std::size_t>(k)][p] -
                                (*state.Amostras)[static_cast<std::size_t>(k - 1)][p];
            if (step > 1) {
                lost += static_cast<std::uint64_t>(step - 1);
            } else if (step < 1) {
                ++repeated;
            }
        }
    }
    const double seconds = std::chrono::duration<double>(runEnd - runStart).count();
    double plateRate = 0;
    for (std::size_t p = 0; p < plates.size(); ++p) {
        plateRate += static_cast<double>(reportsAtEnd[p] - reportsAtStart[p]) / seconds;
    }
    plateRate /= kPlateCount;

    std::printf("acquisition: %d plates at %d Hz, %d samples in %.2f s (%ld passes)\n", kPlateCount,
                kFrequency, state.NumAmostras, seconds, passes);
    std::printf("frames lost: %llu, repeated or out of order: %llu (must be 0)\n",
                static_cast<unsigned long long>(lost), static_cast<unsigned long long>(repeated));
    std::printf("samples per second: %.1f against %.1f sent per plate (%.3f)\n",
                state.NumAmostras / seconds, plateRate, state.NumAmostras / seconds / plateRate);
    std::printf("CPU seconds per second of run: %.3f station thread, %.3f with the plates\n",
                (cpuEnd - cpuStart) / seconds, (processEnd - processStart) / seconds);
    std::printf("longest gap between passes: %.3f ms; longest pass: %.3f ms\n", Ms(longestIdleGap),
                Ms(longestPass));
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return lost == 0 && repeated == 0 ? 0 : 3;
}
