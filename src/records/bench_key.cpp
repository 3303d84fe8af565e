#include "records/bench_key.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <sodium.h>

#include "records/key_file.h"

namespace {

bool SodiumReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
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

std::unique_ptr<TBenchKey> TBenchKey::Write(const QString &path, bool madeMeanwhileIsFine, QString &error)
{
    if (!SodiumReady()) {
        error = QStringLiteral("the signing library could not start");
        return nullptr;
    }
    std::array<unsigned char, 32> pk{};
    std::array<unsigned char, 64> sk{};
    crypto_sign_keypair(pk.data(), sk.data());
    // A name of this attempt's own: two programs (or two stores of one)
    // making the key at once never write into each other's file.
    const QString tmp = path + QStringLiteral(".new-%1-%2")
                                   .arg(QCoreApplication::applicationPid())
                                   .arg(randombytes_random(), 8, 16, QLatin1Char('0'));
    const bool written = WriteKeyFileOnce(path, tmp, sk.data(), sk.size(), madeMeanwhileIsFine, error);
    sodium_memzero(sk.data(), sk.size());
    if (!written)
        return nullptr;
    return Load(path, error);
}

std::unique_ptr<TBenchKey> TBenchKey::CreateNew(const QString &path, QString &error)
{
    return Write(path, false, error);
}

std::unique_ptr<TBenchKey> TBenchKey::LoadOrCreate(const QString &path, QString &error)
{
    if (!SodiumReady()) {
        error = QStringLiteral("the signing library could not start");
        return nullptr;
    }
    if (!KeyFolderSafe(QFileInfo(path).absolutePath(), error))
        return nullptr;
    // First use: a new key, written whole to a new file only this user can read.
    if (KeyFileMissing(path))
        return Write(path, true, error);
    return Load(path, error);
}

std::unique_ptr<TBenchKey> TBenchKey::Load(const QString &path, QString &error)
{
    if (!SodiumReady()) {
        error = QStringLiteral("the signing library could not start");
        return nullptr;
    }
    std::unique_ptr<TBenchKey> key(new TBenchKey);
    if (!ReadKeyFile(path, key->FSecret.data(), key->FSecret.size(), error))
        return nullptr;
    // The file holds the private seed and the public half: the public half
    // must be the one the seed gives, else every signature would be bad.
    std::array<unsigned char, 32> seed{}, derived{};
    std::array<unsigned char, 64> again{};
    crypto_sign_ed25519_sk_to_seed(seed.data(), key->FSecret.data());
    crypto_sign_seed_keypair(derived.data(), again.data(), seed.data());
    sodium_memzero(seed.data(), seed.size());
    sodium_memzero(again.data(), again.size());
    crypto_sign_ed25519_sk_to_pk(key->FPublic.data(), key->FSecret.data());
    if (sodium_memcmp(derived.data(), key->FPublic.data(), derived.size()) != 0) {
        error = QStringLiteral("the key %1 is damaged: its public half does not belong to its private half").arg(path);
        return nullptr;
    }
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

QString TBenchKey::FingerprintOfHex(const QString &publicKeyHex)
{
    const QByteArray pk = FromHex(publicKeyHex, crypto_sign_PUBLICKEYBYTES);
    return pk.isEmpty() ? QString()
                        : QString::fromLatin1(QCryptographicHash::hash(pk, QCryptographicHash::Sha256).toHex());
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
