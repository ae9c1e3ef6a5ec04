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

TEST(NoticeRules, OnlyWavAndMp3AreNoticeSounds)
{
    const struct {
        std::string bytes;
        bool sound;
    } cases[] = {
        {std::string("RIFF\x24\0\0\0WAVEfmt ", 16), true},
        {std::string("ID3\x04\0\0\0\0\0\x21", 10), true},
        // MPEG-1 layer III, 128 kbit/s, 44.1 kHz; MPEG-2 layer III, 64 kbit/s, 22.05 kHz.
        {"\xFF\xFB\x90\x64", true},
        {"\xFF\xF3\x80\xC4", true},
        // Layer II, bitrate "free" and "bad", sample rate reserved, version reserved.
        {"\xFF\xFD\x90\x64", false},
        {"\xFF\xFB\x00\x64", false},
        {"\xFF\xFB\xF0\x64", false},
        {"\xFF\xFB\x9C\x64", false},
        {"\xFF\xEB\x90\x64", false},
        // Other containers and texts, and what is too short to tell.
        {std::string("RIFF\x24\0\0\0AVI LIST", 16), false},
        {std::string("\x30\x26\xB2\x75\x8E\x66\xCF\x11", 8), false},
        {"OggS\0\x02", false},
        {"<html><body>404</body></html>", false},
        {"RIFF", false},
        {"ID3", false},
        {"\xFF\xFB", false},
        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsNoticeSound(c.bytes), c.sound) << ::testing::PrintToString(c.bytes);
}

} // namespace
