// The results table as text: the figures of a stretch in the station's number notation, one
// row per active plate and one for the total, for the screen, the clipboard and the results
// file alike. Standard library only.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "plate/Plate.h"
#include "results/StretchResults.h"

namespace kelvaro {

struct ResultsTableText {
    std::vector<std::string> headers;
    std::vector<std::vector<std::string>> rows;  // each as long as `headers`
};

// The text of an absent figure.
inline constexpr const char* kAbsentFigure = "---";

// Loads, times and shares with three decimals and `decimalSeparator`, counts as whole numbers,
// an absent figure as kAbsentFigure. The total's row has no shares; when the units differ it
// says so in its unit cell and has no figures. No active plate: no rows.
ResultsTableText ResultsTable(const StretchResults& results,
                              const std::array<std::string, kPlateCount>& units,
                              char decimalSeparator);

// The headings of one series' figures, "Amostras" to the rate of rise, and their cells as the
// table writes them; the table's columns between "Unidade" and the shares.
std::vector<std::string> FigureHeaders();
std::vector<std::string> FigureCells(const SeriesFigures& figures, char decimalSeparator);

// The header line and the rows, cells separated by tabs, each line ended by "\n".
std::string TabSeparated(const ResultsTableText& table);

}  // namespace kelvaro
