#pragma once
// The bench keys of a store: table bench_keys, rows that are only ever
// added. A key is registered by its first record (a "register" row signed
// by that key), an organisation key approves it ("approve", signed by the
// organisation key), and it is revoked by a "revoke" row (signed by the key
// of the bench that revoked it) that names the newest record written then.
// Each row is signed over the SHA-256 of its RFC 8785 text, as records are.
#include <map>
#include <optional>
#include <vector>

#include <QString>

class TBenchKey;
class TStoreConnection;
struct RServiceRecord;

// An organisation key's approval of a bench key.
struct RKeyApproval {
    QString mOrgFingerprint; // FingerprintOfHex of the organisation's public key
    QString mTime, mBench, mUser;
    bool mSignatureGood = false; // signed by that organisation key, over this bench key
};

// A bench key the store holds, from its rows in bench_keys.
struct RBenchKeyRow {
    QString mKeyId, mPublicKey, mBench, mUser, mRegistered;
    QString mRevoked;               // time of the (first) revocation; empty: in force
    std::optional<qint64> mRevokedAfter; // the newest record id when it was revoked
    std::vector<RKeyApproval> mApprovals{};
    // The approval by the organisation key of that fingerprint whose
    // signature holds; nullptr when there is none.
    const RKeyApproval *ApprovedBy(const QString &orgFingerprint) const;
};

class TStoreKeys {
public:
    explicit TStoreKeys(TStoreConnection &connection) : FConn(connection) {}

    // The bench keys, oldest first; revoking one marks the records after
    // the newest one written so far as not to be trusted. Approvals and
    // revocations are new rows, signed (a revocation by this bench's key).
    bool Keys(std::vector<RBenchKeyRow> &out, QString &error);
    bool RevokeKey(const QString &keyId, QString &error);
    // The organisation key `org` approves a registered bench key in force.
    // False with the reason; `already` set when that key had approved it.
    bool ApproveKey(const QString &keyId, const TBenchKey &org, QString &error, bool *already = nullptr);
    // Registers this bench's key (once) inside the caller's transaction;
    // false when the store holds another key under its id or it was revoked.
    bool RegisterKey(const TBenchKey &key, QString &error);

private:
    bool InsertKeyRow(const QString &event, const RBenchKeyRow &key, std::optional<qint64> afterRecord,
                      const TBenchKey &signer, QString &error);

    TStoreConnection &FConn;
};

// Why a record's key lacks the approval of the organisation key of that
// fingerprint; empty when it has it, or when no approval is asked (empty).
QString OrgApprovalFault(const RServiceRecord &record, const std::map<QString, RBenchKeyRow> &keys,
                         const QString &orgFingerprint);
