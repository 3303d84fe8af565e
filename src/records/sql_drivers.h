#pragma once
// The database drivers are plugins that Qt finds by looking through its plugin
// folders once, on the thread that first asks for a driver. On Windows that
// look matches the folders' file names against a pattern, and a thread that
// matched a pattern and then ends crashes the MinGW build on its way out (the
// pattern engine's thread-local stack is cleaned up after the thread's storage
// was freed). A journal's writer thread ends with the journal, so the folders
// are looked through before it starts, on the thread that makes the journal.
//
// Looks through the drivers' plugin folders on this thread where the platform
// needs it (Windows); does nothing elsewhere.
void FindSqlDriversOnThisThread();
