#include "archive/StoredRun.h"

#include <algorithm>
#include <ctime>

#include "archive/TestFileReader.h"
#include "journal/Journal.h"

namespace kelvaro {

namespace {

FileStatus ReadTestFileRun(const std::string& path, StoredRun& run) {
    TestFileContent content;
    if (FileStatus read = ReadTestFile(path, content); !read) {
        return read;
    }
    StoredRun read;
    read.path = path;
    read.heading.testNumber = content.testNumber;
    read.heading.frequency = content.frequency;
    read.heading.ports = content.ports;
    read.heading.units = content.units;
    read.decimalSeparator = content.decimalSeparator;
    // The file does not say which plates ran; an idle plate's column holds zeros.
    for (const LoadRecord& row : content.loads) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            read.active[i] = read.active[i] || row[i] != 0.0;
        }
    }
    read.loads = std::move(content.loads);
    run = std::move(read);
    return {};
}

// The chart series that draws a plate, given by its index (0 is plate 1): the plates are the
// chart's first series, in order.
int PlateSeries(std::size_t plate) {
    return static_cast<int>(plate) + 1;
}

}  // namespace

FileStatus ReadJournalRun(const std::string& path, StoredRun& run) {
    JournalContents journal;
    if (FileStatus read = ReadJournal(path, journal); !read) {
        return read;
    }
    const JournalDescription& description = journal.description;
    StoredRun read;
    read.path = path;
    read.fromJournal = true;
    read.start = description.start;
    read.heading.testNumber = description.testNumber;
    read.heading.frequency = description.frequency;
    read.runId = description.runId;
    read.metadata = description.metadata;
    PlateCalibrations calibration{};
    for (std::size_t i = 0; i < read.active.size(); ++i) {
        const JournalPlate& plate = description.plates[i];
        read.active[i] = plate.active;
        read.heading.ports[i] = plate.port;
        read.heading.units[i] = plate.unit;
        calibration[i] = plate.calibration;
    }
    // A run keeps at most kMaxSamples; a longer journal was not written by the station.
    const std::size_t count = std::min(journal.records.size(), std::size_t{kMaxSamples});
    read.loads.reserve(count);
    for (std::size_t s = 0; s < count; ++s) {
        read.loads.push_back(ConvertRecord(journal.records[s], calibration, read.active));
    }
    run = std::move(read);
    return {};
}

std::string LocalTimeText(std::chrono::system_clock::time_point when, const char* format) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[64];
    return std::string(text, std::strftime(text, sizeof text, format, &local));
}

void DrawRunLoads(ChartSink& chart, std::span<const LoadRecord> loads, const ActivePlates& active) {
    for (std::size_t i = 0; i < kPlateCount; ++i) {
        chart.ClearSeries(PlateSeries(i));
    }
    std::array<std::vector<ChartPoint>, kPlateCount> points;
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (active[i]) {
            points[i].reserve(loads.size());
        }
    }
    // The axis spans zero and every column written, an idle plate's too.
    double maximum = 0;
    double minimum = 0;
    for (std::size_t s = 0; s < loads.size(); ++s) {
        const LoadRecord& record = loads[s];
        for (std::size_t i = 0; i < record.size(); ++i) {
            if (active[i]) {
                points[i].push_back({static_cast<double>(s + 1), record[i]});
            }
            if (record[i] > maximum) {
                maximum = record[i];
            } else if (record[i] < minimum) {
                minimum = record[i];
            }
        }
    }
    for (std::size_t i = 0; i < kPlateCount; ++i) {
        if (active[i]) {
            chart.SetSeriesPoints(PlateSeries(i), std::move(points[i]));
        }
    }
    chart.SetLegendVisible(true);
    chart.SetLeftAxisMaximum(maximum);
    chart.SetLeftAxisMinimum(minimum);
    for (std::size_t i = 0; i < kPlateCount; ++i) {
        chart.SetSeriesTitle(PlateSeries(i), "Placa " + std::to_string(i + 1) + ": ");
    }
    for (std::size_t i = 0; i < kPlateCount; ++i) {
        chart.SetSeriesInLegend(PlateSeries(i), active[i]);
    }
}

FileStatus ReadStoredRun(const std::string& path, StoredRun& run) {
    return StartsAsJournal(path) ? ReadJournalRun(path, run) : ReadTestFileRun(path, run);
}

}  // namespace kelvaro
