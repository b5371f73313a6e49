// The lab's schema on a real PostgreSQL server, as the lab's IT applies it: what a station, a
// desk and the lab's administrator may and may not do to the tests stations send, and the
// erasure of one person's tests.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include "CaseNames.h"
#include "LabConnection.h"

namespace kelvaro {
namespace {

using testing::LabAnswer;
using testing::LabConnection;
using testing::LabLogin;
using testing::NewRunIdText;

constexpr int kReadingsBytes = 64 * 1024;

QByteArray SomeReadings(int bytes) {
    QByteArray data(bytes, '\0');
    QRandomGenerator random(7);
    for (char& byte : data) {
        byte = static_cast<char>(random.bounded(256));
    }
    return data;
}

// What a station sends for one test, in one transaction, as it would after any failure too:
// its own row first, then the run, its readings and its texts, each once whatever came before.
LabAnswer PushRun(LabConnection& station, const QString& runId, const QString& evaluated,
                  const QByteArray& readings = SomeReadings(kReadingsBytes)) {
    QSqlDatabase& db = station.Database();
    if (!db.transaction()) {
        return {};
    }
    const QString folded = evaluated.toCaseFolded();
    for (const auto& [sql, values] : std::initializer_list<std::pair<QString, QVariantList>>{
             {"INSERT INTO stations (station_id, host) VALUES (gen_random_uuid(), 'sala')"
              " ON CONFLICT DO NOTHING",
              {}},
             {"INSERT INTO runs (run_id, started, frequency, active, units, zero_offset,"
              " calibration_index, tare, test_number, file_name, file_sha256, imported,"
              " decimal_separator, samples, total_peak, total_mean, plate_peak, plate_mean)"
              " VALUES (?, '2026-01-02 03:04:05.678+00', 1000, '{t,t,f,f}', '{N,N,kgf,kgf}',"
              " '{812.5,790,0,0}', '{1.5,1.25,1,1}', '{0,0.5,0,0}', 17, 'teste-17.txt',"
              " encode(sha256(?), 'hex'), false, '', 4000, 1234.5, 600.25,"
              " '{700,534.5,NULL,NULL}', '{300,300.25,NULL,NULL}') ON CONFLICT DO NOTHING",
              {runId, runId.toUtf8()}},
             {"INSERT INTO readings (run_id, kind, data) VALUES (?, 'raw', ?)"
              " ON CONFLICT DO NOTHING",
              {runId, readings}},
             {"INSERT INTO metadata (run_id, edited, evaluated, protocol, notes, evaluated_key,"
              " protocol_key, notes_key) VALUES (?, '2026-01-02 03:04:05.678+00', ?, 'Salto',"
              " '', ?, 'salto', '') ON CONFLICT DO NOTHING",
              {runId, evaluated, folded}},
         }) {
        const LabAnswer answer = station.Run(sql, values);
        if (!answer.ok) {
            db.rollback();
            return answer;
        }
    }
    LabAnswer answer;
    answer.ok = db.commit();
    return answer;
}

TEST(LabServer, TheSchemaAppliedAsTheGuideSaysTakesAStationsRunAndReadsVersionOne) {
    ASSERT_TRUE(QSqlDatabase::isDriverAvailable("QPSQL")) << "Qt's PostgreSQL driver is missing";
    LabConnection station(testing::kStationA);
    ASSERT_TRUE(station.IsOpen()) << station.OpenError().toStdString();
    EXPECT_EQ(station.Run("SELECT max(version) FROM schema_version").first, "1");

    const QString run = NewRunIdText();
    const QByteArray readings = SomeReadings(kReadingsBytes);
    const LabAnswer pushed = PushRun(station, run, "Ana Souza", readings);
    ASSERT_TRUE(pushed.ok) << pushed.text.toStdString();
    // Sent again, as after a reply lost on its way: still one run, one version of its texts.
    ASSERT_TRUE(PushRun(station, run, "Ana Souza", readings).ok);

    LabConnection desk(testing::kDesk);
    ASSERT_TRUE(desk.IsOpen()) << desk.OpenError().toStdString();
    const QString id = "'" + run + "'";
    EXPECT_EQ(desk.Run("SELECT station || ' ' || evaluated || ' ' || (received >= started)"
                       " FROM tests WHERE run_id = " +
                       id)
                  .first,
              "estacao_a Ana Souza true");
    EXPECT_EQ(desk.Run("SELECT count(*) FROM metadata WHERE run_id = " + id).first, "1");
    QSqlQuery back(desk.Database());
    ASSERT_TRUE(back.exec("SELECT data FROM readings WHERE run_id = " + id) && back.next());
    EXPECT_EQ(back.value(0).toByteArray(), readings);
}

TEST(LabServer, AWrongPasswordIsRefused) {
    LabConnection intruder(LabLogin{"estacao_a", "senha-errada"});
    EXPECT_FALSE(intruder.IsOpen());
}

struct RoleCase {
    const char* name;
    LabLogin login;
    // %1: a run station A has just sent; %2: an id no run has. "; " parts run in turn.
    const char* statement;
    const char* sqlState;  // "" when allowed
    const char* answer;    // the statement's first value when allowed
    const char* check;     // read by the superuser afterwards: what must still be true
    const char* expected;
};
using testing::PrintTo;

// A copy of station A's run under the id %2, naming the station `station`.
#define KELVARO_COPY_OF_RUN(station)                                                        \
    "INSERT INTO runs SELECT (jsonb_populate_record(r, jsonb_build_object('run_id', '%2', " \
    "'station', '" station "'))).* FROM runs r WHERE r.run_id = '%1'"

const RoleCase kRoleCases[] = {
    {"StationBReadsStationAsRun", testing::kStationB,
     "SELECT station || ' ' || frequency FROM tests WHERE run_id = '%1'", "", "estacao_a 1000",
     "SELECT count(*) FROM runs WHERE run_id = '%1'", "1"},
    {"StationBReadsStationAsReadings", testing::kStationB,
     "SELECT length(data) FROM readings WHERE run_id = '%1'", "", "65536",
     "SELECT count(*) FROM readings WHERE run_id = '%1'", "1"},
    {"StationBReadsTheSchemaVersion", testing::kStationB, "SELECT max(version) FROM schema_version",
     "", "1", "SELECT count(*) FROM schema_version", "1"},
    {"StationBCannotUpdateStationAsRun", testing::kStationB,
     "UPDATE runs SET frequency = 1 WHERE run_id = '%1'", "42501", "",
     "SELECT frequency FROM runs WHERE run_id = '%1'", "1000"},
    {"StationBCannotDeleteStationAsRun", testing::kStationB, "DELETE FROM runs WHERE run_id = '%1'",
     "42501", "", "SELECT count(*) FROM runs WHERE run_id = '%1'", "1"},
    {"StationBCannotInsertARunNamingStationA", testing::kStationB, KELVARO_COPY_OF_RUN("estacao_a"),
     "42501", "", "SELECT count(*) FROM runs WHERE run_id = '%2'", "0"},
    {"StationBCannotClaimStationAsLogin", testing::kStationB,
     "INSERT INTO stations (login, station_id, host) VALUES ('estacao_c', gen_random_uuid(), 'x')",
     "42501", "", "SELECT count(*) FROM stations WHERE login = 'estacao_c'", "0"},
    {"StationBCannotAddAVersionToStationAsTexts", testing::kStationB,
     "INSERT INTO metadata (run_id, edited, evaluated, protocol, notes, evaluated_key,"
     " protocol_key, notes_key) VALUES ('%1', now(), 'Outra', '', '', 'outra', '', '')",
     "42501", "", "SELECT evaluated FROM tests WHERE run_id = '%1'", "Pessoa %1"},
    {"StationBAsTheGroupRoleStillNamesItself", testing::kStationB,
     "SET ROLE kelvaro_station; " KELVARO_COPY_OF_RUN("kelvaro_station"), "42501", "",
     "SELECT count(*) FROM runs WHERE run_id = '%2'", "0"},
    {"StationACannotUpdateItsOwnRawReadings", testing::kStationA,
     "UPDATE readings SET data = '\\x00' WHERE run_id = '%1'", "42501", "",
     "SELECT length(data) FROM readings WHERE run_id = '%1'", "65536"},
    {"StationACannotDeleteItsOwnRawReadings", testing::kStationA,
     "DELETE FROM readings WHERE run_id = '%1'", "42501", "",
     "SELECT count(*) FROM readings WHERE run_id = '%1'", "1"},
    {"StationACannotSendItsRawReadingsAgainDifferently", testing::kStationA,
     "INSERT INTO readings (run_id, kind, data) VALUES ('%1', 'raw', '\\x00')", "23505", "",
     "SELECT length(data) FROM readings WHERE run_id = '%1'", "65536"},
    {"StationACannotDeleteItsOwnRun", testing::kStationA, "DELETE FROM runs WHERE run_id = '%1'",
     "42501", "", "SELECT count(*) FROM runs WHERE run_id = '%1'", "1"},
    {"StationACannotEditItsTextsInPlace", testing::kStationA,
     "UPDATE metadata SET evaluated = 'Outra' WHERE run_id = '%1'", "42501", "",
     "SELECT evaluated FROM tests WHERE run_id = '%1'", "Pessoa %1"},
    // Dated before the first version by a clock set back: the version sent last still wins.
    {"StationAEditsItsTextsAsANewVersionAndTheLastSentIsRead", testing::kStationA,
     "INSERT INTO metadata (run_id, edited, evaluated, protocol, notes, evaluated_key,"
     " protocol_key, notes_key) VALUES ('%1', '2026-01-01 00:00:00+00', 'Nome Corrigido', 'Salto',"
     " '', 'nome corrigido', 'salto', '')",
     "", "",
     "SELECT (SELECT evaluated FROM tests WHERE run_id = '%1') || ' ' || count(*) FROM metadata"
     " WHERE run_id = '%1'",
     "Nome Corrigido 2"},
    {"StationASendingAnEditTwiceKeepsOneVersion", testing::kStationA,
     "INSERT INTO metadata (run_id, edited, evaluated, protocol, notes, evaluated_key,"
     " protocol_key, notes_key) VALUES ('%1', '2026-01-02 03:04:05.678+00', 'Pessoa %1',"
     " 'Salto', '', 'pessoa %1', 'salto', '') ON CONFLICT DO NOTHING",
     "", "", "SELECT count(*) FROM metadata WHERE run_id = '%1'", "1"},
    {"StationACannotInsertARunNamingStationB", testing::kStationA, KELVARO_COPY_OF_RUN("estacao_b"),
     "42501", "", "SELECT count(*) FROM runs WHERE run_id = '%2'", "0"},
    {"StationACannotEmptyTheTable", testing::kStationA, "TRUNCATE readings", "42501", "",
     "SELECT count(*) FROM readings WHERE run_id = '%1'", "1"},
    {"StationACannotRaiseTheSchemaVersion", testing::kStationA,
     "INSERT INTO schema_version (version) VALUES (2)", "42501", "",
     "SELECT max(version) FROM schema_version", "1"},
    {"StationACannotErasePeople", testing::kStationA, "SELECT erase_person('Pessoa %1')", "42501",
     "", "SELECT count(*) FROM runs WHERE run_id = '%1'", "1"},
    {"DeskReadsEveryStationsRun", testing::kDesk, "SELECT station FROM tests WHERE run_id = '%1'",
     "", "estacao_a", "SELECT count(*) FROM runs WHERE run_id = '%1'", "1"},
    {"DeskCannotInsertARun", testing::kDesk, KELVARO_COPY_OF_RUN("mesa_1"), "42501", "",
     "SELECT count(*) FROM runs WHERE run_id = '%2'", "0"},
    {"DeskCannotEditTexts", testing::kDesk,
     "UPDATE metadata SET evaluated = 'Outra' WHERE run_id = '%1'", "42501", "",
     "SELECT evaluated FROM tests WHERE run_id = '%1'", "Pessoa %1"},
    {"DeskCannotErasePeople", testing::kDesk, "SELECT erase_person('Pessoa %1')", "42501", "",
     "SELECT count(*) FROM runs WHERE run_id = '%1'", "1"},
};

#undef KELVARO_COPY_OF_RUN

class LabRoles : public ::testing::TestWithParam<RoleCase> {};

QString Filled(const char* text, const QString& run, const QString& newId) {
    return QString::fromUtf8(text).replace("%1", run).replace("%2", newId);
}

TEST_P(LabRoles, EachRoleDoesOnlyWhatItMay) {
    const RoleCase& c = GetParam();
    const QString run = NewRunIdText();
    const QString newId = NewRunIdText();
    {
        LabConnection stationA(testing::kStationA);
        ASSERT_TRUE(stationA.IsOpen()) << stationA.OpenError().toStdString();
        const LabAnswer pushed = PushRun(stationA, run, "Pessoa " + run);
        ASSERT_TRUE(pushed.ok) << pushed.text.toStdString();
    }

    LabConnection login(c.login);
    ASSERT_TRUE(login.IsOpen()) << login.OpenError().toStdString();
    LabAnswer answer;
    for (const QString& statement : Filled(c.statement, run, newId).split("; ")) {
        answer = login.Run(statement);  // Qt's driver answers for a list's first statement only
    }
    EXPECT_EQ(answer.sqlState.toStdString(), c.sqlState) << answer.text.toStdString();
    if (answer.ok) {
        EXPECT_EQ(answer.first, Filled(c.answer, run, newId));
    }

    LabConnection superuser(testing::kSuperuser);
    ASSERT_TRUE(superuser.IsOpen()) << superuser.OpenError().toStdString();
    const LabAnswer after = superuser.Run(Filled(c.check, run, newId));
    ASSERT_TRUE(after.ok) << after.text.toStdString();
    EXPECT_EQ(after.first, Filled(c.expected, run, newId));
}

INSTANTIATE_TEST_SUITE_P(Lab, LabRoles, ::testing::ValuesIn(kRoleCases),
                         [](const auto& param) { return std::string(param.param.name); });

// The lab's IT erases a person on request: every test whose texts ever named them, whatever
// the case and accents typed, with its readings and texts; no one else's test.
TEST(LabServer, TheAdminErasesEveryTestOfOnePersonAndNothingElse) {
    LabConnection station(testing::kStationA);
    ASSERT_TRUE(station.IsOpen()) << station.OpenError().toStdString();
    const QString named = NewRunIdText();
    const QString renamed = NewRunIdText();
    const QString other = NewRunIdText();
    ASSERT_TRUE(PushRun(station, named, "Conceição Araújo").ok);
    ASSERT_TRUE(PushRun(station, renamed, "CONCEICAO ARAUJO").ok);
    ASSERT_TRUE(PushRun(station, other, "Conceição Araújo Filho").ok);
    // The second test's texts now name someone else; its first version still names her.
    ASSERT_TRUE(station
                    .Run("INSERT INTO metadata (run_id, edited, evaluated, protocol, notes,"
                         " evaluated_key, protocol_key, notes_key) VALUES (?, now(), 'Anônimo',"
                         " '', '', 'anonimo', '', '')",
                         {renamed})
                    .ok);

    LabConnection admin(testing::kLabAdmin);
    ASSERT_TRUE(admin.IsOpen()) << admin.OpenError().toStdString();
    EXPECT_EQ(admin.Run("SELECT erase_person('')").sqlState, "22023");
    const LabAnswer erased = admin.Run("SELECT erase_person(?)", {QString("  conceicao araújo ")});
    ASSERT_TRUE(erased.ok) << erased.text.toStdString();
    EXPECT_EQ(erased.first, "2");

    const QString ids = QString("('%1', '%2')").arg(named, renamed);
    for (const char* table : {"runs", "readings", "metadata"}) {
        EXPECT_EQ(
            admin.Run(QString("SELECT count(*) FROM %1 WHERE run_id IN %2").arg(table, ids)).first,
            "0")
            << table;
        EXPECT_EQ(
            admin.Run(QString("SELECT count(*) FROM %1 WHERE run_id = '%2'").arg(table, other))
                .first,
            "1")
            << table;
    }
}

}  // namespace
}  // namespace kelvaro
