// The store on both back ends: append and list, the hash chain against
// tampering, concurrent writers, migrations and bad stores.
#include <sys/stat.h>
#include <unistd.h>
#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <functional>
#include <set>
#include <thread>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSqlQuery>

#include "records/bench_key.h"
#include "records/journal_store.h"
#include "records/witness.h"
#include "records_fixture.h"

namespace {

std::vector<RServiceRecord> AppendAll(TRecordStore &store, const std::vector<RTestRecord> &list)
{
    std::vector<RServiceRecord> out;
    for (const RTestRecord &t : list) {
        RServiceRecord r = MakeRecord(t);
        QString error;
        EXPECT_EQ(store.Append(r, error), EAppend::kAdded) << error.toStdString();
        out.push_back(r);
    }
    return out;
}

QDateTime Day(int day, int hour = 9) { return QDateTime(QDate(2026, 1, day), QTime(hour, 0), Qt::UTC); }

std::vector<qint64> Ids(const std::vector<RServiceRecord> &records)
{
    std::vector<qint64> ids;
    for (const RServiceRecord &r : records)
        ids.push_back(r.mId);
    return ids;
}

} // namespace

TEST_P(RecordsTest, AppendsChainAndListsNewestFirst)
{
    auto store = Open();
    ASSERT_TRUE(store);
    // Written out of time order (as a record synced late would be).
    const auto written = AppendAll(*store, {{.mSerial = "SH1", .mJob = "read", .mTime = Day(2)},
                                            {.mSerial = "SH2", .mJob = "bump-pass", .mTime = Day(5)},
                                            {.mSerial = "SH1", .mJob = "identify", .mTime = Day(1)},
                                            {.mSerial = "SH1", .mJob = "bump-pass", .mTime = Day(7)}});
    EXPECT_EQ(written[0].mPrev, kGenesisHash);
    EXPECT_EQ(written[1].mPrev, written[0].mHash);
    EXPECT_EQ(written[3].mId, 4);

    struct Case {
        RRecordFilter filter;
        std::vector<qint64> ids;
    };
    const Case cases[] = {
        {{}, {4, 2, 1, 3}},
        {{.mSerial = "SH1"}, {4, 1, 3}},
        {{.mJob = "bump-pass"}, {4, 2}},
        {{.mSince = RecordTime(Day(2))}, {4, 2, 1}},
        {{.mSerial = "SH1", .mJob = "bump-pass", .mSince = RecordTime(Day(6))}, {4}},
        {{.mSerial = "nobody"}, {}},
        {{.mLimit = 2}, {4, 2}},
    };
    for (const Case &c : cases) {
        std::vector<RServiceRecord> got;
        QString error;
        ASSERT_TRUE(store->List(c.filter, got, error)) << error.toStdString();
        EXPECT_EQ(Ids(got), c.ids) << c.filter.mSerial.toStdString() << " " << c.filter.mJob.toStdString();
    }

    // What comes back is what went in, field for field.
    QString error;
    const std::optional<RServiceRecord> back = store->Get(2, error);
    ASSERT_TRUE(back);
    EXPECT_EQ(RecordToJson(*back), RecordToJson(written[1]));
    EXPECT_EQ(back->mProduct, "Norvik");
    EXPECT_EQ(back->mSensor, "H2S");
    EXPECT_TRUE(back->mData.value("config").isString());
    EXPECT_FALSE(store->Get(99, error));
    EXPECT_TRUE(error.isEmpty());
    QStringList names = RecordFieldNames();
    names.sort();
    EXPECT_EQ(RecordToJson(*back).keys(), names);

    const RVerifyResult v = store->Verify();
    EXPECT_TRUE(v.mIntact) << v.mReason.toStdString();
    EXPECT_EQ(v.mCount, 4);
}

TEST_P(RecordsTest, VerifyNamesTheFirstChangedRecord)
{
    auto store = Open();
    ASSERT_TRUE(store);
    AppendAll(*store, {{.mTime = Day(1)}, {.mTime = Day(2)}, {.mJob = "bump-pass", .mTime = Day(3)}, {.mTime = Day(4)}});
    struct Case {
        const char *what;
        QString sql;
        qint64 broken;
    };
    const Case cases[] = {
        {"one byte of a text", "UPDATE records SET text = 'Read Norvik Information... OK!' WHERE id = 2", 2},
        {"the status", "UPDATE records SET status = 1 WHERE id = 3", 3},
        {"a byte inside data", "UPDATE records SET data = REPLACE(data, '\"config\":\"01', '\"config\":\"03') WHERE id = 1", 1},
        {"data rewritten with a blank", "UPDATE records SET data = REPLACE(data, ':', ': ') WHERE id = 4", 4},
        {"the stored hash", "UPDATE records SET hash = REPLACE(hash, SUBSTR(hash, 1, 1), 'x') WHERE id = 2", 2},
        {"a record removed", "DELETE FROM records WHERE id = 2", 3},
        {"the derived kind", "UPDATE records SET kind = 'calibration' WHERE id = 1", 1},
        {"the last record's time", "UPDATE records SET time = '2027-01-01T00:00:00.000Z' WHERE id = 4", 4},
        {"the due summary", "UPDATE serials SET bump_time = '2030-01-01T00:00:00.000Z'", 4},
        {"the newest record removed", "DELETE FROM records WHERE id = 4", 4},
        {"the signature", "UPDATE records SET sig = REPLACE(sig, SUBSTR(sig, 1, 2), '00') WHERE id = 3", 3},
        {"the signing key", "UPDATE records SET bench_key = 'ffffffffffffffff' WHERE id = 2", 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Sql(*store, Postgres() ? "BEGIN" : "BEGIN IMMEDIATE");
        AllowChanges(*store);
        Sql(*store, c.sql);
        const RVerifyResult v = store->Verify();
        EXPECT_FALSE(v.mIntact);
        EXPECT_EQ(v.mBrokenId, c.broken) << v.mReason.toStdString();
        EXPECT_FALSE(v.mReason.isEmpty());
        Sql(*store, "ROLLBACK");
    }
    EXPECT_TRUE(store->Verify().mIntact);
}

TEST_P(RecordsTest, FourWritersAtOnceKeepOneChain)
{
    ASSERT_TRUE(Open()); // schema made once, as a bench that ran before
    constexpr int kWriters = 4, kEach = 25;
    std::vector<std::thread> threads;
    std::vector<QString> errors(kWriters);
    std::vector<std::vector<QString>> uids(kWriters);
    for (int w = 0; w < kWriters; ++w) {
        threads.emplace_back([&, w] {
            // Each writer has its own connection, as each bench has.
            QString error;
            std::unique_ptr<TRecordStore> store = TRecordStore::Open(Location(), error);
            if (!store) {
                errors[w] = error;
                return;
            }
            for (int i = 0; i < kEach; ++i) {
                RServiceRecord r = MakeRecord({.mSerial = QStringLiteral("W%1").arg(w), .mTime = Day(1 + i % 20)});
                if (store->Append(r, error) != EAppend::kAdded) {
                    errors[w] = error;
                    return;
                }
                uids[w].push_back(r.mUid);
            }
        });
    }
    for (std::thread &t : threads)
        t.join();
    for (const QString &e : errors)
        EXPECT_TRUE(e.isEmpty()) << e.toStdString();

    auto store = Open();
    const RVerifyResult v = store->Verify();
    EXPECT_TRUE(v.mIntact) << v.mBrokenId << ": " << v.mReason.toStdString();
    EXPECT_EQ(v.mCount, kWriters * kEach);
    std::vector<RServiceRecord> all;
    QString error;
    ASSERT_TRUE(store->List({}, all, error));
    std::set<QString> stored;
    for (const RServiceRecord &r : all)
        stored.insert(r.mUid);
    for (const auto &list : uids)
        for (const QString &uid : list)
            EXPECT_TRUE(stored.count(uid)) << uid.toStdString();
}

TEST_P(RecordsTest, MigratesAnEmptyStoreAndReopensAnExistingOne)
{
    {
        auto store = Open();
        ASSERT_TRUE(store);
        EXPECT_EQ(store->SchemaVersion(), kRecordsSchemaVersion);
        AppendAll(*store, {{.mTime = Day(1)}});
        QString error;
        EXPECT_EQ(store->Certificate(*store->Get(1, error), [](const QString &) { return true; }, error), 1);
    }
    {
        auto store = Open(); // nothing to migrate: the record and its number stay
        ASSERT_TRUE(store);
        QString error;
        EXPECT_EQ(store->Count(error), 1);
        EXPECT_EQ(store->Certificate(*store->Get(1, error), [](const QString &) { return true; }, error), 1);
        EXPECT_TRUE(store->Verify().mIntact);
    }
    {
        // A store of the first version, as the program then wrote it: no due
        // summary, no signatures, records under the old hash rule.
        auto store = Open();
        ASSERT_TRUE(store);
        // Another store in the place of the one this bench wrote to: its
        // witness of that one goes with it.
        QFile::remove(WitnessPath(Location()));
        for (const char *drop : {"DROP TABLE records", "DROP TABLE serials", "DROP TABLE outbox",
                                 "DROP TABLE certificates", "DROP TABLE chain_head", "DROP TABLE bench_keys"})
            Sql(*store, drop);
        if (Postgres())
            Sql(*store, "DROP FUNCTION records_refuse_change()");
        const QString id = Postgres() ? "BIGINT PRIMARY KEY" : "INTEGER PRIMARY KEY";
        Sql(*store, "CREATE TABLE records (id " + id + ", uid TEXT NOT NULL UNIQUE, time TEXT NOT NULL, "
                    "job TEXT NOT NULL, status INTEGER NOT NULL, text TEXT NOT NULL, serial TEXT NOT NULL, "
                    "product TEXT NOT NULL, firmware TEXT NOT NULL, hardware TEXT NOT NULL, sensor TEXT NOT NULL, "
                    "bench TEXT NOT NULL, login TEXT NOT NULL, data TEXT NOT NULL, prev TEXT NOT NULL, "
                    "hash TEXT NOT NULL, kind TEXT NOT NULL, cal_interval BIGINT, bump_interval BIGINT)");
        Sql(*store, "CREATE TABLE outbox (seq " + id + ", uid TEXT NOT NULL UNIQUE, record TEXT NOT NULL)");
        Sql(*store, "CREATE TABLE certificates (record_id BIGINT PRIMARY KEY, number BIGINT NOT NULL UNIQUE, "
                    "issued TEXT NOT NULL)");
        QString prev = kGenesisHash;
        for (qint64 n = 1; n <= 2; ++n) {
            RServiceRecord r = MakeRecord({.mTime = Day(static_cast<int>(n))});
            r.mId = n;
            r.mPrev = prev;
            r.mText = QStringLiteral("ok");
            r.mHash = LegacyRecordHash(r);
            prev = r.mHash;
            Sql(*store, QStringLiteral("INSERT INTO records VALUES (%1, '%2', '%3', 'read', 0, 'ok', '%4', '%5', "
                                       "'%6', '%7', '%8', 'bench-1', 'tech', '%9', '%10', '%11', 'other', %12, %13)")
                            .arg(n)
                            .arg(r.mUid, r.mTime, r.mSerial, r.mProduct, r.mFirmware, r.mHardware, r.mSensor,
                                 DataText(r.mData), r.mPrev, r.mHash)
                            .arg(180 * 86400)
                            .arg(30));
        }
        Sql(*store, "INSERT INTO certificates VALUES (1, 7, '2026-01-02T00:00:00.000Z')");
        // A record kept for the shared store, in the old form.
        Sql(*store, "INSERT INTO outbox (seq, uid, record) VALUES (1, 'u-old', '{\"bench\":\"b\",\"data\":{},"
                    "\"firmware\":\"\",\"hardware\":\"\",\"hash\":\"\",\"id\":0,\"job\":\"bump-fail\",\"prev\":\"\","
                    "\"product\":\"\",\"sensor\":\"\",\"serial\":\"\",\"status\":0,\"text\":\"t\","
                    "\"time\":\"2026-01-03T00:00:00.000Z\",\"uid\":\"u-old\",\"user\":\"tech\"}')");
        Sql(*store, "UPDATE schema_version SET version = 1");
    }
    {
        // Migrated: the summary built from the records, the old records
        // closed by a signed migration record, the old certificate kept.
        auto store = Open();
        ASSERT_TRUE(store);
        EXPECT_EQ(store->SchemaVersion(), kRecordsSchemaVersion);
        std::vector<RDueFacts> facts;
        QString error;
        ASSERT_TRUE(store->DueFacts(facts, error)) << error.toStdString();
        ASSERT_EQ(facts.size(), 1u);
        EXPECT_EQ(facts[0].mCfgBumpInterval, 30);
        const std::optional<RServiceRecord> marker = store->Get(3, error);
        ASSERT_TRUE(marker) << error.toStdString();
        EXPECT_EQ(marker->mJob, "records-migration");
        EXPECT_EQ(marker->mOutcome, "success");
        EXPECT_EQ(marker->mData.value("rule").toString(), "sha256-jcs-ed25519");
        RVerifyResult v = store->Verify();
        EXPECT_TRUE(v.mIntact) << v.mBrokenId << ": " << v.mReason.toStdString();
        EXPECT_EQ(v.mLegacy, 2);
        // The old kept record now has the new form, signed by this bench: sync takes it.
        std::vector<RServiceRecord> kept;
        ASSERT_TRUE(store->Outbox(kept, error)) << error.toStdString();
        ASSERT_EQ(kept.size(), 1u);
        EXPECT_EQ(kept[0].mOutcome, "declared");
        EXPECT_EQ(kept[0].mHash, OutboxHash(kept[0]));
        EXPECT_TRUE(TBenchKey::Verify(store->BenchKey(error)->PublicKeyHex(), kept[0].mHash, kept[0].mSig));
        EXPECT_EQ(AppendAll(*store, {{.mTime = Day(5)}})[0].mId, 4);
        EXPECT_TRUE(store->Verify().mIntact);
        QString number;
        EXPECT_EQ(store->Certificate(*store->Get(1, error), [](const QString &) { return true; }, error, &number), 7);
        EXPECT_EQ(number, "BP-000007");

        // An old record rewritten and its old chain refitted up to the
        // migration record: the signed migration record holds the old hash.
        Sql(*store, Postgres() ? "BEGIN" : "BEGIN IMMEDIATE");
        AllowChanges(*store);
        RServiceRecord old = *store->Get(2, error);
        old.mText = QStringLiteral("forged");
        old.mHash = LegacyRecordHash(old);
        Sql(*store, QStringLiteral("UPDATE records SET text = 'forged', hash = '%1' WHERE id = 2").arg(old.mHash));
        v = store->Verify();
        EXPECT_FALSE(v.mIntact);
        EXPECT_EQ(v.mBrokenId, 3) << v.mReason.toStdString();
        // Without the migration record the old records claim the new rule and fail.
        Sql(*store, "DELETE FROM records WHERE id = 3");
        EXPECT_FALSE(store->Verify().mIntact);
        Sql(*store, "ROLLBACK");
        EXPECT_TRUE(store->Verify().mIntact);
        Sql(*store, "UPDATE schema_version SET version = 99");
    }
    QString error;
    EXPECT_FALSE(TRecordStore::Open(Location(), error));
    EXPECT_TRUE(error.contains("schema version 99, newer than this program knows")) << error.toStdString();
}

TEST_P(RecordsTest, AppendingTheSameRecordTwiceStoresItOnce)
{
    auto store = Open();
    ASSERT_TRUE(store);
    RServiceRecord r = MakeRecord({});
    RServiceRecord again = r;
    QString error;
    EXPECT_EQ(store->Append(r, error), EAppend::kAdded);
    EXPECT_EQ(store->Append(again, error), EAppend::kAlreadyThere);
    EXPECT_EQ(again.mId, r.mId);
    EXPECT_EQ(store->Count(error), 1);
}

INSTANTIATE_TEST_SUITE_P(Backends, RecordsTest, testing::Values(EBackend::kSqlite, EBackend::kPostgres), BackendName);

// The outbox serves a shared PostgreSQL store.
class SharedStoreTest : public RecordsTest {};

// PostgreSQL out of reach: the record waits on this bench, outside the local
// chain, and reaches the shared store exactly once.
TEST_P(SharedStoreTest, UnreachableSharedStoreKeepsRecordsUntilSync)
{
    const QString local = TempPath("bench.sqlite");
    RStoreLocation gone = Location();
    gone.mHost = TempPath("no-server-here");
    int clock = 0;
    const auto tick = [&] { return Day(1).addSecs(60 * ++clock); };
    {
        TRecordJournal journal(gone, local, tick);
        for (const char *job : {"read", "bump-pass", "sensor-cal"}) {
            RJobRecord j;
            j.mJob = job;
            j.mText = "done";
            const std::string warning = journal.KeepNow(j);
            EXPECT_NE(warning.find("kept on this bench"), std::string::npos) << warning;
            EXPECT_EQ(warning.find('\n'), std::string::npos);
        }
        EXPECT_EQ(journal.Sync().mLeft, 3); // still out of reach: nothing lost
    }
    RStoreLocation localLoc;
    localLoc.mPath = local;
    QString error;
    {
        auto bench = TRecordStore::Open(localLoc, error);
        ASSERT_TRUE(bench) << error.toStdString();
        EXPECT_EQ(bench->OutboxCount(error), 3);
        EXPECT_EQ(bench->Count(error), 0); // not in the local chain
        EXPECT_TRUE(bench->Verify().mIntact);
    }

    auto shared = Open();
    ASSERT_TRUE(shared);
    AppendAll(*shared, {{.mTime = Day(1)}}); // another bench wrote meanwhile
    // The first unsent record reached the server once before, but the sync
    // that sent it ended before it could drop it here.
    {
        auto bench = TRecordStore::Open(localLoc, error);
        std::vector<RServiceRecord> waiting;
        ASSERT_TRUE(bench->Outbox(waiting, error));
        ASSERT_EQ(waiting.size(), 3u);
        EXPECT_EQ(shared->Append(waiting[0], error), EAppend::kAdded);
    }
    TRecordJournal journal(Location(), local, tick);
    const RSyncResult first = journal.Sync();
    EXPECT_TRUE(first.mError.isEmpty()) << first.mError.toStdString();
    EXPECT_EQ(first.mSent, 2);
    EXPECT_EQ(first.mAlreadyThere, 1);
    EXPECT_EQ(first.mLeft, 0);
    const RSyncResult second = journal.Sync();
    EXPECT_EQ(second.mSent + second.mAlreadyThere + second.mLeft, 0);

    EXPECT_EQ(shared->Count(error), 4);
    const RVerifyResult v = shared->Verify();
    EXPECT_TRUE(v.mIntact) << v.mReason.toStdString();
    std::vector<RServiceRecord> jobs;
    ASSERT_TRUE(shared->List({.mJob = "bump-pass"}, jobs, error));
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].mTime, RecordTime(Day(1).addSecs(120))); // the time the job ended, not the sync
}

INSTANTIATE_TEST_SUITE_P(Backends, SharedStoreTest, testing::Values(EBackend::kPostgres), BackendName);

// ---- SQLite files that cannot serve ----

namespace {

#ifndef _WIN32
// Runs fn as an unprivileged user when this process is root (root writes
// through any file mode); returns fn's result.
bool AsUnprivileged(const std::function<bool()> &fn)
{
    if (::geteuid() != 0)
        return fn();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(2);
        ::_exit(fn() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
#endif

} // namespace

TEST(RecordsSqlite, StoresThatCannotBeWrittenGiveAWarningLine)
{
#ifdef _WIN32
    GTEST_SKIP() << "read-only files and folders by POSIX modes, written as another user";
#else
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ::chmod(dir.path().toLocal8Bit().constData(), 0755);

    // A file of records made read-only (0400) for its owner.
    RStoreLocation ro;
    ro.mPath = dir.filePath("ro/records.sqlite");
    {
        TRecordJournal journal(ro, ro.mPath);
        RJobRecord j;
        j.mJob = "identify";
        ASSERT_EQ(journal.KeepNow(j), "");
    }
    ::chown(dir.filePath("ro").toLocal8Bit().constData(), 65534, 65534);
    ::chown(ro.mPath.toLocal8Bit().constData(), 65534, 65534);
    ::chmod(ro.mPath.toLocal8Bit().constData(), 0400);
    ::chmod(dir.filePath("ro").toLocal8Bit().constData(), 0500);
    const auto warns = [](const RStoreLocation &loc) {
        return AsUnprivileged([loc] {
            // Nor an outbox beside it: the record is not kept anywhere.
            TRecordJournal journal(loc, loc.mPath);
            RJobRecord j;
            j.mJob = "read";
            const std::string w = journal.KeepNow(j);
            return w.rfind("the service record was not kept: ", 0) == 0 && w.size() > 40 &&
                   w.find('\n') == std::string::npos;
        });
    };
    EXPECT_TRUE(warns(ro));

    // A folder that cannot be created, and one where no file can be made.
    RStoreLocation noFolder, noFile;
    noFolder.mPath = dir.filePath("ro/sub/records.sqlite");
    noFile.mPath = dir.filePath("ro/new.sqlite");
    EXPECT_TRUE(warns(noFolder));
    EXPECT_TRUE(warns(noFile));
    ::chmod(dir.filePath("ro").toLocal8Bit().constData(), 0700);
#endif
}

TEST(RecordsSqlite, NewStoreIsPrivateAndBadFilesAreRefused)
{
    QTemporaryDir dir;
    RStoreLocation loc;
    loc.mPath = dir.filePath("new/beamport/records.sqlite");
    QString error;
    {
        auto store = TRecordStore::Open(loc, error);
        ASSERT_TRUE(store) << error.toStdString();
        QSqlQuery q(store->Database());
        ASSERT_TRUE(q.exec("PRAGMA journal_mode") && q.next());
        EXPECT_EQ(q.value(0).toString(), "wal");
    }
#ifndef _WIN32 // POSIX modes (on Windows the folder is the user's own by its ACL)
    struct stat st{};
    ASSERT_EQ(::stat(loc.mPath.toLocal8Bit().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(dir.filePath("new/beamport").toLocal8Bit().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
#endif

    struct Case {
        const char *what;
        QByteArray content; // written to the file; empty: the path is a folder
        const char *message;
    };
    const Case cases[] = {
        {"garbage", QByteArray(4096, 'x'), "not a database"},
        {"a folder", {}, "is a folder"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        RStoreLocation bad;
        bad.mPath = dir.filePath(QString("bad-") + c.what);
        if (c.content.isEmpty()) {
            QDir().mkpath(bad.mPath);
        } else {
            QFile f(bad.mPath);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(c.content);
        }
        error.clear();
        EXPECT_FALSE(TRecordStore::Open(bad, error));
        EXPECT_TRUE(error.contains(c.message)) << error.toStdString();
        // The record is kept in the outbox beside it, the reason named.
        TRecordJournal journal(bad, bad.mPath);
        RJobRecord j;
        j.mJob = "read";
        const std::string w = journal.KeepNow(j);
        EXPECT_EQ(w.rfind("the service record was kept on this bench", 0), 0u) << w;
        EXPECT_NE(w.find(c.message), std::string::npos) << w;
    }
}

TEST_P(RecordsTest, ALocalStoreIsOpenedWhileTheJobRunsAndTakesItsRecordAfter)
{
    if (Postgres())
        GTEST_SKIP() << "a shared store is opened only when the record is kept";
    RStoreLocation early;
    early.mKind = EStoreKind::kSqlite;
    early.mPath = TempPath("early/records.sqlite");
    ASSERT_TRUE(QDir().mkpath(TempPath("early")));
    {
        TRecordJournal journal(early, TempPath("early/outbox.sqlite"));
        journal.Started("identify", Day(1));
        journal.Flush();
        EXPECT_TRUE(QFileInfo::exists(early.mPath)) << "opened while the job ran";
        RJobRecord j;
        j.mJob = "identify";
        j.mText = "Load Identify... OK";
        journal.Record(j, [](const std::string &w) { ADD_FAILURE() << w; });
        journal.Started("read", Day(1)); // a second job opens nothing more
        journal.Flush();
    }
    QString error;
    auto store = TRecordStore::Open(early, error);
    ASSERT_TRUE(store) << error.toStdString();
    const RVerifyResult v = store->Verify();
    EXPECT_TRUE(v.mIntact) << v.mReason.toStdString();
    EXPECT_EQ(v.mCount, 1);
}
