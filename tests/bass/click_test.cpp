// The metronome's timeline: beats on the exact grid of their tempo over a
// long take whatever the block sizes, the accent on the first of each bar,
// changes from the next beat, and beats lost in a gap of the device
// without moving the grid.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "bass/click.h"

namespace {

struct Heard {
    uint64_t frame;
    uint32_t place;
};

ClickSettings At(uint32_t milliBpm, uint32_t beats = 4)
{
    ClickSettings s;
    s.milliBpm = milliBpm;
    s.beats = beats;
    return s;
}

// Renders up to `until` in blocks of varying odd sizes; collects the beats
// the renderer lists and checks each against the samples it made: the
// click's first frame is its peak, the frame before it silent.
void RenderTo(ClickTimeline& t, uint64_t word, uint64_t until, std::vector<Heard>& heard)
{
    static const uint32_t sizes[] = {441, 1000, 37, 2048, 999, 1};
    std::vector<float> mono(4096);
    ClickBeat beats[16];
    size_t n = 0;
    float before = 0;
    for (size_t i = 0; t.pos < until; i++) {
        const uint32_t frames = (uint32_t)std::min<uint64_t>(sizes[i % 6], until - t.pos);
        const uint64_t start = t.pos;
        ClickRender(t, word, mono.data(), frames, beats, 16, &n);
        for (size_t b = 0; b < n; b++) {
            heard.push_back({start + beats[b].at, beats[b].place});
            const float prev = beats[b].at ? mono[beats[b].at - 1] : before;
            EXPECT_EQ(prev, 0.0f) << "silence before the beat at " << start + beats[b].at;
            EXPECT_GT(mono[beats[b].at], 0.2f) << "peak at the beat at " << start + beats[b].at;
        }
        before = mono[frames - 1];
    }
}

} // namespace

TEST(ClickTimeline, FiveMinutesAt137BpmStayOnTheGridWithAnAccentEveryFourthBeat)
{
    ClickTimeline t;
    ClickReset(t, 44100);
    std::vector<Heard> heard;
    RenderTo(t, ClickPack(At(137000), true, 1), 5ull * 60 * 44100, heard);
    ASSERT_EQ(heard.size(), 685u); // 137 a minute from frame 0; the next falls on the end
    for (size_t k = 0; k < heard.size(); k++) {
        const long double exact = (long double)k * 60 * 44100 / 137;
        EXPECT_LE(std::fabs((long double)heard[k].frame - exact), 0.5L) << "beat " << k;
        EXPECT_EQ(heard[k].place, k % 4 + 1) << "beat " << k;
    }
}

TEST(ClickTimeline, ChangesApplyFromTheNextBeatAndAStartBeginsABar)
{
    ClickTimeline t;
    ClickReset(t, 48000);
    std::vector<Heard> heard;
    // Nothing sounds while stopped; the start puts beat 1 on the next frame.
    RenderTo(t, ClickPack(At(120000), false, 0), 1000, heard);
    EXPECT_TRUE(heard.empty());
    RenderTo(t, ClickPack(At(120000), true, 1), 30000, heard);
    // 60 bpm given after the beat at 25000: the beat at 49000 keeps its
    // place, the one after it is a second later.
    RenderTo(t, ClickPack(At(60000), true, 1), 150000, heard);
    // Three beats a bar from the next: it starts a bar.
    RenderTo(t, ClickPack(At(60000, 3), true, 1), 250000, heard);
    // A stop and a start between two blocks begin a new bar at once.
    RenderTo(t, ClickPack(At(60000, 3), true, 2), 250001, heard);
    const std::vector<Heard> expected = {{1000, 1},  {25000, 2},  {49000, 3},  {97000, 4},
                                         {145000, 1}, {193000, 1}, {241000, 2}, {250000, 1}};
    ASSERT_EQ(heard.size(), expected.size());
    for (size_t i = 0; i < expected.size(); i++) {
        EXPECT_EQ(heard[i].frame, expected[i].frame) << i;
        EXPECT_EQ(heard[i].place, expected[i].place) << i;
    }
}

TEST(ClickTimeline, ABeatInAGapOfTheDeviceIsLostAndTheNextStaysOnTheGrid)
{
    ClickTimeline t;
    ClickReset(t, 44100);
    std::vector<Heard> heard;
    const uint64_t word = ClickPack(At(137000), true, 1);
    RenderTo(t, word, 50000, heard);
    // The device played 8,000 frames of its own silence: the beat at
    // 57942 fell into them, and its click's tail does not sound after.
    ClickSkip(t, 8000);
    std::vector<float> mono(100);
    ClickBeat beats[4];
    size_t n = 0;
    EXPECT_FALSE(ClickRender(t, word, mono.data(), 100, beats, 4, &n));
    RenderTo(t, word, 200000, heard);
    const std::vector<Heard> expected = {{0, 1}, {19314, 2}, {38628, 3}, {77255, 1}, {96569, 2},
                                         {115883, 3}, {135197, 4}, {154511, 1}, {173825, 2}, {193139, 3}};
    ASSERT_EQ(heard.size(), expected.size());
    for (size_t i = 0; i < expected.size(); i++) {
        EXPECT_EQ(heard[i].frame, expected[i].frame) << i;
        EXPECT_EQ(heard[i].place, expected[i].place) << i;
    }
}

TEST(ClickTimeline, SettingsOutOfRangeAreClampedInTheWord)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct {
        ClickSettings in;
        uint32_t milliBpm, beats;
        float volume;
    } cases[] = {
        {{0, 0, -5.0f, false}, 30000, 1, 0.0f},
        {{4000000000u, 99, 1e30f, true}, 300000, 12, 1.0f},
        {{96500, 7, nan, false}, 96500, 7, 0.0f},
        {{120000, 4, 0.5f, true}, 120000, 4, 0.5f},
    };
    for (const auto& c : cases) {
        bool running = false;
        uint32_t starts = 0;
        ClickSettings out = ClickUnpack(ClickPack(c.in, true, 70000), &running, &starts);
        EXPECT_EQ(out.milliBpm, c.milliBpm);
        EXPECT_EQ(out.beats, c.beats);
        EXPECT_NEAR(out.volume, c.volume, 1.0 / 65535);
        EXPECT_EQ(out.record, c.in.record);
        EXPECT_TRUE(running);
        EXPECT_EQ(starts, 70000u & 0xffff);
    }
}
