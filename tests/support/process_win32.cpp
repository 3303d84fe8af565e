// The built programs run from the tests on Windows: CreateProcess with the
// child's stdout and stderr on pipes. A program named without a folder is the
// one in the build folder, the parent of the test program's own folder.
// beamport-sim serves a pseudo-terminal and is built for Linux only: a test
// that needs it skips on Windows before it makes one.
#include "support/process.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace {

std::wstring Wide(const std::string &text)
{
    if (text.empty())
        return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

// One word of a command line as the C runtime splits it back: quoted when it
// holds a space, a tab or a quote (or is empty), the backslashes before a
// quote doubled.
std::wstring Quoted(const std::wstring &word)
{
    if (!word.empty() && word.find_first_of(L" \t\"") == std::wstring::npos)
        return word;
    std::wstring q = L"\"";
    size_t slashes = 0;
    for (const wchar_t c : word) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        q.append(c == L'"' ? 2 * slashes + 1 : slashes, L'\\');
        slashes = 0;
        q += c;
    }
    q.append(2 * slashes, L'\\');
    q += L'"';
    return q;
}

std::filesystem::path Program(const std::string &program)
{
    const std::filesystem::path path = std::filesystem::u8path(program);
    if (path.has_parent_path())
        return path;
    std::wstring self(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
        if (n < self.size()) {
            self.resize(n);
            break;
        }
        self.resize(self.size() * 2);
    }
    return std::filesystem::path(self).parent_path().parent_path() / path;
}

// This process's environment with NAME=VALUE of `env` set over it (names
// compared without letter case, as Windows does), as CreateProcessW takes it.
std::wstring Environment(const std::vector<std::string> &env)
{
    auto key = [](std::wstring name) {
        std::transform(name.begin(), name.end(), name.begin(), ::towupper);
        return name;
    };
    std::map<std::wstring, std::wstring> vars;
    wchar_t *block = GetEnvironmentStringsW();
    for (const wchar_t *p = block; *p; p += wcslen(p) + 1) {
        const std::wstring entry = p;
        const size_t eq = entry.find(L'=', 1);
        if (eq != std::wstring::npos)
            vars[key(entry.substr(0, eq))] = entry;
    }
    FreeEnvironmentStringsW(block);
    for (const std::string &e : env) {
        const std::wstring entry = Wide(e);
        const size_t eq = entry.find(L'=');
        if (eq != std::wstring::npos)
            vars[key(entry.substr(0, eq))] = entry;
    }
    std::wstring out;
    for (const auto &[name, entry] : vars) {
        out += entry;
        out += L'\0';
    }
    out += L'\0';
    return out;
}

// Reads a pipe to its end into `into`, under `lock`.
void Drain(HANDLE pipe, std::string &into, std::mutex &lock)
{
    char buf[4096];
    DWORD n = 0;
    while (ReadFile(pipe, buf, sizeof buf, &n, nullptr) && n > 0) {
        std::lock_guard<std::mutex> hold(lock);
        into.append(buf, n);
    }
    CloseHandle(pipe);
}

} // namespace

ProcessResult RunProcess(const std::string &program, const std::vector<std::string> &args,
                         const std::vector<std::string> &env, int timeoutSeconds)
{
    return RunProcessFollowing(program, args, env, {}, timeoutSeconds);
}

ProcessResult RunProcessFollowing(const std::string &program, const std::vector<std::string> &args,
                                  const std::vector<std::string> &env,
                                  const std::function<void(const std::string &errors)> &onErrors, int timeoutSeconds)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
    if (!CreatePipe(&outRead, &outWrite, &inherit, 0) || !CreatePipe(&errRead, &errWrite, &inherit, 0))
        throw std::runtime_error("pipe");
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    HANDLE none = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                              0, nullptr);

    const std::filesystem::path path = Program(program);
    std::wstring line = Quoted(path.wstring());
    for (const std::string &a : args)
        line += L" " + Quoted(Wide(a));
    std::wstring environment = Environment(env);

    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = none;
    start.hStdOutput = outWrite;
    start.hStdError = errWrite;
    PROCESS_INFORMATION child{};
    const auto t0 = std::chrono::steady_clock::now();
    const BOOL made = CreateProcessW(path.wstring().c_str(), line.data(), nullptr, nullptr, TRUE,
                                     CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, environment.data(), nullptr,
                                     &start, &child);
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    if (none != INVALID_HANDLE_VALUE)
        CloseHandle(none);
    ProcessResult r;
    if (!made) {
        CloseHandle(outRead);
        CloseHandle(errRead);
        r.status = 127;
        r.err = "cannot start " + path.string();
        return r;
    }
    CloseHandle(child.hThread);

    std::mutex lock;
    std::string out, err;
    std::thread outReader(Drain, outRead, std::ref(out), std::ref(lock));
    std::thread errReader(Drain, errRead, std::ref(err), std::ref(lock));
    const auto deadline = t0 + std::chrono::seconds(timeoutSeconds);
    size_t followed = 0;
    bool ended = false;
    auto follow = [&] {
        std::string errors;
        {
            std::lock_guard<std::mutex> hold(lock);
            if (err.size() == followed)
                return;
            followed = err.size();
            errors = err;
        }
        if (onErrors)
            onErrors(errors);
    };
    while (std::chrono::steady_clock::now() < deadline) {
        if (WaitForSingleObject(child.hProcess, 50) == WAIT_OBJECT_0) {
            ended = true;
            break;
        }
        follow();
    }
    if (!ended) {
        TerminateProcess(child.hProcess, 1);
        WaitForSingleObject(child.hProcess, INFINITE);
    }
    outReader.join();
    errReader.join();
    follow();
    DWORD code = 0;
    GetExitCodeProcess(child.hProcess, &code);
    CloseHandle(child.hProcess);
    r.status = ended ? static_cast<int>(code) : -1;
    r.out = std::move(out);
    r.err = std::move(err);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return r;
}

std::vector<std::string> ShellWords(const std::string &line)
{
    std::vector<std::string> words;
    std::string word;
    bool quoted = false, started = false;
    for (const char c : line + ' ') {
        if (c == '\'') {
            quoted = !quoted;
            started = true;
        } else if (c == ' ' && !quoted) {
            if (started)
                words.push_back(word);
            word.clear();
            started = false;
        } else {
            word += c;
            started = true;
        }
    }
    return words;
}

SimProcess::SimProcess(const std::vector<std::string> &, bool)
{
    throw std::runtime_error("beamport-sim serves a pseudo-terminal: it runs on Linux only");
}

SimProcess::~SimProcess() = default;

bool SimProcess::Control(const std::string &) { return false; }

bool SimProcess::WaitOutput(const std::string &, int) { return false; }

bool SimProcess::WaitErrors(const std::string &, int) { return false; }

bool SimProcess::WaitFor(RStream &, const std::string &, int) { return false; }
