// The kit-removal rules against a hand-made table.
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
