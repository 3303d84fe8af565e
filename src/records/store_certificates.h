#pragma once
// Certificate numbers: table certificates, the number of a record's
// certificate, bound to the record's id and hash, counted per bench key.
// (The certificate itself, its page and its checks: certificate.h.)
#include <functional>

#include <QString>

class TStoreConnection;
struct RServiceRecord;
struct RVerifyResult;

class TCertificateNumbers {
public:
    explicit TCertificateNumbers(TStoreConnection &connection) : FConn(connection) {}

    // Runs `write` with the number the record's certificate has, or the next
    // free one of this bench's key, inside one transaction; the number is
    // kept only when write returned true, and bound to the record's id and
    // hash. 0 on failure (with the reason); a record whose hash changed
    // since its number was given is refused.
    qint64 Certificate(const RServiceRecord &record, const std::function<bool(const QString &number)> &write,
                       QString &error, QString *numberText = nullptr);
    // Every number given names a record of the chain with the hash it had
    // (false: result says why). Verify runs it after walking the chain.
    bool Check(RVerifyResult &result);

private:
    TStoreConnection &FConn;
};
