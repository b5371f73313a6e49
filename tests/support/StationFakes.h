// Test doubles for what the station's parts draw on and show: a chart recording its calls and a
// counting progress.
#pragma once

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "station/ChartSink.h"
#include "station/ProgressView.h"

namespace kelvaro::testing {

class FakeChart : public ChartSink {
  public:
    std::array<std::vector<ChartPoint>, 4> series;
    std::array<std::string, 4> titles;
    std::array<bool, 4> inLegend{};
    std::vector<std::string> calls;  // "clear 1", "points 1", "max", "min", "legend 1" ...
    double axisMax = 10;
    double axisMin = 0;
    bool legendVisible = false;

    void ClearSeries(int s) override {
        series.at(Index(s)).clear();
        calls.push_back("clear " + std::to_string(s));
    }
    void SetSeriesPoints(int s, std::vector<ChartPoint> points) override {
        series.at(Index(s)) = std::move(points);
        calls.push_back("points " + std::to_string(s));
    }
    // Refuses what the real axis refuses, so a wrong order of the two calls shows.
    void SetLeftAxisMaximum(double v) override {
        calls.push_back("max");
        if (v >= axisMin) {
            axisMax = v;
        }
    }
    void SetLeftAxisMinimum(double v) override {
        calls.push_back("min");
        if (v <= axisMax) {
            axisMin = v;
        }
    }
    void SetSeriesTitle(int s, const std::string& title) override { titles.at(Index(s)) = title; }
    void SetSeriesInLegend(int s, bool listed) override { inLegend.at(Index(s)) = listed; }
    void SetLegendVisible(bool visible) override {
        legendVisible = visible;
        calls.push_back(visible ? "legend 1" : "legend 0");
    }

  private:
    static std::size_t Index(int s) { return static_cast<std::size_t>(s - 1); }
};

class FakeProgress : public ProgressView {
  public:
    int maximum = -1;
    int position = -1;
    int positionCalls = 0;
    int shows = 0;
    int closes = 0;
    bool shown = false;
    void SetMaximum(int m) override { maximum = m; }
    void SetPosition(int p) override {
        // Each row advances the bar by one.
        if (shown && p != position + 1) {
            skipped = true;
        }
        position = p;
        ++positionCalls;
    }
    int Position() const override { return position; }
    void Show() override {
        ++shows;
        shown = true;
    }
    void Close() override {
        ++closes;
        shown = false;
    }
    bool skipped = false;
};

}  // namespace kelvaro::testing
