// The tally a port keeps for an in-process detector: which of the program's
// bytes were written before it had taken in the reply the detector watches.
#include <gtest/gtest.h>

#include <memory>

#include "link/line_tally.h"

TEST(LineTally, AWatchedReplyCountsOnlyWhenWhollyTakenIn)
{
    const auto tally = std::make_shared<TLineTally>();
    EXPECT_FALSE(tally->Attached());

    tally->Opened();
    EXPECT_TRUE(tally->Attached());
    tally->Wrote(3);
    EXPECT_FALSE(tally->WrittenBeforeWatchedReply(3)); // nothing watched: nothing is a repeat
    tally->Watch(3);                                    // the detector's first reply: bytes 0..2
    tally->Wrote(3);                                    // a repeat while it is on its way
    EXPECT_TRUE(tally->WrittenBeforeWatchedReply(6));   // not taken in yet
    tally->TookIn(2);                                   // part of it only
    tally->Wrote(3);
    EXPECT_TRUE(tally->WrittenBeforeWatchedReply(9));
    tally->TookIn(1); // the rest: from here on the program has seen it
    tally->Wrote(3);
    EXPECT_TRUE(tally->WrittenBeforeWatchedReply(9));
    EXPECT_FALSE(tally->WrittenBeforeWatchedReply(12));

    // A purge that throws the next reply away counts as taking it in.
    tally->Watch(6);
    tally->TookIn(3);
    tally->Wrote(3);
    EXPECT_FALSE(tally->WrittenBeforeWatchedReply(15));

    // Opening again starts over: nothing watched, nothing counted.
    tally->Watch(9);
    tally->Closed();
    EXPECT_FALSE(tally->Attached());
    tally->Opened();
    tally->Wrote(3);
    EXPECT_FALSE(tally->WrittenBeforeWatchedReply(3));
}
