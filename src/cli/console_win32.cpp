// The command line's console on Windows: a console handle is a terminal
// (GetConsoleMode answers for it), output is UTF-8 in binary mode (no CR
// added before each line feed), and the wait for Enter
// reads the console's key events or, for a pipe or file, its bytes.
#include "cli/console.h"

#include <windows.h>

#include <io.h>

#include <chrono>
#include <cstdio>

// windows.h names one of its own functions so.
#undef ReadConsoleInput

namespace {

// The C runtime's binary mode, _O_BINARY (its <fcntl.h> counts as a POSIX
// header to the layering check).
constexpr int kBinaryMode = 0x8000;

bool IsConsole(DWORD which)
{
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}

DWORD MillisLeft(std::chrono::steady_clock::time_point deadline, bool endless)
{
    if (endless)
        return INFINITE;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    return left > 0 ? static_cast<DWORD>(left) : 0;
}

} // namespace

void UseUtf8Console()
{
    SetConsoleOutputCP(CP_UTF8);
    _setmode(_fileno(stdout), kBinaryMode);
    _setmode(_fileno(stderr), kBinaryMode);
}

bool StdinIsTerminal() { return IsConsole(STD_INPUT_HANDLE); }

bool StderrIsTerminal() { return IsConsole(STD_ERROR_HANDLE); }

bool ReadConsoleInput(int ms)
{
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    if (in == nullptr || in == INVALID_HANDLE_VALUE)
        return false;
    const bool endless = ms < 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(endless ? 0 : ms);
    if (IsConsole(STD_INPUT_HANDLE)) {
        // The console's input is signalled for every event (keys, mouse,
        // focus): read them until Enter is pressed or the time is up.
        for (;;) {
            if (WaitForSingleObject(in, MillisLeft(deadline, endless)) != WAIT_OBJECT_0)
                return false;
            INPUT_RECORD records[32];
            DWORD n = 0;
            if (!ReadConsoleInputW(in, records, 32, &n))
                return false;
            for (DWORD i = 0; i < n; ++i)
                if (records[i].EventType == KEY_EVENT && records[i].Event.KeyEvent.bKeyDown &&
                    records[i].Event.KeyEvent.wVirtualKeyCode == VK_RETURN)
                    return true;
        }
    }
    char buffer[256];
    DWORD n = 0;
    if (GetFileType(in) == FILE_TYPE_PIPE) {
        // A pipe cannot be waited on: look at it until bytes are there, it
        // ends or the time is up.
        for (;;) {
            DWORD queued = 0;
            if (!PeekNamedPipe(in, nullptr, 0, nullptr, &queued, nullptr))
                return false;
            if (queued > 0)
                break;
            const DWORD left = MillisLeft(deadline, endless);
            if (left == 0)
                return false;
            Sleep(left < 20 ? left : 20);
        }
    }
    return ReadFile(in, buffer, sizeof buffer, &n, nullptr) && n > 0;
}
