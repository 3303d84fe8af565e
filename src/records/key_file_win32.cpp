// A key's file on Windows: its folder and the file made with a protected
// access control list that lets in this user alone, and on load checked for
// exactly that (the owner, and no allowing entry for anyone else), as the
// mode bits are on POSIX systems. Nothing is read through a symbolic link or
// junction.
#include "records/key_file.h"

#include <windows.h>

#include <QDir>
#include <QFileInfo>

#include "files/owner_only_win32.h"

namespace {

std::wstring Native(const QString &path) { return QDir::toNativeSeparators(path).toStdWString(); }
QString Why(DWORD error) { return QString::fromStdString(SystemErrorText(error)); }

} // namespace

bool KeyFolderSafe(const QString &dir, QString &error)
{
    const std::wstring native = Native(dir);
    DWORD attributes = GetFileAttributesW(native.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD e = GetLastError();
        if (e != ERROR_FILE_NOT_FOUND && e != ERROR_PATH_NOT_FOUND) {
            error = QStringLiteral("%1: %2").arg(dir, Why(e));
            return false;
        }
        const QString parent = QFileInfo(dir).absolutePath();
        if (!QDir().mkpath(parent)) {
            error = QStringLiteral("the folder %1 could not be made").arg(parent);
            return false;
        }
        TOwnerOnly owner;
        if (!CreateDirectoryW(native.c_str(), owner.Attributes()) && GetLastError() != ERROR_ALREADY_EXISTS) {
            error = QStringLiteral("the folder %1 could not be made: %2").arg(dir, Why(GetLastError()));
            return false;
        }
        attributes = GetFileAttributesW(native.c_str());
    }
    const HANDLE h = CreateFileW(native.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                 nullptr);
    const bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                        !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    const bool own = h != INVALID_HANDLE_VALUE && OwnerOnlyProblem(h).empty();
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    if (!folder || !own) {
        error = QStringLiteral("the folder %1 is not a folder of this user that only this user may write").arg(dir);
        return false;
    }
    return true;
}

bool KeyFileMissing(const QString &path)
{
    // FILE_FLAG_OPEN_REPARSE_POINT: a dangling link is something.
    const DWORD attributes = GetFileAttributesW(Native(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return false;
    const DWORD e = GetLastError();
    return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND;
}

bool WriteKeyFileOnce(const QString &path, const QString &tmp, const unsigned char *data, size_t size,
                      bool madeMeanwhileIsFine, QString &error)
{
    TOwnerOnly owner;
    const HANDLE out = CreateFileW(Native(tmp).c_str(), GENERIC_WRITE, 0, owner.Attributes(), CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) {
        error = QStringLiteral("the key %1 could not be made: %2").arg(tmp, Why(GetLastError()));
        return false;
    }
    DWORD n = 0;
    const bool written = WriteFile(out, data, static_cast<DWORD>(size), &n, nullptr) && n == size &&
                         FlushFileBuffers(out);
    DWORD err = written ? 0 : GetLastError();
    CloseHandle(out);
    // Without MOVEFILE_REPLACE_EXISTING the move never replaces: a key made
    // meanwhile by another process wins, an existing file is never overwritten.
    bool exists = false;
    if (written && !MoveFileExW(Native(tmp).c_str(), Native(path).c_str(), MOVEFILE_WRITE_THROUGH)) {
        err = GetLastError();
        exists = err == ERROR_ALREADY_EXISTS || err == ERROR_FILE_EXISTS;
    }
    DeleteFileW(Native(tmp).c_str());
    if (!written || (err != 0 && !(exists && madeMeanwhileIsFine))) {
        error = exists ? QStringLiteral("%1 already exists: a key file is never overwritten").arg(path)
                       : QStringLiteral("the key %1 could not be made: %2").arg(path, Why(err));
        return false;
    }
    return true;
}

bool ReadKeyFile(const QString &path, unsigned char *data, size_t size, QString &error)
{
    const HANDLE h = CreateFileW(Native(path).c_str(), GENERIC_READ | READ_CONTROL, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD e = GetLastError();
        error = e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND
                    ? QStringLiteral("the key %1 is missing").arg(path)
                    : QStringLiteral("the key %1 cannot be read: %2").arg(path, Why(e));
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(h, &info);
    const uint64_t length = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    const std::string problem = known ? OwnerOnlyProblem(h) : std::string();
    DWORD n = 0;
    if (known && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        error = QStringLiteral("the key %1 is a link: a key is never read through one").arg(path);
    else if (!known || GetFileType(h) != FILE_TYPE_DISK || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        error = QStringLiteral("the key %1 is not a regular file").arg(path);
    else if (problem == "belongs to another user")
        error = QStringLiteral("the key %1 belongs to another user").arg(path);
    else if (!problem.empty())
        error = QStringLiteral("the key %1: %2 (a key file is for this user alone)")
                    .arg(path, QString::fromStdString(problem));
    else if (length != size)
        error = QStringLiteral("the key %1 is %2 bytes, not %3: it is damaged").arg(path).arg(length).arg(size);
    else if (!ReadFile(h, data, static_cast<DWORD>(size), &n, nullptr) || n != size)
        error = QStringLiteral("the key %1 cannot be read: %2").arg(path, Why(GetLastError()));
    CloseHandle(h);
    return error.isEmpty();
}
