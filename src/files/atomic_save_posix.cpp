// The file system calls behind atomic_save.h on POSIX systems: the link
// checks, the private files written through a temporary, the checks before a
// file is created and the appends to a file that exists.
#include "files/atomic_save.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFileInfo>

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

std::string OutFileProblem(const std::string &path)
{
    namespace fs = std::filesystem;
    if (path.empty())
        return "no file name";
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (fs::is_directory(status))
        return "it is a folder";
    if (fs::exists(status)) {
        if (::access(path.c_str(), W_OK) != 0)
            return std::strerror(errno);
        return {};
    }
    fs::path dir = fs::path(path).parent_path();
    if (dir.empty())
        dir = ".";
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0)
        return dir.string() + ": " + std::strerror(errno);
    if (!S_ISDIR(st.st_mode))
        return dir.string() + " is not a folder";
    if (::access(dir.c_str(), W_OK | X_OK) != 0)
        return dir.string() + ": " + std::strerror(errno);
    return {};
}

bool AppendToFile(const std::string &path, const std::string &bytes)
{
    // No O_CREAT: a file that was removed stays removed.
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0)
        return false;
    size_t done = 0;
    bool ok = true;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0)
        ok = false;
    return ok;
}
