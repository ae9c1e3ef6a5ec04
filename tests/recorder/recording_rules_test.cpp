// The recorder's rules against tables of expected values.
#include "recorder/recording_rules.h"

#include <gtest/gtest.h>

#include <set>

TEST(RecordingRules, FileIsNamedByLocalDateAndTime)
{
    EXPECT_EQ(RecordingFileName({2026, 12, 7, 21, 5, 33}, 1), "2026-12-07 21-05-33.wav");
    EXPECT_EQ(RecordingFileName({2027, 1, 1, 0, 0, 0}, 1), "2027-01-01 00-00-00.wav");
    EXPECT_EQ(RecordingFileName({1999, 10, 31, 23, 59, 59}, 1), "1999-10-31 23-59-59.wav");
}

TEST(RecordingRules, LaterAttemptsOfOneSecondAreNumberedFromTwo)
{
    RecordingTime t = {2026, 12, 7, 21, 5, 33};
    EXPECT_EQ(RecordingFileName(t, 2), "2026-12-07 21-05-33 (2).wav");
    EXPECT_EQ(RecordingFileName(t, 10), "2026-12-07 21-05-33 (10).wav");
    std::set<std::string> names;
    for (int attempt = 1; attempt <= kMaxNameAttempts; attempt++)
        names.insert(RecordingFileName(t, attempt));
    EXPECT_EQ(names.size(), (size_t)kMaxNameAttempts) << "every attempt names another file";
}

TEST(RecordingRules, ProgressCountsWholeSecondsOfFrames)
{
    struct {
        uint64_t frames;
        uint32_t rate;
        const char* text;
    } cases[] = {
        {0, 44100, "00:00"},
        {44099, 44100, "00:00"},
        {44100, 44100, "00:01"},
        {44100ull * 65, 44100, "01:05"},
        {48000ull * 60 - 1, 48000, "00:59"},
        {48000ull * 60, 48000, "01:00"},
        {44100ull * (120 * 60 + 5), 44100, "120:05"},
        // The longest file a WAV header can describe: 4 GiB of 16-bit stereo.
        {(1ull << 30), 44100, "405:47"},
        {12345, 0, "00:00"},
    };
    for (auto& c : cases)
        EXPECT_EQ(RecordingProgressText(c.frames, c.rate), std::string("录音中 ") + c.text)
            << c.frames << " at " << c.rate;
}

TEST(RecordingRules, EndLabelNamesTheFileAndLostFramesOnlyWhenAny)
{
    const std::string path = "C:\\鼓\\录音\\2026-12-07 21-05-33.wav";
    EXPECT_EQ(RecordingEndLabel(RecordingEnd::kAsked, path, 0), "录音已保存：" + path);
    EXPECT_EQ(RecordingEndLabel(RecordingEnd::kAsked, path, 441), "录音已保存：" + path + "（丢失 441 帧）");
    EXPECT_EQ(RecordingEndLabel(RecordingEnd::kOutputReopened, path, 0), "录音已结束（声音输出已重新打开）：" + path);
    EXPECT_EQ(RecordingEndLabel(RecordingEnd::kOutputReopened, path, 7),
              "录音已结束（声音输出已重新打开）：" + path + "（丢失 7 帧）");
    for (RecordingEnd end : {RecordingEnd::kWriteFailed, RecordingEnd::kSizeLimit})
        EXPECT_EQ(RecordingEndLabel(end, path, 0), "录音已停止，已录下的部分保存在：" + path);
}

TEST(RecordingRules, OnlyAFailedWriteAndTheSizeLimitNeedABox)
{
    const std::string path = "C:\\鼓\\录音\\a.wav";
    EXPECT_EQ(RecordingEndMessage(RecordingEnd::kWriteFailed, path),
              "录音文件写入失败（磁盘可能已满），录音已停止。已录下的部分保存在：" + path);
    EXPECT_EQ(RecordingEndMessage(RecordingEnd::kSizeLimit, path),
              "录音文件已达到 4 GB 上限，录音已停止。已录下的部分保存在：" + path);
    EXPECT_EQ(RecordingEndMessage(RecordingEnd::kAsked, path), "");
    EXPECT_EQ(RecordingEndMessage(RecordingEnd::kOutputReopened, path), "");
}

TEST(RecordingRules, StartFailuresNameTheFolderAndTheCode)
{
    const std::string folder = "D:\\逸响乐台\\录音";
    std::string text = FolderFailureMessage(folder, 183);
    EXPECT_NE(text.find("录音文件夹：" + folder + "（错误代码 183）"), std::string::npos) << text;
    text = FileFailureMessage(folder, "2026-12-07 21-05-33.wav", 33);
    EXPECT_NE(text.find(folder), std::string::npos) << text;
    EXPECT_NE(text.find("2026-12-07 21-05-33.wav（错误代码 33）"), std::string::npos) << text;
    for (const std::string& t : {FolderFailureMessage(folder, 5), FileFailureMessage(folder, "x.wav", 33)})
        EXPECT_NE(t.find("录音没有开始"), std::string::npos) << t;
    EXPECT_NE(NoOutputMessage().find("无法录音"), std::string::npos);
}
