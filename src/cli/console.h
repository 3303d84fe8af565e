#pragma once
// What the command line asks of its console: whether stdin and stderr are
// terminals, and a wait for the Enter key that gives up at a deadline. The
// platform's own file (console_posix.cpp) answers.

// Makes standard output and error carry the program's UTF-8 text byte for
// byte (Windows: the console's output code page, and line ends left as they
// are, so that what is printed is what the Linux build prints); nothing where
// terminals take UTF-8 already.
void UseUtf8Console();

bool StdinIsTerminal();
bool StderrIsTerminal();

// Waits up to `ms` milliseconds (-1: without end) for input on stdin and
// reads what arrived. True when something was read (a line ended by Enter);
// false when nothing came in time, stdin ended or could not be read.
bool ReadConsoleInput(int ms);
