// Tests side by side: from tests read back from the library, each one's line on one chart
// against time in seconds (its total or one plate, aligned at its first sample or at its peak,
// since tests may differ in frequency), the legend naming it, and a row of its whole-run figures
// in the results table's words. No widgets.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "library/LibraryStore.h"
#include "results/ResultsText.h"
#include "results/StretchResults.h"
#include "station/ChartSink.h"

namespace kelvaro {

inline constexpr int kMinComparedTests = 2;
inline constexpr int kMaxComparedTests = 8;
// What each test's line draws: kComparedTotal, or a plate from 1 to kPlateCount.
inline constexpr int kComparedTotal = 0;

enum class CompareAlignment {
    FirstSample,  // t = 0 at each test's first sample
    Peak,         // t = 0 at each line's peak (its first, when it peaks more than once)
};

// Why a test draws no line.
enum class LineAbsence {
    PlateNotUsed,   // the plate chosen was not active in it
    UnitsDiffer,    // its plates load in different units: no total
    NoActivePlate,  // no total either
    NoFrequency,    // no time for its samples
};

struct ComparedLine {
    std::string legend;
    std::string unit;                // the line's unit; empty without a line
    std::vector<ChartPoint> points;  // (seconds, load), NaN where missing; empty without a line
    std::optional<LineAbsence> absence;
    SeriesFigures figures;  // of the whole run, times from its first sample
};

// "Maria Silva — 03/12/2026 14:05 — teste 12": who (or "sem avaliado", a long name cut), when it
// started in local time, and its number or "não salvo".
std::string CompareLegend(const StoredRunData& test);

// One line per test, in order. `series` is kComparedTotal or a plate (1..kPlateCount).
std::vector<ComparedLine> CompareLines(std::span<const StoredRunData> tests, int series,
                                       CompareAlignment alignment);

// The lowest and highest load of the lines drawn, zero included, missing loads left out.
std::pair<double, double> CompareLoadRange(std::span<const ComparedLine> lines);
// The units of the lines drawn, each once, in the lines' order.
std::vector<std::string> CompareUnits(std::span<const ComparedLine> lines);

// The operator's words for why a line is missing, e.g. "plataforma 3 não usada".
std::string LineAbsenceText(LineAbsence absence, int series);

// One row per test: its legend, the line's unit (or why it has none) and its figures in the
// results table's notation and columns.
ResultsTableText CompareTable(std::span<const ComparedLine> lines, int series,
                              char decimalSeparator);

}  // namespace kelvaro
