#include "records/store_keys.h"

#include <algorithm>
#include <map>

#include <QCryptographicHash>
#include <QJsonObject>
#include <QSqlQuery>

#include "records/bench_key.h"
#include "records/jcs.h"
#include "records/record.h"
#include "records/store_connection.h"
#include "records/store_sql.h"

using namespace store_sql;

namespace {

const char *const kRegister = "register";
const char *const kApprove = "approve";
const char *const kRevoke = "revoke";

// What a row's signature covers: every column but signer and sig.
QString KeyRowHash(const QString &event, const QString &keyId, const QString &publicKey, const QString &bench,
                   const QString &user, const QString &time, std::optional<qint64> afterRecord)
{
    QJsonObject o{{QStringLiteral("event"), event},         {QStringLiteral("key_id"), keyId},
                  {QStringLiteral("public_key"), publicKey}, {QStringLiteral("bench"), bench},
                  {QStringLiteral("user"), user},           {QStringLiteral("time"), time}};
    if (afterRecord)
        o.insert(QStringLiteral("after_record"), *afterRecord);
    return QString::fromLatin1(QCryptographicHash::hash(Jcs(o), QCryptographicHash::Sha256).toHex());
}

} // namespace

const RKeyApproval *RBenchKeyRow::ApprovedBy(const QString &orgFingerprint) const
{
    for (const RKeyApproval &a : mApprovals)
        if (a.mSignatureGood && a.mOrgFingerprint == orgFingerprint)
            return &a;
    return nullptr;
}

bool TStoreKeys::Keys(std::vector<RBenchKeyRow> &out, QString &error)
{
    QSqlQuery q(FConn.Db());
    q.setForwardOnly(true);
    // Registrations first, each kind in the order it was made.
    if (!q.exec(QStringLiteral("SELECT event, key_id, public_key, bench, login, time, after_record, signer, sig "
                               "FROM bench_keys ORDER BY CASE event WHEN 'register' THEN 0 ELSE 1 END, time, key_id"))) {
        error = ErrorText(q.lastError());
        return false;
    }
    out.clear();
    std::map<QString, size_t> at;
    while (q.next()) {
        const QString event = q.value(0).toString(), keyId = q.value(1).toString();
        const QString publicKey = q.value(2).toString(), time = q.value(5).toString();
        std::optional<qint64> after;
        if (!q.value(6).isNull())
            after = q.value(6).toLongLong();
        if (event == QLatin1String(kRegister)) {
            at[keyId] = out.size();
            out.push_back({keyId, publicKey, q.value(3).toString(), q.value(4).toString(), time, {}, std::nullopt});
            continue;
        }
        const auto it = at.find(keyId);
        if (it == at.end())
            continue; // an approval or revocation of a key never registered names nothing
        RBenchKeyRow &k = out[it->second];
        if (event == QLatin1String(kRevoke)) {
            if (k.mRevoked.isEmpty() || after.value_or(0) < k.mRevokedAfter.value_or(0)) {
                k.mRevoked = time;
                k.mRevokedAfter = after.value_or(0);
            }
        } else if (event == QLatin1String(kApprove)) {
            const QString signer = q.value(7).toString();
            const QString hash = KeyRowHash(event, keyId, publicKey, q.value(3).toString(), q.value(4).toString(),
                                            time, after);
            // It approves the key registered under that id, and no other.
            const bool good = publicKey == k.mPublicKey && TBenchKey::Verify(signer, hash, q.value(8).toString());
            k.mApprovals.push_back({TBenchKey::FingerprintOfHex(signer), time, q.value(3).toString(),
                                    q.value(4).toString(), good});
        }
    }
    if (q.lastError().isValid()) {
        error = ErrorText(q.lastError());
        return false;
    }
    return true;
}

bool TStoreKeys::InsertKeyRow(const QString &event, const RBenchKeyRow &key, std::optional<qint64> afterRecord,
                                const TBenchKey &signer, QString &error)
{
    const QString bench = BenchName(), user = LoginName(), time = RecordTime(QDateTime::currentDateTimeUtc());
    QSqlQuery ins(FConn.Db());
    ins.prepare(QStringLiteral("INSERT INTO bench_keys (key_id, event, public_key, bench, login, time, after_record, "
                               "signer, sig) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    for (const QVariant &v :
         {QVariant(key.mKeyId), QVariant(event), QVariant(key.mPublicKey), Text(bench), Text(user), QVariant(time),
          NullableInt(afterRecord), QVariant(signer.PublicKeyHex()),
          QVariant(signer.Sign(KeyRowHash(event, key.mKeyId, key.mPublicKey, bench, user, time, afterRecord)))})
        ins.addBindValue(v);
    if (!ins.exec()) {
        error = ErrorText(ins.lastError());
        return false;
    }
    return true;
}

bool TStoreKeys::RegisterKey(const TBenchKey &key, QString &error)
{
    QSqlQuery q(FConn.Db());
    q.prepare(QStringLiteral("SELECT event, public_key FROM bench_keys WHERE key_id = ? AND event IN ('register', "
                             "'revoke')"));
    q.addBindValue(key.KeyId());
    if (!q.exec()) {
        error = ErrorText(q.lastError());
        return false;
    }
    bool registered = false, revoked = false;
    while (q.next()) {
        if (q.value(1).toString() != key.PublicKeyHex()) {
            error = QStringLiteral("the store holds another public key under this bench's key id %1").arg(key.KeyId());
            return false;
        }
        (q.value(0).toString() == QLatin1String(kRegister) ? registered : revoked) = true;
    }
    q.finish();
    if (revoked) {
        error = QStringLiteral("this bench's key %1 was revoked: records it signs would not verify (move %2 "
                               "away to make a new key)")
                    .arg(key.KeyId(), DefaultBenchKeyPath());
        return false;
    }
    if (registered)
        return true;
    return InsertKeyRow(QLatin1String(kRegister), {key.KeyId(), key.PublicKeyHex(), {}, {}, {}, {}, std::nullopt},
                        std::nullopt, key, error);
}

bool TStoreKeys::RevokeKey(const QString &keyId, QString &error)
{
    const TBenchKey *own = FConn.BenchKey(error);
    if (!own) {
        error = QStringLiteral("a revocation is signed by this bench's key: ") + error;
        return false;
    }
    std::vector<RBenchKeyRow> keys;
    // Under the chain's lock: no record of that key slips in between.
    const QByteArray lockSql = QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kChainLock).toLatin1();
    if (!FConn.Begin(lockSql.constData(), error))
        return false;
    if (!Keys(keys, error)) {
        FConn.Rollback();
        return false;
    }
    const auto key = std::find_if(keys.begin(), keys.end(), [&](const RBenchKeyRow &k) { return k.mKeyId == keyId; });
    if (key == keys.end() || !key->mRevoked.isEmpty()) {
        FConn.Rollback();
        error = QStringLiteral("there is no bench key %1 in force in %2").arg(keyId, FConn.Location().Describe());
        return false;
    }
    const qint64 newest = CountOf(FConn.Db(), QStringLiteral("SELECT COALESCE(MAX(id), 0) FROM records"), error);
    if (newest < 0 || !InsertKeyRow(QLatin1String(kRevoke), *key, newest, *own, error)) {
        FConn.Rollback();
        return false;
    }
    return FConn.Commit(error);
}

bool TStoreKeys::ApproveKey(const QString &keyId, const TBenchKey &org, QString &error, bool *already)
{
    std::vector<RBenchKeyRow> keys;
    if (!FConn.Begin(nullptr, error))
        return false;
    if (!Keys(keys, error)) {
        FConn.Rollback();
        return false;
    }
    const auto key = std::find_if(keys.begin(), keys.end(), [&](const RBenchKeyRow &k) { return k.mKeyId == keyId; });
    if (key == keys.end() || !key->mRevoked.isEmpty()) {
        FConn.Rollback();
        error = key == keys.end()
                    ? QStringLiteral("there is no bench key %1 in %2").arg(keyId, FConn.Location().Describe())
                    : QStringLiteral("bench key %1 was revoked on %2: a revoked key is not approved").arg(keyId, key->mRevoked);
        return false;
    }
    if (already)
        *already = key->ApprovedBy(org.Fingerprint()) != nullptr;
    if (key->ApprovedBy(org.Fingerprint())) {
        FConn.Rollback();
        return true;
    }
    if (!InsertKeyRow(QLatin1String(kApprove), *key, std::nullopt, org, error)) {
        FConn.Rollback();
        return false;
    }
    return FConn.Commit(error);
}

QString OrgApprovalFault(const RServiceRecord &record, const std::map<QString, RBenchKeyRow> &keys,
                         const QString &orgFingerprint)
{
    if (orgFingerprint.isEmpty())
        return {};
    const auto it = keys.find(record.mBenchKey);
    if (it == keys.end() || !it->second.ApprovedBy(orgFingerprint))
        return QStringLiteral("it is signed by bench key %1, which the organisation key %2 did not approve")
            .arg(record.mBenchKey, orgFingerprint);
    return {};
}
