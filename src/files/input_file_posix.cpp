#include "files/input_file_platform.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

TInputHandle::~TInputHandle()
{
    if (FHandle >= 0)
        ::close(static_cast<int>(FHandle));
}

EInputFile TInputHandle::Open(const std::string &path, uint64_t &size)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? EInputFile::Missing : EInputFile::Unreadable;
    if (!S_ISREG(st.st_mode))
        return EInputFile::NotRegular;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? EInputFile::Missing : EInputFile::Unreadable;
    FHandle = fd;
    if (::fstat(fd, &st) != 0)
        return EInputFile::Unreadable;
    if (!S_ISREG(st.st_mode))
        return EInputFile::NotRegular;
    size = static_cast<uint64_t>(st.st_size);
    return EInputFile::Ok;
}

bool TInputHandle::ReadUpTo(size_t nLimit, std::vector<uint8_t> &bytes)
{
    bytes.clear();
    const int fd = static_cast<int>(FHandle);
    size_t got = 0;
    while (got < nLimit) {
        const size_t chunk = nLimit - got < 65536 ? nLimit - got : 65536;
        bytes.resize(got + chunk);
        const ssize_t n = ::read(fd, bytes.data() + got, chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            bytes.clear();
            return false;
        }
        if (n == 0)
            break;
        got += static_cast<size_t>(n);
    }
    bytes.resize(got);
    return true;
}
