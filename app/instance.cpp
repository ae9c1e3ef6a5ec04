#include "app/instance.h"

#include "core/program.h"

#include <tlhelp32.h>

namespace {

// A window of a starting copy may take a moment to show; a copy that has
// none by then is not worth waiting for.
constexpr DWORD kWindowSearchMs = 5000;
constexpr DWORD kSearchRoundMs = 50;

std::string LowerCase(std::string text)
{
    if (!text.empty())
        CharLowerBuffA(&text[0], (DWORD)text.size());
    return text;
}

std::string OwnExeName()
{
    char path[MAX_PATH * 2] = {};
    GetModuleFileNameA(NULL, path, sizeof path - 1);
    std::string full = path;
    size_t slash = full.find_last_of("\\/");
    return slash == std::string::npos ? full : full.substr(slash + 1);
}

HWND VisibleWindowOf(DWORD processId)
{
    for (HWND w = FindWindowExA(NULL, NULL, NULL, NULL); w; w = FindWindowExA(NULL, w, NULL, NULL)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (IsWindow(w) && IsWindowVisible(w) && owner == processId)
            return w;
    }
    return NULL;
}

} // namespace

void EnsureSingleInstance(const char* name, bool showMessage, const char* text, UINT style, bool bringForward)
{
    HANDLE marker = OpenEventA(EVENT_ALL_ACCESS, FALSE, name);
    if (!marker) {
        // Kept open for the whole run: the marker lives as long as this process.
        CreateEventA(NULL, FALSE, FALSE, name);
        return;
    }
    if (showMessage)
        ShowMessage(NULL, text ? text : "对不起,该进程已打开!", "友情提醒:", style);
    if (bringForward) {
        DWORD pid = FindProcessByExeName(OwnExeName());
        if (pid) {
            HWND window = FindVisibleWindowOfProcess(pid);
            if (window)
                BringWindowForward(window);
        }
    }
    EndOwnProcess();
}

DWORD FindProcessByExeName(const std::string& exeName)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    std::string wanted = LowerCase(exeName);
    DWORD found = 0;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (LowerCase(entry.szExeFile) == wanted) {
            found = entry.th32ProcessID;
            break;
        }
    }
    CloseHandle(snapshot);
    return found;
}

HWND FindVisibleWindowOfProcess(DWORD processId)
{
    DWORD start = GetTickCount();
    for (;;) {
        HWND window = VisibleWindowOf(processId);
        if (window)
            return window;
        if (GetTickCount() - start >= kWindowSearchMs)
            return NULL;
        // Sleeps until a message arrives or the round is over, then lets it run.
        MsgWaitForMultipleObjects(0, NULL, FALSE, kSearchRoundMs, QS_ALLINPUT);
        PumpMessages();
    }
}

void BringWindowForward(HWND window)
{
    ShowWindow(window, SW_RESTORE);
    SetForegroundWindow(window);
    SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
}
