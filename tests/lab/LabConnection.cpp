#include "LabConnection.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <atomic>
#include <cstdlib>

namespace kelvaro::testing {
namespace {

QString Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? QString::fromLocal8Bit(value) : QString();
}

LabAnswer AnswerOf(QSqlQuery& query, bool ran) {
    LabAnswer answer;
    answer.ok = ran;
    if (!ran) {
        answer.sqlState = query.lastError().nativeErrorCode();
        answer.text = query.lastError().text();
        return answer;
    }
    if (query.isSelect() && query.next()) {
        answer.first = query.value(0).toString();
    }
    return answer;
}

}  // namespace

LabConnection::LabConnection(const LabLogin& login) {
    static std::atomic<int> count{0};
    name_ = QStringLiteral("lab-%1").arg(++count);
    db_ = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name_);
    db_.setHostName(Environment("KELVARO_PG_HOST"));
    db_.setPort(Environment("KELVARO_PG_PORT").toInt());
    db_.setDatabaseName(QStringLiteral("kelvaro"));
    db_.setUserName(QString::fromUtf8(login.user));
    db_.setPassword(QString::fromUtf8(login.password));
    if (!db_.open()) {
        openError_ = db_.lastError().text();
    }
}

LabConnection::~LabConnection() {
    db_.close();
    db_ = QSqlDatabase();  // the last handle must go before the connection is removed
    QSqlDatabase::removeDatabase(name_);
}

LabAnswer LabConnection::Run(const QString& sql, const QVariantList& values) {
    QSqlQuery query(db_);
    if (values.isEmpty()) {
        const bool ran = query.exec(sql);
        return AnswerOf(query, ran);
    }
    if (!query.prepare(sql)) {
        return AnswerOf(query, false);
    }
    for (const QVariant& value : values) {
        query.addBindValue(value);
    }
    const bool ran = query.exec();
    return AnswerOf(query, ran);
}

LabAnswer LabConnection::RunInTransaction(const std::initializer_list<QString>& statements) {
    LabAnswer answer;
    if (!db_.transaction()) {
        answer.text = db_.lastError().text();
        return answer;
    }
    for (const QString& statement : statements) {
        answer = Run(statement);
        if (!answer.ok) {
            db_.rollback();
            return answer;
        }
    }
    if (!db_.commit()) {
        answer.ok = false;
        answer.sqlState = db_.lastError().nativeErrorCode();
        answer.text = db_.lastError().text();
    }
    return answer;
}

QString NewRunIdText() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

}  // namespace kelvaro::testing
