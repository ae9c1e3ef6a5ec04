#include "core/program.h"

#include "core/web_address.h"

#include <exdisp.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdlib>
#include <cwchar>
#include <memory>

namespace {

ProgramState State;

} // namespace

ProgramState& Program()
{
    return State;
}

void SetProgramDir(const std::string& folder)
{
    State.ProgramDir = folder;
}

void SetServerRoot(const std::string& root)
{
    State.ServerBase = root + "/YXProgect/yxyt/";
}

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

namespace {

// Releases a COM interface at the end of its scope.
template <typename T>
struct ComRef {
    T* p = nullptr;
    ComRef() = default;
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ~ComRef()
    {
        if (p)
            p->Release();
    }
    T* operator->() const { return p; }
    void** Out() { return reinterpret_cast<void**>(&p); }
};

// A VARIANT cleared at the end of its scope.
struct Variant {
    VARIANT v;
    Variant() { VariantInit(&v); }
    explicit Variant(const std::wstring& text) : Variant()
    {
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocString(text.c_str());
    }
    explicit Variant(long number) : Variant()
    {
        v.vt = VT_I4;
        v.lVal = number;
    }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    ~Variant() { VariantClear(&v); }
};

std::wstring Wide(const char* text)
{
    const int n = MultiByteToWideChar(CP_ACP, 0, text, -1, NULL, 0);
    std::wstring wide(n > 0 ? n : 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], n);
    wide.resize(wcslen(wide.c_str()));
    return wide;
}

// Hands the address to the shell of the desktop window, which Explorer
// runs in the signed-in user's own context: the Explorer window of the
// desktop, its active view, that view's automation object and the shell
// object behind it, whose ShellExecute runs in Explorer's process. False
// when a step is missing; then nothing was opened.
bool ExecuteOnDesktop(const std::wstring& address)
{
    ComRef<IShellWindows> windows;
    if (FAILED(CoCreateInstance(CLSID_ShellWindows, NULL, CLSCTX_LOCAL_SERVER, IID_IShellWindows, windows.Out())))
        return false;
    Variant desktop(long(CSIDL_DESKTOP)), root;
    long desktopWindow = 0;
    ComRef<IDispatch> found;
    if (windows->FindWindowSW(&desktop.v, &root.v, SWC_DESKTOP, &desktopWindow, SWFO_NEEDDISPATCH,
                              reinterpret_cast<IDispatch**>(found.Out())) != S_OK ||
        !found.p)
        return false;
    ComRef<IServiceProvider> services;
    ComRef<IShellBrowser> browser;
    ComRef<IShellView> view;
    ComRef<IDispatch> background;
    ComRef<IShellFolderViewDual> folderView;
    ComRef<IDispatch> application;
    ComRef<IShellDispatch2> shell;
    if (FAILED(found->QueryInterface(IID_IServiceProvider, services.Out())) ||
        FAILED(services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.Out())) ||
        FAILED(browser->QueryActiveShellView(reinterpret_cast<IShellView**>(view.Out()))) || !view.p ||
        FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.Out())) ||
        FAILED(background->QueryInterface(IID_IShellFolderViewDual, folderView.Out())) ||
        FAILED(folderView->get_Application(reinterpret_cast<IDispatch**>(application.Out()))) || !application.p ||
        FAILED(application->QueryInterface(IID_IShellDispatch2, shell.Out())))
        return false;
    BSTR file = SysAllocString(address.c_str());
    Variant parameters(std::wstring(L"")), directory(std::wstring(L"")), verb(std::wstring(L"open"));
    Variant show(long(SW_SHOWNORMAL));
    // S_FALSE: Explorer tried and could not open it, which this process
    // would not do better with administrator rights.
    const HRESULT result = shell->ShellExecute(file, parameters.v, directory.v, verb.v, show.v);
    SysFreeString(file);
    return SUCCEEDED(result);
}

// Explorer answers within milliseconds; a hung one must not keep a
// version check from ending the program.
constexpr DWORD kDesktopOpenDeadlineMs = 10000;

struct DesktopOpen {
    std::wstring address;
    bool handedOver = false;
};

DWORD WINAPI RunDesktopOpen(void* parameter)
{
    auto* held = static_cast<std::shared_ptr<DesktopOpen>*>(parameter);
    // An apartment of its own: the caller's thread may have none or another.
    if (SUCCEEDED(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED))) {
        (*held)->handedOver = ExecuteOnDesktop((*held)->address);
        CoUninitialize();
    }
    delete held;
    return 0;
}

} // namespace

OpenedIn OpenInBrowser(const char* address)
{
    auto job = std::make_shared<DesktopOpen>();
    job->address = Wide(address);
    auto* held = new std::shared_ptr<DesktopOpen>(job);
    HANDLE thread = CreateThread(NULL, 0, RunDesktopOpen, held, 0, NULL);
    if (thread) {
        // A desktop still busy at the deadline keeps the address: opening
        // it here as well could open it twice.
        const bool done = WaitAnsweringSentMessages(thread, kDesktopOpenDeadlineMs);
        CloseHandle(thread);
        if (!done || job->handedOver)
            return OpenedIn::UserDesktop;
    } else {
        delete held;
    }
    ShellExecuteA(NULL, "open", address, "", "", SW_SHOWNORMAL);
    return OpenedIn::ThisProcess;
}

std::string LostFileText(LostFile file, const std::string& homePage)
{
    const bool promise = IsWebAddress(homePage);
    if (file == LostFile::AudioLibrary) {
        if (promise)
            return "程序检测到所需音频组件丢失无法正常运行，请访问官方唯一发布渠道" + homePage +
                   "获取新的复本后重新运行，我们不保证您从其他渠道获取此程序的安全性和完整性，点击确定按钮将会打开官网"
                   "首页。";
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
    HWND main = Program().MainWindow.GetHandle();
    return main ? main : GetForegroundWindow();
}
