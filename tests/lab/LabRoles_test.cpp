// The lab's schema on a real PostgreSQL server, applied as the lab's IT applies it (the
// fixture): what each role may do to the tests stations send, and erasing one person's tests.
#include <gtest/gtest.h>

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

#include "CaseNames.h"

namespace kelvaro {
namespace {

struct Answer {
    QString sqlState;  // empty when done
    QString first;     // the first value of the last statement's first row, or the refusal
};

// `sql` run as `user` (password "senha-<user>") on one connection to the fixture's server,
// statements apart by "; " in turn, `values` bound to those with a `?`.
Answer RunAs(const QString& user, const QString& sql, const QVariantList& values = {}) {
    const QString name = QUuid::createUuid().toString();
    Answer answer;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", name);
        db.setHostName(qEnvironmentVariable("KELVARO_PG_HOST"));
        db.setPort(qEnvironmentVariableIntValue("KELVARO_PG_PORT"));
        db.setDatabaseName("kelvaro");
        db.setUserName(user);
        db.setPassword("senha-" + user);
        EXPECT_TRUE(db.open()) << db.lastError().text().toStdString();
        for (const QString& statement : sql.split("; ")) {
            QSqlQuery query(db);
            const bool bound = statement.contains('?');
            bool ran = bound ? query.prepare(statement) : query.exec(statement);
            for (const QVariant& value : bound ? values : QVariantList()) {
                query.addBindValue(value);
            }
            if (!ran || (bound && !query.exec())) {
                answer = {query.lastError().nativeErrorCode(), query.lastError().text()};
                break;  // the transaction, if any, ends with the connection
            }
            answer.first = query.next() ? query.value(0).toString() : QString();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return answer;
}

QString NewId() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

// Raw readings as every byte value in turn, so that no byte is lost to quoting on the way.
QByteArray EveryByte() {
    QByteArray bytes(65536, '\0');
    for (int i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i % 256);
    }
    return bytes;
}

// What a station sends for a test %1 of `evaluated`, in one transaction, however often.
Answer Push(const QString& run, const QString& evaluated) {
    return RunAs(
        "estacao_a",
        QString("BEGIN; INSERT INTO stations (station_id, host) VALUES (gen_random_uuid(),"
                " 'sala') ON CONFLICT DO NOTHING; INSERT INTO runs VALUES ('%1', DEFAULT,"
                " '2026-01-02 03:04:05.678+00', DEFAULT, 1000, '{t,t,f,f}', '{N,N,N,N}',"
                " '{812.5,790,0,0}', '{1.5,1.25,1,1}', '{0,0.5,0,0}', 17, 'teste-17.txt',"
                " repeat('a', 64), false, '', 4000, 1234.5, 600.25, '{700,534.5,NULL,NULL}',"
                " '{300,300.25,NULL,NULL}') ON CONFLICT DO NOTHING; INSERT INTO readings"
                " VALUES ('%1', 'raw', ?) ON CONFLICT DO NOTHING; INSERT INTO metadata"
                " (run_id, edited, evaluated, protocol, notes, evaluated_key, protocol_key,"
                " notes_key) VALUES ('%1', '2026-01-02 03:04:05+00', '%2', 'Salto', '',"
                " lower('%2'), 'salto', '') ON CONFLICT DO NOTHING; COMMIT")
            .arg(run, evaluated),
        {EveryByte()});
}

struct RoleCase {
    const char* name;
    const char* login;
    const char* statement;  // %1: a run estacao_a has sent twice; %2: an id no run has
    const char* sqlState;   // "" when allowed
    const char* answer;     // then what it answers
};
using testing::PrintTo;

// A copy of estacao_a's run %1 under the id %2, naming `station`.
#define COPY_OF_RUN(station)                                                                \
    "INSERT INTO runs SELECT (jsonb_populate_record(r, jsonb_build_object('run_id', '%2', " \
    "'station', '" station "'))).* FROM runs r WHERE r.run_id = '%1'"
#define NEW_TEXTS                                                                         \
    "INSERT INTO metadata (run_id, edited, evaluated, protocol, notes, evaluated_key,"    \
    " protocol_key, notes_key) VALUES ('%1', '2026-01-01 00:00:00+00', 'Nome Corrigido'," \
    " 'Salto', '', 'nome corrigido', 'salto', '')"

const RoleCase kRoleCases[] = {
    // Sent twice, as after a lost reply: one run, one version of its texts, the same bytes.
    {"DeskReadsTheRunOnceWithItsReadings", "mesa_1",
     "SELECT concat(station, ' ', frequency, ' ', (SELECT count(*) FROM metadata WHERE run_id ="
     " '%1'), ' ', (SELECT data = (SELECT decode(string_agg(lpad(to_hex(i % 256), 2, '0'), ''"
     " ORDER BY i), 'hex') FROM generate_series(0, 65535) i) FROM readings WHERE run_id ="
     " '%1')) FROM tests WHERE run_id = '%1'",
     "", "estacao_a 1000 1 t"},
    {"StationBReadsStationAsRun", "estacao_b",
     "SELECT concat(station, ' ', evaluated) FROM tests WHERE run_id = '%1'", "",
     "estacao_a Pessoa"},
    {"StationBReadsSchemaVersionOne", "estacao_b", "SELECT max(version) FROM schema_version", "",
     "1"},
    {"StationBCannotUpdateStationAsRun", "estacao_b",
     "UPDATE runs SET frequency = 1 WHERE run_id = '%1'", "42501", ""},
    {"StationBCannotDeleteStationAsRun", "estacao_b", "DELETE FROM runs WHERE run_id = '%1'",
     "42501", ""},
    {"StationBCannotInsertARunNamingStationA", "estacao_b", COPY_OF_RUN("estacao_a"), "42501", ""},
    {"StationBAsTheGroupRoleStillNamesItself", "estacao_b",
     "SET ROLE kelvaro_station; " COPY_OF_RUN("kelvaro_station"), "42501", ""},
    {"StationBCannotClaimAnotherLogin", "estacao_b",
     "INSERT INTO stations VALUES ('estacao_c', gen_random_uuid(), 'x')", "42501", ""},
    {"StationBCannotAddTextsToStationAsRun", "estacao_b", NEW_TEXTS, "42501", ""},
    {"StationACannotUpdateItsOwnRawReadings", "estacao_a",
     "UPDATE readings SET data = '\\x00' WHERE run_id = '%1'", "42501", ""},
    {"StationACannotEditItsTextsInPlace", "estacao_a",
     "UPDATE metadata SET evaluated = 'Outra' WHERE run_id = '%1'", "42501", ""},
    // Dated before the first version by a clock set back: the version sent last still wins.
    {"StationAsEditIsANewVersionAndTheLastSentIsRead", "estacao_a",
     NEW_TEXTS "; SELECT concat(evaluated, ' ', (SELECT count(*) FROM metadata WHERE run_id ="
               " '%1')) FROM tests WHERE run_id = '%1'",
     "", "Nome Corrigido 2"},
    {"DeskCannotInsertARun", "mesa_1", COPY_OF_RUN("mesa_1"), "42501", ""},
};

#undef COPY_OF_RUN
#undef NEW_TEXTS

class LabRoles : public ::testing::TestWithParam<RoleCase> {};

TEST_P(LabRoles, EachRoleDoesOnlyWhatItMay) {
    const RoleCase& c = GetParam();
    const QString run = NewId();
    ASSERT_EQ(Push(run, "Pessoa").sqlState, "");
    ASSERT_EQ(Push(run, "Pessoa").sqlState, "");
    const Answer answer =
        RunAs(c.login, QString(c.statement).replace("%1", run).replace("%2", NewId()));
    EXPECT_EQ(answer.sqlState.toStdString(), c.sqlState) << answer.first.toStdString();
    if (answer.sqlState.isEmpty()) {
        EXPECT_EQ(answer.first.toStdString(), c.answer);
    }
}

INSTANTIATE_TEST_SUITE_P(Lab, LabRoles, ::testing::ValuesIn(kRoleCases),
                         [](const auto& param) { return std::string(param.param.name); });

// Every test whose texts ever named the person, however typed; no one else's test.
TEST(LabServer, TheAdminErasesEveryTestOfOnePersonAndNothingElse) {
    const QStringList runs = {NewId(), NewId(), NewId()};
    ASSERT_EQ(Push(runs[0], "Conceição Araújo").sqlState, "");
    ASSERT_EQ(Push(runs[1], "CONCEICAO ARAUJO").sqlState, "");
    ASSERT_EQ(Push(runs[2], "Conceição Araújo Filho").sqlState, "");
    // The second test's texts now name someone else; its first version still names her.
    ASSERT_EQ(RunAs("estacao_a",
                    "INSERT INTO metadata VALUES (?, now(), DEFAULT, DEFAULT, DEFAULT, 'Anônimo',"
                    " '', '', 'anonimo', '', '')",
                    {runs[1]})
                  .sqlState,
              "");

    EXPECT_EQ(RunAs("ti_admin", "SELECT erase_person('')").sqlState, "22023");
    EXPECT_EQ(RunAs("ti_admin", "SELECT erase_person(?)", {QString("  conceicao araújo ")}).first,
              "2");
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(RunAs("ti_admin",
                        QString("SELECT concat((SELECT count(*) FROM runs WHERE run_id = '%1'),"
                                " (SELECT count(*) FROM readings WHERE run_id = '%1'),"
                                " (SELECT count(*) FROM metadata WHERE run_id = '%1'))")
                            .arg(runs[i]))
                      .first.toStdString(),
                  i < 2 ? "000" : "111");
    }
}

}  // namespace
}  // namespace kelvaro
