#include "app/app.h"

#include "online/url.h"

#include <shellapi.h>

#include <cstdlib>

std::string ProgramDir;
std::string ServerBase;
int32_t CommandTable[101];

const char* HomePageAddress() { return YXYT_HOME_PAGE; }
const char* SupportMail() { return YXYT_SUPPORT_MAIL; }

std::string ServerRoot()
{
    std::string root = YXYT_SERVER_BASE;
#if YXYT_SERVER_FROM_ENV
    if (const char* env = std::getenv("YXYT_SERVER"); env && *env)
        root = env;
#endif
    return UpdateServerRoot(root);
}

bool HasUpdateServer() { return !ServerRoot().empty(); }

bool HasHomePage() { return IsWebAddress(HomePageAddress()); }

void FillCommandTable()
{
    for (int k = 1; k <= kCommandCount; k++)
        CommandTable[k] = 102422 + k;
}

int CommandIndex(int32_t id)
{
    for (int k = 1; k <= kCommandCount; k++)
        if (CommandTable[k] == id)
            return k;
    return kCommandCount + 1;
}

void EndOwnProcess()
{
    HANDLE self = OpenProcess(PROCESS_TERMINATE, FALSE, GetCurrentProcessId());
    TerminateProcess(self ? self : GetCurrentProcess(), 0);
    ExitProcess(0);
}

void OpenInBrowser(const char* address)
{
    ShellExecuteA(NULL, "open", address, "", "", SW_SHOWNORMAL);
}

int ShowMessage(HWND owner, const std::string& text, const char* caption, UINT style)
{
    return MessageBoxA(owner, text.c_str(), caption, style | MB_TASKMODAL);
}
