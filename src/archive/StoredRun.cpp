#include "archive/StoredRun.h"

#include <algorithm>
#include <ctime>

#include "archive/TestFileReader.h"
#include "journal/Journal.h"

namespace kelvaro {

namespace {

bool ReadTestFileRun(const std::string& path, StoredRun& run, std::string* error) {
    TestFileContent content;
    if (!ReadTestFile(path, content, error)) {
        return false;
    }
    StoredRun read;
    read.path = path;
    read.heading.testNumber = content.testNumber;
    read.heading.frequency = content.frequency;
    read.heading.ports = content.ports;
    read.heading.units = content.units;
    read.decimalSeparator = content.decimalSeparator;
    read.loads.reserve(content.loads.size());
    for (const auto& row : content.loads) {
        LoadRecord loads{};
        for (std::size_t i = 0; i < loads.size(); ++i) {
            loads[i] = row[i];
            // The file does not say which plates ran; an idle plate's column holds zeros.
            read.active[i] = read.active[i] || row[i] != 0.0;
        }
        read.loads.push_back(loads);
    }
    run = std::move(read);
    return true;
}

}  // namespace

bool ReadJournalRun(const std::string& path, StoredRun& run, std::string* error) {
    JournalContents journal;
    if (!ReadJournal(path, journal, error)) {
        return false;
    }
    const JournalDescription& description = journal.description;
    StoredRun read;
    read.path = path;
    read.fromJournal = true;
    read.start = description.start;
    read.heading.testNumber = description.testNumber;
    read.heading.frequency = description.frequency;
    PlateCalibrations calibration{};
    for (std::size_t i = 0; i < read.active.size(); ++i) {
        const JournalPlate& plate = description.plates[i];
        read.active[i] = plate.active;
        read.heading.ports[i] = plate.port;
        read.heading.units[i] = plate.unit;
        calibration[i] = PlateCalibration{plate.sp, plate.idc, plate.t};
    }
    // A run keeps at most kMaxSamples; a longer journal was not written by the station.
    const std::size_t count = std::min(journal.records.size(), std::size_t{kMaxSamples});
    read.loads.reserve(count);
    for (std::size_t s = 0; s < count; ++s) {
        read.loads.push_back(ConvertRecord(journal.records[s], calibration, read.active));
    }
    run = std::move(read);
    return true;
}

std::string LocalTimeText(std::chrono::system_clock::time_point when, const char* format) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[64];
    return std::string(text, std::strftime(text, sizeof text, format, &local));
}

void DrawRunLoads(ChartSink& chart, std::span<const LoadRecord> loads,
                  const std::array<bool, kPlateCount>& active) {
    for (int p = 1; p <= kPlateCount; ++p) {
        chart.ClearSeries(p);
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
    for (int p = 1; p <= kPlateCount; ++p) {
        const auto i = static_cast<std::size_t>(p - 1);
        if (active[i]) {
            chart.SetSeriesPoints(p, std::move(points[i]));
        }
    }
    chart.SetLegendVisible(true);
    chart.SetLeftAxisMaximum(maximum);
    chart.SetLeftAxisMinimum(minimum);
    for (int p = 1; p <= kPlateCount; ++p) {
        chart.SetSeriesTitle(p, "Placa " + std::to_string(p) + ": ");
    }
    for (int p = 1; p <= kPlateCount; ++p) {
        chart.SetSeriesInLegend(p, active[static_cast<std::size_t>(p - 1)]);
    }
}

bool ReadStoredRun(const std::string& path, StoredRun& run, std::string* error) {
    return StartsAsJournal(path) ? ReadJournalRun(path, run, error)
                                 : ReadTestFileRun(path, run, error);
}

}  // namespace kelvaro
