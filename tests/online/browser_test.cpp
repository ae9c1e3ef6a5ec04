// What the program opens in the browser, and what its boxes promise to open.
#include "app/commands.h"
#include "core/program.h"
#include "core/web_address.h"
#include "online_test_util.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"

#include <oaidl.h>

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

namespace {

// What the program writes to the debugger's output, caught as the
// exception OutputDebugString raises before anything else sees it.
class DebugOutput {
public:
    DebugOutput() : handler_(AddVectoredExceptionHandler(1, Catch)) {}
    ~DebugOutput() { RemoveVectoredExceptionHandler(handler_); }
    static std::string Text()
    {
        std::lock_guard<std::mutex> hold(Lock());
        return Caught();
    }

private:
    static LONG CALLBACK Catch(EXCEPTION_POINTERS* e)
    {
        const EXCEPTION_RECORD* r = e->ExceptionRecord;
        if (r->ExceptionCode == DBG_PRINTEXCEPTION_C && r->NumberParameters >= 2) {
            std::lock_guard<std::mutex> hold(Lock());
            Caught() += (const char*)r->ExceptionInformation[1];
        }
        return EXCEPTION_CONTINUE_SEARCH;
    }
    static std::mutex& Lock()
    {
        static std::mutex lock;
        return lock;
    }
    static std::string& Caught()
    {
        static std::string text;
        return text;
    }
    void* handler_;
};

// A desktop window whose automation object answers no interface but its
// own: the desktop's shell is there and the next step fails.
class MuteDesktop : public IDispatch {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (iid != IID_IUnknown && iid != IID_IDispatch) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }
};
MuteDesktop Mute;

HRESULT FindMuteDesktop(IDispatch** desktop)
{
    *desktop = &Mute;
    return S_OK;
}

HRESULT FindNoDesktop(IDispatch** desktop)
{
    *desktop = nullptr;
    return REGDB_E_CLASSNOTREG;
}

std::string ProgramName()
{
    const std::string exe = ThisProgram();
    return LowerAscii(exe.substr(exe.find_last_of('\\') + 1));
}

TEST(OpenInBrowser, OpensThroughTheDesktopsShell)
{
    StandInBrowser browser;
    DebugOutput debug;
    EXPECT_EQ(OpenInBrowser("http://127.0.0.1:9/desktop?a=1&b=%E4"), OpenedIn::UserDesktop) << DebugOutput::Text();
    ASSERT_TRUE(browser.WaitFor("http://127.0.0.1:9/desktop?a=1&b=%E4\n", 20000)) << browser.Log();
    // Started by the desktop's shell process, not by this one: there the
    // browser gets the signed-in user's rights, not this process's.
    EXPECT_EQ(LowerAscii(browser.Starters()), "explorer.exe\n");
}

// The help file goes to the program the user associated with .txt, which
// any program of the user can change: through the desktop's shell, never
// from this process.
TEST(OpenInBrowser, TheHelpFileOpensThroughTheDesktopsShell)
{
    StandInBrowser browser;
    SetProgramDir(TempFolder("yxyt_help_file"));
    const std::string help = Program().ProgramDir + "ReadMe.txt";
    WriteFileBytes(help, "help\r\n");
    DebugOutput debug;
    OpenHelpFile();
    ASSERT_TRUE(browser.WaitFor(help + "\n", 20000)) << browser.Log();
    EXPECT_EQ(LowerAscii(browser.Starters()), "explorer.exe\n") << DebugOutput::Text();
}

// Only where there is no desktop's shell to ask does this process open an
// address itself; where the desktop's shell is there and fails, nothing is
// opened. Either way a line says why.
TEST(OpenInBrowser, ThisProcessOpensOnlyWhereThereIsNoDesktopShell)
{
    StandInBrowser browser;
    DebugOutput debug;
    struct Restore {
        ~Restore() { UseDesktopFinder(nullptr); }
    } restore;

    UseDesktopFinder(FindMuteDesktop);
    EXPECT_EQ(OpenInBrowser("yxtest:mute-desktop"), OpenedIn::Nowhere);
    EXPECT_NE(DebugOutput::Text().find("yxtest:mute-desktop not opened: IServiceProvider failed 0x80004002"),
              std::string::npos)
        << DebugOutput::Text();

    UseDesktopFinder(FindNoDesktop);
    EXPECT_EQ(OpenInBrowser("yxtest:no-desktop"), OpenedIn::ThisProcess);
    ASSERT_TRUE(browser.WaitFor("yxtest:no-desktop\n", 20000)) << browser.Log();
    EXPECT_EQ(LowerAscii(browser.Starters()), ProgramName() + "\n");
    EXPECT_NE(DebugOutput::Text().find("yxtest:no-desktop opened by this process, no desktop shell: the desktop "
                                       "among the shell's windows failed 0x80040154"),
              std::string::npos)
        << DebugOutput::Text();
    // The address the mute desktop kept would have been opened before it.
    EXPECT_EQ(browser.Log(), "yxtest:no-desktop\n");
}

TEST(LostFileBox, PromisesToOpenTheHomePageOnlyWhenThereIsOne)
{
    const std::string home = "https://yxyt.example/";
    EXPECT_EQ(LostFileText(LostFile::AudioLibrary, home),
              "程序检测到所需音频组件丢失无法正常运行，请访问官方唯一发布渠道https://yxyt.example/"
              "获取新的复本后重新运行，我们不保证您从其他渠道获取此程序的安全性和完整性，点击确定按钮将会打开官网首页。");
    EXPECT_EQ(LostFileText(LostFile::HelpFile, home),
              "程序检测到帮助文件已经丢失,请重新下载本程序的复本解压使用，请访问官方唯一地址https://yxyt.example/"
              "进行下载，我们无法保证您从其他渠道获取本程序的安全性，谢谢您的支持。点击确定后程序会自动为您打开官网");

    // No home page, or one that is no web address and so is never opened.
    for (const std::string& none : {std::string(), std::string("yxyt.example")}) {
        for (LostFile file : {LostFile::AudioLibrary, LostFile::HelpFile}) {
            const std::string text = LostFileText(file, none);
            SCOPED_TRACE(text);
            EXPECT_EQ(text.find("打开"), std::string::npos);
            EXPECT_EQ(text.find("官网"), std::string::npos);
            EXPECT_EQ(text.find("官方唯一"), std::string::npos);
            EXPECT_NE(text.find("退出"), std::string::npos);
            if (!none.empty()) {
                EXPECT_EQ(text.find(none), std::string::npos);
            }
        }
    }
    EXPECT_EQ(LostFileText(LostFile::AudioLibrary, "").rfind("程序检测到所需音频组件丢失无法正常运行", 0), 0u);
    EXPECT_EQ(LostFileText(LostFile::HelpFile, "").rfind("程序检测到帮助文件已经丢失", 0), 0u);
}

} // namespace
