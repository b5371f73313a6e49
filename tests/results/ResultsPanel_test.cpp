// The results panel as the operator and assistive technology meet it: the table read through
// Qt's accessibility interface, Ctrl+C, the choices set without echo, and five rows in view.
#include "results/ResultsPanel.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QStandardItemModel>
#include <QTableView>

namespace kelvaro {
namespace {

ResultsTableText FourPlatesAndTotal() {
    const SeriesFigures f{600, 0, 1.0, -2.5, 812.3456, 7, 0.012, 400.0, 400.0, 9.0};
    StretchResults results{{0, 599}, {}, f, {}};
    for (int p = 0; p < kPlateCount; ++p) {
        results.plates.push_back({p, f, 0.25, 0.25});
    }
    return ResultsTable(results, {"kgf", "kgf", "kgf", "kgf"}, ',');
}

TEST(ResultsPanel, ReadsThroughAccessibilityInTheLocalesNotation) {
    ResultsPanel panel;
    panel.ShowTable(FourPlatesAndTotal(), QStringLiteral("Execução inteira"));
    QAccessibleInterface* view = QAccessible::queryAccessibleInterface(panel.table);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->text(QAccessible::Name), QStringLiteral("Resultados"));
    QAccessibleTableInterface* table = view->tableInterface();
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(table->rowCount(), 5);
    ASSERT_EQ(table->columnCount(), 13);
    EXPECT_EQ(table->columnDescription(4), QStringLiteral("Duração (s)"));
    EXPECT_EQ(table->cellAt(0, 5)->text(QAccessible::Name), QStringLiteral("-2,500"));
    EXPECT_EQ(table->cellAt(3, 11)->text(QAccessible::Name), QStringLiteral("25,000"));
}

TEST(ResultsPanel, CopiesTheWholeTableOrTheSelectedRowsWithTheHeader) {
    ResultsPanel panel;
    const ResultsTableText text = FourPlatesAndTotal();
    panel.ShowTable(text, {});
    QKeyEvent copy(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier);
    QApplication::sendEvent(panel.table, &copy);
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), TabSeparated(text));
    panel.table->selectRow(4);
    QApplication::sendEvent(panel.table, &copy);
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(),
              TabSeparated({text.headers, {text.rows[4]}}));
}

TEST(ResultsPanel, TakesChoicesWithoutEchoingThemAndOffersOnlyTheAllowedCutoffs) {
    ResultsPanel panel;
    std::vector<bool> total;
    QObject::connect(&panel, &ResultsPanel::TotalShownChanged,
                     [&](bool shown) { total.push_back(shown); });
    panel.SetTotalShown(true);
    panel.SetFilterChoices({5, 10}, 10);
    EXPECT_TRUE(panel.totalCheck->isChecked());
    EXPECT_EQ(panel.filterCombo->currentData().toInt(), 10);
    const auto* items = qobject_cast<QStandardItemModel*>(panel.filterCombo->model());
    EXPECT_TRUE(items->item(0)->isEnabled());
    EXPECT_FALSE(items->item(3)->isEnabled());  // 20 Hz
    EXPECT_TRUE(total.empty());
    panel.totalCheck->click();
    EXPECT_EQ(total, std::vector<bool>{false});
}

TEST(ResultsPanel, ShowsEveryColumnAndFiveRowsInTheSmallestWindowWithoutScrolling) {
    ResultsPanel panel;
    ResultsTableText text = FourPlatesAndTotal();
    panel.ShowTable(text, {});
    const int fiveRows = panel.sizeHint().height();
    panel.resize(1024, fiveRows);
    panel.show();
    QApplication::processEvents();
    EXPECT_LE(panel.table->rowViewportPosition(4) + panel.table->rowHeight(4),
              panel.table->viewport()->height());
    EXPECT_LE(panel.table->horizontalHeader()->length(), panel.table->viewport()->width());
    const int fitted = panel.sizeHint().height();
    text.rows.resize(2);
    panel.ShowTable(text, {});
    // Fewer rows keep the room of five: the chart above does not change size between runs.
    EXPECT_EQ(panel.sizeHint().height(), fitted);
}

}  // namespace
}  // namespace kelvaro
