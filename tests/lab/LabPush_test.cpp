// The station's pushes to a real PostgreSQL server (the fixture, with the lab's own schema and
// logins): stopped, paused and refusing servers cost a delay and never a test, and every saved
// test ends on the server once, with its readings byte for byte.
#include <gmock/gmock.h>
#include <signal.h>

#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <future>
#include <set>
#include <thread>

#include "CaseNames.h"
#include "LibraryRuns.h"
#include "TempDir.h"
#include "lab/LabOutbox.h"
#include "lab/LabPusher.h"
#include "library/LibraryCodec.h"

namespace kelvaro {
namespace {

using namespace std::chrono_literals;
using testing::TempDir;

std::string ServerDir() {
    return qEnvironmentVariable("KELVARO_PG_HOST").toStdString();
}

LabServerSettings Server(const std::string& user) {
    const int port = qEnvironmentVariableIntValue("KELVARO_PG_PORT");
    return {ServerDir(), port, "kelvaro", user, LabTls::Disable, ""};
}

void ServerAction(const char* action) {
    const std::string command =
        qEnvironmentVariable("KELVARO_PG_SERVER").toStdString() + " " + action + " " + ServerDir();
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// The values of `sql`'s first column, run by the superuser on a connection of its own.
std::vector<QVariant> AsSuperuser(const QString& sql) {
    const QString name = QUuid::createUuid().toString();
    std::vector<QVariant> values;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", name);
        db.setHostName(QString::fromStdString(ServerDir()));
        db.setPort(qEnvironmentVariableIntValue("KELVARO_PG_PORT"));
        db.setDatabaseName("kelvaro");
        db.setUserName("postgres");
        EXPECT_TRUE(db.open()) << db.lastError().text().toStdString();
        QSqlQuery query(db);
        EXPECT_TRUE(query.exec(sql)) << query.lastError().text().toStdString();
        while (query.next()) {
            values.push_back(query.value(0));
        }
    }
    QSqlDatabase::removeDatabase(name);
    return values;
}

// The station's sessions with a transaction open on the server, and their server processes.
std::vector<QVariant> StationsInTransaction() {
    return AsSuperuser(QString("SELECT pid FROM pg_stat_activity WHERE application_name = '%1'"
                               " AND xact_start IS NOT NULL")
                           .arg(kLabApplicationName));
}

// The first value of `sql` with %1 the run's id.
QVariant OnServer(const char* sql, const LibraryRun& run) {
    return AsSuperuser(QString(sql).arg(QString::fromStdString(RunIdText(run.runId)))).at(0);
}

template <typename Condition>
bool WaitFor(Condition done, std::chrono::seconds limit = 30s) {
    const auto giveUp = std::chrono::steady_clock::now() + limit;
    for (; !done(); std::this_thread::sleep_for(20ms)) {
        if (std::chrono::steady_clock::now() > giveUp) {
            return false;
        }
    }
    return true;
}

enum class Fault { None, StopBefore, StopMid, PauseMid, BadPassword, Desk, Newer, Missing };

struct PushCase {
    const char* name;
    Fault fault;
    LabOutcome first;  // the first try's outcome
};
using testing::PrintTo;

const PushCase kPushCases[] = {
    {"PushesEveryTestOnce", Fault::None, LabOutcome::Ok},
    {"ServerStoppedBeforeThePush", Fault::StopBefore, LabOutcome::Unreachable},
    {"ServerStoppedMidPush", Fault::StopMid, LabOutcome::Unreachable},
    {"ServerPausedMidPush", Fault::PauseMid, LabOutcome::Timeout},
    {"WrongPassword", Fault::BadPassword, LabOutcome::AuthenticationFailed},
    {"LoginWithoutInsertRights", Fault::Desk, LabOutcome::NoPrivilege},
    {"NewerSchemaIsOnlyRead", Fault::Newer, LabOutcome::NewerSchema},
    {"OlderOrMissingSchemaIsRefused", Fault::Missing, LabOutcome::OlderOrMissingSchema},
};

class LabPushFaults : public ::testing::TestWithParam<PushCase> {};

TEST_P(LabPushFaults, EndsWithEverySavedTestOnTheServerOnceByteForByte) {
    const PushCase& c = GetParam();
    TempDir dir;
    const std::string libraryPath = dir.File("library.sqlite");
    std::vector<LibraryRun> saved = {testing::NoisyRun(30000, 1, 7, {"Ana", "CMJ", ""}),
                                     testing::NoisyRun(600, 2, 8)};
    const LibraryRun unsaved = testing::NoisyRun(600, 3);
    {
        LibraryStore store;
        ASSERT_TRUE(store.Open(libraryPath));
        for (LibraryRun& run : saved) {
            run.fileSha256 = Sha256Hex(RunIdText(run.runId));
            ASSERT_TRUE(store.RecordRun(run));
        }
        ASSERT_TRUE(store.RecordRun(unsaved));
        EXPECT_EQ(WaitingTests(store), 2);
    }
    if (c.fault == Fault::StopBefore) {
        ServerAction("halt");
    }
    const char* schemaChange =
        c.fault == Fault::Newer     ? "INSERT INTO kelvaro.schema_version (version) VALUES (2)"
        : c.fault == Fault::Missing ? "ALTER TABLE kelvaro.schema_version RENAME TO old_version"
                                    : nullptr;
    if (schemaChange != nullptr) {
        AsSuperuser(schemaChange);
    }
    const bool login = c.fault == Fault::BadPassword || c.fault == Fault::Desk;
    const std::string user = c.fault == Fault::Desk ? "mesa_1" : "estacao_a";
    const std::string password = c.fault == Fault::BadPassword ? "errada" : "senha-" + user;
    ASSERT_EQ(setenv("PGPASSWORD", password.c_str(), 1), 0);
    if (c.fault == Fault::None || login || schemaChange != nullptr) {
        EXPECT_EQ(CheckLabServer(Server(user), 2s, true).outcome, c.first);
    }

    // Cut soon only where the server is paused: elsewhere a busy machine's push is never cut.
    const auto cutAfter = c.fault == Fault::PauseMid ? 1500ms : 20000ms;
    LabPushOptions options{Server(user), libraryPath, 2s, cutAfter, 100ms, 1s, {}};
    std::atomic<bool> acted{false};
    std::vector<pid_t> paused;
    const auto resumeAll = [&](void*) {
        for (const pid_t pid : paused) {
            kill(pid, SIGCONT);
        }
    };
    std::unique_ptr<void, decltype(resumeAll)> resume(&paused, resumeAll);  // even on a failure
    if (c.fault == Fault::StopMid || c.fault == Fault::PauseMid) {
        // Once, and only when the station's transaction is seen open on the server.
        options.beforeCommit = [&] {
            const std::vector<QVariant> open = StationsInTransaction();
            if (open.size() != 1 || acted.exchange(true)) {
                return;
            }
            if (c.fault == Fault::StopMid) {
                ServerAction("halt");
                return;
            }
            std::ifstream pidFile(ServerDir() + "/data/postmaster.pid");
            pid_t postmaster = 0;
            pidFile >> postmaster;
            paused = {postmaster, static_cast<pid_t>(open[0].toInt())};
            for (const pid_t pid : paused) {
                kill(pid, SIGSTOP);
            }
        };
    }
    std::promise<LabPushReport> firstTry;
    std::atomic<bool> tried{false};
    const auto keep = [&](const LabPushReport& report) {
        if (!tried.exchange(true)) {
            firstTry.set_value(report);
        }
    };
    auto pusher = std::make_unique<LabPusher>(options, keep);
    std::future<LabPushReport> future = firstTry.get_future();
    ASSERT_EQ(future.wait_for(30s), std::future_status::ready);
    const LabPushReport first = future.get();
    EXPECT_EQ(first.last.outcome, c.first) << first.last.nativeText;
    if (c.first != LabOutcome::Ok) {
        LibraryStore store;
        ASSERT_TRUE(store.Open(libraryPath));
        EXPECT_EQ(WaitingTests(store), 2);
        EXPECT_NE(LastOutboxError(store), "");
    }
    EXPECT_EQ(acted, c.fault == Fault::StopMid || c.fault == Fault::PauseMid);
    EXPECT_EQ(first.cut, c.fault == Fault::PauseMid);
    if (c.fault == Fault::StopBefore || c.fault == Fault::StopMid) {
        ServerAction("resume");
    }
    if (!paused.empty()) {
        // Its end waits for no server: a new connection's wait is bounded by its time-out.
        const auto start = std::chrono::steady_clock::now();
        pusher.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 15s);
        resume.reset();
        pusher = std::make_unique<LabPusher>(options, keep);
    }
    if (schemaChange != nullptr) {
        AsSuperuser(c.fault == Fault::Newer
                        ? "DELETE FROM kelvaro.schema_version WHERE version = 2"
                        : "ALTER TABLE kelvaro.old_version RENAME TO schema_version");
    }
    if (login || schemaChange != nullptr) {
        pusher.reset();  // set right by the operator, and a new session
        ASSERT_EQ(setenv("PGPASSWORD", "senha-estacao_a", 1), 0);
        options.server = Server("estacao_a");
        pusher = std::make_unique<LabPusher>(options, keep);
    }
    ASSERT_TRUE(WaitFor([&] {
        LibraryStore store;
        return store.Open(libraryPath).Ok() && WaitingTests(store) == 0;
    }));

    for (const LibraryRun& run : saved) {
        EXPECT_EQ(OnServer("SELECT count(*) FROM kelvaro.tests WHERE run_id = '%1'", run), 1);
        const std::string bytes =
            OnServer("SELECT data FROM kelvaro.readings WHERE run_id = '%1'", run)
                .toByteArray()
                .toStdString();
        EXPECT_EQ(bytes, PackRawReadings(run.raw));
        EXPECT_EQ(UnpackRawReadings(bytes), run.raw);
    }
    EXPECT_EQ(OnServer("SELECT count(*) FROM kelvaro.runs WHERE run_id = '%1'", unsaved), 0);
}

INSTANTIATE_TEST_SUITE_P(Faults, LabPushFaults, ::testing::ValuesIn(kPushCases),
                         [](const auto& param) { return std::string(param.param.name); });

// A library holding one saved test (queued), in `dir`.
LibraryRun SavedRun(LibraryStore& store, const TempDir& dir) {
    EXPECT_TRUE(store.Open(dir.File("library.sqlite")));
    LibraryRun run = testing::NoisyRun(1200, 5, 3, {"Bia", "SJ", ""});
    run.fileSha256 = Sha256Hex(RunIdText(run.runId));
    EXPECT_TRUE(store.RecordRun(run));
    return run;
}

void PushAll(LibraryStore& store, const std::string& path) {
    const LabPusher pusher({Server("estacao_a"), path, 2s, 20s, 100ms, 1s, {}});
    EXPECT_TRUE(WaitFor([&] { return WaitingTests(store) == 0; }));
}

TEST(LabPush, AnEditIsANewVersionAndARemovalNeverReachesTheServerNorAPassword) {
    TempDir dir;
    LibraryStore store;
    const LibraryRun run = SavedRun(store, dir);
    ASSERT_TRUE(store.RecordRun(testing::NoisyRun(600, 6)));  // never saved: never queued
    ASSERT_TRUE(store.SetMetadata(store.Search({.testNumber = 0})[0].runId, {"X", "", ""}));
    EXPECT_EQ(WaitingTests(store), 1);
    PushAll(store, dir.File("library.sqlite"));
    ASSERT_TRUE(store.SetMetadata(run.runId, {"Bia Lima", "SJ", ""}));
    LibraryRun again = run;  // as a library made again from the journals records it
    again.metadata = {"Bia Lima", "SJ", ""};
    ASSERT_TRUE(store.RecordRun(again));
    PushAll(store, dir.File("library.sqlite"));
    EXPECT_EQ(OnServer("SELECT count(*) FROM kelvaro.metadata WHERE run_id = '%1'", run), 2);
    EXPECT_EQ(OnServer("SELECT evaluated FROM kelvaro.tests WHERE run_id = '%1'", run), "Bia Lima");
    ASSERT_TRUE(store.Remove(run.runId));
    EXPECT_EQ(WaitingTests(store), 0);
    EXPECT_EQ(OnServer("SELECT count(*) FROM kelvaro.runs WHERE run_id = '%1'", run), 1);
    {
        SettingsStore settings(dir.File("settings.ini"));
        WriteLabServerSettings(settings, Server("estacao_a"));
        ASSERT_TRUE(settings.Close());
        EXPECT_EQ(ReadLabServerSettings(SettingsStore(dir.File("settings.ini"))),
                  Server("estacao_a"));
    }
    for (const char* file : {"settings.ini", "library.sqlite", "library.sqlite-wal"}) {
        EXPECT_EQ(testing::ReadFileBytes(dir.File(file)).find("senha"), std::string::npos) << file;
    }
}

// Two stations' processes with the same run (a copy of one library): both inside their
// transactions at once, one row on the server; and the copy pushing again gives no second.
TEST(LabPush, TheSameRunPushedByTwoAtOnceAndAgainIsOneRow) {
    TempDir dir;
    LibraryStore store;
    const LibraryRun run = SavedRun(store, dir);
    ASSERT_TRUE(store.Backup(dir.File("copy.sqlite")));
    std::atomic<bool> together{false};
    auto waitForTheOther = [&] {
        WaitFor([&] { return together = together || StationsInTransaction().size() == 2; }, 10s);
    };
    LabPushOptions options{Server("estacao_a"), dir.File("library.sqlite"), 2s, 20s, 100ms, 1s,
                           waitForTheOther};
    {
        const LabPusher first(options);
        options.libraryPath = dir.File("copy.sqlite");
        const LabPusher second(options);
        LibraryStore copy;
        ASSERT_TRUE(copy.Open(dir.File("copy.sqlite")));
        EXPECT_TRUE(WaitFor([&] { return WaitingTests(store) + WaitingTests(copy) == 0; }));
    }
    EXPECT_TRUE(together);
    EXPECT_EQ(OnServer("SELECT count(*) FROM kelvaro.tests WHERE run_id = '%1'", run), 1);
    EXPECT_EQ(OnServer("SELECT count(*) FROM kelvaro.metadata WHERE run_id = '%1'", run), 1);
}

TEST(LabConnection, TakesACaPathWithSpacesAndHasWordsForEveryOutcome) {
    LabServerSettings settings = Server("estacao_a");
    settings.tls = LabTls::VerifyFull;
    settings.caPath = "/tmp/a pasta com 'espaços'/ca.pem";
    EXPECT_THAT(LabConnectOptions(settings, 1s).value().toStdString(),
                ::testing::HasSubstr("sslmode=verify-full;sslrootcert='/tmp/a pasta com "
                                     "\\'espaços\\'/ca.pem';connect_timeout=2;"));
    // Over the server's socket libpq uses no TLS: the options were read whole.
    EXPECT_EQ(CheckLabServer(settings, 2s, true).outcome, LabOutcome::Ok);
    settings.caPath = "/tmp/a;b.pem";
    EXPECT_EQ(CheckLabServer(settings, 2s, true).outcome, LabOutcome::TlsRefused);
    std::set<QString> words;
    for (int i = 0; i <= static_cast<int>(LabOutcome::Other); ++i) {
        words.insert(LabOutcomeWords(static_cast<LabOutcome>(i)));
    }
    EXPECT_EQ(words.size(), static_cast<std::size_t>(LabOutcome::Other) + 1);
}

}  // namespace
}  // namespace kelvaro
