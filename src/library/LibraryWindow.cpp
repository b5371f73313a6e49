#include "library/LibraryWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateEdit>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>
#include <memory>

#include "archive/StoredRun.h"
#include "compare/CompareWindow.h"
#include "library/LibraryWorker.h"
#include "library/RunRecording.h"
#include "station/Dialogs.h"
#include "station/FileErrorText.h"
#include "ui/GuiAnswer.h"
#include "ui/PortugueseDialogs.h"
#include "ui/StationStyle.h"

namespace kelvaro {

namespace {

constexpr const char* kTitle = "Kelvaro - Biblioteca";

// The columns, and what the library sorts by when one is clicked (none: not sortable).
struct Column {
    const char* heading;
    std::optional<LibrarySortColumn> sortBy;
};
const Column kColumns[] = {
    {"Data e hora", LibrarySortColumn::Start},
    {"Teste", LibrarySortColumn::TestNumber},
    {"Avaliado", LibrarySortColumn::Evaluated},
    {"Protocolo", LibrarySortColumn::Protocol},
    {"Observações", std::nullopt},
    {"Frequência (Hz)", LibrarySortColumn::Frequency},
    {"Amostras", LibrarySortColumn::Samples},
    {"Pico do total", LibrarySortColumn::TotalPeak},
    {"Média do total", LibrarySortColumn::TotalMean},
    {"Unidade", std::nullopt},
    {"Importado", LibrarySortColumn::Imported},
};
constexpr int kColumnCount = static_cast<int>(std::size(kColumns));

QString Figure(const std::optional<double>& value, char separator) {
    if (!value) {
        return QStringLiteral("---");
    }
    QString text = QString::number(*value, 'f', 3);
    return text.replace(QLatin1Char('.'), QLatin1Char(separator));
}

// The units of the plates the test used, each once.
QString Units(const LibraryEntry& entry) {
    QStringList units;
    for (int p = 0; p < kPlateCount; ++p) {
        const QString unit = QString::fromStdString(entry.units[p]);
        if (entry.active[p] && !unit.isEmpty() && !units.contains(unit)) {
            units.push_back(unit);
        }
    }
    return units.join(QLatin1Char('/'));
}

std::string TestName(const LibraryEntry& entry) {
    return entry.testNumber > 0 ? std::to_string(entry.testNumber)
                                : "não salvo de " + LocalTimeText(entry.start);
}

std::chrono::system_clock::time_point StartOfDay(const QDate& date) {
    return std::chrono::system_clock::time_point(
        std::chrono::milliseconds(QDateTime(date, QTime(0, 0)).toMSecsSinceEpoch()));
}

QStandardItem* Cell(const QString& text, bool number) {
    auto* item = new QStandardItem(text);
    item->setTextAlignment((number ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    item->setEditable(false);
    return item;
}

}  // namespace

LibraryWindow::LibraryWindow(LibraryWorker& worker, Dialogs& dialogs, char decimalSeparator,
                             std::string libraryPath, QWidget* parent)
    : QDialog(parent),
      worker_(worker),
      dialogs_(dialogs),
      decimalSeparator_(decimalSeparator),
      libraryPath_(std::move(libraryPath)) {
    setObjectName(QStringLiteral("Biblioteca"));
    setWindowTitle(QString::fromUtf8(kTitle));
    setFont(DefaultWindowFont());
    resize(1100, 560);

    chooseFolder = [this]() -> std::optional<std::string> {
        QFileDialog dialog(this, QStringLiteral("Importar arquivos"));
        dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::ShowDirsOnly);
        dialog.setFileMode(QFileDialog::Directory);
        ApplyPortugueseOpenTexts(dialog);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return std::nullopt;
        }
        return dialog.selectedFiles().front().toStdString();
    };
    editMetadata = [this](const QString& title,
                          const RunMetadata& metadata) -> std::optional<RunMetadata> {
        QDialog dialog(this);
        dialog.setWindowTitle(title);
        auto* form = new QFormLayout(&dialog);
        auto* evaluated = new QLineEdit(QString::fromStdString(metadata.evaluated), &dialog);
        auto* protocol = new QLineEdit(QString::fromStdString(metadata.protocol), &dialog);
        auto* notes = new QPlainTextEdit(QString::fromStdString(metadata.notes), &dialog);
        evaluated->setMaxLength(static_cast<int>(kEvaluatedMaxChars));
        protocol->setMaxLength(static_cast<int>(kProtocolMaxChars));
        form->addRow(QStringLiteral("Avaliado"), evaluated);
        form->addRow(QStringLiteral("Protocolo"), protocol);
        form->addRow(QStringLiteral("Observações"), notes);
        auto* box = new QDialogButtonBox(&dialog);
        box->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
        box->addButton(QStringLiteral("Cancelar"), QDialogButtonBox::RejectRole);
        connect(box, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
        connect(box, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
        form->addRow(box);
        if (dialog.exec() != QDialog::Accepted) {
            return std::nullopt;
        }
        return RunMetadata{evaluated->text().toStdString(), protocol->text().toStdString(),
                           notes->toPlainText().toStdString()};
    };

    auto* layout = new QVBoxLayout(this);
    auto* fields = new QGridLayout;
    evaluatedEdit = new QLineEdit(this);
    protocolEdit = new QLineEdit(this);
    notesEdit = new QLineEdit(this);
    testNumberEdit = new QLineEdit(this);
    testNumberEdit->setValidator(new QIntValidator(1, 999'999'999, testNumberEdit));
    fromCheck = new QCheckBox(QStringLiteral("De"), this);
    toCheck = new QCheckBox(QStringLiteral("Até"), this);
    fromEdit = new QDateEdit(QDate::currentDate().addMonths(-1), this);
    toEdit = new QDateEdit(QDate::currentDate(), this);
    for (QDateEdit* edit : {fromEdit, toEdit}) {
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("dd/MM/yyyy"));
        edit->setEnabled(false);
    }
    connect(fromCheck, &QCheckBox::toggled, fromEdit, &QWidget::setEnabled);
    connect(toCheck, &QCheckBox::toggled, toEdit, &QWidget::setEnabled);
    fields->addWidget(new QLabel(QStringLiteral("Avaliado"), this), 0, 0);
    fields->addWidget(evaluatedEdit, 0, 1);
    fields->addWidget(new QLabel(QStringLiteral("Protocolo"), this), 0, 2);
    fields->addWidget(protocolEdit, 0, 3);
    fields->addWidget(new QLabel(QStringLiteral("Observações"), this), 0, 4);
    fields->addWidget(notesEdit, 0, 5);
    fields->addWidget(fromCheck, 1, 0);
    fields->addWidget(fromEdit, 1, 1);
    fields->addWidget(toCheck, 1, 2);
    fields->addWidget(toEdit, 1, 3);
    fields->addWidget(new QLabel(QStringLiteral("Teste nº"), this), 1, 4);
    fields->addWidget(testNumberEdit, 1, 5);
    searchButton = new QPushButton(QStringLiteral("Buscar"), this);
    searchButton->setDefault(true);
    fields->addWidget(searchButton, 1, 6);
    layout->addLayout(fields);
    connect(searchButton, &QPushButton::clicked, this, &LibraryWindow::Search);
    // Enter in any field reaches the dialog's default button: "Buscar".

    countLabel = new QLabel(this);
    layout->addWidget(countLabel);
    model_ = new QStandardItemModel(0, kColumnCount, this);
    for (int column = 0; column < kColumnCount; ++column) {
        model_->setHorizontalHeaderItem(
            column, new QStandardItem(QString::fromUtf8(kColumns[column].heading)));
    }
    table = new QTableView(this);
    table->setModel(model_);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    // Several rows for "Comparar"; the others act on the current row.
    table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->hide();
    table->setWordWrap(false);
    table->horizontalHeader()->setSectionsClickable(true);
    table->horizontalHeader()->setSortIndicatorShown(true);
    table->horizontalHeader()->setSortIndicator(0, Qt::DescendingOrder);
    table->horizontalHeader()->setStretchLastSection(true);
    connect(table->horizontalHeader(), &QHeaderView::sectionClicked, this,
            &LibraryWindow::OnHeaderClicked);
    connect(table, &QTableView::doubleClicked, this, &LibraryWindow::OnOpen);
    layout->addWidget(table, 1);

    auto* buttons = new QHBoxLayout;
    openButton = new QPushButton(QStringLiteral("Abrir"), this);
    compareButton = new QPushButton(QStringLiteral("Comparar"), this);
    compareButton->setToolTip(
        QStringLiteral(
            "Os testes escolhidos (de %1 a %2, com Ctrl ou Shift + clique) lado a lado num gráfico")
            .arg(kMinComparedTests)
            .arg(kMaxComparedTests));
    compareHint = new QLabel(this);
    editButton = new QPushButton(QStringLiteral("Editar..."), this);
    removeButton = new QPushButton(QStringLiteral("Remover"), this);
    importButton = new QPushButton(QStringLiteral("Importar arquivos..."), this);
    backupButton = new QPushButton(QStringLiteral("Copiar biblioteca..."), this);
    rebuildButton = new QPushButton(QStringLiteral("Reconstruir biblioteca..."), this);
    labServerButton = new QPushButton(QStringLiteral("Servidor do laboratório..."), this);
    labServerButton->setVisible(false);
    closeButton = new QPushButton(QStringLiteral("Fechar"), this);
    for (QPushButton* button : {openButton, compareButton, editButton, removeButton, importButton,
                                backupButton, rebuildButton, labServerButton}) {
        button->setAutoDefault(false);
        buttons->addWidget(button);
    }
    buttons->addWidget(compareHint);
    buttons->addStretch(1);
    closeButton->setAutoDefault(false);
    buttons->addWidget(closeButton);
    layout->addLayout(buttons);
    connect(openButton, &QPushButton::clicked, this, &LibraryWindow::OnOpen);
    connect(compareButton, &QPushButton::clicked, this, &LibraryWindow::OnCompare);
    connect(table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &LibraryWindow::UpdateCompare);
    UpdateCompare();
    connect(editButton, &QPushButton::clicked, this, &LibraryWindow::OnEdit);
    connect(removeButton, &QPushButton::clicked, this, &LibraryWindow::OnRemove);
    connect(importButton, &QPushButton::clicked, this, &LibraryWindow::OnImport);
    connect(backupButton, &QPushButton::clicked, this, &LibraryWindow::OnBackup);
    connect(rebuildButton, &QPushButton::clicked, this, &LibraryWindow::OnRebuild);
    connect(labServerButton, &QPushButton::clicked, this, [this] {
        if (openLabServer) {
            openLabServer();
        }
    });
    connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);

    Search();
}

LibraryWindow::~LibraryWindow() {
    *alive_ = false;
}

void LibraryWindow::showEvent(QShowEvent* event) {
    // The hook is set after construction, by whoever owns the server's settings.
    labServerButton->setVisible(static_cast<bool>(openLabServer));
    QDialog::showEvent(event);
}

void LibraryWindow::Run(std::function<std::function<void()>(LibraryStore&)> job) {
    // The window may be closed before the library answers: the token, read only on this
    // thread, says whether `then` still has a window to work on.
    worker_.Post([alive = alive_, job = std::move(job)](LibraryStore& store) {
        AnswerOnGuiThread(alive, job(store));
    });
}

LibraryQuery LibraryWindow::Query() const {
    LibraryQuery query;
    query.evaluated = evaluatedEdit->text().trimmed().toStdString();
    query.protocol = protocolEdit->text().trimmed().toStdString();
    query.notes = notesEdit->text().trimmed().toStdString();
    if (fromCheck->isChecked()) {
        query.from = StartOfDay(fromEdit->date());
    }
    if (toCheck->isChecked()) {
        query.to = StartOfDay(toEdit->date().addDays(1)) - std::chrono::milliseconds(1);
    }
    bool number = false;
    const qlonglong testNumber = testNumberEdit->text().toLongLong(&number);
    if (number) {
        query.testNumber = testNumber;
    }
    query.sortBy = sortBy_;
    query.descending = descending_;
    query.limit = kLibraryWindowRows;
    return query;
}

void LibraryWindow::Search() {
    countLabel->setText(QStringLiteral("Buscando..."));
    Run([this, query = Query()](LibraryStore& store) -> std::function<void()> {
        LibraryStatus status;
        std::vector<LibraryEntry> entries = store.Search(query, &status);
        const int count = status ? store.Count(query, &status) : 0;
        return [this, entries = std::move(entries), count, status]() mutable {
            ShowRows(std::move(entries), count, status);
        };
    });
}

void LibraryWindow::ShowRows(std::vector<LibraryEntry> entries, int count, LibraryStatus status) {
    entries_ = std::move(entries);
    model_->removeRows(0, model_->rowCount());
    for (const LibraryEntry& entry : entries_) {
        const QString number =
            entry.testNumber > 0 ? QString::number(entry.testNumber) : QStringLiteral("não salvo");
        model_->appendRow({
            Cell(QString::fromStdString(LocalTimeText(entry.start)), false),
            Cell(number, true),
            Cell(QString::fromStdString(entry.evaluated), false),
            Cell(QString::fromStdString(entry.protocol), false),
            Cell(QString::fromStdString(entry.notesFirstLine), false),
            Cell(QString::number(entry.frequency), true),
            Cell(QString::number(entry.samples), true),
            Cell(Figure(entry.totalPeak, decimalSeparator_), true),
            Cell(Figure(entry.totalMean, decimalSeparator_), true),
            Cell(Units(entry), false),
            Cell(entry.imported ? QStringLiteral("sim") : QStringLiteral("não"), false),
        });
    }
    table->resizeColumnsToContents();
    // Long notes are read in full with "Editar...": the figures stay in sight.
    constexpr int kNotesColumn = 4;
    table->setColumnWidth(kNotesColumn, std::min(table->columnWidth(kNotesColumn), 160));
    if (!status) {
        countLabel->setText(QString::fromStdString(LibraryStatusText(status, libraryPath_)));
    } else if (count > static_cast<int>(entries_.size())) {
        countLabel->setText(
            QStringLiteral("%1 testes (os primeiros %2 na lista)").arg(count).arg(entries_.size()));
    } else {
        countLabel->setText(count == 1 ? QStringLiteral("1 teste")
                                       : QStringLiteral("%1 testes").arg(count));
    }
    emit SearchDone();
}

void LibraryWindow::OnHeaderClicked(int column) {
    const std::optional<LibrarySortColumn> sortBy = kColumns[column].sortBy;
    if (!sortBy) {
        // Sorted as before: the indicator goes back where the rows are sorted.
        const auto shown = std::find_if(std::begin(kColumns), std::end(kColumns),
                                        [this](const Column& c) { return c.sortBy == sortBy_; });
        table->horizontalHeader()->setSortIndicator(
            static_cast<int>(shown - std::begin(kColumns)),
            descending_ ? Qt::DescendingOrder : Qt::AscendingOrder);
        return;
    }
    descending_ = *sortBy == sortBy_ ? !descending_ : *sortBy == LibrarySortColumn::Start;
    sortBy_ = *sortBy;
    table->horizontalHeader()->setSortIndicator(
        column, descending_ ? Qt::DescendingOrder : Qt::AscendingOrder);
    Search();
}

std::optional<LibraryEntry> LibraryWindow::Selected() {
    const QModelIndexList rows = table->selectionModel()->selectedRows();
    // With several rows chosen, the current one: the row the operator clicked last.
    const QModelIndex current = table->currentIndex();
    const int row = current.isValid() && table->selectionModel()->isRowSelected(current.row())
                        ? current.row()
                        : (rows.isEmpty() ? -1 : rows.front().row());
    if (row < 0 || row >= static_cast<int>(entries_.size())) {
        Tell("Escolha um teste da lista.", false);
        return std::nullopt;
    }
    return entries_[static_cast<std::size_t>(row)];
}

std::vector<LibraryEntry> LibraryWindow::Chosen() const {
    std::vector<int> rows;
    for (const QModelIndex& index : table->selectionModel()->selectedRows()) {
        if (index.row() < static_cast<int>(entries_.size())) {
            rows.push_back(index.row());
        }
    }
    std::sort(rows.begin(), rows.end());
    std::vector<LibraryEntry> chosen;
    for (const int row : rows) {
        chosen.push_back(entries_[static_cast<std::size_t>(row)]);
    }
    return chosen;
}

void LibraryWindow::UpdateCompare() {
    const int count = static_cast<int>(Chosen().size());
    const bool allowed = count >= kMinComparedTests && count <= kMaxComparedTests;
    compareButton->setEnabled(allowed);
    if (allowed) {
        compareHint->clear();
    } else if (count > kMaxComparedTests) {
        compareHint->setText(QStringLiteral("%1 testes escolhidos: compare no máximo %2")
                                 .arg(count)
                                 .arg(kMaxComparedTests));
    } else {
        compareHint->setText(QStringLiteral("Para comparar, escolha de %1 a %2 testes "
                                            "(Ctrl + clique)")
                                 .arg(kMinComparedTests)
                                 .arg(kMaxComparedTests));
    }
}

void LibraryWindow::Tell(const std::string& text, bool warning) {
    dialogs_.MessageBox(text, kTitle, DialogButtons::Ok,
                        warning ? DialogIcon::Warning : DialogIcon::Information);
}

void LibraryWindow::OnOpen() {
    const std::optional<LibraryEntry> entry = Selected();
    if (!entry) {
        return;
    }
    Run([this, entry = *entry](LibraryStore& store) -> std::function<void()> {
        LibraryStatus status;
        std::optional<StoredRunData> run = store.LoadRun(entry.runId, &status);
        return [this, entry, run = std::move(run), status]() mutable {
            if (!run) {
                Tell(status ? "O teste " + TestName(entry) + " não está mais na biblioteca."
                            : ErrorReportText(LibraryStatusText(status, libraryPath_)),
                     true);
            } else if (!run->hasReadings) {
                Tell("O teste " + TestName(entry) +
                         " não tem leituras na biblioteca: ele não foi salvo, e suas leituras "
                         "ficam apenas no diário (\"Testes anteriores\").",
                     false);
            } else {
                emit OpenRequested(std::move(*run));
                accept();
            }
            emit ActionDone();
        };
    });
}

void LibraryWindow::OnCompare() {
    const std::vector<LibraryEntry> chosen = Chosen();
    if (chosen.size() < static_cast<std::size_t>(kMinComparedTests) ||
        chosen.size() > static_cast<std::size_t>(kMaxComparedTests)) {
        Tell("Escolha de " + std::to_string(kMinComparedTests) + " a " +
                 std::to_string(kMaxComparedTests) +
                 " testes da lista para comparar (Ctrl ou Shift + clique).",
             false);
        return;
    }
    compareButton->setEnabled(false);
    Run([this, chosen](LibraryStore& store) -> std::function<void()> {
        std::vector<StoredRunData> runs;
        std::string leftOut;
        LibraryStatus read;  // the library's, when it could not be read
        for (const LibraryEntry& entry : chosen) {
            LibraryStatus status;
            std::optional<StoredRunData> run = store.LoadRun(entry.runId, &status);
            if (!run && !status) {
                read = status;
                break;
            }
            // As "Abrir" tells it: a test never saved keeps its readings in its journal only.
            if (!run) {
                leftOut += "\rteste " + TestName(entry) + ": não está mais na biblioteca;";
            } else if (!run->hasReadings) {
                leftOut += "\rteste " + TestName(entry) +
                           ": não tem leituras na biblioteca (não foi salvo; suas leituras "
                           "ficam apenas no diário, em \"Testes anteriores\");";
            } else {
                runs.push_back(std::move(*run));
            }
        }
        return [this, runs = std::move(runs), leftOut, read]() mutable {
            UpdateCompare();
            const bool enough = runs.size() >= static_cast<std::size_t>(kMinComparedTests);
            if (!read) {
                Tell(ErrorReportText(LibraryStatusText(read, libraryPath_)), true);
            } else if (!leftOut.empty()) {
                leftOut.back() = '.';
                Tell("Ficaram fora da comparação:" + leftOut + "\r" +
                         (enough ? "Os outros " + std::to_string(runs.size()) +
                                       " testes são comparados."
                                 : std::string("Restam menos de 2 testes com leituras: não há o "
                                               "que comparar.")),
                     !enough);
            }
            if (read && enough) {
                auto* window = new CompareWindow(std::move(runs), decimalSeparator_, this);
                window->setAttribute(Qt::WA_DeleteOnClose);
                window->show();
            }
            emit ActionDone();
        };
    });
}

void LibraryWindow::OnEdit() {
    const std::optional<LibraryEntry> entry = Selected();
    if (!entry) {
        return;
    }
    // The whole notes, not the first line the list shows.
    Run([this, entry = *entry](LibraryStore& store) -> std::function<void()> {
        LibraryStatus status;
        std::optional<StoredRunData> run = store.LoadRun(entry.runId, &status);
        return [this, entry, metadata = run ? run->metadata : RunMetadata{},
                found = run.has_value(), status] {
            if (!found) {
                Tell(ErrorReportText(LibraryStatusText(status, libraryPath_)), true);
                return;
            }
            const std::optional<RunMetadata> answer =
                editMetadata(QStringLiteral("Kelvaro - Editar o teste %1")
                                 .arg(QString::fromStdString(TestName(entry))),
                             metadata);
            if (!answer) {
                return;
            }
            const RunMetadata edited{
                CutToCodePoints(QString::fromStdString(answer->evaluated).trimmed().toStdString(),
                                kEvaluatedMaxChars),
                CutToCodePoints(QString::fromStdString(answer->protocol).trimmed().toStdString(),
                                kProtocolMaxChars),
                CutToCodePoints(answer->notes, kNotesMaxChars)};
            Run([this, id = entry.runId, edited, journals = rebuildSources.journalFolder](
                    LibraryStore& editing) -> std::function<void()> {
                const LibraryStatus kept = editing.SetMetadata(id, edited);
                if (kept && !journals.empty()) {
                    // Best effort: the library has the texts; the journal only keeps them for a
                    // rebuild, and a library that can still be read gives them back anyway.
                    KeepMetadataInJournal(journals, id, edited);
                }
                return [this, kept] { Finish(kept); };
            });
        };
    });
}

void LibraryWindow::OnRemove() {
    const std::optional<LibraryEntry> entry = Selected();
    if (!entry || dialogs_.MessageBox("Remover o teste " + TestName(*entry) +
                                          " da biblioteca? O arquivo salvo não é apagado.",
                                      kTitle, DialogButtons::YesNo,
                                      DialogIcon::Question) != DialogResult::Yes) {
        return;
    }
    Run([this, id = entry->runId](LibraryStore& store) -> std::function<void()> {
        const LibraryStatus removed = store.Remove(id);
        return [this, removed] { Finish(removed); };
    });
}

// An edit or removal ended: told when it failed, the list searched again either way.
void LibraryWindow::Finish(const LibraryStatus& status) {
    if (!status) {
        Tell(ErrorReportText(LibraryStatusText(status, libraryPath_)), true);
    }
    Search();
    emit ActionDone();
}

void LibraryWindow::OnImport() {
    const std::optional<std::string> folder = chooseFolder ? chooseFolder() : std::nullopt;
    if (!folder) {
        return;
    }
    Run([this, folder = *folder](LibraryStore& store) -> std::function<void()> {
        std::vector<std::string> files;
        std::error_code error;
        for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
             it.increment(error)) {
            const std::filesystem::path& path = it->path();
            std::string extension = path.extension().string();
            std::transform(extension.begin(), extension.end(), extension.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            if (extension == ".csv" && it->is_regular_file()) {
                files.push_back(path.string());
            }
        }
        std::sort(files.begin(), files.end());
        int imported = 0, already = 0;
        std::string refused;
        std::optional<LibraryStatus> failed;
        for (const std::string& file : files) {
            const ImportOutcome outcome = store.ImportTestFile(file);
            switch (outcome.result) {
                case ImportResult::Imported:
                    ++imported;
                    break;
                case ImportResult::AlreadyThere:
                    ++already;
                    break;
                case ImportResult::Refused:
                    refused += "\r" + (outcome.fileError
                                           ? FileErrorText(*outcome.fileError)
                                           : std::filesystem::path(file).filename().string());
                    break;
                case ImportResult::NotRecorded:
                    failed = outcome.status;
                    break;
            }
            if (failed) {
                break;
            }
        }
        std::string text = "Arquivos importados: " + std::to_string(imported) +
                           ".\rJá estavam na biblioteca: " + std::to_string(already) + ".";
        if (!refused.empty()) {
            text += "\rArquivos recusados:" + refused;
        }
        if (failed) {
            text += "\r" + LibraryStatusText(*failed, libraryPath_);
        }
        if (error) {
            text += "\rA pasta " + folder + " não pôde ser lida inteira: " + error.message() + ".";
        }
        const bool warning = failed || error || !refused.empty();
        return [this, text, warning] {
            Tell(text, warning);
            Search();
            emit ActionDone();
        };
    });
}

void LibraryWindow::OnBackup() {
    SaveFileRequest request;
    request.fileName = "biblioteca-copia";
    request.defaultExtension = ".sqlite";
    request.filter = "Biblioteca de testes (*.sqlite)|*.sqlite";
    const std::optional<std::string> destination = dialogs_.SaveFile(request);
    if (!destination) {
        return;
    }
    Run([this, destination = *destination](LibraryStore& store) -> std::function<void()> {
        const LibraryStatus copied = store.Backup(destination);
        return [this, destination, copied] {
            if (copied) {
                Tell("A biblioteca foi copiada para " + destination + ".", false);
            } else {
                Tell(ErrorReportText(LibraryBackupText(copied, destination)), true);
            }
            emit ActionDone();
        };
    });
}

namespace {

// The operator's words for what a rebuild did, or why it changed nothing.
std::string RebuildText(const LibraryRebuildReport& report, const std::string& libraryPath) {
    if (report.status.error == LibraryError::Busy) {
        return "A biblioteca de testes (" + libraryPath +
               ") está aberta em outro programa da estação. Feche-o e tente de novo; nada foi "
               "alterado.";
    }
    if (!report.status) {
        return "A biblioteca não foi reconstruída e continua como estava.\r" +
               LibraryStatusText(report.status, libraryPath) + ".";
    }
    std::string text = "A biblioteca foi reconstruída.\rTestes dos diários: " +
                       std::to_string(report.runsFromJournals) +
                       " (com o arquivo salvo: " + std::to_string(report.savedFilesFound) +
                       ").\rArquivos importados: " + std::to_string(report.filesImported) +
                       ".\rJá estavam na biblioteca: " + std::to_string(report.filesAlreadyThere) +
                       ".";
    auto list = [&text](const char* heading, const std::vector<FileError>& errors) {
        if (!errors.empty()) {
            text += std::string("\r") + heading;
            for (const FileError& error : errors) {
                text += "\r" + FileErrorText(error);
            }
        }
    };
    list("Diários que não puderam ser lidos:", report.unreadableJournals);
    list("Arquivos recusados:", report.refusedFiles);
    if (!report.keptAside.empty()) {
        text += "\rA biblioteca anterior foi guardada em " + report.keptAside + ".";
    }
    return text;
}

}  // namespace

void LibraryWindow::OnRebuild() {
    const std::string folder = std::filesystem::path(libraryPath_).parent_path().string();
    const std::string question =
        "Reconstruir a biblioteca?\rUma biblioteca nova é feita a partir dos diários dos testes "
        "(pasta " +
        rebuildSources.journalFolder + ") e dos arquivos de teste da pasta " +
        rebuildSources.exportFolder +
        ".\rA biblioteca atual não é apagada: ela fica guardada na pasta " + folder +
        ", com \"-antiga-\" e a data e a hora no nome.\rOs testes cujos diários já foram "
        "apagados (a estação guarda só os mais recentes) voltam apenas pelos arquivos salvos, sem "
        "Avaliado, Protocolo e Observações.";
    if (dialogs_.MessageBox(question, kTitle, DialogButtons::YesNo, DialogIcon::Question) ==
        DialogResult::Yes) {
        Rebuild(false);
    }
}

void LibraryWindow::Rebuild(bool setNewerSchemaAside) {
    const std::vector<QPushButton*> buttons = {searchButton, openButton,   editButton,
                                               removeButton, importButton, backupButton,
                                               rebuildButton};
    for (QPushButton* button : buttons) {
        button->setEnabled(false);
    }
    setCursor(Qt::BusyCursor);
    countLabel->setText(QStringLiteral("Reconstruindo a biblioteca..."));
    if (releaseLibrary) {
        releaseLibrary();
    }
    LibraryRebuildSources sources = rebuildSources;
    sources.setNewerSchemaAside = setNewerSchemaAside;
    // The path by value: the window may be gone before the library's thread starts on it.
    Run([this, path = libraryPath_, sources,
         buttons](LibraryStore& store) -> std::function<void()> {
        LibraryRebuildReport report = RebuildLibrary(store, path, sources);
        return [this, report = std::move(report), buttons] {
            for (QPushButton* button : buttons) {
                button->setEnabled(true);
            }
            unsetCursor();
            if (libraryRebuilt) {
                libraryRebuilt();
            }
            if (report.status.error == LibraryError::NewerSchema &&
                dialogs_.MessageBox(
                    "A biblioteca foi gravada por uma versão mais nova do programa. Reconstruí-la "
                    "mesmo assim? Ela não é apagada: fica guardada ao lado, e a versão mais nova "
                    "volta a usá-la se ela for renomeada de volta para " +
                        std::filesystem::path(libraryPath_).filename().string() + ".",
                    kTitle, DialogButtons::YesNo, DialogIcon::Warning) == DialogResult::Yes) {
                Rebuild(true);
                return;
            }
            if (report.status.error != LibraryError::NewerSchema) {
                Tell(RebuildText(report, libraryPath_), !report.status ||
                                                            !report.refusedFiles.empty() ||
                                                            !report.unreadableJournals.empty());
            }
            Search();
            emit ActionDone();
        };
    });
}

}  // namespace kelvaro
