#include "review/RecentRunsDialog.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "ui/PortugueseDialogs.h"
#include "ui/StationStyle.h"

namespace kelvaro {

namespace {

QTableWidgetItem* Cell(const std::string& text, Qt::Alignment alignment) {
    auto* item = new QTableWidgetItem(QString::fromStdString(text));
    item->setTextAlignment(alignment | Qt::AlignVCenter);
    return item;
}

}  // namespace

RecentRunsDialog::RecentRunsDialog(const std::vector<RecentRun>& recent, QString fileFolder,
                                   QWidget* parent)
    : QDialog(parent), recent_(recent), fileFolder_(std::move(fileFolder)) {
    setObjectName(QStringLiteral("TestesAnteriores"));
    setWindowTitle(QStringLiteral("Kelvaro - Testes anteriores"));
    setFont(DefaultWindowFont());
    resize(620, 420);

    auto* layout = new QVBoxLayout(this);
    auto* heading = new QLabel(
        recent_.empty() ? QStringLiteral("Nenhum teste guardado no diário.")
                        : QStringLiteral("Testes recentes (os últimos 50 ficam guardados):"),
        this);
    layout->addWidget(heading);

    table = new QTableWidget(static_cast<int>(recent_.size()), 5, this);
    table->setHorizontalHeaderLabels({QStringLiteral("Data"), QStringLiteral("Hora"),
                                      QStringLiteral("Teste"), QStringLiteral("Amostras"),
                                      QStringLiteral("Placas")});
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    for (int row = 0; row < table->rowCount(); ++row) {
        const RecentRun& run = recent_[static_cast<std::size_t>(row)];
        if (!run.damage.empty()) {
            table->setItem(row, 0, Cell("—", Qt::AlignLeft));
            table->setItem(row, 4, Cell("diário danificado", Qt::AlignLeft));
            for (int column = 0; column < table->columnCount(); ++column) {
                if (table->item(row, column) != nullptr) {
                    table->item(row, column)->setToolTip(QString::fromStdString(run.damage));
                }
            }
            continue;
        }
        table->setItem(row, 0, Cell(run.date, Qt::AlignLeft));
        table->setItem(row, 1, Cell(run.time, Qt::AlignLeft));
        table->setItem(row, 2, Cell(run.testNumber, Qt::AlignRight));
        table->setItem(row, 3, Cell(run.samples, Qt::AlignRight));
        table->setItem(row, 4, Cell(run.plates, Qt::AlignLeft));
    }
    table->resizeColumnsToContents();
    layout->addWidget(table, 1);

    auto* buttons = new QHBoxLayout;
    openFileButton = new QPushButton(QStringLiteral("Abrir arquivo..."), this);
    openButton = new QPushButton(QStringLiteral("Abrir"), this);
    cancelButton = new QPushButton(QStringLiteral("Cancelar"), this);
    buttons->addWidget(openFileButton);
    buttons->addStretch(1);
    buttons->addWidget(openButton);
    buttons->addWidget(cancelButton);
    layout->addLayout(buttons);

    openButton->setDefault(true);
    openButton->setEnabled(false);
    connect(table, &QTableWidget::itemSelectionChanged, this,
            [this] { openButton->setEnabled(!table->selectedItems().isEmpty()); });
    connect(table, &QTableWidget::cellDoubleClicked, this, [this] { OnOpenClicked(); });
    connect(openButton, &QPushButton::clicked, this, [this] { OnOpenClicked(); });
    connect(openFileButton, &QPushButton::clicked, this, [this] { OnOpenFileClicked(); });
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    if (!recent_.empty()) {
        table->selectRow(0);
    }
}

void RecentRunsDialog::OnOpenClicked() {
    const int row = table->currentRow();
    if (row < 0 || row >= static_cast<int>(recent_.size())) {
        return;
    }
    chosen_ = recent_[static_cast<std::size_t>(row)].path;
    accept();
}

void RecentRunsDialog::OnOpenFileClicked() {
    QFileDialog dialog(this, QStringLiteral("Abrir teste"));
    // Qt's own dialog, so its labels can be Portuguese whatever the desktop's language.
    dialog.setOptions(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters({QStringLiteral("Arquivos do Microsoft Excel (*.csv)"),
                           QStringLiteral("Todos os arquivos (*)")});
    dialog.setDirectory(fileFolder_);
    ApplyPortugueseOpenTexts(dialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    chosen_ = dialog.selectedFiles().front().toStdString();
    accept();
}

std::optional<std::string> RecentRunsChooser::Choose(const std::vector<RecentRun>& recent) {
    RecentRunsDialog dialog(recent, fileFolder_, parent_);
    dialog.exec();
    return dialog.Chosen();
}

}  // namespace kelvaro
