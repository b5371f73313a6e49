#include "library/LibraryStore.h"

#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QVariant>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <span>
#include <thread>

#include "archive/TestFileReader.h"
#include "library/LibraryCodec.h"
#include "results/StretchResults.h"
#include "settings/RegularFile.h"

namespace kelvaro {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::system_clock;

// Each migration takes the library from the version before it to its own, in one transaction.
struct Migration {
    int version;
    std::vector<const char*> statements;
};

const std::vector<Migration>& Migrations() {
    static const std::vector<Migration> kMigrations = {
        {1,
         {
             "CREATE TABLE schema_version (version INTEGER NOT NULL)",
             "INSERT INTO schema_version VALUES (0)",
             "CREATE TABLE migrations (version INTEGER PRIMARY KEY, applied TEXT NOT NULL)",
             "CREATE TABLE station (key TEXT PRIMARY KEY, value TEXT NOT NULL)",
             "CREATE TABLE runs ("
             " run_id TEXT PRIMARY KEY, station_id TEXT NOT NULL, start_ms INTEGER NOT NULL,"
             " recorded_ms INTEGER NOT NULL, frequency INTEGER NOT NULL, active INTEGER NOT NULL,"
             " unit1 TEXT NOT NULL, unit2 TEXT NOT NULL, unit3 TEXT NOT NULL, unit4 TEXT NOT NULL,"
             " port1 TEXT NOT NULL, port2 TEXT NOT NULL, port3 TEXT NOT NULL, port4 TEXT NOT NULL,"
             " calibration BLOB NOT NULL, test_number INTEGER NOT NULL, file_path TEXT NOT NULL,"
             " file_sha256 TEXT NOT NULL, evaluated TEXT NOT NULL, protocol TEXT NOT NULL,"
             " notes TEXT NOT NULL, evaluated_key TEXT NOT NULL, protocol_key TEXT NOT NULL,"
             " notes_key TEXT NOT NULL, samples INTEGER NOT NULL, total_peak REAL, total_mean REAL,"
             " plate1_peak REAL, plate2_peak REAL, plate3_peak REAL, plate4_peak REAL,"
             " plate1_mean REAL, plate2_mean REAL, plate3_mean REAL, plate4_mean REAL,"
             " imported INTEGER NOT NULL, decimal_separator TEXT NOT NULL)",
             // Apart from the runs, so that a search never pages through readings.
             "CREATE TABLE readings (run_id TEXT PRIMARY KEY, kind TEXT NOT NULL,"
             " data BLOB NOT NULL)",
             "CREATE INDEX runs_start ON runs (start_ms)",
             "CREATE INDEX runs_test_number ON runs (test_number)",
             "CREATE INDEX runs_evaluated ON runs (evaluated_key)",
             "CREATE INDEX runs_protocol ON runs (protocol_key)",
             "CREATE INDEX runs_sha256 ON runs (file_sha256)",
             "CREATE INDEX runs_total_peak ON runs (total_peak)",
             "CREATE INDEX runs_total_mean ON runs (total_mean)",
         }},
        // What waits for the lab's server: a saved test ('run') or its latest texts
        // ('metadata'), versioned by `edited_ms` so that a push repeated gives the server one row.
        // In the library's own file, so that it lives and dies in the same transactions.
        {2,
         {
             "CREATE TABLE outbox (run_id TEXT NOT NULL, kind TEXT NOT NULL,"
             " edited_ms INTEGER NOT NULL, attempts INTEGER NOT NULL DEFAULT 0,"
             " retry_ms INTEGER NOT NULL DEFAULT 0, last_error TEXT NOT NULL DEFAULT '',"
             " PRIMARY KEY (run_id, kind))",
         }},
    };
    return kMigrations;
}

constexpr const char* kRunColumns =
    "run_id, station_id, start_ms, recorded_ms, frequency, active, unit1, unit2, unit3, unit4,"
    " port1, port2, port3, port4, calibration, test_number, file_path, file_sha256, evaluated,"
    " protocol, notes, evaluated_key, protocol_key, notes_key, samples, total_peak, total_mean,"
    " plate1_peak, plate2_peak, plate3_peak, plate4_peak, plate1_mean, plate2_mean, plate3_mean,"
    " plate4_mean, imported, decimal_separator";
constexpr int kRunColumnCount = 37;

// statfs magic numbers of file systems whose locking or shared memory WAL cannot rely on.
constexpr std::array<unsigned long, 8> kNetworkFileSystems = {
    0x6969,      // NFS
    0x517B,      // SMB
    0xFF534D42,  // CIFS
    0xFE534D42,  // SMB2
    0x65735546,  // FUSE (sshfs and the like)
    0x5346414F,  // AFS
    0x00C36400,  // Ceph
    0x47504653,  // GPFS
};

bool OnNetworkFileSystem(const fs::path& folder) {
    struct statfs info {};
    if (statfs(folder.c_str(), &info) != 0) {
        return false;
    }
    const auto type = static_cast<unsigned long>(info.f_type) & 0xFFFFFFFFUL;
    return std::find(kNetworkFileSystems.begin(), kNetworkFileSystems.end(), type) !=
           kNetworkFileSystems.end();
}

LibraryStatus StatusOf(const QSqlError& error) {
    LibraryStatus status;
    if (error.type() == QSqlError::NoError) {
        return status;
    }
    status.nativeText = error.text().toStdString();
    switch (error.nativeErrorCode().toInt() & 0xFF) {  // the primary of an extended code
        case 5:                                        // SQLITE_BUSY
        case 6:                                        // SQLITE_LOCKED
            status.error = LibraryError::Busy;
            break;
        case 8:  // SQLITE_READONLY
            status.error = LibraryError::ReadOnly;
            break;
        case 11:  // SQLITE_CORRUPT
        case 26:  // SQLITE_NOTADB
            status.error = LibraryError::Damaged;
            break;
        case 13:  // SQLITE_FULL
            status.error = LibraryError::DiskFull;
            break;
        default:
            status.error = LibraryError::Other;
    }
    return status;
}

LibraryStatus SystemStatus(int error, const std::string& what) {
    LibraryStatus status;
    status.systemError = error;
    status.nativeText = what + ": " + std::strerror(error);
    switch (error) {
        case EACCES:
        case EPERM:
        case EROFS:
            status.error = LibraryError::ReadOnly;
            break;
        case ENOSPC:
        case EDQUOT:
            status.error = LibraryError::DiskFull;
            break;
        default:
            status.error = LibraryError::Other;
    }
    return status;
}

LibraryStatus OtherStatus(const std::string& text) {
    return {LibraryError::Other, 0, text};
}

// One prepared statement and the first failure met with it.
struct Sql {
    QSqlQuery query;
    LibraryStatus status;

    Sql(const QSqlDatabase& db, const QString& text) : query(db) {
        query.setForwardOnly(true);
        if (!query.prepare(text)) {
            status = StatusOf(query.lastError());
        }
    }
    Sql& Bind(const QVariant& value) {
        query.addBindValue(value);
        return *this;
    }
    bool Run() {
        if (status && !query.exec()) {
            status = StatusOf(query.lastError());
        }
        return status.Ok();
    }
};

// BEGIN IMMEDIATE takes the write lock at once (waiting the busy time-out for it), so a write
// never fails half-way because another process wrote first; rolled back unless committed.
class Transaction {
  public:
    explicit Transaction(const QSqlDatabase& db) : db_(db) {}
    ~Transaction() {
        if (open_) {
            QSqlQuery(db_).exec(QStringLiteral("ROLLBACK"));
        }
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    LibraryStatus Begin() { return Exec("BEGIN IMMEDIATE", true); }
    LibraryStatus Commit() { return Exec("COMMIT", false); }

  private:
    LibraryStatus Exec(const char* text, bool opens) {
        QSqlQuery query(db_);
        if (!query.exec(QString::fromLatin1(text))) {
            return StatusOf(query.lastError());
        }
        open_ = opens;
        return {};
    }

    QSqlDatabase db_;
    bool open_ = false;
};

QString Text(const std::string& s) {
    return QString::fromStdString(s);
}

QVariant Number(const std::optional<double>& value) {
    return value ? QVariant(*value) : QVariant(QMetaType::fromType<double>());
}

std::optional<double> NumberOf(const QVariant& value) {
    if (value.isNull()) {
        return std::nullopt;
    }
    return value.toDouble();
}

std::int64_t Milliseconds(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

Clock::time_point TimeOf(std::int64_t ms) {
    return Clock::time_point(
        std::chrono::duration_cast<Clock::duration>(std::chrono::milliseconds(ms)));
}

int ActiveMask(const ActivePlates& active) {
    int mask = 0;
    for (int i = 0; i < kPlateCount; ++i) {
        mask |= active[i] ? 1 << i : 0;
    }
    return mask;
}

ActivePlates ActiveOf(int mask) {
    ActivePlates active{};
    for (int i = 0; i < kPlateCount; ++i) {
        active[i] = (mask & (1 << i)) != 0;
    }
    return active;
}

QByteArray CalibrationBytes(const PlateCalibrations& calibration) {
    QByteArray bytes;
    for (const PlateCalibration& plate : calibration) {
        for (const double value : {plate.zeroOffset, plate.index, plate.tare}) {
            bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
        }
    }
    return bytes;
}

PlateCalibrations CalibrationOf(const QByteArray& bytes) {
    PlateCalibrations calibration{};
    if (bytes.size() != static_cast<qsizetype>(kPlateCount * 3 * sizeof(double))) {
        return calibration;
    }
    const char* p = bytes.constData();
    for (PlateCalibration& plate : calibration) {
        for (double* value : {&plate.zeroOffset, &plate.index, &plate.tare}) {
            std::memcpy(value, p, sizeof(double));
            p += sizeof(double);
        }
    }
    return calibration;
}

RunId IdOf(const QVariant& value) {
    return ParseRunId(value.toString().toStdString()).value_or(RunId{});
}

const char* SortColumn(LibrarySortColumn column) {
    switch (column) {
        case LibrarySortColumn::TestNumber:
            return "test_number";
        case LibrarySortColumn::Evaluated:
            return "evaluated_key";
        case LibrarySortColumn::Protocol:
            return "protocol_key";
        case LibrarySortColumn::Frequency:
            return "frequency";
        case LibrarySortColumn::Samples:
            return "samples";
        case LibrarySortColumn::TotalPeak:
            return "total_peak";
        case LibrarySortColumn::TotalMean:
            return "total_mean";
        case LibrarySortColumn::Plate1Peak:
            return "plate1_peak";
        case LibrarySortColumn::Plate2Peak:
            return "plate2_peak";
        case LibrarySortColumn::Plate3Peak:
            return "plate3_peak";
        case LibrarySortColumn::Plate4Peak:
            return "plate4_peak";
        case LibrarySortColumn::Imported:
            return "imported";
        case LibrarySortColumn::Start:
            break;
    }
    return "start_ms";
}

// The schema version of a file that SQLite reads and whose pages hold together.
LibraryStatus CheckFile(const std::string& connection, int& version) {
    const QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection), false);
    // One statement, so one snapshot: read in two, another station making the schema between
    // them would show tables without their version, a database of something else.
    Sql read(db, QStringLiteral("SELECT (SELECT user_version FROM pragma_user_version), "
                                "(SELECT count(*) FROM sqlite_master)"));
    if (!read.Run() || !read.query.next()) {
        return read.status.Ok() ? OtherStatus("no schema version") : read.status;
    }
    version = read.query.value(0).toInt();
    // A new file, or a database of something else, which is not to be touched.
    if (version == 0 && read.query.value(1).toInt() != 0) {
        return {LibraryError::Damaged, 0, "a database that is not a library"};
    }
    Sql check(db, QStringLiteral("PRAGMA quick_check"));
    if (!check.Run()) {
        return check.status;
    }
    if (!check.query.next() || check.query.value(0).toString() != QStringLiteral("ok")) {
        return {LibraryError::Damaged, 0, check.query.value(0).toString().toStdString()};
    }
    return {};
}

LibraryStatus SetJournalMode(const std::string& connection, bool network, std::string& mode) {
    Sql set(QSqlDatabase::database(QString::fromStdString(connection), false),
            network ? QStringLiteral("PRAGMA journal_mode=DELETE")
                    : QStringLiteral("PRAGMA journal_mode=WAL"));
    if (!set.Run() || !set.query.next()) {
        return set.status.Ok() ? OtherStatus("no journal mode") : set.status;
    }
    mode = set.query.value(0).toString().toLower().toStdString();
    return {};
}

std::atomic<unsigned> connectionCount{0};

}  // namespace

std::string Sha256Hex(const std::string& bytes) {
    return QCryptographicHash::hash(
               QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())),
               QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

LibraryStore::LibraryStore()
    : connection_("kelvaro-library-" + std::to_string(connectionCount.fetch_add(1))) {}

LibraryStore::~LibraryStore() {
    Close();
}

void LibraryStore::Close() {
    if (QSqlDatabase::contains(Text(connection_))) {
        {
            QSqlDatabase db = QSqlDatabase::database(Text(connection_), false);
            db.close();
        }
        QSqlDatabase::removeDatabase(Text(connection_));
    }
    open_ = false;
    writable_ = false;
    journalMode_.clear();
    stationId_.clear();
}

// SQLite answers busy at once, without waiting, where waiting could deadlock: two stations
// making the library or switching it to WAL at the same moment. The whole open is tried again
// until the busy time-out, as a write would wait.
LibraryStatus LibraryStore::Open(const std::string& path) {
    const auto giveUpAt =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kLibraryBusyMilliseconds);
    for (;;) {
        LibraryStatus opened = OpenOnce(path);
        if (opened.error != LibraryError::Busy || std::chrono::steady_clock::now() > giveUpAt) {
            return opened;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

LibraryStatus LibraryStore::OpenOnce(const std::string& path) {
    Close();
    refusal_ = {};
    const fs::path file(path);
    const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
    std::error_code error;
    const bool exists = fs::exists(fs::symlink_status(file, error));
    bool readOnly = false;
    if (!exists) {
        fs::create_directories(folder, error);
        if (error) {
            return SystemStatus(error.value(), folder.string());
        }
        if (access(folder.c_str(), W_OK) != 0) {
            return SystemStatus(errno, folder.string());
        }
    } else {
        if (!fs::is_regular_file(file, error)) {
            return OtherStatus(path + ": not a regular file");
        }
        if (access(file.c_str(), R_OK) != 0) {
            return SystemStatus(errno, path);
        }
        // WAL writes its index and log beside the file, so the folder must take them too.
        readOnly = access(file.c_str(), W_OK) != 0 || access(folder.c_str(), W_OK) != 0;
    }
    const bool network = OnNetworkFileSystem(folder);

    LibraryStatus status;
    // `immutable`: read where WAL cannot make its index beside the file (a read-only disk).
    auto connect = [&](bool readOnlyConnection, bool immutable = false) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), Text(connection_));
        QString options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kLibraryBusyMilliseconds);
        if (readOnlyConnection) {
            options += QStringLiteral(";QSQLITE_OPEN_READONLY");
        }
        if (immutable) {
            options += QStringLiteral(";QSQLITE_OPEN_URI");
            db.setDatabaseName(QUrl::fromLocalFile(Text(fs::absolute(file, error).string()))
                                   .toString(QUrl::FullyEncoded) +
                               QStringLiteral("?immutable=1"));
        } else {
            db.setDatabaseName(Text(path));
        }
        db.setConnectOptions(options);
        if (!db.open()) {
            status = StatusOf(db.lastError());
            return false;
        }
        // A search reads the whole runs table: kept in memory, it is read from the disk once
        // (mapped where the file is local), not page by page on every search.
        QSqlQuery(db).exec(QStringLiteral("PRAGMA cache_size = -32768"));
        if (!network) {
            QSqlQuery(db).exec(QStringLiteral("PRAGMA mmap_size = 268435456"));
        }
        return true;
    };
    auto fail = [&](LibraryStatus why) {
        Close();
        return why;
    };
    if (!connect(readOnly)) {
        return fail(status);
    }
    // Read before anything is written: a file that is not a library is left exactly as it was.
    int version = 0;
    LibraryStatus checked = CheckFile(connection_, version);
    const bool immutable = !checked && readOnly && checked.error != LibraryError::Damaged;
    if (immutable) {
        Close();
        if (!connect(true, true)) {
            return fail(status);
        }
        checked = CheckFile(connection_, version);
    }
    if (!checked) {
        return fail(checked);
    }
    if (version > kLibrarySchemaVersion) {
        Close();
        if (!connect(true, immutable)) {
            return fail(status);
        }
        refusal_ = {LibraryError::NewerSchema, 0,
                    "schema " + std::to_string(version) + " is newer than " +
                        std::to_string(kLibrarySchemaVersion)};
        open_ = true;
        return refusal_;
    }
    if (readOnly) {
        refusal_ = SystemStatus(EACCES, path);
        open_ = version == kLibrarySchemaVersion;
        if (!open_) {
            Close();
        }
        return refusal_;
    }
    if (LibraryStatus mode = SetJournalMode(connection_, network, journalMode_); !mode) {
        return fail(mode);
    }
    open_ = true;
    writable_ = true;
    // Only a library of an older schema takes the write lock here: one held by another process
    // does not keep this one from opening.
    if (version < kLibrarySchemaVersion) {
        if (LibraryStatus migrated = Migrate(); !migrated) {
            return fail(migrated);
        }
    }
    StationId();  // made now, so that no record waits for it
    return {};
}

LibraryStatus LibraryStore::Migrate() {
    QSqlDatabase db = QSqlDatabase::database(Text(connection_), false);
    Transaction transaction(db);
    if (LibraryStatus begun = transaction.Begin(); !begun) {
        return begun;
    }
    // Read again under the write lock: another process may have made the schema meanwhile.
    Sql read(db, QStringLiteral("PRAGMA user_version"));
    if (!read.Run() || !read.query.next()) {
        return read.status;
    }
    const int version = read.query.value(0).toInt();
    if (version == 0) {
        Sql tables(db, QStringLiteral("SELECT count(*) FROM sqlite_master"));
        if (!tables.Run() || !tables.query.next()) {
            return tables.status;
        }
        if (tables.query.value(0).toInt() != 0) {
            return {LibraryError::Damaged, 0, "a database that is not a library"};
        }
    }
    for (const Migration& migration : Migrations()) {
        if (migration.version <= version) {
            continue;
        }
        for (const char* statement : migration.statements) {
            if (Sql step(db, QString::fromLatin1(statement)); !step.Run()) {
                return step.status;
            }
        }
        const QString v = QString::number(migration.version);
        for (const QString& statement :
             {QStringLiteral("INSERT INTO migrations VALUES (%1, datetime('now'))").arg(v),
              QStringLiteral("UPDATE schema_version SET version = %1").arg(v),
              QStringLiteral("PRAGMA user_version = %1").arg(v)}) {
            if (Sql step(db, statement); !step.Run()) {
                return step.status;
            }
        }
    }
    return transaction.Commit();
}

LibraryStatus LibraryStore::Refusal() const {
    if (!open_) {
        return OtherStatus("library not open");
    }
    return refusal_;
}

std::string LibraryStore::StationHost() {
    if (!open_) {
        return {};
    }
    Sql read(QSqlDatabase::database(Text(connection_), false),
             QStringLiteral("SELECT value FROM station WHERE key = 'host'"));
    return read.Run() && read.query.next() ? read.query.value(0).toString().toStdString() : "";
}

std::string LibraryStore::StationId() {
    if (!stationId_.empty() || !open_) {
        return stationId_;
    }
    QSqlDatabase db = QSqlDatabase::database(Text(connection_), false);
    auto read = [&] {
        Sql query(db, QStringLiteral("SELECT value FROM station WHERE key = 'id'"));
        if (query.Run() && query.query.next()) {
            stationId_ = query.query.value(0).toString().toStdString();
        }
    };
    read();
    if (stationId_.empty() && writable_) {
        std::array<char, 256> host{};
        gethostname(host.data(), host.size() - 1);
        // Two processes may make one at once: the first kept wins, the other reads it.
        Sql make(db, QStringLiteral("INSERT OR IGNORE INTO station VALUES ('id', ?), ('host', ?)"));
        make.Bind(Text(RunIdText(NewRunId()))).Bind(QString::fromLocal8Bit(host.data())).Run();
        read();
    }
    return stationId_;
}

LibraryStatus LibraryStore::SetStation(const std::string& id, const std::string& host) {
    if (!Writable()) {
        return Refusal();
    }
    Sql keep(QSqlDatabase::database(Text(connection_), false),
             QStringLiteral("INSERT OR REPLACE INTO station VALUES ('id', ?), ('host', ?)"));
    if (!keep.Bind(Text(id)).Bind(Text(host)).Run()) {
        return keep.status;
    }
    stationId_ = id;
    return {};
}

LibraryStatus LibraryStore::RecordRun(const LibraryRun& run) {
    return WriteRun(run, false, nullptr);
}

LibraryStatus LibraryStore::WriteRun(const LibraryRun& run, bool newBytesOnly, RunId* already) {
    if (!Writable()) {
        return Refusal();
    }
    // Everything that needs no lock is done before the transaction other processes wait on.
    std::vector<LoadRecord> converted;
    if (!run.imported) {
        converted.reserve(run.raw.size());
        for (const RawRecord& raw : run.raw) {
            converted.push_back(ConvertRecord(raw, run.calibration, run.active));
        }
    }
    const std::span<const LoadRecord> loads = run.imported ? run.loads : converted;
    const RunResults results(loads, run.active, run.units, run.frequency);
    const StretchResults whole = results.Of(results.WholeRun());
    std::array<PlateFigures, kPlateCount> plates;
    for (const PlateResults& plate : whole.plates) {
        plates[plate.plate] = {plate.figures.peak, plate.figures.mean};
    }
    std::string blob;
    QString kind;
    if (run.imported) {
        blob = PackLoads(run.loads);
        kind = QStringLiteral("loads");
    } else if (run.testNumber != 0 && !run.raw.empty()) {
        // A run never saved keeps its readings in its journal only.
        blob = PackRawReadings(run.raw);
        kind = QStringLiteral("raw");
    }
    const std::string station = StationId();
    const RunMetadata metadata{CutToCodePoints(run.metadata.evaluated, kEvaluatedMaxChars),
                               CutToCodePoints(run.metadata.protocol, kProtocolMaxChars),
                               CutToCodePoints(run.metadata.notes, kNotesMaxChars)};
    const QString id = Text(RunIdText(run.runId));

    QSqlDatabase db = QSqlDatabase::database(Text(connection_), false);
    Transaction transaction(db);
    if (LibraryStatus begun = transaction.Begin(); !begun) {
        return begun;
    }
    if (newBytesOnly && !run.fileSha256.empty()) {
        Sql find(db, QStringLiteral("SELECT run_id FROM runs WHERE file_sha256 = ? LIMIT 1"));
        if (!find.Bind(Text(run.fileSha256)).Run()) {
            return find.status;
        }
        if (find.query.next()) {
            *already = IdOf(find.query.value(0));
            return {};
        }
    }
    QString placeholders = QStringLiteral("?");
    for (int i = 1; i < kRunColumnCount; ++i) {
        placeholders += QStringLiteral(", ?");
    }
    Sql insert(db, QStringLiteral("INSERT OR REPLACE INTO runs (%1) VALUES (%2)")
                       .arg(QString::fromLatin1(kRunColumns), placeholders));
    insert.Bind(id).Bind(Text(station)).Bind(QVariant::fromValue<qint64>(Milliseconds(run.start)));
    insert.Bind(QVariant::fromValue<qint64>(Milliseconds(Clock::now())));
    insert.Bind(run.frequency).Bind(ActiveMask(run.active));
    for (const std::string& unit : run.units) {
        insert.Bind(Text(unit));
    }
    for (const std::string& port : run.ports) {
        insert.Bind(Text(port));
    }
    insert.Bind(CalibrationBytes(run.calibration));
    insert.Bind(QVariant::fromValue<qint64>(run.testNumber))
        .Bind(Text(run.filePath))
        .Bind(Text(run.fileSha256));
    insert.Bind(Text(metadata.evaluated)).Bind(Text(metadata.protocol)).Bind(Text(metadata.notes));
    insert.Bind(Text(FoldForSearch(metadata.evaluated)))
        .Bind(Text(FoldForSearch(metadata.protocol)))
        .Bind(Text(FoldForSearch(metadata.notes)));
    insert.Bind(static_cast<qint64>(loads.size()));
    insert.Bind(Number(whole.total ? whole.total->peak : std::nullopt));
    insert.Bind(Number(whole.total ? whole.total->mean : std::nullopt));
    for (const PlateFigures& plate : plates) {
        insert.Bind(Number(plate.peak));
    }
    for (const PlateFigures& plate : plates) {
        insert.Bind(Number(plate.mean));
    }
    insert.Bind(run.imported ? 1 : 0);
    insert.Bind(run.decimalSeparator ? QString(QChar::fromLatin1(*run.decimalSeparator))
                                     : QString(""));
    if (!insert.Run()) {
        return insert.status;
    }
    if (Sql drop(db, QStringLiteral("DELETE FROM readings WHERE run_id = ?"));
        !drop.Bind(id).Run()) {
        return drop.status;
    }
    if (!kind.isEmpty()) {
        Sql keep(db, QStringLiteral("INSERT INTO readings VALUES (?, ?, ?)"));
        keep.Bind(id).Bind(kind).Bind(QByteArray(blob.data(), static_cast<qsizetype>(blob.size())));
        if (!keep.Run()) {
            return keep.status;
        }
    }
    // A run never saved stays on the station; a saved one waits for the lab's server.
    if (run.testNumber > 0 || run.imported) {
        Sql queue(db, QStringLiteral("INSERT OR REPLACE INTO outbox (run_id, kind, edited_ms)"
                                     " VALUES (?, 'run', ?)"));
        if (!queue.Bind(id).Bind(QVariant::fromValue<qint64>(Milliseconds(Clock::now()))).Run()) {
            return queue.status;
        }
    }
    if (beforeCommit) {
        beforeCommit();
    }
    return transaction.Commit();
}

namespace {

// One UPDATE or DELETE of a run, in a transaction of its own; a run that is not there is said so.
LibraryStatus Change(const QSqlDatabase& db, const std::vector<QString>& statements,
                     const std::vector<std::vector<QVariant>>& values,
                     const std::function<void()>& beforeCommit) {
    Transaction transaction(db);
    if (LibraryStatus begun = transaction.Begin(); !begun) {
        return begun;
    }
    int changed = 0;
    for (std::size_t i = 0; i < statements.size(); ++i) {
        Sql step(db, statements[i]);
        for (const QVariant& value : values[i]) {
            step.Bind(value);
        }
        if (!step.Run()) {
            return step.status;
        }
        changed += step.query.numRowsAffected();
    }
    if (changed == 0) {
        return OtherStatus("no such run");
    }
    if (beforeCommit) {
        beforeCommit();
    }
    return transaction.Commit();
}

}  // namespace

LibraryStatus LibraryStore::SetMetadata(const RunId& id, const RunMetadata& metadata) {
    if (!Writable()) {
        return Refusal();
    }
    const std::string evaluated = CutToCodePoints(metadata.evaluated, kEvaluatedMaxChars);
    const std::string protocol = CutToCodePoints(metadata.protocol, kProtocolMaxChars);
    const std::string notes = CutToCodePoints(metadata.notes, kNotesMaxChars);
    return Change(
        QSqlDatabase::database(Text(connection_), false),
        {QStringLiteral("UPDATE runs SET evaluated = ?, protocol = ?, notes = ?,"
                        " evaluated_key = ?, protocol_key = ?, notes_key = ? WHERE run_id = ?"),
         QStringLiteral("INSERT OR REPLACE INTO outbox (run_id, kind, edited_ms) SELECT run_id,"
                        " 'metadata', ? FROM runs WHERE run_id = ?"
                        " AND (test_number > 0 OR imported <> 0)")},
        {{Text(evaluated), Text(protocol), Text(notes), Text(FoldForSearch(evaluated)),
          Text(FoldForSearch(protocol)), Text(FoldForSearch(notes)), Text(RunIdText(id))},
         {QVariant::fromValue<qint64>(Milliseconds(Clock::now())), Text(RunIdText(id))}},
        beforeCommit);
}

LibraryStatus LibraryStore::SetSaved(const RunId& id, std::int64_t testNumber,
                                     const std::string& path, const std::string& sha256) {
    if (!Writable()) {
        return Refusal();
    }
    return Change(
        QSqlDatabase::database(Text(connection_), false),
        {QStringLiteral("UPDATE runs SET test_number = ?, file_path = ?, file_sha256 = ?"
                        " WHERE run_id = ?")},
        {{QVariant::fromValue<qint64>(testNumber), Text(path), Text(sha256), Text(RunIdText(id))}},
        beforeCommit);
}

LibraryStatus LibraryStore::Remove(const RunId& id) {
    if (!Writable()) {
        return Refusal();
    }
    const QString text = Text(RunIdText(id));
    return Change(QSqlDatabase::database(Text(connection_), false),
                  {QStringLiteral("DELETE FROM readings WHERE run_id = ?"),
                   QStringLiteral("DELETE FROM runs WHERE run_id = ?")},
                  {{text}, {text}}, beforeCommit);
}

namespace {

// The WHERE clause of a query, with the values its placeholders take in order.
QString Filter(const LibraryQuery& query, std::vector<QVariant>& values) {
    QString where = QStringLiteral(" WHERE 1");
    auto within = [&](const char* column, const std::string& text) {
        if (!text.empty()) {
            where += QStringLiteral(" AND instr(%1, ?) > 0").arg(QString::fromLatin1(column));
            values.emplace_back(Text(FoldForSearch(text)));
        }
    };
    within("evaluated_key", query.evaluated);
    if (query.protocolExact && !query.protocol.empty()) {
        where += QStringLiteral(" AND protocol_key = ?");
        values.emplace_back(Text(FoldForSearch(query.protocol)));
    } else {
        within("protocol_key", query.protocol);
    }
    within("notes_key", query.notes);
    if (query.from) {
        where += QStringLiteral(" AND start_ms >= ?");
        values.emplace_back(QVariant::fromValue<qint64>(Milliseconds(*query.from)));
    }
    if (query.to) {
        where += QStringLiteral(" AND start_ms <= ?");
        values.emplace_back(QVariant::fromValue<qint64>(Milliseconds(*query.to)));
    }
    if (query.testNumber) {
        where += QStringLiteral(" AND test_number = ?");
        values.emplace_back(QVariant::fromValue<qint64>(*query.testNumber));
    }
    return where;
}

}  // namespace

int LibraryStore::Count(const LibraryQuery& query, LibraryStatus* status) {
    LibraryStatus ignored;
    LibraryStatus& result = status != nullptr ? *status : ignored;
    result = open_ ? LibraryStatus{} : Refusal();
    if (!open_) {
        return 0;
    }
    std::vector<QVariant> values;
    const QString where = Filter(query, values);
    Sql count(QSqlDatabase::database(Text(connection_), false),
              QStringLiteral("SELECT count(*) FROM runs") + where);
    for (const QVariant& value : values) {
        count.Bind(value);
    }
    if (!count.Run() || !count.query.next()) {
        result = count.status;
        return 0;
    }
    return count.query.value(0).toInt();
}

std::vector<LibraryEntry> LibraryStore::Search(const LibraryQuery& query, LibraryStatus* status) {
    std::vector<LibraryEntry> entries;
    LibraryStatus ignored;
    LibraryStatus& result = status != nullptr ? *status : ignored;
    result = {};
    if (!open_) {
        result = Refusal();
        return entries;
    }
    std::vector<QVariant> values;
    const QString where = Filter(query, values);
    const QString order =
        // Ties in the order they were recorded, so that a column's index gives the order
        // without sorting the rows.
        QStringLiteral(" ORDER BY %1 %2, rowid %2")
            .arg(QString::fromLatin1(SortColumn(query.sortBy)),
                 query.descending ? QStringLiteral("DESC") : QStringLiteral("ASC"));
    const QString page =
        query.limit > 0 ? QStringLiteral(" LIMIT %1 OFFSET %2").arg(query.limit).arg(query.offset)
                        : QString();
    Sql select(QSqlDatabase::database(Text(connection_), false),
               QStringLiteral("SELECT run_id, start_ms, test_number, evaluated, protocol,"
                              " substr(notes, 1, instr(notes || char(10), char(10)) - 1), "
                              "frequency, active, samples, total_peak, total_mean,"
                              " plate1_peak, plate2_peak, plate3_peak, plate4_peak, plate1_mean,"
                              " plate2_mean, plate3_mean, plate4_mean, unit1, unit2, unit3, unit4,"
                              " imported, file_path FROM runs") +
                   where + order + page);
    for (const QVariant& value : values) {
        select.Bind(value);
    }
    if (!select.Run()) {
        result = select.status;
        return entries;
    }
    while (select.query.next()) {
        const QSqlQuery& q = select.query;
        LibraryEntry& e = entries.emplace_back();
        e.runId = IdOf(q.value(0));
        e.start = TimeOf(q.value(1).toLongLong());
        e.testNumber = q.value(2).toLongLong();
        e.evaluated = q.value(3).toString().toStdString();
        e.protocol = q.value(4).toString().toStdString();
        e.notesFirstLine = q.value(5).toString().toStdString();
        e.frequency = q.value(6).toInt();
        e.active = ActiveOf(q.value(7).toInt());
        e.samples = q.value(8).toInt();
        e.totalPeak = NumberOf(q.value(9));
        e.totalMean = NumberOf(q.value(10));
        for (int i = 0; i < kPlateCount; ++i) {
            e.plates[i] = {NumberOf(q.value(11 + i)), NumberOf(q.value(15 + i))};
            e.units[i] = q.value(19 + i).toString().toStdString();
        }
        e.imported = q.value(23).toInt() != 0;
        e.filePath = q.value(24).toString().toStdString();
    }
    return entries;
}

std::optional<StoredRunData> LibraryStore::LoadRun(const RunId& id, LibraryStatus* status) {
    LibraryStatus ignored;
    LibraryStatus& result = status != nullptr ? *status : ignored;
    result = {};
    if (!open_) {
        result = Refusal();
        return std::nullopt;
    }
    Sql select(
        QSqlDatabase::database(Text(connection_), false),
        QStringLiteral("SELECT r.start_ms, r.test_number, r.frequency, r.port1, r.port2, r.port3,"
                       " r.port4, r.unit1, r.unit2, r.unit3, r.unit4, r.active, r.calibration,"
                       " r.evaluated, r.protocol, r.notes, r.file_path, r.file_sha256,"
                       " r.imported, r.decimal_separator, d.kind, d.data"
                       " FROM runs r LEFT JOIN readings d ON d.run_id = r.run_id"
                       " WHERE r.run_id = ?"));
    if (!select.Bind(Text(RunIdText(id))).Run()) {
        result = select.status;
        return std::nullopt;
    }
    if (!select.query.next()) {
        result = OtherStatus("no such run");
        return std::nullopt;
    }
    const QSqlQuery& q = select.query;
    StoredRunData run;
    run.runId = id;
    run.start = TimeOf(q.value(0).toLongLong());
    run.heading.testNumber = q.value(1).toLongLong();
    run.heading.frequency = q.value(2).toInt();
    for (int i = 0; i < kPlateCount; ++i) {
        run.heading.ports[i] = q.value(3 + i).toString().toStdString();
        run.heading.units[i] = q.value(7 + i).toString().toStdString();
    }
    run.active = ActiveOf(q.value(11).toInt());
    run.calibration = CalibrationOf(q.value(12).toByteArray());
    run.metadata = {q.value(13).toString().toStdString(), q.value(14).toString().toStdString(),
                    q.value(15).toString().toStdString()};
    run.filePath = q.value(16).toString().toStdString();
    run.fileSha256 = q.value(17).toString().toStdString();
    run.imported = q.value(18).toInt() != 0;
    if (const QString separator = q.value(19).toString(); !separator.isEmpty()) {
        run.decimalSeparator = separator.at(0).toLatin1();
    }
    const QString kind = q.value(20).toString();
    if (!kind.isEmpty()) {
        const QByteArray data = q.value(21).toByteArray();
        const std::string packed(data.constData(), static_cast<std::size_t>(data.size()));
        if (kind == QStringLiteral("raw")) {
            const std::optional<std::vector<RawRecord>> raw = UnpackRawReadings(packed);
            if (!raw) {
                result = {LibraryError::Damaged, 0, "readings cannot be unpacked"};
                return std::nullopt;
            }
            run.loads.reserve(raw->size());
            for (const RawRecord& record : *raw) {
                run.loads.push_back(ConvertRecord(record, run.calibration, run.active));
            }
        } else {
            std::optional<std::vector<LoadRecord>> loads = UnpackLoads(packed);
            if (!loads) {
                result = {LibraryError::Damaged, 0, "loads cannot be unpacked"};
                return std::nullopt;
            }
            run.loads = std::move(*loads);
        }
        run.hasReadings = true;
    }
    return run;
}

ImportOutcome LibraryStore::ImportTestFile(const std::string& path) {
    ImportOutcome outcome;
    TestFileContent content;
    if (FileStatus read = ReadTestFile(path, content); !read) {
        outcome.result = ImportResult::Refused;
        outcome.fileError = read.error;
        return outcome;
    }
    RegularFile file(path);
    auto refuse = [&](int error) {
        outcome.result = ImportResult::Refused;
        outcome.fileError = SystemFileError(FileOperation::TestFileRead, error, path);
        return outcome;
    };
    if (file.Error() != 0) {
        return refuse(file.Error());
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const long got = file.Read(buffer.data(), buffer.size());
        if (got < 0) {
            return refuse(static_cast<int>(-got));
        }
        if (got == 0) {
            break;
        }
        hash.addData(QByteArrayView(buffer.data(), got));
    }
    struct stat info {};
    fstat(file.Descriptor(), &info);

    LibraryRun run;
    run.runId = NewRunId();
    // The file does not say when it was measured; when it was written is the nearest there is.
    run.start = Clock::time_point(std::chrono::duration_cast<Clock::duration>(
        std::chrono::seconds(info.st_mtim.tv_sec) +
        std::chrono::nanoseconds(info.st_mtim.tv_nsec)));
    run.frequency = content.frequency;
    run.units = content.units;
    run.ports = content.ports;
    run.testNumber = content.testNumber;
    run.filePath = path;
    run.fileSha256 = hash.result().toHex().toStdString();
    // As a test file is read back elsewhere: an idle plate's column holds zeros.
    for (const LoadRecord& row : content.loads) {
        for (int i = 0; i < kPlateCount; ++i) {
            run.active[i] = run.active[i] || row[i] != 0.0;
        }
    }
    run.loads = std::move(content.loads);
    run.imported = true;
    run.decimalSeparator = content.decimalSeparator;
    RunId already{};
    outcome.status = WriteRun(run, true, &already);
    const bool found = already != RunId{};
    if (!outcome.status) {
        outcome.result = ImportResult::NotRecorded;
    } else if (found) {
        outcome.result = ImportResult::AlreadyThere;
        outcome.runId = already;
    } else {
        outcome.result = ImportResult::Imported;
        outcome.runId = run.runId;
    }
    return outcome;
}

LibraryStatus LibraryStore::Backup(const std::string& destination) {
    if (!open_) {
        return Refusal();
    }
    std::error_code error;
    if (fs::exists(fs::symlink_status(destination, error))) {
        return {LibraryError::Other, EEXIST, destination + ": exists"};
    }
    Sql vacuum(QSqlDatabase::database(Text(connection_), false), QStringLiteral("VACUUM INTO ?"));
    if (!vacuum.Bind(Text(destination)).Run()) {
        // Half a copy would pass for a backup: the file was not there before, so it goes.
        fs::remove(destination, error);
    }
    return vacuum.status;
}

std::vector<std::string> LibraryStore::RecentEvaluated(int n) {
    std::vector<std::string> names;
    if (!open_) {
        return names;
    }
    Sql select(QSqlDatabase::database(Text(connection_), false),
               QStringLiteral("SELECT evaluated FROM runs WHERE evaluated <> '' GROUP BY evaluated"
                              " ORDER BY max(start_ms) DESC LIMIT ?"));
    if (select.Bind(n).Run()) {
        while (select.query.next()) {
            names.push_back(select.query.value(0).toString().toStdString());
        }
    }
    return names;
}

std::vector<std::string> LibraryStore::Protocols() {
    std::vector<std::string> names;
    if (!open_) {
        return names;
    }
    Sql select(QSqlDatabase::database(Text(connection_), false),
               QStringLiteral("SELECT protocol FROM runs WHERE protocol <> '' GROUP BY protocol"
                              " ORDER BY max(start_ms) DESC"));
    if (select.Run()) {
        while (select.query.next()) {
            names.push_back(select.query.value(0).toString().toStdString());
        }
    }
    return names;
}

}  // namespace kelvaro
