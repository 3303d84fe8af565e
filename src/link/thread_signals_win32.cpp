#include "link/thread_signals.h"

// Windows delivers a console's stop requests (Ctrl-C, Ctrl-Break, closing the
// console) to a thread of their own that the system makes for the handler,
// never to a worker thread: there is nothing to keep away.
void KeepStopSignalsFromThisThread() {}
