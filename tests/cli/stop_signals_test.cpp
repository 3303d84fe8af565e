// Ctrl-C and SIGTERM during the jobs that can stop cleanly: the first asks
// the job to stop, once; after it the signals end the program again, and a
// SIGINT the shell told the program to ignore stays ignored.
#include <gtest/gtest.h>

#include <csignal>
#include <pthread.h>

#include "cli/cli_screen.h"

namespace {

bool Blocked(int sig)
{
    sigset_t now;
    pthread_sigmask(SIG_BLOCK, nullptr, &now);
    return sigismember(&now, sig) == 1;
}

} // namespace

TEST(CliStopSignals, TheFirstSignalAsksTheJobToStopOnce)
{
    TCliScreen screen;
    int stops = 0;
    screen.FOnStop = [&stops] { ++stops; };
    screen.CatchStopSignals();
    EXPECT_TRUE(Blocked(SIGTERM));
    screen.ProcessMessages();
    EXPECT_FALSE(screen.StopRequested());
    EXPECT_EQ(stops, 0);

    ASSERT_EQ(std::raise(SIGTERM), 0); // waits for the screen instead of ending the test
    screen.ProcessMessages();
    screen.ProcessMessages();
    EXPECT_TRUE(screen.StopRequested());
    EXPECT_EQ(stops, 1);
    // A second signal would end the program at once, as without the screen.
    EXPECT_FALSE(Blocked(SIGTERM));
    EXPECT_FALSE(Blocked(SIGINT));
}

TEST(CliStopSignals, AnIgnoredInterruptStaysIgnoredAndTheScreenGivesTheSignalsBack)
{
    struct sigaction ignore {}, before {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(sigaction(SIGINT, &ignore, &before), 0);
    {
        TCliScreen screen;
        screen.CatchStopSignals();
        EXPECT_FALSE(Blocked(SIGINT));
        EXPECT_TRUE(Blocked(SIGTERM));
        ASSERT_EQ(std::raise(SIGINT), 0);
        EXPECT_FALSE(screen.StopRequested());
    }
    sigaction(SIGINT, &before, nullptr);
    EXPECT_FALSE(Blocked(SIGTERM));
}
