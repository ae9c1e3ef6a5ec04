// The pads in-process, built by start-up's own steps: the menu item and
// its stored choice, a hooked key's light and its end, the pixels painted,
// clicks, the names following the kit, and the lights a hit puts out
// agreeing with what the hit silenced.
#include "app/commands.h"
#include "app/keyboard_hook.h"
#include "core/bass_api.h"
#include "core/command_table.h"
#include "core/program.h"
#include "core/settings.h"
#include "core/window_ids.h"
#include "drumpad/hits.h"
#include "drumpad/kits.h"
#include "pads/pad_rules.h"
#include "pads/pads.h"
#include "tests/support/audio_trace.h"
#include "tests/support/files.h"
#include "tests/support/program_skeleton.h"
#include "tests/support/tone_wav.h"
#include "tests/support/ui_driver.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace {

std::string Root;
constexpr uint32_t kAllPads = (1u << kPadCount) - 1;

uint32_t Bit(char letter)
{
    return 1u << (letter - 'A');
}

// The layout the window uses, worked out from the window as it stands.
PadLayout CurrentLayout()
{
    HWND main = Program().MainWindow.GetHandle();
    RECT client, label;
    GetClientRect(main, &client);
    GetWindowRect(Program().KitLabel.GetHandle(), &label);
    MapWindowPoints(NULL, main, (POINT*)&label, 2);
    HDC screen = GetDC(NULL);
    int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(NULL, screen);
    return LayOutPads(client.right, client.bottom, {label.left, label.top, label.right, label.bottom}, dpi);
}

POINT CentreOf(char letter)
{
    PadRect r = CurrentLayout().pads[letter - 'A'];
    return {(r.left + r.right) / 2, r.top + 3};
}

// The colour painted at a point of the window, after pending paints ran.
COLORREF PixelAt(int x, int y)
{
    HWND main = Program().MainWindow.GetHandle();
    UpdateWindow(main);
    HDC dc = GetDC(main);
    COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(main, dc);
    return c;
}

// The colour painted near the top of a pad.
COLORREF PadPixel(char letter)
{
    POINT at = CentreOf(letter);
    return PixelAt(at.x, at.y);
}

bool Orange(COLORREF c)
{
    return GetRValue(c) > 240 && GetBValue(c) < 200 && GetRValue(c) - GetBValue(c) > 40;
}

DWORD ChannelOf(const std::string& fileName)
{
    for (auto& s : Kits().SampleTable)
        if (s.fileName == fileName)
            return s.channel;
    return 0;
}

// The group's colour, of the pads' edges and the marks above them.
bool ChokeBlue(COLORREF c)
{
    return GetRValue(c) < 40 && GetBValue(c) > 150;
}

// The middle of a pad's left edge.
COLORREF EdgePixel(char letter)
{
    PadRect r = CurrentLayout().pads[letter - 'A'];
    return PixelAt(r.left, (r.top + r.bottom) / 2);
}

// The middle of the room between a pad and the pad `above` it, where a
// group's mark goes.
COLORREF PixelAbove(char letter, char above)
{
    PadLayout layout = CurrentLayout();
    PadRect r = layout.pads[letter - 'A'];
    return PixelAt((r.left + r.right) / 2, (layout.pads[above - 'A'].bottom + r.top) / 2);
}

// Runs the pads' light messages and nothing else: no timer runs, so no
// light fades meanwhile.
void DeliverLights()
{
    MSG msg;
    while (PeekMessageA(&msg, NULL, WM_PAD_HIT, WM_PAD_HIT, PM_REMOVE))
        DispatchMessageA(&msg);
}

void LoadKitNamed(int n)
{
    LoadKit(KitCommandOfNumber(n), n);
    // The pads relabel when the load's message arrives.
    PumpMessages();
}

class Pads : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        Root = MakeProgramDir(TempFolder("yxyt_pads_" + std::to_string(GetCurrentProcessId())), true);
        std::string snd = Root + "SND\\";
        CreateDirectoryA(snd.c_str(), NULL);
        WriteFileBytes(snd + "Finish.wav", ToneWav(1000, 30));
        // K1 has every letter; K2 only a to m; K3 no sample at all; K4
        // cymbals and hats with one group of its own, C and V.
        for (const char* kit : {"K1", "K2", "K3", "K4"})
            CreateDirectoryA((snd + kit).c_str(), NULL);
        for (const char* name : {"c.WAV", "v.WAV", "h.WAV", "j.WAV", "k.WAV", "l.WAV"})
            WriteFileBytes(snd + "K4\\" + name, ToneWav(700, 30));
        WriteFileBytes(snd + "K4\\键位.ini", "[闷音组]\r\n镲片=CV\r\n");
        for (char c = 'a'; c <= 'z'; c++) {
            WriteFileBytes(snd + "K1\\" + c + ".WAV", ToneWav(200 + 10 * (c - 'a'), 30));
            if (c <= 'm')
                WriteFileBytes(snd + "K2\\" + c + ".WAV", ToneWav(300 + 10 * (c - 'a'), 30));
        }
        WriteFileBytes(snd + "K3\\readme.txt", "no samples");
        WriteFileBytes(Root + "Config.ini", "");
        BuildMainWindow("", true, false);
        CheckKitFolder();
        DiscoverKits();
        AppendClosingItems();
        ReadKitVolume();
        QueueKeysUntilDispatch(Program().MainWindow.GetHandle());
        StartPads();
        LoadInitialKit();
        ConnectDispatcher(Program().MainWindow.GetHandle());
        PumpMessages();
    }
    static void TearDownTestSuite() { BASS_Free(); }

    void SetUp() override
    {
        LoadKitNamed(1);
        if (!PadsShown())
            SendMessageA(Program().MainWindow.GetHandle(), WM_COMMAND, CommandOf(kShowPadsEntry), 0);
        SetForegroundWindow(Program().MainWindow.GetHandle());
        ASSERT_TRUE(PumpUntil([] { return GetForegroundWindow() == Program().MainWindow.GetHandle(); }, 5000));
        ASSERT_TRUE(PumpUntil([] { return LitPads() == 0; }, 2000));
    }
};

TEST_F(Pads, ItemFollowsExitInTheKitMenuIsCheckedAndTheChoiceIsStored)
{
    HMENU kits = Program().KitMenu.GetHandle();
    const UINT id = (UINT)CommandOf(kShowPadsEntry);
    int n = GetMenuItemCount(kits) - 1; // 编辑键位 comes last
    char text[64] = {};
    GetMenuStringA(kits, n - 1, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "显示键盘(&K)");
    EXPECT_EQ(GetMenuItemID(kits, n - 1), id);
    EXPECT_EQ(CommandIndex((int32_t)id), kCommandCount + 1) << "outside the command table";
    EXPECT_TRUE(GetMenuState(kits, id, MF_BYCOMMAND) & MF_CHECKED) << "shown by default";

    // A menu command that arrives with only its low word still finds the item.
    SendMessageA(Program().MainWindow.GetHandle(), WM_COMMAND, LOWORD(id), 0);
    EXPECT_FALSE(PadsShown());
    EXPECT_FALSE(GetMenuState(kits, id, MF_BYCOMMAND) & MF_CHECKED);
    EXPECT_EQ(ReadSetting(kOptionSection, kShowPadsKey, "?"), "0");
    StartPads();
    EXPECT_FALSE(PadsShown()) << "the stored 0 is read at start";

    SendMessageA(Program().MainWindow.GetHandle(), WM_COMMAND, id, 0);
    EXPECT_TRUE(PadsShown());
    EXPECT_EQ(ReadSetting(kOptionSection, kShowPadsKey, "?"), "1");
    EXPECT_TRUE(GetMenuState(kits, id, MF_BYCOMMAND) & MF_CHECKED);
}

TEST_F(Pads, AKeyLightsItsPadAfterItsPlayCallAndTheLightEndsWithTheTimer)
{
    HWND main = Program().MainWindow.GetHandle();
    const COLORREF unlit = PadPixel('A');
    EXPECT_FALSE(Orange(unlit));
    Trace trace;
    HookKey('A', WM_KEYDOWN);
    HookKey('A', WM_KEYUP);
    // The hook has played before the window lights anything.
    EXPECT_EQ(trace.Calls({"BASS_ChannelPlay"}).size(), 1u) << trace.Dump();
    EXPECT_EQ(LitPads(), 0u);
    ASSERT_TRUE(PumpUntil([] { return LitPads() == Bit('A'); }, 2000));
    EXPECT_TRUE(Orange(PadPixel('A'))) << std::hex << PadPixel('A');
    EXPECT_EQ(PadPixel('S'), unlit) << "only the pressed pad";

    ASSERT_TRUE(PumpUntil([] { return LitPads() == 0; }, 2000));
    EXPECT_EQ(PadPixel('A'), unlit);
    EXPECT_FALSE(KillTimer(main, kPadsTimerId)) << "nothing ticks while no pad is lit";
}

TEST_F(Pads, AChokeKeyPutsOutTheLitPadsOfItsGroupOnly)
{
    HookKey('H', WM_KEYDOWN);
    HookKey('H', WM_KEYUP);
    ASSERT_TRUE(PumpUntil([] { return LitPads() == Bit('H'); }, 2000));
    HookKey('A', WM_KEYDOWN);
    HookKey('A', WM_KEYUP);
    HookKey('J', WM_KEYDOWN);
    HookKey('J', WM_KEYUP);
    ASSERT_TRUE(PumpUntil([] { return (LitPads() & Bit('J')) != 0; }, 2000));
    EXPECT_FALSE(LitPads() & Bit('H')) << "J chokes H";
    EXPECT_TRUE(LitPads() & Bit('A')) << "A is no hi-hat";
    ASSERT_TRUE(PumpUntil([] { return LitPads() == 0; }, 2000));
}

TEST_F(Pads, AClickPlaysAsTheKeyDoesADimmedPadAndTheLabelDoNothing)
{
    HWND main = Program().MainWindow.GetHandle();
    POINT a = CentreOf('A');
    size_t mark = Trace::Mark();
    SendMessageA(main, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(a.x, a.y));
    SendMessageA(main, WM_LBUTTONUP, 0, MAKELPARAM(a.x, a.y));
    auto plays = Trace::Matching(mark, "BASS_ChannelPlay(");
    ASSERT_EQ(plays.size(), 1u);
    EXPECT_EQ(plays[0].rfind("BASS_ChannelPlay(" + std::to_string(ChannelOf("a.WAV")) + ", 1) = 1", 0), 0u) << plays[0];
    EXPECT_EQ(LitPads(), Bit('A'));
    ASSERT_TRUE(PumpUntil([] { return LitPads() == 0; }, 2000));

    // K2 has no z: its pad is dimmed and a click on it plays nothing.
    LoadKitNamed(2);
    ASSERT_TRUE(DimmedPads() & Bit('Z'));
    POINT z = CentreOf('Z');
    mark = Trace::Mark();
    SendMessageA(main, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(z.x, z.y));
    PumpMessages();
    EXPECT_TRUE(Trace::Matching(mark, "BASS_ChannelPlay(").empty());
    EXPECT_EQ(LitPads(), 0u);

    // The label keeps its clicks: a click there reaches no pad and plays nothing.
    RECT label;
    GetWindowRect(Program().KitLabel.GetHandle(), &label);
    MapWindowPoints(NULL, main, (POINT*)&label, 2);
    SendMessageA(main, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM((label.left + label.right) / 2, label.top + 2));
    SendMessageA(Program().KitLabel.GetHandle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    SendMessageA(Program().KitLabel.GetHandle(), WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
    PumpMessages();
    EXPECT_TRUE(Trace::Matching(mark, "BASS_ChannelPlay(").empty());
    EXPECT_EQ(LitPads(), 0u);
}

TEST_F(Pads, NamesFollowTheKitAndAnEmptyKitDimsEveryPad)
{
    EXPECT_EQ(DimmedPads(), 0u);
    LoadKitNamed(2);
    uint32_t nToZ = kAllPads & ~((1u << ('M' - 'A' + 1)) - 1);
    EXPECT_EQ(DimmedPads(), nToZ);
    LoadKitNamed(3);
    EXPECT_EQ(DimmedPads(), kAllPads);
    // A key of a dimmed pad plays nothing and lights nothing.
    HookKey('A', WM_KEYDOWN);
    HookKey('A', WM_KEYUP);
    PumpMessages();
    EXPECT_EQ(LitPads(), 0u);
    LoadKitNamed(1);
    EXPECT_EQ(DimmedPads(), 0u);
}

// For every letter in both kinds of kit: the lit pads a hit puts out are
// exactly the letters whose samples the hit paused or faded.
TEST_F(Pads, AHitPutsOutTheLightsOfTheSamplesItSilences)
{
    constexpr int kHiHatKit = 1, kOwnGroupKit = 4;
    for (int kit : {kHiHatKit, kOwnGroupKit}) {
        LoadKitNamed(kit);
        SCOPED_TRACE("kit " + std::to_string(kit));
        std::map<std::string, char> letterOf;
        for (char c = 'A'; c <= 'Z'; c++)
            if (!LetterSampleFile(c).empty())
                letterOf[std::to_string(ChannelOf(LetterSampleFile(c)))] = c;
        for (char hit = 'A'; hit <= 'Z'; hit++) {
            std::set<char> silenced, putOut;
            for (char other = 'A'; other <= 'Z'; other++) {
                if (other == hit || LetterSampleFile(other).empty())
                    continue;
                PostMessageA(Program().MainWindow.GetHandle(), WM_PAD_HIT, Bit(other), 0);
                DeliverLights();
                ASSERT_TRUE(LitPads() & Bit(other));
                Trace trace;
                HookKey(hit, WM_KEYDOWN);
                HookKey(hit, WM_KEYUP);
                DeliverLights();
                if (!(LitPads() & Bit(other)))
                    putOut.insert(other);
                for (auto& c : trace.Calls({"BASS_ChannelPause", "BASS_ChannelFadeOut"}))
                    if (letterOf.count(c.args[0]) && letterOf[c.args[0]] != hit)
                        silenced.insert(letterOf[c.args[0]]);
            }
            EXPECT_EQ(putOut, silenced) << hit;
        }
        // What the two kits choke, as their rules have it.
        EXPECT_EQ(LetterChokes()['J' - 'A'], kit == kHiHatKit ? Bit('H') | Bit('K') | Bit('L') : 0u);
        EXPECT_EQ(LetterChokes()['V' - 'A'], kit == kHiHatKit ? 0u : Bit('C'));
    }
    ASSERT_TRUE(PumpUntil([] { return LitPads() == 0; }, 2000));
}

// The pads frame the groups of the loaded kit: H J K L for the hi-hat
// rule, C and V for a kit whose one group they are.
TEST_F(Pads, AKitsOwnGroupsAreWhatThePadsFrame)
{
    for (int kit : {1, 4}) {
        LoadKitNamed(kit);
        const bool hiHats = kit == 1;
        for (char c : {'H', 'J', 'K', 'L'})
            EXPECT_EQ(ChokeBlue(EdgePixel(c)), hiHats) << c << " in kit " << kit;
        for (char c : {'C', 'V'})
            EXPECT_EQ(ChokeBlue(EdgePixel(c)), !hiHats) << c << " in kit " << kit;
        EXPECT_EQ(ChokeBlue(PixelAbove('J', 'U')), hiHats) << "the mark over H J K L, kit " << kit;
        EXPECT_EQ(ChokeBlue(PixelAbove('C', 'D')), !hiHats) << "the mark over C V, kit " << kit;
    }
}

// Hidden mid-fade, a lit pad goes out at once and no timer is left
// behind; hidden, keys light nothing and the window is plain.
TEST_F(Pads, HiddenPadsLightNothingAndLeaveTheWindowPlain)
{
    HWND main = Program().MainWindow.GetHandle();
    HookKey('B', WM_KEYDOWN);
    HookKey('B', WM_KEYUP);
    ASSERT_TRUE(PumpUntil([] { return LitPads() == Bit('B'); }, 2000));
    SendMessageA(main, WM_COMMAND, CommandOf(kShowPadsEntry), 0);
    ASSERT_FALSE(PadsShown());
    EXPECT_EQ(LitPads(), 0u);
    EXPECT_FALSE(KillTimer(main, kPadsTimerId));

    HookKey('A', WM_KEYDOWN);
    HookKey('A', WM_KEYUP);
    PumpMessages();
    EXPECT_EQ(LitPads(), 0u);
    EXPECT_EQ(PadPixel('A'), GetSysColor(COLOR_BTNFACE));
    SendMessageA(main, WM_COMMAND, CommandOf(kShowPadsEntry), 0);
    EXPECT_NE(PadPixel('A'), GetSysColor(COLOR_BTNFACE));
}

} // namespace
