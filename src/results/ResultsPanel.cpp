#include "results/ResultsPanel.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QStyleOptionHeader>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "results/ResultsTableModel.h"
#include "ui/StationStyle.h"

namespace kelvaro {

namespace {

// The cutoffs offered, in Hz; which of them a run allows depends on its frequency.
constexpr int kCutoffs[] = {5, 10, 20, 50};

// The table's figures in Verdana 8 (11 px on the station's 96 dpi screens).
constexpr int kTablePixelSize = 11;

// `text` broken in two lines at the space that makes the wider line narrowest.
QString TwoLines(const QString& text, const QFontMetrics& metrics) {
    QString best = text;
    int bestWidth = metrics.horizontalAdvance(text);
    for (qsizetype space = text.indexOf(u' '); space >= 0; space = text.indexOf(u' ', space + 1)) {
        const int width = std::max(metrics.horizontalAdvance(text.left(space)),
                                   metrics.horizontalAdvance(text.mid(space + 1)));
        if (width < bestWidth) {
            bestWidth = width;
            best = text.left(space) + u'\n' + text.mid(space + 1);
        }
    }
    return best;
}

// Column titles in two lines: in one, the titles alone would make the table wider than the
// smallest window.
class TwoLineHeader : public QHeaderView {
  public:
    explicit TwoLineHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
        setTextElideMode(Qt::ElideNone);
    }

  protected:
    void initStyleOptionForIndex(QStyleOptionHeader* option, int logicalIndex) const override {
        QHeaderView::initStyleOptionForIndex(option, logicalIndex);
        option->text = TwoLines(option->text, option->fontMetrics);
    }

    QSize sectionSizeFromContents(int logicalIndex) const override {
        const QSize oneLine = QHeaderView::sectionSizeFromContents(logicalIndex);
        if (model() == nullptr) {
            return oneLine;
        }
        const QString text = model()->headerData(logicalIndex, orientation()).toString();
        const QFontMetrics metrics(font());
        const QSize textSize = metrics.size(0, text);
        const QSize twoLines = metrics.size(0, TwoLines(text, metrics));
        return {oneLine.width() - textSize.width() + twoLines.width(),
                oneLine.height() - textSize.height() + metrics.lineSpacing() + metrics.height()};
    }
};

}  // namespace

ResultsPanel::ResultsPanel(QWidget* parent) : QWidget(parent) {
    setFont(DefaultWindowFont());

    caption = new QLabel(this);
    caption->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    totalCheck = new QCheckBox(QStringLiteral("Mostrar total"), this);
    filterCombo = new QComboBox(this);
    filterCombo->addItem(QStringLiteral("Sem filtro"), 0);
    for (int cutoff : kCutoffs) {
        filterCombo->addItem(QStringLiteral("Passa-baixa %1 Hz").arg(cutoff), cutoff);
    }
    wholeRunButton = new QPushButton(QStringLiteral("Execução inteira"), this);
    wholeRunButton->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    wholeRunButton->setToolTip(QStringLiteral("Voltar à execução inteira (Ctrl+E)"));
    auto* hint = new QLabel(QStringLiteral("Shift + arrastar no gráfico: trecho"), this);

    auto* top = new QHBoxLayout;
    top->setContentsMargins(0, 0, 0, 0);
    top->addWidget(caption, 1);
    top->addWidget(totalCheck);
    top->addWidget(filterCombo);
    top->addWidget(wholeRunButton);
    top->addWidget(hint);

    model_ = new ResultsTableModel(this);
    table = new QTableView(this);
    table->setHorizontalHeader(new TwoLineHeader(table));
    table->setModel(model_);
    table->setAccessibleName(QStringLiteral("Resultados"));
    table->setFont(VerdanaFont(kTablePixelSize, false));
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    table->verticalHeader()->hide();
    // Rows of one height, room for the most a run can have: the chart above keeps its size from
    // one run to the next, whatever plates they used.
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 4);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table->horizontalHeader()->setStretchLastSection(false);
    table->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    CopyRowsOnCtrlC(table, model_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(top);
    layout->addWidget(table);

    connect(totalCheck, &QCheckBox::toggled, this, &ResultsPanel::TotalShownChanged);
    connect(filterCombo, &QComboBox::activated, this,
            [this](int index) { emit FilterChosen(filterCombo->itemData(index).toInt()); });
    connect(wholeRunButton, &QPushButton::clicked, this, &ResultsPanel::WholeRunRequested);
    FitTableHeight();
}

void ResultsPanel::ShowTable(ResultsTableText text, const QString& captionText) {
    caption->setText(captionText);
    model_->SetTable(std::move(text));
    FitTableHeight();
}

void ResultsPanel::SetTotalShown(bool shown) {
    const QSignalBlocker blocker(totalCheck);
    totalCheck->setChecked(shown);
}

void ResultsPanel::SetFilterChoices(const std::vector<int>& allowedCutoffs, int currentCutoff) {
    const QSignalBlocker blocker(filterCombo);
    auto* items = qobject_cast<QStandardItemModel*>(filterCombo->model());
    int current = 0;
    for (int i = 0; i < filterCombo->count(); ++i) {
        const int cutoff = filterCombo->itemData(i).toInt();
        const bool allowed =
            cutoff == 0 || std::ranges::find(allowedCutoffs, cutoff) != allowedCutoffs.end();
        if (items != nullptr) {
            items->item(i)->setEnabled(allowed);
        }
        if (allowed && cutoff == currentCutoff) {
            current = i;
        }
    }
    filterCombo->setCurrentIndex(current);
}

void ResultsPanel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FitTableHeight();
}

// Every row shows without a scroll bar, and the panel takes no more height than the most rows
// need: the active plates and the total.
void ResultsPanel::FitTableHeight() {
    table->resizeColumnsToContents();
    QHeaderView* header = table->horizontalHeader();
    const int rows = std::max(model_->rowCount(), kPlateCount + 1);
    int height = 2 * table->frameWidth() + header->sizeHint().height() +
                 rows * table->verticalHeader()->defaultSectionSize();
    if (header->length() > table->width() - 2 * table->frameWidth()) {
        height += table->horizontalScrollBar()->sizeHint().height();
    }
    table->setFixedHeight(height);
}

}  // namespace kelvaro
