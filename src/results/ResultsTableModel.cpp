#include "results/ResultsTableModel.h"

#include <QApplication>
#include <QClipboard>
#include <QEvent>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QTableView>
#include <algorithm>
#include <cstddef>
#include <utility>

namespace kelvaro {

namespace {

// The series' name and unit; the columns after them hold figures.
constexpr int kTextColumns = 2;

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

class RowCopier : public QObject {
  public:
    RowCopier(QTableView* view, const ResultsTableModel* model)
        : QObject(view), view_(view), model_(model) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == view_ &&
            (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) &&
            static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
            event->accept();
            if (event->type() == QEvent::KeyPress) {
                Copy();
            }
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    void Copy() const {
        const ResultsTableText& whole = model_->Table();
        QModelIndexList selected = view_->selectionModel()->selectedRows();
        if (selected.isEmpty()) {
            QApplication::clipboard()->setText(QString::fromStdString(TabSeparated(whole)));
            return;
        }
        std::ranges::sort(selected, {}, &QModelIndex::row);
        ResultsTableText part{whole.headers, {}};
        for (const QModelIndex& index : selected) {
            part.rows.push_back(whole.rows[static_cast<std::size_t>(index.row())]);
        }
        QApplication::clipboard()->setText(QString::fromStdString(TabSeparated(part)));
    }

    QTableView* view_;
    const ResultsTableModel* model_;
};

}  // namespace

void CopyRowsOnCtrlC(QTableView* view, const ResultsTableModel* model) {
    view->installEventFilter(new RowCopier(view, model));
}

void ResultsTableModel::SetTable(ResultsTableText table) {
    beginResetModel();
    table_ = std::move(table);
    endResetModel();
}

int ResultsTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(table_.rows.size());
}

int ResultsTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(table_.headers.size());
}

QVariant ResultsTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) {
        return {};
    }
    const auto& row = table_.rows[static_cast<std::size_t>(index.row())];
    const auto column = static_cast<std::size_t>(index.column());
    switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:
            return column < row.size() ? FromUtf8(row[column]) : QString();
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(
                Qt::AlignVCenter |
                (index.column() < kTextColumns ? Qt::AlignLeft : Qt::AlignRight));
        default:
            return {};
    }
}

QVariant ResultsTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount() ||
        (role != Qt::DisplayRole && role != Qt::AccessibleTextRole)) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    return FromUtf8(table_.headers[static_cast<std::size_t>(section)]);
}

Qt::ItemFlags ResultsTableModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

}  // namespace kelvaro
