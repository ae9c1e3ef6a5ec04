// The kit-removal rules against hand-made tables; the time stamps were
// worked out independently from calendar UTC times shifted by eight hours.
#include "drumpad/removal_rules.h"

#include <gtest/gtest.h>

TEST(SafeFolderPath, AcceptsOnlyDriveRootedFoldersBelowTheRoot)
{
    struct Case {
        const char* path;
        bool safe;
    } cases[] = {
        {"C:\\Prog\\SND\\Kit", true},
        {"c:\\Prog\\SND\\Kit\\", true},
        {"D:/music/kit", true},
        {"C:\\", false},
        {"C:/", false},
        {"C:\\\\", false}, // collapses to a bare root
        {"C:\\\\\\\\", false},
        {"C://", false},
        {"C:\\\\SND", true}, // collapses to C:\SND
        {"C:", false},
        {"C:kit", false},
        {"SND\\Kit", false},
        {"\\\\server\\share\\kit", false},
        {"1:\\kit", false},
        {"", false},
        {"Z:\\a", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsSafeFolderPath(c.path), c.safe) << c.path;
}

TEST(TimeStamp, IsTheUnixMillisecondCountOfAUtcPlus8Clock)
{
    struct Case {
        LocalTime t;
        const char* stamp;
    } cases[] = {
        {{2024, 3, 1, 0, 0, 0, 7}, "1709222400007"},
        {{2026, 12, 7, 0, 0, 0, 7}, "1796572800007"},
        {{2038, 1, 19, 11, 14, 8, 123}, "2147483648123"},
        // Twelve digits get one "0" appended, as the name needs thirteen.
        {{2000, 2, 29, 23, 59, 59, 999}, "9518399999990"},
        {{1970, 1, 1, 8, 0, 1, 5}, "1005000000000"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TimeStampOf(c.t), c.stamp) << c.t.year << "-" << c.t.month << "-" << c.t.day;
}

TEST(TimeStamp, MillisecondsArePaddedToThreeDigits)
{
    std::string stamp = TimeStampOf({2024, 3, 1, 0, 0, 0, 7});
    ASSERT_EQ(stamp.size(), 13u);
    EXPECT_EQ(stamp.substr(10), "007");
    EXPECT_EQ(TimeStampOf({2024, 3, 1, 0, 0, 0, 70}).substr(10), "070");
}

TEST(RemovalScript, IsTwoQuotedLinesWithoutFinalLineEnd)
{
    EXPECT_EQ(RemovalScriptText("C:\\P\\SND\\Kit\\", "C:\\T\\1_Speed.bat"),
              "Rd /s /q \"C:\\P\\SND\\Kit\\\"\r\nDel /f /q \"C:\\T\\1_Speed.bat\"");
}

TEST(RemovalScript, DoublesPercentSoCmdCannotExpandIt)
{
    // %CD% or %TEMP% in a folder name would otherwise name another folder.
    EXPECT_EQ(BatchQuotedPath("C:\\S\\%CD%\\"), "\"C:\\S\\%%CD%%\\\"");
    EXPECT_EQ(BatchQuotedPath("C:\\S\\100%"), "\"C:\\S\\100%%\"");
    // Inside double quotes cmd takes these literally.
    EXPECT_EQ(BatchQuotedPath("C:\\S\\a&b ^c!d\\"), "\"C:\\S\\a&b ^c!d\\\"");
    // GBK bytes (鼓 = B9 C4) pass through untouched.
    EXPECT_EQ(BatchQuotedPath("C:\\\xB9\xC4%"), "\"C:\\\xB9\xC4%%\"");
    EXPECT_EQ(RemovalScriptText("C:\\%a%\\", "C:\\T%\\1_Speed.bat"),
              "Rd /s /q \"C:\\%%a%%\\\"\r\nDel /f /q \"C:\\T%%\\1_Speed.bat\"");
}
