#include "records/key_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

QString Errno(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

} // namespace

bool KeyFolderSafe(const QString &dir, QString &error)
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

bool KeyFileMissing(const QString &path)
{
    struct stat st{};
    return ::lstat(QFile::encodeName(path).constData(), &st) != 0 && errno == ENOENT;
}

bool WriteKeyFileOnce(const QString &path, const QString &tmp, const unsigned char *data, size_t size,
                      bool madeMeanwhileIsFine, QString &error)
{
    const QByteArray native = QFile::encodeName(path);
    const QByteArray tmpNative = QFile::encodeName(tmp);
    const int out = ::open(tmpNative.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (out < 0) {
        error = QStringLiteral("the key %1 could not be made: %2").arg(tmp, Errno(errno));
        return false;
    }
    const bool written = ::write(out, data, size) == static_cast<ssize_t>(size) && ::fsync(out) == 0;
    ::close(out);
    // link() never replaces: a key made meanwhile by another process wins,
    // and an existing file is never overwritten.
    const int linked = written ? ::link(tmpNative.constData(), native.constData()) : -1;
    const int err = errno;
    ::unlink(tmpNative.constData());
    if (!written || (linked != 0 && !(err == EEXIST && madeMeanwhileIsFine))) {
        error = err == EEXIST && written
                    ? QStringLiteral("%1 already exists: a key file is never overwritten").arg(path)
                    : QStringLiteral("the key %1 could not be made: %2").arg(path, Errno(err));
        return false;
    }
    return true;
}

bool ReadKeyFile(const QString &path, unsigned char *data, size_t size, QString &error)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = errno == ELOOP ? QStringLiteral("the key %1 is a link: a key is never read through one").arg(path)
                : errno == ENOENT ? QStringLiteral("the key %1 is missing").arg(path)
                                  : QStringLiteral("the key %1 cannot be read: %2").arg(path, Errno(errno));
        return false;
    }
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        error = QStringLiteral("the key %1 is not a regular file").arg(path);
    else if (st.st_uid != ::geteuid())
        error = QStringLiteral("the key %1 belongs to another user").arg(path);
    else if (st.st_mode & 077)
        error = QStringLiteral("the key %1 has mode %2: others may read it (a key file is 0600)")
                    .arg(path)
                    .arg(st.st_mode & 0777, 4, 8, QLatin1Char('0'));
    else if (st.st_size != static_cast<off_t>(size))
        error = QStringLiteral("the key %1 is %2 bytes, not %3: it is damaged").arg(path).arg(st.st_size).arg(size);
    else if (::read(fd, data, size) != static_cast<ssize_t>(size))
        error = QStringLiteral("the key %1 cannot be read: %2").arg(path, Errno(errno));
    ::close(fd);
    return error.isEmpty();
}
