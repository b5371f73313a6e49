#include "compare/Comparison.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "archive/StoredRun.h"
#include "journal/RunMetadata.h"
#include "results/TotalLoad.h"

namespace kelvaro {

namespace {

// Long enough for a full name, short enough for eight entries beside the chart.
constexpr std::size_t kLegendNameChars = 32;

// The line's values, one per sample; empty, with the reason, when the test has none to draw.
std::vector<double> SeriesValues(const StoredRunData& test, int series,
                                 std::optional<LineAbsence>& absence, std::string& unit) {
    if (series == kComparedTotal) {
        // The results table's own total: the same units check, the same sum.
        const RunResults results(test.loads, test.active, test.heading.units,
                                 test.heading.frequency);
        if (results.NoTotal()) {
            absence = *results.NoTotal() == TotalAbsence::UnitsDiffer ? LineAbsence::UnitsDiffer
                                                                      : LineAbsence::NoActivePlate;
            return {};
        }
        const auto first = std::find(test.active.begin(), test.active.end(), true);
        unit = test.heading.units[static_cast<std::size_t>(first - test.active.begin())];
        return {results.Total().begin(), results.Total().end()};
    }
    const auto plate = static_cast<std::size_t>(series - 1);
    if (plate >= test.active.size() || !test.active[plate]) {
        absence = LineAbsence::PlateNotUsed;
        return {};
    }
    unit = test.heading.units[plate];
    std::vector<double> values(test.loads.size());
    std::transform(test.loads.begin(), test.loads.end(), values.begin(),
                   [plate](const LoadRecord& record) { return record[plate]; });
    return values;
}

}  // namespace

std::string CompareLegend(const StoredRunData& test) {
    std::string who = test.metadata.evaluated;
    if (who.empty()) {
        who = "sem avaliado";
    } else if (const std::string cut = CutToCodePoints(who, kLegendNameChars); cut != who) {
        who = cut + "…";
    }
    const std::string number = test.heading.testNumber > 0
                                   ? "teste " + std::to_string(test.heading.testNumber)
                                   : std::string("não salvo");
    return who + " — " + LocalTimeText(test.start, "%d/%m/%Y %H:%M") + " — " + number;
}

std::vector<ComparedLine> CompareLines(std::span<const StoredRunData> tests, int series,
                                       CompareAlignment alignment) {
    std::vector<ComparedLine> lines;
    lines.reserve(tests.size());
    for (const StoredRunData& test : tests) {
        ComparedLine& line = lines.emplace_back();
        line.legend = CompareLegend(test);
        const std::vector<double> values = SeriesValues(test, series, line.absence, line.unit);
        if (line.absence) {
            line.unit.clear();
            continue;
        }
        const std::int32_t frequency = test.heading.frequency;
        line.figures = FiguresOf(values, {0, static_cast<int>(values.size()) - 1}, frequency);
        if (frequency <= 0) {
            line.absence = LineAbsence::NoFrequency;
            line.unit.clear();
            continue;
        }
        const double origin = alignment == CompareAlignment::Peak && line.figures.peakSample
                                  ? *line.figures.peakSample
                                  : 0.0;
        line.points.reserve(values.size());
        for (std::size_t k = 0; k < values.size(); ++k) {
            line.points.push_back({(static_cast<double>(k) - origin) / frequency, values[k]});
        }
    }
    return lines;
}

std::pair<double, double> CompareLoadRange(std::span<const ComparedLine> lines) {
    double low = 0.0;
    double high = 0.0;
    for (const ComparedLine& line : lines) {
        if (line.absence) {
            continue;
        }
        // The figures have the extremes already: a missing load is in neither.
        low = std::min(low, line.figures.minimum.value_or(0.0));
        high = std::max(high, line.figures.peak.value_or(0.0));
    }
    return {low, high};
}

std::vector<std::string> CompareUnits(std::span<const ComparedLine> lines) {
    std::vector<std::string> units;
    for (const ComparedLine& line : lines) {
        if (!line.absence && std::find(units.begin(), units.end(), line.unit) == units.end()) {
            units.push_back(line.unit);
        }
    }
    return units;
}

std::string LineAbsenceText(LineAbsence absence, int series) {
    switch (absence) {
        case LineAbsence::PlateNotUsed:
            return "plataforma " + std::to_string(series) + " não usada";
        case LineAbsence::UnitsDiffer:
            return "unidades diferentes";
        case LineAbsence::NoActivePlate:
            return "nenhuma plataforma usada";
        case LineAbsence::NoFrequency:
            return "frequência desconhecida";
    }
    return {};
}

ResultsTableText CompareTable(std::span<const ComparedLine> lines, int series,
                              char decimalSeparator) {
    ResultsTableText table;
    table.headers = {"Teste", "Unidade"};
    for (std::string& header : FigureHeaders()) {
        table.headers.push_back(std::move(header));
    }
    for (const ComparedLine& line : lines) {
        std::vector<std::string> row{line.legend};
        if (line.absence) {
            // The row stays, to say why the chart has no line of it.
            row.push_back(LineAbsenceText(*line.absence, series));
            row.resize(table.headers.size(), kAbsentFigure);
        } else {
            row.push_back(line.unit);
            for (std::string& cell : FigureCells(line.figures, decimalSeparator)) {
                row.push_back(std::move(cell));
            }
        }
        table.rows.push_back(std::move(row));
    }
    return table;
}

}  // namespace kelvaro
