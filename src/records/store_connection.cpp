#include "records/store_connection.h"

#include <QSqlQuery>
#include <QUuid>

#include "records/bench_key.h"
#include "records/store_sql.h"

using namespace store_sql;

TStoreConnection::TStoreConnection(const RStoreLocation &location)
    : FLocation(location),
      FName(QStringLiteral("beamport-records-") + QUuid::createUuid().toString(QUuid::WithoutBraces))
{
}

TStoreConnection::~TStoreConnection()
{
    if (FDb.isValid())
        FDb.close();
    FDb = QSqlDatabase();
    QSqlDatabase::removeDatabase(FName);
}

const TBenchKey *TStoreConnection::BenchKey(QString &error)
{
    if (!FKey) {
        FOwnKey = TBenchKey::LoadOrCreate(DefaultBenchKeyPath(), error);
        FKey = FOwnKey.get();
    }
    return FKey;
}

bool TStoreConnection::Exec(const QString &sql, QString &error)
{
    QSqlQuery q(FDb);
    if (!q.exec(sql)) {
        error = ErrorText(q.lastError());
        return false;
    }
    return true;
}

bool TStoreConnection::Begin(const char *lockSql, QString &error)
{
    if (!IsPostgres())
        return Exec(QStringLiteral("BEGIN IMMEDIATE"), error);
    if (!Exec(QStringLiteral("BEGIN"), error))
        return false;
    // One statement at a time: the driver reports only the first result of several.
    for (const QString &sql : QString::fromLatin1(lockSql ? lockSql : "").split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        if (sql.trimmed().isEmpty())
            continue;
        if (!Exec(sql.trimmed(), error)) {
            Rollback();
            return false;
        }
    }
    return true;
}

void TStoreConnection::Rollback()
{
    QString ignored;
    Exec(QStringLiteral("ROLLBACK"), ignored);
}

bool TStoreConnection::Commit(QString &error)
{
    if (Exec(QStringLiteral("COMMIT"), error))
        return true;
    Rollback();
    return false;
}
