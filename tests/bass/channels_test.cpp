// The channel table driven the way the mixer thread drives it: renders are
// explicit calls here, so positions and restarts are checked frame-exact.
// Each file frame n carries the value n + 1 (scaled), so a rendered block
// tells which file frames it played.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "bass/channels.h"
#include "bass/decoder.h"
#include "tests/bass/counting_decoder.h"

namespace {

// Frame index (file frame) a rendered left sample stands for; -1 for silence.
long FrameOf(float left)
{
    return left == 0.0f ? -1 : std::lround(left / Scale) - 1;
}

struct SyncLog {
    std::mutex Lock;
    std::condition_variable Changed;
    std::vector<uint32_t> Channels;
    std::vector<uint32_t> Syncs;
    std::function<void(uint32_t)> OnEnd;
};
SyncLog* Log = nullptr;

void RecordSync(void*, uint32_t sync, uint32_t channel, void*)
{
    std::function<void(uint32_t)> then;
    {
        std::lock_guard<std::mutex> hold(Log->Lock);
        then = Log->OnEnd;
    }
    if (then)
        then(channel);
    {
        std::lock_guard<std::mutex> hold(Log->Lock);
        Log->Channels.push_back(channel);
        Log->Syncs.push_back(sync);
    }
    Log->Changed.notify_all();
}

class Channels : public ::testing::Test {
protected:
    static constexpr uint32_t Rate = 8000;
    SyncLog log;
    std::vector<float> block;

    void SetUp() override
    {
        Log = &log;
        ASSERT_TRUE(ChannelsOpen(Rate, RecordSync));
    }
    void TearDown() override
    {
        ChannelsClose();
        Log = nullptr;
    }
    uint32_t Make(uint64_t frames, uint32_t channels = 2, uint32_t rate = Rate)
    {
        return ChannelCreate(std::make_unique<CountingDecoder>(rate, channels, frames));
    }
    const std::vector<float>& Render(size_t frames)
    {
        block.assign(frames * 2, 1.0f);
        RenderMix(block.data(), frames);
        return block;
    }
    bool WaitSyncs(size_t count)
    {
        std::unique_lock<std::mutex> hold(log.Lock);
        return log.Changed.wait_for(hold, std::chrono::seconds(10), [&] { return log.Channels.size() >= count; });
    }
};

TEST_F(Channels, NewChannelIsStoppedAtZeroWithVolumeOne)
{
    uint32_t h = Make(1000);
    ASSERT_NE(h, 0u);
    float v = 0;
    EXPECT_TRUE(ChannelGetVolume(h, &v));
    EXPECT_EQ(v, 1.0f);
    EXPECT_EQ(ChannelGetPosition(h), 0u);
    for (float s : Render(256))
        ASSERT_EQ(s, 0.0f);
    EXPECT_EQ(ChannelGetPosition(h), 0u);
}

TEST_F(Channels, PlayPauseResumeRestartStop)
{
    uint32_t h = Make(1000, 2);
    ASSERT_TRUE(ChannelPlay(h, true));
    auto& b = Render(100);
    EXPECT_EQ(FrameOf(b[0]), 0);
    EXPECT_EQ(FrameOf(b[198]), 99);
    EXPECT_EQ(b[199], -b[198]);
    EXPECT_EQ(ChannelGetPosition(h), 100u * 4);

    ASSERT_TRUE(ChannelPause(h));
    for (float s : Render(50))
        ASSERT_EQ(s, 0.0f);
    EXPECT_EQ(ChannelGetPosition(h), 400u);

    ASSERT_TRUE(ChannelPlay(h, false));
    EXPECT_EQ(FrameOf(Render(10)[0]), 100);
    EXPECT_EQ(ChannelGetPosition(h), 110u * 4);

    ASSERT_TRUE(ChannelStop(h));
    for (float s : Render(50))
        ASSERT_EQ(s, 0.0f);
    EXPECT_EQ(ChannelGetPosition(h), 440u);
    ASSERT_TRUE(ChannelPlay(h, false));
    EXPECT_EQ(FrameOf(Render(10)[0]), 110);

    // A new hit cuts off the last one in the very next block.
    ASSERT_TRUE(ChannelPlay(h, true));
    EXPECT_EQ(FrameOf(Render(10)[0]), 0);
    EXPECT_EQ(ChannelGetPosition(h), 40u);
}

int64_t FakeNow = 0;
int64_t FakeClock()
{
    return FakeNow;
}

// Blocks at the device's pace: a channel starts as far into the next
// block as its play call came after the last block was taken, so two hits
// keep the interval of their calls; without that pace (a device started
// for the hit) it starts with the block.
TEST_F(Channels, PlayCallsKeepTheirTimingInsideTheNextBlock)
{
    ChannelsSetClock(FakeClock);
    const int64_t ms = 1000000;
    const size_t period = Rate / 100;
    std::vector<float> out(period * 2);
    auto firstFrame = [&](uint32_t h, int64_t playAt, bool onTime) {
        FakeNow = playAt;
        ChannelPlay(h, true);
        FakeNow = (playAt / (10 * ms) + 1) * 10 * ms;
        RenderMix(out.data(), period, nullptr, onTime);
        for (size_t i = 0; i < period; i++)
            if (out[2 * i] != 0.0f)
                return out[2 * i] == Scale ? (int)i : -2;
        return -1;
    };
    uint32_t a = Make(2000), b = Make(2000);
    FakeNow = 10 * ms;
    RenderMix(out.data(), period, nullptr, true);
    // 3 ms and 7.5 ms after the block at 10 ms, blocks 10 ms apart.
    EXPECT_EQ(firstFrame(a, 13 * ms, true), (int)(Rate * 3 / 1000));
    ChannelStop(a);
    EXPECT_EQ(firstFrame(b, 27 * ms + ms / 2, true), (int)(Rate * 75 / 10000));
    ChannelStop(b);
    EXPECT_EQ(firstFrame(a, 33 * ms, false), 0);
    ChannelStop(a);
    // A call that came long after the last block (the mixer was late)
    // still starts inside this one.
    FakeNow = 150 * ms;
    ChannelPlay(b, true);
    FakeNow = 200 * ms;
    RenderMix(out.data(), period, nullptr, true);
    EXPECT_EQ(out[2 * (period - 1)], Scale);
    ChannelsSetClock(nullptr);
}

// Each block stands for the time of the frames before it, not for the
// time between the mixer thread's wake-ups: a thread that wakes a few
// milliseconds late (as under Wine, or a busy machine) places every hit
// as far from the others as its call was, and a call that came after the
// block's time, though before the late wake-up, waits for the next block.
// Where every wake-up comes later from one on (the process stalled and
// the device's time moved), the blocks follow after one.
TEST_F(Channels, HitsKeepTheIntervalsOfTheirCallsWhateverTheWakeUps)
{
    ChannelsSetClock(FakeClock);
    const int64_t us = 1000;
    const size_t period = Rate / 100;
    struct Wake {
        int64_t at;
        std::vector<int64_t> calls; // play calls before this wake-up
    };
    // Blocks are due every 10 ms from 10 ms on, and 7 ms later from 100 ms on.
    const int64_t moved = 100000;
    const std::vector<Wake> wakes = {
        {10000, {}},
        {20000, {13000, 19000}},
        {34600, {24000, 29875, 31000, 33000}},
        {40000, {36000}},
        {51500, {41000, 47500, 50125}},
        {60000, {51750}},
        {72900, {60500, 65000, 71000}},
        {80000, {}},
        {90000, {84000}},
        {107000, {93000}},
        {117000, {}},
        {127000, {119000, 124000}},
        {137000, {131000, 135000}},
        {147000, {140000}},
    };
    std::vector<int64_t> called;
    std::vector<long> heard; // device frame of each hit, in order of calls
    std::vector<float> out(period * 2);
    for (size_t w = 0; w < wakes.size(); w++) {
        for (int64_t at : wakes[w].calls) {
            uint32_t h = Make(1);
            heard.push_back(-1);
            called.push_back(at);
            FakeNow = at * us;
            ASSERT_TRUE(ChannelPlay(h, true));
        }
        FakeNow = wakes[w].at * us;
        size_t voices = 0;
        RenderMix(out.data(), period, &voices, w > 0);
        // Those that wait count as playing: the device must not idle on them.
        EXPECT_EQ(voices, (size_t)std::count(heard.begin(), heard.end(), -1)) << "block " << w;
        // One frame each, no two in one frame: each sample's value is its own.
        for (size_t i = 0; i < period; i++) {
            if (out[2 * i] == 0.0f)
                continue;
            ASSERT_EQ(out[2 * i], Scale) << "block " << w << " frame " << i;
            auto next = std::find(heard.begin(), heard.end(), -1);
            ASSERT_NE(next, heard.end()) << "block " << w << " frame " << i;
            *next = (long)(w * period + i);
        }
    }
    // Against the first hit before the move, and the first after it.
    const size_t after = std::find_if(called.begin(), called.end(), [&](int64_t at) { return at >= moved; }) -
                         called.begin();
    for (size_t i = 0; i < heard.size(); i++) {
        ASSERT_GE(heard[i], 0) << "call " << i << " never heard";
        const size_t first = i < after ? 0 : after;
        const double apart = (double)(called[i] - called[first]) * Rate / 1e6;
        EXPECT_NEAR((double)(heard[i] - heard[first]), apart, 1.0) << "call at " << called[i] << " us";
    }
    ChannelsSetClock(nullptr);
}

TEST_F(Channels, PositionsCountTheFileAsSixteenBitAtItsOwnRateAndChannels)
{
    uint32_t mono = Make(1000, 1, 4000); // played at twice its rate
    uint32_t six = Make(1000, 6);
    ASSERT_TRUE(ChannelPlay(mono, true));
    ASSERT_TRUE(ChannelPlay(six, true));
    Render(200);
    EXPECT_EQ(ChannelGetPosition(mono), 100u * 1 * 2);
    EXPECT_EQ(ChannelGetPosition(six), 200u * 6 * 2);
}

TEST_F(Channels, SetPositionMovesAndRefusesTheEnd)
{
    uint32_t h = Make(1000, 2);
    EXPECT_FALSE(ChannelSetPosition(h, 1000 * 4));
    EXPECT_FALSE(ChannelSetPosition(h, 5000 * 4));
    EXPECT_EQ(ChannelGetPosition(h), 0u);
    ASSERT_TRUE(ChannelSetPosition(h, 999 * 4));
    EXPECT_EQ(ChannelGetPosition(h), 999u * 4);
    ASSERT_TRUE(ChannelSetPosition(h, 500 * 4 + 3)); // inside a frame: that frame
    EXPECT_EQ(ChannelGetPosition(h), 500u * 4);
    ASSERT_TRUE(ChannelPlay(h, false));
    EXPECT_EQ(FrameOf(Render(4)[0]), 500);
}

TEST_F(Channels, VolumeIsHeldInsideZeroToOneAndScalesTheOutput)
{
    uint32_t h = Make(1000);
    float v = -1;
    ASSERT_TRUE(ChannelSetVolume(h, 1.5f));
    ChannelGetVolume(h, &v);
    EXPECT_EQ(v, 1.0f);
    ASSERT_TRUE(ChannelSetVolume(h, -0.2f));
    ChannelGetVolume(h, &v);
    EXPECT_EQ(v, 0.0f);
    ASSERT_TRUE(ChannelSetVolume(h, 0.5f));
    ChannelGetVolume(h, &v);
    EXPECT_EQ(v, 0.5f);
    ChannelPlay(h, true);
    EXPECT_FLOAT_EQ(Render(8)[6], 4 * Scale * 0.5f);
}

TEST_F(Channels, EndRoutineRunsOnceForEachEndAndMayRestart)
{
    uint32_t h = Make(300);
    uint32_t sync = ChannelSetEndSync(h, (void*)1, nullptr, false);
    ASSERT_NE(sync, 0u);
    ChannelPlay(h, true);
    Render(256);
    auto& b = Render(256);
    EXPECT_EQ(FrameOf(b[2 * 43]), 299);
    EXPECT_EQ(b[2 * 44], 0.0f); // silence after the end
    ASSERT_TRUE(WaitSyncs(1));
    EXPECT_EQ(ChannelGetPosition(h), 300u * 4);
    Render(512);                        // nothing more to end
    ASSERT_TRUE(ChannelPlay(h, false)); // at the end: from the start again
    EXPECT_EQ(FrameOf(Render(1)[0]), 0);
    Render(400);
    ASSERT_TRUE(WaitSyncs(2));
    std::lock_guard<std::mutex> hold(log.Lock);
    EXPECT_EQ(log.Channels, (std::vector<uint32_t>{h, h}));
    EXPECT_EQ(log.Syncs, (std::vector<uint32_t>{sync, sync}));
}

TEST_F(Channels, EndRoutineCanRestartItsChannel)
{
    uint32_t h = Make(100);
    ChannelSetEndSync(h, (void*)1, nullptr, false);
    log.OnEnd = [](uint32_t ch) { ChannelPlay(ch, true); };
    ChannelPlay(h, true);
    for (int loop = 1; loop <= 20; loop++) {
        // The restart from the routine is in before the next block is asked for.
        auto& b = Render(100);
        ASSERT_EQ(FrameOf(b[0]), 0) << loop;
        ASSERT_EQ(FrameOf(b[198]), 99) << loop;
        ASSERT_TRUE(WaitSyncs(loop));
    }
}

TEST_F(Channels, FreedAndClosedHandlesFailAndAreNotReused)
{
    std::vector<uint32_t> seen;
    for (int i = 0; i < 2000; i++) {
        uint32_t h = Make(10);
        ASSERT_NE(h, 0u);
        for (uint32_t old : seen)
            ASSERT_NE(old, h);
        seen.push_back(h);
        if (seen.size() > 50)
            seen.erase(seen.begin());
        ASSERT_TRUE(ChannelFree(h));
        float v;
        EXPECT_FALSE(ChannelFree(h));
        EXPECT_FALSE(ChannelPlay(h, true));
        EXPECT_FALSE(ChannelGetVolume(h, &v));
        EXPECT_EQ(ChannelGetPosition(h), kNoPosition);
    }
    uint32_t live = Make(10);
    ChannelsClose();
    EXPECT_FALSE(ChannelPlay(live, true));
    EXPECT_EQ(ChannelCreate(std::make_unique<CountingDecoder>(Rate, 2, 10)), 0u);
    ASSERT_TRUE(ChannelsOpen(Rate, RecordSync));
    EXPECT_NE(Make(10), live);
    EXPECT_FALSE(ChannelsOpen(Rate, RecordSync));
}

TEST_F(Channels, LongFilesStreamThroughTheFeederInOrder)
{
    // 30 s at 1 kHz: longer than what is decoded at creation.
    ChannelsClose();
    ASSERT_TRUE(ChannelsOpen(1000, RecordSync));
    uint32_t h = Make(30000, 2, 1000);
    ASSERT_NE(ChannelSetEndSync(h, (void*)1, nullptr, false), 0u);
    ASSERT_TRUE(ChannelPlay(h, true));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    long expected = 0;
    bool seeked = false;
    while (expected < 30000 && std::chrono::steady_clock::now() < deadline) {
        auto& b = Render(700);
        for (size_t i = 0; i < 700; i++) {
            long f = FrameOf(b[2 * i]);
            if (f < 0)
                continue; // the feeder had not caught up: silence, not stale audio
            ASSERT_EQ(f, expected);
            expected++;
        }
        if (!seeked && expected > 5000) {
            ASSERT_TRUE(ChannelSetPosition(h, 20000 * 4));
            expected = 20000;
            seeked = true;
        }
        std::this_thread::yield();
    }
    EXPECT_EQ(expected, 30000);
    ASSERT_TRUE(WaitSyncs(1));
    EXPECT_EQ(ChannelGetPosition(h), 30000u * 4);
}

// A hit played for the hits' lane is mixed there alone; a stream asked
// the same stays on lane 0, and a hit played without it comes back there.
TEST_F(Channels, HitsPlayOnTheirOwnLaneAndStreamsStayOnTheFirst)
{
    ChannelsClose();
    ASSERT_TRUE(ChannelsOpen(1000, RecordSync));
    uint32_t music = Make(30000, 2, 1000); // decoded as it plays
    uint32_t hit = Make(100, 2, 1000);     // decoded whole
    ASSERT_TRUE(ChannelSetVolume(music, 0.5f));
    ASSERT_TRUE(ChannelPlay(music, true, true));
    ASSERT_TRUE(ChannelPlay(hit, true, true));
    std::vector<float> lane(200 * 2);
    RenderMix(lane.data(), 200, nullptr, false, 1);
    for (size_t i = 0; i < 200; i++)
        ASSERT_EQ(lane[2 * i], i < 100 ? (float)(i + 1) * Scale : 0.0f) << "frame " << i;

    // Lane 0 has the music alone, once the feeder has decoded it.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    long next = 0;
    while (next < 300 && std::chrono::steady_clock::now() < deadline) {
        RenderMix(lane.data(), 100, nullptr, false, 0);
        for (size_t i = 0; i < 100; i++) {
            if (lane[2 * i] == 0.0f)
                continue;
            ASSERT_EQ(lane[2 * i], 0.5f * (float)(next + 1) * Scale) << "music frame " << next;
            next++;
        }
        std::this_thread::yield();
    }
    ASSERT_GE(next, 300);

    ASSERT_TRUE(ChannelPlay(hit, true, false));
    RenderMix(lane.data(), 100, nullptr, false, 1);
    for (float v : lane)
        ASSERT_EQ(v, 0.0f);
    RenderMix(lane.data(), 100, nullptr, false, 0);
    EXPECT_EQ(lane[0], Scale + 0.5f * (float)(next + 1) * Scale);
}

// Both lanes mix on threads of their own, each busy with many voices,
// while hits are played on either, freed as soon as they sound and the
// feeder is woken to free at once: a freed hit's samples must outlive the
// block of each lane still reading them (the sanitizer build reports a
// read after the free).
TEST_F(Channels, AFreedChannelOutlivesTheBlocksOfBothLanes)
{
    for (int i = 0; i < 128; i++)
        ASSERT_TRUE(ChannelPlay(Make(10 * Rate), true, i % 2 == 0));
    std::atomic<bool> stop{false};
    auto mix = [&](uint32_t lane) {
        std::vector<float> out(2048 * 2);
        while (!stop.load())
            RenderMix(out.data(), 2048, nullptr, false, lane);
    };
    std::thread first(mix, 0), second(mix, 1);
    uint32_t music = Make(30 * Rate);
    for (int i = 0; i < 1000; i++) {
        uint32_t hit = Make(8 * Rate);
        ASSERT_NE(hit, 0u);
        ChannelPlay(hit, true, i % 2 == 0);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (ChannelGetPosition(hit) == 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        ASSERT_TRUE(ChannelFree(hit));
        // Wakes the feeder, which frees what is retired, and leaves it a core.
        ChannelSetPosition(music, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    stop.store(true);
    first.join();
    second.join();
}

TEST_F(Channels, ConcurrentPlayPauseAndVolumeLoseNothing)
{
    uint32_t h = Make(4000);
    std::atomic<bool> done{false};
    std::thread mixer([&] {
        std::vector<float> b(64 * 2);
        while (!done.load())
            RenderMix(b.data(), 64);
    });
    for (int i = 0; i < 20000; i++) {
        ChannelPlay(h, i % 7 == 0);
        ChannelSetVolume(h, (i % 101) / 100.0f);
        ChannelPause(h);
    }
    ChannelSetVolume(h, 0.37f);
    done.store(true);
    mixer.join();
    float v = 0;
    ASSERT_TRUE(ChannelGetVolume(h, &v));
    EXPECT_EQ(v, 0.37f);
    uint64_t pos = ChannelGetPosition(h);
    Render(16);
    EXPECT_EQ(ChannelGetPosition(h), pos); // paused stays paused
}

} // namespace
