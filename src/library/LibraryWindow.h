// The library on screen: the operator searches the tests the station keeps, opens one to look at
// it again, compares several side by side, edits what it was about, removes it, imports a folder
// of test files, copies the library and makes it again from the journals and test files. Every
// query runs on the library's own thread; the window never waits for it.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "library/LibraryRebuild.h"
#include "library/LibraryStore.h"

class QCheckBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QStandardItemModel;
class QTableView;

namespace kelvaro {

class Dialogs;
class LibraryWorker;

// How many tests a search shows; the count says how many match in all.
inline constexpr int kLibraryWindowRows = 500;

class LibraryWindow : public QDialog {
    Q_OBJECT
  public:
    // `libraryPath` names the library in the operator's messages; numbers are written with
    // `decimalSeparator`. Searches once with empty fields when shown.
    LibraryWindow(LibraryWorker& worker, Dialogs& dialogs, char decimalSeparator,
                  std::string libraryPath, QWidget* parent = nullptr);
    ~LibraryWindow() override;

    // The folder "Importar arquivos..." reads; none when the operator gives up. A folder dialog
    // on screen unless replaced.
    std::function<std::optional<std::string>()> chooseFolder;
    // What a test was about, as the operator edits it under `title`; none when the operator gives
    // up. A form on screen unless replaced. Its texts are held to their limits afterwards.
    std::function<std::optional<RunMetadata>(const QString& title, const RunMetadata& metadata)>
        editMetadata;
    // Where "Reconstruir biblioteca..." finds the runs: the journal and export folders.
    LibraryRebuildSources rebuildSources;
    // Called before a rebuild starts, on this window's thread: whatever else of this process
    // keeps the library's file open closes it (another connection closed after the file was
    // replaced would remove the new file's log by its name). `libraryRebuilt` follows the rebuild
    // whatever became of it.
    std::function<void()> releaseLibrary;
    std::function<void()> libraryRebuilt;
    // "Servidor do laboratório...": the owner opens the server's dialog and acts on its answer.
    // Empty, the button is hidden. Set it before the window is shown.
    std::function<void()> openLabServer;

    // Runs the search the fields ask for.
    void Search();
    // The rows of the last search, in the table's order.
    const std::vector<LibraryEntry>& Entries() const { return entries_; }

    QLineEdit* evaluatedEdit = nullptr;
    QLineEdit* protocolEdit = nullptr;
    QLineEdit* notesEdit = nullptr;
    QCheckBox* fromCheck = nullptr;
    QDateEdit* fromEdit = nullptr;
    QCheckBox* toCheck = nullptr;
    QDateEdit* toEdit = nullptr;
    QLineEdit* testNumberEdit = nullptr;
    QPushButton* searchButton = nullptr;
    QLabel* countLabel = nullptr;
    QTableView* table = nullptr;
    QPushButton* openButton = nullptr;
    QPushButton* compareButton = nullptr;  // on with 2 to 8 tests chosen
    QLabel* compareHint = nullptr;         // how many to choose, when the button is off
    QPushButton* editButton = nullptr;
    QPushButton* removeButton = nullptr;
    QPushButton* importButton = nullptr;
    QPushButton* backupButton = nullptr;
    QPushButton* rebuildButton = nullptr;
    QPushButton* labServerButton = nullptr;  // shown only with openLabServer set
    QPushButton* closeButton = nullptr;

  signals:
    // A test read back with its readings, to be drawn as after a stop.
    void OpenRequested(kelvaro::StoredRunData run);
    // A search's rows are in the table (tests wait on it).
    void SearchDone();
    // An edit, removal, import, copy, comparison or rebuild has ended and been told.
    void ActionDone();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    LibraryQuery Query() const;
    void ShowRows(std::vector<LibraryEntry> entries, int count, LibraryStatus status);
    void OnHeaderClicked(int column);
    std::optional<LibraryEntry> Selected();
    void OnOpen();
    // The chosen tests read on the library's thread and shown side by side in a CompareWindow
    // of this window's; those without readings are named and left out.
    void OnCompare();
    void UpdateCompare();
    // The chosen rows' tests, in the table's order.
    std::vector<LibraryEntry> Chosen() const;
    void OnEdit();
    void OnRemove();
    void OnImport();
    void OnBackup();
    void OnRebuild();
    void Rebuild(bool setNewerSchemaAside);
    // Runs `job` on the library's thread and `then` back on this window's, if it is still there.
    void Run(std::function<std::function<void()>(LibraryStore&)> job);
    void Tell(const std::string& text, bool warning);
    void Finish(const LibraryStatus& status);

    LibraryWorker& worker_;
    Dialogs& dialogs_;
    char decimalSeparator_;
    std::string libraryPath_;
    QStandardItemModel* model_ = nullptr;
    std::vector<LibraryEntry> entries_;
    LibrarySortColumn sortBy_ = LibrarySortColumn::Start;
    bool descending_ = true;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace kelvaro

Q_DECLARE_METATYPE(kelvaro::StoredRunData)
