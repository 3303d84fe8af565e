// The file system calls behind atomic_save.h on Windows: a symbolic link or
// junction is never written through, private files are written to a
// temporary in the same folder, flushed and moved over the name.
#include "files/atomic_save.h"

#include <windows.h>

#include <algorithm>
#include <filesystem>

#include "files/owner_only_win32.h"

namespace {
std::string ErrorText(const std::string &what, DWORD error) { return what + ": " + SystemErrorText(error); }
} // namespace

std::string LinkProblem(const std::string &path)
{
    // Anyone may plant a link where they can write; on Windows none is followed.
    if (IsReparsePoint(path))
        return path + " is a symbolic link or junction: nothing is written through it";
    return {};
}

bool WritePrivateFile(const std::string &dir, const std::string &name, const std::string &bytes, std::string *error,
                      bool durable)
{
    const auto fail = [error](const std::string &why) {
        if (error)
            *error = why;
        return false;
    };
    if (dir.empty() || name.empty() || name.find_first_of("/\\") != std::string::npos)
        return fail("no valid file name");
    const std::string target = dir + "/" + name;
    TOwnerOnly owner;
    std::string temp;
    HANDLE h = INVALID_HANDLE_VALUE;
    // A new temporary of a name nobody has (CREATE_NEW never opens what is there).
    for (unsigned attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
        temp = target + "." + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount() + attempt);
        h = CreateFileW(WidePath(temp).c_str(), GENERIC_WRITE, 0, owner.Attributes(), CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
            return fail(ErrorText(dir, GetLastError()));
    }
    if (h == INVALID_HANDLE_VALUE)
        return fail(ErrorText(dir, ERROR_FILE_EXISTS));
    size_t done = 0;
    DWORD e = 0;
    while (done < bytes.size() && e == 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
        DWORD n = 0;
        if (!WriteFile(h, bytes.data() + done, chunk, &n, nullptr) || n == 0)
            e = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
        done += n;
    }
    if (e == 0 && durable && !FlushFileBuffers(h))
        e = GetLastError();
    CloseHandle(h);
    // The move replaces whatever entry has the name (a link too) and never
    // writes through it.
    if (e == 0 && !MoveFileExW(WidePath(temp).c_str(), WidePath(target).c_str(),
                               MOVEFILE_REPLACE_EXISTING | (durable ? MOVEFILE_WRITE_THROUGH : 0)))
        e = GetLastError();
    if (e != 0) {
        DeleteFileW(WidePath(temp).c_str());
        return fail(ErrorText(done < bytes.size() ? temp : target, e));
    }
    return true;
}

std::string OutFileProblem(const std::string &path)
{
    namespace fs = std::filesystem;
    if (path.empty())
        return "no file name";
    const std::wstring wide = WidePath(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            return "it is a folder";
        const HANDLE h = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return SystemErrorText(GetLastError());
        CloseHandle(h);
        return {};
    }
    fs::path dir = fs::path(wide).parent_path();
    if (dir.empty())
        dir = ".";
    const DWORD folder = GetFileAttributesW(dir.c_str());
    if (folder == INVALID_FILE_ATTRIBUTES)
        return Utf8Text(dir.wstring()) + ": " + SystemErrorText(GetLastError());
    if (!(folder & FILE_ATTRIBUTE_DIRECTORY))
        return Utf8Text(dir.wstring()) + " is not a folder";
    return {};
}

bool AppendToFile(const std::string &path, const std::string &bytes)
{
    // OPEN_EXISTING: a file that was removed stays removed.
    const HANDLE h = CreateFileW(WidePath(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    size_t done = 0;
    bool ok = true;
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
        DWORD n = 0;
        if (!WriteFile(h, bytes.data() + done, chunk, &n, nullptr) || n == 0) {
            ok = false;
            break;
        }
        done += n;
    }
    return CloseHandle(h) && ok;
}
