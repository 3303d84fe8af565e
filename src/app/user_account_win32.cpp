// Who runs the program on Windows: the account's name and SID, and its full
// name where the system keeps one.
#include "app/user_account.h"

#include <windows.h>

#include <sddl.h>
#include <string>

#include "files/owner_only_win32.h"

namespace {

std::string UserSidText()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::string buffer(size, '\0');
    std::string text;
    if (size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        wchar_t *sid = nullptr;
        if (ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid, &sid)) {
            text = Utf8Text(sid);
            LocalFree(sid);
        }
    }
    CloseHandle(token);
    return text;
}

} // namespace

std::optional<std::string> AccountLoginName()
{
    wchar_t name[257] = {};
    DWORD size = sizeof name / sizeof name[0];
    if (!GetUserNameW(name, &size) || name[0] == L'\0')
        return std::nullopt;
    return Utf8Text(name);
}

std::string AccountUserNumber() { return UserSidText(); }

// Windows keeps a full name only for domain and Microsoft accounts, behind
// calls a local service tool has no use for: none.
std::string AccountComment() { return {}; }
