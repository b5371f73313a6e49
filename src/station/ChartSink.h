// The chart operations the test run needs: series of (sample number, load) points, a manually
// ranged left axis and a legend. The chart component implements it on screen.
#pragma once

#include <string>
#include <vector>

namespace kelvaro {

struct ChartPoint {
    double x;
    double y;
};

class ChartSink {
  public:
    virtual ~ChartSink() = default;
    // Series are numbered from 1; what each one draws is the caller's choice.
    virtual void ClearSeries(int series) = 0;
    // Replaces a series' points in one go (x ascending).
    virtual void SetSeriesPoints(int series, std::vector<ChartPoint> points) = 0;
    // The axis refuses a maximum below its current minimum and a minimum above its maximum.
    virtual void SetLeftAxisMaximum(double value) = 0;
    virtual void SetLeftAxisMinimum(double value) = 0;
    virtual void SetSeriesTitle(int series, const std::string& title) = 0;
    virtual void SetSeriesInLegend(int series, bool listed) = 0;
    virtual void SetLegendVisible(bool visible) = 0;
};

}  // namespace kelvaro
