// Where records go: --records values, their precedence, and the technician.
#include <gtest/gtest.h>

#include <cstdlib>

#include <QStandardPaths>
#include <QTemporaryDir>

#include "app/user_store.h"
#include "records/location.h"

TEST(RecordsLocation, ValuesAndRefusals)
{
    struct Case {
        const char *text;
        bool ok;
        EStoreKind kind;
        const char *host, *database, *user;
        int port;
        const char *options; // or, when refused, a piece of the reason
    };
    const Case cases[] = {
        {"off", true, EStoreKind::kOff, "", "", "", -1, ""},
        {"sqlite:/srv/r.sqlite", true, EStoreKind::kSqlite, "", "", "", -1, ""},
        {"postgresql://svc@db.example/records", true, EStoreKind::kPostgres, "db.example", "records", "svc", -1, ""},
        {"postgres://svc@db:6543/records?sslmode=require", true, EStoreKind::kPostgres, "db", "records", "svc", 6543,
         "sslmode=require"},
        {"postgresql://svc@/records?host=/run/pg", true, EStoreKind::kPostgres, "/run/pg", "records", "svc", -1, ""},
        {"postgresql://[::1]:5433/r", true, EStoreKind::kPostgres, "::1", "r", "", 5433, ""},
        {"postgresql://svc:pw@db/records", false, {}, "", "", "", 0, "must not hold a password"},
        {"postgresql://svc@db/records?password=pw", false, {}, "", "", "", 0, "must not hold \"password\""},
        {"postgresql://svc@db/records?sslpassword=pw", false, {}, "", "", "", 0, "must not hold \"sslpassword\""},
        {"postgresql://svc@db/records?passfile=/pw", false, {}, "", "", "", 0, "must not hold \"passfile\""},
        {"postgresql://svc@db:99999/records", false, {}, "", "", "", 0, "port"},
        {"postgresql://svc@db/", false, {}, "", "", "", 0, "names no database"},
        {"postgresql://svc@db/r?options=-c%20x", false, {}, "", "", "", 0, "not a connection option"},
        {"postgresql://svc@db/r?Bad-Key=1", false, {}, "", "", "", 0, "not a connection option"},
        {"sqlite:", false, {}, "", "", "", 0, "needs a file"},
        {"mysql://db/r", false, {}, "", "", "", 0, "\"mysql:\" is not a kind of records store"},
        // a misspelt scheme: nothing after it is repeated, a password least of all
        {"postgressql://svc:pw@db/r", false, {}, "", "", "", 0, "\"postgressql:\" is not a kind of records store"},
        {"svc:pw@db/r", false, {}, "", "", "", 0, "that is not a records store"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        RStoreLocation loc;
        QString error;
        ASSERT_EQ(ParseStoreLocation(c.text, loc, error), c.ok) << error.toStdString();
        if (!c.ok) {
            EXPECT_TRUE(error.contains(c.options)) << error.toStdString();
            EXPECT_FALSE(error.contains("pw"));
            continue;
        }
        EXPECT_EQ(loc.mKind, c.kind);
        if (c.kind != EStoreKind::kPostgres)
            continue;
        EXPECT_EQ(loc.mHost, c.host);
        EXPECT_EQ(loc.mDatabase, c.database);
        EXPECT_EQ(loc.mUser, c.user);
        EXPECT_EQ(loc.mPort, c.port);
        EXPECT_EQ(loc.mOptions, c.options);
    }
}

TEST(RecordsLocation, OptionBeforeEnvironmentBeforeDefault)
{
    QTemporaryDir dir;
#ifdef _WIN32
    // The user's own local application data folder, which Windows names.
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    EXPECT_TRUE(data.endsWith("/AppData/Local", Qt::CaseInsensitive)) << data.toStdString();
#else
    ::setenv("XDG_DATA_HOME", dir.path().toLocal8Bit().constData(), 1);
    const QString data = dir.path();
#endif
    qunsetenv("BEAMPORT_RECORDS");
    RStoreLocation loc;
    QString error;
    ASSERT_TRUE(ResolveStoreLocation("", loc, error));
    EXPECT_EQ(loc.Describe(), "sqlite:" + data + "/beamport/records.sqlite");

    qputenv("BEAMPORT_RECORDS", "postgresql://svc@/records?host=/run/pg");
    ASSERT_TRUE(ResolveStoreLocation("", loc, error));
    EXPECT_EQ(loc.Describe(), "postgresql://svc@/records?host=/run/pg");

    ASSERT_TRUE(ResolveStoreLocation("off", loc, error)); // --records, the session's choice
    EXPECT_EQ(loc.mKind, EStoreKind::kOff);

    EXPECT_FALSE(ResolveStoreLocation("nowhere", loc, error));
    EXPECT_TRUE(error.startsWith("--records: ")) << error.toStdString();
    qputenv("BEAMPORT_RECORDS", "nowhere");
    EXPECT_FALSE(ResolveStoreLocation("", loc, error));
    EXPECT_TRUE(error.startsWith("BEAMPORT_RECORDS: ")) << error.toStdString();
    qunsetenv("BEAMPORT_RECORDS");
    qunsetenv("XDG_DATA_HOME");
}

TEST(RecordsLocation, TechnicianIsThePerUserSettingElseTheLoginsName)
{
    QTemporaryDir dir;
    TUserStore store(dir.filePath("user.conf").toStdString());
    const QString fallback = TechnicianName(store);
    EXPECT_FALSE(fallback.isEmpty());
    SetTechnicianName(store, "  Ada Tester ");
    EXPECT_EQ(TechnicianName(store), "Ada Tester");
    EXPECT_EQ(TechnicianName(TUserStore(dir.filePath("user.conf").toStdString())), "Ada Tester"); // kept
    SetTechnicianName(store, "");
    EXPECT_EQ(TechnicianName(store), fallback);
}
