// The drum pad in-process: the main window and menus built as start-up
// builds them, kits laid out on disk, and the real audio library, whose
// trace file shows exactly what the program asked of it.
#include "app/commands.h"
#include "app/keyboard_hook.h"
#include "app/sound_cards.h"
#include "app/startup.h"
#include "core/bass_api.h"
#include "core/command_table.h"
#include "core/engine.h"
#include "core/exclusive_output.h"
#include "core/program.h"
#include "core/settings.h"
#include "drumpad/hits.h"
#include "drumpad/kit_volume.h"
#include "drumpad/kits.h"
#include "tests/support/audio_trace.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/program_skeleton.h"
#include "tests/support/tone_wav.h"
#include "tests/support/ui_driver.h"

#include <gtest/gtest.h>
#include <mmsystem.h>

#include <cstdio>
#include <map>
#include <set>

namespace {

std::string Root; // the program directory of this run

void MakeDir(const std::string& path)
{
    CreateDirectoryA(path.c_str(), NULL);
}

const std::string kChineseKit = "中文鼓(电子)";

// SND as the tests expect it; listed order: Alpha, Empty, zeta, 中文鼓(电子).
void LayOutKits(const std::string& snd)
{
    MakeDir(snd);
    WriteFileBytes(snd + "Finish.wav", ToneWav(1000, 30));
    std::string alpha = snd + "Alpha\\";
    MakeDir(alpha);
    WriteFileBytes(alpha + "A.wav", ToneWav(200, 30));
    for (char c = 'b'; c <= 'z'; c++)
        WriteFileBytes(alpha + std::string(1, c) + ".WAV", ToneWav(200 + 10 * (c - 'a'), 30));
    WriteFileBytes(alpha + "1.wav", ToneWav(300, 30));
    WriteFileBytes(alpha + "notes.txt", "not a sample");
    MakeDir(alpha + "extra");
    WriteFileBytes(alpha + "extra\\c.WAV", ToneWav(400, 30));
    MakeDir(snd + "beta_已排除");
    WriteFileBytes(snd + "beta_已排除\\a.WAV", ToneWav(500, 30));
    MakeDir(snd + "Empty");
    std::string zeta = snd + "zeta\\";
    MakeDir(zeta);
    WriteFileBytes(zeta + "a.wav", "this is not a wave file at all");
    for (const char* n : {"h.WAV", "j.WAV", "k.WAV", "l.WAV", "m.WAV"})
        WriteFileBytes(zeta + n, ToneWav(700, 30));
    std::string chinese = snd + kChineseKit + "\\";
    MakeDir(chinese);
    WriteFileBytes(chinese + "a.WAV", ToneWav(800, 30));
    WriteFileBytes(chinese + "s.WAV", ToneWav(900, 30));
}

std::string FileOf(const std::string& quotedPath)
{
    std::string p = quotedPath;
    if (p.size() >= 2 && p.front() == '"')
        p = p.substr(1, p.size() - 2);
    return p.substr(p.find_last_of('\\') + 1);
}

// A kit without an item has no state (-1), so no check mark either.
bool Checked(int32_t id)
{
    UINT state = GetMenuState(Program().KitMenu.GetHandle(), id, MF_BYCOMMAND);
    return state != (UINT)-1 && (state & MF_CHECKED);
}

std::vector<std::string> TableNames()
{
    std::vector<std::string> names;
    for (auto& s : Kits().SampleTable)
        names.push_back(s.fileName);
    return names;
}

DWORD ChannelOf(const std::string& fileName)
{
    for (auto& s : Kits().SampleTable)
        if (s.fileName == fileName)
            return s.channel;
    return (DWORD)-1;
}

// A press and release, then what the hook left for the message loop.
void Press(DWORD vk)
{
    HookKey(vk, WM_KEYDOWN);
    HookKey(vk, WM_KEYUP);
    PumpMessages();
}

void Command(int entry)
{
    SendMessageA(Program().MainWindow.GetHandle(), WM_COMMAND, (WPARAM)CommandTable[entry], 0);
}

std::string Setting(const char* section, const char* key)
{
    return ReadSetting(section, key, "<none>");
}

void BringMainToFront()
{
    SetForegroundWindow(Program().MainWindow.GetHandle());
    PumpMessages();
}

// What start-up left of the engine and the card menu, before any test.
struct EngineStart {
    std::vector<std::string> trace;
    int currentCard = -1;
    int32_t markedCard = -1;
    int checkedCards = -1;
};

class DrumPad : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        Root = MakeProgramDir(TempFolder("yxyt_drumpad_" + std::to_string(GetCurrentProcessId())), true);
        LayOutKits(Root + "SND\\");
        WriteFileBytes(Root + "Config.ini", "");
        BuildMainWindow("欢迎", true);
        CheckKitFolder();
        AddSoundCardItems();
        Start = new EngineStart;
        Start->trace = Trace::Lines();
        Start->currentCard = Program().CurrentCardIndex;
        Start->markedCard = Program().MarkedCardCommand;
        Start->checkedCards = 0;
        for (int n = 1; n <= GetMenuItemCount(Program().CardMenu.GetHandle()); n++) {
            UINT state = GetMenuState(Program().CardMenu.GetHandle(), CommandTable[n + 33], MF_BYCOMMAND);
            Start->checkedCards += (state & MF_CHECKED) ? 1 : 0;
        }
        // Where start-up leaves the card: a kit removal reopens on it.
        CheckOutputDevices();
    }
    // The engine is closed as shutdown closes it, before the library unloads.
    static void TearDownTestSuite() { BASS_Free(); }
    // Each test starts from the kits as start-up finds them, none loaded
    // yet, whatever the tests before it changed.
    void SetUp() override
    {
        ResetKits();
        Program().KitMenu.RemoveItem(CommandTable[100]);
        UiDriver boxes(IDOK);
        DiscoverKits();
        boxes.WaitFor(1, 5000);
        DiscoveryBoxes = boxes.Seen();
        Program().KitMenu.AppendItem("退出(&E)", CommandTable[100]);
    }
    static EngineStart* Start;
    std::vector<SeenDialog> DiscoveryBoxes;
};
EngineStart* DrumPad::Start;

// ---- tests, in the order start-up meets them; each runs alone as well ----

TEST_F(DrumPad, EngineOpensTheDefaultDeviceAndListsEveryCard)
{
    const auto& lines = Start->trace;
    ASSERT_GE(lines.size(), 3u);
    // The stored wish (none: shared) goes to the library before the open.
    EXPECT_EQ(lines[0], "BASS_SetExclusive(0) = 1");
    TraceCall init = ParseTraceCall(lines[1]);
    EXPECT_EQ(init.name, "BASS_Init");
    ASSERT_GE(init.args.size(), 3u);
    EXPECT_EQ(init.args[0], "-1");
    EXPECT_EQ(init.args[1], "44100");
    EXPECT_EQ(init.args[2], "4");
    EXPECT_EQ(ParseTraceCall(lines[2]).line.rfind("BASS_Set3DFactors(0.3048, -10, 0)", 0), 0u) << lines[2];

    UINT devices = waveOutGetNumDevs();
    ASSERT_GT(devices, 0u) << "the test needs the session's sound server";
    ASSERT_EQ(Program().SoundCards.size(), devices);
    EXPECT_EQ(Start->currentCard, 0) << "only CheckOutputDevices sets it";
    EXPECT_EQ(Start->markedCard, 0);
    EXPECT_EQ(Start->checkedCards, 0) << "no card is marked before the first switch";
    int items = GetMenuItemCount(Program().CardMenu.GetHandle());
    ASSERT_EQ(items, (int)std::min<UINT>(devices, 30));
    for (int n = 1; n <= items; n++)
        EXPECT_EQ(Program().CardMenu.GetItemText(CommandTable[n + 33]),
                  Program().SoundCards[n - 1] + "(&" + std::to_string(n) + ")");
    EXPECT_FALSE(Program().SoundCards[0].empty());
}

TEST_F(DrumPad, DiscoveryListsKitsInNameOrderAndSkipsEmptyAndExcludedOnes)
{
    std::string snd = Root + "SND\\";
    std::vector<std::string> expected = {snd + "Alpha", snd + "Empty", snd + "zeta", snd + kChineseKit};
    EXPECT_EQ(Kits().KitList, expected);

    // The empty kit keeps its number but has no item; mnemonics show the gap.
    std::vector<std::pair<std::string, UINT>> items;
    for (int i = 0; i < GetMenuItemCount(Program().KitMenu.GetHandle()); i++)
        items.push_back({Program().KitMenu.GetItemText(i, true), GetMenuItemID(Program().KitMenu.GetHandle(), i)});
    std::vector<std::pair<std::string, UINT>> want = {{"删除当前选中鼓源(&D)", 102425},
                                                      {"Alpha(&1)", 102426},
                                                      {"zeta(&3)", 102428},
                                                      {kChineseKit + "(&4)", 102429},
                                                      {"退出(&E)", 102522}};
    EXPECT_EQ(items, want);

    ASSERT_EQ(DiscoveryBoxes.size(), 1u);
    const SeenDialog& box = DiscoveryBoxes[0];
    EXPECT_EQ(box.caption, "错误！");
    EXPECT_EQ(box.text, "程序检测到您位于" + snd + "Empty的目录是空的，已经跳过检测这个鼓源");
    EXPECT_EQ(box.owner, Program().MainWindow.GetHandle());
}

TEST_F(DrumPad, FirstLoadTakesTheStoredKitAtTheStoredVolumeSilently)
{
    WriteSetting(kKitSection, kKitIndexKey, "3");
    WriteSetting(kKitSection, kKitVolumeKey, "0.5");
    Program().KitLabel.LabelText("欢迎");
    Trace trace;
    ReadKitVolume();
    EXPECT_FLOAT_EQ(Kits().KitVolume, 0.5f);
    LoadInitialKit();

    auto calls = trace.Calls();
    std::vector<std::string> created;
    std::map<std::string, std::string> volumes;
    std::map<std::string, std::string> handleFile;
    for (auto& c : calls) {
        if (c.name == "BASS_StreamCreateFile") {
            created.push_back(FileOf(c.args[1]));
            handleFile[c.result] = FileOf(c.args[1]);
            EXPECT_EQ(c.args[0], "0");
        }
        if (c.name == "BASS_ChannelSetAttribute")
            volumes[handleFile[c.args[0]]] = c.args[1] + "," + c.args[2];
        EXPECT_NE(c.name, "BASS_ChannelPlay") << "no confirmation at start-up";
    }
    std::vector<std::string> want = {"a.wav", "h.WAV", "j.WAV", "k.WAV", "l.WAV", "m.WAV", "Finish.wav"};
    EXPECT_EQ(created, want) << trace.Dump();
    // The undecodable a.wav has handle 0 and gets its volume call all the same.
    std::map<std::string, std::string> wantVolumes = {{"a.wav", "2,0.5"}, {"h.WAV", "2,0.5"}, {"j.WAV", "2,0.5"},
                                                      {"k.WAV", "2,0.5"}, {"l.WAV", "2,0.5"}, {"m.WAV", "2,0.5"}};
    EXPECT_EQ(volumes, wantVolumes) << "Finish.wav keeps the library's default volume\n" << trace.Dump();
    EXPECT_EQ(ChannelOf("a.wav"), 0u);
    EXPECT_EQ(TableNames(), want);
    // The first load keeps the welcome text unless something is wrong: here
    // the undecodable a.wav is named.
    EXPECT_EQ(Program().KitLabel.LabelText(), "当前选中鼓源 - zeta\r\n无法解码 a.wav");
    EXPECT_TRUE(Checked(102428));
    EXPECT_EQ(Kits().CurrentKitCommand, 102428);
    EXPECT_EQ(Setting(kKitSection, kKitIndexKey), "3");
}

TEST_F(DrumPad, StoredIndexIsRepairedWithAMessageOnlyBelowOne)
{
    struct Case {
        const char* stored;
        bool message;
    } cases[] = {{"0", true}, {"-3", true}, {"abc", true}, {"99", false}, {"5", false}, {"4", false}};
    for (auto& c : cases) {
        WriteSetting(kKitSection, kKitIndexKey, c.stored);
        UiDriver boxes(IDOK);
        LoadInitialKit();
        if (c.message)
            boxes.WaitFor(1, 5000);
        auto seen = boxes.Seen();
        ASSERT_EQ(seen.size(), c.message ? 1u : 0u) << c.stored;
        if (c.message) {
            EXPECT_EQ(seen[0].caption, "错误！");
            EXPECT_EQ(seen[0].text, "程序检测到配置文件发生异常，已经重制成默认状态");
        }
        int want = std::string(c.stored) == "4" ? 4 : 1;
        EXPECT_EQ(Kits().CurrentKitIndex, want) << c.stored;
        EXPECT_EQ(Setting(kKitSection, kKitIndexKey), std::to_string(want)) << c.stored;
    }
}

TEST_F(DrumPad, KitCommandLoadsOnlyTheKitsWavFilesAndConfirms)
{
    Command(6); // zeta, kit 3
    Trace trace;
    std::vector<DWORD> before;
    for (auto& s : Kits().SampleTable)
        before.push_back(s.channel);
    Command(4); // Alpha, kit 1

    std::vector<std::string> want = {"1.wav", "A.wav"};
    for (char c = 'b'; c <= 'z'; c++)
        want.push_back(std::string(1, c) + ".WAV");
    want.push_back("Finish.wav");
    EXPECT_EQ(TableNames(), want);

    auto calls = trace.Calls({"BASS_SampleFree", "BASS_StreamCreateFile", "BASS_ChannelPlay"});
    ASSERT_GE(calls.size(), before.size() + want.size() + 1);
    for (size_t i = 0; i < before.size(); i++) {
        EXPECT_EQ(calls[i].name, "BASS_SampleFree");
        EXPECT_EQ(calls[i].args[0], std::to_string(before[i]));
    }
    for (size_t i = 0; i < want.size(); i++)
        EXPECT_EQ(FileOf(calls[before.size() + i].args[1]), want[i]);
    TraceCall play = calls.back();
    EXPECT_EQ(play.name, "BASS_ChannelPlay");
    EXPECT_EQ(play.args[0], std::to_string(ChannelOf("Finish.wav")));
    EXPECT_EQ(play.args[1], "1");
    EXPECT_EQ(play.result, "1") << "the confirmation sample really plays";

    EXPECT_EQ(Program().KitLabel.LabelText(), "当前选中鼓源 - Alpha");
    EXPECT_TRUE(Checked(102426));
    EXPECT_FALSE(Checked(102428));
    EXPECT_EQ(Setting(kKitSection, kKitIndexKey), "1");
}

TEST_F(DrumPad, LettersRestartTheirSampleOnlyWithTheWindowInFront)
{
    Command(4);
    BringMainToFront();
    ASSERT_EQ(GetForegroundWindow(), Program().MainWindow.GetHandle());
    Trace trace;
    EXPECT_EQ(HookKey('A', WM_KEYDOWN), (LRESULT)Program().MainWindow.GetHandle()) << "the key is swallowed";
    EXPECT_EQ(HookKey('A', WM_KEYUP), (LRESULT)Program().MainWindow.GetHandle());
    HookKey('Z', WM_KEYDOWN);
    auto plays = trace.Calls({"BASS_ChannelPlay", "BASS_ChannelPause"});
    ASSERT_EQ(plays.size(), 2u) << trace.Dump();
    EXPECT_EQ(plays[0].args[0], std::to_string(ChannelOf("A.wav")));
    EXPECT_EQ(plays[0].args[1], "1");
    EXPECT_EQ(plays[0].result, "1");
    EXPECT_EQ(plays[1].args[0], std::to_string(ChannelOf("z.WAV")));

    // With another window in front nothing is asked of the library.
    HWND other = CreateWindowExA(0, "STATIC", "other", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, NULL, NULL, NULL, NULL);
    SetForegroundWindow(other);
    PumpMessages();
    ASSERT_EQ(GetForegroundWindow(), other);
    Trace quiet;
    EXPECT_NE(HookKey('A', WM_KEYDOWN), (LRESULT)Program().MainWindow.GetHandle());
    HookKey('A', WM_KEYUP);
    Press(VK_END);
    Press(VK_PRIOR);
    EXPECT_TRUE(quiet.Calls().empty()) << quiet.Dump();
    EXPECT_EQ(Kits().CurrentKitIndex, 1);
    DestroyWindow(other);
    BringMainToFront();
}

TEST_F(DrumPad, TenKeysAndShiftPassThroughAndEveryOtherKeyIsSwallowed)
{
    BringMainToFront();
    HWND main = Program().MainWindow.GetHandle();
    // Shift too, so that the system keeps its state for a soft note.
    for (DWORD vk : {VK_TAB, VK_LMENU, VK_RMENU, VK_RETURN, VK_LEFT, VK_UP, VK_RIGHT, VK_DOWN, VK_ESCAPE, VK_SHIFT,
                     VK_LSHIFT, VK_RSHIFT}) {
        EXPECT_NE(HookKey(vk, WM_KEYDOWN), (LRESULT)main) << vk;
        EXPECT_NE(HookKey(vk, WM_KEYUP), (LRESULT)main) << vk;
    }
    for (DWORD vk : {(DWORD)VK_F1, (DWORD)VK_F12, (DWORD)'Q', (DWORD)VK_OEM_1, (DWORD)VK_DELETE})
        EXPECT_EQ(HookKey(vk, WM_KEYDOWN), (LRESULT)main) << vk;
    // Alt-held letters come as system keys: swallowed, and nothing plays.
    Trace trace;
    EXPECT_EQ(HookKey('A', WM_SYSKEYDOWN), (LRESULT)main);
    EXPECT_TRUE(trace.Calls().empty()) << trace.Dump();
    // Let go, as a keyboard does.
    for (DWORD vk : {(DWORD)VK_F1, (DWORD)VK_F12, (DWORD)'Q', (DWORD)VK_OEM_1, (DWORD)VK_DELETE})
        HookKey(vk, WM_KEYUP);
}

TEST_F(DrumPad, HatKeysChokeTheHatFamilyAndOtherKeysDoNot)
{
    Command(6); // zeta: a.wav (undecodable), h, j, k, l, m
    BringMainToFront();
    Trace trace;
    HookKey('H', WM_KEYDOWN);
    auto calls = trace.Calls({"BASS_ChannelPlay", "BASS_ChannelPause"});
    std::vector<std::string> got;
    for (auto& c : calls)
        got.push_back(c.name.substr(12) + " " + c.args[0]);
    std::vector<std::string> want = {
        "Pause " + std::to_string(ChannelOf("h.WAV")),      "Pause " + std::to_string(ChannelOf("j.WAV")),
        "Pause " + std::to_string(ChannelOf("k.WAV")),      "Pause " + std::to_string(ChannelOf("l.WAV")),
        "Pause " + std::to_string(ChannelOf("Finish.wav")), "Play " + std::to_string(ChannelOf("h.WAV"))};
    EXPECT_EQ(got, want);

    Trace other;
    HookKey('M', WM_KEYDOWN);
    HookKey('A', WM_KEYDOWN);
    auto calls2 = other.Calls({"BASS_ChannelPlay", "BASS_ChannelPause"});
    ASSERT_EQ(calls2.size(), 2u) << other.Dump();
    EXPECT_EQ(calls2[0].name, "BASS_ChannelPlay");
    // The undecodable file left a handle of 0: the call fails, nothing sounds.
    EXPECT_EQ(calls2[1].args[0], "0");
    EXPECT_EQ(calls2[1].result, "0");
}

TEST_F(DrumPad, RepeatHitOptionLocksUntilAKeyIsReleased)
{
    Command(4);
    BringMainToFront();
    ASSERT_EQ(RepeatHitOption(), 0);
    auto plays = [](const Trace& t) { return t.Calls({"BASS_ChannelPlay"}).size(); };

    Trace off;
    HookKey('A', WM_KEYDOWN);
    HookKey('A', WM_KEYDOWN); // auto-repeat
    HookKey('S', WM_KEYDOWN);
    HookKey('S', WM_KEYUP);
    HookKey('A', WM_KEYUP);
    EXPECT_EQ(plays(off), 3u);

    Command(88);
    EXPECT_EQ(RepeatHitOption(), 1);
    EXPECT_TRUE(GetMenuState(Program().SoundMenu.GetHandle(), CommandTable[88], MF_BYCOMMAND) & MF_CHECKED);
    char raw[16] = {};
    GetPrivateProfileStringA("选项", "重复敲击", "", raw, sizeof raw, (Root + "config.ini").c_str());
    EXPECT_STREQ(raw, "1");

    Trace on;
    HookKey('A', WM_KEYDOWN);
    HookKey('A', WM_KEYDOWN);
    HookKey('A', WM_KEYDOWN);
    HookKey('S', WM_KEYDOWN);
    EXPECT_EQ(plays(on), 1u) << on.Dump();
    HookKey('S', WM_KEYUP);
    HookKey('A', WM_KEYUP);
    Trace again;
    HookKey('S', WM_KEYDOWN);
    HookKey('S', WM_KEYUP);
    EXPECT_EQ(plays(again), 1u) << "a release clears the lock";

    // The lock also silences the confirmation of a kit change made while held.
    HookKey('A', WM_KEYDOWN);
    Trace held;
    Command(7);
    EXPECT_EQ(plays(held), 0u);
    HookKey('A', WM_KEYUP);

    HookKey('A', WM_KEYDOWN); // lock set, then the option goes off
    Command(88);
    EXPECT_EQ(RepeatHitOption(), 0);
    EXPECT_FALSE(PlayLocked());
    EXPECT_FALSE(GetMenuState(Program().SoundMenu.GetHandle(), CommandTable[88], MF_BYCOMMAND) & MF_CHECKED);
    GetPrivateProfileStringA("选项", "重复敲击", "", raw, sizeof raw, (Root + "config.ini").c_str());
    EXPECT_STREQ(raw, "0");

    // A stored value other than 0 and 1 acts as off and is written back unchanged.
    WriteSetting(kOptionSection, kRepeatHitKey, "2");
    LoadRepeatHitOption();
    EXPECT_FALSE(GetMenuState(Program().SoundMenu.GetHandle(), CommandTable[88], MF_BYCOMMAND) & MF_CHECKED);
    Trace two;
    HookKey('A', WM_KEYDOWN);
    HookKey('A', WM_KEYDOWN);
    EXPECT_EQ(plays(two), 2u);
    Command(88);
    EXPECT_EQ(Setting(kOptionSection, kRepeatHitKey), "2");
    WriteSetting(kOptionSection, kRepeatHitKey, "0");
    LoadRepeatHitOption();
    HookKey('A', WM_KEYUP);
}

TEST_F(DrumPad, HomeAndEndWrapAroundTheKitList)
{
    Command(4);
    BringMainToFront();
    Press(VK_HOME);
    EXPECT_EQ(Kits().CurrentKitIndex, 4);
    EXPECT_EQ(Program().KitLabel.LabelText(), "当前选中鼓源 - 中文鼓");
    EXPECT_TRUE(Checked(102429));
    EXPECT_EQ((std::vector<std::string>{"a.WAV", "s.WAV", "Finish.wav"}), TableNames());
    Press(VK_END);
    EXPECT_EQ(Kits().CurrentKitIndex, 1);
    EXPECT_TRUE(Checked(102426));
    EXPECT_FALSE(Checked(102429));

    // Landing on the empty kit: no samples, no check mark, an empty name.
    Press(VK_END);
    EXPECT_EQ(Kits().CurrentKitIndex, 2);
    EXPECT_EQ(TableNames(), std::vector<std::string>{"Finish.wav"});
    EXPECT_FALSE(Checked(102426));
    EXPECT_FALSE(Checked(102427));
    EXPECT_EQ(Program().KitLabel.LabelText(), "当前选中鼓源 - ");
    EXPECT_EQ(Setting(kKitSection, kKitIndexKey), "2");
    // Home acts on release only.
    HookKey(VK_HOME, WM_KEYDOWN);
    PumpMessages();
    EXPECT_EQ(Kits().CurrentKitIndex, 2);
    HookKey(VK_HOME, WM_KEYUP);
    PumpMessages();
    EXPECT_EQ(Kits().CurrentKitIndex, 1);
}

// A kit load inside the hook call would hold up every key of the system,
// and Windows drops a hook whose calls keep timing out: Home and End only
// leave the change for the message loop.
TEST_F(DrumPad, HomeAndEndLoadTheKitAfterTheHookCallReturns)
{
    Command(4);
    BringMainToFront();
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    auto ms = [&](LARGE_INTEGER a, LARGE_INTEGER b) { return 1000.0 * (b.QuadPart - a.QuadPart) / frequency.QuadPart; };
    struct Step {
        DWORD vk;
        const char* name;
        int kit;
        int32_t id;
        size_t streams;
    } steps[] = {{VK_HOME, "Home", 4, 102429, 3}, {VK_END, "End", 1, 102426, 28}};
    for (auto& step : steps) {
        int before = Kits().CurrentKitIndex;
        HookKey(step.vk, WM_KEYDOWN);
        Trace trace;
        LARGE_INTEGER t0, t1, t2;
        QueryPerformanceCounter(&t0);
        LRESULT result = HookKey(step.vk, WM_KEYUP);
        QueryPerformanceCounter(&t1);
        EXPECT_EQ(result, (LRESULT)Program().MainWindow.GetHandle()) << step.name;
        EXPECT_TRUE(trace.Calls().empty()) << step.name << ": the library was called inside the hook\n" << trace.Dump();
        EXPECT_EQ(Kits().CurrentKitIndex, before) << step.name;

        PumpMessages();
        QueryPerformanceCounter(&t2);
        EXPECT_EQ(trace.Calls({"BASS_StreamCreateFile"}).size(), step.streams) << step.name << "\n" << trace.Dump();
        EXPECT_EQ(Kits().CurrentKitIndex, step.kit) << step.name;
        EXPECT_EQ(Kits().CurrentKitCommand, step.id) << step.name;
        EXPECT_TRUE(Checked(step.id)) << step.name;
        EXPECT_EQ(Setting(kKitSection, kKitIndexKey), std::to_string(step.kit)) << step.name;
        std::printf("%s: hook call returned after %.3f ms; the kit load (%zu streams) took %.3f ms after it\n",
                    step.name, ms(t0, t1), step.streams, ms(t1, t2));
    }
}

TEST_F(DrumPad, KitVolumeStepsEveryChannelAndClampsTheStoredValue)
{
    WriteSetting(kKitSection, kKitVolumeKey, "1");
    ReadKitVolume();
    Command(4);
    BringMainToFront();
    Trace down;
    HookKey(VK_NEXT, WM_KEYDOWN);
    PumpMessages();
    EXPECT_TRUE(down.Calls().empty()) << "Page Down acts on release";
    // Posted: the Config.ini write has no place inside the hook call.
    HookKey(VK_NEXT, WM_KEYUP);
    EXPECT_TRUE(down.Calls().empty()) << "nothing inside the hook call";
    PumpMessages();
    auto sets = down.Calls({"BASS_ChannelSetAttribute"});
    ASSERT_EQ(sets.size(), Kits().SampleTable.size());
    for (size_t i = 0; i < sets.size(); i++) {
        EXPECT_EQ(sets[i].args[0], std::to_string(Kits().SampleTable[i].channel));
        EXPECT_EQ(sets[i].args[2], "0.95") << "each channel, the confirmation too, from 1";
    }
    EXPECT_EQ(Setting(kKitSection, kKitVolumeKey), "0.95");
    EXPECT_FLOAT_EQ(Kits().KitVolume, 0.95f);

    // The next load gives the kit the new volume and the confirmation full volume.
    Trace load;
    Command(7);
    for (auto& c : load.Calls({"BASS_ChannelSetAttribute"}))
        EXPECT_EQ(c.args[2], "0.95");
    EXPECT_EQ(load.Calls({"BASS_ChannelSetAttribute"}).size(), 2u);

    Command(99); // menu: louder
    EXPECT_EQ(Setting(kKitSection, kKitVolumeKey), "1");
    Command(99);
    EXPECT_EQ(Setting(kKitSection, kKitVolumeKey), "1") << "1.05 is clamped";
    EXPECT_FLOAT_EQ(Kits().KitVolume, 1.0f);

    WriteSetting(kKitSection, kKitVolumeKey, "1");
    ReadKitVolume();
    Command(4);
    for (int i = 0; i < 20; i++)
        Command(98);
    EXPECT_NEAR(std::stod(Setting(kKitSection, kKitVolumeKey)), 0.0, 1e-5);
    Command(98);
    EXPECT_EQ(Setting(kKitSection, kKitVolumeKey), "0") << "-0.05 is clamped";
    EXPECT_EQ(Kits().KitVolume, 0.0f);

    // A direction other than 0 and 1 moves no channel but stores and clamps.
    WriteSetting(kKitSection, kKitVolumeKey, "5");
    ReadKitVolume();
    SelectKitByIndex(2); // the empty kit: no sample but the confirmation
    ChangeKitVolume((VolumeDirection)2);
    EXPECT_EQ(Setting(kKitSection, kKitVolumeKey), "1");
    WriteSetting(kKitSection, kKitVolumeKey, "-1");
    ReadKitVolume();
    ChangeKitVolume((VolumeDirection)2);
    EXPECT_EQ(Setting(kKitSection, kKitVolumeKey), "0");
    WriteSetting(kKitSection, kKitVolumeKey, "1");
    ReadKitVolume();
    Command(4);
}

// A kit change asked for while a load is dispatching messages runs after
// it, so the table ends up holding the kit with the check mark.
TEST_F(DrumPad, KitChangesDuringALoadAreDeferredToTheLatest)
{
    Command(4);
    HWND main = Program().MainWindow.GetHandle();
    PostMessageA(main, WM_COMMAND, CommandTable[6], 0); // zeta
    PostMessageA(main, WM_COMMAND, CommandTable[7], 0); // 中文鼓: the latest wins
    Trace trace;
    LoadKit(CommandTable[4], 1);

    EXPECT_EQ((std::vector<std::string>{"a.WAV", "s.WAV", "Finish.wav"}), TableNames());
    EXPECT_EQ(Kits().CurrentKitIndex, 4);
    EXPECT_EQ(Kits().CurrentKitCommand, 102429);
    for (int32_t id : {102426, 102427, 102428})
        EXPECT_FALSE(Checked(id)) << id;
    EXPECT_TRUE(Checked(102429));
    EXPECT_EQ(Setting(kKitSection, kKitIndexKey), "4");
    EXPECT_EQ(Program().KitLabel.LabelText(), "当前选中鼓源 - 中文鼓");

    // Every stream made on the way was freed: only the table's remain.
    std::set<std::string> live;
    for (auto& c : trace.Calls({"BASS_StreamCreateFile", "BASS_SampleFree"})) {
        if (c.name == "BASS_StreamCreateFile")
            live.insert(c.result);
        else
            live.erase(c.args[0]);
    }
    std::set<std::string> table;
    for (auto& s : Kits().SampleTable)
        table.insert(std::to_string(s.channel));
    EXPECT_EQ(live, table) << trace.Dump();
}

TEST_F(DrumPad, CardSwitchReopensTheEngineAndReloadsTheKit)
{
    Command(4);
    int cards = GetMenuItemCount(Program().CardMenu.GetHandle());
    ASSERT_GE(cards, 1);
    int card = cards >= 2 ? 2 : 1;
    Trace trace;
    // Also posted into the load's message pump: the reload follows the switch.
    PostMessageA(Program().MainWindow.GetHandle(), WM_COMMAND, CommandTable[card + 33], 0);
    LoadKit(CommandTable[6], 3);

    auto calls = trace.Calls({"BASS_Free", "BASS_Init", "BASS_StreamCreateFile", "BASS_ChannelPlay"});
    size_t freeAt = calls.size();
    for (size_t i = 0; i < calls.size(); i++)
        if (calls[i].name == "BASS_Free")
            freeAt = i;
    ASSERT_LT(freeAt + 1, calls.size()) << trace.Dump();
    EXPECT_EQ(calls[freeAt + 1].name, "BASS_Init");
    EXPECT_EQ(calls[freeAt + 1].args[0], std::to_string(card));
    EXPECT_EQ(calls[freeAt + 1].result, "1") << trace.Dump();
    // After the reopen the kit is loaded again and confirmed on the new device.
    // The interrupted load finishes on the new device, then the switch's
    // own reload runs; the music's streams in between are not ours.
    std::vector<std::string> after;
    for (size_t i = freeAt + 2; i < calls.size(); i++) {
        if (calls[i].name == "BASS_ChannelPlay")
            after.push_back("play=" + calls[i].result);
        else if (calls[i].args[1].find("\\SND\\") != std::string::npos)
            after.push_back(FileOf(calls[i].args[1]) + (calls[i].result == "0" ? "=0" : ""));
    }
    std::vector<std::string> one = {"a.wav=0", "h.WAV", "j.WAV", "k.WAV", "l.WAV", "m.WAV", "Finish.wav", "play=1"};
    std::vector<std::string> want = one;
    want.insert(want.end(), one.begin(), one.end());
    EXPECT_EQ(after, want) << trace.Dump();
    // The reload is of the kit asked for, with its own item, name and index.
    EXPECT_EQ(Kits().CurrentKitIndex, 3);
    EXPECT_EQ(Kits().CurrentKitCommand, CommandTable[6]);
    EXPECT_TRUE(Checked(CommandTable[6]));
    EXPECT_FALSE(Checked(CommandTable[4]));
    EXPECT_EQ(Program().KitLabel.LabelText(), "当前选中鼓源 - zeta\r\n无法解码 a.wav");
    EXPECT_EQ(Setting(kKitSection, kKitIndexKey), "3");
    EXPECT_EQ(Program().CurrentCardIndex, card);
    EXPECT_EQ(Program().MarkedCardCommand, CommandTable[card + 33]);
    EXPECT_TRUE(GetMenuState(Program().CardMenu.GetHandle(), CommandTable[card + 33], MF_BYCOMMAND) & MF_CHECKED);

    // The same card again still reopens and reloads; the mark stays single.
    Trace again;
    Command(card + 33);
    EXPECT_EQ(again.Calls({"BASS_Free"}).size(), 1u);
    EXPECT_EQ(again.Calls({"BASS_ChannelPlay"}).size(), 1u);
    int marked = 0;
    for (int n = 1; n <= cards; n++)
        marked +=
            (GetMenuState(Program().CardMenu.GetHandle(), CommandTable[n + 33], MF_BYCOMMAND) & MF_CHECKED) ? 1 : 0;
    EXPECT_EQ(marked, 1);
    BringMainToFront();
    Trace hit;
    HookKey('H', WM_KEYDOWN);
    auto play = hit.Calls({"BASS_ChannelPlay"});
    ASSERT_EQ(play.size(), 1u);
    EXPECT_EQ(play[0].result, "1") << "handles of the reloaded kit are valid on the new device";
}

// The exclusive output item reopens the engine on the card it plays on,
// as a card switch does, with the wish asked for before the open; where the
// sound server refuses exclusive mode (Wine's) one box says so and shared
// output plays the kit.
TEST_F(DrumPad, ExclusiveItemReopensOnTheCardInUseWithTheWishAndReloadsTheKit)
{
    const int32_t id = CommandOf(kExclusiveEntry);
    ASSERT_TRUE(CanAskExclusive());
    Command(4);
    ASSERT_EQ(ReadSetting(kOptionSection, kExclusiveOutputKey, "<none>"), "<none>") << "off until chosen";
    UINT state = GetMenuState(Program().SoundMenu.GetHandle(), id, MF_BYCOMMAND);
    EXPECT_FALSE(state & (MF_CHECKED | MF_GRAYED));

    for (bool on : {true, false}) {
        UiDriver boxes(IDOK);
        Trace trace;
        int card = EngineCard();
        SendMessageA(Program().MainWindow.GetHandle(), WM_COMMAND, id, 0);
        EXPECT_EQ(Setting(kOptionSection, kExclusiveOutputKey), on ? "1" : "0");
        auto calls = trace.Calls({"BASS_SetExclusive", "BASS_Free", "BASS_Init", "BASS_ChannelPlay"});
        ASSERT_EQ(calls.size(), 4u) << trace.Dump();
        EXPECT_EQ(calls[0].name, "BASS_Free");
        EXPECT_EQ(calls[1].name, "BASS_SetExclusive");
        EXPECT_EQ(calls[1].args[0], on ? "1" : "0");
        EXPECT_EQ(calls[2].name, "BASS_Init");
        EXPECT_EQ(calls[2].args[0], std::to_string(card)) << "the card in use";
        EXPECT_EQ(calls[2].result, "1");
        EXPECT_EQ(calls[3].name, "BASS_ChannelPlay") << "the kit's confirmation";
        EXPECT_EQ(calls[3].result, "1");
        EXPECT_EQ(Program().KitLabel.LabelText(), "当前选中鼓源 - Alpha");
        EXPECT_EQ(EngineCard(), card);

        BASS_OUTPUTMODE mode = {};
        ASSERT_TRUE(BASS_GetOutputMode(&mode));
        EXPECT_EQ((bool)mode.asked, on);
        state = GetMenuState(Program().SoundMenu.GetHandle(), id, MF_BYCOMMAND);
        EXPECT_EQ((bool)(state & MF_CHECKED), on) << "the mark follows the wish";
        bool unmet = on && mode.mode != BASS_OUTPUT_EXCLUSIVE;
        EXPECT_EQ(Program().SoundMenu.GetItemText(id), unmet ? kExclusiveUnmetCaption : kExclusiveCaption);
        auto seen = boxes.Seen();
        ASSERT_EQ(seen.size(), unmet ? 1u : 0u);
        if (unmet) {
            EXPECT_EQ(seen[0].caption, "友情提醒:");
            EXPECT_EQ(seen[0].text, ExclusiveFallbackText(mode));
        }
    }
    BringMainToFront();
    Trace hit;
    HookKey('H', WM_KEYDOWN);
    HookKey('H', WM_KEYUP);
    auto play = hit.Calls({"BASS_ChannelPlay"});
    ASSERT_EQ(play.size(), 1u);
    EXPECT_EQ(play[0].result, "1") << "the reloaded kit plays";
}

TEST_F(DrumPad, KitIdsFollowWithdrawalsAndStrayIdsDoNothing)
{
    Command(4);
    Trace trace;
    Command(33);                                                                // kit 30: no such kit
    SendMessageA(Program().MainWindow.GetHandle(), WM_COMMAND, 102422 + 64, 0); // entry 64: routed nowhere
    EXPECT_TRUE(trace.Calls().empty()) << trace.Dump();
    EXPECT_EQ(Kits().CurrentKitIndex, 1);
    EXPECT_EQ(KitNumberOfCommand(102428), 3);
    EXPECT_EQ(KitCommandOfNumber(4), 102429);
}

// Cards past the list have an id in the card range but no item: their
// command must not close the engine.
TEST_F(DrumPad, CardCommandsOutsideTheCardListDoNothing)
{
    Command(4);
    int cards = (int)Program().SoundCards.size();
    ASSERT_LT(cards, 30) << "the test needs an unused card id";
    int32_t marked = Program().MarkedCardCommand;
    int currentCard = Program().CurrentCardIndex;
    Trace trace;
    Command(33 + cards + 1);
    Command(63);
    SwitchSoundCard(CommandTable[34], 0);
    SwitchSoundCard(CommandTable[34], -1);
    SwitchSoundCard(CommandTable[34 + cards], cards + 1);
    EXPECT_TRUE(trace.Calls().empty()) << trace.Dump();
    EXPECT_EQ(Program().MarkedCardCommand, marked);
    EXPECT_EQ(Program().CurrentCardIndex, currentCard);
    EXPECT_EQ(TableNames().size(), 28u);
}

// The removal arrives while kit 1 loads and 中文鼓 waits to load next: it
// takes the kit asked for last with that kit's own item, not the item
// still checked.
TEST_F(DrumPad, RemovalDuringALoadRemovesTheKitAskedForWithItsOwnItem)
{
    Command(6); // zeta carries the check mark
    std::string snd = Root + "SND\\";
    UiDriver boxes(IDNO);
    PostMessageA(Program().MainWindow.GetHandle(), WM_COMMAND, CommandTable[7], 0);
    PostMessageA(Program().MainWindow.GetHandle(), WM_COMMAND, CommandTable[3], 0);
    Trace trace;
    LoadKit(CommandTable[4], 1);
    auto seen = boxes.Seen();
    std::string captions;
    for (auto& box : seen)
        captions += box.caption + "|" + box.text + "\n";
    ASSERT_EQ(seen.size(), 1u) << captions;
    EXPECT_EQ(seen[0].caption, "询问？");

    EXPECT_EQ(Kits().KitList, (std::vector<std::string>{snd + "Alpha", snd + "Empty", snd + "zeta"}));
    EXPECT_EQ(GetFileAttributesA((snd + kChineseKit).c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetFileAttributesA((snd + kChineseKit + "_已排除").c_str()), INVALID_FILE_ATTRIBUTES);
    std::vector<std::string> items;
    for (int i = 0; i < GetMenuItemCount(Program().KitMenu.GetHandle()); i++)
        items.push_back(Program().KitMenu.GetItemText(i, true));
    EXPECT_EQ(items, (std::vector<std::string>{"删除当前选中鼓源(&D)", "Alpha(&1)", "zeta(&3)", "退出(&E)"}));
    EXPECT_EQ(KitNumberOfCommand(102428), 3);
    EXPECT_EQ(KitNumberOfCommand(102429), 0) << "the removed kit's id is withdrawn";

    // Kit 1 follows, whole: table, item, label, index.
    EXPECT_EQ(Kits().CurrentKitIndex, 1);
    EXPECT_EQ(Kits().CurrentKitCommand, 102426);
    EXPECT_TRUE(Checked(102426));
    EXPECT_FALSE(Checked(102428));
    EXPECT_EQ(Program().KitLabel.LabelText(), "当前选中鼓源 - Alpha");
    EXPECT_EQ(Setting(kKitSection, kKitIndexKey), "1");
    ASSERT_EQ(TableNames().size(), 28u);
    EXPECT_EQ(TableNames().front(), "1.wav");
    EXPECT_EQ(trace.Calls({"BASS_Free"}).size(), 1u) << trace.Dump();
    // The folder gets its name back for the next run in this directory.
    MoveFileA((snd + kChineseKit + "_已排除").c_str(), (snd + kChineseKit).c_str());
}

// ---- start-up paths that end the process run in a child copy of this test ----

std::string RunStartupChild(const std::string& progDir, DWORD* exitCode)
{
    std::string log = progDir + "child.log";
    DeleteFileA(log.c_str());
    // No backslash before the closing quote, where it would escape it.
    std::string dir = progDir.substr(0, progDir.size() - 1);
    ChildProcess child;
    if (!child.Start(ThisProgram(), "--discover-child \"" + dir + "\""))
        return "<no child>";
    *exitCode = child.Wait(60000);
    return ReadFileBytes(log);
}

std::string FreshDir(const std::string& name)
{
    std::string dir = Root + name + "\\";
    MakeDir(dir);
    return dir;
}

TEST(DrumPadStart, EmptySndEndsWithItsMessage)
{
    std::string dir = FreshDir("empty_snd");
    MakeDir(dir + "SND");
    DWORD code = 99;
    std::string log = RunStartupChild(dir, &code);
    EXPECT_EQ(log, "BOX 出错啦！|程序检测到默认鼓源目录为空，即将停止运行，请填充默认鼓源目录！\n");
    EXPECT_EQ(code, 0u);
}

TEST(DrumPadStart, MissingSndEndsWithTheAllEmptyMessage)
{
    std::string dir = FreshDir("no_snd");
    DWORD code = 99;
    std::string log = RunStartupChild(dir, &code);
    EXPECT_EQ(log, "BOX 错误！|程序检测到默认鼓源路径下的所有鼓源都是空的，请填充他们然后重新运行此程序！\n");
    EXPECT_EQ(code, 0u);
}

TEST(DrumPadStart, OnlyEmptyAndExcludedKitsEndAfterOneMessagePerEmptyKit)
{
    std::string dir = FreshDir("all_empty");
    MakeDir(dir + "SND");
    WriteFileBytes(dir + "SND\\Finish.wav", ToneWav(1000, 10));
    MakeDir(dir + "SND\\a");
    MakeDir(dir + "SND\\b");
    MakeDir(dir + "SND\\full_已排除");
    WriteFileBytes(dir + "SND\\full_已排除\\a.WAV", ToneWav(1000, 10));
    DWORD code = 99;
    std::string log = RunStartupChild(dir, &code);
    std::string snd = dir + "SND\\";
    EXPECT_EQ(log, "BOX 错误！|程序检测到您位于" + snd +
                       "a的目录是空的，已经跳过检测这个鼓源\n"
                       "BOX 错误！|程序检测到您位于" +
                       snd +
                       "b的目录是空的，已经跳过检测这个鼓源\n"
                       "BOX 错误！|程序检测到默认鼓源路径下的所有鼓源都是空的，请填充他们然后重新运行此程序！\n");
    EXPECT_EQ(code, 0u);
}

TEST(DrumPadStart, KitsPastTheThirtiethGetNoItemAndNoIndex)
{
    std::string dir = FreshDir("many_kits");
    MakeDir(dir + "SND");
    for (int i = 1; i <= 33; i++) {
        char name[16];
        std::snprintf(name, sizeof name, "k%02d", i);
        MakeDir(dir + "SND\\" + name);
        WriteFileBytes(dir + "SND\\" + name + "\\a.WAV", ToneWav(1000, 10));
    }
    DWORD code = 99;
    std::string log = RunStartupChild(dir, &code);
    std::string want = "KITS 30\n";
    for (int i = 1; i <= 30; i++) {
        char line[64];
        std::snprintf(line, sizeof line, "ITEM k%02d(&%d) %d\n", i, i, 102425 + i);
        want += line;
    }
    EXPECT_EQ(log, want);
    EXPECT_EQ(code, 7u);
}

// The child: start-up's kit steps with every box logged, then answered.
int DiscoverChild(const std::string& progDir)
{
    static std::string log = progDir + "child.log";
    auto append = [](const std::string& line) {
        HANDLE f = CreateFileA(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS, 0, NULL);
        DWORD n = 0;
        WriteFile(f, line.data(), (DWORD)line.size(), &n, NULL);
        CloseHandle(f);
    };
    MakeProgramDir(progDir, false);
    BuildMainWindow(nullptr, false);
    UiDriver boxes(IDOK);
    boxes.LogTo(log, "BOX ", false);
    CheckKitFolder();
    DiscoverKits();
    append("KITS " + std::to_string(Kits().KitList.size()) + "\n");
    for (int i = 1; i < GetMenuItemCount(Program().KitMenu.GetHandle()); i++)
        append("ITEM " + Program().KitMenu.GetItemText(i, true) + " " +
               std::to_string(GetMenuItemID(Program().KitMenu.GetHandle(), i)) + "\n");
    return 7;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "--discover-child")
        return DiscoverChild(std::string(argv[2]) + "\\");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
