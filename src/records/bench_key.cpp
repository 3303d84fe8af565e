#include "records/bench_key.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <sodium.h>

namespace {

bool SodiumReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

QString Errno(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

// The folder of the key: made 0700 when missing; an existing one must be a
// real folder of this user that nobody else may write.
bool SafeFolder(const QString &dir, QString &error)
{
    const QByteArray native = QFile::encodeName(dir);
    struct stat st{};
    if (::lstat(native.constData(), &st) != 0) {
        if (errno != ENOENT) {
            error = QStringLiteral("%1: %2").arg(dir, Errno(errno));
            return false;
        }
        const QString parent = QFileInfo(dir).absolutePath();
        if (!QDir().mkpath(parent)) {
            error = QStringLiteral("the folder %1 could not be made").arg(parent);
            return false;
        }
        if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) {
            error = QStringLiteral("the folder %1 could not be made: %2").arg(dir, Errno(errno));
            return false;
        }
        if (::lstat(native.constData(), &st) != 0) {
            error = QStringLiteral("%1: %2").arg(dir, Errno(errno));
            return false;
        }
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 022)) {
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
    const QString tmp = path + QStringLiteral(".new-%1-%2").arg(::getpid()).arg(randombytes_random(), 8, 16,
                                                                                 QLatin1Char('0'));
    const QByteArray native = QFile::encodeName(path);
    const QByteArray tmpNative = QFile::encodeName(tmp);
    const int out = ::open(tmpNative.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (out < 0) {
        error = QStringLiteral("the key %1 could not be made: %2").arg(tmp, Errno(errno));
        return nullptr;
    }
    const bool written = ::write(out, sk.data(), sk.size()) == static_cast<ssize_t>(sk.size()) && ::fsync(out) == 0;
    ::close(out);
    sodium_memzero(sk.data(), sk.size());
    // link() never replaces: a key made meanwhile by another process wins,
    // and an existing file is never overwritten.
    const int linked = written ? ::link(tmpNative.constData(), native.constData()) : -1;
    const int err = errno;
    ::unlink(tmpNative.constData());
    if (!written || (linked != 0 && !(err == EEXIST && madeMeanwhileIsFine))) {
        error = err == EEXIST && written
                    ? QStringLiteral("%1 already exists: a key file is never overwritten").arg(path)
                    : QStringLiteral("the key %1 could not be made: %2").arg(path, Errno(err));
        return nullptr;
    }
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
    if (!SafeFolder(QFileInfo(path).absolutePath(), error))
        return nullptr;
    struct stat st{};
    // First use: a new key, written whole to a new file only this user can read.
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0 && errno == ENOENT)
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
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = errno == ELOOP ? QStringLiteral("the key %1 is a link: a key is never read through one").arg(path)
                : errno == ENOENT ? QStringLiteral("the key %1 is missing").arg(path)
                                  : QStringLiteral("the key %1 cannot be read: %2").arg(path, Errno(errno));
        return nullptr;
    }
    struct stat st{};
    const off_t size = static_cast<off_t>(key->FSecret.size());
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        error = QStringLiteral("the key %1 is not a regular file").arg(path);
    else if (st.st_uid != ::geteuid())
        error = QStringLiteral("the key %1 belongs to another user").arg(path);
    else if (st.st_mode & 077)
        error = QStringLiteral("the key %1 has mode %2: others may read it (a key file is 0600)")
                    .arg(path)
                    .arg(st.st_mode & 0777, 4, 8, QLatin1Char('0'));
    else if (st.st_size != size)
        error = QStringLiteral("the key %1 is %2 bytes, not %3: it is damaged").arg(path).arg(st.st_size).arg(size);
    else if (::read(fd, key->FSecret.data(), key->FSecret.size()) != static_cast<ssize_t>(key->FSecret.size()))
        error = QStringLiteral("the key %1 cannot be read: %2").arg(path, Errno(errno));
    ::close(fd);
    if (!error.isEmpty())
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
