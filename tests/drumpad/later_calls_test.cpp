// The drum pad's use of the library's later calls, against a stand-in that
// has them (later_calls_library.cpp): ring-over voices on each kit sample,
// a Shift hit at its own gain, the kit's choke groups fading, and a file
// the library cannot decode named in the label.
#include "app/commands.h"
#include "core/command_table.h"
#include "core/program.h"
#include "core/settings.h"
#include "drumpad/hits.h"
#include "drumpad/kits.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/program_skeleton.h"
#include "tests/support/tone_wav.h"

#include <gtest/gtest.h>

namespace {

std::string Root;

std::string TakeLog()
{
    using Fn = const char*(WINAPI*)();
    return ((Fn)(void*)GetProcAddress(GetModuleHandleA("bass.dll"), "ScriptTakeLog"))();
}

std::string Ch(const std::string& fileName)
{
    for (auto& s : Kits().SampleTable)
        if (s.fileName == fileName)
            return std::to_string(s.channel);
    return "?";
}

void Command(int32_t id)
{
    SendMessageA(Program().MainWindow.GetHandle(), WM_COMMAND, (WPARAM)id, 0);
}

class LaterCalls : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        Root = MakeProgramDir(TempFolder("yxyt_later_" + std::to_string(GetCurrentProcessId())), false);
        CopyFileA((ThisProgramFolder() + "later_calls_library.dll").c_str(), (Root + "bass.dll").c_str(), FALSE);
        std::string snd = Root + "SND\\";
        CreateDirectoryA(snd.c_str(), NULL);
        WriteFileBytes(snd + "Finish.wav", ToneWav(1000, 30));
        std::string kit = snd + "Kit\\";
        CreateDirectoryA(kit.c_str(), NULL);
        for (const char* name : {"a.wav", "c.wav", "v.wav", "x bad.wav"})
            WriteFileBytes(kit + name, ToneWav(300, 30));
        WriteFileBytes(kit + "键位.ini", "[键位]\r\nX=x bad.wav\r\n[闷音组]\r\n镲片=CV\r\n");
        std::string large = snd + "Kit2\\";
        CreateDirectoryA(large.c_str(), NULL);
        for (const char* name : {"a.wav", "b big.wav", "c big.wav"})
            WriteFileBytes(large + name, ToneWav(300, 30));
        WriteFileBytes(Root + "Config.ini", "[选项]\r\n余音叠加=1\r\n");
        BuildMainWindow("欢迎", true);
        DiscoverKits();
        LoadPlayOptions();
        TakeLog();
        LoadInitialKit();
        SetForegroundWindow(Program().MainWindow.GetHandle());
        PumpMessages();
    }
};

TEST_F(LaterCalls, RingOverGivesEveryKitSampleFourVoicesAndTakesThemBack)
{
    // Loaded at start-up with the option stored on: each kit sample, the
    // undecodable one too (handle 0), but not the confirmation sample.
    EXPECT_EQ(TakeLog(), "SetVoices(" + Ch("a.wav") + ", 4);SetVoices(" + Ch("c.wav") + ", 4);SetVoices(" + Ch("v.wav") +
                             ", 4);SetVoices(0, 4);");
    Command(CommandOf(kRingOverEntry));
    EXPECT_EQ(ReadSetting(kOptionSection, kRingOverKey, ""), "0");
    EXPECT_EQ(TakeLog(), "SetVoices(" + Ch("a.wav") + ", 1);SetVoices(" + Ch("c.wav") + ", 1);SetVoices(" + Ch("v.wav") +
                             ", 1);SetVoices(0, 1);");
    // Off, a load asks nothing of voices: a library without them is asked nothing new.
    Command(KitCommandOfNumber(1));
    EXPECT_EQ(TakeLog(), "Play(" + Ch("Finish.wav") + ");");
    Command(CommandOf(kRingOverEntry));
    TakeLog();
}

// Shift as a keyboard gives it: to the system, whose state the hook reads
// at a letter's press, and to the hook.
void ShiftKey(WPARAM message)
{
    keybd_event(VK_SHIFT, 0, message == WM_KEYUP ? KEYEVENTF_KEYUP : 0, 0);
    HookKey(VK_LSHIFT, message);
}

TEST_F(LaterCalls, ShiftPlaysASoftNoteAtMinusTenDecibels)
{
    HookKey('A', WM_KEYDOWN);
    HookKey('A', WM_KEYUP);
    ShiftKey(WM_KEYDOWN);
    HookKey('A', WM_KEYDOWN);
    HookKey('A', WM_KEYUP);
    ShiftKey(WM_KEYUP);
    HookKey('A', WM_KEYDOWN);
    HookKey('A', WM_KEYUP);
    std::string a = Ch("a.wav");
    EXPECT_EQ(TakeLog(), "Play(" + a + ");PlayGain(" + a + ", 0.316);Play(" + a + ");");
}

TEST_F(LaterCalls, TheKitsChokeGroupFadesTheOtherKeysAndTheLabelNamesTheUndecodableFile)
{
    EXPECT_EQ(Program().KitLabel.LabelText(), "当前选中鼓源 - Kit\r\n无法解码 x bad.wav");
    HookKey('C', WM_KEYDOWN);
    HookKey('V', WM_KEYDOWN);
    HookKey('H', WM_KEYDOWN); // in no group of this kit: silences nothing
    std::string c = Ch("c.wav"), v = Ch("v.wav");
    EXPECT_EQ(TakeLog(), "FadeOut(" + v + ", 5);Play(" + c + ");FadeOut(" + c + ", 5);Play(" + v + ");Play(0);");
}

// Files the kit's decode budget has no room left for are named in the
// label, after what the library could not decode, and the kit plays on.
TEST_F(LaterCalls, FilesPastTheKitsDecodeBudgetAreNamedInTheLabel)
{
    Command(KitCommandOfNumber(2));
    EXPECT_EQ(Program().KitLabel.LabelText(),
              "当前选中鼓源 - Kit2\r\n超出鼓源内存上限 b big.wav\r\n超出鼓源内存上限 c big.wav");
    TakeLog();
    HookKey('A', WM_KEYDOWN);
    HookKey('A', WM_KEYUP);
    EXPECT_EQ(TakeLog(), "Play(" + Ch("a.wav") + ");");
    Command(KitCommandOfNumber(1));
    TakeLog();
}

} // namespace
