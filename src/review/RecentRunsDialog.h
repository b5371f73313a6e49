// The list the operator picks a run from to look at it again: the recent runs the journals keep,
// newest first, and a way to open a test file saved earlier.
#pragma once

#include <QDialog>
#include <QString>
#include <optional>
#include <string>
#include <vector>

#include "review/RunReview.h"

class QPushButton;
class QTableWidget;

namespace kelvaro {

class RecentRunsDialog : public QDialog {
    Q_OBJECT
  public:
    RecentRunsDialog(const std::vector<RecentRun>& recent, QString fileFolder,
                     QWidget* parent = nullptr);

    // The journal picked with "Abrir" or a double click, or the file picked with
    // "Abrir arquivo..."; none after "Cancelar".
    const std::optional<std::string>& Chosen() const { return chosen_; }

    QTableWidget* table = nullptr;
    QPushButton* openButton = nullptr;
    QPushButton* openFileButton = nullptr;
    QPushButton* cancelButton = nullptr;

  private:
    void OnOpenClicked();
    void OnOpenFileClicked();

    std::vector<RecentRun> recent_;
    QString fileFolder_;
    std::optional<std::string> chosen_;
};

// Shows the list on screen as a modal dialog over `parent`; test files are looked for first in
// `fileFolder` (the export folder).
class RecentRunsChooser : public RunChooser {
  public:
    RecentRunsChooser(QWidget* parent, QString fileFolder)
        : parent_(parent), fileFolder_(std::move(fileFolder)) {}
    std::optional<std::string> Choose(const std::vector<RecentRun>& recent) override;

  private:
    QWidget* parent_;
    QString fileFolder_;
};

}  // namespace kelvaro
