// Replays a recorded test through the station's own conversion, chart feed and export, so two
// builds can be checked for the same bytes: the exported file, and the chart's series as text.
//
// Usage: replay_export generate RECORDING [samples] [seed]   writes a recording of noisy plates
//        replay_export RECORDING OUT.csv OUT-chart.txt        converts, draws and saves it
//
// A recording is text: "key=value" settings lines (check1, Porta1, sp1, idc1, t1, u1 ... Teste,
// Frequencia), a line "samples", then one line per sample of four raw readings: 24-bit counts as
// a plate sends them, or "-" for a reading the plate did not deliver.
#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <array>
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "BenchFakes.h"
#include "archive/RunArchive.h"
#include "device/SerialChannel.h"
#include "run/TestRun.h"
#include "settings/SettingsStore.h"
#include "station/StationState.h"

namespace {

using namespace kelvaro;

// Says yes to the save and names the file; any other message is printed.
class ReplayDialogs : public bench::BenchDialogs {
  public:
    explicit ReplayDialogs(std::string path) : path_(std::move(path)) {}
    DialogResult MessageBox(const std::string& text, const std::string& caption,
                            DialogButtons buttons, DialogIcon icon) override {
        if (buttons == DialogButtons::YesNo) {
            return DialogResult::Yes;
        }
        return BenchDialogs::MessageBox(text, caption, buttons, icon);
    }
    std::optional<std::string> SaveFile(const SaveFileRequest&) override { return path_; }

  private:
    std::string path_;
};

// Keeps every call as a line of text, numbers with all their digits.
class TextChart : public ChartSink {
  public:
    std::string text;
    void ClearSeries(int series) override { Line("clear %d", series); }
    void SetSeriesPoints(int series, std::vector<ChartPoint> points) override {
        Line("series %d: %zu points", series, points.size());
        for (const ChartPoint& p : points) {
            Line("%.17g %.17g", p.x, p.y);
        }
    }
    void SetLeftAxisMaximum(double value) override { Line("maximum %.17g", value); }
    void SetLeftAxisMinimum(double value) override { Line("minimum %.17g", value); }
    void SetSeriesTitle(int series, const std::string& title) override {
        Line("title %d %s", series, title.c_str());
    }
    void SetSeriesInLegend(int series, bool listed) override {
        Line("legend %d %d", series, listed ? 1 : 0);
    }
    void SetLegendVisible(bool visible) override { Line("legend %d", visible ? 1 : 0); }

  private:
    template <typename... Args>
    void Line(const char* format, Args... args) {
        char buffer[128];
        std::snprintf(buffer, sizeof buffer, format, args...);
        text += buffer;
        text += '\n';
    }
};

class ReplayView : public TestRunView {
  public:
    void SetStatusText(const std::string&, bool) override {}
    void ShowRunState(RunState) override {}
    void EnableButtons(bool) override {}
    void StartIdlePass() override {}
    void StopIdlePass() override {}
    void ScheduleStartUpStep(int) override {}
    bool EscapeHeld() override { return false; }
    ChartSink& Chart() override { return chart; }
    LiveChartSink& LiveChart() override { return liveChart; }
    void RunFinished(StoredRun /*run*/) override {}
    TextChart chart;
    bench::ReadingLiveChart liveChart;  // a replay never runs live
};

int Generate(const std::string& path, int samples, unsigned seed) {
    std::ofstream out(path, std::ios::binary);
    // Plate 3 idle; indexes, offsets and tares with decimals, one negative index.
    out << "check1=1\ncheck2=1\ncheck3=0\ncheck4=1\n"
           "Porta1=/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0\n"
           "Porta2=/dev/ttyUSB1\nPorta3=/dev/ttyUSB2\nPorta4=/dev/ttyS0\n"
           "sp1=8388123,5\nidc1=104,8576\nt1=0\nu1=kgf\n"
           "sp2=1520\nidc2=-12,3456\nt2=2,75\nu2=N\n"
           "sp3=0\nidc3=1\nt3=0\nu3=un.\n"
           "sp4=0,0001\nidc4=0,0007\nt4=-1500,125\nu4=lbf; \"x\"\n"
           "Teste=41\nFrequencia=600\nsamples\n";
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, 40.0);
    // Plate 4 sits at the bottom of its range half the time (genuine zeros) and misses one
    // reading in 1000, as a damaged report would.
    for (int s = 0; s < samples; ++s) {
        const double step = (s / 3000) % 2 ? 52000.0 : 0.0;
        const long long r1 = std::llround(8388123 + step + noise(random));
        const long long r2 = std::llround(1520 + step / 7 + noise(random));
        const long long r3 = std::llround(std::fabs(noise(random)));
        const long long r4 = std::max(0LL, std::llround(std::sin(s / 500.0) * 1e6 + noise(random)));
        out << r1 << ' ' << r2 << ' ' << r3 << ' ';
        if (s % 1000 == 999) {
            out << "-\n";
        } else {
            out << r4 << '\n';
        }
    }
    return out.good() ? 0 : 1;
}

int Replay(const std::string& recording, const std::string& csv, const std::string& chartText) {
    std::ifstream in(recording);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", recording.c_str());
        return 1;
    }
    std::string folder = (std::filesystem::temp_directory_path() / "kelvaro-replay-XXXXXX");
    if (mkdtemp(folder.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    StationState state;
    state.config.settingsPath = folder + "/settings.ini";
    state.config.decimalSeparator = ',';
    std::string line;
    {
        SettingsStore store(state.config.settingsPath);
        while (std::getline(in, line) && line != "samples") {
            const auto equals = line.find('=');
            const std::string key = line.substr(0, equals);
            const std::string value = line.substr(equals + 1);
            store.WriteString(kSettingsSection, key, value);
            if (key.rfind("check", 0) == 0) {
                state.config.plateActive.at(std::stoul(key.substr(5)) - 1) = value == "1";
            } else if (key.rfind("Porta", 0) == 0) {
                state.config.platePort.at(std::stoul(key.substr(5)) - 1) = value;
            } else if (key == "Frequencia") {
                state.config.testFrequency = std::stoi(value);
            }
        }
        if (!store.Close()) {
            std::fprintf(stderr, "settings could not be written\n");
            return 1;
        }
    }
    ReplayDialogs dialogs(csv);
    bench::NullProgress progress;
    ReplayView view;
    RunArchive archive(state, dialogs, progress, folder);
    TestRun run(state, dialogs, view, archive);
    SampleStore& samples = run.Samples();
    std::array<std::string, kPlateCount> fields;
    while (!samples.Full() && in >> fields[0] >> fields[1] >> fields[2] >> fields[3]) {
        RawRecord record;
        record.fill(kMissingReading);
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (fields[i] == "-") {
                continue;  // missing
            }
            const std::string& field = fields[i];
            RawReading count = 0;
            const auto [end, error] =
                std::from_chars(field.data(), field.data() + field.size(), count);
            if (error != std::errc() || end != field.data() + field.size() || count > 0xFFFFFF) {
                std::fprintf(stderr, "%s: %s is not a 24-bit reading\n", recording.c_str(),
                             fields[i].c_str());
                return 1;
            }
            record[i] = count;
        }
        samples.Append(record);
    }
    const int count = samples.Count();
    if (!run.ReadCalibration()) {
        return 1;
    }
    run.DrawChart();
    StoredRun replayed;
    replayed.loads.assign(samples.Loads().begin(), samples.Loads().end());
    archive.SaveStoppedRun(std::move(replayed), nullptr);
    std::ofstream(chartText, std::ios::binary) << view.chart.text;
    std::filesystem::remove_all(folder);
    std::printf("replayed %d samples into %s and %s\n", count, csv.c_str(), chartText.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc >= 3 && std::string(argv[1]) == "generate") {
        const int samples = argc > 3 ? std::atoi(argv[3]) : kMaxSamples;
        const unsigned seed = argc > 4 ? static_cast<unsigned>(std::atoi(argv[4])) : 42U;
        return Generate(argv[2], std::clamp(samples, 1, kMaxSamples), seed);
    }
    if (argc == 4) {
        return Replay(argv[1], argv[2], argv[3]);
    }
    std::fprintf(stderr,
                 "usage: replay_export generate RECORDING [samples] [seed]\n"
                 "       replay_export RECORDING OUT.csv OUT-chart.txt\n");
    return 2;
}
