// Soak benchmark: three full tests back to back in one process, each through the real start-up
// and the real idle pass on a Qt event loop, over four virtual plates at 600 Hz in counter mode.
// Per run it prints the frames lost or repeated (must be 0) and the resident memory and open
// file descriptors before and after, so a leak shows as a figure that climbs run after run.
//
// Usage: soak_bench [samples]   (default 144000 per run, which takes 240 s at 600 Hz)
#include <dirent.h>

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "plate-sim/VirtualPlate.h"
#include "settings/SettingsStore.h"
#include "test/TestRun.h"

namespace {

using namespace kelvaro;

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
        *cancelled = true;
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
    std::uint64_t lost, repeated;
    double seconds;
};

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
    constexpr int kRuns = 3;

    std::string folder = (std::filesystem::temp_directory_path() / "kelvaro-soak-XXXXXX").string();
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
    // One state and one test run for all three, as the main window keeps them.
    TestRun run(state, dialogs, progress, view, folder);
    QObject::connect(&idle, &QTimer::timeout, [&] {
        run.LerAmostras();
        if (!run.TesteRodando()) {
            app.quit();
        }
    });

    std::printf("soak: %d runs of %d samples, %d plates at %d Hz in counter mode\n", kRuns, samples,
                kPlateCount, kFrequency);
    std::array<Figures, kRuns> figures{};
    bool clean = true;
    for (int r = 0; r < kRuns; ++r) {
        Figures& f = figures[static_cast<std::size_t>(r)];
        f.rssBefore = ResidentKiB();
        f.fdsBefore = OpenDescriptors();
        const auto start = std::chrono::steady_clock::now();
        bool started = true;
        QTimer::singleShot(0, [&] {
            run.btIniciarClick();
            if (!run.TesteRodando()) {
                started = false;
                app.exit(1);
            }
        });
        if (app.exec() != 0 || !started) {
            std::fprintf(stderr, "run %d: the start-up failed\n", r + 1);
            return 1;
        }
        f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        f.samples = state.NumAmostras;
        for (std::size_t p = 0; p < kPlateCount; ++p) {
            for (int k = 1; k < state.NumAmostras; ++k) {
                const double step = (*state.Amostras)[static_cast<std::size_t>(k)][p] -
                                    (*state.Amostras)[static_cast<std::size_t>(k - 1)][p];
                if (step > 1) {
                    f.lost += static_cast<std::uint64_t>(step - 1);
                } else if (step < 1) {
                    ++f.repeated;
                }
            }
        }
        f.rssAfter = ResidentKiB();
        f.fdsAfter = OpenDescriptors();
        clean = clean && f.lost == 0 && f.repeated == 0 && f.samples == samples;
        std::printf(
            "run %d: %d samples in %.2f s; frames lost %llu, repeated %llu (must be 0); "
            "VmRSS %ld -> %ld KiB; open fds %d -> %d\n",
            r + 1, f.samples, f.seconds, static_cast<unsigned long long>(f.lost),
            static_cast<unsigned long long>(f.repeated), f.rssBefore, f.rssAfter, f.fdsBefore,
            f.fdsAfter);
    }
    std::printf("across the runs: VmRSS %+ld KiB, open fds %+d (after run 1 to after run %d)\n",
                figures.back().rssAfter - figures.front().rssAfter,
                figures.back().fdsAfter - figures.front().fdsAfter, kRuns);
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return clean ? 0 : 3;
}
