#pragma once
// The record-store tests run twice: against a SQLite file in a temporary
// folder and against the PostgreSQL server named by BEAMPORT_TEST_PG
// (scripts/test.sh starts one), each case in a schema of its own.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <QDateTime>
#include <QString>
#include <QTemporaryDir>

#include "records/location.h"
#include "records/record.h"
#include "records/store.h"

enum class EBackend { kSqlite, kPostgres };

// The variable that names the user's folder of settings, where the bench key
// and the witnesses live: %APPDATA% on Windows, XDG_CONFIG_HOME elsewhere.
#ifdef _WIN32
inline constexpr char kConfigHomeVar[] = "APPDATA";
#else
inline constexpr char kConfigHomeVar[] = "XDG_CONFIG_HOME";
#endif

std::string BackendName(const testing::TestParamInfo<EBackend> &info);

class RecordsTest : public testing::TestWithParam<EBackend> {
protected:
    void SetUp() override;
    void TearDown() override;

    bool Postgres() const { return GetParam() == EBackend::kPostgres; }
    // This case's store (a fresh one per case).
    const RStoreLocation &Location() const { return FLocation; }
    // The same store as a --records value.
    const QString &StoreArg() const { return FStoreArg; }
    // PostgreSQL: the schema of this case's tables.
    const QString &Schema() const { return FSchema; }
    std::unique_ptr<TRecordStore> Open();
    // A SQLite path in this case's temporary folder.
    QString TempPath(const QString &name) const { return FDir.filePath(name); }
    // Runs SQL on the store's database directly, as a person with access could.
    void Sql(TRecordStore &store, const QString &sql);
    // Drops the triggers that refuse UPDATE and DELETE on records (call it
    // inside a transaction to have them back with the rollback).
    void AllowChanges(TRecordStore &store);

private:
    QTemporaryDir FDir;
    RStoreLocation FLocation;
    QString FStoreArg;
    QString FSchema;
};

// The PostgreSQL URL of the test server, or empty.
QString TestPgUrl();

// A record as a job leaves it: serial, job, status, time; a configuration
// with the given intervals (calibration in days, bump in days) when cfg is set.
struct RTestRecord {
    QString mSerial = QStringLiteral("SH10000001");
    QString mJob = QStringLiteral("read");
    int mStatus = 0;
    QDateTime mTime = QDateTime(QDate(2026, 1, 10), QTime(9, 0), Qt::UTC);
    QJsonObject mData{};
    bool mConfig = true;
    uint32_t mCalDays = 180;
    uint16_t mBumpDays = 30;
    QString mOutcome{}; // empty: the one its status gives
};
RServiceRecord MakeRecord(const RTestRecord &t);
RTamselCFG TestConfig(const QString &serial, uint32_t calDays, uint16_t bumpDays);
