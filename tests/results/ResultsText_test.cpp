// The results table as text in the station's notation, and the results file byte for byte.
#include "results/ResultsText.h"
#include "results/ResultsFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <ctime>

#include "TempDir.h"

namespace kelvaro {
namespace {

const std::string kHeaderLine =
    "Série\tUnidade\tAmostras\tFaltando\tDuração (s)\tMínimo\tPico\tTempo do pico (s)\tMédia\t"
    "Impulso (carga × s)\tMaior subida em 50 ms (carga/s)\tParcela da média (%)\t"
    "Parcela no pico do total (%)\n";
const SeriesFigures kFigures{6000, 2, 10.0, -1.5, 812.3456, 1234, 3.2125, 400.0, 4000.0, 12.5};
const SeriesFigures kNearZero{1, 0, 0.02, -0.0004, -0.0, 0, 0.0, -0.0004999, -0.0, -0.0};
const SeriesFigures kNoFigures{3, 3, {}, {}, {}, {}, {}, {}, {}, {}};
PlateResults Plate(int plate, SeriesFigures f, std::optional<double> meanShare = {},
                   std::optional<double> peakShare = {}) {
    return {plate, f, meanShare, peakShare};
}

struct TableCase {
    const char* name;
    StretchResults results;
    std::array<std::string, kPlateCount> units;
    char separator;
    std::string rows;  // tab-separated, after the header line
};

class ResultsTableTest : public ::testing::TestWithParam<TableCase> {};

TEST_P(ResultsTableTest, GivesEachRowInTheStationsNotation) {
    const TableCase& c = GetParam();
    EXPECT_EQ(TabSeparated(ResultsTable(c.results, c.units, c.separator)), kHeaderLine + c.rows);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ResultsTableTest,
    ::testing::Values(
        TableCase{"DecimalComma",
                  {{}, {Plate(1, kFigures, 1.0, 1.0)}, kFigures, {}},
                  {"N", "kgf", "N", "N"},
                  ',',
                  "Placa 2\tkgf\t6000\t2\t10,000\t-1,500\t812,346\t3,213\t400,000\t4000,000\t"
                  "12,500\t100,000\t100,000\n"
                  "Total\tkgf\t6000\t2\t10,000\t-1,500\t812,346\t3,213\t400,000\t4000,000\t"
                  "12,500\t\t\n"},
        TableCase{"UnitsDiffer",
                  {{}, {Plate(0, kNoFigures), Plate(2, kNoFigures)}, {}, TotalAbsence::UnitsDiffer},
                  {"kgf", "", "N", ""},
                  ',',
                  "Placa 1\tkgf\t3\t3\t---\t---\t---\t---\t---\t---\t---\t---\t---\n"
                  "Placa 3\tN\t3\t3\t---\t---\t---\t---\t---\t---\t---\t---\t---\n"
                  "Total\tunidades diferentes\t---\t---\t---\t---\t---\t---\t---\t---\t---\t---\t"
                  "---\n"},
        TableCase{"NoActivePlate", {{}, {}, {}, TotalAbsence::NoActivePlate}, {}, ',', ""},
        TableCase{"NegativeZeroWithDecimalPoint",
                  {{}, {Plate(0, kNearZero, 0.25, -1e-7)}, kNearZero, {}},
                  {"kgf\tx", "", "", ""},
                  '.',
                  "Placa 1\tkgf x\t1\t0\t0.020\t0.000\t0.000\t0.000\t0.000\t0.000\t0.000\t"
                  "25.000\t0.000\n"
                  "Total\tkgf x\t1\t0\t0.020\t0.000\t0.000\t0.000\t0.000\t0.000\t0.000\t\t\n"}),
    [](const auto& test) { return std::string(test.param.name); });

// 2026-12-08 05:40:12, local time.
std::chrono::system_clock::time_point Start() {
    std::tm t{};
    strptime("2026-12-08 05:40:12", "%Y-%m-%d %H:%M:%S", &t);
    t.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&t));
}

struct FileCase {
    const char* name;
    ResultsFileHeading heading;
    std::string headingLines;
    const char* fileName;  // the test's number, or else the local start time
};

class ResultsFileTest : public ::testing::TestWithParam<FileCase> {};

TEST_P(ResultsFileTest, WritesTheHeadingAndTheTableInWindows1252) {
    EXPECT_EQ(ResultsFileName(GetParam().heading.testNumber, GetParam().heading.start),
              GetParam().fileName);
    kelvaro::testing::TempDir dir;
    const ResultsTableText table{
        {"Série", "Unidade", "Mínimo", "Pico"},
        {{"Placa 1", "=1+1", "-1,500", "2,000"}, {"Total", "@a;b", "---", "-0,250"}}};
    ASSERT_TRUE(WriteResultsFile(dir.File("r.csv"), GetParam().heading, table, ','));
    EXPECT_EQ(kelvaro::testing::ReadFileBytes(dir.File("r.csv")),
              GetParam().headingLines +
                  "\r\nS\xE9rie;Unidade;M\xEDnimo;Pico\r\n"
                  "Placa 1;'=1+1;-1,500;2,000\r\n"
                  "Total;\"'@a;b\";;-0,250\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ResultsFileTest,
    ::testing::Values(
        FileCase{"SavedAndFiltered",
                 {12, std::nullopt, 600, {0, 143999}, 10},
                 "Teste;12\r\nFrequ\xEAncia (Hz);600\r\n"
                 "Trecho;amostras 1 a 144000;0,000 s a 239,998 s\r\n"
                 "Filtro;passa-baixa Butterworth de 2\xAA ordem, ida e volta, 10 Hz\r\n",
                 "Kelvaro_12_resultados"},
        FileCase{"NeverSaved",
                 {0, Start(), 50, {10, 10}, 0},
                 "Teste;n\xE3o salvo, iniciado em 08/12/2026 05:40:12\r\n"
                 "Frequ\xEAncia (Hz);50\r\nTrecho;amostras 11 a 11;0,200 s a 0,200 s\r\n"
                 "Filtro;nenhum\r\n",
                 "Kelvaro_2026-12-08_05-40-12_resultados"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(ResultsFile, GivesTheTypedErrorWhenTheFolderIsMissing) {
    kelvaro::testing::TempDir dir;
    const FileStatus status = WriteResultsFile(dir.File("nowhere/r.csv"), {}, {}, ',');
    ASSERT_FALSE(status);
    EXPECT_EQ(status.error->operation, FileOperation::TestFileWrite);
    EXPECT_EQ(status.error->systemError, ENOENT);
}

}  // namespace
}  // namespace kelvaro
