// The stop notice, version check, title, welcome text and urgent-notice
// channel in this process, against a recording server; the paths that end
// the program run in a child copy of this test.
#include "core/program.h"
#include "online/notices.h"
#include "online/version_check.h"
#include "online_test_util.h"
#include "recording_server.h"
#include "tests/support/child_process.h"
#include "tests/support/ui_driver.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Targets = std::vector<std::string>;

const std::string kEN = "/YXProgect/EN.txt";
const std::string kType = "/YXProgect/ENType.txt";
const std::string kIndex = "/YXProgect/ENIndex.txt";
const std::string kMessage = "/YXProgect/ENMessage.txt";
const std::string kOwn = "/YXProgect/yxyt/";

struct OnlineTest : ::testing::Test {
    RecordingServer server;
    // Checks run here have a verdict of their own: a check a test left
    // running may fail against the server of that test.
    FetchGroup fetches{kFetchDeadlineMs};
    void SetUp() override
    {
        SetServerRoot(server.Root());
        ASSERT_TRUE(ResetOnline());
    }
};

// Waits until no notice check runs (a new one may start); true on success.
bool WaitUntilIdle(DWORD deadlineMs)
{
    DWORD start = GetTickCount();
    while (!StartNoticeCheck()) {
        if (GetTickCount() - start >= deadlineMs)
            return false;
        Sleep(20);
    }
    return true;
}

TEST_F(OnlineTest, NoticeChannelRequestCounts)
{
    server.ServeText(kEN, "close");
    RunNoticeCheck(fetches);
    EXPECT_EQ(server.Targets(), (Targets{kEN}));

    server.ClearLog();
    server.ServeText(kEN, "open\r\n");
    RunNoticeCheck(fetches);
    EXPECT_EQ(server.Targets(), (Targets{kEN, kEN}));

    // An unknown type still closes the gate for a day.
    server.ClearLog();
    server.ServeText(kEN, "open");
    server.ServeText(kType, "");
    RunNoticeCheck(fetches);
    EXPECT_EQ(server.Targets(), (Targets{kEN, kEN, kType}));
    server.ClearLog();
    RunNoticeCheck(fetches);
    EXPECT_EQ(server.Targets(), (Targets{kEN, kEN}));

    // A channel turned off again stops at the first request.
    server.ClearLog();
    server.ServeText(kEN, "close");
    RunNoticeCheck(fetches);
    EXPECT_EQ(server.Targets(), (Targets{kEN}));
}

TEST_F(OnlineTest, NoticePageOpensOnlyWebAddresses)
{
    StandInBrowser browser;
    server.ServeText(kEN, "open");
    server.ServeText(kType, "2");
    server.ServeText(kIndex, "yxtest:blocked-notice");
    RunNoticeCheck(fetches);
    EXPECT_EQ(server.Targets(), (Targets{kEN, kEN, kType, kIndex}));

    // The line break an editor leaves after the address does not stop it.
    ResetOnline();
    server.ClearLog();
    server.ServeText(kIndex, "http://127.0.0.1:9/notice-page\r\n");
    RunNoticeCheck(fetches);
    EXPECT_EQ(server.Targets(), (Targets{kEN, kEN, kType, kIndex}));
    ASSERT_TRUE(browser.WaitFor("http://127.0.0.1:9/notice-page\n", 20000)) << browser.Log();

    // The same scheme through the shell is observable: the blocked address
    // would have been logged by now.
    OpenInBrowser("yxtest:control");
    ASSERT_TRUE(browser.WaitFor("yxtest:control", 20000)) << browser.Log();
    EXPECT_EQ(browser.Log().find("blocked-notice"), std::string::npos) << browser.Log();
}

TEST_F(OnlineTest, MessageNoticeOpensThePageOnlyAfterTheBoxCloses)
{
    StandInBrowser browser;
    server.ServeText(kEN, "open");
    server.ServeText(kType, "3");
    server.ServeText(kMessage, "紧急：请更新到新版本");
    server.ServeText(kIndex, "https://127.0.0.1:9/urgent");

    ASSERT_TRUE(StartNoticeCheck());
    FoundBox box = WaitForBox(GetCurrentProcessId(), 20000);
    ASSERT_TRUE(box.window);
    EXPECT_EQ(box.caption, "官方紧急提示");
    EXPECT_EQ(box.text, "紧急：请更新到新版本");
    EXPECT_EQ(server.Targets(), (Targets{kEN, kEN, kType, kMessage}));
    // A tick while the check still waits on its box starts nothing.
    EXPECT_FALSE(StartNoticeCheck());
    EXPECT_EQ(browser.Log(), "");

    PressButton(box.window, IDOK);
    ASSERT_TRUE(server.WaitForRequests(5, 20000));
    EXPECT_EQ(server.Targets().back(), kIndex);
    ASSERT_TRUE(browser.WaitFor("https://127.0.0.1:9/urgent", 20000)) << browser.Log();

    // The next checks find the gate closed: two requests each, nothing
    // shown. The last one started is waited for, so that it asks nothing
    // of the tests after this one.
    ASSERT_TRUE(WaitUntilIdle(20000));
    ASSERT_TRUE(WaitUntilIdle(20000));
    ASSERT_TRUE(server.WaitForRequests(9, 20000));
    EXPECT_EQ(server.Targets(), (Targets{kEN, kEN, kType, kMessage, kIndex, kEN, kEN, kEN, kEN}));
}

// Sets YXYT_SERVER for the life of the object.
struct ServerSetting {
    explicit ServerSetting(const std::string& value) { _putenv(("YXYT_SERVER=" + value).c_str()); }
    ~ServerSetting() { _putenv("YXYT_SERVER="); }
};

TEST_F(OnlineTest, WithoutAServerNothingIsAskedAndTextsAreBuiltIn)
{
    server.ServeText(kOwn + "jy.txt", "0");
    server.ServeText(kOwn + "ver.txt", "2.0.0.0");
    server.ServeText(kOwn + "ChangeLog.txt", "新版本");
    server.ServeText(kOwn + "hy.txt", "远程欢迎");
    server.ServeText(kOwn + "gy.txt", "远程关于");
    server.ServeText(kOwn + "gg.txt", "远程标题");
    server.ServeText(kEN, "close");
    // "none", and what is no web address: a reachable address without its scheme.
    for (const std::string& setting : {std::string("none"), server.Root().substr(7)}) {
        SCOPED_TRACE(setting);
        ServerSetting unset(setting);
        ASSERT_FALSE(HasUpdateServer());
        EXPECT_EQ(ServerRoot(), "");

        CheckStopNotice();
        CheckForUpdate();
        EXPECT_EQ(LoadWelcomeText(), "欢迎使用逸响乐台！按字母键敲鼓，Home/End 切换鼓源。");
        const std::string about = LoadAboutText();
        for (const std::string& part :
             {std::string("逸响乐台 1.1.0.0"), std::string("MIT"), std::string(HomePageAddress())})
            EXPECT_NE(about.find(part), std::string::npos) << about;

        HWND window = CreateWindowExA(0, "STATIC", "逸响乐台", WS_OVERLAPPED, 0, 0, 100, 100, NULL, NULL,
                                      GetModuleHandleA(NULL), NULL);
        ASSERT_TRUE(window);
        AppendTitleNotice(window);
        char title[256] = "";
        GetWindowTextA(window, title, sizeof title);
        EXPECT_STREQ(title, "逸响乐台");
        StartPeriodicCheck(window);
        EXPECT_FALSE(KillTimer(window, kNoticeTimerId)) << "no check timer without a server";
        DestroyWindow(window);
        EXPECT_FALSE(StartNoticeCheck());
        EXPECT_EQ(server.Targets(), Targets{});
    }

    // The same routines with the server: the control that they do ask.
    ServerSetting set(server.Root());
    ASSERT_TRUE(HasUpdateServer());
    EXPECT_EQ(LoadWelcomeText(), "远程欢迎");
    EXPECT_EQ(LoadAboutText(), "远程关于");
    EXPECT_EQ(server.Targets(), (Targets{kOwn + "hy.txt", kOwn + "gy.txt"}));
}

TEST_F(OnlineTest, StopNoticeNeedsExactlyOne)
{
    for (const char* text : {"1\n", "1 ", "0", "", "11"}) {
        server.ClearLog();
        server.ServeText(kOwn + "jy.txt", text);
        CheckStopNotice();
        EXPECT_EQ(server.Targets(), (Targets{kOwn + "jy.txt"})) << text;
    }
    server.ClearLog();
    server.Forget(kOwn + "jy.txt");
    CheckStopNotice();
    EXPECT_EQ(server.Targets(), (Targets{kOwn + "jy.txt"}));
}

TEST_F(OnlineTest, WelcomeTextAndTitleSuffix)
{
    server.ServeText(kOwn + "hy.txt", "欢迎使用逸响乐台！\r\n第二行");
    EXPECT_EQ(LoadWelcomeText(), "欢迎使用逸响乐台！\r\n第二行");

    HWND window = CreateWindowExA(0, "STATIC", "逸响乐台", WS_OVERLAPPED, 0, 0, 100, 100, NULL, NULL,
                                  GetModuleHandleA(NULL), NULL);
    ASSERT_TRUE(window);
    server.ServeText(kOwn + "gg.txt", std::string("公告\0hidden", 11));
    AppendTitleNotice(window);
    char title[256] = "";
    GetWindowTextA(window, title, sizeof title);
    EXPECT_STREQ(title, "逸响乐台 - 公告");

    SetWindowTextA(window, "逸响乐台");
    server.ServeText(kOwn + "gg.txt", "");
    AppendTitleNotice(window);
    GetWindowTextA(window, title, sizeof title);
    EXPECT_STREQ(title, "逸响乐台 - ");
    DestroyWindow(window);
}

DWORD WINAPI RunUpdateCheck(void*)
{
    CheckForUpdate();
    return 0;
}

TEST_F(OnlineTest, VersionCheckBoxes)
{
    server.ServeText(kOwn + "ver.txt", "1.1.0.0");
    server.ServeText(kOwn + "ChangeLog.txt", "1.2.0.0：新鼓源");
    server.ServeText(kOwn + "upindex.txt", "http://127.0.0.1:9/download");

    // Same version: no box, two requests.
    CheckForUpdate();
    EXPECT_EQ(server.Targets(), (Targets{kOwn + "ver.txt", kOwn + "ChangeLog.txt"}));

    // A trailing line break is a different version; Cancel goes on without upindex.txt.
    server.ClearLog();
    server.ServeText(kOwn + "ver.txt", "1.1.0.0\r\n");
    HANDLE thread = CreateThread(NULL, 0, RunUpdateCheck, NULL, 0, NULL);
    FoundBox box = WaitForBox(GetCurrentProcessId(), 20000);
    ASSERT_TRUE(box.window);
    EXPECT_EQ(box.caption, "逸响乐台发现新版本！");
    EXPECT_EQ(box.text, "1.2.0.0：新鼓源");
    PressButton(box.window, IDCANCEL);
    ASSERT_EQ(WaitForSingleObject(thread, 20000), WAIT_OBJECT_0);
    CloseHandle(thread);
    EXPECT_EQ(server.Targets(), (Targets{kOwn + "ver.txt", kOwn + "ChangeLog.txt"}));

    // A one-byte change log means the server is unreachable, whatever the version says.
    server.ClearLog();
    server.ServeText(kOwn + "ChangeLog.txt", "x");
    thread = CreateThread(NULL, 0, RunUpdateCheck, NULL, 0, NULL);
    box = WaitForBox(GetCurrentProcessId(), 20000);
    ASSERT_TRUE(box.window);
    EXPECT_EQ(box.caption, "出错啦！");
    EXPECT_EQ(box.text, std::string("连接更新服务器出错！请检查网络连接或防火墙设置，如果问题仍然存在请发送邮件到") +
                            SupportMail() + "谢谢支持。当前版本仍然可以正常使用。");
    PressButton(box.window, IDOK);
    ASSERT_EQ(WaitForSingleObject(thread, 20000), WAIT_OBJECT_0);
    CloseHandle(thread);
    EXPECT_EQ(server.Targets(), (Targets{kOwn + "ver.txt", kOwn + "ChangeLog.txt"}));
}

// The child copy: runs one start-up check against YXYT_SERVER and reports
// with its exit code whether the check returned (3) or ended the process.
TEST(OnlineChild, Run)
{
    const char* action = std::getenv("YXYT_ONLINE_CHILD");
    if (!action)
        GTEST_SKIP() << "runs only as a child of the end-of-program tests";
    SetServerRoot(ServerRoot());
    if (std::string(action) == "stop")
        CheckStopNotice();
    else
        CheckForUpdate();
    ExitProcess(3);
}

// A child copy of this test running OnlineChild.Run against `serverRoot`.
bool StartOnlineChild(ChildProcess& child, const std::string& action, const std::string& serverRoot)
{
    return child.Start(ThisProgram(), "--gtest_filter=OnlineChild.Run",
                       {{"YXYT_ONLINE_CHILD", action}, {"YXYT_SERVER", serverRoot}});
}

TEST_F(OnlineTest, StopNoticeShowsItsTextAndEndsTheProgram)
{
    server.ServeText(kOwn + "jy.txt", "1");
    server.ServeText(kOwn + "jyts.txt", "本程序已停止服务。");
    ChildProcess child;
    ASSERT_TRUE(StartOnlineChild(child, "stop", server.Root()));
    FoundBox box = WaitForBox(child.Id(), 30000);
    ASSERT_TRUE(box.window);
    EXPECT_EQ(box.caption, "错误！");
    EXPECT_EQ(box.text, "本程序已停止服务。");
    PressButton(box.window, IDOK);
    EXPECT_EQ(child.Wait(30000), 0u);
    EXPECT_EQ(server.Targets(), (Targets{kOwn + "jy.txt", kOwn + "jyts.txt"}));
}

TEST_F(OnlineTest, UpdateAcceptedOpensTheDownloadPageAndEnds)
{
    StandInBrowser browser;
    server.ServeText(kOwn + "ver.txt", "1.2.0.0");
    server.ServeText(kOwn + "ChangeLog.txt", "新版本");
    server.ServeText(kOwn + "upindex.txt", "http://127.0.0.1:9/download");
    for (const char* address : {"yxtest:not-a-web-page", "http://127.0.0.1:9/download"}) {
        server.ClearLog();
        server.ServeText(kOwn + "upindex.txt", address);
        ChildProcess child;
        ASSERT_TRUE(StartOnlineChild(child, "update", server.Root()));
        FoundBox box = WaitForBox(child.Id(), 30000);
        ASSERT_TRUE(box.window);
        EXPECT_EQ(box.caption, "逸响乐台发现新版本！");
        PressButton(box.window, IDOK);
        EXPECT_EQ(child.Wait(30000), 0u) << address;
        EXPECT_EQ(server.Targets(), (Targets{kOwn + "ver.txt", kOwn + "ChangeLog.txt", kOwn + "upindex.txt"}));
    }
    ASSERT_TRUE(browser.WaitFor("http://127.0.0.1:9/download", 20000)) << browser.Log();
    OpenInBrowser("yxtest:control");
    ASSERT_TRUE(browser.WaitFor("yxtest:control", 20000)) << browser.Log();
    EXPECT_EQ(browser.Log().find("not-a-web-page"), std::string::npos) << browser.Log();
}

} // namespace
