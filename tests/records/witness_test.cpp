// What a bench's witness, a signed head and the certificates table let
// verify see, and that every command that reads the store ends within its
// time-outs when another holds the records.
#include <algorithm>

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include "records/bench_key.h"
#include "records/witness.h"
#include "records_fixture.h"
#include "support/process.h"

namespace {

class WitnessTest : public RecordsTest {
protected:
    // beamport-cli on this case's store, as this bench (the tests' key
    // folder) or as another bench with a key folder of its own.
    ProcessResult Cli(const std::vector<std::string> &args, bool otherBench = false)
    {
        const QString config = otherBench ? TempPath("other-bench") : qEnvironmentVariable(kConfigHomeVar);
        return RunProcess(BEAMPORT_CLI, args,
                          {"BEAMPORT_RECORDS=" + StoreArg().toStdString(),
                           "XDG_DATA_HOME=" + TempPath("data").toStdString(), std::string(kConfigHomeVar) + "=" + config.toStdString()},
                          20);
    }
    std::vector<RServiceRecord> Fill(TRecordStore &store, const std::vector<RTestRecord> &records)
    {
        std::vector<RServiceRecord> out;
        for (const RTestRecord &t : records) {
            RServiceRecord r = MakeRecord(t);
            QString error;
            EXPECT_EQ(store.Append(r, error), EAppend::kAdded) << error.toStdString();
            out.push_back(r);
        }
        return out;
    }
    // The id sequence set back, as after the newest record never was.
    QString SequenceBackTo(qint64 id) const
    {
        return Postgres() ? QStringLiteral("SELECT setval('records_id_seq', %1)").arg(id)
                          : QStringLiteral("UPDATE sqlite_sequence SET seq = %1 WHERE name = 'records'").arg(id);
    }
};

const RTestRecord kRead{};
const RTestRecord kBump{.mJob = "bump-test", .mOutcome = "pass"};

} // namespace

TEST_P(WitnessTest, ANewestRecordRemovedWithHeadAndSequenceSetBackFailsOnTheBenchThatWroteIt)
{
    auto store = Open();
    ASSERT_TRUE(store);
    const auto written = Fill(*store, {kRead, kRead, kRead});
    ASSERT_EQ(Cli({"records", "verify"}).status, 0);

    AllowChanges(*store);
    Sql(*store, "DELETE FROM records WHERE id = 3");
    Sql(*store, QStringLiteral("UPDATE chain_head SET id = 2, hash = '%1'").arg(written[1].mHash));
    Sql(*store, SequenceBackTo(2));
    const ProcessResult here = Cli({"records", "verify"});
    EXPECT_EQ(here.status, 1) << here.out << here.err;
    EXPECT_EQ(here.out, "broken record: 3\n");
    EXPECT_NE(here.err.find("the newest this bench wrote to this store"), std::string::npos) << here.err;
    // Another bench, which wrote nothing here, has no witness to go by: the
    // limit the README names.
    EXPECT_EQ(Cli({"records", "verify"}, true).status, 0);

    // A witness that names the record with another hash says so too.
    QString error;
    const QFileInfo witness(WitnessPath(Location()));
    const RSignedHead other = SignHead(2, written[0].mHash, Location().Describe(), *store->BenchKey(error));
    QFile f(witness.filePath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(SignedHeadText(other).toUtf8());
    f.close();
    RVerifyResult v = store->Verify();
    EXPECT_EQ(v.mBrokenId, 2);
    EXPECT_TRUE(v.mReason.contains("is not the record this bench wrote")) << v.mReason.toStdString();
    // A damaged witness is said, never taken for the store's fault.
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("{\"id\":");
    f.close();
    v = store->Verify();
    EXPECT_TRUE(v.mIntact) << v.mReason.toStdString();
    ASSERT_EQ(v.mNotes.size(), 1);
    EXPECT_TRUE(v.mNotes[0].contains("could not be checked")) << v.mNotes[0].toStdString();
}

TEST_P(WitnessTest, AnEditedCertificatesTableFailsVerify)
{
    auto store = Open();
    ASSERT_TRUE(store);
    const auto written = Fill(*store, {kBump, kRead, kBump});
    QString error;
    for (const RServiceRecord &r : {written[0], written[2]})
        ASSERT_GT(store->Certificate(r, [](const QString &) { return true; }, error), 0) << error.toStdString();
    ASSERT_EQ(Cli({"records", "verify"}).status, 0);

    struct Edit {
        QString change, undo;
        const char *reason;
        qint64 broken;
    };
    const QString hash1 = written[0].mHash, hash3 = written[2].mHash;
    const QString setHash = QStringLiteral("UPDATE certificates SET record_hash = '%1' WHERE record_id = 3");
    const Edit edits[] = {
        {setHash.arg(hash1), setHash.arg(hash3), "names record 3 with hash", 3},
        {"UPDATE certificates SET record_id = 9 WHERE record_id = 1",
         "UPDATE certificates SET record_id = 1 WHERE record_id = 9", "names record 9, which is not in the store", 9},
        {"UPDATE certificates SET record_id = 2 WHERE record_id = 1",
         "UPDATE certificates SET record_id = 1 WHERE record_id = 2", "names record 2 with hash", 2},
    };
    for (const Edit &e : edits) {
        SCOPED_TRACE(e.change.toStdString());
        Sql(*store, e.change);
        const ProcessResult r = Cli({"records", "verify"});
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_EQ(r.out, "broken record: " + std::to_string(e.broken) + "\n");
        EXPECT_NE(r.err.find(e.reason), std::string::npos) << r.err;
        Sql(*store, e.undo);
    }
    EXPECT_EQ(Cli({"records", "verify"}).status, 0);
}

TEST_P(WitnessTest, ACertificateOfARecordThatFailsVerifyIsNeverMade)
{
    auto store = Open();
    ASSERT_TRUE(store);
    Fill(*store, {kRead, kBump});
    AllowChanges(*store);
    Sql(*store, "UPDATE records SET text = 'passed, honestly' WHERE id = 2");
    const QString pdf = TempPath("forged.pdf");
    const ProcessResult r = Cli({"certificate", "2", "--out", pdf.toStdString()});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("record 2 does not verify, so it has no certificate: record 2:"), std::string::npos) << r.err;
    EXPECT_FALSE(QFile::exists(pdf));
}

TEST_P(WitnessTest, ASignedHeadIsKeptAndCheckedBack)
{
    auto store = Open();
    ASSERT_TRUE(store);
    const auto written = Fill(*store, {kRead, kRead});
    const ProcessResult head = Cli({"records", "head", "--signed"});
    ASSERT_EQ(head.status, 0) << head.err;
    ASSERT_EQ(std::count(head.out.begin(), head.out.end(), '\n'), 1) << head.out;
    const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(head.out)).object();
    EXPECT_EQ(o.value("id").toInteger(), 2);
    EXPECT_EQ(o.value("hash").toString(), written[1].mHash);
    QString error;
    EXPECT_EQ(o.value("bench_key").toString(), store->BenchKey(error)->KeyId());
    const QString file = TempPath("head.json");
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray::fromStdString(head.out));
    f.close();
    Fill(*store, {kRead});

    std::string changedId = head.out, changedHash = head.out;
    changedId.replace(changedId.find("\"id\":2"), 6, "\"id\":1");
    const size_t at = changedHash.find(written[1].mHash.toStdString());
    changedHash.replace(at, 64, written[0].mHash.toStdString());
    struct Case {
        std::string head;
        int status;
        const char *message; // on stderr; empty: none
    };
    const Case cases[] = {
        {head.out, 0, ""},
        {file.toStdString(), 0, ""},
        {"2:" + written[1].mHash.toStdString(), 0, ""},
        {changedId, 1, "the signed head's signature is not the signature of bench key"},
        {changedHash, 1, "the signed head's signature is not the signature of bench key"},
        {"{\"id\":2}", 64, "it is not a signed head"},
        {TempPath("no-such-head").toStdString(), 64, "cannot be read"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.head);
        const ProcessResult r = Cli({"records", "verify", "--head", c.head});
        EXPECT_EQ(r.status, c.status) << r.err;
        if (*c.message) {
            EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        }
    }
    // The head kept, its record changed later: the signed head says so.
    AllowChanges(*store);
    Sql(*store, "UPDATE records SET text = 'x' WHERE id = 2");
    const ProcessResult r = Cli({"records", "verify", "--head", file.toStdString()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "broken record: 2\n");
}

TEST_P(WitnessTest, ReadsEndWithinTheirTimeOutsWhenTheRecordsAreLocked)
{
    if (!Postgres())
        GTEST_SKIP() << "SQLite readers are not held by a writer (WAL); its busy time-out is the same 2 s";
    auto holder = Open();
    ASSERT_TRUE(holder);
    Fill(*holder, {kRead});
    Sql(*holder, "BEGIN");
    Sql(*holder, "LOCK TABLE records IN ACCESS EXCLUSIVE MODE");
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"records"}, {"records", "verify"}, {"records", "head"}, {"records", "head", "--signed"},
          {"records", "show", "1"}, {"records", "export", "--out", TempPath("all.csv").toStdString()}}) {
        SCOPED_TRACE(args.back());
        const ProcessResult r = Cli(args); // a hang ends at the process time-out, with no status
        EXPECT_EQ(r.status, 69) << r.out << r.err;
        EXPECT_NE(r.err.find("timeout"), std::string::npos) << r.err; // the lock's or the statement's, whichever ends first
    }
    Sql(*holder, "ROLLBACK");
    EXPECT_EQ(Cli({"records", "verify"}).status, 0);
}

INSTANTIATE_TEST_SUITE_P(Backends, WitnessTest, testing::Values(EBackend::kSqlite, EBackend::kPostgres), BackendName);
