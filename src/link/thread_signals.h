#pragma once
// Keeps the program's stop requests (interrupt, terminate, hang-up, quit)
// away from a worker thread: they are for the thread that waits for them
// (the command line's screen, the simulator's control loop), never for a
// thread that serves the line or writes records. Call first thing in the
// thread. The platform's own file (thread_signals_posix.cpp) does it.
void KeepStopSignalsFromThisThread();
