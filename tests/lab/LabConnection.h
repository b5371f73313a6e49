// One Qt SQL connection to the lab server the test program's fixture started (its socket
// folder and port in KELVARO_PG_HOST and KELVARO_PG_PORT), as one of the logins the tests
// make; removed with the object.
#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QVariant>
#include <QVariantList>

namespace kelvaro::testing {

struct LabLogin {
    const char* user;
    const char* password;  // none for the superuser, who comes in over the socket
};

inline constexpr LabLogin kStationA{"estacao_a", "senha-da-estacao-a"};
inline constexpr LabLogin kStationB{"estacao_b", "senha-da-estacao-b"};
inline constexpr LabLogin kDesk{"mesa_1", "senha-da-mesa-1"};
inline constexpr LabLogin kLabAdmin{"ti_admin", "senha-do-ti"};
inline constexpr LabLogin kSuperuser{"postgres", ""};

// What the server answered: the SQLSTATE when refused, else the first value of the first row.
struct LabAnswer {
    bool ok = false;
    QString sqlState;
    QString text;  // the server's own words, for a failing check's message
    QString first;
};

class LabConnection {
  public:
    explicit LabConnection(const LabLogin& login);
    ~LabConnection();
    LabConnection(const LabConnection&) = delete;
    LabConnection& operator=(const LabConnection&) = delete;

    bool IsOpen() const { return db_.isOpen(); }
    QString OpenError() const { return openError_; }
    // One statement, with `values` bound to its `?` in order.
    LabAnswer Run(const QString& sql, const QVariantList& values = {});
    // Several statements in one transaction, ending at the first refused.
    LabAnswer RunInTransaction(const std::initializer_list<QString>& statements);
    QSqlDatabase& Database() { return db_; }

  private:
    QString name_;
    QSqlDatabase db_;
    QString openError_;
};

// The id of a new run, as a station makes one.
QString NewRunIdText();

}  // namespace kelvaro::testing
