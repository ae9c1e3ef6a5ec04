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

std::string LostFileText(LostFile file, const std::string& homePage)
{
    const bool promise = IsWebAddress(homePage);
    if (file == LostFile::AudioLibrary) {
        if (promise)
            return "程序检测到所需音频组件丢失无法正常运行，请访问官方唯一发布渠道" + homePage +
                   "获取新的复本后重新运行，我们不保证您从其他渠道获取此程序的安全性和完整性，点击确定按钮将会打开官网首页。";
        return "程序检测到所需音频组件丢失无法正常运行，请从您获取本程序的官方发布渠道重新获取新的复本后重新运行，"
               "我们不保证您从其他渠道获取此程序的安全性和完整性，点击确定按钮将会退出程序。";
    }
    if (promise)
        return "程序检测到帮助文件已经丢失,请重新下载本程序的复本解压使用，请访问官方唯一地址" + homePage +
               "进行下载，我们无法保证您从其他渠道获取本程序的安全性，谢谢您的支持。点击确定后程序会自动为您打开官网";
    return "程序检测到帮助文件已经丢失,请重新下载本程序的复本解压使用，请从您获取本程序的官方发布渠道进行下载，"
           "我们无法保证您从其他渠道获取本程序的安全性，谢谢您的支持。点击确定后程序将会退出";
}

void ReportLostFile(LostFile file, HWND owner, const char* caption)
{
    const std::string homePage = HasHomePage() ? HomePageAddress() : "";
    ShowMessage(owner, LostFileText(file, homePage), caption, MB_ICONERROR);
    if (!homePage.empty())
        OpenInBrowser(homePage.c_str());
    EndOwnProcess();
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
