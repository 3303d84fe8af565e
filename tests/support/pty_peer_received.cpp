// What the program sent the scripted peer, the same on every system: kept
// under the peer's lock by its serving thread, read and waited for here.
#include "support/pty_peer.h"

#include <chrono>

Bytes PtyPeer::Received()
{
    std::lock_guard lock(FLock);
    return FReceived;
}

void PtyPeer::ClearReceived()
{
    std::lock_guard lock(FLock);
    FReceived.clear();
}

bool PtyPeer::WaitReceived(size_t n, int timeoutMs)
{
    std::unique_lock lock(FLock);
    return FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return FReceived.size() >= n; });
}
