#include "lab/LabOutbox.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <cstring>
#include <filesystem>

namespace kelvaro {
namespace {

QSqlDatabase Db(const LibraryStore& store) {
    return QSqlDatabase::database(QString::fromStdString(store.ConnectionName()), false);
}

LibraryStatus Failure(const QSqlQuery& query) {
    return {LibraryError::Other, 0, query.lastError().text().toStdString()};
}

const char* KindName(OutboxKind kind) {
    return kind == OutboxKind::Run ? "run" : "metadata";
}

QString IdText(const RunId& id) {
    return QString::fromStdString(RunIdText(id));
}

std::optional<double> NumberOf(const QVariant& value) {
    return value.isNull() ? std::nullopt : std::optional<double>(value.toDouble());
}

}  // namespace

int WaitingTests(LibraryStore& store, LibraryStatus* status) {
    LibraryStatus ignored;
    LibraryStatus& result = status != nullptr ? *status : ignored;
    result = {};
    if (!store.IsOpen()) {
        result = {LibraryError::Other, 0, "library not open"};
        return 0;
    }
    QSqlQuery count(Db(store));
    if (!count.exec(QStringLiteral("SELECT count(DISTINCT run_id) FROM outbox")) || !count.next()) {
        result = Failure(count);
        return 0;
    }
    return count.value(0).toInt();
}

std::string LastOutboxError(LibraryStore& store) {
    QSqlQuery last(Db(store));
    if (last.exec(QStringLiteral("SELECT last_error FROM outbox WHERE last_error <> ''"
                                 " ORDER BY retry_ms DESC LIMIT 1")) &&
        last.next()) {
        return last.value(0).toString().toStdString();
    }
    return {};
}

std::optional<OutboxItem> NextDueItem(LibraryStore& store, std::int64_t nowMs) {
    QSqlQuery next(Db(store));
    next.prepare(QStringLiteral(
        "SELECT run_id, kind, edited_ms, attempts FROM outbox WHERE retry_ms <= ?"
        // A run before the texts edited after it: the server takes texts of a run it has.
        " ORDER BY retry_ms, kind = 'metadata', edited_ms LIMIT 1"));
    next.addBindValue(QVariant::fromValue<qint64>(nowMs));
    if (!next.exec() || !next.next()) {
        return std::nullopt;
    }
    OutboxItem item;
    item.runId = ParseRunId(next.value(0).toString().toStdString()).value_or(RunId{});
    item.kind =
        next.value(1).toString() == QLatin1String("run") ? OutboxKind::Run : OutboxKind::Metadata;
    item.editedMs = next.value(2).toLongLong();
    item.attempts = next.value(3).toInt();
    return item;
}

std::optional<std::int64_t> NextDueTime(LibraryStore& store) {
    QSqlQuery next(Db(store));
    if (!next.exec(QStringLiteral("SELECT min(retry_ms) FROM outbox")) || !next.next() ||
        next.value(0).isNull()) {
        return std::nullopt;
    }
    return next.value(0).toLongLong();
}

LibraryStatus MarkPushed(LibraryStore& store, const OutboxItem& item) {
    QSqlQuery done(Db(store));
    done.prepare(
        QStringLiteral("DELETE FROM outbox WHERE run_id = ? AND kind = ? AND edited_ms = ?"));
    done.addBindValue(IdText(item.runId));
    done.addBindValue(QString::fromLatin1(KindName(item.kind)));
    done.addBindValue(QVariant::fromValue<qint64>(item.editedMs));
    return done.exec() ? LibraryStatus{} : Failure(done);
}

LibraryStatus MarkFailed(LibraryStore& store, const OutboxItem& item, const std::string& error,
                         std::int64_t retryMs) {
    QSqlQuery failed(Db(store));
    failed.prepare(
        QStringLiteral("UPDATE outbox SET attempts = attempts + 1, retry_ms = ?,"
                       " last_error = ? WHERE run_id = ? AND kind = ?"));
    failed.addBindValue(QVariant::fromValue<qint64>(retryMs));
    failed.addBindValue(QString::fromStdString(error));
    failed.addBindValue(IdText(item.runId));
    failed.addBindValue(QString::fromLatin1(KindName(item.kind)));
    return failed.exec() ? LibraryStatus{} : Failure(failed);
}

std::optional<OutgoingRun> ReadOutgoingRun(LibraryStore& store, const RunId& id,
                                           LibraryStatus* status) {
    LibraryStatus ignored;
    LibraryStatus& result = status != nullptr ? *status : ignored;
    result = {};
    QSqlQuery q(Db(store));
    q.setForwardOnly(true);
    q.prepare(QStringLiteral(
        "SELECT r.start_ms, r.frequency, r.active, r.unit1, r.unit2, r.unit3, r.unit4,"
        " r.calibration, r.test_number, r.file_path, r.file_sha256, r.imported,"
        " r.decimal_separator, r.samples, r.total_peak, r.total_mean, r.plate1_peak,"
        " r.plate2_peak, r.plate3_peak, r.plate4_peak, r.plate1_mean, r.plate2_mean,"
        " r.plate3_mean, r.plate4_mean, r.evaluated, r.protocol, r.notes, r.evaluated_key,"
        " r.protocol_key, r.notes_key, d.kind, d.data"
        " FROM runs r LEFT JOIN readings d ON d.run_id = r.run_id WHERE r.run_id = ?"));
    q.addBindValue(IdText(id));
    if (!q.exec()) {
        result = Failure(q);
        return std::nullopt;
    }
    if (!q.next()) {
        return std::nullopt;  // removed: nothing went wrong
    }
    OutgoingRun run;
    run.stationId = store.StationId();
    run.stationHost = store.StationHost();
    run.startMs = q.value(0).toLongLong();
    run.frequency = q.value(1).toInt();
    const int mask = q.value(2).toInt();
    for (int i = 0; i < kPlateCount; ++i) {
        run.active[i] = (mask & (1 << i)) != 0;
        run.units[i] = q.value(3 + i).toString().toStdString();
        run.platePeak[i] = NumberOf(q.value(16 + i));
        run.plateMean[i] = NumberOf(q.value(20 + i));
    }
    // As the library packs it: zero offset, index and tare of each plate in turn.
    const QByteArray calibration = q.value(7).toByteArray();
    if (calibration.size() == static_cast<qsizetype>(kPlateCount * 3 * sizeof(double))) {
        const char* p = calibration.constData();
        for (PlateCalibration& plate : run.calibration) {
            for (double* value : {&plate.zeroOffset, &plate.index, &plate.tare}) {
                std::memcpy(value, p, sizeof(double));
                p += sizeof(double);
            }
        }
    }
    run.testNumber = q.value(8).toLongLong();
    run.fileName = std::filesystem::path(q.value(9).toString().toStdString()).filename().string();
    run.fileSha256 = q.value(10).toString().toStdString();
    run.imported = q.value(11).toInt() != 0;
    run.decimalSeparator = q.value(12).toString().toStdString();
    run.samples = q.value(13).toInt();
    run.totalPeak = NumberOf(q.value(14));
    run.totalMean = NumberOf(q.value(15));
    run.metadata = {q.value(24).toString().toStdString(), q.value(25).toString().toStdString(),
                    q.value(26).toString().toStdString()};
    for (int i = 0; i < 3; ++i) {
        run.metadataKeys[i] = q.value(27 + i).toString().toStdString();
    }
    run.readingsKind = q.value(30).toString().toStdString();
    const QByteArray data = q.value(31).toByteArray();
    run.readings.assign(data.constData(), static_cast<std::size_t>(data.size()));
    return run;
}

}  // namespace kelvaro
