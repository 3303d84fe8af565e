#include "link/thread_signals.h"

#include <csignal>
#include <initializer_list>
#include <pthread.h>

void KeepStopSignalsFromThisThread()
{
    sigset_t stop;
    sigemptyset(&stop);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        sigaddset(&stop, sig);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
}
