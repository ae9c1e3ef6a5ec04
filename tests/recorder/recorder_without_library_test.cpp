// The recorder where the audio library cannot record: built once with no
// bass.dll beside the program at all, and once with a library from before
// the recorder, which has other calls but not the recorder's.
#include "app/commands.h"
#include "app/keyboard_hook.h"
#include "core/bass_api.h"
#include "core/command_table.h"
#include "core/program.h"
#include "recorder/recorder.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/program_skeleton.h"
#include "tests/support/ui_driver.h"

#include <gtest/gtest.h>

namespace {

const int32_t kRecordId = 102523;

TEST(RecorderWithoutLibrary, ItemIsGreyedAndNeitherItNorF7DoesAnything)
{
    std::string root =
        MakeProgramDir(TempFolder("yxyt_recorder_nolib_" + std::to_string(GetCurrentProcessId())), false);
#ifdef YXYT_LIBRARY_WITHOUT_RECORDER
    ASSERT_TRUE(
        CopyFileA((ThisProgramFolder() + "library_without_recorder.dll").c_str(), (root + "bass.dll").c_str(), FALSE));
    EXPECT_TRUE(HasBassCall("BASS_ErrorGetCode")) << "the library is loaded";
#else
    ASSERT_FALSE(FileExists(root + "bass.dll"));
    EXPECT_FALSE(HasBassCall("BASS_ErrorGetCode"));
#endif
    BuildMainWindow("欢迎", false);
    EXPECT_FALSE(CanRecord());

    HMENU sound = Program().SoundMenu.GetHandle();
    int last = GetMenuItemCount(sound) - 5; // the metronome's items and the play options follow
    EXPECT_EQ(GetMenuItemID(sound, last), (UINT)kRecordId);
    // Nor the metronome's, whose items follow.
    EXPECT_TRUE(GetMenuState(sound, CommandOf(kMetronomeEntry), MF_BYCOMMAND) & MF_GRAYED);
    EXPECT_TRUE(GetMenuState(sound, CommandOf(kMetronomeSettingsEntry), MF_BYCOMMAND) & MF_GRAYED);
    EXPECT_EQ(Program().SoundMenu.GetItemText(kRecordId), "开始录音(&T)");
    EXPECT_TRUE(GetMenuState(sound, kRecordId, MF_BYCOMMAND) & MF_GRAYED);

    UiDriver boxes(IDOK);
    HWND main = Program().MainWindow.GetHandle();
    SendMessageA(main, WM_COMMAND, kRecordId, 0);
    SetForegroundWindow(main);
    PumpMessages();
    ASSERT_EQ(GetForegroundWindow(), main);
    KBDLLHOOKSTRUCT record = {};
    record.vkCode = VK_F7;
    EXPECT_EQ(KeyboardHookProc(HC_ACTION, WM_KEYDOWN, (LPARAM)&record), (LRESULT)main) << "swallowed like any key";
    KeyboardHookProc(HC_ACTION, WM_KEYUP, (LPARAM)&record);
    PumpMessages();

    EXPECT_FALSE(IsRecording());
    EXPECT_FALSE(FileExists(root + "录音"));
    EXPECT_EQ(Program().KitLabel.LabelText(), "欢迎");
    EXPECT_EQ(Program().SoundMenu.GetItemText(kRecordId), "开始录音(&T)");
    EXPECT_TRUE(boxes.Seen().empty());
}

} // namespace
