// The station's application object: an error that escapes an event handler ends only that
// handler and is shown as the application error report, so the program keeps working.
#pragma once

#include <QApplication>
#include <functional>

#include "station/Dialogs.h"

namespace kelvaro {

// Runs `deliver`; an exception it throws is reported through `dialogs` (when given) and the
// event counts as handled. Errors raised while reporting are swallowed.
bool DeliverReportingErrors(const std::function<bool()>& deliver, Dialogs* dialogs);

class StationApplication : public QApplication {
  public:
    StationApplication(int& argc, char** argv);
    void SetErrorReporter(Dialogs* dialogs) { reporter_ = dialogs; }
    bool notify(QObject* receiver, QEvent* event) override;

  private:
    Dialogs* reporter_ = nullptr;
};

}  // namespace kelvaro
