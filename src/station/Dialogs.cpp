#include "station/Dialogs.h"

namespace kelvaro {

std::string ErrorReportText(const std::string& message) {
    // Byte comparison: a UTF-8 lead byte sorts after "." too, so a text ending in an accented
    // letter also gets its full stop.
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') {
        return message + ".";
    }
    return message;
}

void ReportError(Dialogs& dialogs, const std::string& message) {
    dialogs.MessageBox(ErrorReportText(message), kApplicationTitle, DialogButtons::Ok,
                       DialogIcon::Error);
}

}  // namespace kelvaro
