// The results of the run on the main window's chart, kept in step with it: the total line
// shown or hidden, the plates read raw or through the low-pass, the stretch the operator marks
// on the chart and the table of its figures.
#pragma once

#include <QObject>
#include <QString>
#include <optional>

#include "results/ShownResults.h"

namespace kelvaro {

class LoadChart;
class ResultsPanel;

class ResultsScreen : public QObject {
    Q_OBJECT
  public:
    // The chart's series 1 to 4 draw the plates and `totalSeries` the total.
    ResultsScreen(LoadChart& chart, int totalSeries, ResultsPanel& panel, char decimalSeparator,
                  QObject* parent = nullptr);

    // A run the chart has just drawn from its raw loads, shown whole.
    void Show(ResultsRun run);
    // The chart is cleared for a new run: no total line, no stretch, an empty table.
    void Clear();
    const ShownResults& Shown() const { return shown_; }

    // Whether the total line is drawn; the operator's choice, or the rule for the run's plates
    // until there is one.
    bool TotalShown() const;
    void SetTotalChoice(std::optional<bool> shown);
    // Before a run is drawn live: whether its total is drawn with it.
    void PrepareLive(const ActivePlates& active, const std::array<std::string, kPlateCount>& units);

    // What the table shows: "Amostras 1 a 2400 (0,000 s a 3,998 s); sem filtro".
    QString Caption() const;
    // For the status line: "trecho: amostras ... (... s a ... s)" while a stretch is marked,
    // empty for the whole run.
    QString StretchStatus() const;

  signals:
    // The operator showed or hid the total: to be remembered.
    void TotalChosen(bool shown);
    // The stretch shown changed.
    void StretchChanged();

  private:
    void OnTotalToggled(bool shown);
    void OnFilterChosen(int cutoffHz);
    void OnStretchMarked(long long firstSample, long long lastSample);
    void OnWholeRun();
    // Draws the plates as they are read and the total as it is chosen, keeping the sample range.
    void Redraw(bool plates);
    void UpdateTable();
    bool TotalDrawable() const;

    LoadChart& chart_;
    int totalSeries_;
    ResultsPanel& panel_;
    char decimalSeparator_;
    ShownResults shown_;
    std::optional<bool> totalChoice_;
};

}  // namespace kelvaro
