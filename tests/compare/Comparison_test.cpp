// The lines of a comparison against hand-worked times and figures: runs of different
// frequencies aligned at their first sample or their peak, a plate a test did not use, a total
// of plates in different units, the legend with and without a name or a number, and the row.
#include "compare/Comparison.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "CaseNames.h"

namespace kelvaro {
namespace {

using testing::PrintTo;

// 03/12/2026 14:05:00 UTC; the legends are read in UTC.
constexpr std::int64_t kStartSeconds = 1796306700;

struct TestSpec {
    std::int32_t frequency;
    std::string evaluated;
    std::int64_t testNumber;
    ActivePlates active;
    std::array<std::string, kPlateCount> units;
    std::vector<LoadRecord> loads;
};

struct LineExpect {
    std::optional<LineAbsence> absence;
    std::vector<std::string> row;  // the table row's first cells
    double firstX = 0.0;           // of a line drawn
    double lastX = 0.0;
};

LineExpect Drawn(double firstX, double lastX, std::vector<std::string> row) {
    return {std::nullopt, std::move(row), firstX, lastX};
}

struct CompareCase {
    std::string name;
    std::vector<TestSpec> tests;
    int series;
    CompareAlignment alignment;
    std::pair<double, double> range;  // of the lines drawn, zero included
    std::vector<LineExpect> lines;
};

const std::array<std::string, kPlateCount> kKgf{"kgf", "kgf", "kgf", "kgf"};
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

StoredRunData Stored(const TestSpec& spec) {
    static const bool utc = [] { return setenv("TZ", "UTC", 1) == 0 && (tzset(), true); }();
    EXPECT_TRUE(utc);
    StoredRunData run;
    run.start = std::chrono::system_clock::time_point(std::chrono::seconds(kStartSeconds));
    run.heading.testNumber = spec.testNumber;
    run.heading.frequency = spec.frequency;
    run.heading.units = spec.units;
    run.active = spec.active;
    run.loads = spec.loads;
    run.hasReadings = true;
    run.metadata.evaluated = spec.evaluated;
    return run;
}

class Compare : public ::testing::TestWithParam<CompareCase> {};

TEST_P(Compare, DrawsEachTestInSecondsFromItsAlignmentAndFiguresItsRow) {
    const CompareCase& c = GetParam();
    std::vector<StoredRunData> tests;
    for (const TestSpec& spec : c.tests) {
        tests.push_back(Stored(spec));
    }
    const std::vector<ComparedLine> lines = CompareLines(tests, c.series, c.alignment);
    const ResultsTableText table = CompareTable(lines, c.series, ',');
    ASSERT_EQ(lines.size(), c.lines.size());
    ASSERT_EQ(table.rows.size(), c.lines.size());
    EXPECT_EQ(table.headers.front(), "Teste");
    EXPECT_EQ(CompareLoadRange(lines), c.range);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const LineExpect& expect = c.lines[i];
        EXPECT_EQ(lines[i].absence, expect.absence) << "test " << i;
        if (expect.absence) {
            EXPECT_TRUE(lines[i].points.empty()) << "test " << i;
        } else {
            ASSERT_EQ(lines[i].points.size(), c.tests[i].loads.size()) << "test " << i;
            EXPECT_DOUBLE_EQ(lines[i].points.front().x, expect.firstX) << "test " << i;
            EXPECT_DOUBLE_EQ(lines[i].points.back().x, expect.lastX) << "test " << i;
        }
        ASSERT_GE(table.rows[i].size(), expect.row.size());
        EXPECT_EQ(std::vector(table.rows[i].begin(), table.rows[i].begin() + expect.row.size()),
                  expect.row)
            << "test " << i;
        EXPECT_EQ(table.rows[i].size(), table.headers.size());
    }
}

// Plate 1 rises to 3 at its second sample; plate 2 stays at 1.
const std::vector<LoadRecord> kStep{{1, 1, 0, 0}, {3, 1, 0, 0}, {2, 1, 0, 0}};
// The peak at the fourth of five samples, one reading missing before it.
const std::vector<LoadRecord> kLate{
    {0, 0, 0, 0}, {kNaN, 0, 0, 0}, {1, 0, 0, 0}, {5, 0, 0, 0}, {2, 0, 0, 0}};
constexpr ActivePlates kOne{true, false, false, false};
constexpr ActivePlates kTwo{true, true, false, false};

INSTANTIATE_TEST_SUITE_P(
    Cases, Compare,
    ::testing::Values(
        CompareCase{"FirstSampleAtTwoFrequencies",
                    {{10, "Maria Silva", 12, kOne, kKgf, kStep}, {50, "", 0, kOne, kKgf, kLate}},
                    1,
                    CompareAlignment::FirstSample,
                    {0.0, 5.0},
                    // Samples, missing, duration, minimum, peak, its time, mean, impulse.
                    {Drawn(0.0, 0.2,
                           {"Maria Silva — 03/12/2026 14:05 — teste 12", "kgf", "3", "0", "0,300",
                            "1,000", "3,000", "0,100", "2,000", "0,450"}),
                     Drawn(0.0, 0.08,
                           {"sem avaliado — 03/12/2026 14:05 — não salvo", "kgf", "5", "1", "0,100",
                            "0,000", "5,000", "0,060", "2,000", "0,130"})}},
        CompareCase{"PeakAtTwoFrequencies",
                    {{10, "Ana", 3, kOne, kKgf, kStep}, {50, "Rui", 4, kOne, kKgf, kLate}},
                    1,
                    CompareAlignment::Peak,
                    {0.0, 5.0},
                    {Drawn(-0.1, 0.1, {"Ana — 03/12/2026 14:05 — teste 3"}),
                     Drawn(-0.06, 0.02, {"Rui — 03/12/2026 14:05 — teste 4"})}},
        CompareCase{"TotalOfTheActivePlates",
                    {{10, "Ana", 3, kTwo, kKgf, kStep}, {10, "Ana", 5, kOne, kKgf, kStep}},
                    kComparedTotal,
                    CompareAlignment::Peak,
                    {0.0, 4.0},
                    {Drawn(-0.1, 0.1,
                           {"Ana — 03/12/2026 14:05 — teste 3", "kgf", "3", "0", "0,300", "2,000",
                            "4,000"}),
                     Drawn(-0.1, 0.1,
                           {"Ana — 03/12/2026 14:05 — teste 5", "kgf", "3", "0", "0,300", "1,000",
                            "3,000"})}},
        CompareCase{"PlateNotUsed",
                    {{10, "Ana", 3, kTwo, kKgf, kStep}, {10, "Rui", 4, kOne, kKgf, kStep}},
                    2,
                    CompareAlignment::FirstSample,
                    {0.0, 1.0},
                    {Drawn(0.0, 0.2, {"Ana — 03/12/2026 14:05 — teste 3", "kgf", "3"}),
                     {LineAbsence::PlateNotUsed,
                      {"Rui — 03/12/2026 14:05 — teste 4", "plataforma 2 não usada", "---"}}}},
        CompareCase{"TotalOfUnitsThatDiffer",
                    {{10, "Ana", 3, kTwo, {"kgf", "N", "kgf", "kgf"}, kStep},
                     {10, "Ana", 4, kOne, {"N", "kgf", "kgf", "kgf"}, kStep}},
                    kComparedTotal,
                    CompareAlignment::FirstSample,
                    {0.0, 3.0},
                    {{LineAbsence::UnitsDiffer,
                      {"Ana — 03/12/2026 14:05 — teste 3", "unidades diferentes", "---"}},
                     Drawn(0.0, 0.2, {"Ana — 03/12/2026 14:05 — teste 4", "N"})}},
        // The test without a frequency is drawn nowhere: its loads are not in the range.
        CompareCase{
            "LongNameCut",
            {{10, "Maria Aparecida dos Santos Oliveira Ferreira", 7, kOne, kKgf, kStep},
             {0, "Rui", 8, kOne, kKgf, kLate}},
            1,
            CompareAlignment::FirstSample,
            {0.0, 3.0},
            {Drawn(0.0, 0.2, {"Maria Aparecida dos Santos Olive… — 03/12/2026 14:05 — teste 7"}),
             {LineAbsence::NoFrequency,
              {"Rui — 03/12/2026 14:05 — teste 8", "frequência desconhecida"}}}}),
    [](const ::testing::TestParamInfo<CompareCase>& param) { return param.param.name; });

}  // namespace
}  // namespace kelvaro
