// A channel's voices, rendered the way the mixer thread renders them:
// hits that ring over each other, the count, the steal's fade, fade-out,
// pause and stop of all voices, each hit's gain, and each voice's own
// place and lane.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "bass/channels.h"
#include "bass/decoder.h"
#include "tests/bass/counting_decoder.h"

namespace {

constexpr uint32_t Rate = 8000;
constexpr size_t Ms = Rate / 1000;

// A hit that rises over `attack` frames to `level` and stays there: a
// click shows as a step far above the attack's.
class LevelDecoder : public Decoder {
public:
    LevelDecoder(uint64_t frames, float level, uint32_t attack) : frames_(frames), level_(level), attack_(attack) {}
    uint32_t SampleRate() const override { return Rate; }
    uint32_t FileChannels() const override { return 2; }
    uint64_t LengthFrames() const override { return frames_; }
    size_t Read(float* stereo, size_t frames) override
    {
        size_t n = (size_t)std::min<uint64_t>(frames, frames_ - pos_);
        for (size_t i = 0; i < n; i++)
            stereo[2 * i] = stereo[2 * i + 1] = level_ * std::min<float>(1.0f, (float)(pos_ + i) / attack_);
        pos_ += n;
        return n;
    }
    bool Seek(uint64_t frame) override
    {
        pos_ = frame;
        return frame < frames_;
    }

private:
    uint64_t frames_, pos_ = 0;
    float level_;
    uint32_t attack_;
};

void NoSync(void*, uint32_t, uint32_t, void*)
{}

class Voices : public ::testing::Test {
protected:
    std::vector<float> heard; // left samples of every render, in order

    void SetUp() override { ASSERT_TRUE(ChannelsOpen(Rate, NoSync)); }
    void TearDown() override { ChannelsClose(); }

    uint32_t Counting(uint64_t frames, uint32_t voices)
    {
        uint32_t h = ChannelCreate(std::make_unique<CountingDecoder>(Rate, 2, frames));
        EXPECT_TRUE(ChannelSetVoices(h, voices));
        return h;
    }
    uint32_t Level(uint64_t frames, float level, uint32_t voices)
    {
        uint32_t h = ChannelCreate(std::make_unique<LevelDecoder>(frames, level, 40 * Ms));
        EXPECT_TRUE(ChannelSetVoices(h, voices));
        return h;
    }
    // Renders `frames` and keeps their left side; returns where they start in `heard`.
    size_t Render(size_t frames)
    {
        std::vector<float> block(frames * 2);
        RenderMix(block.data(), frames);
        size_t at = heard.size();
        for (size_t i = 0; i < frames; i++)
            heard.push_back(block[2 * i]);
        return at;
    }
    float MaxStep(size_t from, size_t to) const
    {
        float most = 0;
        for (size_t i = std::max<size_t>(from, 1); i < to; i++)
            most = std::max(most, std::fabs(heard[i] - heard[i - 1]));
        return most;
    }
};

// Two hits 80 ms apart: the second starts from its first frame while the
// first rings on where it was, frame for frame.
TEST_F(Voices, ASecondHitRingsOverTheFirst)
{
    uint32_t h = Counting(4000, 2);
    ASSERT_TRUE(ChannelPlay(h, true));
    Render(80 * Ms);
    ASSERT_TRUE(ChannelPlay(h, true));
    EXPECT_EQ(ChannelGetVoices(h), 2u);
    size_t at = Render(200 * Ms);
    for (size_t i = 0; i < 200 * Ms; i++)
        ASSERT_EQ(heard[at + i], (float)(80 * Ms + i + 1) * Scale + (float)(i + 1) * Scale) << "frame " << i;
    // The first ends first; the second rings on alone, and the channel's
    // position is the newest hit's.
    Render(4000 - 280 * Ms);
    EXPECT_EQ(ChannelGetVoices(h), 1u);
    EXPECT_EQ(ChannelGetPosition(h), (4000 - 80 * Ms) * 4);
}

// Two calls within one block, each placed by its time: both start where
// their calls came, although neither was mixed before the second.
TEST_F(Voices, TwoHitsInOneBlockKeepTheirPlaces)
{
    static int64_t now = 0;
    ChannelsSetClock([] { return now; });
    const int64_t ms = 1000000;
    uint32_t h = Counting(4000, 4);
    std::vector<float> block(10 * Ms * 2);
    now = 10 * ms;
    RenderMix(block.data(), 10 * Ms, nullptr, true);
    now = 12 * ms;
    ChannelPlay(h, true);
    now = 16 * ms;
    ChannelPlay(h, true);
    now = 20 * ms;
    RenderMix(block.data(), 10 * Ms, nullptr, true);
    ChannelsSetClock(nullptr);
    for (size_t i = 0; i < 10 * Ms; i++) {
        const float first = i >= 2 * Ms ? (float)(i - 2 * Ms + 1) * Scale : 0.0f;
        const float second = i >= 6 * Ms ? (float)(i - 6 * Ms + 1) * Scale : 0.0f;
        ASSERT_EQ(block[2 * i], first + second) << "frame " << i;
    }
}

// Ten hits: never more than the count sound, and a stolen voice fades out
// in a few milliseconds with no step above the attack's own.
TEST_F(Voices, TheOldestIsStolenWithAFadeAndTheCountHolds)
{
    const float level = 0.15f;
    uint32_t h = Level(8000, level, 4);
    size_t from = heard.size();
    for (int hit = 0; hit < 10; hit++) {
        ASSERT_TRUE(ChannelPlay(h, true));
        EXPECT_EQ(ChannelGetVoices(h), std::min(hit + 1, 4)) << "hit " << hit;
        Render(50 * Ms);
        EXPECT_LE(ChannelGetVoices(h), 4u);
    }
    // The attack rises by level / 320 a frame; a cut voice would step by `level`.
    EXPECT_LT(MaxStep(from, heard.size()), level / 10);
    // Once the last hit's attack is over, four voices at full level and
    // no trace of the stolen ones.
    Render(10 * Ms);
    EXPECT_NEAR(heard.back(), 4 * level, 1e-5);
}

TEST_F(Voices, FadeOutTakesEveryVoiceToSilenceAndStops)
{
    const float level = 0.2f;
    uint32_t h = Level(8000, level, 3);
    for (int hit = 0; hit < 3; hit++) {
        ASSERT_TRUE(ChannelPlay(h, true));
        Render(50 * Ms);
    }
    ASSERT_NEAR(heard.back(), 3 * level, 1e-5);
    ASSERT_TRUE(ChannelFadeOut(h, 20));
    EXPECT_EQ(ChannelGetVoices(h), 3u);
    size_t at = Render(30 * Ms);
    EXPECT_NEAR(heard[at + 10 * Ms], 1.5f * level, 0.01f);
    for (size_t i = at + 1; i < at + 20 * Ms; i++)
        ASSERT_LT(heard[i], heard[i - 1]) << "frame " << i - at;
    for (size_t i = at + 20 * Ms; i < heard.size(); i++)
        ASSERT_EQ(heard[i], 0.0f) << "frame " << i - at;
    EXPECT_EQ(ChannelGetVoices(h), 0u);
    // Stopped as by a stop call: a new hit is one voice at full level.
    ASSERT_TRUE(ChannelPlay(h, true));
    Render(50 * Ms);
    EXPECT_EQ(ChannelGetVoices(h), 1u);
    EXPECT_NEAR(heard.back(), level, 1e-5);
}

TEST_F(Voices, PauseResumeAndStopActOnEveryVoice)
{
    uint32_t h = Counting(4000, 3);
    ChannelPlay(h, true);
    Render(10 * Ms);
    ChannelPlay(h, true);
    Render(10 * Ms);
    ASSERT_TRUE(ChannelPause(h));
    EXPECT_EQ(ChannelGetVoices(h), 0u);
    size_t at = Render(20 * Ms);
    EXPECT_TRUE(std::all_of(heard.begin() + at, heard.end(), [](float s) { return s == 0.0f; }));
    // Each goes on from where it was paused.
    ASSERT_TRUE(ChannelPlay(h, false));
    EXPECT_EQ(ChannelGetVoices(h), 2u);
    at = Render(1);
    EXPECT_EQ(heard[at], (float)(20 * Ms + 1) * Scale + (float)(10 * Ms + 1) * Scale);
    ASSERT_TRUE(ChannelStop(h));
    EXPECT_EQ(ChannelGetVoices(h), 0u);
    at = Render(20 * Ms);
    EXPECT_TRUE(std::all_of(heard.begin() + at, heard.end(), [](float s) { return s == 0.0f; }));
    ASSERT_TRUE(ChannelPlay(h, true));
    EXPECT_EQ(ChannelGetVoices(h), 1u);
    EXPECT_EQ(heard[Render(1)], Scale);
}

// A hit's gain is its own; the channel's volume scales every voice.
TEST_F(Voices, EachHitHasItsGainAndTheVolumeScalesThemAll)
{
    uint32_t h = Level(8000, 0.4f, 2);
    ASSERT_TRUE(ChannelPlay(h, true, 0, nullptr, nullptr, 0.25f));
    Render(50 * Ms);
    EXPECT_NEAR(heard.back(), 0.1f, 1e-6);
    ASSERT_TRUE(ChannelPlay(h, true));
    Render(50 * Ms);
    EXPECT_NEAR(heard.back(), 0.5f, 1e-6);
    ASSERT_TRUE(ChannelSetVolume(h, 0.5f));
    Render(1);
    EXPECT_NEAR(heard.back(), 0.25f, 1e-6);
    // Out of range, the gain is held to 0 .. 1; not a number, refused.
    ASSERT_TRUE(ChannelSetVolume(h, 1.0f));
    ASSERT_TRUE(ChannelSetVoices(h, 1));
    ASSERT_TRUE(ChannelPlay(h, true, 0, nullptr, nullptr, 7.0f));
    Render(50 * Ms);
    EXPECT_NEAR(heard.back(), 0.4f, 1e-6);
    EXPECT_FALSE(ChannelPlay(h, true, 0, nullptr, nullptr, std::nanf("")));
}

// The recorder logs each hit with its own gain, a hit left ringing
// before it was ever mixed included.
TEST_F(Voices, EveryHitReachesTheRecordersLogWithItsGain)
{
    uint32_t h = Counting(4000, 2);
    ASSERT_TRUE(ChannelPlay(h, true, 0, nullptr, nullptr, 0.25f));
    ASSERT_TRUE(ChannelPlay(h, true));
    Render(10 * Ms);
    const Onset* onsets = nullptr;
    ASSERT_EQ(ChannelsOnsets(0, &onsets), 2u);
    std::vector<float> gains = {onsets[0].gain, onsets[1].gain};
    std::sort(gains.begin(), gains.end());
    EXPECT_EQ(gains, (std::vector<float>{0.25f, 1.0f}));
    EXPECT_EQ(onsets[0].handle, h);
    EXPECT_EQ(onsets[1].handle, h);
}

// Fewer voices allowed than ring: the oldest go, faded, at once.
TEST_F(Voices, CountsOutsideOneToFourAndStreamsAreRefused)
{
    uint32_t h = Level(8000, 0.1f, 4);
    for (int hit = 0; hit < 4; hit++) {
        ChannelPlay(h, true);
        Render(10 * Ms);
    }
    ASSERT_EQ(ChannelGetVoices(h), 4u);
    ASSERT_TRUE(ChannelSetVoices(h, 2));
    EXPECT_EQ(ChannelGetVoices(h), 2u);
    size_t from = Render(20 * Ms);
    EXPECT_LT(MaxStep(from - 1, heard.size()), 0.05f);
    EXPECT_FALSE(ChannelSetVoices(h, 0));
    EXPECT_FALSE(ChannelSetVoices(h, 5));
    EXPECT_EQ(ChannelGetVoices(0), kNoVoices);
    // Longer than what is held in memory: one position, one voice.
    uint32_t music = ChannelCreate(std::make_unique<CountingDecoder>(Rate, 2, 30 * Rate));
    EXPECT_FALSE(ChannelSetVoices(music, 2));
    EXPECT_TRUE(ChannelSetVoices(music, 1));
}

// Every voice has its own place: moving the newest leaves the older where
// it was, the older rings on past the newest's end, and a pause and a
// resume then act on it alone, the newest staying ended.
TEST_F(Voices, AnOlderVoiceKeepsItsPlaceWhileTheNewestMovesAndEnds)
{
    uint32_t h = Counting(4000, 2);
    ASSERT_TRUE(ChannelPlay(h, true));
    Render(80 * Ms);
    ASSERT_TRUE(ChannelPlay(h, true));
    ASSERT_TRUE(ChannelSetPosition(h, (4000 - 10 * Ms) * 4));
    size_t at = Render(20 * Ms);
    for (size_t i = 0; i < 20 * Ms; i++) {
        const float newest = i < 10 * Ms ? (float)(4000 - 10 * Ms + i + 1) * Scale : 0.0f;
        ASSERT_EQ(heard[at + i], (float)(80 * Ms + i + 1) * Scale + newest) << "frame " << i;
    }
    EXPECT_EQ(ChannelGetVoices(h), 1u);
    EXPECT_EQ(ChannelGetPosition(h), 4000u * 4);
    ASSERT_TRUE(ChannelPause(h));
    at = Render(10 * Ms);
    EXPECT_TRUE(std::all_of(heard.begin() + at, heard.end(), [](float s) { return s == 0.0f; }));
    ASSERT_TRUE(ChannelPlay(h, false));
    EXPECT_EQ(ChannelGetVoices(h), 1u);
    EXPECT_EQ(heard[Render(1)], (float)(100 * Ms + 1) * Scale);
    EXPECT_EQ(ChannelGetPosition(h), 4000u * 4);
}

// Twelve hits before a single block: more than the slots hold, so the
// last ones cut stolen voices short. Four sound, and once the steals have
// faded the block is those four alone, each from its first frame.
TEST_F(Voices, ABurstOfHitsBeyondTheSlotsKeepsTheCount)
{
    uint32_t h = Counting(4000, 4);
    for (int hit = 0; hit < 12; hit++) {
        ASSERT_TRUE(ChannelPlay(h, true));
        ASSERT_EQ(ChannelGetVoices(h), std::min(hit + 1, 4)) << "hit " << hit;
    }
    Render(10 * Ms);
    size_t at = Render(10 * Ms);
    for (size_t i = 0; i < 10 * Ms; i++)
        ASSERT_EQ(heard[at + i], 4 * (float)(10 * Ms + i + 1) * Scale) << "frame " << i;
    EXPECT_EQ(ChannelGetPosition(h), 20 * Ms * 4);
}

// A voice rings on the lane it was played on while the next hit of the
// channel plays on another.
TEST_F(Voices, EachVoiceStaysOnTheLaneItWasPlayedOn)
{
    uint32_t h = Counting(4000, 2);
    std::vector<float> lane0(10 * Ms * 2), lane1(10 * Ms * 2);
    ASSERT_TRUE(ChannelPlay(h, true, 1));
    RenderMix(lane1.data(), 10 * Ms, nullptr, false, 1);
    ASSERT_TRUE(ChannelPlay(h, true, 0));
    RenderMix(lane0.data(), 10 * Ms, nullptr, false, 0);
    RenderMix(lane1.data(), 10 * Ms, nullptr, false, 1);
    for (size_t i = 0; i < 10 * Ms; i++) {
        ASSERT_EQ(lane0[2 * i], (float)(i + 1) * Scale) << "frame " << i;
        ASSERT_EQ(lane1[2 * i], (float)(10 * Ms + i + 1) * Scale) << "frame " << i;
    }
}

} // namespace
