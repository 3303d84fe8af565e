#include "files/input_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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

// Opens path for reading when it is a regular file. The kind is checked
// before the open (opening some devices already does something) and again on
// the open descriptor (the name may have been replaced in between); the open
// itself never waits for a writer or a carrier.
EInputFile OpenRegular(const std::string &path, int &fd, uint64_t &size)
{
    fd = -1;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? EInputFile::Missing : EInputFile::Unreadable;
    if (!S_ISREG(st.st_mode))
        return EInputFile::NotRegular;
    fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? EInputFile::Missing : EInputFile::Unreadable;
    if (::fstat(fd, &st) != 0)
        return EInputFile::Unreadable;
    if (!S_ISREG(st.st_mode))
        return EInputFile::NotRegular;
    size = static_cast<uint64_t>(st.st_size);
    return EInputFile::Ok;
}

// Reads until end of file or nLimit bytes; false on a read error.
bool ReadUpTo(int fd, size_t nLimit, std::vector<uint8_t> &bytes)
{
    bytes.clear();
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

RInputFile Read(const std::string &path, uint64_t nMaxSize, bool bHeadOnly)
{
    RInputFile file;
    int raw = -1;
    file.mResult = OpenRegular(path, raw, file.mSize);
    const TFd fd(raw);
    if (file.mResult != EInputFile::Ok)
        return file;
    if (!bHeadOnly && file.mSize > nMaxSize) {
        file.mResult = EInputFile::TooLarge;
        return file;
    }
    // One byte more than allowed tells a file that grew while it was read.
    const uint64_t limit = bHeadOnly || nMaxSize == UINT64_MAX ? nMaxSize : nMaxSize + 1;
    if (!ReadUpTo(fd.Get(), static_cast<size_t>(limit), file.mBytes)) {
        file.mResult = EInputFile::Unreadable;
        return file;
    }
    if (!bHeadOnly && file.mBytes.size() > nMaxSize) {
        file.mBytes.clear();
        file.mResult = EInputFile::TooLarge;
    }
    return file;
}

} // namespace

RInputFile ReadInputFile(const std::string &path, uint64_t nMaxSize) { return Read(path, nMaxSize, false); }

RInputFile ReadInputFileHead(const std::string &path, size_t nCount) { return Read(path, nCount, true); }

std::string InputFileProblem(EInputFile result)
{
    switch (result) {
    case EInputFile::Ok: return {};
    case EInputFile::Missing: return "no such file";
    case EInputFile::Unreadable: return "it could not be read";
    case EInputFile::NotRegular: return "it is not a regular file";
    case EInputFile::TooLarge: return "it is too large";
    }
    return {};
}
