// The platform's side of reading an input file on Windows: regular files on
// a disk only (a device, pipe or console picked by mistake is refused before
// it is read), read in bounded pieces.
#include "files/input_file_platform.h"

#include <windows.h>

#include "files/owner_only_win32.h"

namespace {
EInputFile OpenFailure(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? EInputFile::Missing
                                                                          : EInputFile::Unreadable;
}
} // namespace

TInputHandle::~TInputHandle()
{
    if (FHandle != -1)
        CloseHandle(reinterpret_cast<HANDLE>(FHandle));
}

EInputFile TInputHandle::Open(const std::string &path, uint64_t &size)
{
    // Device namespaces ("\\.\COM1", "\\?\...") never name a regular file worth reading.
    if (path.rfind("\\\\.\\", 0) == 0 || path.rfind("//./", 0) == 0)
        return EInputFile::NotRegular;
    const std::wstring wide = WidePath(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return OpenFailure(GetLastError());
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))
        return EInputFile::NotRegular;
    const HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return OpenFailure(GetLastError());
    FHandle = reinterpret_cast<intptr_t>(h);
    if (GetFileType(h) != FILE_TYPE_DISK)
        return EInputFile::NotRegular;
    LARGE_INTEGER length{};
    if (!GetFileSizeEx(h, &length))
        return EInputFile::Unreadable;
    size = static_cast<uint64_t>(length.QuadPart);
    return EInputFile::Ok;
}

bool TInputHandle::ReadUpTo(size_t nLimit, std::vector<uint8_t> &bytes)
{
    bytes.clear();
    const HANDLE h = reinterpret_cast<HANDLE>(FHandle);
    size_t got = 0;
    while (got < nLimit) {
        const size_t chunk = nLimit - got < 65536 ? nLimit - got : 65536;
        bytes.resize(got + chunk);
        DWORD n = 0;
        if (!ReadFile(h, bytes.data() + got, static_cast<DWORD>(chunk), &n, nullptr)) {
            bytes.clear();
            return false;
        }
        if (n == 0)
            break;
        got += n;
    }
    bytes.resize(got);
    return true;
}
