#include "core/ini_number.h"
#include "core/path_rules.h"

#include <gtest/gtest.h>

TEST(IniNumber, IntegersReadLikeTheCLibrary)
{
    struct {
        const char* text;
        int value;
    } table[] = {
        {"1", 1},
        {"12abc", 12},
        {"abc", 0},
        {"", 0},
        {"  7", 7},
        {"-3", -3},
        {"+4", 4},
        {"0", 0},
        {"3.9", 3},
        {"\t-12x", -12},
        {"99999999999", 2147483647},
        {"-99999999999", -2147483647 - 1},
    };
    for (auto& row : table)
        EXPECT_EQ(ParseIniInt(row.text), row.value) << "text: '" << row.text << "'";
}

TEST(IniNumber, FloatsReadLikeTheCLibrary)
{
    EXPECT_FLOAT_EQ(ParseIniFloat("0.95"), 0.95f);
    EXPECT_FLOAT_EQ(ParseIniFloat("1"), 1.0f);
    EXPECT_FLOAT_EQ(ParseIniFloat("5"), 5.0f);
    EXPECT_FLOAT_EQ(ParseIniFloat("-1"), -1.0f);
    EXPECT_FLOAT_EQ(ParseIniFloat(" .5db"), 0.5f);
    EXPECT_FLOAT_EQ(ParseIniFloat("abc"), 0.0f);
    EXPECT_FLOAT_EQ(ParseIniFloat(""), 0.0f);
}

TEST(IniNumber, FloatsAreWrittenWithSixSignificantDigits)
{
    EXPECT_EQ(FormatIniFloat(0.9), "0.9");
    EXPECT_EQ(FormatIniFloat(1.0), "1");
    EXPECT_EQ(FormatIniFloat(0.95), "0.95");
    EXPECT_EQ(FormatIniFloat(0.0), "0");
    // A float stepped down from 1 carries binary noise that %.6g hides.
    EXPECT_EQ(FormatIniFloat((float)(1.0 - 0.05)), "0.95");
    EXPECT_EQ(FormatIniFloat((float)(1.0 - 0.01)), "0.99");
    EXPECT_EQ(FormatIniFloat(1.0 / 3.0), "0.333333");
    EXPECT_EQ(FormatIniFloat(-0.05), "-0.05");
}

TEST(PathRules, ProgramDirEndsWithExactlyOneBackslash)
{
    EXPECT_EQ(WithTrailingBackslash("C:\\YXYT"), "C:\\YXYT\\");
    EXPECT_EQ(WithTrailingBackslash("C:\\YXYT\\"), "C:\\YXYT\\");
    EXPECT_EQ(DirectoryOfPath("C:\\Program Files\\YXYT\\YXYT.exe"), "C:\\Program Files\\YXYT\\");
    EXPECT_EQ(DirectoryOfPath("Z:\\tmp\\a b\\YXYT.exe"), "Z:\\tmp\\a b\\");
}
