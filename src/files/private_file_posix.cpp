#include "files/private_file.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Reason(int error) { return std::strerror(error); }

// A descriptor closed on every way out.
class TFd {
public:
    explicit TFd(int fd) : FFd(fd) {}
    ~TFd()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    TFd(const TFd &) = delete;
    TFd &operator=(const TFd &) = delete;
    int Get() const { return FFd; }

private:
    int FFd;
};

} // namespace

EOwnFolder InspectOwnFolder(const std::string &dir, std::string &reason)
{
    struct stat st{};
    if (::lstat(dir.c_str(), &st) != 0) {
        reason = Reason(errno);
        return errno == ENOENT ? EOwnFolder::Missing : EOwnFolder::Unreadable;
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 022))
        return EOwnFolder::NotPrivate;
    return EOwnFolder::Private;
}

bool MakeOwnFolder(const std::string &dir, std::string &reason)
{
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        reason = Reason(errno);
        return false;
    }
    return true;
}

ECreateOnce CreateFileOnce(const std::string &path, const std::string &temp, const void *data, size_t size,
                           std::string &reason)
{
    const int out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (out < 0) {
        reason = Reason(errno);
        return ECreateOnce::TempFailed;
    }
    const bool written = ::write(out, data, size) == static_cast<ssize_t>(size) && ::fsync(out) == 0;
    ::close(out);
    // link() never replaces: a file made meanwhile by another process wins.
    if (!written || (::link(temp.c_str(), path.c_str()) != 0 && errno != EEXIST)) {
        reason = Reason(errno);
        ::unlink(temp.c_str());
        return ECreateOnce::Failed;
    }
    ::unlink(temp.c_str());
    return ECreateOnce::Done;
}

EPrivateRead ReadPrivateFile(const std::string &path, void *data, size_t size, std::string &reason)
{
    const TFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.Get() < 0) {
        reason = Reason(errno);
        return errno == ENOENT ? EPrivateRead::Missing : EPrivateRead::Unreadable;
    }
    struct stat st{};
    if (!(::fstat(fd.Get(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0 &&
          st.st_size == static_cast<off_t>(size)))
        return EPrivateRead::NotPrivate;
    if (::read(fd.Get(), data, size) != static_cast<ssize_t>(size))
        return EPrivateRead::Short;
    return EPrivateRead::Ok;
}

ECreateEmpty CreateEmptyPrivateFile(const std::string &path, std::string &reason)
{
    const int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        if (errno == EEXIST)
            return ECreateEmpty::Exists;
        reason = Reason(errno);
        return ECreateEmpty::Failed;
    }
    ::close(fd);
    return ECreateEmpty::Created;
}

ESmallFile ReadSmallFile(const std::string &path, size_t limit, std::string &bytes, std::string &reason)
{
    bytes.clear();
    const TFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.Get() < 0) {
        reason = Reason(errno);
        return errno == ENOENT ? ESmallFile::Missing : ESmallFile::Unreadable;
    }
    struct stat st{};
    if (!(::fstat(fd.Get(), &st) == 0 && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) <= limit))
        return ESmallFile::NotSmall;
    bytes.resize(static_cast<size_t>(st.st_size));
    const ssize_t n = ::read(fd.Get(), bytes.data(), bytes.size());
    bytes.resize(n < 0 ? 0 : static_cast<size_t>(n));
    return ESmallFile::Ok;
}
