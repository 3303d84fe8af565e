#pragma once
// The records benches on PostgreSQL: the server BEAMPORT_TEST_PG names, a
// schema of the bench's own made for the run and dropped after it.
#include <cstdio>
#include <functional>

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include "records/location.h"

// Runs `run` on a location whose tables live in `schema`. 0 when it ran or
// no server was named (said on stdout, each line led by `label`), 1 when the
// server could not be used.
inline int RunOnScratchSchema(const char *label, const char *schema, const std::function<void(RStoreLocation)> &run)
{
    const QString url = qEnvironmentVariable("BEAMPORT_TEST_PG");
    if (url.isEmpty()) {
        std::printf("%s skipped: BEAMPORT_TEST_PG is not set\n", label);
        return 0;
    }
    RStoreLocation pg;
    QString error;
    if (!ParseStoreLocation(url, pg, error)) {
        std::printf("%s %s\n", label, qPrintable(error));
        return 1;
    }
    const QString name = QString::fromLatin1(schema);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("bench-admin"));
        db.setHostName(pg.mHost);
        db.setDatabaseName(pg.mDatabase);
        db.setUserName(pg.mUser);
        if (!db.open()) {
            std::printf("%s cannot connect\n", label);
            return 1;
        }
        QSqlQuery(db).exec(QStringLiteral("SET client_min_messages TO WARNING"));
        QSqlQuery(db).exec(QStringLiteral("DROP SCHEMA IF EXISTS %1 CASCADE").arg(name));
        QSqlQuery(db).exec(QStringLiteral("CREATE SCHEMA %1").arg(name));
        pg.mOptions = QStringLiteral("options=-csearch_path=%1").arg(name);
        run(pg);
        QSqlQuery(db).exec(QStringLiteral("DROP SCHEMA %1 CASCADE").arg(name));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-admin"));
    return 0;
}
