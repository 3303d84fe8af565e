#pragma once
// Windows only (the win32 files of files/, app/ and records/): the user's
// own access control for private files and folders, the counterpart of mode
// 0600 and 0700, and the text conversions the wide-character calls need.
// The system's types appear by their own names (a HANDLE is a void *, a
// DWORD an unsigned long), so that this header needs no system header.
#include <memory>
#include <string>

struct _SECURITY_ATTRIBUTES;

std::wstring WidePath(const std::string &utf8);
std::string Utf8Text(const std::wstring &wide);
// The system's text for an error code, without the line break it ends with.
std::string SystemErrorText(unsigned long error);

// Security attributes whose protected DACL grants this user, and only this
// user, full access (nothing inherited from the folder above).
class TOwnerOnly {
public:
    TOwnerOnly();
    ~TOwnerOnly();
    TOwnerOnly(const TOwnerOnly &) = delete;
    TOwnerOnly &operator=(const TOwnerOnly &) = delete;
    // Null when this user's SID could not be read.
    _SECURITY_ATTRIBUTES *Attributes();

private:
    struct RData;
    std::unique_ptr<RData> F;
};

// What makes the open file or folder not this user's alone: empty when this
// user owns it and its DACL allows no one else anything (the system and the
// administrators, who may open anything anyway, aside); otherwise "belongs
// to another user" or "others may use it (...)".
std::string OwnerOnlyProblem(void *handle);

// The object at path is a reparse point (a symbolic link or a junction),
// looked at by name without following it. (Wine shows a link to a folder so,
// but not a link to a file.)
bool IsReparsePoint(const std::string &path);
