// Test doubles for the calibration operations: a screen that records what it is shown and how
// its reading timer is driven, and a progress window that counts what is done to it.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>

#include "calibration/CalibrationView.h"
#include "station/ProgressView.h"

namespace kelvaro::testing {

class FakeCalibrationView : public CalibrationView {
  public:
    int timerStops = 0;
    int timerStarts = 0;
    bool timerRunning = true;
    int focusedLoadField = 0;
    std::array<std::string, 4> load{"50", "50", "50", "50"};
    std::array<std::string, 4> unit{"kgf", "kgf", "kgf", "kgf"};
    std::array<std::string, 4> index{"1,000", "1,000", "1,000", "1,000"};
    std::array<std::string, 4> tareText{"0,000", "0,000", "0,000", "0,000"};
    std::array<std::string, 4> tareCaption{"Tara", "Tara", "Tara", "Tara"};
    std::array<ReadingDisplay, 4> shown{};
    std::array<int, 4> showCount{};
    // The wait the live reading asked for, until the test calls it back.
    std::optional<int> scheduled;
    // The step the plate preparation asked for, until the test calls it back.
    std::optional<int> preparationDue;

    void StopReadingTimer() override {
        ++timerStops;
        timerRunning = false;
    }
    void StartReadingTimer() override {
        ++timerStarts;
        timerRunning = true;
    }
    void ScheduleReadingStep(int milliseconds) override { scheduled = milliseconds; }
    void SchedulePreparationStep(int milliseconds) override { preparationDue = milliseconds; }
    std::string LoadText(int plate) const override { return load.at(At(plate)); }
    std::string UnitText(int plate) const override { return unit.at(At(plate)); }
    std::string IndexText(int plate) const override { return index.at(At(plate)); }
    void SetIndexText(int plate, const std::string& text) override { index.at(At(plate)) = text; }
    void SetTareText(int plate, const std::string& text) override { tareText.at(At(plate)) = text; }
    void SetTareCaption(int plate, const std::string& caption) override {
        tareCaption.at(At(plate)) = caption;
    }
    void FocusLoadField(int plate) override { focusedLoadField = plate; }
    void ShowReading(int plate, const ReadingDisplay& display) override {
        shown.at(At(plate)) = display;
        ++showCount.at(At(plate));
    }

  private:
    static std::size_t At(int plate) { return static_cast<std::size_t>(plate - 1); }
};

class CountingProgress : public ProgressView {
  public:
    int maximum = 100;
    int position = 0;
    bool visible = false;
    int shows = 0;
    int closes = 0;
    // Called after each position change, while the run is still going.
    std::function<void(int)> onPosition;
    // The operator presses "Cancelar" once the bar reaches this position.
    std::optional<int> cancelAt;
    int cancellableRuns = 0;

    void SetMaximum(int value) override { maximum = value; }
    void SetPosition(int value) override {
        position = value;
        if (onPosition) {
            onPosition(value);
        }
    }
    int Position() const override { return position; }
    void Show() override {
        visible = true;
        ++shows;
    }
    void Close() override {
        visible = false;
        ++closes;
    }
    bool RunCancellable(const std::function<bool()>& step) override {
        ++cancellableRuns;
        Show();
        bool cancelled = false;
        while (step()) {
            if (cancelAt && position >= *cancelAt) {
                cancelled = true;
                break;
            }
        }
        Close();
        return cancelled;
    }
};

}  // namespace kelvaro::testing
