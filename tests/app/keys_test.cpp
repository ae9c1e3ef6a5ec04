// The keys in-process: the hook's rows reaching the dispatcher, against
// the real audio library and three small kits.
#include "app/commands.h"
#include "app/keyboard_hook.h"
#include "core/bass_api.h"
#include "core/command_table.h"
#include "core/engine.h"
#include "core/program.h"
#include "core/window_ids.h"
#include "drumpad/kits.h"
#include "tests/support/audio_trace.h"
#include "tests/support/files.h"
#include "tests/support/program_skeleton.h"
#include "tests/support/tone_wav.h"
#include "tests/support/ui_driver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>

namespace {

std::string Root;

void KeyStroke(DWORD vk)
{
    HookKey(vk, WM_KEYDOWN);
    HookKey(vk, WM_KEYUP);
}

bool BringMainToFront()
{
    HWND main = Program().MainWindow.GetHandle();
    SetForegroundWindow(main);
    return PumpUntil([&] { return GetForegroundWindow() == main; }, 5000);
}

// The kit folders whose a.WAV was opened since `trace` began, in order.
std::vector<std::string> KitsLoaded(const Trace& trace)
{
    std::vector<std::string> kits;
    for (auto& c : trace.Calls({"BASS_StreamCreateFile"})) {
        size_t end = c.args[1].rfind("\\a.WAV");
        if (end != std::string::npos) {
            size_t start = c.args[1].rfind('\\', end - 1) + 1;
            kits.push_back(c.args[1].substr(start, end - start));
        }
    }
    return kits;
}

double NowMs()
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * now.QuadPart / frequency.QuadPart;
}

DWORD ChannelOf(const std::string& fileName)
{
    for (auto& s : Kits().SampleTable)
        if (s.fileName == fileName)
            return s.channel;
    return 0;
}

// When the library was asked to play `channel` after `mark`, or a
// negative number when it was not asked by the deadline.
double PlayedAt(size_t mark, DWORD channel, DWORD deadlineMs)
{
    DWORD start = GetTickCount();
    do {
        auto times = Trace::PlayTimes(mark, channel);
        if (!times.empty())
            return times[0];
        Sleep(2);
    } while (GetTickCount() - start < deadlineMs);
    return -1;
}

HANDLE WINAPI NoThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD)
{
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return NULL;
}

HHOOK WINAPI NoHook(int, HOOKPROC, HINSTANCE, DWORD)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return NULL;
}

// Kit 1 loaded and the hook installed, removed again at the end.
struct HookedKitOne {
    HookedKitOne()
    {
        LoadKit(KitCommandOfNumber(1), 1);
        InstallKeyboardHook();
    }
    ~HookedKitOne() { RemoveKeyboardHook(); }
};

class Keys : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        Root = MakeProgramDir(TempFolder("yxyt_keys_" + std::to_string(GetCurrentProcessId())), true);
        std::string snd = Root + "SND\\";
        CreateDirectoryA(snd.c_str(), NULL);
        WriteFileBytes(snd + "Finish.wav", ToneWav(1000, 30));
        for (const char* kit : {"K1", "K2", "K3"}) {
            CreateDirectoryA((snd + kit).c_str(), NULL);
            for (char c = 'a'; c <= 'z'; c++)
                WriteFileBytes(snd + kit + "\\" + c + ".WAV", ToneWav(200 + 10 * (c - 'a'), 30));
        }
        WriteFileBytes(Root + "Config.ini", "");
        BuildMainWindow("", true, false);
        CheckKitFolder();
        DiscoverKits();
        ReadKitVolume();
        LoadInitialKit();
        ConnectDispatcher(Program().MainWindow.GetHandle());
    }
    static void TearDownTestSuite() { BASS_Free(); }
};

// Start-up installs the hook before it connects the dispatcher, and loads
// the first kit in between: keys posted then wait and run in order once
// it is connected, and menu commands still have no effect before it.
TEST_F(Keys, KeysPostedBeforeTheDispatcherIsConnectedWaitForItInOrder)
{
    HWND main = Program().MainWindow.GetHandle();
    LoadKit(KitCommandOfNumber(1), 1);
    ASSERT_TRUE(BringMainToFront());
    QueueKeysUntilDispatch(main);
    Trace trace;
    KeyStroke(VK_END);
    KeyStroke(VK_END);
    SendMessageA(main, WM_COMMAND, CommandOf(kKitVolumeDownEntry), 0);
    PumpMessages();
    EXPECT_EQ(Kits().CurrentKitIndex, 1);
    EXPECT_TRUE(trace.Calls().empty()) << trace.Dump();
    // Posted before the dispatcher, dispatched after it: it joins the queue.
    KeyStroke(VK_HOME);

    ConnectDispatcher(main);
    ASSERT_TRUE(PumpUntil([&] { return KitsLoaded(trace).size() == 3; }, 10000)) << trace.Dump();
    PumpMessages();
    EXPECT_EQ(KitsLoaded(trace), (std::vector<std::string>{"K2", "K3", "K2"}));
    EXPECT_EQ(Kits().CurrentKitIndex, 2);
}

// Windows removes a low-level hook that does not answer within about a
// second, and the pad is deaf until restarted. The hook has a thread of its
// own: while the window's thread is stuck for 3 s (as in a stalled device
// open or a slow kit), every letter typed still plays at once.
TEST_F(Keys, LettersPlayAtOnceWhileTheWindowThreadIsBusy)
{
    HookedKitOne hooked;
    ASSERT_TRUE(BringMainToFront());

    const std::string letters = "QWERTYUIOP";
    std::vector<DWORD> channels;
    for (char c : letters)
        channels.push_back(ChannelOf(std::string(1, (char)(c - 'A' + 'a')) + ".WAV"));
    HANDLE busy = CreateEventA(NULL, TRUE, FALSE, NULL);
    std::vector<double> pressed, played;
    std::thread typist([&] {
        WaitForSingleObject(busy, 10000);
        for (size_t i = 0; i < letters.size(); i++) {
            size_t mark = Trace::Mark();
            pressed.push_back(NowMs());
            keybd_event((BYTE)letters[i], 0, 0, 0);
            keybd_event((BYTE)letters[i], 0, KEYEVENTF_KEYUP, 0);
            played.push_back(PlayedAt(mark, channels[i], 250));
        }
    });
    // From here on this thread retrieves no message.
    double busyFrom = NowMs();
    SetEvent(busy);
    Sleep(3000); // the window's thread, stuck: no message retrieved
    double busyTo = NowMs();
    typist.join();
    CloseHandle(busy);

    ASSERT_EQ(played.size(), letters.size());
    for (size_t i = 0; i < letters.size(); i++) {
        EXPECT_GE(played[i], 0) << letters[i] << " was not played within 250 ms";
        if (played[i] >= 0) {
            EXPECT_LT(played[i] - pressed[i], 100) << letters[i];
            EXPECT_GT(played[i], busyFrom) << letters[i];
            EXPECT_LT(played[i], busyTo) << letters[i] << " played only once the window's thread was free";
            std::printf("%c: played %.1f ms after the press\n", letters[i], played[i] - pressed[i]);
        }
    }

    // Removed, the hook's thread plays nothing more.
    RemoveKeyboardHook();
    size_t mark = Trace::Mark();
    keybd_event('Q', 0, 0, 0);
    keybd_event('Q', 0, KEYEVENTF_KEYUP, 0);
    PumpMessages();
    EXPECT_LT(PlayedAt(mark, channels[0], 250), 0);
}

// A Shift release the hook never saw (the secure desktop of a UAC prompt
// takes it) leaves no soft notes behind, and a Shift the system has down
// makes one: what counts is Shift as the system has it at the press.
TEST_F(Keys, ASoftNoteFollowsShiftAsTheSystemHasItAtThePress)
{
    LoadKit(KitCommandOfNumber(1), 1);
    ASSERT_TRUE(BringMainToFront());
    const std::string a = std::to_string(ChannelOf("a.WAV"));
    HookKey(VK_LSHIFT, WM_KEYDOWN);
    size_t mark = Trace::Mark();
    KeyStroke('A');
    EXPECT_EQ(Trace::Matching(mark, "BASS_ChannelPlay(" + a + ", 1) = 1").size(), 1u);
    EXPECT_TRUE(Trace::Matching(mark, "BASS_ChannelPlayGain(").empty());
    HookKey(VK_LSHIFT, WM_KEYUP);

    keybd_event(VK_SHIFT, 0, 0, 0);
    mark = Trace::Mark();
    KeyStroke('A');
    keybd_event(VK_SHIFT, 0, KEYEVENTF_KEYUP, 0);
    EXPECT_EQ(Trace::Matching(mark, "BASS_ChannelPlayGain(" + a + ", 0.316) = 1").size(), 1u);
    EXPECT_TRUE(Trace::Matching(mark, "BASS_ChannelPlay(").empty());
}

// Without a thread for the hook, or without the hook, start-up goes on
// after one box; the hook comes back once the system gives it again.
TEST_F(Keys, AHookThatCannotBeHadIsToldOnceAndTheProgramGoesOn)
{
    UiDriver ui;
    for (HookStartCalls failing : {HookStartCalls{CreateThread, NoHook}, HookStartCalls{NoThread, SetWindowsHookExA}}) {
        UseHookStartCalls(failing);
        std::atomic<bool> returned{false};
        std::thread install([&] {
            InstallKeyboardHook();
            returned = true;
        });
        if (!PumpUntil([&] { return returned.load(); }, 10000)) {
            install.detach();
            FAIL() << "the install waits for a hook that never comes";
        }
        install.join();
    }
    UseHookStartCalls(HookStartCalls());
    ASSERT_EQ(ui.Seen().size(), 1u);
    EXPECT_EQ(ui.Seen()[0].caption, "错误！");
    EXPECT_EQ(ui.Seen()[0].text, "程序无法接收键盘按键（错误代码 5），本次运行中字母键和功能键都不起作用；"
                                 "菜单和键盘图的鼠标点击仍可使用。");
    EXPECT_EQ(ui.Seen()[0].owner, Program().MainWindow.GetHandle());

    HookedKitOne hooked;
    ASSERT_TRUE(BringMainToFront());
    size_t mark = Trace::Mark();
    keybd_event('Q', 0, 0, 0);
    keybd_event('Q', 0, KEYEVENTF_KEYUP, 0);
    EXPECT_GE(PlayedAt(mark, ChannelOf("q.WAV"), 2000), 0);
    EXPECT_EQ(ui.Seen().size(), 1u);
}

} // namespace
