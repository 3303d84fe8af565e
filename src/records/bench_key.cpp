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

std::unique_ptr<TBenchKey> TBenchKey::LoadOrCreate(const QString &path, QString &error)
{
    if (!SodiumReady()) {
        error = QStringLiteral("the signing library could not start");
        return nullptr;
    }
    if (!SafeFolder(QFileInfo(path).absolutePath(), error))
        return nullptr;
    const QByteArray native = QFile::encodeName(path);
    std::unique_ptr<TBenchKey> key(new TBenchKey);
    int fd = ::open(native.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        // First use: a new key, written whole to a new file only this user can read.
        crypto_sign_keypair(key->FPublic.data(), key->FSecret.data());
        // A name of this attempt's own: two programs (or two stores of one)
        // making the key at once never write into each other's file.
        const QString tmp = path + QStringLiteral(".new-%1-%2").arg(::getpid()).arg(randombytes_random(), 8, 16,
                                                                                     QLatin1Char('0'));
        const QByteArray tmpNative = QFile::encodeName(tmp);
        const int out = ::open(tmpNative.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (out < 0) {
            error = QStringLiteral("the bench key %1 could not be made: %2").arg(tmp, Errno(errno));
            return nullptr;
        }
        const bool written = ::write(out, key->FSecret.data(), key->FSecret.size()) ==
                                 static_cast<ssize_t>(key->FSecret.size()) &&
                             ::fsync(out) == 0;
        ::close(out);
        // link() never replaces: a key made meanwhile by another process wins.
        if (!written || (::link(tmpNative.constData(), native.constData()) != 0 && errno != EEXIST)) {
            error = QStringLiteral("the bench key %1 could not be made: %2").arg(path, Errno(errno));
            ::unlink(tmpNative.constData());
            return nullptr;
        }
        ::unlink(tmpNative.constData());
        fd = ::open(native.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    }
    if (fd < 0) {
        error = QStringLiteral("the bench key %1 cannot be read: %2").arg(path, Errno(errno));
        return nullptr;
    }
    struct stat st{};
    const bool safe = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
                      (st.st_mode & 077) == 0 && st.st_size == static_cast<off_t>(key->FSecret.size());
    const bool read = safe && ::read(fd, key->FSecret.data(), key->FSecret.size()) ==
                                  static_cast<ssize_t>(key->FSecret.size());
    ::close(fd);
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
