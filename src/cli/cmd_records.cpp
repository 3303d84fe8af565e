// records: the service records of the store in force (--records or
// BEAMPORT_RECORDS, else the default SQLite file).
//   records [--serial S] [--job J] [--since DATE] [--json]   newest first
//   records show ID [--json]
//   records head [--signed]   ID HASH of the newest record (--signed: a signed head, witness.h)
//   records verify [--head HEAD] [--org FINGERPRINT]   exit 0 when the chain is intact; 1 and the first broken record's id otherwise
//   records sync          sends the records this bench keeps to the store in force
//   records keys | records keys revoke KEYID | records keys approve KEYID --org-key FILE
//   records export --out FILE.csv
// A store that cannot be opened or read gives exit 69; a file that cannot be written 65.
#include <algorithm>
#include <iostream>
#include <memory>

#include <QJsonArray>
#include <QJsonDocument>
#include <QFileInfo>

#include "app/session.h"
#include "cli/cli_commands.h"
#include "records/bench_key.h"
#include "records/journal_store.h"
#include "records/record.h"
#include "records/store.h"
#include "records/witness.h"

namespace {

int StoreError(const QString &error)
{
    std::cerr << "beamport-cli: " << error.toStdString() << "\n";
    return kExitUnavailable;
}

// A text from the detector or a person, safe on a terminal.
std::string Shown(const QString &text) { return VisibleText(text).toStdString(); }

int UsageError(const std::string &error)
{
    std::cerr << "beamport-cli: " << error << "\n";
    return kExitUsage;
}

void PrintJson(const QJsonDocument &doc) { std::cout << doc.toJson(QJsonDocument::Indented).toStdString() << std::flush; }

// A record id: a whole number from 1 up.
bool ParseId(const std::string &text, qint64 &id)
{
    bool ok = false;
    id = QString::fromStdString(text).toLongLong(&ok);
    return ok && id > 0;
}

// Records this bench keeps for a shared store, as a note on stderr.
void NoteWaiting(const RStoreLocation &location)
{
    const TRecordJournal journal(location);
    RStoreLocation local;
    local.mKind = EStoreKind::kSqlite;
    local.mPath = journal.OutboxPath();
    if (!QFileInfo::exists(local.mPath))
        return;
    QString error;
    const std::unique_ptr<TRecordStore> store = TRecordStore::Open(local, error);
    const qint64 n = store ? store->OutboxCount(error, OutboxDest(location)) : 0;
    if (n > 0)
        std::cerr << "beamport-cli: " << n << " record(s) kept on this bench wait for `records sync`\n";
}

int List(const TSession &session, std::vector<std::string> &args)
{
    RRecordFilter filter;
    std::string serial, job, since;
    if (TakeOption(args, "--serial", serial))
        filter.mSerial = QString::fromStdString(serial);
    if (TakeOption(args, "--job", job))
        filter.mJob = QString::fromStdString(job);
    if (TakeOption(args, "--since", since)) {
        const QDateTime t = ParseRecordTime(QString::fromStdString(since));
        if (!t.isValid())
            return UsageError("--since \"" + since + "\" is not a date (YYYY-MM-DD or ISO 8601 time)");
        filter.mSince = RecordTime(t);
    }
    const bool json = TakeFlag(args, "--json");
    if (!args.empty())
        return UsageError("records: unexpected argument \"" + args.front() + "\"");
    QString error;
    const std::unique_ptr<TRecordStore> store = OpenStoreInForce(session, error);
    if (!store)
        return StoreError(error);
    std::vector<RServiceRecord> records;
    if (!store->List(filter, records, error))
        return StoreError(QStringLiteral("the records could not be read: ") + error);
    if (json) {
        QJsonArray array;
        for (const RServiceRecord &r : records)
            array.push_back(RecordToJson(r));
        PrintJson(QJsonDocument(array));
    } else {
        for (const RServiceRecord &r : records)
            std::cout << r.mId << "  " << r.mTime.toStdString() << "  " << r.mJob.toStdString() << "  "
                      << (r.mOutcome.isEmpty() ? "-" : r.mOutcome.toStdString()) << "  " << r.mStatus << "  "
                      << (r.mSerial.isEmpty() ? "-" : Shown(r.mSerial)) << "  " << Shown(r.mText)
                      << (r.mSimulated ? "  SIMULATED" : "") << "\n";
        std::cout << std::flush;
    }
    NoteWaiting(store->Location());
    return 0;
}

int Show(const TSession &session, std::vector<std::string> &args)
{
    const bool json = TakeFlag(args, "--json");
    qint64 id = 0;
    if (args.size() != 1 || !ParseId(args.front(), id))
        return UsageError("records show needs one record id (a whole number from 1 up)");
    QString error;
    const std::unique_ptr<TRecordStore> store = OpenStoreInForce(session, error);
    if (!store)
        return StoreError(error);
    const std::optional<RServiceRecord> r = store->Get(id, error);
    if (!r && error.isEmpty()) {
        std::cerr << "beamport-cli: there is no record " << id << "\n";
        return kExitFile;
    }
    if (!r)
        return StoreError(error);
    const QJsonObject o = RecordToJson(*r);
    if (json) {
        PrintJson(QJsonDocument(o));
        return 0;
    }
    for (const QString &name : RecordFieldNames()) {
        const QJsonValue v = o.value(name);
        std::cout << name.toStdString() << ": ";
        if (v.isObject())
            std::cout << QJsonDocument(v.toObject()).toJson(QJsonDocument::Indented).toStdString();
        else if (v.isBool())
            std::cout << (v.toBool() ? (name == QLatin1String("simulated") ? "true  SIMULATED" : "true") : "false")
                      << "\n";
        else
            std::cout << (v.isString() ? Shown(v.toString()) : QString::number(v.toInteger()).toStdString()) << "\n";
    }
    std::cout << std::flush;
    return 0;
}

// An organisation key's fingerprint: 64 hex digits (any case).
bool ParseFingerprint(const std::string &text, QString &fingerprint)
{
    fingerprint = QString::fromStdString(text).trimmed().toLower();
    static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{64}$"));
    return hex.match(fingerprint).hasMatch();
}

// The organisation key verify requires: --org, else [RECORDS] OrgKey; 0
// when fine, else the exit status (the reason said).
int TakeOrg(const TSession &session, std::vector<std::string> &args, QString &org)
{
    std::string text;
    if (TakeOption(args, "--org", text)) {
        if (!ParseFingerprint(text, org))
            return UsageError("--org needs the organisation key's fingerprint (64 hex digits, as `org-key init` "
                              "prints it)");
    } else if (!session.RecordsCFG.mOrgKey.empty() && !ParseFingerprint(session.RecordsCFG.mOrgKey, org)) {
        std::cerr << "beamport-cli: [RECORDS] OrgKey is not a fingerprint (64 hex digits, as `org-key init` "
                     "prints it)\n";
        return kExitRefused;
    }
    return 0;
}

// Without an organisation key to check against: which keys none approved.
void NoteUnapproved(TRecordStore &store)
{
    std::vector<RBenchKeyRow> keys;
    QString error;
    if (!store.Keys(keys, error))
        return;
    QStringList unapproved;
    for (const RBenchKeyRow &k : keys)
        if (std::none_of(k.mApprovals.begin(), k.mApprovals.end(), [](const RKeyApproval &a) { return a.mSignatureGood; }))
            unapproved << k.mKeyId;
    if (!unapproved.isEmpty())
        std::cerr << "beamport-cli: bench key(s) no organisation key approved: "
                  << unapproved.join(QStringLiteral(", ")).toStdString() << " (`records verify --org` fails on "
                  << "their records)\n";
}

int Verify(const TSession &session, std::vector<std::string> &args)
{
    std::string headText;
    RChainHead head;
    if (TakeOption(args, "--head", headText)) {
        QString why;
        const EHeadArgument given = ReadHeadArgument(QString::fromStdString(headText), head, why);
        if (given == EHeadArgument::kUnreadable)
            return UsageError("--head needs ID:HASH as `records head` prints it (the id and 64 hex digits), a signed "
                              "head as `records head --signed` prints it, or a file holding one: " +
                              why.toStdString());
        if (given == EHeadArgument::kForged) {
            std::cerr << "beamport-cli: the head given does not hold: " << why.toStdString() << "\n";
            return kExitFound;
        }
    }
    QString org;
    if (const int code = TakeOrg(session, args, org); code != 0)
        return code;
    if (!args.empty())
        return UsageError("records verify takes only --head HEAD and --org FINGERPRINT");
    QString error;
    const std::unique_ptr<TRecordStore> store = OpenStoreInForce(session, error);
    if (!store)
        return StoreError(error);
    store->RequireOrgApproval(org);
    const RVerifyResult v = store->Verify(head);
    for (const QString &note : v.mNotes)
        std::cerr << "beamport-cli: " << note.toStdString() << "\n";
    if (!v.mError.isEmpty())
        return StoreError(QStringLiteral("the records could not be read: ") + v.mError);
    if (!v.mIntact) {
        std::cout << "broken record: " << v.mBrokenId << "\n" << std::flush;
        std::cerr << "beamport-cli: record " << v.mBrokenId << " does not fit the chain: " << v.mReason.toStdString()
                  << "\n";
        return kExitFound;
    }
    std::cout << "records intact: " << v.mCount << "\n" << std::flush;
    if (org.isEmpty())
        NoteUnapproved(*store);
    if (v.mLegacy > 0)
        std::cerr << "beamport-cli: " << v.mLegacy
                  << " record(s) before the migration record follow the old rule: hashed, not signed\n";
    return 0;
}

// The newest record, signed by this bench's key: a line an auditor keeps.
int PrintSignedHead(TRecordStore &store)
{
    QString error;
    if (!store.Head(error))
        return error.isEmpty() ? (std::cerr << "beamport-cli: the store holds no record yet\n", kExitFound)
                               : StoreError(error);
    RSignedHead head;
    if (!store.SignedHead(head, error)) {
        // The store answered a moment ago: what failed is this bench's key.
        std::cerr << "beamport-cli: the head could not be signed: " << error.toStdString() << "\n";
        return kExitFile;
    }
    std::cout << SignedHeadText(head).toStdString() << "\n" << std::flush;
    return 0;
}

int Head(const TSession &session, std::vector<std::string> &args)
{
    const bool sign = TakeFlag(args, "--signed");
    if (!args.empty())
        return UsageError("records head takes only --signed");
    QString error;
    const std::unique_ptr<TRecordStore> store = OpenStoreInForce(session, error);
    if (!store)
        return StoreError(error);
    if (sign)
        return PrintSignedHead(*store);
    const std::optional<RChainHead> head = store->Head(error);
    if (!head)
        return error.isEmpty() ? (std::cerr << "beamport-cli: the store holds no record yet\n", kExitFound)
                               : StoreError(error);
    std::cout << head->mId << " " << head->mHash.toStdString() << "\n" << std::flush;
    return 0;
}

// The state of a key as `records keys` shows it.
std::string KeyState(const RBenchKeyRow &k)
{
    std::string state = k.mRevoked.isEmpty() ? std::string("in force")
                                              : "revoked " + k.mRevoked.toStdString() + " after record " +
                                                    std::to_string(k.mRevokedAfter.value_or(0));
    bool approved = false;
    for (const RKeyApproval &a : k.mApprovals) {
        state += a.mSignatureGood ? "  approved by " + a.mOrgFingerprint.toStdString() + " " + a.mTime.toStdString()
                                  : "  BAD APPROVAL (its signature does not hold) " + a.mTime.toStdString();
        approved = approved || a.mSignatureGood;
    }
    return approved ? state : state + "  unapproved";
}

int Approve(const TSession &session, std::vector<std::string> &args)
{
    std::string file;
    if (!TakeOption(args, "--org-key", file) || args.size() != 1)
        return UsageError("records keys approve KEYID --org-key FILE");
    QString error;
    const std::unique_ptr<TBenchKey> org = TBenchKey::Load(QString::fromStdString(file), error);
    if (!org) {
        std::cerr << "beamport-cli: " << error.toStdString() << "\n";
        return kExitFile;
    }
    const std::unique_ptr<TRecordStore> store = OpenStoreInForce(session, error);
    if (!store)
        return StoreError(error);
    bool already = false;
    if (!store->ApproveKey(QString::fromStdString(args.front()), *org, error, &already)) {
        std::cerr << "beamport-cli: " << error.toStdString() << "\n";
        return kExitRefused;
    }
    std::cout << (already ? "already approved " : "approved ") << args.front() << " by organisation key "
              << org->Fingerprint().toStdString() << "\n"
              << std::flush;
    return 0;
}

int Keys(const TSession &session, std::vector<std::string> &args)
{
    if (!args.empty() && args.front() == "approve") {
        args.erase(args.begin());
        return Approve(session, args);
    }
    const bool revoke = !args.empty() && args.front() == "revoke";
    if (revoke)
        args.erase(args.begin());
    if (revoke ? args.size() != 1 : !args.empty())
        return UsageError("records keys lists the bench keys; records keys revoke KEYID revokes one; records keys "
                          "approve KEYID --org-key FILE approves one");
    QString error;
    const std::unique_ptr<TRecordStore> store = OpenStoreInForce(session, error);
    if (!store)
        return StoreError(error);
    if (revoke) {
        if (!store->RevokeKey(QString::fromStdString(args.front()), error)) {
            std::cerr << "beamport-cli: " << error.toStdString() << "\n";
            return kExitRefused;
        }
        std::cout << "revoked " << args.front() << ": records it signs from now on do not verify\n" << std::flush;
        return 0;
    }
    std::vector<RBenchKeyRow> keys;
    if (!store->Keys(keys, error))
        return StoreError(error);
    for (const RBenchKeyRow &k : keys)
        std::cout << k.mKeyId.toStdString() << "  " << Shown(k.mBench) << "  " << Shown(k.mUser) << "  registered "
                  << k.mRegistered.toStdString() << "  " << KeyState(k) << "\n";
    std::cout << std::flush;
    return 0;
}

int Sync(const TSession &session, std::vector<std::string> &args)
{
    if (!args.empty())
        return UsageError("records sync takes no arguments");
    RStoreLocation location;
    QString error;
    if (!ResolveStoreLocation(session.RecordsChoice, location, error))
        return StoreError(error);
    if (location.mKind == EStoreKind::kOff)
        return StoreError(QStringLiteral("records are off"));
    TRecordJournal journal(location);
    journal.NameSensorsBy(session.SensorTypes);
    const RSyncResult r = journal.Sync();
    std::cout << "sent " << r.mSent << ", already there " << r.mAlreadyThere << ", waiting " << r.mLeft << "\n"
              << std::flush;
    for (const QString &line : r.mRefused + r.mUnsigned)
        std::cerr << "beamport-cli: " << line.toStdString() << "\n";
    if (!r.mError.isEmpty())
        return StoreError(r.mError);
    return r.mRefused.isEmpty() && r.mUnsigned.isEmpty() ? 0 : kExitFound;
}

int Export(const TSession &session, std::vector<std::string> &args)
{
    std::string out;
    if (!TakeOption(args, "--out", out) || !args.empty())
        return UsageError("records export needs --out FILE.csv and nothing else");
    QString error;
    const std::unique_ptr<TRecordStore> store = OpenStoreInForce(session, error);
    if (!store)
        return StoreError(error);
    std::vector<RServiceRecord> records;
    RRecordFilter all;
    if (!store->List(all, records, error))
        return StoreError(QStringLiteral("the records could not be read: ") + error);
    std::string why;
    if (!WriteRecordsCsv(records, out, &why)) {
        std::cerr << "beamport-cli: " << out << " could not be written: " << why << "\n";
        return kExitFile;
    }
    std::cout << records.size() << " records written to " << out << "\n" << std::flush;
    return 0;
}

int Records(CliContext &c)
{
    std::vector<std::string> args = c.args;
    const std::string sub = args.empty() ? std::string() : args.front();
    if (sub == "show" || sub == "verify" || sub == "sync" || sub == "export" || sub == "head" || sub == "keys")
        args.erase(args.begin());
    const int code = sub == "show"     ? Show(c.session, args)
                     : sub == "head"   ? Head(c.session, args)
                     : sub == "verify" ? Verify(c.session, args)
                     : sub == "sync"   ? Sync(c.session, args)
                     : sub == "keys"   ? Keys(c.session, args)
                     : sub == "export" ? Export(c.session, args)
                                       : List(c.session, args);
    c.usageReported = code == kExitUsage; // each of them says what was wrong
    return code;
}

} // namespace

CliEntry RecordsCommand()
{
    return {"records",
            "records [--serial S] [--job J] [--since DATE] [--json]\n"
            "records show ID [--json] | records head [--signed]\n"
            "records verify [--head ID:HASH|SIGNED-HEAD|FILE] [--org FINGERPRINT] | records sync\n"
            "records keys | records keys revoke KEYID | records keys approve KEYID --org-key FILE\n"
            "records export --out FILE.csv",
            "service records, newest first",
            "The service records of the store in force (--records, else BEAMPORT_RECORDS, else the local SQLite "
            "file), newest first, one line each (id, time, job, outcome, status, serial, text; SIMULATED for a "
            "simulated detector). `show ID` prints one record; `head` the id and hash of the newest (--signed: one "
            "line of JSON signed by this bench's key, for an auditor to keep); `verify` checks the chain: each "
            "record's hash and signature, that nothing was removed, that the newest record this bench wrote there "
            "(its witness) is still there unchanged, and that every certificate names a record of the chain with "
            "its hash (exit 1 and the first broken record's id); --head also checks that an earlier head (ID:HASH "
            "as a certificate prints it, a signed head, or a file holding one) is still in it unchanged, and a "
            "signed head's signature; --org FINGERPRINT (else [RECORDS] OrgKey) also fails on a record whose bench "
            "key that organisation key did not approve (without it, verify names the keys no organisation approved). "
            "`sync` sends the records this bench kept while the store could not take them (exit 1 when a kept record "
            "was changed or made with a revoked key: it is not sent; or when records kept unsigned wait for a good "
            "bench key: they are signed when sent, with data.signed_at); `keys` lists the bench keys that signed, "
            "with their approvals, `keys revoke KEYID` revokes one, `keys approve KEYID --org-key FILE` approves one "
            "with the organisation key (`org-key init`); `export` writes all records as CSV. A store that cannot be "
            "opened, or does not answer within 2 s (a held lock, a statement that does not end), exits 69.",
            {{"--serial S", "only the records of the detector with serial number S"},
             {"--job J", "only the records of one job (identify, read, write, ..., sensor-cal)"},
             {"--since DATE", "only the records from DATE on (YYYY-MM-DD or an ISO 8601 time)"},
             {"--json", "a JSON array of the records (one record object for show): exactly the hashed object plus "
                        "hash and sig"},
             {"--signed", "head: the head signed by this bench's key (one line of JSON)"},
             {"--head HEAD", "verify: an earlier head that must still be in the chain: ID:HASH, a signed head, or a "
                             "file holding one"},
             {"--org FINGERPRINT", "verify: every signed record's bench key must be approved by this organisation key"},
             {"--org-key FILE", "keys approve: the organisation key file that signs the approval"},
             {"--out FILE.csv", "export: the file the records go to"}},
            Records,
            ECliKind::kLocal};
}
