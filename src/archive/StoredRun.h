// A finished run read back from where it was kept (its journal, or a test file the station
// saved) in the form the chart and the export take: the loads and the test file's heading.
#pragma once

#include <array>
#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "archive/TestFileWriter.h"
#include "journal/RunMetadata.h"
#include "plate/Plate.h"
#include "station/ChartSink.h"

namespace kelvaro {

struct StoredRun {
    std::string path;
    bool fromJournal = false;                     // else from a test file
    std::chrono::system_clock::time_point start;  // a journal's run only
    // testNumber is 0 for a run never saved: its save takes the next number.
    TestFileHeading heading;
    ActivePlates active{};
    std::vector<LoadRecord> loads;
    // The separator the file was written with; none for the station's own.
    std::optional<char> decimalSeparator;
    // A journal's run only (a test file keeps neither): null and empty for a run of a journal
    // older than the texts.
    RunId runId{};
    RunMetadata metadata;
    // The test file this run was last saved as, since it was read or stopped; empty until then.
    std::string savedFile;
};

// Reads a run's journal and converts its raw readings with the calibration the run had. Gives the
// error when the journal cannot be read; `run` is then unchanged.
FileStatus ReadJournalRun(const std::string& path, StoredRun& run);

// Reads a run back from a journal or a test file, told apart by their first bytes. A test file's
// plates are those with a load other than zero. Gives the error, naming the file (and the line
// of a test file), when it is neither or is damaged; `run` is then unchanged.
FileStatus ReadStoredRun(const std::string& path, StoredRun& run);

// A moment in local time as the operator reads it, by default 08/12/2026 05:40:12.
std::string LocalTimeText(std::chrono::system_clock::time_point when,
                          const char* format = "%d/%m/%Y %H:%M:%S");

// Draws a run's loads as the chart after a stop: the active plates' series, the legend, and the
// load axis from zero to every column's extremes, an idle plate's too.
void DrawRunLoads(ChartSink& chart, std::span<const LoadRecord> loads, const ActivePlates& active);

}  // namespace kelvaro
