// The dialogs, progress window and live chart the benchmarks drive screens and runs with:
// prompts are answered without a window and anything else is printed, so a benchmark never
// blocks; the live chart reads the run's loads as often as the real one, without drawing; and a
// count of a widget's paints, to show a real chart was drawn.
#pragma once

#include <QEvent>
#include <QObject>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "station/ChartSink.h"
#include "station/Dialogs.h"
#include "station/LiveChartSink.h"
#include "station/ProgressView.h"

namespace kelvaro::bench {

// Confirms the start, declines the save, prints anything else (an error would spoil the run).
class BenchDialogs : public Dialogs {
  public:
    DialogResult MessageBox(const std::string& text, const std::string&, DialogButtons buttons,
                            DialogIcon) override {
        if (buttons == DialogButtons::OkCancel) {
            return DialogResult::Ok;
        }
        if (buttons == DialogButtons::YesNo) {
            return DialogResult::No;
        }
        std::string line = text;
        std::replace(line.begin(), line.end(), '\r', ' ');
        std::fprintf(stderr, "message: %s\n", line.c_str());
        return DialogResult::Ok;
    }
    std::string InputBox(const std::string&, const std::string&, const std::string& initial,
                         bool* cancelled) override {
        if (cancelled) {
            *cancelled = true;
        }
        return initial;
    }
    std::optional<std::string> SaveFile(const SaveFileRequest&) override { return std::nullopt; }
    bool OpenWithAssociatedApplication(const std::string&) override { return false; }
};

// A chart that draws nothing: the benches time the station, not the painting.
class NullChart : public ChartSink {
  public:
    void ClearSeries(int) override {}
    void SetSeriesPoints(int, std::vector<ChartPoint>) override {}
    void SetLeftAxisMaximum(double) override {}
    void SetLeftAxisMinimum(double) override {}
    void SetSeriesTitle(int, const std::string&) override {}
    void SetSeriesInLegend(int, bool) override {}
    void SetLegendVisible(bool) override {}
};

class NullProgress : public ProgressView {
  public:
    void SetMaximum(int) override {}
    void SetPosition(int) override {}
    int Position() const override { return 0; }
    void Show() override {}
    void Close() override {}
};

class ReadingLiveChart : public LiveChartSink {
  public:
    ReadingLiveChart() {
        timer_.setInterval(100);
        QObject::connect(&timer_, &QTimer::timeout, [this] { rows = loadsSoFar_().size(); });
    }
    void BeginLive(const std::array<bool, 4>&, LoadsSoFar loadsSoFar) override {
        loadsSoFar_ = std::move(loadsSoFar);
        timer_.start();
    }
    void EndLive() override {
        timer_.stop();
        rows = loadsSoFar_().size();
        loadsSoFar_ = nullptr;
    }
    std::size_t rows = 0;  // the last count read

  private:
    QTimer timer_;
    LoadsSoFar loadsSoFar_;
};

// Counts the paints of a widget.
class PaintCounter : public QObject {
  public:
    long paints = 0;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return QObject::eventFilter(watched, event);
    }
};

}  // namespace kelvaro::bench
