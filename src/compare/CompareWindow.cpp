#include "compare/CompareWindow.h"

#include <QChart>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLegend>
#include <QLocale>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <string>

#include "chart/LoadChart.h"
#include "results/ResultsTableModel.h"
#include "ui/StationStyle.h"

namespace kelvaro {

namespace {

// The chart's numbers in the station's notation: the system's when it agrees, else a locale
// that writes that separator.
QLocale NumberLocale(char decimalSeparator) {
    const QLocale system = QLocale::system();
    if (system.decimalPoint() == QString(QLatin1Char(decimalSeparator))) {
        return system;
    }
    return decimalSeparator == ',' ? QLocale(QLocale::Portuguese, QLocale::Brazil)
                                   : QLocale(QLocale::English, QLocale::UnitedStates);
}

}  // namespace

CompareWindow::CompareWindow(std::vector<StoredRunData> tests, char decimalSeparator,
                             QWidget* parent)
    : QDialog(parent), tests_(std::move(tests)), decimalSeparator_(decimalSeparator) {
    if (tests_.size() > static_cast<std::size_t>(kMaxComparedTests)) {
        tests_.resize(kMaxComparedTests);
    }
    setObjectName(QStringLiteral("Comparar"));
    setWindowTitle(QStringLiteral("Kelvaro - Comparar testes"));
    setFont(DefaultWindowFont());
    resize(1200, 780);

    seriesCombo = new QComboBox(this);
    seriesCombo->addItem(QStringLiteral("Total"), kComparedTotal);
    for (int plate = 1; plate <= kPlateCount; ++plate) {
        seriesCombo->addItem(QStringLiteral("Plataforma %1").arg(plate), plate);
    }
    alignmentCombo = new QComboBox(this);
    alignmentCombo->addItem(QStringLiteral("Início"),
                            static_cast<int>(CompareAlignment::FirstSample));
    alignmentCombo->addItem(QStringLiteral("Pico"), static_cast<int>(CompareAlignment::Peak));
    alignmentCombo->setToolTip(
        QStringLiteral("Início: tempo 0 na primeira amostra de cada teste\n"
                       "Pico: tempo 0 no pico de cada teste"));
    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("Série"), this));
    top->addWidget(seriesCombo);
    top->addSpacing(16);
    top->addWidget(new QLabel(QStringLiteral("Alinhar no"), this));
    top->addWidget(alignmentCombo);
    top->addSpacing(16);
    top->addWidget(new QLabel(QStringLiteral("Roda do mouse: zoom · arrastar: mover · "
                                             "clique duplo: tudo"),
                              this));
    top->addStretch(1);

    note = new QLabel(this);
    note->setWordWrap(true);
    note->hide();

    chart = new LoadChart(static_cast<int>(std::max<std::size_t>(tests_.size(), 1)), this);
    chart->SetTimeAxis(QStringLiteral("Tempo (s)"));
    chart->SetNumberLocale(NumberLocale(decimalSeparator_));
    for (int i = 0; i < chart->SeriesCount(); ++i) {
        chart->SetSeriesColour(i + 1, DistinctColour(i));
    }
    // Eight names with dates do not fit in a row under the plot: they go one a line beside it.
    chart->Chart()->legend()->setAlignment(Qt::AlignRight);
    chart->SetLegendVisible(true);

    model_ = new ResultsTableModel(this);
    table = new QTableView(this);
    table->setModel(model_);
    table->setAccessibleName(QStringLiteral("Resultados"));
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->verticalHeader()->hide();
    table->setWordWrap(false);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    table->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    CopyRowsOnCtrlC(table, model_);

    auto* close = new QPushButton(QStringLiteral("Fechar"), this);
    close->setAutoDefault(false);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(new QLabel(QStringLiteral("Ctrl+C copia a tabela"), this));
    bottom->addStretch(1);
    bottom->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(note);
    layout->addWidget(chart, 1);
    layout->addWidget(table);
    layout->addLayout(bottom);

    connect(seriesCombo, &QComboBox::currentIndexChanged, this, [this] { Draw(); });
    connect(alignmentCombo, &QComboBox::currentIndexChanged, this, [this] { Draw(); });
    Draw();
    // A row a test and no more: the chart keeps the rest of the height.
    table->resizeColumnsToContents();
    table->setFixedHeight(2 * table->frameWidth() + table->horizontalHeader()->sizeHint().height() +
                          model_->rowCount() * table->verticalHeader()->defaultSectionSize() +
                          table->horizontalScrollBar()->sizeHint().height());
}

void CompareWindow::Draw() {
    const int series = seriesCombo->currentData().toInt();
    const auto alignment = static_cast<CompareAlignment>(alignmentCombo->currentData().toInt());
    lines_ = CompareLines(tests_, series, alignment);

    model_->SetTable(CompareTable(lines_, series, decimalSeparator_));
    const auto [low, high] = CompareLoadRange(lines_);
    chart->SetLeftAxisMinimum(low);
    chart->SetLeftAxisMaximum(high);
    QStringList missing;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        ComparedLine& line = lines_[i];
        const int number = static_cast<int>(i) + 1;
        chart->SetSeriesTitle(number, line.legend);
        chart->SetSeriesInLegend(number, !line.absence);
        // Up to eight runs of 144000 samples: the chart takes the points, none are copied.
        chart->SetSeriesPoints(number, std::move(line.points));
        line.points.clear();
        if (line.absence) {
            missing << QString::fromStdString(line.legend + " (" +
                                              LineAbsenceText(*line.absence, series) + ")");
        }
    }
    chart->ResetView();

    QStringList notes;
    if (!missing.isEmpty()) {
        notes << QStringLiteral("Sem linha no gráfico: ") + missing.join(QStringLiteral("; ")) +
                     QLatin1Char('.');
    }
    if (const std::vector<std::string> units = CompareUnits(lines_); units.size() > 1) {
        QStringList names;
        for (const std::string& unit : units) {
            names << QString::fromStdString(unit);
        }
        notes << QStringLiteral("Atenção: as cargas estão em unidades diferentes (%1).")
                     .arg(names.join(QStringLiteral(", ")));
    }
    note->setText(notes.join(QLatin1Char('\n')));
    note->setVisible(!notes.isEmpty());
}

}  // namespace kelvaro
