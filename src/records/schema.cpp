#include "records/schema.h"

#include <sqlite3.h>

#include <algorithm>
#include <iterator>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QUuid>

#include "files/atomic_save.h"
#include "files/private_file.h"
#include "records/record.h"
#include "records/store_chain.h"
#include "records/store_connection.h"
#include "records/store_due.h"
#include "records/store_outbox.h"
#include "records/store_sql.h"

using namespace store_sql;

namespace {

// ---- Opening the connection ----------------------------------------------

bool CreateSqliteFile(const QString &path, QString &error)
{
    const QFileInfo fi(path);
    if (fi.isDir()) {
        error = QStringLiteral("%1 is a folder, not a records file").arg(path);
        return false;
    }
    const QString dir = fi.absolutePath();
    if (!QFileInfo(dir).exists()) {
        if (!QDir().mkpath(dir)) {
            error = QStringLiteral("the folder %1 could not be created").arg(dir);
            return false;
        }
        QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    if (const std::string problem = LinkProblem(path.toStdString()); !problem.empty()) {
        error = QString::fromStdString(problem);
        return false;
    }
    if (fi.exists())
        return true;
    std::string reason;
    if (CreateEmptyPrivateFile(QFile::encodeName(path).toStdString(), reason) == ECreateEmpty::Failed) {
        error = QStringLiteral("%1 could not be created: %2")
                    .arg(path, QString::fromLocal8Bit(QByteArray::fromStdString(reason)));
        return false;
    }
    return true;
}

bool ConnectSqlite(TStoreConnection &c, QString &error)
{
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE"))) {
        error = QStringLiteral("the Qt SQLite driver is not installed (Debian: libqt6sql6-sqlite)");
        return false;
    }
    if (!CreateSqliteFile(c.Location().mPath, error))
        return false;
    QSqlDatabase &db = c.Db();
    db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), c.Name());
    db.setDatabaseName(c.Location().mPath);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kStoreWaitSeconds * 1000));
    if (!db.open()) {
        error = ErrorText(db.lastError());
        return false;
    }
    // WAL lets readers go on while a bench appends; FULL makes a
    // commit durable before it returns (a job's record survives a crash
    // the moment the job reports). A store that cannot switch
    // (read-only) is still read as it is.
    QSqlQuery q(db);
    q.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    q.exec(QStringLiteral("PRAGMA synchronous=FULL"));
    // A commit is durable in the write-ahead log; closing need not copy it
    // into the file at once (two more syncs for every command-line job):
    // the log is carried over at the next automatic checkpoint.
    const QVariant handle = db.driver()->handle();
    if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0)
        if (sqlite3 *raw = *static_cast<sqlite3 *const *>(handle.constData()))
            sqlite3_db_config(raw, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    return true;
}

bool ConnectPostgres(TStoreConnection &c, QString &error)
{
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL"))) {
        error = QStringLiteral("the Qt PostgreSQL driver is not installed (Debian: libqt6sql6-psql)");
        return false;
    }
    const RStoreLocation &location = c.Location();
    QSqlDatabase &db = c.Db();
    db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), c.Name());
    if (!location.mHost.isEmpty())
        db.setHostName(location.mHost);
    if (location.mPort > 0)
        db.setPort(location.mPort);
    db.setDatabaseName(location.mDatabase);
    if (!location.mUser.isEmpty())
        db.setUserName(location.mUser);
    QString options = location.mOptions;
    if (!options.contains(QLatin1String("connect_timeout=")))
        options += (options.isEmpty() ? QString() : QStringLiteral(";")) +
                   QStringLiteral("connect_timeout=%1").arg(kStoreWaitSeconds);
    db.setConnectOptions(options);
    if (!db.open()) {
        error = ErrorText(db.lastError());
        return false;
    }
    QSqlQuery q(db);
    q.exec(QStringLiteral("SET client_min_messages TO WARNING"));
    // Every statement of this connection, a read as much as an append, waits
    // at most this long for a lock and runs at most this long; long reads go
    // in pages (store_pages.h). Past it the statement fails with the reason.
    return c.Exec(QStringLiteral("SET lock_timeout = '%1s'").arg(kStoreWaitSeconds), error) &&
           c.Exec(QStringLiteral("SET statement_timeout = '%1s'").arg(kStoreWaitSeconds), error);
}

// ---- The migrations, oldest first ----------------------------------------
// Migration n brings a store from version n-1 to n: its statements, then
// the work on the rows (if any) that they make room for. A store of any
// older version takes every migration after its own, in one transaction.

// 1: the records (the chain under the old hash rule), the outbox, and
// certificate numbers.
QStringList RecordsOutboxCertificates(bool postgres)
{
    const QString id = postgres ? QStringLiteral("BIGINT PRIMARY KEY") : QStringLiteral("INTEGER PRIMARY KEY");
    return {
        QStringLiteral("CREATE TABLE records (id %1, uid TEXT NOT NULL UNIQUE, time TEXT NOT NULL, "
                       "job TEXT NOT NULL, status INTEGER NOT NULL, text TEXT NOT NULL, serial TEXT NOT NULL, "
                       "product TEXT NOT NULL, firmware TEXT NOT NULL, hardware TEXT NOT NULL, "
                       "sensor TEXT NOT NULL, bench TEXT NOT NULL, login TEXT NOT NULL, data TEXT NOT NULL, "
                       "prev TEXT NOT NULL, hash TEXT NOT NULL, kind TEXT NOT NULL, "
                       "cal_interval BIGINT, bump_interval BIGINT)")
            .arg(id),
        QStringLiteral("CREATE INDEX records_serial_time ON records (serial, time)"),
        QStringLiteral("CREATE INDEX records_time ON records (time)"),
        QStringLiteral("CREATE INDEX records_kind ON records (kind, serial, time)"),
        QStringLiteral("CREATE TABLE outbox (seq %1, uid TEXT NOT NULL UNIQUE, record TEXT NOT NULL)").arg(id),
        QStringLiteral("CREATE TABLE certificates (record_id BIGINT PRIMARY KEY, number BIGINT NOT NULL UNIQUE, "
                       "issued TEXT NOT NULL)"),
    };
}

// 2: the due summary, per serial.
QStringList DueSummary(bool)
{
    return {
        QStringLiteral("CREATE TABLE serials (serial TEXT PRIMARY KEY, last_time TEXT NOT NULL, "
                       "product TEXT NOT NULL, sensor TEXT NOT NULL, cal_time TEXT, cal_interval BIGINT, "
                       "bump_time TEXT, bump_interval BIGINT, cfg_time TEXT, cfg_cal_interval BIGINT, "
                       "cfg_bump_interval BIGINT)"),
    };
}

// 3: signed records: outcome, simulated, bench_key and sig; ids never
// reused; records never changed; the chain's head; the bench keys; outbox
// records tagged with their store; certificate numbers per key. Then the
// records kept in the outbox are signed, and (once the whole schema stands)
// a migration record closes the records of the old hash rule.
QStringList SignedRecords(bool postgres)
{
    const QStringList common = {
        QStringLiteral("CREATE TABLE chain_head (one INTEGER PRIMARY KEY CHECK (one = 1), id BIGINT NOT NULL, "
                       "hash TEXT NOT NULL)"),
        QStringLiteral("INSERT INTO chain_head (one, id, hash) SELECT 1, id, hash FROM records "
                       "WHERE id = (SELECT MAX(id) FROM records)"),
        QStringLiteral("CREATE TABLE bench_keys (key_id TEXT PRIMARY KEY, public_key TEXT NOT NULL, "
                       "bench TEXT NOT NULL, login TEXT NOT NULL, registered TEXT NOT NULL, revoked TEXT, "
                       "revoked_after BIGINT)"),
        QStringLiteral("ALTER TABLE outbox ADD COLUMN dest TEXT NOT NULL DEFAULT ''"),
        QStringLiteral("CREATE TABLE certificates_v3 (record_id BIGINT PRIMARY KEY, record_hash TEXT NOT NULL, "
                       "key_id TEXT NOT NULL, number BIGINT NOT NULL, issued TEXT NOT NULL, UNIQUE (key_id, number))"),
        QStringLiteral("INSERT INTO certificates_v3 SELECT c.record_id, COALESCE(r.hash, ''), '', c.number, c.issued "
                       "FROM certificates c LEFT JOIN records r ON r.id = c.record_id"),
        QStringLiteral("DROP TABLE certificates"),
        QStringLiteral("ALTER TABLE certificates_v3 RENAME TO certificates"),
    };
    if (postgres)
        return common + QStringList{
            QStringLiteral("ALTER TABLE records ADD COLUMN outcome TEXT NOT NULL DEFAULT '', "
                           "ADD COLUMN simulated INTEGER NOT NULL DEFAULT 0, "
                           "ADD COLUMN bench_key TEXT NOT NULL DEFAULT '', ADD COLUMN sig TEXT NOT NULL DEFAULT ''"),
            QStringLiteral("CREATE SEQUENCE records_id_seq OWNED BY records.id"),
            QStringLiteral("SELECT setval('records_id_seq', COALESCE(MAX(id), 1), MAX(id) IS NOT NULL) FROM records"),
            QStringLiteral("ALTER TABLE records ALTER COLUMN id SET DEFAULT nextval('records_id_seq')"),
            QStringLiteral("CREATE FUNCTION records_refuse_change() RETURNS trigger LANGUAGE plpgsql AS "
                           "$$BEGIN RAISE EXCEPTION 'service records are never changed or deleted'; END$$"),
            QStringLiteral("CREATE TRIGGER records_no_change BEFORE UPDATE OR DELETE ON records "
                           "FOR EACH ROW EXECUTE FUNCTION records_refuse_change()"),
            QStringLiteral("CREATE TRIGGER records_no_truncate BEFORE TRUNCATE ON records "
                           "FOR EACH STATEMENT EXECUTE FUNCTION records_refuse_change()"),
        };
    // SQLite: the table made anew with AUTOINCREMENT (sqlite_sequence
    // keeps the highest id ever given).
    const QString columns = QStringLiteral("id, uid, time, job, status, text, serial, product, firmware, "
                                           "hardware, sensor, bench, login, data, prev, hash, kind, "
                                           "cal_interval, bump_interval");
    return QStringList{
               QStringLiteral("CREATE TABLE records_v3 (id INTEGER PRIMARY KEY AUTOINCREMENT, "
                              "uid TEXT NOT NULL UNIQUE, time TEXT NOT NULL, job TEXT NOT NULL, "
                              "status INTEGER NOT NULL, outcome TEXT NOT NULL DEFAULT '', text TEXT NOT NULL, "
                              "serial TEXT NOT NULL, product TEXT NOT NULL, firmware TEXT NOT NULL, "
                              "hardware TEXT NOT NULL, sensor TEXT NOT NULL, bench TEXT NOT NULL, "
                              "login TEXT NOT NULL, simulated INTEGER NOT NULL DEFAULT 0, data TEXT NOT NULL, "
                              "bench_key TEXT NOT NULL DEFAULT '', prev TEXT NOT NULL, hash TEXT NOT NULL, "
                              "sig TEXT NOT NULL DEFAULT '', kind TEXT NOT NULL, cal_interval BIGINT, "
                              "bump_interval BIGINT)"),
               QStringLiteral("INSERT INTO records_v3 (%1) SELECT %1 FROM records").arg(columns),
               QStringLiteral("DROP TABLE records"),
               QStringLiteral("ALTER TABLE records_v3 RENAME TO records"),
               QStringLiteral("CREATE INDEX records_serial_time ON records (serial, time)"),
               QStringLiteral("CREATE INDEX records_time ON records (time)"),
               QStringLiteral("CREATE INDEX records_kind ON records (kind, serial, time)"),
               QStringLiteral("CREATE TRIGGER records_no_update BEFORE UPDATE ON records "
                              "BEGIN SELECT RAISE(ABORT, 'service records are never changed'); END"),
               QStringLiteral("CREATE TRIGGER records_no_delete BEFORE DELETE ON records "
                              "BEGIN SELECT RAISE(ABORT, 'service records are never deleted'); END"),
           } +
           common;
}

bool SignKeptRecords(TStoreConnection &c, QString &error) { return TOutbox(c).SignOldRows(error); }

// 4: the gas cylinders the tests and calibrations name.
QStringList Cylinders(bool postgres)
{
    return {QStringLiteral("CREATE TABLE IF NOT EXISTS cylinders (id %1, gas TEXT NOT NULL, concentration_tenths INTEGER NOT NULL, "
                           "unit TEXT NOT NULL, lot TEXT NOT NULL, expires TEXT NOT NULL, balance TEXT NOT NULL, "
                           "maker TEXT NOT NULL, retired INTEGER NOT NULL DEFAULT 0, added TEXT NOT NULL, "
                           "added_by TEXT NOT NULL, retired_at TEXT)")
                .arg(postgres ? QStringLiteral("BIGSERIAL PRIMARY KEY")
                              : QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT"))};
}

// 5: templates: every save of a name a new version; a deleted template
// hidden, never removed (records name its versions).
QStringList Templates(bool)
{
    return {
        QStringLiteral("CREATE TABLE IF NOT EXISTS templates (name TEXT NOT NULL, version INTEGER NOT NULL, fields TEXT NOT NULL, "
                       "sensor INTEGER NOT NULL, hash TEXT NOT NULL, saved TEXT NOT NULL, bench TEXT NOT NULL, "
                       "login TEXT NOT NULL, hidden INTEGER NOT NULL DEFAULT 0, PRIMARY KEY (name, version))"),
    };
}

// 6: no new table. The due summary (made at 2; the factory calibration
// command left out at 4) is worked out from the real detectors' records
// once, by the rule in force since 6: what counts goes by the record's
// outcome, so a failed calibration or a bump report that names no detector
// does not. The rule reads columns that version 3 added, so an older store
// waits for it.
QStringList NoTables(bool) { return {}; }

bool WorkOutDueSummary(TStoreConnection &c, QString &error) { return TDueSummary(c).RebuildSerials(error, false); }

// 7: bench_keys becomes a list of signed events, never changed: one
// "register" row per key (signed by that key), then "approve" rows (signed
// by an organisation key) and "revoke" rows (signed by the key of whoever
// revoked it), each with the time it was made; revoke rows carry the newest
// record id then (after_record). Rows carried over from older stores have
// no signature. Templates get the key and signature of the bench that saved
// each version; the outbox why a record waits unsigned.
QStringList SignedKeysAndTemplates(bool postgres)
{
    QStringList steps;
    if (postgres) {
        // Changed in place: the rights given to bench accounts on the table stay.
        steps = {
            QStringLiteral("ALTER TABLE bench_keys DROP CONSTRAINT bench_keys_pkey"),
            QStringLiteral("ALTER TABLE bench_keys RENAME COLUMN registered TO time"),
            QStringLiteral("ALTER TABLE bench_keys ADD COLUMN event TEXT NOT NULL DEFAULT 'register', "
                           "ADD COLUMN after_record BIGINT, ADD COLUMN signer TEXT NOT NULL DEFAULT '', "
                           "ADD COLUMN sig TEXT NOT NULL DEFAULT ''"),
            QStringLiteral("INSERT INTO bench_keys (key_id, event, public_key, bench, login, time, after_record) "
                           "SELECT key_id, 'revoke', public_key, '', '', revoked, revoked_after FROM bench_keys "
                           "WHERE revoked IS NOT NULL"),
            QStringLiteral("ALTER TABLE bench_keys DROP COLUMN revoked, DROP COLUMN revoked_after, "
                           "ALTER COLUMN event DROP DEFAULT"),
            QStringLiteral("CREATE OR REPLACE FUNCTION bench_keys_refuse_change() RETURNS trigger LANGUAGE plpgsql AS "
                           "$$BEGIN RAISE EXCEPTION 'bench keys are never changed or deleted: approvals and "
                           "revocations are new rows'; END$$"),
            QStringLiteral("CREATE TRIGGER bench_keys_no_change BEFORE UPDATE OR DELETE ON bench_keys "
                           "FOR EACH ROW EXECUTE FUNCTION bench_keys_refuse_change()"),
            QStringLiteral("CREATE TRIGGER bench_keys_no_truncate BEFORE TRUNCATE ON bench_keys "
                           "FOR EACH STATEMENT EXECUTE FUNCTION bench_keys_refuse_change()"),
        };
    } else {
        steps = {
            QStringLiteral("CREATE TABLE bench_keys_v7 (key_id TEXT NOT NULL, event TEXT NOT NULL, "
                           "public_key TEXT NOT NULL, bench TEXT NOT NULL, login TEXT NOT NULL, time TEXT NOT NULL, "
                           "after_record BIGINT, signer TEXT NOT NULL DEFAULT '', sig TEXT NOT NULL DEFAULT '')"),
            QStringLiteral("INSERT INTO bench_keys_v7 (key_id, event, public_key, bench, login, time) "
                           "SELECT key_id, 'register', public_key, bench, login, registered FROM bench_keys"),
            QStringLiteral("INSERT INTO bench_keys_v7 (key_id, event, public_key, bench, login, time, after_record) "
                           "SELECT key_id, 'revoke', public_key, '', '', revoked, revoked_after FROM bench_keys "
                           "WHERE revoked IS NOT NULL"),
            QStringLiteral("DROP TABLE bench_keys"),
            QStringLiteral("ALTER TABLE bench_keys_v7 RENAME TO bench_keys"),
            QStringLiteral("CREATE TRIGGER bench_keys_no_update BEFORE UPDATE ON bench_keys "
                           "BEGIN SELECT RAISE(ABORT, 'bench keys are never changed: approvals and revocations "
                           "are new rows'); END"),
            QStringLiteral("CREATE TRIGGER bench_keys_no_delete BEFORE DELETE ON bench_keys "
                           "BEGIN SELECT RAISE(ABORT, 'bench keys are never deleted'); END"),
        };
    }
    return steps + QStringList{
        QStringLiteral("CREATE UNIQUE INDEX bench_keys_registered ON bench_keys (key_id) WHERE event = 'register'"),
        QStringLiteral("ALTER TABLE outbox ADD COLUMN unsigned_reason TEXT NOT NULL DEFAULT ''"),
    };
}

// The templates table of version 5 may have been made by a newer program
// already: its signature columns are added where missing.
bool AddTemplateSignatures(TStoreConnection &c, QString &error)
{
    for (const char *column : {"key_id", "sig"}) {
        QSqlQuery probe(c.Db());
        const bool there = !c.IsPostgres() && probe.exec(QStringLiteral("SELECT %1 FROM templates LIMIT 0").arg(QLatin1String(column)));
        if (!there && !c.Exec(QStringLiteral("ALTER TABLE templates ADD COLUMN %1%2 TEXT NOT NULL DEFAULT ''")
                                  .arg(c.IsPostgres() ? QStringLiteral("IF NOT EXISTS ") : QString(), QLatin1String(column)),
                              error))
            return false;
    }
    return true;
}

struct RMigration {
    QStringList (*mSteps)(bool postgres);
    bool (*mThen)(TStoreConnection &connection, QString &error); // nullptr: nothing more
};
constexpr RMigration kMigrations[] = {
    {RecordsOutboxCertificates, nullptr},           // 1
    {DueSummary, nullptr},                          // 2
    {SignedRecords, SignKeptRecords},               // 3
    {Cylinders, nullptr},                           // 4
    {Templates, nullptr},                           // 5
    {NoTables, WorkOutDueSummary},                  // 6
    {SignedKeysAndTemplates, AddTemplateSignatures}, // 7
};
static_assert(std::size(kMigrations) == kRecordsSchemaVersion, "one migration per schema version");

bool MigrateTo(TStoreConnection &c, int version, QString &error)
{
    const RMigration &m = kMigrations[version - 1];
    for (const QString &sql : m.mSteps(c.IsPostgres()))
        if (!c.Exec(sql, error))
            return false;
    return !m.mThen || m.mThen(c, error);
}

// The records written before signing keep their old hashes; a migration
// record, signed under the new rule, closes them, and every record after it
// follows the new rule. It is appended once the whole schema is in place,
// since appending registers this bench's key in the newest layout of
// bench_keys.
bool AppendMigrationMarker(TStoreConnection &c, QString &error)
{
    QString countError;
    const qint64 records = CountOf(c.Db(), QStringLiteral("SELECT COUNT(*) FROM records"), countError);
    if (records < 0) {
        error = countError;
        return false;
    }
    if (records == 0)
        return true;
    RServiceRecord marker;
    marker.mUid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    marker.mTime = RecordTime(QDateTime::currentDateTimeUtc());
    marker.mJob = QLatin1String(kJobRecordsMigration);
    marker.mOutcome = QLatin1String(outcome::kSuccess);
    marker.mText = QStringLiteral("records before this one follow the old hash rule; from here on each is signed");
    marker.mBench = BenchName();
    marker.mUser = LoginName();
    marker.mData = QJsonObject{{QStringLiteral("rule"), QLatin1String(kChainRule)},
                               {QStringLiteral("from_schema"), 2},
                               {QStringLiteral("records_before"), records}};
    return TRecordChain(c).AppendLocked(marker, error) == EAppend::kAdded;
}

// Key of the PostgreSQL advisory lock that serialises migrations.
constexpr qint64 kMigrationLock = 0x6265616d706f7274; // "beamport"

bool Migrate(TStoreConnection &c, QString &error, int target)
{
    const auto readVersion = [&](int &version) {
        QSqlQuery q(c.Db());
        if (!q.exec(QStringLiteral("SELECT version FROM schema_version")))
            return false;
        version = q.next() ? q.value(0).toInt() : 0;
        return true;
    };
    int version = 0;
    if (readVersion(version) && version == target) {
        c.SetSchemaVersion(version);
        return true;
    }
    const QString lock = QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kMigrationLock);
    const QByteArray lockSql = lock.toLatin1();
    if (!c.Begin(lockSql.constData(), error))
        return false;
    // A migration may rewrite every record: its statements are not cut short.
    if (c.IsPostgres() && !c.Exec(QStringLiteral("SET LOCAL statement_timeout = 0"), error)) {
        c.Rollback();
        return false;
    }
    if (!c.Exec(QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)"), error) ||
        !readVersion(version)) {
        if (error.isEmpty())
            error = QStringLiteral("its schema version cannot be read");
        c.Rollback();
        return false;
    }
    {
        QSqlQuery q(c.Db());
        q.exec(QStringLiteral("SELECT COUNT(*) FROM schema_version"));
        if (q.next() && q.value(0).toInt() == 0 && !c.Exec(QStringLiteral("INSERT INTO schema_version VALUES (0)"), error)) {
            c.Rollback();
            return false;
        }
    }
    if (version > kRecordsSchemaVersion) {
        c.Rollback();
        error = QStringLiteral("it has schema version %1, newer than this program knows (%2): update Beamport")
                    .arg(version)
                    .arg(kRecordsSchemaVersion);
        return false;
    }
    for (int v = version + 1; v <= target; ++v) {
        if (!MigrateTo(c, v, error)) {
            error = QStringLiteral("migration to version %1 failed: %2").arg(v).arg(error);
            c.Rollback();
            return false;
        }
    }
    if (version < 3 && target == kRecordsSchemaVersion && !AppendMigrationMarker(c, error)) {
        error = QStringLiteral("migration to version 3 failed: %1").arg(error);
        c.Rollback();
        return false;
    }
    const int reached = std::max(version, target);
    if (!c.Exec(QStringLiteral("UPDATE schema_version SET version = %1").arg(reached), error) || !c.Commit(error))
        return false;
    c.SetSchemaVersion(reached);
    return true;
}

} // namespace

bool OpenStoreConnection(TStoreConnection &connection, QString &error, int schemaVersion)
{
    // A held lock on the records shows here, as a plain lock time-out: a
    // prepared statement that meets it later fails with the driver's own
    // words about its EXECUTE instead.
    return (connection.IsPostgres() ? ConnectPostgres(connection, error) : ConnectSqlite(connection, error)) &&
           Migrate(connection, error, schemaVersion) &&
           (!connection.IsPostgres() || connection.SchemaVersion() == 0 ||
            connection.Exec(QStringLiteral("SELECT 1 FROM records WHERE false"), error));
}
