#include "files/owner_only_win32.h"

#include <windows.h>

#include <aclapi.h>

#include <initializer_list>

namespace {

// This process's user SID, copied into `out`; false when it cannot be read.
bool CurrentUserSid(std::unique_ptr<unsigned char[]> &out)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[size > 0 ? size : 1]);
    const bool ok = size > 0 && GetTokenInformation(token, TokenUser, buffer.get(), size, &size);
    CloseHandle(token);
    if (!ok)
        return false;
    const PSID sid = reinterpret_cast<TOKEN_USER *>(buffer.get())->User.Sid;
    const DWORD length = GetLengthSid(sid);
    out.reset(new unsigned char[length]);
    return CopySid(length, out.get(), sid) != 0;
}

// The system itself and the machine's administrators, who may open any file
// anyway (as root may on POSIX systems): an entry for them takes nothing from
// a file's privacy.
bool AboveEveryUser(PSID sid)
{
    for (const WELL_KNOWN_SID_TYPE type : {WinLocalSystemSid, WinBuiltinAdministratorsSid}) {
        unsigned char buffer[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof buffer;
        if (CreateWellKnownSid(type, nullptr, buffer, &size) && EqualSid(sid, buffer))
            return true;
    }
    return false;
}

} // namespace

std::wstring WidePath(const std::string &utf8)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    if (n <= 1)
        return {};
    std::wstring wide(static_cast<size_t>(n - 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), n);
    return wide;
}

std::string Utf8Text(const std::wstring &wide)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1)
        return {};
    std::string text(static_cast<size_t>(n - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, text.data(), n, nullptr, nullptr);
    return text;
}

std::string SystemErrorText(unsigned long error)
{
    wchar_t *text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, error, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    std::wstring wide = n > 0 && text ? std::wstring(text, n) : L"error " + std::to_wstring(error);
    if (text)
        LocalFree(text);
    while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L' ' || wide.back() == L'.'))
        wide.pop_back();
    return Utf8Text(wide);
}

struct TOwnerOnly::RData {
    SECURITY_ATTRIBUTES mAttributes{};
    SECURITY_DESCRIPTOR mDescriptor{};
    std::unique_ptr<unsigned char[]> mAcl;
    std::unique_ptr<unsigned char[]> mUser;
    bool mOk = false;
};

TOwnerOnly::TOwnerOnly() : F(std::make_unique<RData>())
{
    if (!CurrentUserSid(F->mUser))
        return;
    const PSID sid = F->mUser.get();
    const DWORD aclSize = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid);
    F->mAcl.reset(new unsigned char[aclSize]);
    auto *acl = reinterpret_cast<ACL *>(F->mAcl.get());
    SECURITY_DESCRIPTOR *sd = &F->mDescriptor;
    if (!InitializeAcl(acl, aclSize, ACL_REVISION) ||
        !AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, GENERIC_ALL, sid) ||
        !InitializeSecurityDescriptor(sd, SECURITY_DESCRIPTOR_REVISION) || !SetSecurityDescriptorOwner(sd, sid, FALSE) ||
        !SetSecurityDescriptorDacl(sd, TRUE, acl, FALSE) ||
        !SetSecurityDescriptorControl(sd, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
        return;
    F->mAttributes.nLength = sizeof F->mAttributes;
    F->mAttributes.lpSecurityDescriptor = sd;
    F->mAttributes.bInheritHandle = FALSE;
    F->mOk = true;
}

TOwnerOnly::~TOwnerOnly() = default;

SECURITY_ATTRIBUTES *TOwnerOnly::Attributes() { return F->mOk ? &F->mAttributes : nullptr; }

std::string OwnerOnlyProblem(void *handle)
{
    std::unique_ptr<unsigned char[]> user;
    if (!CurrentUserSid(user))
        return "this user cannot be told from others";
    PSID owner = nullptr;
    ACL *dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                        nullptr, &dacl, nullptr, &sd) != ERROR_SUCCESS)
        return "its access control cannot be read";
    std::string problem;
    if (owner == nullptr || !EqualSid(owner, user.get())) {
        problem = "belongs to another user";
    } else if (dacl == nullptr) {
        problem = "others may use it (it has no access control list)";
    } else {
        for (DWORD i = 0; i < dacl->AceCount && problem.empty(); ++i) {
            ACE_HEADER *ace = nullptr;
            if (!GetAce(dacl, i, reinterpret_cast<void **>(&ace)))
                continue;
            if (ace->AceType != ACCESS_ALLOWED_ACE_TYPE)
                continue; // a denial takes nothing from the owner's privacy
            auto *allowed = reinterpret_cast<ACCESS_ALLOWED_ACE *>(ace);
            const PSID sid = &allowed->SidStart;
            if (!EqualSid(sid, user.get()) && !AboveEveryUser(sid) && allowed->Mask != 0) {
                wchar_t name[256] = {}, domain[256] = {};
                DWORD nameSize = 256, domainSize = 256;
                SID_NAME_USE use{};
                const std::string who = LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &use)
                                            ? Utf8Text(name)
                                            : std::string("another account");
                problem = "others may use it (" + who + " is allowed in)";
            }
        }
    }
    LocalFree(sd);
    return problem;
}

bool IsReparsePoint(const std::string &path)
{
    const DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}
