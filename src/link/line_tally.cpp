#include "link/line_tally.h"

void TLineTally::Opened()
{
    std::lock_guard lock(FMutex);
    FAttached = true;
    FWritten = 0;
    FTakenIn = 0;
    FWatched.reset();
    FWrittenAtWatched.reset();
}

void TLineTally::Wrote(uint64_t count)
{
    std::lock_guard lock(FMutex);
    FWritten += count;
}

void TLineTally::TookIn(uint64_t count)
{
    std::lock_guard lock(FMutex);
    FTakenIn += count;
    if (FWatched && !FWrittenAtWatched && FTakenIn >= *FWatched)
        FWrittenAtWatched = FWritten;
}

void TLineTally::Closed()
{
    std::lock_guard lock(FMutex);
    FAttached = false;
}

bool TLineTally::Attached() const
{
    std::lock_guard lock(FMutex);
    return FAttached;
}

void TLineTally::Watch(uint64_t replyEnd)
{
    std::lock_guard lock(FMutex);
    FWatched = replyEnd;
    FWrittenAtWatched.reset();
}

bool TLineTally::WrittenBeforeWatchedReply(uint64_t written) const
{
    std::lock_guard lock(FMutex);
    if (!FWatched)
        return false;
    return !FWrittenAtWatched || written <= *FWrittenAtWatched;
}
