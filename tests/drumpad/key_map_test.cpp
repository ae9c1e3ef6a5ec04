// A kit's own key map, takes, choke groups and the play options in-process
// against the real audio library: the trace shows which channel each key
// asked for. The library's later calls (voices, gains, fades) are
// exercised against a stand-in in later_calls_test.cpp.
#include "app/commands.h"
#include "core/bass_api.h"
#include "core/command_table.h"
#include "core/program.h"
#include "core/settings.h"
#include "drumpad/hits.h"
#include "drumpad/key_map_edit.h"
#include "drumpad/kits.h"
#include "tests/support/audio_trace.h"
#include "tests/support/files.h"
#include "tests/support/program_skeleton.h"
#include "tests/support/tone_wav.h"
#include "tests/support/ui_driver.h"

#include <gtest/gtest.h>

#include <set>

namespace {

std::string Root;

// Listed order: Takes, Third Party, UTF8.
void LayOutKits(const std::string& snd)
{
    CreateDirectoryA(snd.c_str(), NULL);
    WriteFileBytes(snd + "Finish.wav", ToneWav(1000, 30));
    std::string takes = snd + "Takes\\";
    CreateDirectoryA(takes.c_str(), NULL);
    WriteFileBytes(takes + "a.WAV", ToneWav(200, 30));
    WriteFileBytes(takes + "a-2.WAV", ToneWav(210, 30));
    WriteFileBytes(takes + "A-3.wav", ToneWav(220, 30));
    WriteFileBytes(takes + "h.wav", ToneWav(300, 30));
    WriteFileBytes(takes + "Ride.wav", ToneWav(400, 30));

    std::string third = snd + "Third Party\\";
    CreateDirectoryA(third.c_str(), NULL);
    for (const char* name : {"Kick-Hard.wav", "Snare 1.wav", "Hat Closed.WAV", "hat open.wav", "a.WAV", "Ride.wav"})
        WriteFileBytes(third + name, ToneWav(500, 30));
    WriteFileBytes(third + "键位.ini", "[键位]\r\n"
                                       "K=Kick-Hard.wav,36\r\n"
                                       "S=Snare 1.wav\r\n"
                                       "D=snare 1.WAV\r\n"
                                       "H=Hat Closed.WAV\r\n"
                                       "O=hat open.wav\r\n"
                                       "M=missing.wav\r\n"
                                       "B=..\\Takes\\h.wav\r\n"
                                       "[闷音组]\r\n"
                                       "踩镲=HO\r\n");

    // Saved by an editor as UTF-8 with a byte-order mark.
    std::string utf8 = snd + "UTF8\\";
    CreateDirectoryA(utf8.c_str(), NULL);
    WriteFileBytes(utf8 + "鼓.wav", ToneWav(600, 30));
    WriteFileBytes(utf8 + "键位.ini", "\xEF\xBB\xBF[\xE9\x94\xAE\xE4\xBD\x8D]\r\nG=\xE9\xBC\x93.wav\r\n");
}

const int kTakesKit = 1, kThirdPartyKit = 2, kUtf8Kit = 3;

void Command(int32_t id)
{
    SendMessageA(Program().MainWindow.GetHandle(), WM_COMMAND, (WPARAM)id, 0);
}

void LoadKitNumber(int n)
{
    Command(KitCommandOfNumber(n));
}

DWORD ChannelOf(const std::string& fileName)
{
    for (auto& s : Kits().SampleTable)
        if (s.fileName == fileName)
            return s.channel;
    return (DWORD)-1;
}

// The channels of the play calls since `trace` began.
std::vector<std::string> Played(const Trace& trace)
{
    std::vector<std::string> channels;
    for (auto& c : trace.Calls({"BASS_ChannelPlay"}))
        channels.push_back(c.args[0]);
    return channels;
}

std::vector<std::string> Paused(const Trace& trace)
{
    std::vector<std::string> channels;
    // A fade where the library has one, else a pause.
    for (auto& c : trace.Calls({"BASS_ChannelPause", "BASS_ChannelFadeOut"}))
        channels.push_back(c.args[0]);
    return channels;
}

std::string Hit(DWORD vk)
{
    Trace trace;
    HookKey(vk, WM_KEYDOWN);
    HookKey(vk, WM_KEYUP);
    auto played = Played(trace);
    return played.size() == 1 ? played[0] : "<" + std::to_string(played.size()) + " plays>";
}

std::string Ch(const std::string& fileName)
{
    return std::to_string(ChannelOf(fileName));
}

class KeyMapKit : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        Root = MakeProgramDir(TempFolder("yxyt_keymap_" + std::to_string(GetCurrentProcessId())), true);
        LayOutKits(Root + "SND\\");
        WriteFileBytes(Root + "Config.ini", "");
        BuildMainWindow("欢迎", true);
        DiscoverKits();
        Program().KitMenu.AppendItem("退出(&E)", CommandOf(kExitEntry));
        Program().KitMenu.AppendItem("编辑键位(&M)", CommandOf(kEditKeyMapEntry));
        LoadPlayOptions();
        LoadInitialKit();
    }
    static void TearDownTestSuite() { BASS_Free(); }
    void SetUp() override
    {
        SetForegroundWindow(Program().MainWindow.GetHandle());
        PumpMessages();
    }
};

TEST_F(KeyMapKit, MappedKeysPlayTheirFilesAndTheLabelNamesWhatIsWrong)
{
    UiDriver boxes(IDOK);
    LoadKitNumber(kThirdPartyKit);
    EXPECT_EQ(Program().KitLabel.LabelText(), "当前选中鼓源 - Third Party\r\n"
                                    "键位.ini：不接受 ..\\Takes\\h.wav\r\n"
                                    "键位.ini：找不到 missing.wav");
    EXPECT_EQ(Hit('K'), Ch("Kick-Hard.wav"));
    EXPECT_EQ(Hit('S'), Ch("Snare 1.wav"));
    EXPECT_EQ(Hit('D'), Ch("Snare 1.wav")); // two letters, one file
    EXPECT_EQ(Hit('O'), Ch("hat open.wav"));
    EXPECT_EQ(Hit('A'), Ch("a.WAV")); // not mapped: the a-z rule
    EXPECT_EQ(Hit('M'), "<0 plays>"); // its file is missing: silent
    // A refused name leaves its letter to the a-z rule: no b.wav, silence.
    EXPECT_EQ(Hit('B'), "0");
    PumpMessages();
    EXPECT_TRUE(boxes.Seen().empty()) << "problems go to the label, never to a box";
}

TEST_F(KeyMapKit, AKeyMapSavedAsUtf8WithAByteOrderMarkIsReadAsGbk)
{
    LoadKitNumber(kUtf8Kit);
    EXPECT_EQ(Program().KitLabel.LabelText(), "当前选中鼓源 - UTF8");
    EXPECT_EQ(Hit('G'), Ch("鼓.wav"));
}

TEST_F(KeyMapKit, TheKitsChokeGroupsReplaceTheHiHatRule)
{
    LoadKitNumber(kThirdPartyKit);
    // H and O form the kit's one group: H silences O's file, nothing else
    // ("Kick-Hard.wav" holds h and k and was caught by the hi-hat rule).
    Trace h;
    HookKey('H', WM_KEYDOWN);
    HookKey('H', WM_KEYUP);
    EXPECT_EQ(Paused(h), std::vector<std::string>{Ch("hat open.wav")}) << h.Dump();
    EXPECT_EQ(Played(h), std::vector<std::string>{Ch("Hat Closed.WAV")});
    Trace k;
    HookKey('K', WM_KEYDOWN);
    HookKey('L', WM_KEYDOWN);
    EXPECT_TRUE(Paused(k).empty()) << k.Dump();

    // A kit without a key map keeps the hi-hat rule.
    LoadKitNumber(kTakesKit);
    Trace old;
    HookKey('L', WM_KEYDOWN);
    std::set<std::string> paused;
    for (auto& c : Paused(old))
        paused.insert(c);
    EXPECT_EQ(paused, (std::set<std::string>{Ch("h.wav"), Ch("Finish.wav")})) << old.Dump();
}

TEST_F(KeyMapKit, HoldOnceIgnoresTheAutoRepeatOfTheHeldKeyOnly)
{
    LoadKitNumber(kTakesKit);
    const int32_t id = CommandOf(kHoldOnceEntry);
    auto plays = [](const Trace& t) { return t.Calls({"BASS_ChannelPlay"}).size(); };
    Trace off;
    HookKey('H', WM_KEYDOWN);
    HookKey('H', WM_KEYDOWN);
    HookKey('H', WM_KEYUP);
    EXPECT_EQ(plays(off), 2u);

    Command(id);
    EXPECT_TRUE(HoldOnceOption());
    EXPECT_TRUE(GetMenuState(Program().SoundMenu.GetHandle(), id, MF_BYCOMMAND) & MF_CHECKED);
    EXPECT_EQ(ReadSetting(kOptionSection, kHoldOnceKey, ""), "1");
    Trace on;
    HookKey('H', WM_KEYDOWN);
    HookKey('H', WM_KEYDOWN); // auto-repeat
    HookKey('H', WM_KEYDOWN);
    HookKey('A', WM_KEYDOWN); // another key during the hold
    HookKey('A', WM_KEYUP);
    HookKey('H', WM_KEYUP);
    HookKey('H', WM_KEYDOWN); // pressed again after its release
    HookKey('H', WM_KEYUP);
    EXPECT_EQ(plays(on), 3u) << on.Dump();
    // A key released while another window is in front is not left held.
    HookKey('H', WM_KEYDOWN);
    HWND other = CreateWindowExA(0, "STATIC", "other", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, NULL, NULL, NULL, NULL);
    SetForegroundWindow(other);
    PumpMessages();
    ASSERT_EQ(GetForegroundWindow(), other);
    HookKey('H', WM_KEYUP);
    DestroyWindow(other);
    SetUp();
    Trace back;
    HookKey('H', WM_KEYDOWN);
    HookKey('H', WM_KEYUP);
    EXPECT_EQ(plays(back), 1u) << back.Dump();

    Command(id);
    EXPECT_FALSE(HoldOnceOption());
    EXPECT_FALSE(GetMenuState(Program().SoundMenu.GetHandle(), id, MF_BYCOMMAND) & MF_CHECKED);
    EXPECT_EQ(ReadSetting(kOptionSection, kHoldOnceKey, ""), "0");
}

TEST_F(KeyMapKit, OptionsAreOnOnlyWhenStoredAsOne)
{
    struct Case {
        const char* stored;
        bool on;
    } cases[] = {{"1", true}, {"0", false}, {"2", false}, {"on", false}, {"", false}};
    for (auto& c : cases) {
        WriteSetting(kOptionSection, kRingOverKey, c.stored);
        WriteSetting(kOptionSection, kHoldOnceKey, c.stored);
        LoadPlayOptions();
        EXPECT_EQ(RingOverOption(), c.on) << c.stored;
        EXPECT_EQ(HoldOnceOption(), c.on) << c.stored;
        UINT state = GetMenuState(Program().SoundMenu.GetHandle(), CommandOf(kRingOverEntry), MF_BYCOMMAND);
        EXPECT_EQ((state & MF_CHECKED) != 0, c.on) << c.stored;
    }
    // A library without voices: the option is kept, hits play with one voice.
    Command(CommandOf(kRingOverEntry));
    EXPECT_TRUE(RingOverOption());
    EXPECT_EQ(ReadSetting(kOptionSection, kRingOverKey, ""), "1");
    LoadKitNumber(kTakesKit);
    EXPECT_EQ(Hit('H'), Ch("h.wav"));
    Command(CommandOf(kRingOverEntry));
    EXPECT_EQ(ReadSetting(kOptionSection, kRingOverKey, ""), "0");
}

// The editor's windows that `EditKeyMap` opened, closed again.
void CloseEditors()
{
    for (int i = 0; i < 100; i++) {
        HWND editor = FindWindowA("Notepad", NULL);
        if (!editor)
            return;
        PostMessageA(editor, WM_CLOSE, 0, 0);
        Sleep(50);
    }
}

HWND WaitForEditor()
{
    for (int i = 0; i < 200; i++) {
        if (HWND editor = FindWindowA("Notepad", NULL))
            return editor;
        Sleep(50);
    }
    return NULL;
}

TEST_F(KeyMapKit, EditKeyMapWritesWhatPlaysAndReloadsAfterAChange)
{
    LoadKitNumber(kTakesKit);
    const std::string path = Root + "SND\\Takes\\键位.ini";
    DeleteFileA(path.c_str());
    std::vector<std::vector<uint32_t>> before;
    for (auto& l : PlayableKitNow()->letters)
        before.push_back(l.channels);

    Command(CommandOf(kEditKeyMapEntry));
    std::string text = ReadFileBytes(path);
    EXPECT_NE(text.find("[键位]\r\nA=a.WAV\r\n;B=\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("H=h.wav\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\n; Ride.wav\r\n"), std::string::npos) << text;
    EXPECT_TRUE(WaitForEditor()) << "Notepad from the system folder opens the file";
    CloseEditors();

    // Activated with the file unchanged: no reload.
    Trace same;
    SendMessageA(Program().MainWindow.GetHandle(), WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_TRUE(same.Calls({"BASS_StreamCreateFile"}).empty());

    // The file as written, read at the next load, maps what played before.
    LoadKitNumber(kTakesKit);
    std::vector<std::vector<uint32_t>> after;
    for (auto& l : PlayableKitNow()->letters)
        after.push_back(l.channels);
    ASSERT_EQ(after.size(), before.size());
    for (size_t l = 0; l < after.size(); l++)
        EXPECT_EQ(after[l].size(), before[l].size()) << (char)('A' + l);
    EXPECT_EQ(Hit('H'), Ch("h.wav"));

    // A second edit keeps the file; a change is picked up on activation.
    Command(CommandOf(kEditKeyMapEntry));
    EXPECT_EQ(ReadFileBytes(path), text);
    WaitForEditor();
    CloseEditors();
    WriteFileBytes(path, text + "S=Ride.wav\r\n");
    Trace changed;
    SendMessageA(Program().MainWindow.GetHandle(), WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_EQ(changed.Calls({"BASS_StreamCreateFile"}).size(), 6u) << changed.Dump();
    EXPECT_EQ(Hit('S'), Ch("Ride.wav"));
    DeleteFileA(path.c_str());
}

} // namespace
