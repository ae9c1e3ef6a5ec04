// Config.ini through the real profile functions, in a temporary program
// directory.
#include "core/program.h"
#include "core/settings.h"
#include "tests/support/files.h"
#include "tests/support/program_skeleton.h"

#include <gtest/gtest.h>

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        MakeProgramDir(TempFolder("yxyt_settings_test"), false);
        DeleteFileA(SettingsPath().c_str());
    }
    void WriteFile(const std::string& bytes) { WriteFileBytes(SettingsPath(), bytes); }
    std::string ReadFile() { return ReadFileBytes(SettingsPath()); }
};

TEST_F(SettingsTest, MissingFileGivesTheDefaults)
{
    EXPECT_EQ(ReadIntSetting(kKitSection, kKitIndexKey, "1"), 1);
    EXPECT_FLOAT_EQ(ReadFloatSetting(kKitSection, kKitVolumeKey, "1"), 1.0f);
    EXPECT_EQ(ReadSetting(kOptionSection, kClosePromptKey, "0"), "0");
    EXPECT_EQ(ReadSetting(kOptionSection, "bgm3", ""), "");
    // Reading never creates the file.
    EXPECT_EQ(GetFileAttributesA(SettingsPath().c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(SettingsTest, NumbersAreReadUpToTheFirstOtherCharacter)
{
    WriteFile("[鼓源]\r\n鼓源索引=12abc\r\n鼓源音量=abc\r\n[选项]\r\n重复敲击=\r\n背景音量= 0.5x\r\n");
    EXPECT_EQ(ReadIntSetting(kKitSection, kKitIndexKey, "1"), 12);
    EXPECT_FLOAT_EQ(ReadFloatSetting(kKitSection, kKitVolumeKey, "1"), 0.0f);
    // A key that is present with an empty value is empty, not the default.
    EXPECT_EQ(ReadSetting(kOptionSection, kRepeatHitKey, "0"), "");
    EXPECT_EQ(ReadIntSetting(kOptionSection, kRepeatHitKey, "0"), 0);
    EXPECT_FLOAT_EQ(ReadFloatSetting(kOptionSection, kMusicVolumeKey, "1"), 0.5f);
}

TEST_F(SettingsTest, WritesReplaceOneKeyAndKeepEverythingElse)
{
    WriteFile("; 用户的注释\r\n[其他]\r\n自定义=保留\r\n[鼓源]\r\n鼓源索引=3\r\n鼓源音量=0.8\r\n");
    WriteIntSetting(kKitSection, kKitIndexKey, 2);
    WriteFloatSetting(kOptionSection, kMusicVolumeKey, (float)(1.0 - 0.01));
    EXPECT_EQ(ReadSetting("其他", "自定义", ""), "保留");
    EXPECT_EQ(ReadSetting(kKitSection, kKitVolumeKey, ""), "0.8");
    EXPECT_EQ(ReadSetting(kKitSection, kKitIndexKey, ""), "2");
    EXPECT_EQ(ReadSetting(kOptionSection, kMusicVolumeKey, ""), "0.99");
    std::string file = ReadFile();
    EXPECT_NE(file.find("; 用户的注释"), std::string::npos);
    EXPECT_NE(file.find("鼓源索引=2"), std::string::npos);
    EXPECT_EQ(file.find("鼓源索引=3"), std::string::npos);
}

TEST_F(SettingsTest, FirstWriteCreatesTheFileInGbk)
{
    WriteIntSetting(kKitSection, kKitIndexKey, 1);
    std::string file = ReadFile();
    // "[鼓源]" in GBK: the section name reaches the disk as code page 936 bytes.
    EXPECT_NE(file.find("[\xB9\xC4\xD4\xB4]"), std::string::npos) << file;
    EXPECT_NE(file.find("=1"), std::string::npos);
}

TEST_F(SettingsTest, EmptyValuesKeepTheirKeys)
{
    for (int n = 1; n <= 10; n++)
        WriteSetting(kOptionSection, ("bgm" + std::to_string(n)).c_str(), "");
    std::string file = ReadFile();
    for (int n = 1; n <= 10; n++)
        EXPECT_NE(file.find("bgm" + std::to_string(n) + "="), std::string::npos) << n;
    EXPECT_EQ(ReadSetting(kOptionSection, "bgm10", "x"), "");
}

TEST_F(SettingsTest, GbkPathsRoundTrip)
{
    std::string path = "D:\\音乐\\鼓点 (现场)\\歌曲.mp3";
    WriteSetting(kOptionSection, "bgm1", path);
    EXPECT_EQ(ReadSetting(kOptionSection, "bgm1", ""), path);
}

TEST_F(SettingsTest, ClampedVolumesAreWrittenAsPlainNumbers)
{
    WriteFloatSetting(kKitSection, kKitVolumeKey, 1.0);
    EXPECT_EQ(ReadSetting(kKitSection, kKitVolumeKey, ""), "1");
    WriteFloatSetting(kKitSection, kKitVolumeKey, 0.0);
    EXPECT_EQ(ReadSetting(kKitSection, kKitVolumeKey, ""), "0");
    WriteFloatSetting(kKitSection, kKitVolumeKey, (float)0.95);
    EXPECT_EQ(ReadSetting(kKitSection, kKitVolumeKey, ""), "0.95");
}

} // namespace
