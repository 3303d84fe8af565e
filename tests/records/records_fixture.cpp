#include "records_fixture.h"

#include <unistd.h>

#include <atomic>
#include <cstring>
#include <memory>

#include <QFile>
#include <QGuiApplication>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>


namespace {

// One GUI application for the whole program, as a program makes it: stores
// need an application object, certificates a GUI one. It goes when the tests
// are done, before the process exits.
// Bench keys are made in a config folder of the tests' own, never the user's.
class QtEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        if (FConfig.isValid())
            qputenv(kConfigHomeVar, QFile::encodeName(FConfig.path()));
        if (QCoreApplication::instance())
            return;
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        FApp = std::make_unique<QGuiApplication>(FArgc, FArgv);
    }
    void TearDown() override { FApp.reset(); }

private:
    QTemporaryDir FConfig;
    int FArgc = 1;
    char FName[13] = "test_records";
    char *FArgv[2] = {FName, nullptr};
    std::unique_ptr<QGuiApplication> FApp;
};
const auto *const kQtEnvironment = testing::AddGlobalTestEnvironment(new QtEnvironment);

// Runs one statement on the test server's database, outside any case schema.
bool AdminSql(const QString &sql, QString &error)
{
    RStoreLocation admin;
    if (!ParseStoreLocation(TestPgUrl(), admin, error))
        return false;
    const QString name = QStringLiteral("records-test-admin");
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setHostName(admin.mHost);
        db.setDatabaseName(admin.mDatabase);
        db.setUserName(admin.mUser);
        if (admin.mPort > 0)
            db.setPort(admin.mPort);
        if (db.open()) {
            QSqlQuery q(db);
            q.exec(QStringLiteral("SET client_min_messages TO WARNING"));
            ok = q.exec(sql);
            if (!ok)
                error = q.lastError().text();
        } else {
            error = db.lastError().text();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

} // namespace

std::string BackendName(const testing::TestParamInfo<EBackend> &info)
{
    return info.param == EBackend::kSqlite ? "Sqlite" : "Postgres";
}

QString TestPgUrl() { return qEnvironmentVariable("BEAMPORT_TEST_PG"); }

void RecordsTest::SetUp()
{
    ASSERT_TRUE(FDir.isValid());
    if (!Postgres()) {
        FLocation.mKind = EStoreKind::kSqlite;
        FLocation.mPath = FDir.filePath(QStringLiteral("records.sqlite"));
        FStoreArg = QStringLiteral("sqlite:") + FLocation.mPath;
        return;
    }
    if (TestPgUrl().isEmpty())
        GTEST_SKIP() << "BEAMPORT_TEST_PG is not set: no PostgreSQL test server (scripts/test.sh starts one)";
    static std::atomic<int> counter{0};
    FSchema = QStringLiteral("t_%1_%2").arg(::getpid()).arg(++counter);
    QString error;
    ASSERT_TRUE(AdminSql(QStringLiteral("CREATE SCHEMA %1").arg(FSchema), error)) << error.toStdString();
    const QString url = TestPgUrl() + (TestPgUrl().contains(QLatin1Char('?')) ? "&" : "?") +
                        QStringLiteral("options=-csearch_path%3D") + FSchema;
    ASSERT_TRUE(ParseStoreLocation(url, FLocation, error)) << error.toStdString();
    FStoreArg = url;
}

void RecordsTest::TearDown()
{
    if (!FSchema.isEmpty()) {
        QString error;
        AdminSql(QStringLiteral("DROP SCHEMA %1 CASCADE").arg(FSchema), error);
    }
}

std::unique_ptr<TRecordStore> RecordsTest::Open()
{
    QString error;
    std::unique_ptr<TRecordStore> store = TRecordStore::Open(FLocation, error);
    EXPECT_TRUE(store) << error.toStdString();
    return store;
}

void RecordsTest::AllowChanges(TRecordStore &store)
{
    // What an administrator with the database's password could do: inside
    // the test's transaction only, rolled back with it.
    if (Postgres()) {
        Sql(store, "ALTER TABLE records DISABLE TRIGGER USER");
    } else {
        Sql(store, "DROP TRIGGER records_no_update");
        Sql(store, "DROP TRIGGER records_no_delete");
    }
}

void RecordsTest::Sql(TRecordStore &store, const QString &sql)
{
    QSqlQuery q(store.Database());
    ASSERT_TRUE(q.exec(sql)) << sql.toStdString() << ": " << q.lastError().text().toStdString();
}

RTamselCFG TestConfig(const QString &serial, uint32_t calDays, uint16_t bumpDays)
{
    RTamselCFG cfg = DefaultCFG();
    const QByteArray s = serial.toLatin1().left(sizeof cfg.mUnit.mSerial);
    std::memset(cfg.mUnit.mSerial, ' ', sizeof cfg.mUnit.mSerial);
    std::memcpy(cfg.mUnit.mSerial, s.constData(), static_cast<size_t>(s.size()));
    cfg.mUnit.mHWVersion = 5;
    cfg.mUnit.mFWVersion = 14;
    cfg.mSensor.mCalInterval = calDays * 86400;
    cfg.mSensor.mBumpInterval = bumpDays;
    return cfg;
}

RServiceRecord MakeRecord(const RTestRecord &t)
{
    RJobRecord job;
    job.mJob = t.mJob.toStdString();
    job.mStatus = static_cast<uint8_t>(t.mStatus);
    job.mText = t.mStatus == 0 ? "Read Norvik Information... OK" : "Read Norvik Information... FAIL";
    job.mData = t.mData;
    job.mOutcome = t.mOutcome.toStdString();
    RTamselIdenty id;
    id.mPID = 2;
    id.mHW = 5;
    id.mSW = 14;
    id.mSensor = 1;
    const QByteArray s = t.mSerial.toLatin1().left(sizeof id.mSerial);
    std::memcpy(id.mSerial, s.constData(), static_cast<size_t>(s.size()));
    job.mIdentity = id;
    if (t.mConfig)
        job.mConfig = TestConfig(t.mSerial, t.mCalDays, t.mBumpDays);
    return RecordOfJob(job, t.mTime, QStringLiteral("bench-1"), QStringLiteral("tech"), BuiltInSensorTypes());
}
