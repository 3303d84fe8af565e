// Keys and the trust root, as someone without the keys would go at them: a
// key of one's own registered and the bench's row removed, records made
// while a key was revoked passed on under a new one, a template refitted, an
// outbox record refitted; and a bench key file that is not sound, which must
// never cost a job its record.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlQuery>

#include "records/bench_key.h"
#include "records/jcs.h"
#include "records/journal_store.h"
#include "records/templates.h"
#include "records/witness.h"
#include "records_fixture.h"
#include "support/process.h"

namespace {

// Bench keys of this scope made and read in a folder of its own.
class ScopedConfigHome {
public:
    explicit ScopedConfigHome(const QString &dir) : FOld(qgetenv(kConfigHomeVar))
    {
        qputenv(kConfigHomeVar, QFile::encodeName(dir));
    }
    ~ScopedConfigHome() { qputenv(kConfigHomeVar, FOld); }

private:
    QByteArray FOld;
};

class TrustTest : public RecordsTest {
protected:
    // n records of job read; the second one failed.
    void Fill(TRecordStore &store, int n)
    {
        for (int i = 0; i < n; ++i) {
            RServiceRecord r = MakeRecord({.mStatus = i == 1 ? 3 : 0,
                                           .mTime = QDateTime(QDate(2026, 3, 1 + i), QTime(9, 0), Qt::UTC)});
            QString error;
            ASSERT_EQ(store.Append(r, error), EAppend::kAdded) << error.toStdString();
        }
    }
    // What an owner of the database may do to bench_keys (the triggers gone).
    void AllowKeyChanges(TRecordStore &store)
    {
        if (Postgres()) {
            Sql(store, "ALTER TABLE bench_keys DISABLE TRIGGER USER");
        } else {
            Sql(store, "DROP TRIGGER bench_keys_no_update");
            Sql(store, "DROP TRIGGER bench_keys_no_delete");
        }
    }
    // Every record re-signed by `key`, the failed one made a success, the
    // chain and its head refitted: what a key of one's own allows.
    void Resign(TRecordStore &store, const TBenchKey &key)
    {
        QString error, prev = kGenesisHash;
        const qint64 newest = store.Head(error)->mId;
        for (qint64 id = 1; id <= newest; ++id) {
            RServiceRecord r = *store.Get(id, error);
            if (r.mStatus != 0) {
                r.mStatus = 0;
                r.mOutcome = QStringLiteral("success");
            }
            r.mPrev = prev;
            r.mBenchKey = key.KeyId();
            r.mHash = RecordHash(r);
            r.mSig = key.Sign(r.mHash);
            prev = r.mHash;
            Sql(store, QStringLiteral("UPDATE records SET status = %1, outcome = '%2', prev = '%3', bench_key = '%4', "
                                      "hash = '%5', sig = '%6' WHERE id = %7")
                           .arg(r.mStatus)
                           .arg(r.mOutcome, r.mPrev, r.mBenchKey, r.mHash, r.mSig)
                           .arg(id));
        }
        Sql(store, QStringLiteral("UPDATE chain_head SET hash = '%1'").arg(prev));
    }
    // A place for a store that cannot be opened now and can be later (Reach).
    RStoreLocation Unreachable()
    {
        RStoreLocation gone = Location();
        if (Postgres()) {
            gone.mHost = TempPath("no-server");
        } else {
            std::ofstream(TempPath("later").toStdString()) << "a file where the folder should be";
            gone.mPath = TempPath("later/records.sqlite");
        }
        return gone;
    }
    RStoreLocation Reach(const RStoreLocation &gone) const
    {
        if (Postgres())
            return Location();
        QFile::remove(TempPath("later"));
        return gone;
    }
    ProcessResult Cli(const std::vector<std::string> &args, const QString &home)
    {
        return RunProcess(BEAMPORT_CLI, args,
                          {"BEAMPORT_RECORDS=" + StoreArg().toStdString(), "BEAMPORT_PORT=",
                           "XDG_DATA_HOME=" + (home + "/data").toStdString(),
                           std::string(kConfigHomeVar) + "=" + (home + "/config").toStdString()});
    }
};

} // namespace

INSTANTIATE_TEST_SUITE_P(Backends, TrustTest, testing::Values(EBackend::kSqlite, EBackend::kPostgres), BackendName);

TEST_P(TrustTest, OwnKeyRegisteredAndTheBenchsRowRemovedFailsVerifyWithTheOrganisationKey)
{
    auto store = Open();
    ASSERT_TRUE(store);
    const auto bench = TBenchKey::Generate(), org = TBenchKey::Generate(), own = TBenchKey::Generate();
    store->SetBenchKey(bench.get());
    Fill(*store, 3);
    QString error;
    bool already = true;
    ASSERT_TRUE(store->ApproveKey(bench->KeyId(), *org, error, &already)) << error.toStdString();
    EXPECT_FALSE(already);
    ASSERT_TRUE(store->ApproveKey(bench->KeyId(), *org, error, &already));
    EXPECT_TRUE(already) << "approved once";
    EXPECT_FALSE(store->ApproveKey("0123456789abcdef", *org, error));
    store->RequireOrgApproval(org->Fingerprint());
    EXPECT_TRUE(store->Verify().mIntact);

    // bench_keys only grows.
    QSqlQuery q(store->Database());
    EXPECT_FALSE(q.exec("UPDATE bench_keys SET bench = 'elsewhere'"));
    EXPECT_FALSE(q.exec("DELETE FROM bench_keys"));

    // Their own key registered, the bench's rows removed, every record re-signed.
    ASSERT_TRUE(store->RegisterKey(*own, error)) << error.toStdString();
    AllowChanges(*store);
    AllowKeyChanges(*store);
    Sql(*store, QStringLiteral("DELETE FROM bench_keys WHERE key_id = '%1'").arg(bench->KeyId()));
    Resign(*store, *own);
    store->RequireOrgApproval({});
    // The bench that wrote the newest record sees it by its witness; an
    // auditor elsewhere has none, and without the organisation's key nothing shows.
    EXPECT_FALSE(store->Verify().mIntact) << "this bench's witness names the record before it was re-signed";
    ASSERT_TRUE(QFile::remove(WitnessPath(Location())));
    EXPECT_TRUE(store->Verify().mIntact) << "without the organisation's key nothing shows";
    store->RequireOrgApproval(org->Fingerprint());
    RVerifyResult v = store->Verify();
    EXPECT_FALSE(v.mIntact);
    EXPECT_EQ(v.mBrokenId, 1);
    EXPECT_TRUE(v.mReason.contains("did not approve")) << v.mReason.toStdString();
    // The command line: --org, or the fingerprint in the settings; keys shows who approved what.
    QTemporaryDir home;
    const std::string fingerprint = org->Fingerprint().toStdString();
    std::ofstream(home.filePath("org.ini").toStdString()) << "[RECORDS]\nOrgKey=" << fingerprint << "\n";
    ProcessResult r = Cli({"records", "verify", "--org", fingerprint}, home.path());
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("did not approve"), std::string::npos) << r.err;
    EXPECT_EQ(Cli({"--ini", home.filePath("org.ini").toStdString(), "records", "verify"}, home.path()).status, 1);
    r = Cli({"records", "verify"}, home.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("no organisation key approved: " + own->KeyId().toStdString()), std::string::npos) << r.err;
    EXPECT_EQ(Cli({"records", "verify", "--org", "12ab"}, home.path()).status, 64);
    r = Cli({"records", "keys"}, home.path());
    EXPECT_NE(r.out.find("unapproved"), std::string::npos) << r.out;
    // An approval of their key signed by their own key is no approval by the organisation.
    ASSERT_TRUE(store->ApproveKey(own->KeyId(), *own, error)) << error.toStdString();
    EXPECT_FALSE(store->Verify().mIntact);

    // The organisation's own key file approves from the command line.
    EXPECT_EQ(Cli({"org-key", "init", "--out", home.filePath("org.key").toStdString()}, home.path()).status, 0);
    r = Cli({"org-key", "init", "--out", home.filePath("org.key").toStdString()}, home.path());
    EXPECT_EQ(r.status, 65) << "never overwritten";
    error.clear();
    const auto orgFile = TBenchKey::Load(home.filePath("org.key"), error);
    ASSERT_TRUE(orgFile) << error.toStdString();
    r = Cli({"records", "keys", "approve", own->KeyId().toStdString(), "--org-key", home.filePath("org.key").toStdString()},
            home.path());
    EXPECT_EQ(r.status, 0) << r.err;
    r = Cli({"records", "verify", "--org", orgFile->Fingerprint().toStdString()}, home.path());
    EXPECT_EQ(r.status, 0) << "approved by that organisation after all: " << r.err;
}

TEST_P(TrustTest, RecordsMadeWhileTheKeyWasRevokedAreNeverSignedByAnother)
{
    QTemporaryDir config;
    const ScopedConfigHome home(config.path());
    const QString local = TempPath("bench.sqlite");
    RJobRecord job;
    job.mJob = "read";
    job.mText = "done";
    {
        TRecordJournal journal(Location(), local);
        ASSERT_EQ(journal.KeepNow(job), "");
    }
    auto store = Open();
    std::vector<RBenchKeyRow> keys;
    QString error;
    ASSERT_TRUE(store->Keys(keys, error));
    ASSERT_EQ(keys.size(), 1u);
    ASSERT_TRUE(store->RevokeKey(keys[0].mKeyId, error)) << error.toStdString();
    {
        TRecordJournal journal(Location(), local);
        job.mJob = "bump-pass";
        const std::string w = journal.KeepNow(job);
        EXPECT_NE(w.find("kept on this bench"), std::string::npos) << w;
        EXPECT_NE(w.find("was revoked"), std::string::npos) << w;
    }
    // The key file moved away: a new key, whose records go; the one made
    // while the old key was revoked stays where it is.
    ASSERT_TRUE(QFile::rename(config.filePath("beamport/bench.key"), config.filePath("beamport/revoked.key")));
    TRecordJournal journal(Location(), local);
    job.mJob = "identify";
    EXPECT_EQ(journal.KeepNow(job), "");
    const RSyncResult r = journal.Sync();
    EXPECT_EQ(r.mSent, 0);
    EXPECT_EQ(r.mLeft, 1);
    ASSERT_EQ(r.mRefused.size(), 1);
    EXPECT_TRUE(r.mRefused[0].contains("revoked")) << r.mRefused[0].toStdString();
    EXPECT_EQ(store->Count(error), 2);
    EXPECT_TRUE(store->Verify().mIntact);
}

TEST_P(TrustTest, TemplatesRefittedWithoutTheKeyAreRefused)
{
    QTemporaryDir home;
    auto store = Open();
    ASSERT_TRUE(store);
    QString error;
    RConfigTemplate tpl;
    tpl.mName = "site";
    tpl.mSensor = 1;
    tpl.mFields = {{FindConfigField("mUserID"), {{}, "SITE-A"}}};
    RConfigTemplate other = tpl;
    other.mName = "other";
    for (RConfigTemplate *t : {&tpl, &other})
        ASSERT_TRUE(SaveTemplate(*store, *t, "bench-1", "tech", error)) << error.toStdString();
    const auto loaded = LoadTemplate(*store, "site", 0, error);
    ASSERT_TRUE(loaded) << error.toStdString();
    EXPECT_EQ(loaded->mKeyId.size(), 16);

    // Fields rewritten and the hash recomputed: the signature does not hold.
    const std::vector<RTemplateField> forged = {{FindConfigField("mUserID"), {{}, "FORGED"}}};
    Sql(*store, QStringLiteral("UPDATE templates SET fields = '%1', hash = '%2' WHERE name = 'site'")
                    .arg(QString::fromUtf8(Jcs(TemplateFieldsToJson(forged))), TemplateHash("site", forged)));
    const struct {
        const char *sql; // run before the load; nullptr: none
        const char *reason;
    } cases[] = {
        {nullptr, "good signature"},
        // Written with no key at all, as versions saved before they were signed are.
        {"UPDATE templates SET key_id = '', sig = '' WHERE name = 'site'", "saved before templates were signed"},
    };
    for (const auto &c : cases) {
        if (c.sql)
            Sql(*store, c.sql);
        bool refused = false;
        EXPECT_FALSE(LoadTemplate(*store, "site", 0, error, &refused));
        EXPECT_TRUE(refused);
        EXPECT_TRUE(error.contains(c.reason)) << error.toStdString();
        const ProcessResult show = Cli({"template", "show", "site"}, home.path());
        EXPECT_EQ(show.status, 65) << show.err;
        EXPECT_NE(show.err.find(c.reason), std::string::npos) << show.err;
        const ProcessResult program = Cli({"--simulate", "program", "site", "--count", "1", "--yes"}, home.path());
        EXPECT_EQ(program.status, 65) << program.err;
    }
    std::vector<RStoredTemplate> list;
    ASSERT_TRUE(ListTemplates(*store, list, error));
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].mFault, "");
    EXPECT_NE(list[1].mFault, "");

    // A version whose key was revoked since is not used either.
    ASSERT_TRUE(store->RevokeKey(loaded->mKeyId, error)) << error.toStdString();
    bool refused = false;
    EXPECT_FALSE(LoadTemplate(*store, "other", 0, error, &refused));
    EXPECT_TRUE(error.contains("revoked")) << error.toStdString();
}

TEST_P(TrustTest, OutboxRecordRefittedWithoutTheKeyIsNotSent)
{
    const RStoreLocation gone = Unreachable();
    const QString local = TempPath("bench.sqlite");
    {
        TRecordJournal journal(gone, local);
        for (const char *name : {"read", "bump-pass"}) {
            RJobRecord job;
            job.mJob = name;
            job.mText = "done";
            EXPECT_NE(journal.KeepNow(job).find("kept on this bench"), std::string::npos);
        }
    }
    RStoreLocation bench;
    bench.mPath = local;
    QString error;
    {
        auto kept = TRecordStore::Open(bench, error);
        ASSERT_TRUE(kept) << error.toStdString();
        std::vector<RServiceRecord> waiting;
        ASSERT_TRUE(kept->Outbox(waiting, error, OutboxDest(gone)));
        ASSERT_EQ(waiting.size(), 2u);
        // The text changed and the hash recomputed, as anyone could without the key.
        RServiceRecord r = waiting[0];
        r.mText = QStringLiteral("Send Bump Pass... OK");
        r.mHash = OutboxHash(r);
        QSqlQuery q(kept->Database());
        q.prepare("UPDATE outbox SET record = ? WHERE uid = ?");
        q.addBindValue(QString::fromUtf8(QJsonDocument(RecordToJson(r)).toJson(QJsonDocument::Compact)));
        q.addBindValue(r.mUid);
        ASSERT_TRUE(q.exec());
    }
    TRecordJournal journal(Reach(gone), local);
    const RSyncResult r = journal.Sync();
    EXPECT_EQ(r.mSent, 1);
    ASSERT_EQ(r.mRefused.size(), 1);
    EXPECT_TRUE(r.mRefused[0].contains("bad signature")) << r.mRefused[0].toStdString();
}

// Whatever is wrong with the bench key file, a job that exits 0 keeps its
// record: unsigned in the outbox, the reason said, and sent by `records
// sync`, signed and with signed_at, once there is a good key.
TEST_P(TrustTest, NoJobThatExitsZeroLosesItsRecordUnderAKeyFault)
{
#ifdef _WIN32
    GTEST_SKIP() << "key faults made by POSIX modes";
#else
    const auto goodKey = [](const QString &path) {
        QString error;
        QDir().mkpath(QFileInfo(path).absolutePath());
        EXPECT_TRUE(TBenchKey::LoadOrCreate(path, error)) << error.toStdString();
    };
    const struct {
        const char *what;
        std::function<void(const QString &home, const QString &key)> make;
    } faults[] = {
        {"missing, cannot be made",
         [](const QString &home, const QString &) { std::ofstream((home + "/config/beamport").toStdString()) << "x"; }},
        {"corrupt, 7 bytes",
         [](const QString &, const QString &key) {
             QDir().mkpath(QFileInfo(key).absolutePath());
             std::ofstream(key.toStdString()) << "1234567";
             ::chmod(QFile::encodeName(key).constData(), 0600);
         }},
        {"halves that do not belong together",
         [&](const QString &, const QString &key) {
             goodKey(key);
             std::fstream f(key.toStdString(), std::ios::in | std::ios::out | std::ios::binary);
             f.seekp(40);
             f.put('\x5a');
         }},
        {"a link",
         [&](const QString &home, const QString &key) {
             goodKey(home + "/elsewhere/bench.key");
             QDir().mkpath(QFileInfo(key).absolutePath());
             ASSERT_TRUE(QFile::link(home + "/elsewhere/bench.key", key));
         }},
        {"mode 0644",
         [&](const QString &, const QString &key) {
             goodKey(key);
             ::chmod(QFile::encodeName(key).constData(), 0644);
         }},
        {"unreadable",
         [&](const QString &, const QString &key) {
             goodKey(key);
             // Nothing is unreadable to root: a folder in its place is.
             if (::geteuid() == 0) {
                 QFile::remove(key);
                 QDir().mkpath(key);
             } else {
                 ::chmod(QFile::encodeName(key).constData(), 0);
             }
         }},
    };
    for (const auto &fault : faults) {
        SCOPED_TRACE(fault.what);
        QTemporaryDir dir;
        const QString home = dir.path(), key = home + "/config/beamport/bench.key";
        QDir().mkpath(home + "/config");
        fault.make(home, key);
        ProcessResult r = Cli({"--simulate", "identify"}, home);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find("the service record was kept unsigned on this bench: "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("records sync"), std::string::npos) << r.err;
        r = Cli({"records", "sync"}, home);
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find("waits unsigned"), std::string::npos) << r.err;

        // A good key: the record goes, signed now and saying when.
        QDir(home + "/config/beamport").removeRecursively();
        QFile::remove(home + "/config/beamport");
        r = Cli({"records", "sync"}, home);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "sent 1, already there 0, waiting 0\n");
        r = Cli({"records", "--json"}, home);
        const QJsonObject newest = QJsonDocument::fromJson(QByteArray::fromStdString(r.out)).array().first().toObject();
        EXPECT_EQ(newest.value("job").toString(), "identify");
        EXPECT_TRUE(newest.value("data").toObject().contains("signed_at")) << r.out;
        EXPECT_EQ(Cli({"records", "verify"}, home).status, 0);
    }
#endif
}
