#pragma once
// Small helpers shared by the fuzz targets: a reader that takes values off
// the front of the input, an invariant check that stops the run loudly, a
// link over the in-memory line, and a scratch file per target.
#include <sanitizer/allocator_interface.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fake_line.h"
#include "link/tamsel_comms.h"

// A broken invariant is a finding: report it and abort, so libFuzzer keeps the input.
#define FUZZ_CHECK(cond)                                                                                   \
    do {                                                                                                   \
        if (!(cond)) {                                                                                     \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #cond);              \
            std::abort();                                                                                  \
        }                                                                                                  \
    } while (0)

// With BEAMPORT_FUZZ_VERBOSE set, targets describe what a run did (for
// checking seeds: `BEAMPORT_FUZZ_VERBOSE=1 fuzz_commands corpus/commands/*`).
inline bool FuzzVerbose()
{
    static const bool verbose = std::getenv("BEAMPORT_FUZZ_VERBOSE") != nullptr;
    return verbose;
}
#define FUZZ_SAY(...)                                                                                      \
    do {                                                                                                   \
        if (FuzzVerbose())                                                                                 \
            std::fprintf(stderr, __VA_ARGS__);                                                             \
    } while (0)

// With BEAMPORT_FUZZ_HEAP=N, every N runs the live heap is printed: state
// that grows from run to run without leaking shows there (LeakSanitizer only
// sees memory nothing points to any more).
inline void FuzzHeapTick()
{
    static const long every = [] {
        const char *e = std::getenv("BEAMPORT_FUZZ_HEAP");
        return e ? std::atol(e) : 0L;
    }();
    static long runs = 0;
    if (every > 0 && ++runs % every == 0)
        std::fprintf(stderr, "heap after %ld runs: %zu bytes live\n", runs, __sanitizer_get_current_allocated_bytes());
}

// Values off the front of the input; zeros once it is used up.
class TFuzzInput {
public:
    TFuzzInput(const uint8_t *data, size_t size) : FData(data), FSize(size) {}

    uint8_t Byte() { return FPos < FSize ? FData[FPos++] : 0; }
    uint16_t U16()
    {
        const uint16_t lo = Byte();
        return static_cast<uint16_t>(lo | Byte() << 8);
    }
    uint32_t U32()
    {
        const uint32_t lo = U16();
        return lo | static_cast<uint32_t>(U16()) << 16;
    }
    int32_t I32() { return static_cast<int32_t>(U32()); }
    // Up to n bytes, fewer where the input ends.
    std::vector<uint8_t> Bytes(size_t n)
    {
        n = std::min(n, FSize - FPos);
        std::vector<uint8_t> out(FData + FPos, FData + FPos + n);
        FPos += n;
        return out;
    }
    // Exactly n bytes: the input, then zeros.
    void Fill(void *dst, size_t n)
    {
        const size_t have = std::min(n, FSize - FPos);
        std::memcpy(dst, FData + FPos, have);
        std::memset(static_cast<uint8_t *>(dst) + have, 0, n - have);
        FPos += have;
    }
    const uint8_t *Rest() const { return FData + FPos; }
    size_t Left() const { return FSize - FPos; }
    void Skip(size_t n) { FPos += std::min(n, Left()); }

private:
    const uint8_t *FData;
    size_t FSize;
    size_t FPos = 0;
};

// A link over a TFakeLine playing `script`, opened, without pauses.
struct TFuzzLink {
    TFakeLine *line;
    std::unique_ptr<TComTamsel> link;

    TFuzzLink(const uint8_t *script, size_t size, size_t piece, bool silentWhenEmpty = false)
    {
        auto fake = std::make_unique<TFakeLine>(script, size, piece, silentWhenEmpty);
        line = fake.get();
        link = std::make_unique<TComTamsel>(std::move(fake));
        link->SetPauseScale(0);
        link->SetPortDevice(1, "fuzz-line"); // the fake line stands for the device
        link->ComOpen(1);
    }
};

// A file of this process for targets whose entry point takes a path; it is
// removed when the process ends normally.
class TScratchFile {
public:
    explicit TScratchFile(const char *tag)
    {
        const char *dir = std::getenv("TMPDIR");
        FPath = std::string(dir && *dir ? dir : "/tmp") + "/beamport-fuzz-" + tag + "-" + std::to_string(::getpid());
    }
    ~TScratchFile() { ::unlink(FPath.c_str()); }
    TScratchFile(const TScratchFile &) = delete;
    TScratchFile &operator=(const TScratchFile &) = delete;
    const std::string &Path() const { return FPath; }

private:
    std::string FPath;
};

inline void WriteScratch(const std::string &path, const void *data, size_t size)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    FUZZ_CHECK(f != nullptr);
    if (size > 0)
        FUZZ_CHECK(std::fwrite(data, 1, size, f) == size);
    FUZZ_CHECK(std::fclose(f) == 0);
}
