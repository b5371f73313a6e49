// Test doubles for the main window as the test run sees it: a view recording labels, run states,
// buttons, idle-pass state, chart and live chart calls, with a scripted Escape key.
#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "StationFakes.h"
#include "run/TestRunView.h"
#include "station/LiveChartSink.h"

namespace kelvaro::testing {

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

class FakeView : public TestRunView, public ArchiveView {
  public:
    std::vector<std::pair<std::string, bool>> labels;  // text, repainted at once
    RunState shown = RunState::Idle;
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
    void ShowRunState(RunState s) override { shown = s; }
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
    RunMetadata Metadata() override { return metadata; }
    void RunSaved(const StoredRun& run) override { saved.push_back(run.heading.testNumber); }
    RunMetadata metadata;             // what the form holds
    std::vector<std::int64_t> saved;  // the number of every run told saved
    void RunDrawn(const StoredRun& run) override {
        if (drawn) {
            drawn(run);
        }
    }
    std::function<void(const StoredRun&)> drawn;
    void RunAside(const std::function<void()>& work) override { work(); }

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

}  // namespace kelvaro::testing
