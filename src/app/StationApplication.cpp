#include "app/StationApplication.h"

#include <exception>
#include <string>

namespace kelvaro {

bool DeliverReportingErrors(const std::function<bool()>& deliver, Dialogs* dialogs) {
    std::string message;
    try {
        return deliver();
    } catch (const std::exception& error) {
        message = error.what();
    } catch (...) {
        message = "Erro inesperado";
    }
    if (dialogs != nullptr) {
        try {
            ReportError(*dialogs, message);
        } catch (...) {
            // The report itself failed; there is nobody left to tell.
        }
    }
    return true;
}

StationApplication::StationApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool StationApplication::notify(QObject* receiver, QEvent* event) {
    return DeliverReportingErrors([&] { return QApplication::notify(receiver, event); }, reporter_);
}

}  // namespace kelvaro
