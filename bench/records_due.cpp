// The due list over a large store: 100 000 records of 5 000 serials (reads,
// calibrations, bump tests, some without a configuration), written as one
// valid chain, then DueList timed (median of 5 runs; target under 100 ms),
// with a serial's listing and a whole-chain verify for comparison. SQLite in
// a temporary folder, and PostgreSQL when BEAMPORT_TEST_PG names a server.
//   bench_records_due [RECORDS [SERIALS]]    (default 100000 5000)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include "pg_scratch.h"
#include "records/due.h"
#include "records/location.h"
#include "records/store.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Record i of the filling: serial i % serials, one day apart per round.
RServiceRecord Filler(int i, int serials)
{
    static const char *const jobs[] = {"read", "bump-pass", "sensor-cal", "identify", "calibration"};
    const int serial = i % serials, round = i / serials;
    RJobRecord job;
    job.mJob = jobs[round % 5];
    job.mText = "done";
    if (job.mJob == "sensor-cal")
        job.mData.insert(QStringLiteral("result"), QStringLiteral("OK"));
    RTamselIdenty id;
    id.mPID = 2;
    id.mSensor = 1;
    char text[16];
    std::snprintf(text, sizeof text, "SH%08d", serial % 100000000);
    std::memcpy(id.mSerial, text, sizeof id.mSerial);
    job.mIdentity = id;
    if (job.mJob != "identify" && job.mJob != "calibration") {
        RTamselCFG cfg = DefaultCFG();
        cfg.mSensor.mCalInterval = (90 + serial % 90) * 86400u;
        cfg.mSensor.mBumpInterval = static_cast<uint16_t>(serial % 31);
        job.mConfig = cfg;
    }
    const QDateTime t = QDateTime(QDate(2025, 1, 1), QTime(8, 0), Qt::UTC).addDays(round).addSecs(serial);
    return RecordOfJob(job, t, QStringLiteral("bench"), QStringLiteral("tech"), BuiltInSensorTypes());
}

bool Fill(TRecordStore &store, int count, int serials)
{
    QSqlDatabase &db = store.Database();
    QSqlQuery q(db);
    if (!q.exec(store.IsPostgres() ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE")))
        return false;
    q.prepare(QStringLiteral("INSERT INTO records (id, uid, time, job, status, text, serial, product, firmware, "
                             "hardware, sensor, bench, login, data, prev, hash, kind, cal_interval, bump_interval) "
                             "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    QString prev = kGenesisHash;
    for (int i = 0; i < count; ++i) {
        RServiceRecord r = Filler(i, serials);
        r.mId = i + 1;
        r.mPrev = prev;
        r.mHash = RecordHash(r);
        prev = r.mHash;
        const std::optional<RTamselCFG> cfg = RecordConfig(r.mData);
        const QVariant none(QMetaType::fromType<qint64>());
        for (const QVariant &v : {QVariant(r.mId), QVariant(r.mUid), QVariant(r.mTime), QVariant(r.mJob),
                                  QVariant(r.mStatus), QVariant(r.mText), QVariant(r.mSerial), QVariant(r.mProduct),
                                  QVariant(r.mFirmware), QVariant(r.mHardware), QVariant(r.mSensor), QVariant(r.mBench),
                                  QVariant(r.mUser), QVariant(DataText(r.mData)), QVariant(r.mPrev), QVariant(r.mHash),
                                  QVariant(KindName(RecordKind(r))),
                                  cfg ? QVariant(CalIntervalSeconds(*cfg)) : none,
                                  cfg ? QVariant(BumpIntervalDays(*cfg)) : none})
            q.addBindValue(v);
        if (!q.exec()) {
            std::printf("fill failed at %d: %s\n", i, qPrintable(q.lastError().text()));
            return false;
        }
    }
    QSqlQuery commit(db);
    return commit.exec(QStringLiteral("COMMIT")) &&
           QSqlQuery(db).exec(store.IsPostgres() ? QStringLiteral("ANALYZE records") : QStringLiteral("ANALYZE"));
}

double Median(const std::function<void()> &fn, int runs = 5)
{
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = Clock::now();
        fn();
        t.push_back(Ms(Clock::now() - t0));
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

void Run(const char *name, const RStoreLocation &location, int count, int serials)
{
    QString error;
    std::unique_ptr<TRecordStore> store = TRecordStore::Open(location, error);
    if (!store) {
        std::printf("%-9s %s\n", name, qPrintable(error));
        return;
    }
    const auto t0 = Clock::now();
    if (!Fill(*store, count, serials))
        return;
    // The filling went round the appends: let migration 2 build the due
    // summary from the records, as it does for a store of version 1.
    QSqlQuery(store->Database()).exec(QStringLiteral("DROP TABLE serials"));
    QSqlQuery(store->Database()).exec(QStringLiteral("UPDATE schema_version SET version = 1"));
    store.reset();
    store = TRecordStore::Open(location, error);
    if (!store) {
        std::printf("%-9s %s\n", name, qPrintable(error));
        return;
    }
    std::printf("%-9s filled %d records of %d serials in %.1f s (with migration)\n", name, count, serials,
                Ms(Clock::now() - t0) / 1000);
    const QDateTime now = QDateTime(QDate(2025, 3, 1), QTime(0, 0), Qt::UTC);
    std::vector<RDueEntry> list;
    const double due = Median([&] { DueList(*store, now, std::nullopt, list, error); });
    size_t overdue = 0;
    for (const RDueEntry &e : list)
        overdue += e.mOverdue;
    std::printf("%-9s due: %.1f ms (median of 5) for %zu serials listed, %zu overdue%s\n", name, due, list.size(),
                overdue, error.isEmpty() ? "" : qPrintable(QStringLiteral(" (error: ") + error + ")"));
    std::vector<RServiceRecord> records;
    RRecordFilter one;
    one.mSerial = QStringLiteral("SH00001234");
    const double listing = Median([&] { store->List(one, records, error); });
    std::printf("%-9s records --serial: %.1f ms for %zu records\n", name, listing, records.size());
    const auto v0 = Clock::now();
    const RVerifyResult v = store->Verify();
    std::printf("%-9s verify: %.0f ms, %s\n", name, Ms(Clock::now() - v0), v.mIntact ? "intact" : "BROKEN");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1000, std::atoi(argv[1])) : 100000;
    const int serials = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5000;
    QTemporaryDir dir;
    RStoreLocation sqlite;
    sqlite.mPath = dir.filePath(QStringLiteral("records.sqlite"));
    Run("sqlite", sqlite, count, serials);

    return RunOnScratchSchema("postgres ", "bench_due", [&](RStoreLocation pg) { Run("postgres", pg, count, serials); });
}
