// Files and folders only this user may use, on Windows: made with a protected
// access control list that lets in this user alone, and checked for that
// (owner and every allowing entry) when read. Nothing is opened through a
// symbolic link or junction.
#include "files/private_file.h"

#include <windows.h>

#include "files/owner_only_win32.h"

namespace {

// A handle closed on every way out.
class THandle {
public:
    explicit THandle(HANDLE h) : FHandle(h) {}
    ~THandle()
    {
        if (FHandle != INVALID_HANDLE_VALUE)
            CloseHandle(FHandle);
    }
    THandle(const THandle &) = delete;
    THandle &operator=(const THandle &) = delete;
    HANDLE Get() const { return FHandle; }
    bool Ok() const { return FHandle != INVALID_HANDLE_VALUE; }

private:
    HANDLE FHandle;
};

bool Missing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// Opens what stands at path for reading, a link itself rather than its target.
HANDLE OpenNoFollow(const std::string &path, DWORD access)
{
    return CreateFileW(WidePath(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool IsPlainFile(HANDLE h, uint64_t &size)
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
        return false;
    size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return true;
}

} // namespace

EOwnFolder InspectOwnFolder(const std::string &dir, std::string &reason)
{
    const THandle h(OpenNoFollow(dir, READ_CONTROL | FILE_READ_ATTRIBUTES));
    if (!h.Ok()) {
        const DWORD e = GetLastError();
        reason = SystemErrorText(e);
        return Missing(e) ? EOwnFolder::Missing : EOwnFolder::Unreadable;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(h.Get(), &info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || IsReparsePoint(dir) ||
        !OwnerOnlyProblem(h.Get()).empty())
        return EOwnFolder::NotPrivate;
    return EOwnFolder::Private;
}

bool MakeOwnFolder(const std::string &dir, std::string &reason)
{
    TOwnerOnly owner;
    if (!CreateDirectoryW(WidePath(dir).c_str(), owner.Attributes()) && GetLastError() != ERROR_ALREADY_EXISTS) {
        reason = SystemErrorText(GetLastError());
        return false;
    }
    return true;
}

ECreateOnce CreateFileOnce(const std::string &path, const std::string &temp, const void *data, size_t size,
                           std::string &reason)
{
    TOwnerOnly owner;
    const HANDLE out = CreateFileW(WidePath(temp).c_str(), GENERIC_WRITE, 0, owner.Attributes(), CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) {
        reason = SystemErrorText(GetLastError());
        return ECreateOnce::TempFailed;
    }
    DWORD n = 0;
    const bool written = WriteFile(out, data, static_cast<DWORD>(size), &n, nullptr) && n == size &&
                         FlushFileBuffers(out);
    DWORD e = written ? 0 : GetLastError();
    CloseHandle(out);
    // A move without MOVEFILE_REPLACE_EXISTING never replaces: a file made
    // meanwhile by another process wins.
    if (written && !MoveFileExW(WidePath(temp).c_str(), WidePath(path).c_str(), MOVEFILE_WRITE_THROUGH)) {
        e = GetLastError();
        if (e == ERROR_ALREADY_EXISTS || e == ERROR_FILE_EXISTS)
            e = 0;
    }
    DeleteFileW(WidePath(temp).c_str());
    if (!written || e != 0) {
        reason = SystemErrorText(e ? e : ERROR_WRITE_FAULT);
        return ECreateOnce::Failed;
    }
    return ECreateOnce::Done;
}

EPrivateRead ReadPrivateFile(const std::string &path, void *data, size_t size, std::string &reason)
{
    const THandle h(OpenNoFollow(path, GENERIC_READ | READ_CONTROL));
    if (!h.Ok()) {
        const DWORD e = GetLastError();
        reason = SystemErrorText(e);
        return Missing(e) ? EPrivateRead::Missing : EPrivateRead::Unreadable;
    }
    uint64_t length = 0;
    if (!IsPlainFile(h.Get(), length) || length != size || !OwnerOnlyProblem(h.Get()).empty())
        return EPrivateRead::NotPrivate;
    DWORD n = 0;
    if (!ReadFile(h.Get(), data, static_cast<DWORD>(size), &n, nullptr) || n != size)
        return EPrivateRead::Short;
    return EPrivateRead::Ok;
}

ECreateEmpty CreateEmptyPrivateFile(const std::string &path, std::string &reason)
{
    TOwnerOnly owner;
    // CREATE_NEW fails on anything at the name, a link included.
    const HANDLE h = CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, 0, owner.Attributes(), CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD e = GetLastError();
        if (e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS)
            return ECreateEmpty::Exists;
        reason = SystemErrorText(e);
        return ECreateEmpty::Failed;
    }
    CloseHandle(h);
    return ECreateEmpty::Created;
}

ESmallFile ReadSmallFile(const std::string &path, size_t limit, std::string &bytes, std::string &reason)
{
    bytes.clear();
    const THandle h(OpenNoFollow(path, GENERIC_READ));
    if (!h.Ok()) {
        const DWORD e = GetLastError();
        reason = SystemErrorText(e);
        return Missing(e) ? ESmallFile::Missing : ESmallFile::Unreadable;
    }
    uint64_t length = 0;
    if (!IsPlainFile(h.Get(), length) || length > limit)
        return ESmallFile::NotSmall;
    bytes.resize(static_cast<size_t>(length));
    DWORD n = 0;
    if (!ReadFile(h.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr))
        n = 0;
    bytes.resize(n);
    return ESmallFile::Ok;
}
