#include "records/store_chain.h"

#include <algorithm>
#include <map>

#include <QJsonDocument>
#include <QSqlQuery>

#include "records/bench_key.h"
#include "records/store_certificates.h"
#include "records/store_connection.h"
#include "records/store_due.h"
#include "records/store_keys.h"
#include "records/store_pages.h"
#include "records/store_sql.h"

using namespace store_sql;

namespace {

// Why a record of the signed rule is not to be trusted; empty when it is.
QString SignatureFault(const RServiceRecord &r, const std::map<QString, RBenchKeyRow> &keys)
{
    const auto it = keys.find(r.mBenchKey);
    if (r.mBenchKey.isEmpty() || it == keys.end())
        return QStringLiteral("it is signed by an unknown key \"%1\" (no bench registered it)").arg(r.mBenchKey);
    const RBenchKeyRow &key = it->second;
    if (TBenchKey::KeyIdOfHex(key.mPublicKey) != key.mKeyId)
        return QStringLiteral("the registered public key of %1 is not the key of that id").arg(key.mKeyId);
    if (!TBenchKey::Verify(key.mPublicKey, r.mHash, r.mSig))
        return QStringLiteral("bad signature: its signature is not the signature of bench key %1 over its hash "
                              "(the record or its signature was made by someone without the key)")
            .arg(key.mKeyId);
    if (!key.mRevoked.isEmpty() && r.mId > key.mRevokedAfter.value_or(0))
        return QStringLiteral("it is signed by bench key %1, revoked on %2 after record %3, before it was written")
            .arg(key.mKeyId, key.mRevoked)
            .arg(key.mRevokedAfter.value_or(0));
    return {};
}

} // namespace

RVerifyResult TRecordChain::Verify(const RChainHead &head, const QString &orgFingerprint)
{
    RVerifyResult result;
    std::vector<RBenchKeyRow> keyRows;
    if (!TStoreKeys(FConn).Keys(keyRows, result.mError))
        return result;
    std::map<QString, RBenchKeyRow> keys;
    for (RBenchKeyRow &k : keyRows)
        keys[k.mKeyId] = std::move(k);
    // Records before the migration record keep the old rule.
    qint64 migrationId = 0;
    {
        QSqlQuery m(FConn.Db());
        m.prepare(QStringLiteral("SELECT MIN(id) FROM records WHERE job = ?"));
        m.addBindValue(QLatin1String(kJobRecordsMigration));
        if (!m.exec() || !m.next()) {
            result.mError = ErrorText(m.lastError());
            return result;
        }
        migrationId = m.value(0).isNull() ? 0 : m.value(0).toLongLong();
    }
    TPagedRows q(FConn.Db(), QStringLiteral("SELECT %1, kind, cal_interval, bump_interval FROM records").arg(RecordColumns()),
                 QStringLiteral("id"));
    QString expectedPrev = kGenesisHash;
    qint64 prevId = 0;
    bool headSeen = head.mId == 0;
    const auto broken = [&](qint64 id, const QString &why) {
        result.mBrokenId = id;
        result.mReason = why;
        return result;
    };
    while (q.next()) {
        RServiceRecord r;
        QString dataText;
        RowToRecord(q, r, &dataText);
        ++result.mCount;
        QJsonParseError pe{};
        const QJsonDocument doc = QJsonDocument::fromJson(dataText.toUtf8(), &pe);
        if (pe.error != QJsonParseError::NoError || !doc.isObject() || DataText(doc.object()) != dataText)
            return broken(r.mId, QStringLiteral("its data is not the JSON text it was written with"));
        if (r.mPrev != expectedPrev)
            return broken(r.mId, prevId ? QStringLiteral("its prev is not the hash of record %1 (a record before it "
                                                         "was changed, removed or inserted)")
                                              .arg(prevId)
                                        : QStringLiteral("it is the first record but its prev is not the start of a chain"));
        const bool legacy = migrationId > 0 && r.mId < migrationId;
        if ((legacy ? LegacyRecordHash(r) : RecordHash(r)) != r.mHash)
            return broken(r.mId, QStringLiteral("its contents do not match its hash"));
        if (legacy) {
            ++result.mLegacy;
        } else if (const QString fault = SignatureFault(r, keys); !fault.isEmpty()) {
            return broken(r.mId, fault);
        } else if (const QString orgFault = OrgApprovalFault(r, keys, orgFingerprint); !orgFault.isEmpty()) {
            return broken(r.mId, orgFault);
        }
        const std::optional<RTamselCFG> cfg = RecordConfig(r.mData);
        const QString kind = q.value(RecordColumnCount()).toString();
        const QVariant cal = q.value(RecordColumnCount() + 1), bump = q.value(RecordColumnCount() + 2);
        if ((kind != KindName(RecordKind(r)) && !LegacyKind(r, kind)) || cal.isNull() != !cfg || bump.isNull() != !cfg ||
            (cfg && (cal.toLongLong() != CalIntervalSeconds(*cfg) || bump.toLongLong() != BumpIntervalDays(*cfg))))
            return broken(r.mId, QStringLiteral("its kind or interval columns do not match the record"));
        if (r.mId == head.mId) {
            if (r.mHash != head.mHash)
                return broken(r.mId, QStringLiteral("it is not the record of the head given: its hash is %1, not %2")
                                         .arg(r.mHash, head.mHash));
            headSeen = true;
        }
        expectedPrev = r.mHash;
        prevId = r.mId;
    }
    if (q.lastError().isValid()) {
        result.mError = ErrorText(q.lastError());
        return result;
    }
    if (!headSeen)
        return broken(head.mId, QStringLiteral("the record of the head given is missing from the chain"));
    // The newest record ever written must still be the last of the chain.
    {
        QSqlQuery h(FConn.Db());
        if (!h.exec(QStringLiteral("SELECT id, hash FROM chain_head"))) {
            result.mError = ErrorText(h.lastError());
            return result;
        }
        if (h.next()) {
            const qint64 id = h.value(0).toLongLong();
            if (id != prevId || h.value(1).toString() != expectedPrev)
                return broken(id, QStringLiteral("the newest record written, %1, is missing or changed (the chain "
                                                 "ends at %2)")
                                      .arg(id)
                                      .arg(prevId));
        } else if (prevId != 0) {
            return broken(prevId, QStringLiteral("the store has lost the head of its chain"));
        }
        if (!FConn.IsPostgres()) {
            QSqlQuery seq(FConn.Db());
            if (seq.exec(QStringLiteral("SELECT seq FROM sqlite_sequence WHERE name = 'records'")) && seq.next() &&
                seq.value(0).toLongLong() > prevId)
                return broken(seq.value(0).toLongLong(),
                              QStringLiteral("record %1, the newest ever written, is missing (the chain ends at %2)")
                                  .arg(seq.value(0).toLongLong())
                                  .arg(prevId));
        }
    }
    // The due summary must say what the records say.
    std::vector<RDueFacts> kept, worked;
    TDueSummary due(FConn);
    if (!due.DueFacts(kept, result.mError) || !due.FactsFromRecords(worked, result.mError))
        return result;
    for (size_t i = 0; i < std::max(kept.size(), worked.size()); ++i) {
        if (i < kept.size() && i < worked.size() && kept[i] == worked[i])
            continue;
        const QString serial = i < worked.size() ? worked[i].mSerial : kept[i].mSerial;
        qint64 id = 0;
        QSqlQuery last(FConn.Db());
        last.prepare(QStringLiteral("SELECT MAX(id) FROM records WHERE serial = ?"));
        last.addBindValue(serial);
        if (last.exec() && last.next())
            id = last.value(0).toLongLong();
        return broken(id, QStringLiteral("the due summary of serial %1 does not match its records").arg(serial));
    }
    if (!CheckWitness(result) || !TCertificateNumbers(FConn).Check(result))
        return result;
    result.mIntact = true;
    return result;
}
