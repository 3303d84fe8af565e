#pragma once
// An in-memory line for the fuzzing harness: it stands in for the tty behind
// a TComTamsel and answers every request with the next slice of the fuzz
// input. It never opens a device.
//
// The script is a sequence of replies, each a length byte followed by that
// many bytes (cut short where the input ends). A length byte of 0xFF makes
// that write fail as a vanished port does ("Write error"). Each Write queues
// the next reply behind whatever is still queued; PurgeIn drops the queue.
// Read hands out the queue in pieces of at most `piece` bytes (0: no limit).
//
// An empty queue answers one Read with 0 (silence) after each write; the
// next empty Read, and every empty Read once the script is used up, raises
// "Read error" as a vanished device does. So an exchange that waits for
// bytes that never come ends at once instead of after its time-out, and
// the handshake ends when the script does. With `silentWhenEmpty` the line
// stays silent instead (the exchange then runs into its own time-out).
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <vector>

#include "link/comm.h"

class TFakeLine : public TComm {
public:
    TFakeLine(const uint8_t *script, size_t size, size_t piece = 0, bool silentWhenEmpty = false)
        : FScript(script), FSize(size), FPiece(piece), FSilentWhenEmpty(silentWhenEmpty)
    {
    }

    void Open() override
    {
        if (FOpen)
            throw ECommError("Port already assigned (open)", -1);
        FOpen = true;
    }
    void Close() override
    {
        FOpen = false;
        FQueue.clear();
    }
    bool Enabled() const override { return FOpen; }

    int Write(const void *buf, int count) override
    {
        if (!FOpen)
            throw ECommError("Write error", EBADF);
        ++FWrites;
        FLastWrite.assign(static_cast<const uint8_t *>(buf), static_cast<const uint8_t *>(buf) + std::max(count, 0));
        FEmptyReads = 0;
        if (FPos >= FSize)
            return count;
        const uint8_t len = FScript[FPos++];
        if (len == 0xFF)
            throw ECommError("Write error", EIO);
        const size_t n = std::min<size_t>(len, FSize - FPos);
        FQueue.insert(FQueue.end(), FScript + FPos, FScript + FPos + n);
        FPos += n;
        return count;
    }

    int Read(void *buf, int count) override
    {
        if (!FOpen)
            throw ECommError("Read error", EBADF);
        if (count <= 0)
            return 0;
        if (FQueue.empty()) {
            if (FSilentWhenEmpty)
                return 0;
            if (FPos >= FSize || FEmptyReads++ > 0)
                throw ECommError("Read error", EIO);
            return 0;
        }
        size_t n = std::min<size_t>(static_cast<size_t>(count), FQueue.size());
        if (FPiece > 0)
            n = std::min(n, FPiece);
        std::copy_n(FQueue.begin(), n, static_cast<uint8_t *>(buf));
        FQueue.erase(FQueue.begin(), FQueue.begin() + static_cast<std::ptrdiff_t>(n));
        return static_cast<int>(n);
    }

    void PurgeIn() override { FQueue.clear(); }

    bool WaitInput(double) override
    {
        if (!FOpen)
            throw ECommError("Read error", EBADF);
        return !FQueue.empty();
    }

    bool ScriptDone() const { return FPos >= FSize && FQueue.empty(); }
    long Writes() const { return FWrites; }
    const std::vector<uint8_t> &LastWrite() const { return FLastWrite; }

private:
    const uint8_t *FScript;
    size_t FSize;
    size_t FPos = 0;
    size_t FPiece;
    bool FSilentWhenEmpty;
    bool FOpen = false;
    int FEmptyReads = 0;
    long FWrites = 0;
    std::deque<uint8_t> FQueue;
    std::vector<uint8_t> FLastWrite;
};
