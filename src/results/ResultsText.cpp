#include "results/ResultsText.h"

#include <cmath>
#include <cstddef>
#include <optional>

#include "settings/NumberText.h"

namespace kelvaro {

namespace {

// The columns of a row: the series' name and unit, then its figures.
constexpr int kColumns = 13;

std::string Decimal(std::optional<double> value, char decimalSeparator) {
    if (!value || !std::isfinite(*value)) {
        return kAbsentFigure;
    }
    return FormatNumber(*value, NumberPattern::ThreeDecimals, decimalSeparator);
}

std::string Percent(std::optional<double> share, char decimalSeparator) {
    return Decimal(share ? std::optional<double>(*share * 100.0) : std::nullopt, decimalSeparator);
}

std::vector<std::string> FiguresRow(std::string name, std::string unit, const SeriesFigures& f,
                                    char separator) {
    std::vector<std::string> row{std::move(name), std::move(unit)};
    for (std::string& cell : FigureCells(f, separator)) {
        row.push_back(std::move(cell));
    }
    return row;
}

}  // namespace

std::vector<std::string> FigureHeaders() {
    return {"Amostras",
            "Faltando",
            "Duração (s)",
            "Mínimo",
            "Pico",
            "Tempo do pico (s)",
            "Média",
            "Impulso (carga × s)",
            "Maior subida em 50 ms (carga/s)"};
}

std::vector<std::string> FigureCells(const SeriesFigures& f, char separator) {
    return {std::to_string(f.samples),      std::to_string(f.missing),
            Decimal(f.duration, separator), Decimal(f.minimum, separator),
            Decimal(f.peak, separator),     Decimal(f.peakTime, separator),
            Decimal(f.mean, separator),     Decimal(f.impulse, separator),
            Decimal(f.peakRise, separator)};
}

ResultsTableText ResultsTable(const StretchResults& results,
                              const std::array<std::string, kPlateCount>& units,
                              char decimalSeparator) {
    ResultsTableText table;
    table.headers = {"Série", "Unidade"};
    for (std::string& header : FigureHeaders()) {
        table.headers.push_back(std::move(header));
    }
    table.headers.push_back("Parcela da média (%)");
    table.headers.push_back("Parcela no pico do total (%)");
    if (results.plates.empty()) {
        return table;
    }
    for (const PlateResults& plate : results.plates) {
        const auto index = static_cast<std::size_t>(plate.plate);
        auto row = FiguresRow("Placa " + std::to_string(plate.plate + 1), units.at(index),
                              plate.figures, decimalSeparator);
        row.push_back(Percent(plate.meanShare, decimalSeparator));
        row.push_back(Percent(plate.peakShare, decimalSeparator));
        table.rows.push_back(std::move(row));
    }
    if (results.total) {
        const auto first = static_cast<std::size_t>(results.plates.front().plate);
        auto row = FiguresRow("Total", units.at(first), *results.total, decimalSeparator);
        row.resize(kColumns);  // a share of the total in itself says nothing
        table.rows.push_back(std::move(row));
    } else {
        // Loads in different units do not add up; the row stays to say why there is no total.
        std::vector<std::string> row(kColumns, kAbsentFigure);
        row[0] = "Total";
        row[1] = "unidades diferentes";
        table.rows.push_back(std::move(row));
    }
    return table;
}

std::string TabSeparated(const ResultsTableText& table) {
    std::string out;
    const auto appendLine = [&out](const std::vector<std::string>& cells) {
        for (std::size_t c = 0; c < cells.size(); ++c) {
            if (c > 0) {
                out += '\t';
            }
            // A unit typed with a tab or a line break would shift the spreadsheet's columns.
            for (char ch : cells[c]) {
                out += (ch == '\t' || ch == '\r' || ch == '\n') ? ' ' : ch;
            }
        }
        out += '\n';
    };
    appendLine(table.headers);
    for (const auto& row : table.rows) {
        appendLine(row);
    }
    return out;
}

}  // namespace kelvaro
