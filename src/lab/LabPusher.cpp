#include "lab/LabPusher.h"

#include <libpq-fe.h>
#include <sys/socket.h>

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QThread>
#include <QVariant>
#include <algorithm>
#include <utility>

#include "lab/LabOutbox.h"
#include "library/LibraryStore.h"

namespace kelvaro {
namespace {

using Steady = std::chrono::steady_clock;

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// PostgreSQL array literals: elements quoted and escaped, NULL where there is none.
QString ArrayOf(const std::array<std::string, kPlateCount>& texts) {
    QStringList items;
    for (const std::string& text : texts) {
        QString item = QString::fromStdString(text);
        item.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
        item.replace(QLatin1Char('"'), QStringLiteral("\\\""));
        items << QLatin1Char('"') + item + QLatin1Char('"');
    }
    return QLatin1Char('{') + items.join(QLatin1Char(',')) + QLatin1Char('}');
}

QString ArrayOf(const std::array<std::optional<double>, kPlateCount>& numbers) {
    QStringList items;
    for (const std::optional<double>& number : numbers) {
        // 17 digits: the server's double is the station's, bit for bit.
        items << (number ? QString::number(*number, 'g', 17) : QStringLiteral("NULL"));
    }
    return QLatin1Char('{') + items.join(QLatin1Char(',')) + QLatin1Char('}');
}

QVariant Number(const std::optional<double>& value) {
    return value ? QVariant(*value) : QVariant(QMetaType::fromType<double>());
}

QVariant Ms(std::int64_t ms) {
    return QVariant::fromValue<qint64>(ms);
}

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

// One statement of a push; the first failure ends it.
LabStatus Run(const QSqlDatabase& db, const QString& sql, const QVariantList& values) {
    QSqlQuery query(db);
    // BEGIN and COMMIT cannot be prepared.
    if (values.isEmpty()) {
        return query.exec(sql) ? LabStatus{} : StatusOf(query.lastError());
    }
    if (!query.prepare(sql)) {
        return StatusOf(query.lastError());
    }
    for (const QVariant& value : values) {
        query.addBindValue(value);
    }
    return query.exec() ? LabStatus{} : StatusOf(query.lastError());
}

constexpr const char* kMillisecondsToTime =
    "timestamptz 'epoch' + CAST(? AS bigint) * interval '1 millisecond'";

}  // namespace

LabPusher::LabPusher(LabPushOptions options, std::function<void(const LabPushReport&)> report)
    : options_(std::move(options)),
      report_(std::move(report)),
      watchdog_([this](const std::stop_token& stop) { Watch(stop); }),
      thread_(QThread::create([this] { Serve(); })) {
    thread_->start();
}

LabPusher::~LabPusher() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        // A push under way ends now: the outbox keeps it for the next session.
        if (socket_ >= 0) {
            shutdown(socket_, SHUT_RDWR);
            cut_ = true;
        }
    }
    wake_.notify_all();
    thread_->wait();
    watchdog_.request_stop();
    watch_.notify_all();
}

void LabPusher::Wake() {
    {
        const std::lock_guard lock(mutex_);
        woken_ = true;
    }
    wake_.notify_all();
}

void LabPusher::Arm(int socket) {
    {
        const std::lock_guard lock(mutex_);
        socket_ = socket;
        deadline_ = Steady::now() + options_.pushTimeout;
        if (stopping_ && socket_ >= 0) {
            shutdown(socket_, SHUT_RDWR);
            cut_ = true;
        }
    }
    watch_.notify_all();
}

bool LabPusher::Disarm() {
    const std::lock_guard lock(mutex_);
    socket_ = -1;
    return std::exchange(cut_, false);
}

// A stopped server still holds the connection open: libpq would wait for it for ever, and Qt's
// driver cannot cancel. Shutting the socket down from here makes the blocked call return at once
// with a connection error; the socket stays the pusher's to close.
void LabPusher::Watch(const std::stop_token& stop) {
    std::unique_lock lock(mutex_);
    while (!stop.stop_requested()) {
        if (socket_ < 0) {
            watch_.wait(lock, stop, [this] { return socket_ >= 0; });
            continue;
        }
        const auto deadline = deadline_;
        if (Steady::now() >= deadline) {
            shutdown(socket_, SHUT_RDWR);
            cut_ = true;
            socket_ = -1;
            continue;
        }
        watch_.wait_until(lock, stop, deadline,
                          [this, deadline] { return socket_ < 0 || deadline_ != deadline; });
    }
}

bool LabPusher::SleepUntil(Steady::time_point until) {
    std::unique_lock lock(mutex_);
    wake_.wait_until(lock, until, [this] { return stopping_ || woken_; });
    woken_ = false;
    return !stopping_;
}

void LabPusher::Serve() {
    // Made, used and closed on this thread only, as each connection must be.
    LibraryStore store;
    LabConnection connection;
    bool connected = false;
    int failures = 0;  // in a row: the back-off grows with them
    Steady::time_point holdUntil = Steady::now();
    auto backOff = [&] {
        const auto wait = std::min<std::chrono::milliseconds>(
            options_.longestRetry, options_.firstRetry * (1LL << std::min(failures, 20)));
        ++failures;
        return wait;
    };
    for (;;) {
        {
            const std::lock_guard lock(mutex_);
            if (stopping_) {
                return;
            }
        }
        if (!store.IsOpen() || !store.Writable()) {
            if (!store.Open(options_.libraryPath).Ok() || !store.Writable()) {
                if (!SleepUntil(Steady::now() + backOff())) {
                    return;
                }
                continue;
            }
        }
        std::optional<OutboxItem> item;
        if (Steady::now() >= holdUntil) {
            item = NextDueItem(store, NowMs());
        }
        if (!item) {
            auto until = Steady::now() + std::chrono::minutes(1);
            if (Steady::now() < holdUntil) {
                until = holdUntil;
            } else if (const std::optional<std::int64_t> due = NextDueTime(store)) {
                until =
                    std::min(until, Steady::now() + std::chrono::milliseconds(
                                                        std::max<std::int64_t>(0, *due - NowMs())));
            }
            if (!SleepUntil(until)) {
                return;
            }
            continue;
        }
        LabPushReport report;
        if (!connected) {
            report.last = connection.Open(options_.server, options_.connectTimeout, true);
            connected = report.last.Ok();
        }
        if (connected) {
            report.last = PushItem(store, connection, *item);
            report.cut = Disarm();
            if (report.cut) {
                report.last.outcome = LabOutcome::Timeout;
            }
        }
        if (report.last.Ok()) {
            failures = 0;
            MarkPushed(store, *item);
        } else {
            // Whatever failed, this connection is not trusted again.
            connection.Close();
            connected = false;
            const auto wait = backOff();
            holdUntil = Steady::now() + wait;
            MarkFailed(store, *item,
                       report.last.nativeText.empty() ? "no reason given" : report.last.nativeText,
                       NowMs() + wait.count());
        }
        report.waiting = WaitingTests(store);
        if (report_) {
            report_(report);
        }
    }
}

LabStatus LabPusher::PushItem(LibraryStore& store, LabConnection& connection,
                              const OutboxItem& item) {
    LibraryStatus read;
    const std::optional<OutgoingRun> run = ReadOutgoingRun(store, item.runId, &read);
    if (!run) {
        // Removed here before it was sent: there is nothing to send, and the server is never
        // told of a removal. A library that cannot be read now is tried again later.
        return read.Ok() ? LabStatus{} : LabStatus{LabOutcome::Other, read.nativeText};
    }
    const QSqlDatabase db = connection.Database();
    Arm(PQsocket(static_cast<PGconn*>(connection.NativeHandle())));
    // Rolled back by the server when the connection ends before the commit.
    LabStatus status = Run(db, QStringLiteral("BEGIN"), {});
    const QString id = Text(RunIdText(item.runId));
    auto step = [&](const QString& sql, const QVariantList& values) {
        if (status.Ok()) {
            status = Run(db, sql, values);
        }
    };
    step(QStringLiteral("INSERT INTO kelvaro.stations (station_id, host) VALUES (CAST(? AS uuid),"
                        " ?) ON CONFLICT DO NOTHING"),
         {Text(run->stationId), Text(run->stationHost)});
    if (item.kind == OutboxKind::Run) {
        std::array<std::optional<double>, kPlateCount> zeros, indexes, tares;
        for (int i = 0; i < kPlateCount; ++i) {
            zeros[i] = run->calibration[i].zeroOffset;
            indexes[i] = run->calibration[i].index;
            tares[i] = run->calibration[i].tare;
        }
        QStringList flags;
        for (const bool on : run->active) {
            flags << (on ? QStringLiteral("t") : QStringLiteral("f"));
        }
        step(QStringLiteral(
                 "INSERT INTO kelvaro.runs (run_id, started, frequency, active, units,"
                 " zero_offset, calibration_index, tare, test_number, file_name, file_sha256,"
                 " imported, decimal_separator, samples, total_peak, total_mean, plate_peak,"
                 " plate_mean) VALUES (CAST(? AS uuid), %1, ?, CAST(? AS boolean[]),"
                 " CAST(? AS text[]), CAST(? AS float8[]), CAST(? AS float8[]),"
                 " CAST(? AS float8[]), ?, ?, ?, ?, ?, ?, ?, ?, CAST(? AS float8[]),"
                 " CAST(? AS float8[])) ON CONFLICT DO NOTHING")
                 .arg(QString::fromLatin1(kMillisecondsToTime)),
             {id, Ms(run->startMs), run->frequency,
              QLatin1Char('{') + flags.join(QLatin1Char(',')) + QLatin1Char('}'),
              ArrayOf(run->units), ArrayOf(zeros), ArrayOf(indexes), ArrayOf(tares),
              QVariant::fromValue<qint64>(run->testNumber), Text(run->fileName),
              Text(run->fileSha256), run->imported, Text(run->decimalSeparator), run->samples,
              Number(run->totalPeak), Number(run->totalMean), ArrayOf(run->platePeak),
              ArrayOf(run->plateMean)});
        if (!run->readingsKind.empty()) {
            step(QStringLiteral("INSERT INTO kelvaro.readings (run_id, kind, data) VALUES"
                                " (CAST(? AS uuid), ?, ?) ON CONFLICT DO NOTHING"),
                 {id, Text(run->readingsKind),
                  QByteArray(run->readings.data(), static_cast<qsizetype>(run->readings.size()))});
        }
    }
    // A version only where the server's newest texts differ: a run recorded again (a library
    // made again from the journals) queues it again with the texts the server has already.
    const QVariantList texts = {Text(run->metadata.evaluated), Text(run->metadata.protocol),
                                Text(run->metadata.notes)};
    step(QStringLiteral("INSERT INTO kelvaro.metadata (run_id, edited, evaluated, protocol,"
                        " notes, evaluated_key, protocol_key, notes_key) SELECT"
                        " CAST(? AS uuid), %1, ?, ?, ?, ?, ?, ? WHERE NOT EXISTS (SELECT 1 FROM"
                        " kelvaro.tests WHERE run_id = CAST(? AS uuid) AND evaluated = ? AND"
                        " protocol = ? AND notes = ?) ON CONFLICT DO NOTHING")
             .arg(QString::fromLatin1(kMillisecondsToTime)),
         QVariantList{id, Ms(item.editedMs)} + texts +
             QVariantList{Text(run->metadataKeys[0]), Text(run->metadataKeys[1]),
                          Text(run->metadataKeys[2]), id} +
             texts);
    if (status.Ok() && options_.beforeCommit) {
        options_.beforeCommit();
        // The wait was the test's, not the server's.
        const std::lock_guard lock(mutex_);
        if (socket_ >= 0) {
            deadline_ = Steady::now() + options_.pushTimeout;
        }
    }
    step(QStringLiteral("COMMIT"), {});
    return status;
}

}  // namespace kelvaro
