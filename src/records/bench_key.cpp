#include "records/bench_key.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <sodium.h>

#include "files/private_file.h"

namespace {

bool SodiumReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

QString Reason(const std::string &reason) { return QString::fromLocal8Bit(QByteArray::fromStdString(reason)); }

// The folder of the key: made 0700 when missing; an existing one must be a
// real folder of this user that nobody else may write.
bool SafeFolder(const QString &dir, QString &error)
{
    const std::string native = QFile::encodeName(dir).toStdString();
    std::string reason;
    EOwnFolder found = InspectOwnFolder(native, reason);
    if (found == EOwnFolder::Unreadable) {
        error = QStringLiteral("%1: %2").arg(dir, Reason(reason));
        return false;
    }
    if (found == EOwnFolder::Missing) {
        const QString parent = QFileInfo(dir).absolutePath();
        if (!QDir().mkpath(parent)) {
            error = QStringLiteral("the folder %1 could not be made").arg(parent);
            return false;
        }
        if (!MakeOwnFolder(native, reason)) {
            error = QStringLiteral("the folder %1 could not be made: %2").arg(dir, Reason(reason));
            return false;
        }
        found = InspectOwnFolder(native, reason);
        if (found == EOwnFolder::Unreadable || found == EOwnFolder::Missing) {
            error = QStringLiteral("%1: %2").arg(dir, Reason(reason));
            return false;
        }
    }
    if (found != EOwnFolder::Private) {
        error = QStringLiteral("the folder %1 is not a folder of this user that only this user may write").arg(dir);
        return false;
    }
    return true;
}

QByteArray FromHex(const QString &hex, int bytes)
{
    if (hex.size() != bytes * 2)
        return {};
    for (const QChar c : hex)
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))))
            return {};
    return QByteArray::fromHex(hex.toLatin1());
}

} // namespace

std::unique_ptr<TBenchKey> TBenchKey::Generate()
{
    if (!SodiumReady())
        return nullptr;
    std::unique_ptr<TBenchKey> key(new TBenchKey);
    crypto_sign_keypair(key->FPublic.data(), key->FSecret.data());
    return key;
}

std::unique_ptr<TBenchKey> TBenchKey::LoadOrCreate(const QString &path, QString &error)
{
    if (!SodiumReady()) {
        error = QStringLiteral("the signing library could not start");
        return nullptr;
    }
    if (!SafeFolder(QFileInfo(path).absolutePath(), error))
        return nullptr;
    const std::string native = QFile::encodeName(path).toStdString();
    std::unique_ptr<TBenchKey> key(new TBenchKey);
    std::string reason;
    EPrivateRead got = ReadPrivateFile(native, key->FSecret.data(), key->FSecret.size(), reason);
    if (got == EPrivateRead::Missing) {
        // First use: a new key, written whole to a new file only this user can read.
        crypto_sign_keypair(key->FPublic.data(), key->FSecret.data());
        // A name of this attempt's own: two programs (or two stores of one)
        // making the key at once never write into each other's file.
        const QString tmp = path + QStringLiteral(".new-%1-%2")
                                       .arg(QCoreApplication::applicationPid())
                                       .arg(randombytes_random(), 8, 16, QLatin1Char('0'));
        switch (CreateFileOnce(native, QFile::encodeName(tmp).toStdString(), key->FSecret.data(),
                               key->FSecret.size(), reason)) {
        case ECreateOnce::TempFailed:
            error = QStringLiteral("the bench key %1 could not be made: %2").arg(tmp, Reason(reason));
            return nullptr;
        case ECreateOnce::Failed:
            error = QStringLiteral("the bench key %1 could not be made: %2").arg(path, Reason(reason));
            return nullptr;
        case ECreateOnce::Done: break;
        }
        got = ReadPrivateFile(native, key->FSecret.data(), key->FSecret.size(), reason);
    }
    if (got == EPrivateRead::Missing || got == EPrivateRead::Unreadable) {
        error = QStringLiteral("the bench key %1 cannot be read: %2").arg(path, Reason(reason));
        return nullptr;
    }
    const bool safe = got != EPrivateRead::NotPrivate;
    const bool read = got == EPrivateRead::Ok;
    if (!safe) {
        error = QStringLiteral("the bench key %1 is not a 64-byte file of this user that only this user may read "
                               "(mode 0600)")
                    .arg(path);
        return nullptr;
    }
    if (!read) {
        error = QStringLiteral("the bench key %1 cannot be read").arg(path);
        return nullptr;
    }
    crypto_sign_ed25519_sk_to_pk(key->FPublic.data(), key->FSecret.data());
    return key;
}

QString TBenchKey::PublicKeyHex() const
{
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char *>(FPublic.data()), static_cast<qsizetype>(FPublic.size())).toHex());
}

QString TBenchKey::KeyIdOf(const unsigned char *publicKey)
{
    const QByteArray digest = QCryptographicHash::hash(
        QByteArray(reinterpret_cast<const char *>(publicKey), crypto_sign_PUBLICKEYBYTES), QCryptographicHash::Sha256);
    return QString::fromLatin1(digest.toHex().left(16));
}

QString TBenchKey::KeyIdOfHex(const QString &publicKeyHex)
{
    const QByteArray pk = FromHex(publicKeyHex, crypto_sign_PUBLICKEYBYTES);
    return pk.isEmpty() ? QString() : KeyIdOf(reinterpret_cast<const unsigned char *>(pk.constData()));
}

QString TBenchKey::Sign(const QString &text) const
{
    const QByteArray message = text.toLatin1();
    unsigned char sig[crypto_sign_BYTES];
    crypto_sign_detached(sig, nullptr, reinterpret_cast<const unsigned char *>(message.constData()),
                         static_cast<unsigned long long>(message.size()), FSecret.data());
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(sig), sizeof sig).toHex());
}

bool TBenchKey::Verify(const QString &publicKeyHex, const QString &text, const QString &sigHex)
{
    if (!SodiumReady())
        return false;
    const QByteArray pk = FromHex(publicKeyHex, crypto_sign_PUBLICKEYBYTES);
    const QByteArray sig = FromHex(sigHex, crypto_sign_BYTES);
    if (pk.isEmpty() || sig.isEmpty())
        return false;
    const QByteArray message = text.toLatin1();
    return crypto_sign_verify_detached(reinterpret_cast<const unsigned char *>(sig.constData()),
                                       reinterpret_cast<const unsigned char *>(message.constData()),
                                       static_cast<unsigned long long>(message.size()),
                                       reinterpret_cast<const unsigned char *>(pk.constData())) == 0;
}

QString DefaultBenchKeyPath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/beamport/bench.key");
}
