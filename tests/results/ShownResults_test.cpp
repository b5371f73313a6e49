// The results shown of the run on the chart: what the filter and the stretch change, and what
// they must leave alone.
#include "results/ShownResults.h"

#include <gmock/gmock.h>

#include <cmath>

namespace kelvaro {
namespace {

ResultsRun Steps(int frequency, int size) {
    ResultsRun run;
    run.active = {true, true, false, false};
    run.units = {"kgf", "kgf", "kgf", "N"};
    run.frequency = frequency;
    for (int k = 0; k < size; ++k) {
        run.loads.push_back({k < size / 2 ? -5.0 : 40.0, k == 7 ? std::nan("") : 10.0, 99.0, 0.0});
    }
    return run;
}

TEST(ShownResults, FilterReadsCopiesKeepsTheStretchAndIsDroppedWhereTheRunCannotTakeIt) {
    ShownResults shown;
    ASSERT_EQ(shown.SetFilter(50), LowPassError::None);  // kept for the next run
    shown.Show(Steps(600, 600));
    shown.SetStretch({400, 250});
    EXPECT_EQ(shown.Stretch(), (SampleStretch{250, 400}));
    EXPECT_EQ(shown.FilterCutoff(), 50);
    EXPECT_NE(shown.Loads()[300][0], shown.Run().loads[300][0]);  // the step is smoothed
    EXPECT_EQ(shown.Run().loads[300][0], 40.0);
    EXPECT_EQ(shown.Total()[300], shown.Loads()[300][0] + shown.Loads()[300][1]);
    EXPECT_EQ(shown.Loads()[300][2], 99.0);  // an idle plate's column is not filtered
    EXPECT_EQ(shown.SetFilter(0), LowPassError::None);
    EXPECT_EQ(shown.Stretch(), (SampleStretch{250, 400}));
    EXPECT_EQ(shown.Results().total->peak, 50.0);
    EXPECT_EQ(shown.SetFilter(50), LowPassError::None);
    shown.Show(Steps(100, 20));  // 50 Hz is above 0.45 x 100 Hz
    EXPECT_EQ(shown.FilterCutoff(), 0);
    EXPECT_TRUE(shown.WholeRunShown());
    EXPECT_EQ(shown.SetFilter(50), LowPassError::CutoffTooHigh);
    EXPECT_EQ(shown.SetFilter(7), LowPassError::CutoffNotOffered);
}

TEST(ShownResults, LoadRangeSpansZeroEveryColumnAndTheTotalGiven) {
    ResultsRun run = Steps(50, 10);
    const std::vector<double> total{std::nan(""), 120.0, -30.0};
    EXPECT_EQ(LoadRange(run.loads, {}), (std::pair{-5.0, 99.0}));
    EXPECT_EQ(LoadRange(run.loads, total), (std::pair{-30.0, 120.0}));
    EXPECT_EQ(LoadRange({}, {}), (std::pair{0.0, 0.0}));
}

TEST(ShownResults, StretchTextGivesSamplesFromOneAndSecondsFromTheFirstSample) {
    EXPECT_EQ(StretchText({0, 143999}, 600, ','), "amostras 1 a 144000 (0,000 s a 239,998 s)");
    EXPECT_EQ(StretchText({3, 3}, 50, '.'), "amostras 4 a 4 (0.060 s a 0.060 s)");
    EXPECT_EQ(StretchText({0, 9}, 0, ','), "amostras 1 a 10");
}

}  // namespace
}  // namespace kelvaro
