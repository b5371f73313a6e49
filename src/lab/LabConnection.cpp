#include "lab/LabConnection.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <atomic>
#include <initializer_list>

namespace kelvaro {
namespace {

std::atomic<unsigned> connectionCount{0};

bool Mentions(const QString& text, std::initializer_list<const char*> fragments) {
    for (const char* fragment : fragments) {
        if (text.contains(QString::fromUtf8(fragment), Qt::CaseInsensitive)) {
            return true;
        }
    }
    return false;
}

// libpq says how a connection failed in words only, in the client's language (English or
// Portuguese here) around the server's (English on a default server).
LabOutcome OutcomeOfConnectionText(const QString& text) {
    if (Mentions(text, {"database \"", "banco de dados \""}) &&
        Mentions(text, {"does not exist", "não existe"})) {
        return LabOutcome::OlderOrMissingSchema;
    }
    if (Mentions(text, {"password authentication failed", "no password supplied",
                        "autenticação por senha falhou", "nenhuma senha", "does not exist",
                        "não existe", "no pg_hba.conf entry", "authentication failed"})) {
        return LabOutcome::AuthenticationFailed;
    }
    if (Mentions(text, {"permission denied", "permissão negada"})) {
        return LabOutcome::NoPrivilege;  // no CONNECT on the lab's database
    }
    if (Mentions(text, {"SSL", "certificate", "certificado"})) {
        return LabOutcome::TlsRefused;
    }
    if (Mentions(text, {"timeout expired", "tempo esgotado", "timed out"})) {
        return LabOutcome::Timeout;
    }
    if (Mentions(text, {"could not connect", "could not translate host name", "Connection refused",
                        "No such file or directory", "Network is unreachable", "No route to host",
                        "não pôde conectar", "não pôde traduzir", "server closed the connection",
                        "connection to server", "terminating connection"})) {
        return LabOutcome::Unreachable;
    }
    return LabOutcome::Other;
}

}  // namespace

LabOutcome OutcomeOfSqlState(const QString& sqlState) {
    if (sqlState == QLatin1String("28P01") || sqlState == QLatin1String("28000")) {
        return LabOutcome::AuthenticationFailed;
    }
    if (sqlState == QLatin1String("42501")) {
        return LabOutcome::NoPrivilege;
    }
    // No such table or schema: a database the lab's schema was never applied to.
    if (sqlState == QLatin1String("42P01") || sqlState == QLatin1String("3F000")) {
        return LabOutcome::OlderOrMissingSchema;
    }
    if (sqlState == QLatin1String("57014")) {  // query_canceled: a statement time-out
        return LabOutcome::Timeout;
    }
    // Connection exceptions, and the server shutting down or starting up.
    if (sqlState.startsWith(QLatin1String("08")) || sqlState == QLatin1String("57P01") ||
        sqlState == QLatin1String("57P02") || sqlState == QLatin1String("57P03")) {
        return LabOutcome::Unreachable;
    }
    return LabOutcome::Other;
}

LabStatus StatusOf(const QSqlError& error) {
    LabStatus status;
    if (error.type() == QSqlError::NoError) {
        return status;
    }
    status.nativeText = error.text().toStdString();
    const QString code = error.nativeErrorCode();
    status.outcome =
        code.isEmpty() ? OutcomeOfConnectionText(error.databaseText()) : OutcomeOfSqlState(code);
    return status;
}

QString LabOutcomeWords(LabOutcome outcome) {
    switch (outcome) {
        case LabOutcome::Ok:
            return QStringLiteral("Conexão com o servidor do laboratório bem-sucedida.");
        case LabOutcome::NewerSchema:
            return QStringLiteral(
                "O banco do servidor é de uma versão mais nova que esta estação: os testes do "
                "laboratório podem ser consultados, mas os desta estação não são enviados.");
        case LabOutcome::OlderOrMissingSchema:
            return QStringLiteral(
                "O banco do servidor não tem as tabelas do Kelvaro, ou é de uma versão mais "
                "antiga: peça ao responsável pelo servidor que o atualize.");
        case LabOutcome::AuthenticationFailed:
            return QStringLiteral(
                "O servidor recusou o usuário ou a senha. Confira o usuário e a senha no arquivo "
                "~/.pgpass (que deve poder ser lido só por você).");
        case LabOutcome::NoPrivilege:
            return QStringLiteral(
                "Este usuário não tem permissão para enviar testes ao servidor do laboratório.");
        case LabOutcome::Unreachable:
            return QStringLiteral(
                "Não foi possível conectar ao servidor do laboratório: confira o endereço, a "
                "porta e a rede.");
        case LabOutcome::TlsRefused:
            return QStringLiteral(
                "A conexão segura (TLS) com o servidor falhou: o servidor não a oferece, ou o "
                "certificado não confere com a autoridade ou com o nome do servidor.");
        case LabOutcome::Timeout:
            return QStringLiteral(
                "O servidor do laboratório não respondeu a tempo; a estação tentará de novo.");
        case LabOutcome::Other:
            break;
    }
    return QStringLiteral("O servidor do laboratório recusou a operação.");
}

LabConnection::LabConnection()
    : name_(QStringLiteral("kelvaro-lab-%1").arg(connectionCount.fetch_add(1))) {}

LabConnection::~LabConnection() {
    Close();
}

void LabConnection::Close() {
    if (QSqlDatabase::contains(name_)) {
        {
            QSqlDatabase db = QSqlDatabase::database(name_, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(name_);
    }
}

QSqlDatabase LabConnection::Database() const {
    return QSqlDatabase::database(name_, false);
}

void* LabConnection::NativeHandle() const {
    const QSqlDatabase db = Database();
    if (!db.isOpen() || db.driver() == nullptr) {
        return nullptr;
    }
    const QVariant handle = db.driver()->handle();
    return handle.isValid() ? *static_cast<void* const*>(handle.constData()) : nullptr;
}

LabStatus LabConnection::Open(const LabServerSettings& settings,
                              std::chrono::seconds connectTimeout, bool forWriting) {
    Close();
    LabOptionsError why = LabOptionsError::None;
    const std::optional<QString> options = LabConnectOptions(settings, connectTimeout, &why);
    if (!options) {
        return {LabOutcome::TlsRefused, why == LabOptionsError::CaPathMissing
                                            ? "verify-full without a CA file"
                                            : "a CA path with ';'"};
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name_);
    if (!db.isValid()) {
        return {LabOutcome::Other, "Qt's PostgreSQL driver is not installed"};
    }
    db.setHostName(QString::fromStdString(settings.host));
    db.setPort(settings.port);
    db.setDatabaseName(QString::fromStdString(settings.database));
    db.setUserName(QString::fromStdString(settings.user));
    db.setConnectOptions(*options);
    if (!db.open()) {
        return StatusOf(db.lastError());
    }
    QSqlQuery version(db);
    if (!version.exec(QStringLiteral("SELECT max(version) FROM kelvaro.schema_version")) ||
        !version.next()) {
        LabStatus status = StatusOf(version.lastError());
        // Not a lab's database this station knows; a login outside the lab's roles is told so.
        if (status.outcome == LabOutcome::Other) {
            status.outcome = LabOutcome::OlderOrMissingSchema;
        }
        return status;
    }
    const int found = version.value(0).toInt();
    if (found < kLabSchemaVersion) {
        return {LabOutcome::OlderOrMissingSchema, "schema " + std::to_string(found)};
    }
    if (found > kLabSchemaVersion) {
        return {LabOutcome::NewerSchema, "schema " + std::to_string(found)};
    }
    if (forWriting) {
        QSqlQuery may(db);
        if (!may.exec(QStringLiteral("SELECT has_table_privilege('kelvaro.runs', 'INSERT')")) ||
            !may.next()) {
            return StatusOf(may.lastError());
        }
        if (!may.value(0).toBool()) {
            return {LabOutcome::NoPrivilege, "no INSERT on kelvaro.runs"};
        }
    }
    return {};
}

LabStatus CheckLabServer(const LabServerSettings& settings, std::chrono::seconds connectTimeout,
                         bool forWriting) {
    LabConnection connection;
    return connection.Open(settings, connectTimeout, forWriting);
}

}  // namespace kelvaro
