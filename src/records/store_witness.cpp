// Witnessed heads, as Verify checks them; signed heads for auditors
// (witness.h).
#include "records/witness.h"

#include <cerrno>
#include <cstring>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSqlQuery>

#include "files/atomic_save.h"
#include "files/private_file.h"
#include "records/bench_key.h"
#include "records/jcs.h"
#include "records/store_chain.h"
#include "records/store_connection.h"
#include "records/store_sql.h"

using namespace store_sql;

namespace {

// A witness or a head an auditor keeps is a line; anything much longer is not one.
constexpr qint64 kHeadTextLimit = 4096;

bool IsHex(const QString &text, int digits)
{
    static const QRegularExpression hex(QStringLiteral("^[0-9a-f]+$"));
    return text.size() == digits && hex.match(text).hasMatch();
}

QJsonObject UnsignedObject(const RSignedHead &h)
{
    return QJsonObject{{QStringLiteral("id"), h.mId},          {QStringLiteral("hash"), h.mHash},
                       {QStringLiteral("time"), h.mTime},      {QStringLiteral("store"), h.mStore},
                       {QStringLiteral("bench_key"), h.mKeyId}, {QStringLiteral("public_key"), h.mPublicKey}};
}

QString SignedText(const RSignedHead &h)
{
    return QString::fromLatin1(QCryptographicHash::hash(Jcs(UnsignedObject(h)), QCryptographicHash::Sha256).toHex());
}

// "ID:HASH" or "ID HASH".
bool ReadPlainHead(const QString &text, RChainHead &head)
{
    static const QRegularExpression form(QStringLiteral("^([0-9]{1,18})[: ]\\s*([0-9a-fA-F]{64})$"));
    const QRegularExpressionMatch m = form.match(text.trimmed());
    if (!m.hasMatch())
        return false;
    head.mId = m.captured(1).toLongLong();
    head.mHash = m.captured(2).toLower();
    return head.mId > 0;
}

// The first line of a small regular file of this user, read without
// following a link; empty (with the reason) otherwise. `missing` is set when
// there is no such file.
QString ReadSmallFile(const QString &path, QString &why, bool *missing = nullptr)
{
    std::string bytes;
    std::string reason;
    const ESmallFile got = ::ReadSmallFile(QFile::encodeName(path).toStdString(), kHeadTextLimit, bytes, reason);
    switch (got) {
    case ESmallFile::Missing:
    case ESmallFile::Unreadable:
        if (missing)
            *missing = got == ESmallFile::Missing;
        why = QStringLiteral("%1 cannot be read: %2").arg(path, QString::fromLocal8Bit(QByteArray::fromStdString(reason)));
        return {};
    case ESmallFile::NotSmall: why = QStringLiteral("%1 is not a small file (a head is one line)").arg(path); break;
    case ESmallFile::Ok: break;
    }
    const QString text = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size())).section(QLatin1Char('\n'), 0, 0).trimmed();
    if (text.isEmpty() && why.isEmpty())
        why = QStringLiteral("%1 is empty").arg(path);
    return text;
}

} // namespace

RSignedHead SignHead(qint64 id, const QString &hash, const QString &store, const TBenchKey &key)
{
    RSignedHead h;
    h.mId = id;
    h.mHash = hash;
    h.mTime = RecordTime(QDateTime::currentDateTimeUtc());
    h.mStore = store;
    h.mKeyId = key.KeyId();
    h.mPublicKey = key.PublicKeyHex();
    h.mSig = key.Sign(SignedText(h));
    return h;
}

QString SignedHeadText(const RSignedHead &head)
{
    QJsonObject o = UnsignedObject(head);
    o.insert(QStringLiteral("sig"), head.mSig);
    return QString::fromUtf8(Jcs(o));
}

namespace {

// The object of a signed head, its signature not yet looked at.
bool ParseSignedHead(const QString &text, RSignedHead &head, QString &why)
{
    QJsonParseError pe{};
    const QJsonDocument doc = QJsonDocument::fromJson(text.trimmed().toUtf8(), &pe);
    const QJsonObject o = doc.object();
    const auto field = [&o](const char *name) { return o.value(QLatin1String(name)); };
    if (pe.error != QJsonParseError::NoError || !doc.isObject() || !field("id").isDouble() ||
        field("id").toInteger() <= 0 || !IsHex(field("hash").toString(), 64) || !field("time").isString() ||
        !field("store").isString() || !IsHex(field("bench_key").toString(), 16) ||
        !IsHex(field("public_key").toString(), 64) || !IsHex(field("sig").toString(), 128)) {
        why = QStringLiteral("it is not a signed head (one line of JSON with id, hash, time, store, bench_key, "
                             "public_key and sig, as `records head --signed` prints it)");
        return false;
    }
    head.mId = field("id").toInteger();
    head.mHash = field("hash").toString();
    head.mTime = field("time").toString();
    head.mStore = field("store").toString();
    head.mKeyId = field("bench_key").toString();
    head.mPublicKey = field("public_key").toString();
    head.mSig = field("sig").toString();
    return true;
}

// Why the head's signature does not hold; empty when it does.
QString HeadSignatureFault(const RSignedHead &head)
{
    if (TBenchKey::KeyIdOfHex(head.mPublicKey) != head.mKeyId)
        return QStringLiteral("the signed head's public key is not the key of its id %1").arg(head.mKeyId);
    if (!TBenchKey::Verify(head.mPublicKey, SignedText(head), head.mSig))
        return QStringLiteral("the signed head's signature is not the signature of bench key %1 over it (it was "
                              "changed, or made without the key)")
            .arg(head.mKeyId);
    return {};
}

} // namespace

bool ReadSignedHead(const QString &text, RSignedHead &head, QString &why)
{
    if (!ParseSignedHead(text, head, why))
        return false;
    why = HeadSignatureFault(head);
    return why.isEmpty();
}

EHeadArgument ReadHeadArgument(const QString &text, RChainHead &head, QString &why)
{
    QString line = text.trimmed();
    if (ReadPlainHead(line, head))
        return EHeadArgument::kHead;
    if (!line.startsWith(QLatin1Char('{'))) {
        // The name of a file that holds a head.
        line = ReadSmallFile(line, why);
        if (line.isEmpty())
            return EHeadArgument::kUnreadable;
        if (ReadPlainHead(line, head))
            return EHeadArgument::kHead;
    }
    RSignedHead s;
    if (!ParseSignedHead(line, s, why))
        return EHeadArgument::kUnreadable;
    head = RChainHead{s.mId, s.mHash};
    why = HeadSignatureFault(s);
    return why.isEmpty() ? EHeadArgument::kSigned : EHeadArgument::kForged;
}

QString WitnessPath(const RStoreLocation &location)
{
    // One store, one name: a SQLite file by its absolute path, a database by
    // where it is and the options that choose it (a schema among them).
    const QString identity = location.mKind == EStoreKind::kSqlite
                                 ? QStringLiteral("sqlite:") + QFileInfo(location.mPath).absoluteFilePath()
                                 : location.Describe() + QLatin1Char('\n') + location.mOptions;
    const QByteArray digest = QCryptographicHash::hash(identity.toUtf8(), QCryptographicHash::Sha256).toHex();
    return QFileInfo(DefaultBenchKeyPath()).absolutePath() + QStringLiteral("/witness-") +
           QString::fromLatin1(digest.left(16)) + QStringLiteral(".json");
}

void TRecordChain::KeepWitness(const RServiceRecord &record)
{
    // The record is in the store whatever happens here: a witness that
    // cannot be written leaves the one before it, which still holds.
    if (!FConn.KeyInUse() || record.mId <= 0)
        return;
    const QFileInfo path(WitnessPath(FConn.Location()));
    // A bench whose key lives elsewhere may not have its settings folder yet.
    if (!path.absoluteDir().exists()) {
        if (!QDir().mkpath(path.absolutePath()))
            return;
        QFile::setPermissions(path.absolutePath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    const RSignedHead h = SignHead(record.mId, record.mHash, FConn.Location().Describe(), *FConn.KeyInUse());
    // Not synced: a witness lost in a crash leaves the previous one, which
    // names a record that is still there.
    WritePrivateFile(path.absolutePath().toStdString(), path.fileName().toStdString(),
                     (SignedHeadText(h) + QLatin1Char('\n')).toStdString(), nullptr, false);
}

bool TRecordChain::SignedHead(RSignedHead &out, QString &error)
{
    const std::optional<RChainHead> head = Head(error);
    if (!head) {
        if (error.isEmpty())
            error = QStringLiteral("the store holds no record yet");
        return false;
    }
    const TBenchKey *key = FConn.BenchKey(error);
    if (!key)
        return false;
    out = SignHead(head->mId, head->mHash, FConn.Location().Describe(), *key);
    return true;
}

bool TRecordChain::CheckWitness(RVerifyResult &result)
{
    const QString path = WitnessPath(FConn.Location());
    QString why;
    bool missing = false;
    const QString text = ReadSmallFile(path, why, &missing);
    if (missing)
        return true; // this bench never wrote to this store
    RSignedHead w;
    if (text.isEmpty() || !ReadSignedHead(text, w, why)) {
        result.mNotes << QStringLiteral("this bench's witness %1 could not be checked: %2").arg(path, why);
        return true;
    }
    QSqlQuery q(FConn.Db());
    q.prepare(QStringLiteral("SELECT hash FROM records WHERE id = ?"));
    q.addBindValue(w.mId);
    if (!q.exec()) {
        result.mError = ErrorText(q.lastError());
        return false;
    }
    const auto broken = [&](const QString &reason) {
        result.mBrokenId = w.mId;
        result.mReason = reason;
        return false;
    };
    if (!q.next())
        return broken(QStringLiteral("record %1, the newest this bench wrote to this store (its witness of %2, "
                                     "signed by bench key %3), is missing: the store lost it or was rolled back")
                          .arg(w.mId)
                          .arg(w.mTime, w.mKeyId));
    if (q.value(0).toString() != w.mHash)
        return broken(QStringLiteral("record %1 is not the record this bench wrote there (its witness of %2 says "
                                     "hash %3, the store holds %4)")
                          .arg(w.mId)
                          .arg(w.mTime, w.mHash, q.value(0).toString()));
    return true;
}
