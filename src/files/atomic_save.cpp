#include "files/atomic_save.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFileInfo>
#include <QSaveFile>

namespace {
std::string ErrnoText(const std::string &what, int error) { return what + ": " + std::strerror(error); }
} // namespace

std::string LinkProblem(const std::string &path)
{
    std::string current = path;
    for (int hop = 0; hop < 16; ++hop) {
        struct stat st{};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return {};
        const std::string folder = QFileInfo(QString::fromStdString(current)).absolutePath().toStdString();
        struct stat dir{};
        if (st.st_uid != ::geteuid())
            return current + " is a symbolic link owned by another user: nothing is written through it";
        if (::stat(folder.c_str(), &dir) == 0 && (dir.st_mode & (S_IWGRP | S_IWOTH)))
            return current + " is a symbolic link in a folder others may write (" + folder +
                   "): nothing is written through it";
        std::string target(4096, '\0');
        const ssize_t n = ::readlink(current.c_str(), target.data(), target.size() - 1);
        if (n < 0)
            return {};
        target.resize(static_cast<size_t>(n));
        current = target.front() == '/' ? target : folder + "/" + target;
    }
    return path + " is a chain of too many symbolic links";
}

bool WriteFileReplacing(const std::string &path, const void *data, size_t size, std::string *error)
{
    const QString name = QString::fromStdString(path);
    auto fail = [&](const QString &why) {
        if (error)
            *error = why.toStdString();
        return false;
    };
    if (name.isEmpty())
        return fail(QStringLiteral("no file name"));
    if (QFileInfo(name).isDir())
        return fail(QStringLiteral("%1 is a folder").arg(name));
    if (const std::string problem = LinkProblem(path); !problem.empty())
        return fail(QString::fromStdString(problem));
    QSaveFile file(name);
    // Unbuffered, so that a short write (disk full, size limit) shows in the
    // count here instead of being lost in a buffer flushed at commit.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return fail(file.errorString());
    const qint64 wanted = static_cast<qint64>(size);
    const qint64 written = file.write(static_cast<const char *>(data), wanted);
    if (written != wanted) {
        const QString why = written < 0 ? file.errorString() : QStringLiteral("the file could not be written in full");
        file.cancelWriting();
        file.commit(); // discards the temporary
        return fail(why);
    }
    if (!file.commit())
        return fail(file.errorString());
    return true;
}

bool WritePrivateFile(const std::string &dir, const std::string &name, const std::string &bytes, std::string *error,
                      bool durable)
{
    const auto fail = [error](const std::string &why) {
        if (error)
            *error = why;
        return false;
    };
    if (dir.empty() || name.empty() || name.find('/') != std::string::npos)
        return fail("no valid file name");
    const std::string target = dir + "/" + name;
    std::string temp = target + ".XXXXXX";
    // mkstemp creates the file exclusively (0600), never through a link.
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return fail(ErrnoText(dir, errno));
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int e = n < 0 ? errno : EIO;
            ::close(fd);
            ::unlink(temp.c_str());
            return fail(ErrnoText(temp, e));
        }
        done += static_cast<size_t>(n);
    }
    int e = !durable || ::fsync(fd) == 0 ? 0 : errno;
    if (::close(fd) != 0 && e == 0)
        e = errno;
    if (e != 0) {
        ::unlink(temp.c_str());
        return fail(ErrnoText(temp, e));
    }
    // rename replaces whatever entry has the name (a link too) and never
    // writes through it.
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int e = errno;
        ::unlink(temp.c_str());
        return fail(ErrnoText(target, e));
    }
    return true;
}
