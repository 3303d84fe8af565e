#include "files/input_file.h"

#include "files/input_file_platform.h"

namespace {

RInputFile Read(const std::string &path, uint64_t nMaxSize, bool bHeadOnly)
{
    RInputFile file;
    TInputHandle input;
    file.mResult = input.Open(path, file.mSize);
    if (file.mResult != EInputFile::Ok)
        return file;
    if (!bHeadOnly && file.mSize > nMaxSize) {
        file.mResult = EInputFile::TooLarge;
        return file;
    }
    // One byte more than allowed tells a file that grew while it was read.
    const uint64_t limit = bHeadOnly || nMaxSize == UINT64_MAX ? nMaxSize : nMaxSize + 1;
    if (!input.ReadUpTo(static_cast<size_t>(limit), file.mBytes)) {
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
