// The operator's dialogs on screen: message boxes, the input box, the save dialog and opening
// a file with the desktop's associated application, all with Portuguese texts.
#pragma once

#include <QString>
#include <QStringList>
#include <string>
#include <string_view>
#include <utility>

#include "station/Dialogs.h"
#include "ui/FreshKeys.h"

namespace kelvaro {

class QtDialogs : public Dialogs {
  public:
    // `keysDown` tells which keys are already held when a message box opens (none if empty):
    // their presses cannot answer it until they have been released.
    explicit QtDialogs(KeysDownQuery keysDown = {}) : keysDown_(std::move(keysDown)) {}

    DialogResult MessageBox(const std::string& text, const std::string& title,
                            DialogButtons buttons, DialogIcon icon) override;
    std::string InputBox(const std::string& title, const std::string& prompt,
                         const std::string& initialText, bool* cancelled) override;
    std::optional<std::string> SaveFile(const SaveFileRequest& request) override;
    bool OpenWithAssociatedApplication(const std::string& path) override;

  private:
    KeysDownQuery keysDown_;
};

// A message text for the screen: a carriage return alone (or CR LF) breaks the line.
QString MessageText(std::string_view text);
// "Description (*.csv)|*.csv|All|*.*" pairs to Qt name filters ("Description (*.csv)",
// "All (*.*)"); a pattern list "*.a;*.b" becomes "*.a *.b". An empty filter gives none.
QStringList ConvertFileFilter(std::string_view filter);
// `path` with `defaultExtension` (".csv" or "csv") appended when its file name has no
// extension of its own.
QString WithDefaultExtension(const QString& path, const QString& defaultExtension);

}  // namespace kelvaro
