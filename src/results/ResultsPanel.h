// The results panel under the chart: what the table shows (caption), the total's and the
// filter's choices, the way back to the whole run, and the table, which copies itself to the
// clipboard for a spreadsheet.
#pragma once

#include <QWidget>
#include <vector>

#include "results/ResultsText.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTableView;

namespace kelvaro {

class ResultsTableModel;

class ResultsPanel : public QWidget {
    Q_OBJECT

  public:
    explicit ResultsPanel(QWidget* parent = nullptr);

    void ShowTable(ResultsTableText text, const QString& captionText);
    // Neither emits.
    void SetTotalShown(bool shown);
    // Only the cutoffs in `allowedCutoffs` can be chosen; "Sem filtro" always can.
    void SetFilterChoices(const std::vector<int>& allowedCutoffs, int currentCutoff);

    QLabel* caption = nullptr;
    QCheckBox* totalCheck = nullptr;
    QComboBox* filterCombo = nullptr;
    QPushButton* wholeRunButton = nullptr;
    QTableView* table = nullptr;

  signals:
    void TotalShownChanged(bool shown);
    void FilterChosen(int cutoffHz);
    void WholeRunRequested();

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void FitTableHeight();

    ResultsTableModel* model_ = nullptr;
};

}  // namespace kelvaro
