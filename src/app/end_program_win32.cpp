#include "app/end_program.h"

#include <windows.h>

#include <cstdio>

void EndProgram(int code)
{
    std::fflush(nullptr);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
    ExitProcess(static_cast<UINT>(code)); // not reached
}
