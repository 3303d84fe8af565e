#include "records/store.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlQuery>
#include <QUuid>

#include "records/cylinder_store.h"
#include "records/store_sql.h"

using namespace store_sql;

namespace {

// Unique among the connections of this process, as Qt SQL needs.
QString NewConnectionName()
{
    return QStringLiteral("beamport-records-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
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
    case 3: return CylinderTableSql(postgres);
    default: return {};
    }
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
    // Qt SQL loads its drivers through the application object the program made.
    if (!QCoreApplication::instance()) {
        error = QStringLiteral("the record store %1 could not be opened: the program made no application object")
                    .arg(location.Describe());
        return nullptr;
    }
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
