// Close prompt and single-instance guard in-process, with the real audio
// library and its trace. The ways that end the process run in a child copy
// of this program.
#include "app/close_prompt.h"
#include "app/instance.h"
#include "app/keyboard_hook.h"
#include "core/bass_api.h"
#include "core/engine.h"
#include "core/program.h"
#include "core/settings.h"
#include "tests/support/audio_trace.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/program_skeleton.h"
#include "tests/support/ui_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

void StartProgramParts(const std::string& folder)
{
    MakeProgramDir(folder, true);
    BuildMainWindow("", true);
    Program().MainWindow.SetCloseHandler(ClosePrompt);
    CheckOutputDevices();
}

// Runs this program's child test in `mode` with `folder` as program
// directory, pumping messages meanwhile; returns its exit code.
DWORD RunAppChild(const std::string& mode, const std::string& folder)
{
    return RunChild(ThisProgram(), "--gtest_filter=AppChild.Run",
                    {{"YXYT_CHILD_MODE", mode}, {"YXYT_CHILD_DIR", folder}}, 60000);
}

std::string ChildFolder(const std::string& name)
{
    std::string folder = TempFolder(name);
    DeleteFileA((folder + "trace.txt").c_str());
    DeleteFileA((folder + "boxes.txt").c_str());
    DeleteFileA((folder + "Config.ini").c_str());
    return folder;
}

class CloseAndInstance : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartProgramParts(TempFolder("yxyt_close_test")); }
    static void TearDownTestSuite() { BASS_Free(); }
    void SetUp() override { DeleteFileA(SettingsPath().c_str()); }
};

TEST_F(CloseAndInstance, CloseAnsweredNoKeepsEverything)
{
    UiDriver ui(IDNO);
    size_t mark = Trace::Mark();
    EXPECT_EQ(ClosePrompt(), 1);
    ASSERT_EQ(ui.Seen().size(), 1u);
    EXPECT_EQ(ui.Seen()[0].caption, "询问！");
    EXPECT_EQ(ui.Seen()[0].text,
              "您是否希望退出逸响乐台,点击是按钮退出程序，点击否按钮放弃操作，点击取消按钮退出程序并下次不再提示");
    EXPECT_EQ(ui.Seen()[0].owner, Program().MainWindow.GetHandle());
    EXPECT_TRUE(Trace::Since(mark).empty());
    EXPECT_EQ(ReadSetting(kOptionSection, kClosePromptKey, "absent"), "absent");
    // The same through the window: it stays.
    SendMessageA(Program().MainWindow.GetHandle(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(Program().MainWindow.GetHandle()));
}

TEST_F(CloseAndInstance, CloseYesAndCancelEndWithCodeZeroAfterFreeingTheLibrary)
{
    struct Case {
        const char* mode;
        const char* stored; // 关闭提示 before
        const char* after;  // 关闭提示 after, "-" = no Config.ini
        int boxes;
    } cases[] = {
        {"close:6", nullptr, "-", 1}, // Yes
        {"close:2", nullptr, "1", 1}, // Cancel switches the question off
        {"close:7", "1", "1", 0},     // switched off: no question (a No would fail the child)
        {"close:7", "2", "2", 0},     {"close:7", "", "", 0},
    };
    for (const Case& c : cases) {
        std::string folder = ChildFolder("yxyt_close_child");
        std::string ini = folder + "Config.ini";
        if (c.stored)
            WritePrivateProfileStringA("选项", "关闭提示", c.stored, ini.c_str());
        EXPECT_EQ(RunAppChild(c.mode, folder), 0u) << c.mode;
        std::string trace = ReadFileBytes(folder + "trace.txt");
        ASSERT_GE(trace.size(), 17u) << c.mode;
        EXPECT_EQ(trace.substr(trace.size() - 17), "BASS_Free() = 1\r\n") << c.mode;
        std::string boxes = ReadFileBytes(folder + "boxes.txt");
        EXPECT_EQ((int)std::count(boxes.begin(), boxes.end(), '\n'), c.boxes) << c.mode;
        if (c.boxes) {
            EXPECT_EQ(boxes.substr(0, boxes.find('|')), "询问！");
        }
        if (std::string(c.after) == "-") {
            EXPECT_FALSE(FileExists(ini)) << c.mode;
        } else {
            char value[32] = {};
            GetPrivateProfileStringA("选项", "关闭提示", "absent", value, sizeof value, ini.c_str());
            EXPECT_STREQ(value, c.after) << c.mode;
        }
    }
}

TEST_F(CloseAndInstance, SecondCopyTellsTheUserBringsTheFirstForwardAndEnds)
{
    std::string name = "yxyt_instance_test_" + std::to_string(GetCurrentProcessId());
    EnsureSingleInstance(name.c_str(), true, "unused", MB_ICONINFORMATION, true);
    HWND main = Program().MainWindow.GetHandle();
    ShowWindow(main, SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(main));
    std::string folder = ChildFolder("yxyt_instance_child");
    SetEnvironmentVariableA("YXYT_INSTANCE_NAME", name.c_str());
    EXPECT_EQ(RunAppChild("instance", folder), 0u);
    EXPECT_EQ(ReadFileBytes(folder + "boxes.txt"), "友情提醒:|逸响乐台已经运行，请不要重复启动啦！|none\n");
    EXPECT_TRUE(PumpUntil([&] { return !IsIconic(main); }, 5000));
}

TEST(ProcessSearch, FindsTheFirstCopyByNameWithoutRegardToCase)
{
    std::string exe = ThisProgram();
    std::string name = exe.substr(exe.find_last_of('\\') + 1);
    DWORD pid = FindProcessByExeName(name);
    EXPECT_NE(pid, 0u);
    std::string upper = name;
    CharUpperBuffA(&upper[0], (DWORD)upper.size());
    EXPECT_EQ(FindProcessByExeName(upper), pid);
    EXPECT_EQ(FindProcessByExeName("no-such-program.exe"), 0u);
}

TEST(ProcessSearch, WindowSearchForAWindowlessProcessGivesUp)
{
    // A process without windows: the search gives up after its 5 s with none.
    char system[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    std::string cmd = std::string(system) + "\\cmd.exe";
    std::string command = "\"" + cmd + "\" /c pause";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(
        CreateProcessA(cmd.c_str(), &command[0], NULL, NULL, FALSE, CREATE_NO_WINDOW, NULL, NULL, &startup, &process));
    DWORD start = GetTickCount();
    EXPECT_EQ(FindVisibleWindowOfProcess(process.dwProcessId), (HWND)NULL);
    DWORD spent = GetTickCount() - start;
    printf("search gave up after %lu ms\n", (unsigned long)spent);
    EXPECT_GE(spent, 5000u);
    EXPECT_LE(spent, 15000u);
    TerminateProcess(process.hProcess, 0);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

// The child copy: ends inside the program's own code, or fails.
TEST(AppChild, Run)
{
    const char* mode = getenv("YXYT_CHILD_MODE");
    if (!mode || !*mode)
        GTEST_SKIP() << "runs only as a child copy";
    std::string folder = getenv("YXYT_CHILD_DIR");
    std::string m = mode;
    StartProgramParts(folder);
    UiDriver ui;
    ui.LogTo(folder + "boxes.txt");
    if (m.rfind("close:", 0) == 0) {
        ui.SetBoxButton(atoi(m.c_str() + 6));
        InstallKeyboardHook();
        ClosePrompt();
        FAIL() << "ClosePrompt returned";
    } else if (m == "instance") {
        EnsureSingleInstance(getenv("YXYT_INSTANCE_NAME"), true, "逸响乐台已经运行，请不要重复启动啦！",
                             MB_ICONINFORMATION, true);
        FAIL() << "the second copy kept running";
    }
}

} // namespace
