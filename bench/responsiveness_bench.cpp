// How long the windows stand frozen while plates are looked for and read: the communication
// screen with three dead ports among four plates, and the calibration screen's live reading of
// four silent plates. Prints the longest time the event loop could not keep a 5 ms heartbeat.
//
// Then, with other processes holding 150,000 descriptors open on the machine (or the number
// given: responsiveness_bench [descriptors]): the communication screen's search over four free
// ports, a test of four plates at 600 Hz (the look for programs on the plates' ports once a
// second), the test start-up, and the calibration screen's plate preparation against a silent
// plate. Each is set against the same work done the way the
// station did it before, blocking the window, measured in the same run.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "BenchFakes.h"
#include "calibration/CalibrationScreen.h"
#include "device/ChannelSlot.h"
#include "device/PlateCommands.h"
#include "device/PortHolders.h"
#include "device/SerialChannel.h"
#include "discovery/CommunicationScreen.h"
#include "discovery/PlateFinder.h"
#include "plate-sim/VirtualPlate.h"
#include "run/TestRun.h"
#include "settings/SettingsStore.h"

namespace kelvaro {
namespace {

using bench::BenchDialogs;
using bench::NullChart;
using bench::NullProgress;

struct Stall {
    long long longestMs = 0;
    long long elapsedMs = 0;
};

// Runs the event loop until `done` or `timeoutMs`, measuring the longest heartbeat gap.
Stall RunEvents(const std::function<bool()>& done, int timeoutMs) {
    QEventLoop loop;
    QElapsedTimer clock;
    QElapsedTimer sinceBeat;
    clock.start();
    sinceBeat.start();
    Stall stall;
    QTimer beat;
    beat.setTimerType(Qt::PreciseTimer);
    beat.setInterval(5);
    QObject::connect(&beat, &QTimer::timeout, &loop, [&] {
        stall.longestMs = std::max(stall.longestMs, sinceBeat.restart());
        if (done() || clock.elapsed() >= timeoutMs) {
            loop.quit();
        }
    });
    beat.start();
    loop.exec();
    stall.elapsedMs = clock.elapsed();
    return stall;
}

// Child processes that hold `total` descriptors open between them (each below its own limit),
// until the object goes.
class DescriptorHolders {
  public:
    explicit DescriptorHolders(int total) {
        rlimit limit{};
        getrlimit(RLIMIT_NOFILE, &limit);
        const int each = static_cast<int>(std::min<rlim_t>(limit.rlim_max, 1 << 20)) - 64;
        for (int left = total; left > 0 && each > 0; left -= each) {
            const int count = std::min(left, each);
            int ready[2];
            if (pipe(ready) != 0) {
                return;
            }
            const pid_t pid = fork();
            if (pid == 0) {
                close(ready[0]);
                rlimit raised = limit;
                raised.rlim_cur = raised.rlim_max;
                setrlimit(RLIMIT_NOFILE, &raised);
                const int null = open("/dev/null", O_RDONLY);
                int opened = 0;
                while (opened < count && dup(null) >= 0) {
                    ++opened;
                }
                const char done = opened == count ? 'y' : 'n';
                (void)!write(ready[1], &done, 1);
                for (;;) {
                    pause();
                }
            }
            close(ready[1]);
            char done = 'n';
            (void)!read(ready[0], &done, 1);
            close(ready[0]);
            pids_.push_back(pid);
            held_ += done == 'y' ? count : 0;
        }
    }
    ~DescriptorHolders() {
        for (const pid_t pid : pids_) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    DescriptorHolders(const DescriptorHolders&) = delete;
    DescriptorHolders& operator=(const DescriptorHolders&) = delete;
    int Held() const { return held_; }
    std::size_t Processes() const { return pids_.size(); }

  private:
    std::vector<pid_t> pids_;
    int held_ = 0;
};

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// The main window as the test run sees it: the pass on a zero-interval timer, the start-up's
// steps on a single-shot one; records the longest pass.
class RunView : public TestRunView {
  public:
    RunView() {
        idle_.setInterval(0);
        QObject::connect(&idle_, &QTimer::timeout, [this] {
            const auto start = std::chrono::steady_clock::now();
            run->ReadSamples();
            longestPassMs = std::max(longestPassMs, MillisecondsSince(start));
        });
        startUp_.setSingleShot(true);
        startUp_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&startUp_, &QTimer::timeout, [this] { run->ContinueStartUp(); });
    }
    void SetStatusText(const std::string&, bool) override {}
    void ShowRunState(RunState) override {}
    void EnableButtons(bool) override {}
    void StartIdlePass() override { idle_.start(); }
    void StopIdlePass() override { idle_.stop(); }
    void ScheduleStartUpStep(int delayMs) override { startUp_.start(delayMs); }
    bool EscapeHeld() override { return false; }
    ChartSink& Chart() override { return chart_; }
    LiveChartSink& LiveChart() override { return liveChart_; }
    void RunFinished(StoredRun) override {}

    TestRun* run = nullptr;
    double longestPassMs = 0;

  private:
    QTimer idle_;
    QTimer startUp_;
    NullChart chart_;
    bench::ReadingLiveChart liveChart_;
};

void Ratio(const char* what, double before, double after) {
    std::printf("  %-44s before %8.1f ms   now %8.1f ms   now/before %.3f   now/100 ms %.2f\n",
                what, before, after, before > 0 ? after / before : 0.0, after / 100.0);
}

// The plates' start-up as the station made it before, one blocking call after another: per
// plate the look for holders and the open, Stop and a quiet line, purge, Identify, Configure.
double BlockingStartUp(const std::vector<std::string>& ports) {
    const auto start = std::chrono::steady_clock::now();
    std::vector<ChannelSlot> channels(ports.size());
    for (std::size_t i = 0; i < ports.size(); ++i) {
        if (!OpenPlateChannel(channels[i], ports[i], 4096)) {
            std::printf("  (blocking start-up: plate %zu did not open)\n", i + 1);
            continue;
        }
        channels[i]->SetDTR(false);
        SendStop(*channels[i]);
        DiscardUntilQuiet(*channels[i], kStopSettleMs, kReplyTimeoutMs);
        PurgeChannel(channels[i]);
        channels[i]->SetDTR(true);
        (void)IdentifyPlate(*channels[i]);
        (void)ConfigurePlate(*channels[i], 600, kModeTest);
    }
    const double ms = MillisecondsSince(start);
    for (ChannelSlot& slot : channels) {
        CloseChannel(slot);
    }
    return ms;
}

// The communication screen's search over free ports with the look for other holders, against
// the way the station made it before: every probed port opened at once in one blocking call,
// each open looking through /proc itself.
bool SearchWithManyDescriptors(const std::filesystem::path& dir,
                               const std::vector<std::unique_ptr<sim::VirtualPlate>>& plates) {
    const std::string folder = (dir / "search-ports").string();
    std::vector<std::string> names;
    for (std::size_t n = 0; n < plates.size(); ++n) {
        names.push_back(plates[n]->Publish(folder, "COM" + std::to_string(n + 1)));
    }
    double blockingMs = 0;
    {
        std::vector<ChannelSlot> probes(names.size());
        const auto start = std::chrono::steady_clock::now();
        for (std::size_t i = 0; i < names.size(); ++i) {
            (void)OpenPlateChannel(probes[i], names[i], kFinderQueueSize);
        }
        blockingMs = MillisecondsSince(start);
        for (ChannelSlot& probe : probes) {
            if (probe) {
                probe->Release();
            }
        }
    }
    StationState state;
    state.config.settingsPath = (dir / "search.ini").string();
    state.config.portRoots = {(dir / "sys" / "class" / "tty").string(), (dir / "dev").string(),
                              folder};
    {
        SettingsStore store(state.config.settingsPath);
        for (int n = 1; n <= kPlateCount; ++n) {
            store.WriteBool(kSettingsSection, "check" + std::to_string(n), true);
        }
        store.Close();
    }
    BenchDialogs dialogs;
    CommunicationScreen screen(state, dialogs, nullptr);
    screen.show();
    const auto allFound = [&] {
        return std::all_of(state.located.begin(), state.located.end(),
                           [](bool found) { return found; });
    };
    const Stall search = RunEvents(allFound, 60000);
    screen.close();
    std::printf("communication screen, search over 4 free ports (all found after %lld ms%s):\n",
                search.elapsedMs, allFound() ? "" : ", NOT all found");
    Ratio("longest stall while searching", blockingMs, static_cast<double>(search.longestMs));
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        CloseChannel(state.links.Slot(plate));
    }
    return allFound();
}

int MachineWithManyDescriptors(const std::filesystem::path& dir, int descriptors) {
    DescriptorHolders holders(descriptors);
    std::printf("\nwith %d descriptors held open by %zu other processes:\n", holders.Held(),
                holders.Processes());
    std::vector<std::unique_ptr<sim::VirtualPlate>> plates;
    std::vector<std::string> ports;
    for (int n = 1; n <= kPlateCount; ++n) {
        plates.push_back(std::make_unique<sim::VirtualPlate>());
        ports.push_back(plates.back()->DevicePath());
    }

    // The look itself, as the pass made it once a second and the start-up once per plate.
    double scanMs = 0;
    for (int i = 0; i < 3; ++i) {
        const auto start = std::chrono::steady_clock::now();
        FindPortHolders(ports);
        scanMs = std::max(scanMs, MillisecondsSince(start));
    }
    const bool searched = SearchWithManyDescriptors(dir, plates);

    BenchDialogs dialogs;
    NullProgress progress;
    StationState state;
    state.config.settingsPath = (dir / "run.ini").string();
    {
        SettingsStore store(state.config.settingsPath);
        for (int n = 1; n <= kPlateCount; ++n) {
            const std::string k = std::to_string(n);
            store.WriteString(kSettingsSection, "check" + k, "1");
            store.WriteString(kSettingsSection, "Porta" + k,
                              ports[static_cast<std::size_t>(n - 1)]);
            store.WriteString(kSettingsSection, "FrequenciaP" + k, "600");
        }
        store.WriteString(kSettingsSection, "Frequencia", "600");
        store.Close();
    }
    RunView view;
    RunArchive archive(state, dialogs, progress, (dir / "Exportados").string());
    TestRun run(state, dialogs, view, archive);
    view.run = &run;

    const double blockingStartUpMs = BlockingStartUp(ports);
    QTimer::singleShot(0, [&] { run.OnStartClicked(); });
    const Stall startUp = RunEvents([&] { return run.IsRunning() || !run.IsStartingUp(); }, 30000);
    const bool running = run.IsRunning();
    view.longestPassMs = 0;
    const Stall during = RunEvents([&] { return !run.IsRunning(); }, 5000);
    const int samples = run.Samples().Count();
    if (running) {
        run.OnStartClicked();  // " Parar"; the save is declined
    }
    std::printf("a test of 4 plates at 600 Hz, 5 s (%d samples%s):\n", samples,
                running ? "" : ", DID NOT START");
    Ratio("look for holders, once a second (pass)", scanMs, static_cast<double>(during.longestMs));
    std::printf("  %-44s %8.1f ms\n", "longest pass", view.longestPassMs);
    std::printf("test start-up of 4 plates (%lld ms in all):\n", startUp.elapsedMs);
    Ratio("longest stall", blockingStartUpMs, static_cast<double>(startUp.longestMs));

    // The calibration screen's preparation for Zerar against a plate that never answers.
    plates[0]->Inject({sim::FaultKind::Silence, 0});
    double blockingPreparationMs = 0;
    {
        ChannelSlot slot;
        const auto start = std::chrono::steady_clock::now();
        if (OpenPlateChannel(slot, ports[0], 4096)) {
            slot->SetDTR(false);
            slot->Purge();
            slot->SetDTR(true);
            (void)IdentifyPlate(*slot);
        }
        blockingPreparationMs = MillisecondsSince(start);
        CloseChannel(slot);
    }
    StationState calibrationState;
    calibrationState.config.settingsPath = (dir / "run.ini").string();
    bool firstActivation = false;
    CalibrationScreen screen(calibrationState, dialogs, progress, firstActivation, nullptr);
    screen.show();
    RunEvents([] { return false; }, 300);
    QTimer::singleShot(0, [&] { screen.OnZeroClicked(1); });
    bool begun = false;
    const Stall preparation = RunEvents(
        [&] {
            begun = begun || screen.Preparing();
            return begun && !screen.Preparing();
        },
        10000);
    screen.close();
    std::printf("calibration screen, Zerar on a silent plate (%lld ms in all):\n",
                preparation.elapsedMs);
    Ratio("longest stall", blockingPreparationMs, static_cast<double>(preparation.longestMs));
    return running && searched ? 0 : 1;
}

int Run(int descriptors) {
    char pattern[] = "/tmp/kelvaro-responsiveness-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::filesystem::path dir(pattern);
    std::filesystem::create_directories(dir / "sys" / "class" / "tty");
    std::filesystem::create_directories(dir / "dev");
    const std::string ports = (dir / "ports").string();

    std::vector<std::unique_ptr<sim::VirtualPlate>> plates;
    std::vector<std::string> plateDevices;
    for (int n = 1; n <= kPlateCount; ++n) {
        plates.push_back(std::make_unique<sim::VirtualPlate>());
        plates.back()->Publish(ports, "COM" + std::to_string(n));
        plateDevices.push_back(plates.back()->DevicePath());
    }
    for (const char* name : {"COM15", "COM25", "COM35"}) {
        plates.push_back(std::make_unique<sim::VirtualPlate>());
        plates.back()->Inject({sim::FaultKind::Silence, 0});
        plates.back()->Publish(ports, name);
    }

    BenchDialogs dialogs;
    int result = 0;
    {
        StationState state;
        state.config.settingsPath = (dir / "settings.ini").string();
        state.config.portRoots = {(dir / "sys" / "class" / "tty").string(), (dir / "dev").string(),
                                  ports};
        {
            SettingsStore store(state.config.settingsPath);
            for (int n = 1; n <= kPlateCount; ++n) {
                store.WriteBool(kSettingsSection, "check" + std::to_string(n), true);
            }
            store.Close();
        }
        CommunicationScreen screen(state, dialogs, nullptr);
        screen.show();
        const auto allFound = [&] {
            return std::all_of(state.located.begin(), state.located.end(),
                               [](bool found) { return found; });
        };
        const Stall search = RunEvents(allFound, 15000);
        const Stall checks = RunEvents([] { return false; }, 4000);
        std::printf("communication screen, 4 plates and 3 dead ports (7 ports):\n");
        std::printf("  all four plates found after      %6lld ms%s\n", search.elapsedMs,
                    allFound() ? "" : " (NOT all found)");
        std::printf("  longest stall while searching    %6lld ms\n", search.longestMs);
        std::printf("  longest stall over 2 more passes %6lld ms\n", checks.longestMs);
        result = allFound() ? 0 : 1;
        screen.close();
    }
    for (int n = 1; n <= kPlateCount; ++n) {
        plates[static_cast<std::size_t>(n - 1)]->Inject({sim::FaultKind::Silence, 0});
    }
    {
        StationState state;
        state.config.settingsPath = (dir / "calibration.ini").string();
        bool firstActivation = false;
        {
            SettingsStore store(state.config.settingsPath);
            for (int n = 1; n <= kPlateCount; ++n) {
                const std::string k = std::to_string(n);
                store.WriteBool(kSettingsSection, "check" + k, true);
                store.WriteString(kSettingsSection, "Porta" + k,
                                  plateDevices[static_cast<std::size_t>(n - 1)]);
            }
            store.Close();
        }
        NullProgress progress;
        CalibrationScreen screen(state, dialogs, progress, firstActivation, nullptr);
        screen.show();
        const Stall reading = RunEvents([] { return false; }, 4000);
        std::printf("calibration screen, 4 silent plates, 4 s of live reading:\n");
        std::printf("  longest stall                    %6lld ms\n", reading.longestMs);
        std::printf("  plate 1 shows                    %s / %s\n",
                    screen.Plate(1).readingField->text().toStdString().c_str(),
                    screen.Plate(1).convertedLoadField->text().toStdString().c_str());
        screen.close();
    }
    plates.clear();
    if (descriptors > 0) {
        result = std::max(result, MachineWithManyDescriptors(dir, descriptors));
    }
    std::filesystem::remove_all(dir);
    return result;
}

}  // namespace
}  // namespace kelvaro

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    // The plates here are virtual: their pseudo-terminals stand for serial ports.
    kelvaro::AllowPseudoTerminalPorts(true);
    const int descriptors = argc > 1 ? std::atoi(argv[1]) : 150000;
    return kelvaro::Run(descriptors);
}
