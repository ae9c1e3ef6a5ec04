#include "bass/trace.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <new>

namespace {

std::once_flag Once;
std::mutex Lock;
HANDLE File = INVALID_HANDLE_VALUE;

// Only builds for development and tests read the environment: the library
// runs inside an elevated program, and any program of the user could
// otherwise name a file for it to create or append to anywhere.
void OpenTrace()
{
#if YXYT_TRACE_FROM_ENV
    wchar_t path[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"YXYT_AUDIO_TRACE", path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return;
    File = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
#endif
}

} // namespace

bool TraceEnabled()
{
    std::call_once(Once, OpenTrace);
    return File != INVALID_HANDLE_VALUE;
}

void TraceLine(const char* format, ...)
{
    if (!TraceEnabled())
        return;
    char line[1024];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(line, sizeof(line) - 2, format, args);
    va_end(args);
    if (n < 0)
        return;
    if (n > (int)sizeof(line) - 3)
        n = (int)sizeof(line) - 3;
    line[n++] = '\r';
    line[n++] = '\n';
    DWORD written = 0;
    // One unbuffered write per line: the line is in the file when the call returns.
    std::lock_guard<std::mutex> hold(Lock);
    WriteFile(File, line, (DWORD)n, &written, nullptr);
}

void TraceFailure(const char* where, const char* step, long code)
{
    TraceLine("%s: %s failed 0x%08lX", where, step, (unsigned long)code);
}

std::string TraceText(const char* ansi)
{
    if (!ansi)
        return "(null)";
    // The trace must not fail the call it describes: out of memory, the text is left out.
    try {
        int wn = MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0);
        if (wn <= 0)
            return ansi;
        std::wstring wide(wn, L'\0');
        MultiByteToWideChar(CP_ACP, 0, ansi, -1, &wide[0], wn);
        int un = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
        std::string out(un > 0 ? un - 1 : 0, '\0');
        if (un > 1)
            WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &out[0], un, nullptr, nullptr);
        return out;
    } catch (const std::bad_alloc&) {
        return std::string();
    }
}
