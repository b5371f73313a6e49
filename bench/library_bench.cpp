// Library benchmark: a library of 10,000 tests (what each was about and its whole-run figures for
// all, the raw readings of 144000 noisy samples for 20 of them), then the library window's work
// on it: opening the file with its first page of tests, each kind of search, and reading a full
// stored test back as loads; and the recording of a full saved test. A search is timed as the
// window asks it (its first page of 100 and the count of matches) and as one list of every match.
// Every time is the median of several and printed with its ratio against a floor measured in the
// same run: a fresh connection counting the tests, the same count on an open one, every row's
// listed columns read on a bare connection, the stored readings' bytes read and uncompressed
// alone, and the packing of a test's raw readings alone.
// Then, on screen (offscreen): the library window made, its first search shown and painted, against
// the same search on a bare store; and a stored 144000-sample test read and drawn to its first
// picture, against drawing the same loads already in memory.
// Usage: library_bench [tests] [folder]   (default 10000 in a new /var/tmp folder; a library
// already in `folder` is measured as it is)
#include <QApplication>
#include <QByteArray>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "BenchFakes.h"
#include "archive/StoredRun.h"
#include "chart/LoadChart.h"
#include "library/LibraryCodec.h"
#include "library/LibraryStore.h"
#include "library/LibraryWindow.h"
#include "library/LibraryWorker.h"

namespace {

using namespace kelvaro;
using Clock = std::chrono::steady_clock;

constexpr int kRepeats = 15;
constexpr int kFullRuns = 20;
constexpr int kPageRows = 100;

double Median(const std::function<void()>& work, int repeats = kRepeats) {
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
        const Clock::time_point from = Clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - from).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

const std::array<const char*, 16> kFirstNames = {
    "João",  "Maria",  "José",  "Ana",     "Antônio", "Francisca", "Carlos", "Luíza",
    "Paulo", "Márcia", "Pedro", "Adriana", "Lucas",   "Juliana",   "Mateus", "Patrícia"};
const std::array<const char*, 12> kLastNames = {"Silva",     "Santos",   "Oliveira", "Souza",
                                                "Rodrigues", "Ferreira", "Alves",    "Pereira",
                                                "Lima",      "Gomes",    "Ribeiro",  "Conceição"};
const std::array<const char*, 8> kProtocols = {"Salto vertical", "CMJ",    "Agachamento",
                                               "Equilíbrio",     "Marcha", "Peça - compressão",
                                               "Drop jump",      "SJ"};
const std::array<const char*, 8> kWords = {"dor",  "joelho",     "pré-temporada", "retorno",
                                           "lote", "calibração", "repetição",     "fadiga"};

// A run as the station ends it: four plates of counts around their zero, a person stepping on
// and off, and noise in every reading.
LibraryRun MakeRun(int index, int samples, std::mt19937& random) {
    LibraryRun run;
    run.runId = NewRunId();
    run.start = std::chrono::system_clock::time_point(std::chrono::hours(490000) +
                                                      std::chrono::minutes(index * 137));
    run.frequency = index % 3 == 0 ? 600 : 300;
    run.active = {true, true, index % 2 == 0, index % 2 == 0};
    run.units = {"kgf", "kgf", "kgf", "kgf"};
    run.ports = {"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB2", "/dev/ttyUSB3"};
    run.testNumber = index % 4 == 3 ? 0 : index + 1;
    run.metadata.evaluated = std::string(kFirstNames[random() % kFirstNames.size()]) + " " +
                             kLastNames[random() % kLastNames.size()] + " " +
                             std::to_string(random() % 40);
    run.metadata.protocol = kProtocols[random() % kProtocols.size()];
    for (int w = 0; w < 12; ++w) {
        run.metadata.notes += std::string(kWords[random() % kWords.size()]) + (w == 3 ? "\n" : " ");
    }
    std::normal_distribution<double> noise(0.0, 200.0);
    const double height = 100.0 + static_cast<double>(random() % 900);
    for (int p = 0; p < kPlateCount; ++p) {
        run.calibration[p] = {8'000'000.0 + 1000.0 * p, 2000.0 + 10.0 * p, 0.0};
    }
    run.raw.resize(static_cast<std::size_t>(samples));
    for (int k = 0; k < samples; ++k) {
        const double pulse = std::max(0.0, std::sin(k / 600.0 * 0.7));
        for (int p = 0; p < kPlateCount; ++p) {
            run.raw[k][p] = static_cast<RawReading>(
                std::lround(run.calibration[p].zeroOffset +
                            run.calibration[p].index * height * pulse / 4 + noise(random)));
        }
    }
    return run;
}

void Report(const char* what, double ms, double floorMs, const char* target) {
    std::printf("%-44s %9.2f ms  %7.1fx floor  (target %s)\n", what, ms, ms / floorMs, target);
}

}  // namespace

// Runs the window's events until `done`, at most 30 s.
bool Await(const std::function<bool()>& done) {
    QElapsedTimer waited;
    waited.start();
    while (!done() && waited.elapsed() < 30000) {
        QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    }
    return done();
}

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    const int tests = argc > 1 ? std::atoi(argv[1]) : 10000;
    std::string folder;
    if (argc > 2) {
        folder = argv[2];
    } else {
        std::string pattern = "/var/tmp/kelvaro-library-bench-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            return 1;
        }
        folder = pattern;
    }
    const std::string path = folder + "/library.sqlite";
    std::mt19937 random(21);
    std::vector<RunId> full;
    // A library built by an earlier invocation in the same folder is measured again as it is.
    if (!std::filesystem::exists(path)) {
        LibraryStore store;
        if (LibraryStatus opened = store.Open(path); !opened) {
            std::fprintf(stderr, "cannot open %s: %s\n", path.c_str(), opened.nativeText.c_str());
            return 1;
        }
        const Clock::time_point from = Clock::now();
        for (int i = 0; i < tests; ++i) {
            const bool isFull =
                i % (tests / kFullRuns) == 0 && static_cast<int>(full.size()) < kFullRuns;
            LibraryRun run = MakeRun(i, isFull ? kMaxSamples : 600, random);
            if (isFull) {
                run.testNumber = i + 1;
                full.push_back(run.runId);
            }
            if (LibraryStatus recorded = store.RecordRun(run); !recorded) {
                std::fprintf(stderr, "record %d: %s\n", i, recorded.nativeText.c_str());
                return 1;
            }
        }
        std::printf("library of %d tests (%zu of %d samples) built in %.1f s: %s, %.1f MB\n", tests,
                    full.size(), kMaxSamples,
                    std::chrono::duration<double>(Clock::now() - from).count(), path.c_str(),
                    static_cast<double>(std::filesystem::file_size(path)) / 1e6);
    }

    // Floors: the least a query of the library can cost, on a bare connection of the same file.
    double freshCount = 0.0;
    double count = 0.0;
    double blobRead = 0.0;
    double rowsRead = 0.0;
    {
        int round = 0;
        freshCount = Median([&] {
            const QString name = QString("floor-%1").arg(round++);
            {
                QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", name);
                db.setDatabaseName(QString::fromStdString(path));
                db.open();
                QSqlQuery query("SELECT count(*) FROM runs", db);
                query.next();
            }
            QSqlDatabase::removeDatabase(name);
        });
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "floor");
        db.setDatabaseName(QString::fromStdString(path));
        db.open();
        count = Median([&] {
            QSqlQuery query("SELECT count(*) FROM runs", db);
            query.next();
        });
        QSqlQuery stored("SELECT run_id FROM readings ORDER BY length(data) DESC LIMIT 20", db);
        full.clear();
        while (stored.next()) {
            full.push_back(*ParseRunId(stored.value(0).toString().toStdString()));
        }
        if (full.size() < 2) {
            std::fprintf(stderr, "no stored readings in %s\n", path.c_str());
            return 1;
        }
        const QString id = QString::fromStdString(RunIdText(full.front()));
        QSqlQuery size(db);
        size.prepare("SELECT length(data) FROM readings WHERE run_id = ?");
        size.addBindValue(id);
        if (size.exec() && size.next()) {
            std::printf(
                "a stored %d-sample noisy 4-plate test's raw readings: %lld bytes (%.2f MB)\n",
                kMaxSamples, size.value(0).toLongLong(), size.value(0).toDouble() / 1e6);
        }
        // Every row's listed columns stepped through in the order of an index, nothing kept.
        rowsRead = Median([&] {
            QSqlQuery query(db);
            query.setForwardOnly(true);
            query.exec(
                "SELECT run_id, start_ms, test_number, evaluated, protocol, notes, frequency, "
                "active,"
                " samples, total_peak, total_mean, plate1_peak, plate2_peak, plate3_peak,"
                " plate4_peak, plate1_mean, plate2_mean, plate3_mean, plate4_mean, unit1, unit2,"
                " unit3, unit4, imported, file_path FROM runs ORDER BY start_ms DESC");
            while (query.next()) {
                for (int c = 0; c < 25; ++c) {
                    query.value(c);
                }
            }
        });
        blobRead = Median([&] {
            QSqlQuery query(db);
            query.prepare("SELECT data FROM readings WHERE run_id = ?");
            query.addBindValue(id);
            query.exec();
            query.next();
            const QByteArray data = query.value(0).toByteArray();
            const QByteArray body =
                qUncompress(reinterpret_cast<const uchar*>(data.constData() + 5), data.size() - 5);
            if (body.isEmpty()) {
                std::fprintf(stderr, "no readings read\n");
            }
        });
        db.close();
    }
    QSqlDatabase::removeDatabase("floor");
    std::printf(
        "floors: open + count %.2f ms, count %.3f ms, every row's columns read %.2f ms, readings "
        "read + uncompressed %.2f ms\n\n",
        freshCount, count, rowsRead, blobRead);

    const double opening = Median([&] {
        LibraryStore store;
        store.Open(path);
        if (store.Search({.limit = kPageRows}).size() != kPageRows) {
            std::fprintf(stderr, "first page short\n");
        }
    });
    Report("open + first page of 100", opening, freshCount, "200 ms");

    LibraryStore store;
    store.Open(path);
    struct Search {
        const char* name;
        LibraryQuery query;
    };
    const std::chrono::system_clock::time_point middle = std::chrono::system_clock::time_point(
        std::chrono::hours(490000) + std::chrono::minutes(tests / 2 * 137));
    const std::vector<Search> searches = {
        {"all, newest first", {}},
        {"Avaliado within (\"silva\")", {.evaluated = "silva"}},
        {"Avaliado within, no accents (\"joao\")", {.evaluated = "joao"}},
        {"Protocolo exact (\"cmj\")", {.protocol = "cmj", .protocolExact = true}},
        {"Protocolo within (\"salto\")", {.protocol = "salto"}},
        {"notes within (\"pre-temp\" -> \"pré-temp\")", {.notes = "pre-temporada"}},
        {"date range (a month)", {.from = middle, .to = middle + std::chrono::hours(24 * 30)}},
        {"test number", {.testNumber = tests / 3 + 1}},
        {"all by total peak", {.sortBy = LibrarySortColumn::TotalPeak}},
        {"all by Avaliado ascending",
         {.sortBy = LibrarySortColumn::Evaluated, .descending = false}},
        {"Avaliado + Protocolo, by total mean",
         {.evaluated = "ana", .protocol = "marcha", .sortBy = LibrarySortColumn::TotalMean}},
    };
    // As the window asks: the first page and how many match; then every match in one list.
    std::printf("%-44s %9s  (floor: count)   %12s (floor: every row read)\n", "search: matches",
                "page+count", "whole list");
    for (const Search& search : searches) {
        int matches = 0;
        LibraryQuery page = search.query;
        page.limit = kPageRows;
        const double paged = Median([&] {
            matches = store.Count(page);
            store.Search(page);
        });
        const double whole = Median([&] { store.Search(search.query); });
        char label[96];
        std::snprintf(label, sizeof label, "%s: %d", search.name, matches);
        std::printf("%-44s %9.2f ms  %7.1fx floor  %9.2f ms  %7.1fx floor  (target 50 ms)\n", label,
                    paged, paged / count, whole, whole / rowsRead);
    }
    std::size_t samples = 0;
    const double loading = Median([&] { samples = store.LoadRun(full[1])->loads.size(); });
    char label[96];
    std::snprintf(label, sizeof label, "stored test's loads (%zu samples)", samples);
    Report(label, loading, blobRead, "100 ms with its first picture");

    // On screen. The window over the station's library worker, already open as the main window
    // keeps it: made, shown, its first search's rows in the table and painted.
    {
        bench::BenchDialogs dialogs;
        LibraryWorker worker;
        worker.Post([&path](LibraryStore& opened) { opened.Open(path); });
        const double bareSearch = Median([&] {
            store.Count({.limit = kLibraryWindowRows});
            store.Search({.limit = kLibraryWindowRows});
        });
        bool failed = false;
        const double window = Median(
            [&] {
                LibraryWindow shown(worker, dialogs, ',', path);
                bool searched = false;
                QObject::connect(&shown, &LibraryWindow::SearchDone, [&] { searched = true; });
                shown.show();
                failed |= !Await([&] { return searched; });
                shown.repaint();
            },
            5);
        if (failed) {
            std::fprintf(stderr, "the window's first search did not end\n");
        }
        char shownLabel[96];
        std::snprintf(shownLabel, sizeof shownLabel, "library window shown, %d rows",
                      kLibraryWindowRows);
        Report(shownLabel, window, bareSearch, "200 ms");
    }
    // A stored test opened to its first picture: read back, drawn on a chart the main window's
    // size, painted; the floor draws the same loads already in memory.
    {
        LoadChart chart(5);
        chart.resize(1000, 600);
        chart.show();
        const std::optional<StoredRunData> kept = store.LoadRun(full[1]);
        const double drawing = Median(
            [&] {
                DrawRunLoads(chart, kept->loads, kept->active);
                chart.repaint();
            },
            5);
        const double toPicture = Median(
            [&] {
                const std::optional<StoredRunData> read = store.LoadRun(full[1]);
                DrawRunLoads(chart, read->loads, read->active);
                chart.repaint();
            },
            5);
        Report("stored test to its first picture", toPicture, drawing, "100 ms");
    }

    // Recording happens after the save question, on the library's thread: its cost whole.
    std::mt19937 again(22);
    const LibraryRun saved = MakeRun(1, kMaxSamples, again);
    const double packing = Median([&] { PackRawReadings(saved.raw); }, 5);
    const double recording = Median([&] { store.RecordRun(saved); }, 5);
    Report("record a saved 144000-sample test", recording, packing, "off the acquisition path");
    return 0;
}
