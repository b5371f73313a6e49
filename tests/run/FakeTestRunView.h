// Test doubles for the main window as the test run sees it: a view recording labels, captions,
// buttons, idle-pass state, chart and live chart calls, with a scripted Escape key; a counting
// progress.
#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "run/TestRunView.h"
#include "station/ChartSink.h"
#include "station/LiveChartSink.h"
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

// Keeps the run's loads reader while live, as the chart's timer would call it.
class FakeLiveChart : public LiveChartSink {
  public:
    std::vector<std::string> calls;  // "begin", "end"
    std::array<bool, 4> active{};
    LoadsSoFar loadsSoFar;

    void BeginLive(const std::array<bool, 4>& a, LoadsSoFar reader) override {
        calls.emplace_back("begin");
        active = a;
        loadsSoFar = std::move(reader);
    }
    void EndLive() override {
        calls.emplace_back("end");
        loadsSoFar = nullptr;
    }
};

class FakeView : public TestRunView {
  public:
    std::vector<std::pair<std::string, bool>> labels;  // text, repainted at once
    std::string caption = " Iniciar";
    std::vector<bool> buttons;  // every EnableButtons call
    bool idle = false;
    int idleStarts = 0;
    int escapeChecks = 0;
    // Escape is held from this check on (0: never).
    int escapeAtCheck = 0;
    FakeChart chart;
    FakeLiveChart liveChart;

    void SetStatusText(const std::string& text, bool repaintNow) override {
        labels.emplace_back(text, repaintNow);
    }
    void SetStartButtonCaption(const std::string& c) override { caption = c; }
    void EnableButtons(bool enabled) override { buttons.push_back(enabled); }
    void StartIdlePass() override {
        idle = true;
        ++idleStarts;
    }
    void StopIdlePass() override { idle = false; }
    void ScheduleStartUpStep(int delayMs) override { stepDue = delayMs; }
    bool EscapeHeld() override { return ++escapeChecks == escapeAtCheck; }
    ChartSink& Chart() override { return chart; }
    LiveChartSink& LiveChart() override { return liveChart; }
    void RunFinished(StoredRun run) override { finished = std::move(run); }

    std::optional<StoredRun> finished;
    std::optional<int> stepDue;  // the delay of the start-up's next step, when one is due
    int startUpSteps = 0;

    // Runs the start-up's steps as the window's timer would, until it has begun the run or given
    // up, or `until` holds (a generous deadline stands for a start-up that never ends).
    template <typename Run>
    void FinishStartUp(Run& run, const std::function<bool()>& until = {}) {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (stepDue && !(until && until()) && std::chrono::steady_clock::now() < giveUp) {
            std::this_thread::sleep_for(std::chrono::milliseconds(*std::exchange(stepDue, {})));
            ++startUpSteps;
            run.ContinueStartUp();
        }
    }
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
