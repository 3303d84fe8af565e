// records: the service records of the store in force (--records or
// BEAMPORT_RECORDS, else the default SQLite file).
//   records [--serial S] [--job J] [--since DATE] [--json]   newest first
//   records show ID [--json]
//   records verify        exit 0 when the chain is intact; 1 and the first broken record's id otherwise
//   records sync          sends the records this bench keeps to the shared store
//   records export --out FILE.csv
// A store that cannot be opened, read or written gives exit 65.
#include <iostream>
#include <memory>

#include <QJsonArray>
#include <QJsonDocument>
#include <QFileInfo>

#include "app/session.h"
#include "cli/cli_commands.h"
#include "records/journal_store.h"
#include "records/record.h"
#include "records/store.h"

namespace {

int StoreError(const QString &error)
{
    std::cerr << "beamport-cli: " << error.toStdString() << "\n";
    return kExitFile;
}

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
    if (location.mKind != EStoreKind::kPostgres)
        return;
    RStoreLocation local;
    local.mKind = EStoreKind::kSqlite;
    local.mPath = DefaultSqlitePath();
    if (!QFileInfo::exists(local.mPath))
        return;
    QString error;
    const std::unique_ptr<TRecordStore> store = TRecordStore::Open(local, error);
    const qint64 n = store ? store->OutboxCount(error) : 0;
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
            std::cout << r.mId << "  " << r.mTime.toStdString() << "  " << r.mJob.toStdString() << "  " << r.mStatus
                      << "  " << (r.mSerial.isEmpty() ? "-" : r.mSerial.toStdString()) << "  " << r.mText.toStdString()
                      << "\n";
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
    if (!r)
        return StoreError(error.isEmpty() ? QStringLiteral("there is no record %1").arg(id) : error);
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
        else
            std::cout << (v.isString() ? v.toString().toStdString() : QString::number(v.toInteger()).toStdString())
                      << "\n";
    }
    std::cout << std::flush;
    return 0;
}

int Verify(const TSession &session, std::vector<std::string> &args)
{
    if (!args.empty())
        return UsageError("records verify takes no arguments");
    QString error;
    const std::unique_ptr<TRecordStore> store = OpenStoreInForce(session, error);
    if (!store)
        return StoreError(error);
    const RVerifyResult v = store->Verify();
    if (!v.mError.isEmpty())
        return StoreError(QStringLiteral("the records could not be read: ") + v.mError);
    if (!v.mIntact) {
        std::cout << "broken record: " << v.mBrokenId << "\n" << std::flush;
        std::cerr << "beamport-cli: record " << v.mBrokenId << " does not fit the chain: " << v.mReason.toStdString()
                  << "\n";
        return 1;
    }
    std::cout << "records intact: " << v.mCount << "\n" << std::flush;
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
    if (location.mKind != EStoreKind::kPostgres) {
        std::cout << "nothing to send: records go to " << location.Describe().toStdString() << "\n" << std::flush;
        return location.mKind == EStoreKind::kOff ? StoreError(QStringLiteral("records are off")) : 0;
    }
    TRecordJournal journal(location);
    journal.NameSensorsBy(session.SensorTypes);
    const RSyncResult r = journal.Sync();
    std::cout << "sent " << r.mSent << ", already there " << r.mAlreadyThere << ", waiting " << r.mLeft << "\n"
              << std::flush;
    if (!r.mError.isEmpty())
        return StoreError(r.mError);
    return 0;
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
    if (!WriteRecordsCsv(records, out, &why))
        return StoreError(QString::fromStdString(out + " could not be written: " + why));
    std::cout << records.size() << " records written to " << out << "\n" << std::flush;
    return 0;
}

int Records(CliContext &c)
{
    std::vector<std::string> args = c.args;
    const std::string sub = args.empty() ? std::string() : args.front();
    if (sub == "show" || sub == "verify" || sub == "sync" || sub == "export")
        args.erase(args.begin());
    const int code = sub == "show"     ? Show(c.session, args)
                     : sub == "verify" ? Verify(c.session, args)
                     : sub == "sync"   ? Sync(c.session, args)
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
            "records show ID [--json]\n"
            "records verify\n"
            "records sync\n"
            "records export --out FILE.csv",
            "service records, newest first",
            "The service records of the store in force (--records, else BEAMPORT_RECORDS, else the local SQLite "
            "file), newest first, one line each. `show ID` prints one record; `verify` checks the hash chain (exit 1 "
            "and the first broken record's id when it is broken); `sync` sends the records this bench kept while the "
            "shared store could not be reached; `export` writes all records as CSV. A store that cannot be used "
            "exits 65.",
            {{"--serial S", "only the records of the detector with serial number S"},
             {"--job J", "only the records of one job (identify, read, write, ..., sensor-cal)"},
             {"--since DATE", "only the records from DATE on (YYYY-MM-DD or an ISO 8601 time)"},
             {"--json", "a JSON array of the records (one record object for show)"},
             {"--out FILE.csv", "export: the file the records go to"}},
            Records,
            ECliKind::kLocal};
}
