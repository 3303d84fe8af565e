// Time a job gains by leaving its service record: TRecordJournal::Record of
// a job that read identity and configuration (the common case), on a SQLite
// file in a temporary folder and, when BEAMPORT_TEST_PG names a server, on
// PostgreSQL. Reports the first record (opening the store, schema check)
// and the steady state over N records (median, 95th percentile, worst).
// Target: under 5 ms a record.
//   bench_records_journal [N]      (default 300)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <QCoreApplication>
#include <QTemporaryDir>

#include "pg_scratch.h"
#include "records/journal_store.h"
#include "records/location.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

RJobRecord Job(int i)
{
    RJobRecord job;
    job.mJob = i % 3 ? "read" : "bump-pass";
    job.mText = "Read Norvik Information... OK";
    RTamselIdenty id;
    id.mPID = 2;
    id.mHW = 5;
    id.mSW = 14;
    id.mSensor = 1;
    char serial[16];
    std::snprintf(serial, sizeof serial, "SH%08d", i % 50);
    std::memcpy(id.mSerial, serial, sizeof id.mSerial);
    job.mIdentity = id;
    RTamselCFG cfg = DefaultCFG();
    std::memcpy(cfg.mUnit.mSerial, id.mSerial, sizeof cfg.mUnit.mSerial);
    job.mConfig = cfg;
    return job;
}

void Run(const char *name, const RStoreLocation &location, const QString &local, int n)
{
    TRecordJournal journal(location, local);
    auto t0 = Clock::now();
    std::string warning = journal.KeepNow(Job(0));
    const double first = Ms(Clock::now() - t0);
    if (!warning.empty()) {
        std::printf("%-10s failed: %s\n", name, warning.c_str());
        return;
    }
    std::vector<double> times;
    for (int i = 1; i <= n; ++i) {
        const RJobRecord job = Job(i);
        t0 = Clock::now();
        warning = journal.KeepNow(job);
        times.push_back(Ms(Clock::now() - t0));
        if (!warning.empty()) {
            std::printf("%-10s failed: %s\n", name, warning.c_str());
            return;
        }
    }
    std::sort(times.begin(), times.end());
    std::printf("%-10s first %.2f ms; then %d records: median %.2f ms, p95 %.2f ms, worst %.2f ms\n", name, first, n,
                times[times.size() / 2], times[times.size() * 95 / 100], times.back());
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int n = argc > 1 ? std::max(10, std::atoi(argv[1])) : 300;
    QTemporaryDir dir;
    RStoreLocation sqlite;
    sqlite.mPath = dir.filePath(QStringLiteral("records.sqlite"));
    Run("sqlite", sqlite, dir.filePath(QStringLiteral("local.sqlite")), n);
    return RunOnScratchSchema("postgres  ", "bench_journal", [&](RStoreLocation pg) {
        Run("postgres", pg, dir.filePath(QStringLiteral("local.sqlite")), n);
    });
}
