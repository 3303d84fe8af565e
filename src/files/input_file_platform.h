#pragma once
// The platform's side of reading an input file (input_file_posix.cpp): an
// open that never waits and takes regular files only, and a bounded read.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "files/input_file.h"

// One open input file, closed on every way out.
class TInputHandle {
public:
    TInputHandle() = default;
    ~TInputHandle();
    TInputHandle(const TInputHandle &) = delete;
    TInputHandle &operator=(const TInputHandle &) = delete;

    // Opens path for reading when it is a regular file. The kind is checked
    // before the open (opening some devices already does something) and
    // again on the open file (the name may have been replaced in between);
    // the open itself never waits for a writer or a carrier. Ok sets size.
    EInputFile Open(const std::string &path, uint64_t &size);
    // Reads until end of file or nLimit bytes; false on a read error.
    bool ReadUpTo(size_t nLimit, std::vector<uint8_t> &bytes);

private:
    intptr_t FHandle = -1;
};
