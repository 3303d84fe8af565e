#pragma once
// Reading a file the user picked or the program looks for (.cfg files,
// firmware images, the settings file): only regular files are read, the open
// never waits (a FIFO or a device picked by mistake cannot hang the program),
// and never more is read than the caller allows.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class EInputFile {
    Ok,
    Missing,    // no such file
    Unreadable, // it could not be opened or read
    NotRegular, // a directory, FIFO, device or socket
    TooLarge,   // more bytes than allowed
};

struct RInputFile {
    EInputFile mResult = EInputFile::Unreadable;
    std::vector<uint8_t> mBytes; // Ok: the bytes read
    uint64_t mSize = 0;          // the file's size when it was opened (regular files)
    bool Ok() const { return mResult == EInputFile::Ok; }
};

// The whole file. One larger than nMaxSize bytes is TooLarge, decided from its
// size before anything is read (and again should it grow while being read).
RInputFile ReadInputFile(const std::string &path, uint64_t nMaxSize);
// At most the first nCount bytes of a regular file of any size.
RInputFile ReadInputFileHead(const std::string &path, size_t nCount);

// What is wrong, for messages: "no such file", "not a regular file", ...;
// empty for Ok.
std::string InputFileProblem(EInputFile result);
