#pragma once
// A scripted peer at the far end of a pty: it answers what the program writes
// with exactly the bytes a test gives it, in pieces and with pauses if asked.
// On Windows the line is a named pipe the port class opens as it opens a COM
// port (pty_peer_win32.cpp).
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using Bytes = std::vector<uint8_t>;

class PtyPeer {
public:
    struct Step {
        size_t expectBytes = 0;      // bytes to receive (since the previous step) before answering
        std::vector<Bytes> pieces;   // answer, written piece by piece
        int gapMs = 0;               // pause before each piece
        bool vanish = false;         // close the far end instead of (after) answering
    };

    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer &) = delete;
    PtyPeer &operator=(const PtyPeer &) = delete;

    const std::string &Path() const { return FPath; }
    void Script(std::vector<Step> steps);
    // Answer `reply` once `expect` bytes have arrived.
    void Then(size_t expect, Bytes reply, int gapMs = 0);
    // Writes bytes to the program at once, outside the script.
    void Send(const Bytes &bytes);
    Bytes Received();
    void ClearReceived();
    // Waits until at least n bytes have been received in all.
    bool WaitReceived(size_t n, int timeoutMs = 2000);
    void Vanish();

private:
    void Run();

#ifdef _WIN32
    void *FPipe = nullptr;    // the pipe's server end; null once it vanished
    void *FIo = nullptr;      // the event of its transfers
    bool FVanishAsked = false; // another thread asked Run to close the pipe
#else
    int FMaster = -1;
#endif
    std::string FPath;
    std::mutex FLock;
    std::condition_variable FChanged;
    std::vector<Step> FSteps;
    size_t FStepBytes = 0;
    Bytes FReceived;
    std::atomic<bool> FStop{false};
    std::thread FThread;
};

// A frame as the detector sends it: data then CRC16 high byte first.
Bytes WithCrc(Bytes data);
Bytes Hex(const std::string &text); // "B5 B7 C1" -> bytes
