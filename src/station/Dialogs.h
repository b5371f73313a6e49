// What the domain operations need of the operator: message boxes, an input box, the save
// dialog and opening a file with its associated application. Qt implements it on screen;
// tests script it.
#pragma once

#include <optional>
#include <string>

#include "KelvaroVersion.h"

namespace kelvaro {

enum class DialogIcon { Information, Warning, Error, Question };
enum class DialogButtons { Ok, OkCancel, YesNo };
enum class DialogResult { Ok, Cancel, Yes, No };

struct SaveFileRequest {
    std::string fileName;          // proposed name, e.g. "Kelvaro_7"
    std::string defaultExtension;  // e.g. ".csv"
    std::string filter;            // e.g. "Arquivos do Microsoft Excel (*.csv)|*.csv"
    std::string initialFolder;
};

class Dialogs {
  public:
    virtual ~Dialogs() = default;
    // Texts are UTF-8. A carriage return alone breaks a line.
    virtual DialogResult MessageBox(const std::string& text, const std::string& title,
                                    DialogButtons buttons, DialogIcon icon) = 0;
    // Returns the edited text on OK and `initialText` on Cancel; `cancelled` tells which.
    virtual std::string InputBox(const std::string& title, const std::string& prompt,
                                 const std::string& initialText, bool* cancelled) = 0;
    // The chosen path (with the default extension added when the name has none), or none.
    virtual std::optional<std::string> SaveFile(const SaveFileRequest& request) = 0;
    // Asks the desktop to open the file with its associated application; false on failure.
    virtual bool OpenWithAssociatedApplication(const std::string& path) = 0;
};

inline constexpr const char* kApplicationTitle = "TOVAMU - Kelvaro";
inline constexpr const char* kMainCaption = "TOVAMU - Kelvaro [" KELVARO_VERSION "]";

// The application error report's text: a full stop is appended when the last character sorts
// after "." (a letter, a digit, ":"), not after ".", "!" or a blank.
std::string ErrorReportText(const std::string& message);
// Shows `message` as the application error report (error icon, OK, application title).
void ReportError(Dialogs& dialogs, const std::string& message);

}  // namespace kelvaro
