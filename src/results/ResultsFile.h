// The results file: the results table of a stretch as a semicolon-separated Windows-1252 file
// for a spreadsheet, after lines that say which test, stretch and filter it was figured for.
// Written whole or not at all, like the test file.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "results/ResultsText.h"
#include "results/StretchResults.h"
#include "settings/FileError.h"

namespace kelvaro {

struct ResultsFileHeading {
    std::int64_t testNumber = 0;  // 0: never saved
    std::optional<std::chrono::system_clock::time_point> start;
    std::int32_t frequency = 0;
    SampleStretch stretch;
    int filterCutoffHz = 0;  // 0: unfiltered
};

// "Kelvaro_12_resultados" for test 12. A run never saved has no test number and is named after
// its local start time, "Kelvaro_2026-12-08_05-40-12_resultados".
std::string ResultsFileName(std::int64_t testNumber,
                            std::optional<std::chrono::system_clock::time_point> start);

// Writes the heading lines, an empty line and the table, CR LF everywhere. A text cell that a
// spreadsheet would take for a formula is kept text by a leading apostrophe; the numbers are
// recognised by `decimalSeparator`. Gives the error (operation TestFileWrite, whose words name
// the file) when the file could not be written.
FileStatus WriteResultsFile(const std::string& path, const ResultsFileHeading& heading,
                            const ResultsTableText& table, char decimalSeparator);

}  // namespace kelvaro
