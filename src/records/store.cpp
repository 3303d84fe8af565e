#include "records/store.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <map>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include "records/qt_app.h"

namespace {

QString ErrorText(const QSqlError &e)
{
    QString t = e.databaseText().trimmed();
    if (t.isEmpty())
        t = e.text().trimmed();
    if (t.isEmpty())
        t = e.driverText().trimmed();
    return t.simplified();
}

QString NewConnectionName()
{
    static std::atomic<unsigned> counter{0};
    return QStringLiteral("beamport-records-%1").arg(++counter);
}

// The columns of a record row, in the order RowToRecord reads them.
const char *const kColumns =
    "id, uid, time, job, status, text, serial, product, firmware, hardware, sensor, bench, login, data, prev, hash";

void RowToRecord(const QSqlQuery &q, RServiceRecord &r, QString *dataText = nullptr)
{
    r.mId = q.value(0).toLongLong();
    r.mUid = q.value(1).toString();
    r.mTime = q.value(2).toString();
    r.mJob = q.value(3).toString();
    r.mStatus = q.value(4).toInt();
    r.mText = q.value(5).toString();
    r.mSerial = q.value(6).toString();
    r.mProduct = q.value(7).toString();
    r.mFirmware = q.value(8).toString();
    r.mHardware = q.value(9).toString();
    r.mSensor = q.value(10).toString();
    r.mBench = q.value(11).toString();
    r.mUser = q.value(12).toString();
    const QString data = q.value(13).toString();
    r.mData = QJsonDocument::fromJson(data.toUtf8()).object();
    r.mPrev = q.value(14).toString();
    r.mHash = q.value(15).toString();
    if (dataText)
        *dataText = data;
}

// Empty texts are stored as empty, never as NULL.
QVariant Text(const QString &s) { return QVariant(s.isNull() ? QStringLiteral("") : s); }

QVariant NullableInt(const std::optional<qint64> &v)
{
    return v ? QVariant(*v) : QVariant(QMetaType::fromType<qint64>());
}

// Migration n (1-based) brings a store from version n-1 to n.
QStringList MigrationSteps(int version, bool postgres)
{
    const QString id = postgres ? QStringLiteral("BIGINT PRIMARY KEY") : QStringLiteral("INTEGER PRIMARY KEY");
    switch (version) {
    case 1:
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
    case 2:
        return {
            QStringLiteral("CREATE TABLE serials (serial TEXT PRIMARY KEY, last_time TEXT NOT NULL, "
                           "product TEXT NOT NULL, sensor TEXT NOT NULL, cal_time TEXT, cal_interval BIGINT, "
                           "bump_time TEXT, bump_interval BIGINT, cfg_time TEXT, cfg_cal_interval BIGINT, "
                           "cfg_bump_interval BIGINT)"),
        };
    default: return {};
    }
}

std::optional<qint64> OptionalInt(const QVariant &v)
{
    return v.isNull() ? std::nullopt : std::optional<qint64>(v.toLongLong());
}

QVariant NullableText(const QString &s) { return s.isEmpty() ? QVariant(QMetaType::fromType<QString>()) : QVariant(s); }

bool SameFacts(const RDueFacts &a, const RDueFacts &b)
{
    return a.mSerial == b.mSerial && a.mProduct == b.mProduct && a.mSensor == b.mSensor && a.mLatest == b.mLatest &&
           a.mCfgTime == b.mCfgTime && a.mLastCal == b.mLastCal && a.mLastBump == b.mLastBump &&
           a.mCalInterval == b.mCalInterval && a.mBumpInterval == b.mBumpInterval &&
           a.mCfgCalInterval == b.mCfgCalInterval && a.mCfgBumpInterval == b.mCfgBumpInterval;
}

// Key of the PostgreSQL advisory lock that serialises migrations.
constexpr qint64 kMigrationLock = 0x6265616d706f7274; // "beamport"

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
    if (fi.exists())
        return true;
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        if (errno == EEXIST)
            return true;
        error = QStringLiteral("%1 could not be created: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    ::close(fd);
    return true;
}

} // namespace

TRecordStore::TRecordStore(const RStoreLocation &location, const QString &connectionName)
    : FLocation(location), FName(connectionName)
{
}

TRecordStore::~TRecordStore()
{
    if (FDb.isValid())
        FDb.close();
    FDb = QSqlDatabase();
    QSqlDatabase::removeDatabase(FName);
}

std::unique_ptr<TRecordStore> TRecordStore::Open(const RStoreLocation &location, QString &error)
{
    if (location.mKind == EStoreKind::kOff) {
        error = QStringLiteral("records are off (--records off)");
        return nullptr;
    }
    EnsureCoreApplication();
    std::unique_ptr<TRecordStore> store(new TRecordStore(location, NewConnectionName()));
    QString why;
    if (!store->Connect(why) || !store->Migrate(why)) {
        error = QStringLiteral("the record store %1 could not be opened: %2").arg(location.Describe(), why);
        return nullptr;
    }
    return store;
}

bool TRecordStore::Connect(QString &error)
{
    if (FLocation.mKind == EStoreKind::kSqlite) {
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE"))) {
            error = QStringLiteral("the Qt SQLite driver is not installed (Debian: libqt6sql6-sqlite)");
            return false;
        }
        if (!CreateSqliteFile(FLocation.mPath, error))
            return false;
        FDb = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), FName);
        FDb.setDatabaseName(FLocation.mPath);
        FDb.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=20000"));
        if (!FDb.open()) {
            error = ErrorText(FDb.lastError());
            return false;
        }
        // WAL lets readers go on while a bench appends. A store that cannot
        // switch (read-only) is still read as it is.
        QSqlQuery q(FDb);
        q.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
        q.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
        return true;
    }
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL"))) {
        error = QStringLiteral("the Qt PostgreSQL driver is not installed (Debian: libqt6sql6-psql)");
        return false;
    }
    FDb = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), FName);
    if (!FLocation.mHost.isEmpty())
        FDb.setHostName(FLocation.mHost);
    if (FLocation.mPort > 0)
        FDb.setPort(FLocation.mPort);
    FDb.setDatabaseName(FLocation.mDatabase);
    if (!FLocation.mUser.isEmpty())
        FDb.setUserName(FLocation.mUser);
    QString options = FLocation.mOptions;
    if (!options.contains(QLatin1String("connect_timeout=")))
        options += (options.isEmpty() ? QString() : QStringLiteral(";")) + QStringLiteral("connect_timeout=5");
    FDb.setConnectOptions(options);
    if (!FDb.open()) {
        error = ErrorText(FDb.lastError());
        return false;
    }
    QSqlQuery q(FDb);
    q.exec(QStringLiteral("SET client_min_messages TO WARNING"));
    return true;
}

bool TRecordStore::Exec(const QString &sql, QString &error)
{
    QSqlQuery q(FDb);
    if (!q.exec(sql)) {
        error = ErrorText(q.lastError());
        return false;
    }
    return true;
}

bool TRecordStore::Begin(const char *lockSql, QString &error)
{
    if (!IsPostgres())
        return Exec(QStringLiteral("BEGIN IMMEDIATE"), error);
    if (!Exec(QStringLiteral("BEGIN"), error))
        return false;
    if (lockSql && !Exec(QString::fromLatin1(lockSql), error)) {
        Rollback();
        return false;
    }
    return true;
}

void TRecordStore::Rollback()
{
    QString ignored;
    Exec(QStringLiteral("ROLLBACK"), ignored);
}

bool TRecordStore::Commit(QString &error)
{
    if (Exec(QStringLiteral("COMMIT"), error))
        return true;
    Rollback();
    return false;
}

bool TRecordStore::Migrate(QString &error)
{
    const auto readVersion = [&](int &version) {
        QSqlQuery q(FDb);
        if (!q.exec(QStringLiteral("SELECT version FROM schema_version")))
            return false;
        version = q.next() ? q.value(0).toInt() : 0;
        return true;
    };
    int version = 0;
    if (readVersion(version) && version == kRecordsSchemaVersion) {
        FVersion = version;
        return true;
    }
    const QString lock = QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kMigrationLock);
    const QByteArray lockSql = lock.toLatin1();
    if (!Begin(lockSql.constData(), error))
        return false;
    if (!Exec(QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)"), error) ||
        !readVersion(version)) {
        if (error.isEmpty())
            error = QStringLiteral("its schema version cannot be read");
        Rollback();
        return false;
    }
    {
        QSqlQuery q(FDb);
        q.exec(QStringLiteral("SELECT COUNT(*) FROM schema_version"));
        if (q.next() && q.value(0).toInt() == 0 && !Exec(QStringLiteral("INSERT INTO schema_version VALUES (0)"), error)) {
            Rollback();
            return false;
        }
    }
    if (version > kRecordsSchemaVersion) {
        Rollback();
        error = QStringLiteral("it has schema version %1, newer than this program knows (%2): update Beamport")
                    .arg(version)
                    .arg(kRecordsSchemaVersion);
        return false;
    }
    for (int v = version + 1; v <= kRecordsSchemaVersion; ++v) {
        for (const QString &sql : MigrationSteps(v, IsPostgres())) {
            if (!Exec(sql, error)) {
                error = QStringLiteral("migration to version %1 failed: %2").arg(v).arg(error);
                Rollback();
                return false;
            }
        }
        if (v == 2 && !RebuildSerials(error)) {
            error = QStringLiteral("migration to version 2 failed: %1").arg(error);
            Rollback();
            return false;
        }
    }
    if (!Exec(QStringLiteral("UPDATE schema_version SET version = %1").arg(kRecordsSchemaVersion), error) ||
        !Commit(error))
        return false;
    FVersion = kRecordsSchemaVersion;
    return true;
}

EAppend TRecordStore::Append(RServiceRecord &record, QString &error)
{
    if (!Begin("LOCK TABLE records IN EXCLUSIVE MODE", error))
        return EAppend::kFailed;
    const auto fail = [&](const QSqlQuery &q) {
        error = ErrorText(q.lastError());
        Rollback();
        return EAppend::kFailed;
    };
    {
        QSqlQuery q(FDb);
        q.prepare(QStringLiteral("SELECT id FROM records WHERE uid = ?"));
        q.addBindValue(record.mUid);
        if (!q.exec())
            return fail(q);
        if (q.next()) {
            record.mId = q.value(0).toLongLong();
            q.finish();
            Rollback();
            return EAppend::kAlreadyThere;
        }
    }
    qint64 lastId = 0;
    QString lastHash = kGenesisHash;
    {
        QSqlQuery q(FDb);
        if (!q.exec(QStringLiteral("SELECT id, hash FROM records ORDER BY id DESC LIMIT 1")))
            return fail(q);
        if (q.next()) {
            lastId = q.value(0).toLongLong();
            lastHash = q.value(1).toString();
        }
    }
    record.mId = lastId + 1;
    record.mPrev = lastHash;
    record.mHash = RecordHash(record);
    const std::optional<RTamselCFG> cfg = RecordConfig(record.mData);
    {
        QSqlQuery q(FDb);
        q.prepare(QStringLiteral("INSERT INTO records (%1, kind, cal_interval, bump_interval) "
                                 "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
                      .arg(QLatin1String(kColumns)));
        for (const QVariant &v :
             {QVariant(record.mId), Text(record.mUid), Text(record.mTime), Text(record.mJob),
              QVariant(record.mStatus), Text(record.mText), Text(record.mSerial), Text(record.mProduct),
              Text(record.mFirmware), Text(record.mHardware), Text(record.mSensor), Text(record.mBench),
              Text(record.mUser), Text(DataText(record.mData)), Text(record.mPrev), Text(record.mHash),
              Text(KindName(RecordKind(record))),
              NullableInt(cfg ? std::optional<qint64>(CalIntervalSeconds(*cfg)) : std::nullopt),
              NullableInt(cfg ? std::optional<qint64>(BumpIntervalDays(*cfg)) : std::nullopt)})
            q.addBindValue(v);
        if (!q.exec()) {
            record.mId = 0;
            record.mPrev.clear();
            record.mHash.clear();
            return fail(q);
        }
    }
    if (!UpdateSerial(record, error)) {
        record.mId = 0;
        record.mPrev.clear();
        record.mHash.clear();
        Rollback();
        return EAppend::kFailed;
    }
    if (!Commit(error)) {
        record.mId = 0;
        record.mPrev.clear();
        record.mHash.clear();
        return EAppend::kFailed;
    }
    return EAppend::kAdded;
}

bool TRecordStore::List(const RRecordFilter &filter, std::vector<RServiceRecord> &out, QString &error)
{
    QStringList where;
    QVariantList binds;
    if (!filter.mSerial.isEmpty()) {
        where << QStringLiteral("serial = ?");
        binds << filter.mSerial;
    }
    if (!filter.mJob.isEmpty()) {
        where << QStringLiteral("job = ?");
        binds << filter.mJob;
    }
    if (!filter.mSince.isEmpty()) {
        where << QStringLiteral("time >= ?");
        binds << filter.mSince;
    }
    QString sql = QStringLiteral("SELECT %1 FROM records").arg(QLatin1String(kColumns));
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    sql += QStringLiteral(" ORDER BY time DESC, id DESC");
    if (filter.mLimit >= 0)
        sql += QStringLiteral(" LIMIT %1").arg(filter.mLimit);
    QSqlQuery q(FDb);
    q.setForwardOnly(true);
    q.prepare(sql);
    for (const QVariant &b : binds)
        q.addBindValue(b);
    if (!q.exec()) {
        error = ErrorText(q.lastError());
        return false;
    }
    out.clear();
    while (q.next()) {
        RServiceRecord r;
        RowToRecord(q, r);
        out.push_back(std::move(r));
    }
    return true;
}

std::optional<RServiceRecord> TRecordStore::Get(qint64 id, QString &error)
{
    QSqlQuery q(FDb);
    q.prepare(QStringLiteral("SELECT %1 FROM records WHERE id = ?").arg(QLatin1String(kColumns)));
    q.addBindValue(id);
    if (!q.exec()) {
        error = ErrorText(q.lastError());
        return std::nullopt;
    }
    if (!q.next())
        return std::nullopt;
    RServiceRecord r;
    RowToRecord(q, r);
    return r;
}

qint64 TRecordStore::Count(QString &error)
{
    QSqlQuery q(FDb);
    if (!q.exec(QStringLiteral("SELECT COUNT(*) FROM records")) || !q.next()) {
        error = ErrorText(q.lastError());
        return -1;
    }
    return q.value(0).toLongLong();
}

RVerifyResult TRecordStore::Verify()
{
    RVerifyResult result;
    QSqlQuery q(FDb);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT %1, kind, cal_interval, bump_interval FROM records ORDER BY id")
                    .arg(QLatin1String(kColumns)))) {
        result.mError = ErrorText(q.lastError());
        return result;
    }
    QString expectedPrev = kGenesisHash;
    qint64 prevId = 0;
    const auto broken = [&](qint64 id, const QString &why) {
        result.mBrokenId = id;
        result.mReason = why;
        return result;
    };
    while (q.next()) {
        RServiceRecord r;
        QString dataText;
        RowToRecord(q, r, &dataText);
        ++result.mCount;
        QJsonParseError pe{};
        const QJsonDocument doc = QJsonDocument::fromJson(dataText.toUtf8(), &pe);
        if (pe.error != QJsonParseError::NoError || !doc.isObject() || DataText(doc.object()) != dataText)
            return broken(r.mId, QStringLiteral("its data is not the JSON text it was written with"));
        if (r.mPrev != expectedPrev)
            return broken(r.mId, prevId ? QStringLiteral("its prev is not the hash of record %1 (a record before it "
                                                         "was changed, removed or inserted)")
                                              .arg(prevId)
                                        : QStringLiteral("it is the first record but its prev is not the start of a chain"));
        if (RecordHash(r) != r.mHash)
            return broken(r.mId, QStringLiteral("its contents do not match its hash"));
        const std::optional<RTamselCFG> cfg = RecordConfig(r.mData);
        const QVariant cal = q.value(17), bump = q.value(18);
        if (q.value(16).toString() != KindName(RecordKind(r)) || cal.isNull() != !cfg || bump.isNull() != !cfg ||
            (cfg && (cal.toLongLong() != CalIntervalSeconds(*cfg) || bump.toLongLong() != BumpIntervalDays(*cfg))))
            return broken(r.mId, QStringLiteral("its kind or interval columns do not match the record"));
        expectedPrev = r.mHash;
        prevId = r.mId;
    }
    if (q.lastError().isValid()) {
        result.mError = ErrorText(q.lastError());
        return result;
    }
    // The due summary must say what the records say.
    std::vector<RDueFacts> kept, worked;
    if (!DueFacts(kept, result.mError) || !FactsFromRecords(worked, result.mError))
        return result;
    for (size_t i = 0; i < std::max(kept.size(), worked.size()); ++i) {
        if (i < kept.size() && i < worked.size() && SameFacts(kept[i], worked[i]))
            continue;
        const QString serial = i < worked.size() ? worked[i].mSerial : kept[i].mSerial;
        qint64 id = 0;
        QSqlQuery last(FDb);
        last.prepare(QStringLiteral("SELECT MAX(id) FROM records WHERE serial = ?"));
        last.addBindValue(serial);
        if (last.exec() && last.next())
            id = last.value(0).toLongLong();
        return broken(id, QStringLiteral("the due summary of serial %1 does not match its records").arg(serial));
    }
    result.mIntact = true;
    return result;
}

bool TRecordStore::Keep(const RServiceRecord &record, QString &error)
{
    if (!Begin(nullptr, error))
        return false;
    QSqlQuery q(FDb);
    q.prepare(QStringLiteral("INSERT INTO outbox (uid, record) VALUES (?, ?)"));
    q.addBindValue(record.mUid);
    RServiceRecord unsent = record;
    unsent.mId = 0;
    unsent.mPrev.clear();
    unsent.mHash.clear();
    QJsonObject o = RecordToJson(unsent);
    o.insert(QStringLiteral("uid"), record.mUid);
    q.addBindValue(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)));
    if (!q.exec()) {
        error = ErrorText(q.lastError());
        Rollback();
        return false;
    }
    return Commit(error);
}

bool TRecordStore::Outbox(std::vector<RServiceRecord> &out, QString &error)
{
    QSqlQuery q(FDb);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT uid, record FROM outbox ORDER BY seq"))) {
        error = ErrorText(q.lastError());
        return false;
    }
    out.clear();
    while (q.next()) {
        RServiceRecord r;
        const QJsonObject o = QJsonDocument::fromJson(q.value(1).toString().toUtf8()).object();
        QString why;
        if (!RecordFromJson(o, r, why)) {
            error = QStringLiteral("the unsent record %1 cannot be read: %2").arg(q.value(0).toString(), why);
            return false;
        }
        r.mUid = q.value(0).toString();
        out.push_back(std::move(r));
    }
    return true;
}

bool TRecordStore::Forget(const QString &uid, QString &error)
{
    QSqlQuery q(FDb);
    q.prepare(QStringLiteral("DELETE FROM outbox WHERE uid = ?"));
    q.addBindValue(uid);
    if (!q.exec()) {
        error = ErrorText(q.lastError());
        return false;
    }
    return true;
}

qint64 TRecordStore::OutboxCount(QString &error)
{
    QSqlQuery q(FDb);
    if (!q.exec(QStringLiteral("SELECT COUNT(*) FROM outbox")) || !q.next()) {
        error = ErrorText(q.lastError());
        return -1;
    }
    return q.value(0).toLongLong();
}

qint64 TRecordStore::CertificateNumber(qint64 recordId, QString &error)
{
    if (!Begin("LOCK TABLE certificates IN EXCLUSIVE MODE", error))
        return 0;
    const auto fail = [&](const QSqlQuery &q) {
        error = ErrorText(q.lastError());
        Rollback();
        return qint64{0};
    };
    qint64 number = 0;
    {
        QSqlQuery q(FDb);
        q.prepare(QStringLiteral("SELECT number FROM certificates WHERE record_id = ?"));
        q.addBindValue(recordId);
        if (!q.exec())
            return fail(q);
        if (q.next())
            number = q.value(0).toLongLong();
    }
    if (number == 0) {
        QSqlQuery q(FDb);
        if (!q.exec(QStringLiteral("SELECT COALESCE(MAX(number), 0) FROM certificates")) || !q.next())
            return fail(q);
        number = q.value(0).toLongLong() + 1;
        q.finish();
        QSqlQuery ins(FDb);
        ins.prepare(QStringLiteral("INSERT INTO certificates (record_id, number, issued) VALUES (?, ?, ?)"));
        ins.addBindValue(recordId);
        ins.addBindValue(number);
        ins.addBindValue(RecordTime(QDateTime::currentDateTimeUtc()));
        if (!ins.exec())
            return fail(ins);
    }
    if (!Commit(error))
        return 0;
    return number;
}

bool TRecordStore::UpdateSerial(const RServiceRecord &r, QString &error)
{
    if (r.mSerial.isEmpty())
        return true;
    const ERecordKind kind = RecordKind(r);
    const std::optional<RTamselCFG> cfg = RecordConfig(r.mData);
    const QVariant noInt(QMetaType::fromType<qint64>());
    QSqlQuery q(FDb);
    q.prepare(QStringLiteral("SELECT last_time, cal_time, bump_time, cfg_time FROM serials WHERE serial = ?"));
    q.addBindValue(r.mSerial);
    if (!q.exec()) {
        error = ErrorText(q.lastError());
        return false;
    }
    // Each group takes this record when it is at least as new as the one it
    // holds (on equal times the later append wins, as in FactsFromRecords).
    QStringList sets;
    QVariantList binds;
    const bool exists = q.next();
    const auto newer = [&](int column) { return !exists || q.value(column).isNull() || r.mTime >= q.value(column).toString(); };
    if (newer(0)) {
        sets << QStringLiteral("last_time = ?") << QStringLiteral("product = ?") << QStringLiteral("sensor = ?");
        binds << r.mTime << Text(r.mProduct) << Text(r.mSensor);
    }
    if (kind == ERecordKind::kCalibration && newer(1)) {
        sets << QStringLiteral("cal_time = ?") << QStringLiteral("cal_interval = ?");
        binds << r.mTime << (cfg ? QVariant(CalIntervalSeconds(*cfg)) : noInt);
    }
    if (kind == ERecordKind::kBump && newer(2)) {
        sets << QStringLiteral("bump_time = ?") << QStringLiteral("bump_interval = ?");
        binds << r.mTime << (cfg ? QVariant(BumpIntervalDays(*cfg)) : noInt);
    }
    if (cfg && newer(3)) {
        sets << QStringLiteral("cfg_time = ?") << QStringLiteral("cfg_cal_interval = ?")
             << QStringLiteral("cfg_bump_interval = ?");
        binds << r.mTime << QVariant(CalIntervalSeconds(*cfg)) << QVariant(BumpIntervalDays(*cfg));
    }
    q.finish();
    if (sets.isEmpty())
        return true;
    QSqlQuery w(FDb);
    if (exists) {
        w.prepare(QStringLiteral("UPDATE serials SET %1 WHERE serial = ?").arg(sets.join(QStringLiteral(", "))));
        binds << r.mSerial;
    } else {
        QStringList columns;
        for (const QString &set : sets)
            columns << set.section(QLatin1Char(' '), 0, 0);
        w.prepare(QStringLiteral("INSERT INTO serials (serial, %1) VALUES (?%2)")
                      .arg(columns.join(QStringLiteral(", ")), QStringLiteral(", ?").repeated(columns.size())));
        binds.prepend(r.mSerial);
    }
    for (const QVariant &b : binds)
        w.addBindValue(b);
    if (!w.exec()) {
        error = ErrorText(w.lastError());
        return false;
    }
    return true;
}

bool TRecordStore::RebuildSerials(QString &error)
{
    std::vector<RDueFacts> facts;
    if (!Exec(QStringLiteral("DELETE FROM serials"), error) || !FactsFromRecords(facts, error))
        return false;
    QSqlQuery q(FDb);
    q.prepare(QStringLiteral("INSERT INTO serials (serial, last_time, product, sensor, cal_time, cal_interval, "
                             "bump_time, bump_interval, cfg_time, cfg_cal_interval, cfg_bump_interval) "
                             "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    for (const RDueFacts &f : facts) {
        for (const QVariant &v : {Text(f.mSerial), Text(f.mLatest), Text(f.mProduct), Text(f.mSensor),
                                  NullableText(f.mLastCal), NullableInt(f.mCalInterval), NullableText(f.mLastBump),
                                  NullableInt(f.mBumpInterval), NullableText(f.mCfgTime), NullableInt(f.mCfgCalInterval),
                                  NullableInt(f.mCfgBumpInterval)})
            q.addBindValue(v);
        if (!q.exec()) {
            error = ErrorText(q.lastError());
            return false;
        }
    }
    return true;
}

bool TRecordStore::DueFacts(std::vector<RDueFacts> &out, QString &error)
{
    QSqlQuery q(FDb);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT serial, product, sensor, last_time, cal_time, cal_interval, bump_time, "
                               "bump_interval, cfg_time, cfg_cal_interval, cfg_bump_interval FROM serials"))) {
        error = ErrorText(q.lastError());
        return false;
    }
    out.clear();
    while (q.next()) {
        RDueFacts f;
        f.mSerial = q.value(0).toString();
        f.mProduct = q.value(1).toString();
        f.mSensor = q.value(2).toString();
        f.mLatest = q.value(3).toString();
        f.mLastCal = q.value(4).toString();
        f.mCalInterval = OptionalInt(q.value(5));
        f.mLastBump = q.value(6).toString();
        f.mBumpInterval = OptionalInt(q.value(7));
        f.mCfgTime = q.value(8).toString();
        f.mCfgCalInterval = OptionalInt(q.value(9));
        f.mCfgBumpInterval = OptionalInt(q.value(10));
        out.push_back(std::move(f));
    }
    // The order FactsFromRecords gives, whatever the server's collation.
    std::sort(out.begin(), out.end(), [](const RDueFacts &x, const RDueFacts &y) { return x.mSerial < y.mSerial; });
    return true;
}

bool TRecordStore::FactsFromRecords(std::vector<RDueFacts> &out, QString &error)
{
    // Each query finds, per serial, the row of the latest time among the
    // records of one sort; on equal times the highest id wins (rows come in
    // id order and overwrite).
    const auto latest = [](const QString &filter, const QString &columns) {
        return QStringLiteral("SELECT r.serial, r.id, %2 FROM records r JOIN "
                              "(SELECT serial, MAX(time) AS t FROM records WHERE serial <> '' %1 GROUP BY serial) m "
                              "ON r.serial = m.serial AND r.time = m.t WHERE r.serial <> '' %3 ORDER BY r.id")
            .arg(filter, columns, QString(filter).replace(QLatin1String("AND "), QLatin1String("AND r.")));
    };
    std::map<QString, RDueFacts> facts;
    const auto run = [&](const QString &sql, const std::function<void(const QSqlQuery &, RDueFacts &)> &take) {
        QSqlQuery q(FDb);
        q.setForwardOnly(true);
        if (!q.exec(sql)) {
            error = ErrorText(q.lastError());
            return false;
        }
        while (q.next()) {
            const QString serial = q.value(0).toString();
            RDueFacts &f = facts[serial];
            f.mSerial = serial;
            take(q, f);
        }
        return true;
    };
    const auto optional = OptionalInt;
    if (!run(latest(QString(), QStringLiteral("r.product, r.sensor, r.time")),
             [](const QSqlQuery &q, RDueFacts &f) {
                 f.mProduct = q.value(2).toString();
                 f.mSensor = q.value(3).toString();
                 f.mLatest = q.value(4).toString();
             }) ||
        !run(latest(QStringLiteral("AND kind = 'calibration'"), QStringLiteral("r.time, r.cal_interval")),
             [&](const QSqlQuery &q, RDueFacts &f) {
                 f.mLastCal = q.value(2).toString();
                 f.mCalInterval = optional(q.value(3));
             }) ||
        !run(latest(QStringLiteral("AND kind = 'bump'"), QStringLiteral("r.time, r.bump_interval")),
             [&](const QSqlQuery &q, RDueFacts &f) {
                 f.mLastBump = q.value(2).toString();
                 f.mBumpInterval = optional(q.value(3));
             }) ||
        !run(latest(QStringLiteral("AND cal_interval IS NOT NULL"),
                    QStringLiteral("r.cal_interval, r.bump_interval, r.time")),
             [&](const QSqlQuery &q, RDueFacts &f) {
                 f.mCfgCalInterval = optional(q.value(2));
                 f.mCfgBumpInterval = optional(q.value(3));
                 f.mCfgTime = q.value(4).toString();
             }))
        return false;
    out.clear();
    out.reserve(facts.size());
    for (auto &[serial, f] : facts)
        out.push_back(std::move(f));
    return true;
}

RSyncResult SyncOutbox(TRecordStore &local, TRecordStore &shared)
{
    RSyncResult result;
    std::vector<RServiceRecord> waiting;
    if (!local.Outbox(waiting, result.mError))
        return result;
    result.mLeft = static_cast<int>(waiting.size());
    for (RServiceRecord &r : waiting) {
        QString error;
        const EAppend a = shared.Append(r, error);
        if (a == EAppend::kFailed) {
            result.mError = QStringLiteral("record %1 could not be sent: %2").arg(r.mUid, error);
            return result;
        }
        // Appended (or found there); now drop it here. Interrupted between
        // the two, the next sync finds its uid in the shared store and only
        // drops it: never written twice.
        if (!local.Forget(r.mUid, error)) {
            result.mError = QStringLiteral("record %1 was sent but could not be dropped here: %2").arg(r.mUid, error);
            return result;
        }
        (a == EAppend::kAdded ? result.mSent : result.mAlreadyThere)++;
        --result.mLeft;
    }
    return result;
}
