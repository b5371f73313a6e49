// One connection to the lab's server through Qt's PostgreSQL driver, made, used and ended on
// one thread; what a failure was, as a value (from the server's SQLSTATE, or from how the
// connection failed); the schema check every use of the server begins with; and, in one place,
// the operator's words for each outcome.
#pragma once

#include <QSqlDatabase>
#include <QString>
#include <chrono>
#include <string>

#include "lab/LabServerSettings.h"

class QSqlError;

namespace kelvaro {

// The schema this build writes; a newer one is only read, an older one is refused.
inline constexpr int kLabSchemaVersion = 1;

enum class LabOutcome {
    Ok,
    NewerSchema,           // usable for reading only
    OlderOrMissingSchema,  // refused
    AuthenticationFailed,
    NoPrivilege,
    Unreachable,
    TlsRefused,
    Timeout,
    Other,
};

struct LabStatus {
    LabOutcome outcome = LabOutcome::Ok;
    std::string nativeText;  // the server's or libpq's own words, for the log

    bool Ok() const { return outcome == LabOutcome::Ok; }
};

// The outcome a server's SQLSTATE stands for (Other for one without a meaning here).
LabOutcome OutcomeOfSqlState(const QString& sqlState);
// A failure of Qt's driver: its SQLSTATE when the server sent one, else what libpq said of the
// connection (it gives no code for that).
LabStatus StatusOf(const QSqlError& error);

// The operator's words for an outcome, one sentence.
QString LabOutcomeWords(LabOutcome outcome);

class LabConnection {
  public:
    LabConnection();
    ~LabConnection();  // closes the connection
    LabConnection(const LabConnection&) = delete;
    LabConnection& operator=(const LabConnection&) = delete;

    // Connects and checks the schema: Ok, NewerSchema (connected, for reading), or why not.
    // With `forWriting`, a login that may not insert tests is NoPrivilege.
    LabStatus Open(const LabServerSettings& settings, std::chrono::seconds connectTimeout,
                   bool forWriting);
    void Close();
    QSqlDatabase Database() const;
    // libpq's connection of this driver, or nullptr when closed.
    void* NativeHandle() const;

  private:
    QString name_;
};

// "Testar": a connection opened, checked and closed. Waits on the network: never on the window's
// thread.
LabStatus CheckLabServer(const LabServerSettings& settings, std::chrono::seconds connectTimeout,
                         bool forWriting);

}  // namespace kelvaro
