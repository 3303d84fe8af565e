// The per-user run-time folder on Windows: "beamport-<n>" in the user's own
// temp folder (n: the last part of the user's SID, the user's number on this
// machine), made with an access control list for this user alone; refused
// when it is a symbolic link or junction, not a folder, or open to others.
#include "app/runtime_dir.h"

#include <windows.h>

#include <QDir>

#include "files/owner_only_win32.h"

namespace {

// The relative identifier of this process's user (the last part of its SID).
uint32_t UserNumber()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return 0;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::string buffer(size, '\0');
    uint32_t rid = 0;
    if (size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        const PSID sid = reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid;
        const UCHAR count = *GetSidSubAuthorityCount(sid);
        if (count > 0)
            rid = *GetSidSubAuthority(sid, count - 1u);
    }
    CloseHandle(token);
    return rid;
}

} // namespace

RRuntimeEnv CurrentRuntimeEnv()
{
    RRuntimeEnv env;
    env.mTempDir = QDir::tempPath().toStdString();
    env.mUid = UserNumber();
    return env;
}

RRuntimeDir UserRuntimeDir(const RRuntimeEnv &env)
{
    RRuntimeDir result;
    std::string temp = env.mTempDir.empty() ? QDir::tempPath().toStdString() : env.mTempDir;
    while (temp.size() > 3 && (temp.back() == '/' || temp.back() == '\\'))
        temp.pop_back();
    result.mPath = temp + "/" + PrivateTempFolderName(env.mUid);
    const std::wstring wide = WidePath(result.mPath);
    TOwnerOnly owner;
    if (!CreateDirectoryW(wide.c_str(), owner.Attributes()) && GetLastError() != ERROR_ALREADY_EXISTS) {
        result.mError = result.mPath + ": " + SystemErrorText(GetLastError());
        return result;
    }
    // The folder itself, never what a link or junction at its name points to.
    const HANDLE h = CreateFileW(wide.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        result.mError = result.mPath + ": " + SystemErrorText(GetLastError());
        return result;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(h, &info);
    const std::string problem = OwnerOnlyProblem(h);
    CloseHandle(h);
    if (!known || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        result.mError = result.mPath + " is not a folder";
    else if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || IsReparsePoint(result.mPath))
        result.mError = result.mPath + " is a symbolic link or junction";
    else if (problem == "belongs to another user")
        result.mError = result.mPath + " belongs to another user";
    else if (!problem.empty())
        result.mError = result.mPath + " can be written by other users";
    else
        result.mOk = true;
    return result;
}

// Qt on Windows keeps its run-time files without the variable.
bool ProvideXdgRuntimeDir() { return true; }
