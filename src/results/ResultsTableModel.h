// The results table as a Qt item model, so that the view, the keyboard and assistive
// technology read the same cell texts.
#pragma once

#include <QAbstractTableModel>

class QTableView;

#include "results/ResultsText.h"

namespace kelvaro {

class ResultsTableModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    using QAbstractTableModel::QAbstractTableModel;

    void SetTable(ResultsTableText table);
    const ResultsTableText& Table() const { return table_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

  private:
    ResultsTableText table_;
};

// Ctrl+C on `view` copies the selected rows of `model` (every row with none selected) with the
// header line, tab-separated, for a spreadsheet: the view alone would copy the current cell.
void CopyRowsOnCtrlC(QTableView* view, const ResultsTableModel* model);

}  // namespace kelvaro
