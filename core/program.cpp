#include "core/program.h"

#include "core/web_address.h"

#include <exdisp.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdio>
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

// How far the desktop's shell took an address, and the call that stopped it.
struct DesktopAnswer {
    enum Kind { Opened, NoDesktop, Refused } kind = Refused;
    const char* step = "";
    HRESULT code = S_OK;
};

DesktopAnswer Answer(DesktopAnswer::Kind kind, const char* step, HRESULT code)
{
    DesktopAnswer answer;
    answer.kind = kind;
    answer.step = step;
    answer.code = code;
    return answer;
}

// The desktop's window among the shell's windows, which only Explorer
// keeps: S_FALSE or a failure where the desktop is no Explorer's.
HRESULT FindExplorerDesktop(IDispatch** desktop)
{
    ComRef<IShellWindows> windows;
    HRESULT found = CoCreateInstance(CLSID_ShellWindows, NULL, CLSCTX_LOCAL_SERVER, IID_IShellWindows, windows.Out());
    if (FAILED(found))
        return found;
    Variant where(long(CSIDL_DESKTOP)), root;
    long desktopWindow = 0;
    found = windows->FindWindowSW(&where.v, &root.v, SWC_DESKTOP, &desktopWindow, SWFO_NEEDDISPATCH, desktop);
    return found == S_OK && !*desktop ? S_FALSE : found;
}

DesktopFinder FindDesktop = FindExplorerDesktop;

// Hands the address to the shell of the desktop window, which Explorer
// runs in the signed-in user's own context: the Explorer window of the
// desktop, its active view, that view's automation object and the shell
// object behind it, whose ShellExecute runs in Explorer's process.
DesktopAnswer ExecuteOnDesktop(const std::wstring& address)
{
    ComRef<IDispatch> found;
    const HRESULT desktop = FindDesktop(reinterpret_cast<IDispatch**>(found.Out()));
    if (desktop != S_OK || !found.p)
        return Answer(DesktopAnswer::NoDesktop, "the desktop among the shell's windows", desktop);
    ComRef<IServiceProvider> services;
    ComRef<IShellBrowser> browser;
    ComRef<IShellView> view;
    ComRef<IDispatch> background;
    ComRef<IShellFolderViewDual> folderView;
    ComRef<IDispatch> application;
    ComRef<IShellDispatch2> shell;
    HRESULT hr;
    if (FAILED(hr = found->QueryInterface(IID_IServiceProvider, services.Out())))
        return Answer(DesktopAnswer::Refused, "IServiceProvider", hr);
    if (FAILED(hr = services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.Out())))
        return Answer(DesktopAnswer::Refused, "IShellBrowser", hr);
    if (FAILED(hr = browser->QueryActiveShellView(reinterpret_cast<IShellView**>(view.Out()))) || !view.p)
        return Answer(DesktopAnswer::Refused, "IShellBrowser::QueryActiveShellView", hr);
    if (FAILED(hr = view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.Out())))
        return Answer(DesktopAnswer::Refused, "IShellView::GetItemObject", hr);
    if (FAILED(hr = background->QueryInterface(IID_IShellFolderViewDual, folderView.Out())))
        return Answer(DesktopAnswer::Refused, "IShellFolderViewDual", hr);
    if (FAILED(hr = folderView->get_Application(reinterpret_cast<IDispatch**>(application.Out()))) || !application.p)
        return Answer(DesktopAnswer::Refused, "IShellFolderViewDual::get_Application", hr);
    if (FAILED(hr = application->QueryInterface(IID_IShellDispatch2, shell.Out())))
        return Answer(DesktopAnswer::Refused, "IShellDispatch2", hr);
    BSTR file = SysAllocString(address.c_str());
    Variant parameters(std::wstring(L"")), directory(std::wstring(L"")), verb(std::wstring(L"open"));
    Variant show(long(SW_SHOWNORMAL));
    // S_FALSE: Explorer tried and could not open it, which this process
    // would not do better with administrator rights.
    hr = shell->ShellExecute(file, parameters.v, directory.v, verb.v, show.v);
    SysFreeString(file);
    return Answer(SUCCEEDED(hr) ? DesktopAnswer::Opened : DesktopAnswer::Refused, "IShellDispatch2::ShellExecute", hr);
}

// Explorer answers within milliseconds; a hung one must not keep a
// version check from ending the program.
constexpr DWORD kDesktopOpenDeadlineMs = 10000;

struct DesktopOpen {
    std::wstring address;
    DesktopAnswer answer;
};

DWORD WINAPI RunDesktopOpen(void* parameter)
{
    auto* held = static_cast<std::shared_ptr<DesktopOpen>*>(parameter);
    // An apartment of its own: the caller's thread may have none or another.
    const HRESULT com = CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(com)) {
        (*held)->answer = ExecuteOnDesktop((*held)->address);
        CoUninitialize();
    } else {
        (*held)->answer = Answer(DesktopAnswer::Refused, "CoInitializeEx", com);
    }
    delete held;
    return 0;
}

// One line for whoever watches the program's debug output.
void TraceOpen(const char* address, const char* outcome, const DesktopAnswer& answer)
{
    char line[1200];
    snprintf(line, sizeof line, "YXYT: %s %s: %s failed 0x%08lX\n", address, outcome, answer.step,
             (unsigned long)answer.code);
    OutputDebugStringA(line);
}

OpenedIn OpenThroughDesktop(const char* target)
{
    auto job = std::make_shared<DesktopOpen>();
    job->address = Wide(target);
    auto* held = new std::shared_ptr<DesktopOpen>(job);
    HANDLE thread = CreateThread(NULL, 0, RunDesktopOpen, held, 0, NULL);
    if (!thread) {
        delete held;
        TraceOpen(target, "not opened",
                  Answer(DesktopAnswer::Refused, "CreateThread", HRESULT_FROM_WIN32(GetLastError())));
        return OpenedIn::Nowhere;
    }
    // A desktop still busy at the deadline keeps the address: opening it
    // here as well could open it twice.
    const bool done = WaitAnsweringSentMessages(thread, kDesktopOpenDeadlineMs);
    CloseHandle(thread);
    if (!done || job->answer.kind == DesktopAnswer::Opened)
        return OpenedIn::UserDesktop;
    if (job->answer.kind == DesktopAnswer::Refused) {
        // Explorer is there and failed: this process, with administrator
        // rights, is no place to retry through the user's associations.
        TraceOpen(target, "not opened", job->answer);
        return OpenedIn::Nowhere;
    }
    // No Explorer desktop at all: nobody else could open it unelevated.
    TraceOpen(target, "opened by this process, no desktop shell", job->answer);
    ShellExecuteA(NULL, "open", target, "", "", SW_SHOWNORMAL);
    return OpenedIn::ThisProcess;
}

} // namespace

void UseDesktopFinder(DesktopFinder finder)
{
    FindDesktop = finder ? finder : FindExplorerDesktop;
}

OpenedIn OpenInBrowser(const char* address)
{
    return OpenThroughDesktop(address);
}

OpenedIn OpenWithItsProgram(const char* path)
{
    return OpenThroughDesktop(path);
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
