// The exclusive output option against a stand-in library that grants or
// refuses the wish as told (exclusive_library.cpp): the stored wish goes to
// the library before the first open, a refusal is told once for each open
// the user asked for, the item and Config.ini follow the wish. Built a
// second time with a library from before the option, which greys the item.
#include "app/commands.h"
#include "app/sound_cards.h"
#include "core/bass_api.h"
#include "core/command_table.h"
#include "core/exclusive_output.h"
#include "core/program.h"
#include "core/settings.h"
#include "drumpad/kit_removal.h"
#include "drumpad/kits.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/program_skeleton.h"
#include "tests/support/ui_driver.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

const int32_t kExclusiveId = 102524;
const int32_t kRecordId = 102523;
const char* const kBusyText = "无法独占声卡：声卡正被其他程序独占使用。现在使用共享输出，声音照常播放。“独占输出”仍然勾"
                              "选着，下次打开声卡时会再试；不需要时可在“声效设定”菜单中取消。";

std::string Root;
std::vector<SeenDialog> StartBoxes;

#ifndef YXYT_LIBRARY_WITHOUT_EXCLUSIVE
// The stand-in library's own calls, to tell it how to answer.
template <typename Fn>
Fn Script(const char* name)
{
    return (Fn)(void*)GetProcAddress(GetModuleHandleA("bass.dll"), name);
}

std::string TakeLog()
{
    return Script<const char*(WINAPI*)()>("ScriptTakeLog")();
}

void Refuse(DWORD mode, DWORD reason, DWORD code)
{
    Script<void(WINAPI*)(DWORD, DWORD, DWORD)>("ScriptRefuse")(mode, reason, code);
}

void Grant()
{
    Script<void(WINAPI*)()>("ScriptGrant")();
}

std::string Stored()
{
    return ReadSetting(kOptionSection, kExclusiveOutputKey, "<none>");
}
#endif

UINT ItemState()
{
    return GetMenuState(Program().SoundMenu.GetHandle(), kExclusiveId, MF_BYCOMMAND);
}

void Toggle()
{
    SendMessageA(Program().MainWindow.GetHandle(), WM_COMMAND, kExclusiveId, 0);
}

class ExclusiveOption : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        Root = MakeProgramDir(TempFolder("yxyt_exclusive_" + std::to_string(GetCurrentProcessId())), false);
#ifdef YXYT_LIBRARY_WITHOUT_EXCLUSIVE
        CopyFileA((ThisProgramFolder() + "library_without_recorder.dll").c_str(), (Root + "bass.dll").c_str(), FALSE);
#else
        CopyFileA((ThisProgramFolder() + "exclusive_library.dll").c_str(), (Root + "bass.dll").c_str(), FALSE);
#endif
        // Loaded here, so that the stand-in can be told how to answer
        // before start-up opens the engine; the program finds it loaded.
        LoadLibraryA((Root + "bass.dll").c_str());
        WriteFileBytes(Root + "Config.ini", "[选项]\r\n独占输出=1\r\n");
        UiDriver boxes(IDOK);
        BuildMainWindow("欢迎", true);
        StartBoxes = boxes.Seen();
    }
};

#ifndef YXYT_LIBRARY_WITHOUT_EXCLUSIVE

TEST_F(ExclusiveOption, TheStoredWishIsAskedBeforeTheFirstOpenAndARefusalIsToldOnce)
{
    EXPECT_EQ(TakeLog(), "SetExclusive(1);Init(-1);");
    ASSERT_EQ(StartBoxes.size(), 1u);
    EXPECT_EQ(StartBoxes[0].caption, "友情提醒:");
    EXPECT_EQ(StartBoxes[0].text, kBusyText);
    EXPECT_EQ(StartBoxes[0].owner, Program().MainWindow.GetHandle());
    // The wish stays and is shown; the caption says it is not met. The item
    // stands just before the recorder's, which the two metronome items and
    // the play options follow.
    EXPECT_EQ(Stored(), "1");
    EXPECT_TRUE(ItemState() & MF_CHECKED);
    EXPECT_FALSE(ItemState() & MF_GRAYED);
    EXPECT_EQ(Program().SoundMenu.GetItemText(kExclusiveId), "独占输出(未生效)(&X)");
    HMENU sound = Program().SoundMenu.GetHandle();
    int last = GetMenuItemCount(sound) - 1;
    EXPECT_EQ(GetMenuItemID(sound, last - 4), (UINT)kRecordId);
    EXPECT_EQ(GetMenuItemID(sound, last - 5), (UINT)kExclusiveId);
}

TEST_F(ExclusiveOption, TheItemStoresTheWishAndReopensOnTheCardInUse)
{
    TakeLog();
    struct {
        bool grant;
        DWORD mode, reason, code;
        const char* stored;
        const char* caption;
        const char* box; // a part of the box's text, "" for no box
    } steps[] = {
        {false, BASS_OUTPUT_SHARED, BASS_EXCLUSIVE_BUSY, 0x8889000A, "0", "独占输出(&X)", ""},
        {true, 0, 0, 0, "1", "独占输出(&X)", ""},
        {false, BASS_OUTPUT_SHARED, BASS_EXCLUSIVE_BUSY, 0x8889000A, "0", "独占输出(&X)", ""},
        {false, BASS_OUTPUT_SHARED, BASS_EXCLUSIVE_FORMAT, 0x88890008, "1", "独占输出(未生效)(&X)",
         "声卡不接受本程序的声音格式。现在使用共享输出"},
        {false, BASS_OUTPUT_SHARED, BASS_EXCLUSIVE_FORMAT, 0x88890008, "0", "独占输出(&X)", ""},
        {false, BASS_OUTPUT_WAVEOUT, BASS_EXCLUSIVE_NOT_ALLOWED, 0x8889000E, "1", "独占输出(未生效)(&X)",
         "系统不允许程序独占这块声卡（可在系统声音设置里这块声卡的属性中允许应用程序独占控制）。现在使用普通的 "
         "waveOut 输出"},
        {false, BASS_OUTPUT_SHARED, BASS_EXCLUSIVE_FORMAT, 0x88890008, "0", "独占输出(&X)", ""},
        {false, BASS_OUTPUT_SHARED, BASS_EXCLUSIVE_OTHER, 0x80070005, "1", "独占输出(未生效)(&X)",
         "声卡拒绝了独占（错误代码 0x80070005）。现在使用共享输出"},
    };
    for (const auto& step : steps) {
        if (step.grant)
            Grant();
        else
            Refuse(step.mode, step.reason, step.code);
        UiDriver boxes(IDOK);
        Toggle();
        bool on = std::string(step.stored) == "1";
        EXPECT_EQ(Stored(), step.stored);
        EXPECT_EQ(TakeLog(), std::string("Free;SetExclusive(") + step.stored + ");Init(-1);");
        EXPECT_EQ((bool)(ItemState() & MF_CHECKED), on);
        EXPECT_EQ(Program().SoundMenu.GetItemText(kExclusiveId), step.caption);
        auto seen = boxes.Seen();
        if (*step.box) {
            ASSERT_EQ(seen.size(), 1u) << step.box;
            EXPECT_NE(seen[0].text.find(step.box), std::string::npos) << seen[0].text;
        } else {
            EXPECT_TRUE(seen.empty()) << seen[0].text;
        }
    }

    // A card switch with the wish is another attempt: on that card, told again.
    ASSERT_EQ(Stored(), "1");
    Refuse(BASS_OUTPUT_SHARED, BASS_EXCLUSIVE_BUSY, 0x8889000A);
    UiDriver boxes(IDOK);
    SwitchSoundCard(CardCommand(1), 1);
    EXPECT_EQ(TakeLog(), "Free;SetExclusive(1);Init(1);");
    ASSERT_EQ(boxes.Seen().size(), 1u);
    EXPECT_EQ(boxes.Seen()[0].text, kBusyText);
    // The item now reopens on that card.
    Toggle();
    EXPECT_EQ(TakeLog(), "Free;SetExclusive(0);Init(1);");
    EXPECT_EQ(boxes.Seen().size(), 1u);
}

TEST_F(ExclusiveOption, AKitRemovalsReopenShowsWhetherTheWishIsMetNow)
{
    StoreExclusiveWish(true);
    Refuse(BASS_OUTPUT_SHARED, BASS_EXCLUSIVE_BUSY, 0x8889000A);
    BASS_Free();
    OpenEngine(-1);
    MarkExclusiveItem();
    ASSERT_EQ(Program().SoundMenu.GetItemText(kExclusiveId), "独占输出(未生效)(&X)");
    // The card is free now; the removal's reopen gets it.
    Grant();
    TakeLog();
    ForgetKit(KitCommandOfNumber(30));
    EXPECT_NE(TakeLog().find("SetExclusive(1);Init("), std::string::npos) << "reopened";
    EXPECT_EQ(Program().SoundMenu.GetItemText(kExclusiveId), "独占输出(&X)");
    EXPECT_TRUE(ItemState() & MF_CHECKED);
}

TEST_F(ExclusiveOption, OnlyOneIsAWishAndAnythingElseOrNothingIsShared)
{
    const struct {
        const char* file;
        bool on;
    } cases[] = {
        {"", false},
        {"[选项]\r\n", false},
        {"[选项]\r\n独占输出=\r\n", false},
        {"[选项]\r\n独占输出=abc\r\n", false},
        {"[选项]\r\n独占输出=2\r\n", false},
        {"[选项]\r\n独占输出=-1\r\n", false},
        {"[鼓源]\r\n独占输出=1\r\n", false},
        {"[选项]\r\n独占输出=1\r\n", true},
        {"[选项]\r\n独占输出= 1\r\n", true},
    };
    Grant();
    for (const auto& c : cases) {
        WriteFileBytes(Root + "Config.ini", c.file);
        EXPECT_EQ(ExclusiveWished(), c.on) << c.file;
        BASS_Free();
        TakeLog();
        OpenEngine(-1);
        EXPECT_EQ(TakeLog(), std::string("SetExclusive(") + (c.on ? "1" : "0") + ");Init(-1);") << c.file;
        MarkExclusiveItem();
        EXPECT_EQ((bool)(ItemState() & MF_CHECKED), c.on) << c.file;
    }
    // A stored wish is read back as it was written.
    for (bool on : {true, false}) {
        StoreExclusiveWish(on);
        EXPECT_EQ(ExclusiveWished(), on);
        EXPECT_EQ(Stored(), on ? "1" : "0");
    }
}

#else

TEST_F(ExclusiveOption, WithoutTheLibrarysCallsTheItemIsGreyedAndDoesNothing)
{
    ASSERT_TRUE(HasBassCall("BASS_ErrorGetCode")) << "the older library is loaded";
    EXPECT_FALSE(CanAskExclusive());
    EXPECT_TRUE(StartBoxes.empty()) << StartBoxes[0].text;
    EXPECT_TRUE(ItemState() & MF_GRAYED);
    EXPECT_FALSE(ItemState() & MF_CHECKED);
    EXPECT_EQ(Program().SoundMenu.GetItemText(kExclusiveId), "独占输出(&X)");
    std::string before = ReadFileBytes(Root + "Config.ini");
    UiDriver boxes(IDOK);
    Toggle();
    PumpMessages();
    EXPECT_EQ(ReadFileBytes(Root + "Config.ini"), before);
    EXPECT_TRUE(ItemState() & MF_GRAYED);
    EXPECT_TRUE(boxes.Seen().empty());
}

#endif

} // namespace
