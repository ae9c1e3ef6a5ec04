// The open-file dialog reads its filter as NUL-separated pairs ending in
// two NULs; a missing terminator makes it read past the text.
#include "music/dialog_filter.h"

#include <gtest/gtest.h>

TEST(DialogFilter, SplitsAtBarsAndEndsWithTwoNuls)
{
    std::string list = BuildDialogFilter("All(*.*)|*.*|MP3(*.mp3)|*.mp3");
    EXPECT_EQ(list, std::string("All(*.*)\0*.*\0MP3(*.mp3)\0*.mp3\0\0", 31));
}

TEST(DialogFilter, SinglePairStillHasBothTerminators)
{
    std::string list = BuildDialogFilter("x|*.*");
    ASSERT_EQ(list.size(), 7u);
    EXPECT_EQ(list[1], '\0');
    EXPECT_EQ(list[5], '\0');
    EXPECT_EQ(list[6], '\0');
}
