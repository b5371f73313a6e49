// Review benchmark: a file of about 239 MB (8 million rows) that is damaged at line 11, from the
// open to its refusal, with the memory that took; reading a saved 144000-sample test file back
// (every heading line and row checked, the loads converted), and the parsing alone on bytes
// already in memory; then the time to the first picture of a run opened again, from a test file and
// from a 144000-sample journal: the run read back and converted, its series handed to the chart and
// the chart painted once, as the main window's " Abrir" does. The files are in the page cache
// after the first round; what a cold disk adds is the disk's own reading of about 8 MB (the
// test file) or 2.3 MB (the journal).
//
// Usage: review_bench [file]   (default: a test file of 144000 random loads written by the
// export into the temporary folder and removed afterwards; 5 rounds, median and best)
// Run it with QT_QPA_PLATFORM=offscreen where there is no display.
#include <sys/resource.h>

#include <QApplication>
#include <QPixmap>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "app/MainWindow.h"
#include "archive/TestFileReader.h"
#include "archive/TestFileWriter.h"
#include "chart/LoadChart.h"
#include "journal/Journal.h"
#include "review/RunReview.h"
#include "station/FileErrorText.h"

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
    std::vector<LoadRecord> loads(count);
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
    if (const FileStatus written = WriteTestFile(path, heading, loads, ',', progress); !written) {
        std::fprintf(stderr, "%s\n", FileErrorText(*written.error).c_str());
        return false;
    }
    return true;
}

// A 144000-sample journal of four active plates, as a run writes it.
bool WriteJournal(const std::string& folder, std::string& path) {
    JournalDescription description;
    description.start = std::chrono::system_clock::now();
    description.frequency = 600;
    for (std::size_t i = 0; i < description.plates.size(); ++i) {
        description.plates[i] = {
            true, "/dev/ttyUSB" + std::to_string(i), {8000000.0, 1000.0, 0.0}, "kgf"};
    }
    std::mt19937 random(7);
    std::uniform_int_distribution<RawReading> count(7950000, 9500000);
    std::vector<RawRecord> records(kMaxSamples);
    for (RawRecord& record : records) {
        for (RawReading& v : record) {
            v = count(random);
        }
    }
    JournalWriter writer;
    if (!writer.Open(folder, description)) {
        const auto error = writer.TakeError();
        std::fprintf(stderr, "%s\n", error ? FileErrorText(*error).c_str() : "");
        return false;
    }
    writer.Append(records);
    path = writer.Path();
    return writer.Close(0);
}

// A heading, a tenth line that is not the blank line it must be, then `rows` good rows: what an
// export damaged early looks like.
bool WriteDamagedEarly(const std::string& path, std::size_t rows) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::perror(path.c_str());
        return false;
    }
    std::string text =
        "Avalia\xE7\xE3o;7;\r\nFrequ\xEAncia;600;\r\n;\r\nPlaca 1;COM3;\r\nPlaca 2;COM4;\r\n"
        "Placa 3;;\r\nPlaca 4;;\r\n;\r\nAm Geral;Am1: kgf;Am2: kgf;Am3: un.;Am4: un.;\r\n;\r\n"
        "x;1,000;2,000;3,000;4,000;\r\n";
    for (std::size_t n = 2; n <= rows; ++n) {
        text += std::to_string(n) + ";12,345;-0,020;0,000;;\r\n";
        if (text.size() > (1 << 20)) {
            std::fwrite(text.data(), 1, text.size(), file);
            text.clear();
        }
    }
    std::fwrite(text.data(), 1, text.size(), file);
    return std::fclose(file) == 0;
}

long PeakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Answers every message at once, keeping the last text.
class QuietDialogs : public Dialogs {
  public:
    DialogResult MessageBox(const std::string& text, const std::string& /*title*/,
                            DialogButtons /*buttons*/, DialogIcon /*icon*/) override {
        last = text;
        return DialogResult::Ok;
    }
    std::string InputBox(const std::string& /*title*/, const std::string& /*prompt*/,
                         const std::string& initialText, bool* cancelled) override {
        *cancelled = true;
        return initialText;
    }
    std::optional<std::string> SaveFile(const SaveFileRequest& /*request*/) override { return {}; }
    bool OpenWithAssociatedApplication(const std::string& /*path*/) override { return false; }
    std::string last;
};

class PathChooser : public RunChooser {
  public:
    explicit PathChooser(std::string path) : path_(std::move(path)) {}
    std::optional<std::string> Choose(const std::vector<RecentRun>& /*recent*/) override {
        return path_;
    }

  private:
    std::string path_;
};

// The main window's longest stall while " Abrir" opens `path`, from the click until the chart is
// painted: the longest gap between the ticks of a 1 ms timer on the window's thread.
double LongestStallOpening(MainWindow& window, const std::string& path) {
    window.SetRunChooser(std::make_unique<PathChooser>(path));
    auto last = Clock::now();
    Clock::duration longest{};
    QTimer ticker;
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        longest = std::max(longest, now - last);
        last = now;
    });
    bool opened = false;
    QTimer::singleShot(0, &window, [&] {
        window.OnOpenClicked();
        opened = true;
    });
    ticker.start();
    while (!opened) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    // The chart is painted once the window's events go on.
    for (const auto end = Clock::now() + std::chrono::milliseconds(200); Clock::now() < end;) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return std::chrono::duration<double>(longest).count();
}

// Opening a run again up to its first picture: read and convert, draw, paint.
Times FirstPicture(const std::string& path, LoadChart& chart, std::size_t& samples) {
    Times t;
    for (int round = 0; round < 5; ++round) {
        const auto t0 = Clock::now();
        const double cpu0 = CpuSeconds();
        StoredRun run;
        if (const FileStatus read = ReadStoredRun(path, run); !read) {
            std::fprintf(stderr, "%s\n", FileErrorText(*read.error).c_str());
            return {};
        }
        DrawRunLoads(chart, run.loads, run.active);
        const QPixmap picture = chart.grab();
        t.wall.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
        t.cpu.push_back(CpuSeconds() - cpu0);
        samples = run.loads.size();
        if (picture.isNull()) {
            std::fprintf(stderr, "the chart painted nothing\n");
            return {};
        }
    }
    return t;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    constexpr int kRounds = 5;
    const bool own = argc > 1;
    const std::string path =
        own ? argv[1]
            : (std::filesystem::temp_directory_path() / "kelvaro_review_bench.csv").string();
    if (!own && !WriteSample(path, kMaxSamples)) {
        return 1;
    }

    // First, while the process's peak memory is still its start-up's.
    const std::string damaged =
        (std::filesystem::temp_directory_path() / "kelvaro_review_bench_damaged.csv").string();
    if (!WriteDamagedEarly(damaged, 8000000)) {
        return 1;
    }
    const long peakBefore = PeakKilobytes();
    std::string refusal;
    const auto refusalStart = Clock::now();
    {
        TestFileContent content;
        const FileStatus read = ReadTestFile(damaged, content);
        refusal = read ? "" : FileErrorText(*read.error);
    }
    const double refusalSeconds =
        std::chrono::duration<double>(Clock::now() - refusalStart).count();
    const long peakGrowth = PeakKilobytes() - peakBefore;
    const auto damagedBytes = std::filesystem::file_size(damaged);

    Times read;
    std::size_t samples = 0;
    for (int round = 0; round < kRounds; ++round) {
        TestFileContent content;
        const auto t0 = Clock::now();
        const double cpu0 = CpuSeconds();
        if (const FileStatus whole = ReadTestFile(path, content); !whole) {
            std::fprintf(stderr, "%s\n", FileErrorText(*whole.error).c_str());
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
        (void)ParseTestFile(bytes, path, content);
        parse.wall.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
        parse.cpu.push_back(CpuSeconds() - cpu0);
    }
    LoadChart chart(kPlateCount);
    chart.resize(1052, 560);  // the main window's chart at its first size
    chart.show();
    QApplication::processEvents();
    std::size_t fileSamples = 0;
    const Times fileFirst = FirstPicture(path, chart, fileSamples);
    const std::string folder =
        (std::filesystem::temp_directory_path() / "kelvaro_review_bench_journal").string();
    std::filesystem::remove_all(folder);
    std::string journal;
    std::size_t journalSamples = 0;
    Times journalFirst;
    if (WriteJournal(folder, journal)) {
        journalFirst = FirstPicture(journal, chart, journalSamples);
    }
    std::filesystem::remove_all(folder);

    // The window itself: a station of its own in a temporary folder, its chart at the first size.
    const std::filesystem::path stationFolder =
        std::filesystem::temp_directory_path() / "kelvaro_review_bench_station";
    std::filesystem::remove_all(stationFolder);
    double fileStall = 0;
    double damagedStall = 0;
    std::string damagedTold;
    {
        QuietDialogs dialogs;
        MainWindow window(dialogs,
                          MainWindowOptions{(stationFolder / "Tovamu.Kelvaro.ini").string(),
                                            QString::fromStdString(stationFolder.string()), false,
                                            (stationFolder / "journal").string()});
        window.show();
        QApplication::processEvents();
        for (int round = 0; round < kRounds; ++round) {
            fileStall = std::max(fileStall, LongestStallOpening(window, path));
            damagedStall = std::max(damagedStall, LongestStallOpening(window, damaged));
        }
        damagedTold = dialogs.last;
    }
    std::filesystem::remove_all(stationFolder);
    std::filesystem::remove(damaged);
    if (!own) {
        std::filesystem::remove(path);
    }
    if (fileFirst.wall.empty() || journalFirst.wall.empty()) {
        return 1;
    }

    const double megabytes = static_cast<double>(bytes.size()) / 1e6;
    std::printf("review: %s, %zu bytes, %zu samples read, %d rounds\n", path.c_str(), bytes.size(),
                samples, kRounds);
    std::printf(
        "damaged at line 11, %ju bytes: refused after %.1f ms wall, peak memory grew %.1f MB "
        "(\"%.60s\")\n",
        static_cast<std::uintmax_t>(damagedBytes), refusalSeconds * 1e3,
        static_cast<double>(peakGrowth) / 1024.0, refusal.c_str());
    std::printf(
        "the window's longest stall in \" Abrir\" (%d rounds): %.1f ms for the %zu-sample file, "
        "%.1f ms for the damaged one (\"%.40s\")\n",
        kRounds, fileStall * 1e3, samples, damagedStall * 1e3, damagedTold.c_str());
    Print("read the file (open, read, check, convert)", read, megabytes);
    Print("parse alone (bytes in memory)", parse, megabytes);
    std::printf(
        "first picture of the test file, %zu samples: median %.1f ms wall, %.1f ms cpu; "
        "best %.1f ms; first round %.1f ms\n",
        fileSamples, Median(fileFirst.wall) * 1e3, Median(fileFirst.cpu) * 1e3,
        Least(fileFirst.wall) * 1e3, fileFirst.wall.front() * 1e3);
    std::printf(
        "first picture of a journal, %zu samples: median %.1f ms wall, %.1f ms cpu; "
        "best %.1f ms; first round %.1f ms\n",
        journalSamples, Median(journalFirst.wall) * 1e3, Median(journalFirst.cpu) * 1e3,
        Least(journalFirst.wall) * 1e3, journalFirst.wall.front() * 1e3);
    return 0;
}
