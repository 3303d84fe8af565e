#pragma once
// The end of a program's run, once main's work is done and every object of
// the run is gone (the records closed, the files written): the output is
// flushed and the program ends with `code`. On Windows the libraries are not
// unloaded one by one: a library that waits there for a thread the system has
// already stopped would keep the program from ending. Elsewhere it is the
// usual exit.
[[noreturn]] void EndProgram(int code);
