#include "core/program.h"

#include "core/web_address.h"

#include <shellapi.h>

#include <cstdlib>

std::string ProgramDir;
std::string ServerBase;
Window MainWindow;
Label KitLabel;
Menu MenuBar, KitMenu, SoundMenu, CardMenu, HelpMenu;

const char* HomePageAddress()
{
    return YXYT_HOME_PAGE;
}
const char* SupportMail()
{
    return YXYT_SUPPORT_MAIL;
}

std::string ServerRoot()
{
    std::string root = YXYT_SERVER_BASE;
#if YXYT_SERVER_FROM_ENV
    if (const char* env = std::getenv("YXYT_SERVER"); env && *env)
        root = env;
#endif
    return UpdateServerRoot(root);
}

bool HasUpdateServer()
{
    return !ServerRoot().empty();
}

bool HasHomePage()
{
    return IsWebAddress(HomePageAddress());
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

HWND MessageOwner()
{
    HWND main = MainWindow.GetHandle();
    return main ? main : GetForegroundWindow();
}
