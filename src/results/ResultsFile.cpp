#include "results/ResultsFile.h"

#include <ctime>
#include <string_view>
#include <vector>

#include "archive/TestFileWriter.h"
#include "settings/NumberText.h"

namespace kelvaro {

namespace {

std::tm LocalTime(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    return local;
}

std::string TimeText(std::chrono::system_clock::time_point when, const char* format) {
    const std::tm local = LocalTime(when);
    char text[64];
    return std::string(text, std::strftime(text, sizeof text, format, &local));
}

// A number as the table writes it: an optional minus, digits and at most one separator
// followed by digits.
bool IsStationNumber(std::string_view cell, char decimalSeparator) {
    if (!cell.empty() && cell.front() == '-') {
        cell.remove_prefix(1);
    }
    const std::size_t separator = cell.find(decimalSeparator);
    const std::string_view whole = cell.substr(0, separator);
    const std::string_view fraction =
        separator == std::string_view::npos ? std::string_view("0") : cell.substr(separator + 1);
    const auto digits = [](std::string_view part) {
        return !part.empty() && part.find_first_not_of("0123456789") == std::string_view::npos;
    };
    return digits(whole) && digits(fraction);
}

// The series' name and unit come before the figures in a row of the table.
constexpr std::size_t kFirstFigureColumn = 2;

// A spreadsheet reads a field starting with one of these as a formula (a tab or CR before one
// is skipped by some), which could run whatever a unit's text holds.
bool ReadAsFormula(std::string_view cell) {
    return !cell.empty() &&
           std::string_view("=+-@\t\r").find(cell.front()) != std::string_view::npos;
}

// A text cell, or a figure cell that holds what the station formats as a number or not. A figure
// that cannot be had is an empty cell: a spreadsheet's column of numbers stays one.
std::string Cell(const std::string& text, bool figure, char decimalSeparator) {
    if (figure && text == kAbsentFigure) {
        return {};
    }
    if (ReadAsFormula(text) && !(figure && IsStationNumber(text, decimalSeparator))) {
        return CsvField("'" + text);
    }
    return CsvField(text);
}

// The cells from `firstFigure` on are figures; those before are texts.
void AppendLine(std::string& out, const std::vector<std::string>& cells, char decimalSeparator,
                std::size_t firstFigure = 1) {
    std::string line;
    for (std::size_t c = 0; c < cells.size(); ++c) {
        if (c > 0) {
            line += ';';
        }
        line += Cell(cells[c], c >= firstFigure, decimalSeparator);
    }
    out += ToWindows1252(line);
    out += "\r\n";
}

std::string Seconds(int index, std::int32_t frequency, char decimalSeparator) {
    return FormatNumber(static_cast<double>(index) / frequency, NumberPattern::ThreeDecimals,
                        decimalSeparator) +
           " s";
}

}  // namespace

std::string ResultsFileName(std::int64_t testNumber,
                            std::optional<std::chrono::system_clock::time_point> start) {
    if (testNumber > 0) {
        return "Kelvaro_" + std::to_string(testNumber) + "_resultados";
    }
    if (start) {
        return TimeText(*start, "Kelvaro_%Y-%m-%d_%H-%M-%S_resultados");
    }
    return "Kelvaro_resultados";
}

FileStatus WriteResultsFile(const std::string& path, const ResultsFileHeading& heading,
                            const ResultsTableText& table, char decimalSeparator) {
    const char sep = decimalSeparator;
    std::string out;
    std::string test = "não salvo";
    if (heading.testNumber > 0) {
        test = std::to_string(heading.testNumber);
    } else if (heading.start) {
        test += ", iniciado em " + TimeText(*heading.start, "%d/%m/%Y %H:%M:%S");
    }
    AppendLine(out, {"Teste", test}, sep);
    AppendLine(out, {"Frequência (Hz)", std::to_string(heading.frequency)}, sep);

    const SampleStretch s = heading.stretch;
    std::vector<std::string> stretch{"Trecho"};
    if (s.last < s.first) {
        stretch.emplace_back("nenhuma amostra");
    } else {
        stretch.push_back("amostras " + std::to_string(s.first + 1) + " a " +
                          std::to_string(s.last + 1));
        if (heading.frequency > 0) {
            stretch.push_back(Seconds(s.first, heading.frequency, sep) + " a " +
                              Seconds(s.last, heading.frequency, sep));
        }
    }
    AppendLine(out, stretch, sep);
    AppendLine(out,
               {"Filtro", heading.filterCutoffHz > 0
                              ? "passa-baixa Butterworth de 2ª ordem, ida e volta, " +
                                    std::to_string(heading.filterCutoffHz) + " Hz"
                              : std::string("nenhum")},
               sep);
    out += "\r\n";
    AppendLine(out, table.headers, sep, table.headers.size());
    for (const auto& row : table.rows) {
        AppendLine(out, row, sep, kFirstFigureColumn);
    }
    return WriteWholeFile(path, out, FileOperation::TestFileWrite);
}

}  // namespace kelvaro
