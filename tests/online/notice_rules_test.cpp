// The urgent-notice gate and the other channel rules.
#include "online/notice_rules.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Ticks of the check timer (every 200 s) from `start` for `days` days;
// returns the counter values at which the gate let the channel act.
std::vector<uint64_t> ActingTicks(uint64_t start, int days)
{
    NoticeGate gate;
    std::vector<uint64_t> acted;
    const uint64_t period = 200000;
    for (uint64_t now = start; now < start + uint64_t(days) * kNoticeQuietMs; now += period)
        if (gate.TryPass(now))
            acted.push_back(now);
    return acted;
}

TEST(NoticeGate, FirstCheckActsAtOnceThenOncePerDay)
{
    NoticeGate gate;
    EXPECT_TRUE(gate.TryPass(5000));
    EXPECT_FALSE(gate.TryPass(5000));
    EXPECT_FALSE(gate.TryPass(5000 + kNoticeQuietMs - 1));
    EXPECT_TRUE(gate.TryPass(5000 + kNoticeQuietMs));
    EXPECT_FALSE(gate.TryPass(5000 + kNoticeQuietMs + 1));
}

TEST(NoticeGate, ActsOncePerDayAcrossThe32BitSignChangeAndWrap)
{
    // Starts just before 2^31 ms (24.8 days, where a signed 32-bit counter
    // turns negative) and just before 2^32 ms (49.7 days, where it wraps);
    // the channel must act on the first tick and then once every day.
    const uint64_t starts[] = {0, 0x7FFFFFFFull - 3 * kNoticeQuietMs / 2, 0xFFFFFFFFull - kNoticeQuietMs / 3,
                               0xFFFFFFFFull - 5};
    for (uint64_t start : starts) {
        SCOPED_TRACE(start);
        std::vector<uint64_t> acted = ActingTicks(start, 10);
        ASSERT_EQ(acted.size(), 10u);
        EXPECT_EQ(acted.front(), start);
        for (size_t i = 1; i < acted.size(); i++) {
            uint64_t gap = acted[i] - acted[i - 1];
            EXPECT_GE(gap, kNoticeQuietMs);
            EXPECT_LT(gap, kNoticeQuietMs + 200000);
        }
    }
}

TEST(NoticeRules, ParentAddress)
{
    EXPECT_EQ(ParentAddress("http://h:1/YXProgect/yxyt/"), "http://h:1/YXProgect/");
    EXPECT_EQ(ParentAddress("http://h/YXProgect/yxyt"), "http://h/YXProgect/");
    EXPECT_EQ(ParentAddress("https://a.b/x/YXProgect/yxyt//"), "https://a.b/x/YXProgect/");
}

TEST(NoticeRules, SoundAddressIsOneQuotedWebAddress)
{
    std::string command = "unchanged";
    ASSERT_TRUE(SoundOpenCommand("http://h/notice.wav", command));
    EXPECT_EQ(command, "open \"http://h/notice.wav\" alias sound");
    ASSERT_TRUE(SoundOpenCommand("HTTPS://h:8443/a.mp3?x=1", command));
    EXPECT_EQ(command, "open \"HTTPS://h:8443/a.mp3?x=1\" alias sound");

    // Only web addresses: no local file, no share, nothing that could
    // leave the quoted word.
    command = "unchanged";
    for (const char* refused :
         {"", "C:\\Sounds\\notice one.wav", "C:\\Sounds\\notice.wav", "\\\\host\\share\\x.wav", "//host/share/x.wav",
          "file:///C:/x.wav", "notice.wav", "http://h/a.mp3 alias x", "http://h/a.wav\" alias other wait \"",
          "a.wav\" alias other wait \"", "\"", "http://h/a\r\nplay x"})
        EXPECT_FALSE(SoundOpenCommand(refused, command)) << refused;
    EXPECT_EQ(command, "unchanged");
}

} // namespace
