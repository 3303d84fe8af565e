// What someone who can write the database but holds no bench key can do to
// the chain, and how verify sees it: rewrite a record and refit the unkeyed
// chain, remove the newest record, edit a record while it waits in the
// outbox; and what the bench keys themselves allow.
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QSqlQuery>

#include "records/bench_key.h"
#include "records/journal_store.h"
#include "records_fixture.h"
#include "support/process.h"

namespace {

class ChainTest : public RecordsTest {
protected:
    std::vector<RServiceRecord> Fill(TRecordStore &store, int n)
    {
        std::vector<RServiceRecord> out;
        for (int i = 0; i < n; ++i) {
            RServiceRecord r = MakeRecord({.mTime = QDateTime(QDate(2026, 2, 1 + i), QTime(9, 0), Qt::UTC)});
            QString error;
            EXPECT_EQ(store.Append(r, error), EAppend::kAdded) << error.toStdString();
            out.push_back(r);
        }
        return out;
    }
    // As an attacker with a script would: the record rewritten, its hash
    // and every later prev and hash recomputed, the head moved along.
    void RewriteAndRefit(TRecordStore &store, qint64 id, const QString &serial)
    {
        QString error;
        std::optional<RChainHead> head = store.Head(error);
        QString prev;
        for (qint64 i = id; i <= head->mId; ++i) {
            RServiceRecord r = *store.Get(i, error);
            if (i == id)
                r.mSerial = serial;
            if (i > id)
                r.mPrev = prev;
            r.mHash = RecordHash(r);
            prev = r.mHash;
            Sql(store, QStringLiteral("UPDATE records SET serial = '%1', prev = '%2', hash = '%3' WHERE id = %4")
                           .arg(r.mSerial, r.mPrev, r.mHash)
                           .arg(i));
        }
        Sql(store, QStringLiteral("UPDATE chain_head SET hash = '%1'").arg(prev));
        Sql(store, QStringLiteral("UPDATE serials SET serial = serial"));
    }
};

} // namespace

TEST_P(ChainTest, ARefittedUnkeyedChainFailsOnItsSignature)
{
    auto store = Open();
    ASSERT_TRUE(store);
    Fill(*store, 4);
    AllowChanges(*store);
    RewriteAndRefit(*store, 2, QStringLiteral("SH99999999"));
    const RVerifyResult v = store->Verify();
    EXPECT_FALSE(v.mIntact);
    EXPECT_EQ(v.mBrokenId, 2) << v.mReason.toStdString();
    EXPECT_TRUE(v.mReason.contains("bad signature")) << v.mReason.toStdString();
}

TEST_P(ChainTest, RemovedNewestRecordIdsNeverReusedHeadsChecked)
{
    auto store = Open();
    ASSERT_TRUE(store);
    const auto written = Fill(*store, 3);
    QString error;
    const RChainHead earlier{2, written[1].mHash};
    EXPECT_TRUE(store->Verify(earlier).mIntact);
    EXPECT_EQ(store->Head(error)->mId, 3);
    // Heads checked on the intact store, each fault alone.
    RVerifyResult v = store->Verify({9, written[1].mHash});
    EXPECT_EQ(v.mBrokenId, 9) << "a head that never was";
    EXPECT_TRUE(v.mReason.contains("the record of the head given is missing")) << v.mReason.toStdString();
    v = store->Verify({2, written[0].mHash});
    EXPECT_EQ(v.mBrokenId, 2) << "a head whose record has another hash";
    EXPECT_TRUE(v.mReason.contains("it is not the record of the head given")) << v.mReason.toStdString();

    // The triggers refuse; dropped by someone with the database's rights, the
    // removal of the newest record, and nothing else, shows.
    QSqlQuery refused(store->Database());
    EXPECT_FALSE(refused.exec("DELETE FROM records WHERE id = 3"));
    EXPECT_FALSE(refused.exec("UPDATE records SET text = 'x' WHERE id = 1"));
    AllowChanges(*store);
    Sql(*store, "DELETE FROM records WHERE id = 3");
    v = store->Verify();
    EXPECT_FALSE(v.mIntact);
    EXPECT_EQ(v.mBrokenId, 3);
    EXPECT_TRUE(v.mReason.contains("newest record written, 3, is missing")) << v.mReason.toStdString();
    v = store->Verify(earlier);
    EXPECT_EQ(v.mBrokenId, 3) << "the earlier head is still there: only the removal shows";

    // A new record never takes the id of the removed one.
    RServiceRecord next = MakeRecord({});
    ASSERT_EQ(store->Append(next, error), EAppend::kAdded) << error.toStdString();
    EXPECT_EQ(next.mId, 4);
}

TEST_P(ChainTest, RevokedKeysAndUnknownKeys)
{
    auto store = Open();
    ASSERT_TRUE(store);
    const std::unique_ptr<TBenchKey> a = TBenchKey::Generate(), b = TBenchKey::Generate();
    store->SetBenchKey(a.get());
    Fill(*store, 2);
    store->SetBenchKey(b.get());
    Fill(*store, 1);
    QString error;
    std::vector<RBenchKeyRow> keys;
    ASSERT_TRUE(store->Keys(keys, error));
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].mPublicKey, a->PublicKeyHex());

    ASSERT_TRUE(store->RevokeKey(a->KeyId(), error)) << error.toStdString();
    EXPECT_FALSE(store->RevokeKey(a->KeyId(), error)) << "revoked once";
    EXPECT_TRUE(store->Verify().mIntact) << "records signed before the revocation stay valid";
    // The revoked bench writes no more; a record slipped in with its key fails.
    store->SetBenchKey(a.get());
    RServiceRecord late = MakeRecord({});
    EXPECT_EQ(store->Append(late, error), EAppend::kFailed);
    EXPECT_TRUE(error.contains("was revoked")) << error.toStdString();
    Sql(*store, Postgres() ? "BEGIN" : "BEGIN IMMEDIATE");
    Sql(*store, QStringLiteral("INSERT INTO bench_keys (key_id, event, public_key, bench, login, time, after_record) "
                               "VALUES ('%1', 'revoke', '%2', '', '', '2026-01-01T00:00:00.000Z', 1)")
                    .arg(a->KeyId(), a->PublicKeyHex()));
    RVerifyResult v = store->Verify();
    EXPECT_EQ(v.mBrokenId, 2);
    EXPECT_TRUE(v.mReason.contains("revoked")) << v.mReason.toStdString();
    Sql(*store, "ROLLBACK");
    // A key nobody registered.
    Sql(*store, Postgres() ? "BEGIN" : "BEGIN IMMEDIATE");
    Sql(*store, Postgres() ? "ALTER TABLE bench_keys DISABLE TRIGGER USER" : "DROP TRIGGER bench_keys_no_delete");
    Sql(*store, QStringLiteral("DELETE FROM bench_keys WHERE key_id = '%1'").arg(b->KeyId()));
    v = store->Verify();
    EXPECT_EQ(v.mBrokenId, 3);
    EXPECT_TRUE(v.mReason.contains("unknown key")) << v.mReason.toStdString();
    Sql(*store, "ROLLBACK");
}

INSTANTIATE_TEST_SUITE_P(Backends, ChainTest, testing::Values(EBackend::kSqlite, EBackend::kPostgres), BackendName);

// An outbox record edited before it is sent is refused, the others go.
TEST_P(ChainTest, OutboxRecordEditedBeforeSyncIsRefused)
{
    if (!Postgres())
        GTEST_SKIP() << "the outbox serves a shared store";
    RStoreLocation gone = Location();
    gone.mHost = TempPath("no-server");
    const QString local = TempPath("bench.sqlite");
    {
        TRecordJournal journal(gone, local);
        for (const char *job : {"read", "bump-pass"}) {
            RJobRecord j;
            j.mJob = job;
            j.mText = "done";
            EXPECT_NE(journal.KeepNow(j).find("kept on this bench"), std::string::npos);
        }
    }
    RStoreLocation bench;
    bench.mPath = local;
    QString error;
    {
        auto kept = TRecordStore::Open(bench, error);
        ASSERT_TRUE(kept) << error.toStdString();
        Sql(*kept, "UPDATE outbox SET record = REPLACE(record, '\"job\":\"read\"', '\"job\":\"calibration\"') WHERE seq = 1");
    }
    TRecordJournal journal(Location(), local);
    const RSyncResult r = journal.Sync();
    EXPECT_EQ(r.mSent, 1);
    ASSERT_EQ(r.mRefused.size(), 1);
    EXPECT_TRUE(r.mRefused[0].contains("changed after it was kept")) << r.mRefused[0].toStdString();
    auto shared = Open();
    EXPECT_EQ(shared->Count(error), 1);
    EXPECT_TRUE(shared->Verify().mIntact);
}

TEST(BenchKey, MadeOncePrivateNeverThroughALink)
{
#ifdef _WIN32
    GTEST_SKIP() << "POSIX modes of the key (test_windows checks its ACL)";
#else
    QTemporaryDir dir;
    const QString path = dir.filePath("cfg/beamport/bench.key");
    QString error;
    const std::unique_ptr<TBenchKey> first = TBenchKey::LoadOrCreate(path, error);
    ASSERT_TRUE(first) << error.toStdString();
    struct stat st{};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(QFile::encodeName(dir.filePath("cfg/beamport")).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    const std::unique_ptr<TBenchKey> again = TBenchKey::LoadOrCreate(path, error);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->KeyId(), first->KeyId());
    EXPECT_EQ(first->KeyId(), TBenchKey::KeyIdOfHex(first->PublicKeyHex()));
    EXPECT_EQ(first->KeyId().size(), 16);

    const QString hash(64, 'a');
    const QString sig = first->Sign(hash);
    EXPECT_TRUE(TBenchKey::Verify(first->PublicKeyHex(), hash, sig));
    EXPECT_FALSE(TBenchKey::Verify(first->PublicKeyHex(), QString(64, 'b'), sig));
    EXPECT_FALSE(TBenchKey::Verify(TBenchKey::Generate()->PublicKeyHex(), hash, sig));
    EXPECT_FALSE(TBenchKey::Verify(first->PublicKeyHex(), hash, "zz"));

    // Files that are not a private key of this user are refused, never used.
    const struct {
        const char *what;
        std::function<void(const QString &)> make;
    } bad[] = {
        {"readable by others", [](const QString &p) { ::chmod(QFile::encodeName(p).constData(), 0644); }},
        {"a link", [&](const QString &p) { QFile::link(path, p); }},
        {"short", [](const QString &p) {
             QFile f(p);
             f.open(QIODevice::WriteOnly);
             f.write("x");
             ::chmod(QFile::encodeName(p).constData(), 0600);
         }},
    };
    for (const auto &b : bad) {
        SCOPED_TRACE(b.what);
        const QString other = dir.filePath(QStringLiteral("cfg/beamport/%1.key").arg(QString::fromLatin1(b.what).left(5)));
        if (QString::fromLatin1(b.what) == "readable by others")
            QFile::copy(path, other);
        b.make(other);
        error.clear();
        EXPECT_FALSE(TBenchKey::LoadOrCreate(other, error));
        EXPECT_FALSE(error.isEmpty());
    }
#endif
}
