// The program's answer to each way a recording can end or fail to start,
// against a stand-in library that ends it as told (scripted_library.cpp).
#include "app/commands.h"
#include "core/bass_api.h"
#include "core/program.h"
#include "recorder/recorder.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/program_skeleton.h"
#include "tests/support/ui_driver.h"

#include <gtest/gtest.h>

namespace {

const int32_t kRecordId = 102523;
std::string Root;

template <typename Fn>
Fn Script(const char* name)
{
    return (Fn)(void*)GetProcAddress(GetModuleHandleA("bass.dll"), name);
}

void Frames(DWORD frames, DWORD overruns)
{
    Script<void(WINAPI*)(DWORD, DWORD)>("ScriptFrames")(frames, overruns);
}

void End(DWORD stopped)
{
    Script<void(WINAPI*)(DWORD)>("ScriptEnd")(stopped);
}

void StartError(int error)
{
    Script<void(WINAPI*)(int)>("ScriptStartError")(error);
}

void Command()
{
    SendMessageA(Program().MainWindow.GetHandle(), WM_COMMAND, kRecordId, 0);
}

std::string ItemText()
{
    return Program().SoundMenu.GetItemText(kRecordId);
}

class RecorderEndings : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        Root = MakeProgramDir(TempFolder("yxyt_recorder_endings_" + std::to_string(GetCurrentProcessId())), false);
        CopyFileA((ThisProgramFolder() + "scripted_library.dll").c_str(), (Root + "bass.dll").c_str(), FALSE);
        BuildMainWindow("欢迎", false);
    }
    void SetUp() override { ASSERT_TRUE(CanRecord()); }
};

TEST_F(RecorderEndings, EndsOfTheLibrarysOwnSayWhyAndTheLabelCountsTheTimeBefore)
{
    struct {
        DWORD stopped;
        const char* box; // "" for none
        const char* label;
    } cases[] = {
        {BASS_MIXRECORD_LIMIT, "录音文件已达到 4 GB 上限，录音已停止。已录下的部分保存在：",
         "录音已停止，已录下的部分保存在："},
        {BASS_MIXRECORD_WRITE, "录音文件写入失败（磁盘可能已满），录音已停止。已录下的部分保存在：",
         "录音已停止，已录下的部分保存在："},
        {BASS_MIXRECORD_FREED, "", "录音已结束（声音输出已重新打开）："},
    };
    for (auto& c : cases) {
        UiDriver boxes(IDOK);
        Command();
        ASSERT_TRUE(IsRecording());
        std::string path = RecordingPath();
        Frames(44100 * 61 + 5, 0);
        ASSERT_TRUE(PumpUntil([] { return Program().KitLabel.LabelText() == "录音中 01:01"; }, 5000))
            << Program().KitLabel.LabelText();
        End(c.stopped);
        ASSERT_TRUE(PumpUntil([] { return !IsRecording(); }, 5000)) << c.stopped;
        EXPECT_EQ(Program().KitLabel.LabelText(), c.label + path) << c.stopped;
        EXPECT_EQ(ItemText(), "开始录音(&T)");
        auto seen = boxes.Seen();
        if (*c.box) {
            ASSERT_EQ(seen.size(), 1u) << c.stopped;
            EXPECT_EQ(seen[0].caption, "错误！");
            EXPECT_EQ(seen[0].text, c.box + path);
        } else {
            EXPECT_TRUE(seen.empty()) << seen[0].text;
        }
        // The end is reported once: the next start is a new recording.
        EXPECT_FALSE(BASS_MixRecordStop(NULL));
    }
}

TEST_F(RecorderEndings, StopNamesTheFramesTheWriterLost)
{
    Command();
    std::string path = RecordingPath();
    Frames(44100, 441);
    Command();
    EXPECT_FALSE(IsRecording());
    EXPECT_EQ(Program().KitLabel.LabelText(), "录音已保存：" + path + "（丢失 441 帧）");
}

TEST_F(RecorderEndings, AStopAfterAnEndOfItsOwnReportsThatEnd)
{
    // The end came between two ticks: the user's stop tells it, not "saved".
    UiDriver boxes(IDOK);
    Command();
    std::string path = RecordingPath();
    End(BASS_MIXRECORD_LIMIT);
    Command();
    EXPECT_FALSE(IsRecording());
    EXPECT_EQ(Program().KitLabel.LabelText(), "录音已停止，已录下的部分保存在：" + path);
    ASSERT_EQ(boxes.Seen().size(), 1u);
    EXPECT_NE(boxes.Seen()[0].text.find("4 GB"), std::string::npos);
}

TEST_F(RecorderEndings, AStartTheLibraryRefusesSaysWhyAndRecordsNothing)
{
    std::string folder = Root + "录音";
    struct {
        int error;
        std::string text;
    } cases[] = {
        {BASS_ERROR_INIT, "声音输出没有打开，无法录音。"},
        {BASS_ERROR_CREATE, "无法在录音文件夹 " + folder + " 中创建录音文件 "},
        {BASS_ERROR_ALREADY, "（错误代码 14）"},
    };
    for (auto& c : cases) {
        UiDriver boxes(IDOK);
        std::string label = Program().KitLabel.LabelText();
        StartError(c.error);
        Command();
        EXPECT_FALSE(IsRecording());
        EXPECT_EQ(ItemText(), "开始录音(&T)");
        EXPECT_EQ(Program().KitLabel.LabelText(), label);
        ASSERT_EQ(boxes.Seen().size(), 1u) << c.error;
        EXPECT_EQ(boxes.Seen()[0].caption, "错误！");
        EXPECT_NE(boxes.Seen()[0].text.find(c.text), std::string::npos) << boxes.Seen()[0].text;
    }
}

} // namespace
