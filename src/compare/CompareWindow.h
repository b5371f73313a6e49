// Tests side by side on screen: the operator picks the series (the total or a plate) and where
// the lines are aligned (first sample or peak); one chart draws a line per test against time in
// seconds, with the main chart's zoom, pan and read-out, and a table gives each test's figures,
// copied with Ctrl+C for a spreadsheet.
#pragma once

#include <QDialog>
#include <vector>

#include "compare/Comparison.h"
#include "library/LibraryStore.h"

class QComboBox;
class QLabel;
class QTableView;

namespace kelvaro {

class LoadChart;
class ResultsTableModel;

class CompareWindow : public QDialog {
    Q_OBJECT
  public:
    // At most kMaxComparedTests of `tests` are drawn; numbers are written with `decimalSeparator`.
    CompareWindow(std::vector<StoredRunData> tests, char decimalSeparator,
                  QWidget* parent = nullptr);

    // The lines drawn now, one per test; their points are the chart's (LoadChart::Points).
    const std::vector<ComparedLine>& Lines() const { return lines_; }

    QComboBox* seriesCombo = nullptr;     // "Total", "Plataforma 1".."Plataforma 4"
    QComboBox* alignmentCombo = nullptr;  // "Início", "Pico"
    QLabel* note = nullptr;               // tests without a line, units that differ
    LoadChart* chart = nullptr;
    QTableView* table = nullptr;

  private:
    void Draw();

    std::vector<StoredRunData> tests_;
    char decimalSeparator_;
    std::vector<ComparedLine> lines_;
    ResultsTableModel* model_ = nullptr;
};

}  // namespace kelvaro
