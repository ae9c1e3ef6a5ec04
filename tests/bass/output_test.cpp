// Each output backend on its own, in-process under Wine: it opens on the
// default device, asks for audio as the device drains, and takes it. Then
// the mixer thread on a device the test drives period by period: how it
// stops while nothing plays and starts again on a hit.
#include <gtest/gtest.h>

#include <windows.h>

#include <mmsystem.h>
#include <objbase.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <fstream>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "bass/channels.h"
#include "bass/click.h"
#include "bass/mixer.h"
#include "bass/output.h"
#include "bass/recorder.h"
#include "counting_decoder.h"
#include "tests/support/recorded_wav.h"
#include "wait_until.h"

namespace {

// The library opens its trace once, at the first line: the file is named
// before any test runs.
std::string TraceFile()
{
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    static const std::string path =
        std::string(dir) + "bass_output_test_trace_" + std::to_string(GetCurrentProcessId()) + ".txt";
    return path;
}
const bool TraceNamed = [] {
    DeleteFileA(TraceFile().c_str());
    return SetEnvironmentVariableA("YXYT_AUDIO_TRACE", TraceFile().c_str()) != FALSE;
}();

std::vector<std::string> TraceLines()
{
    std::vector<std::string> lines;
    std::ifstream in(TraceFile());
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// Writes a tone as the device asks for it until `frames` were taken,
// starting the device after the first fill; the device paces it.
void PlayFor(const OutputBackend& backend, const OutputFormat& format, uint64_t frames)
{
    std::vector<float> tone(65536 * 2);
    for (size_t i = 0; i < tone.size() / 2; i++)
        tone[2 * i] = tone[2 * i + 1] = 0.2f * std::sin(6.2831853f * 440 * i / format.rate);
    uint64_t written = 0;
    bool started = false;
    int idle = 0;
    while (written < frames && idle < 50) {
        uint32_t queued = 0;
        uint32_t asked = backend.wait(backend.self, started ? 200 : 0, &queued);
        EXPECT_LE(queued, format.bufferFrames);
        if (!asked) {
            idle++;
        } else {
            ASSERT_LE(asked, format.bufferFrames);
            ASSERT_TRUE(backend.write(backend.self, tone.data(), asked));
            written += asked;
        }
        if (!started)
            started = backend.start(backend.self);
    }
    EXPECT_TRUE(started);
    EXPECT_GE(written, frames) << backend.name;
}

void Drive(const OutputBackend& backend)
{
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    HANDLE closeEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    OutputFormat format;
    ASSERT_TRUE(backend.open(backend.self, std::wstring(), WAVE_MAPPER, closeEvent, &format)) << backend.name;
    EXPECT_GT(format.rate, 0u);
    EXPECT_GT(format.periodFrames, 0u);
    EXPECT_EQ(format.canIdle, backend.idle != nullptr) << backend.name;
    const LanePolicy policy = OutputPolicy(format);
    EXPECT_GT(policy.targetFrames, 0u);
    EXPECT_GT(policy.startFrames, 0u);
    EXPECT_LE(policy.startFrames, format.bufferFrames);
    EXPECT_LE(policy.deepFrames, format.bufferFrames);
    PlayFor(backend, format, format.rate / 2);
    if (policy.idles) {
        // Stopped and emptied: nothing is left queued, and the device
        // plays again from an empty buffer.
        EXPECT_LE(backend.idle(backend.self), format.bufferFrames);
        uint32_t queued = 1;
        EXPECT_EQ(backend.wait(backend.self, 0, &queued), format.bufferFrames);
        EXPECT_EQ(queued, 0u);
        PlayFor(backend, format, format.rate / 5);
    }
    // The close event ends a wait at once.
    SetEvent(closeEvent);
    uint32_t queued = 0;
    DWORD before = GetTickCount();
    while (backend.wait(backend.self, 5000, &queued) && GetTickCount() - before < 10000) {
    }
    EXPECT_LT(GetTickCount() - before, 4000u);
    backend.close(backend.self);
    CloseHandle(closeEvent);
    CoUninitialize();
}

TEST(Output, WasapiPlaysOnTheDefaultDevice)
{
    size_t before = TraceLines().size();
    Drive(WasapiOutput);
    // Nothing failed, so nothing is traced.
    EXPECT_EQ(TraceLines().size(), before);
}

// An endpoint the system does not have: the open fails at the device
// look-up, and the trace says which call failed with which code.
TEST(Output, WasapiNamesTheStepThatFailedAndItsCode)
{
    ASSERT_TRUE(TraceNamed);
    size_t before = TraceLines().size();
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    HANDLE closeEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    OutputFormat format;
    EXPECT_FALSE(
        WasapiOutput.open(WasapiOutput.self, L"{0.0.0.00000000}.{no-such-endpoint}", WAVE_MAPPER, closeEvent, &format));
    CloseHandle(closeEvent);
    CoUninitialize();

    std::vector<std::string> lines = TraceLines();
    ASSERT_EQ(lines.size(), before + 1);
    const std::string& line = lines.back();
    EXPECT_TRUE(std::regex_match(line, std::regex("wasapi: IMMDeviceEnumerator::GetDevice failed 0x[0-9A-F]{8}")))
        << line;
    // A failure code has its top bit set.
    EXPECT_NE(line.find("failed 0x8"), std::string::npos) << line;
}

TEST(Output, WaveOutPlaysOnTheDefaultDevice)
{
    Drive(WaveOutOutput);
}

// How far ahead a lane writes, by what the device reports of itself.
TEST(OutputPolicy, DepthsFollowWhatTheDeviceReports)
{
    struct Case {
        const char* device;
        uint32_t period, buffer;
        bool canIdle, wholeBuffers, shortPeriods;
        uint32_t target, start, deep;
        bool idles;
    } cases[] = {
        // One period ahead, three after a start from idle, the whole deep buffer with music alone.
        {"shared", 441, 8820, true, false, false, 441, 1323, 8820, true},
        // Two of the short periods ahead.
        {"short periods", 128, 1000, true, false, true, 256, 384, 1000, true},
        // A buffer of less than three periods is never deep.
        {"shallow", 480, 1056, true, false, false, 480, 1056, 0, true},
        // The buffer the device plays and the one written behind it; never stopped.
        {"exclusive", 480, 480, true, true, false, 960, 480, 0, false},
        // A queue of short buffers kept full.
        {"waveOut", 441, 1764, false, false, false, 1764, 441, 0, false},
    };
    for (const Case& c : cases) {
        OutputFormat f;
        f.rate = 48000;
        f.periodFrames = c.period;
        f.bufferFrames = c.buffer;
        f.canIdle = c.canIdle;
        f.wholeBuffers = c.wholeBuffers;
        f.shortPeriods = c.shortPeriods;
        const LanePolicy p = OutputPolicy(f);
        EXPECT_EQ(p.targetFrames, c.target) << c.device;
        EXPECT_EQ(p.startFrames, c.start) << c.device;
        EXPECT_EQ(p.deepFrames, c.deep) << c.device;
        EXPECT_EQ(p.idles, c.idles) << c.device;
    }
}

// A device driven by the test: it plays one period each time the test
// ticks it and keeps every frame it was given, so the tests read device
// positions instead of wall time.
namespace fake {

// The buffer is deep, as the first stream's is: hits keep to its first
// periods, music alone fills it. At these short periods the output keeps
// kTarget ahead, and kBuffer after a start from idle.
constexpr uint32_t kRate = 44100, kPeriod = 441, kBuffer = 3 * kPeriod, kTarget = 2 * kPeriod, kDeep = 12 * kPeriod;

std::mutex Lock; // one for both devices
std::condition_variable Changed;
struct Span {
    uint64_t from, to;
};

template <class F>
bool Await(std::unique_lock<std::mutex>& hold, F done)
{
    return Changed.wait_for(hold, std::chrono::seconds(10), done);
}

struct Device {
    std::vector<float> Frames; // every frame written, stereo
    std::vector<Span> Dropped; // frames an idle dropped unplayed
    uint64_t Played = 0;       // frames of Frames taken or dropped
    bool Running = false;
    bool RunDry = false; // the next tick finds the buffer empty, as after a stall
    int Starts = 0, Idles = 0, Waits = 0;
    int WritesBeforeChannels = 0; // made while the channel table was closed
    uint64_t WrittenAtStart = 0;
    LARGE_INTEGER IdleTime, StartTime;
    LARGE_INTEGER DryTickTime; // when the mixer thread took the tick that found the buffer empty
    HANDLE CloseEvent = nullptr;
    HANDLE Ticks = nullptr;

    uint64_t Written() const { return Frames.size() / 2; }

    bool Open(HANDLE closeEvent, OutputFormat* format)
    {
        std::lock_guard<std::mutex> hold(Lock);
        Frames.clear();
        Frames.reserve(kRate * 2 * 10);
        Dropped.clear();
        Played = 0;
        Running = false;
        Starts = Idles = Waits = WritesBeforeChannels = 0;
        CloseEvent = closeEvent;
        Ticks = CreateSemaphoreW(nullptr, 0, 1000, nullptr);
        format->rate = kRate;
        format->channels = 2;
        format->periodFrames = kPeriod;
        format->bufferFrames = kDeep;
        format->canIdle = true;
        format->shortPeriods = true;
        format->api = "fake";
        return true;
    }

    bool Start()
    {
        std::lock_guard<std::mutex> hold(Lock);
        Running = true;
        Starts++;
        WrittenAtStart = Written();
        QueryPerformanceCounter(&StartTime);
        Changed.notify_all();
        return true;
    }

    void Close() { CloseHandle(Ticks); }

    // Never times out: only a tick or the close moves it.
    uint32_t Wait(DWORD timeoutMs, uint32_t* queued)
    {
        if (timeoutMs) {
            {
                std::lock_guard<std::mutex> hold(Lock);
                Waits++;
            }
            Changed.notify_all();
            HANDLE events[2] = {CloseEvent, Ticks};
            if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0 + 1)
                return 0;
        }
        std::lock_guard<std::mutex> hold(Lock);
        if (RunDry)
            QueryPerformanceCounter(&DryTickTime);
        if (timeoutMs && Running)
            Played = RunDry ? Written() : std::min(Written(), Played + kPeriod);
        RunDry = false;
        *queued = (uint32_t)(Written() - Played);
        return kDeep - *queued;
    }

    bool Write(const float* stereo, uint32_t frames)
    {
        const bool channels = ChannelsAreOpen();
        std::lock_guard<std::mutex> hold(Lock);
        WritesBeforeChannels += !channels;
        Frames.insert(Frames.end(), stereo, stereo + (size_t)frames * 2);
        Changed.notify_all();
        return true;
    }

    uint32_t Idle()
    {
        std::lock_guard<std::mutex> hold(Lock);
        Running = false;
        Idles++;
        uint32_t dropped = (uint32_t)(Written() - Played);
        Dropped.push_back({Played, Written()});
        Played = Written();
        QueryPerformanceCounter(&IdleTime);
        Changed.notify_all();
        return dropped;
    }

    // One period played; returns once the mixer has answered it (waits for
    // the device again, or has stopped it).
    bool Tick()
    {
        std::unique_lock<std::mutex> hold(Lock);
        int waits = Waits, idles = Idles;
        ReleaseSemaphore(Ticks, 1, nullptr);
        return Await(hold, [&] { return Waits > waits || Idles > idles; });
    }

    // Ticks until the mixer stops the device; `ticks`: how many it took.
    bool TickUntilIdle(int* ticks = nullptr)
    {
        int idles;
        {
            std::lock_guard<std::mutex> hold(Lock);
            idles = Idles;
        }
        for (int i = 1; i <= 100; i++) {
            if (!Tick())
                return false;
            std::lock_guard<std::mutex> hold(Lock);
            if (Idles > idles) {
                if (ticks)
                    *ticks = i;
                return true;
            }
        }
        return false;
    }

    uint64_t Queued()
    {
        std::lock_guard<std::mutex> hold(Lock);
        return Written() - Played;
    }
};

// The device of lane 0, and that of the hits' lane where a test gives one.
Device Main, Hits;

// A backend function of the table, calling the device's own.
template <auto Method, class... Args>
auto Call(void* self, Args... args) -> decltype((std::declval<Device&>().*Method)(args...))
{
    return (static_cast<Device*>(self)->*Method)(args...);
}
bool Open(void* self, const std::wstring&, UINT, HANDLE closeEvent, OutputFormat* format)
{
    return static_cast<Device*>(self)->Open(closeEvent, format);
}

OutputBackend Backend(const char* name, Device& device)
{
    return {name,
            &device,
            Open,
            Call<&Device::Start>,
            Call<&Device::Close>,
            Call<&Device::Wait>,
            Call<&Device::Write>,
            Call<&Device::Idle>};
}

} // namespace fake

const OutputBackend FakeOutput = fake::Backend("fake", fake::Main);
const OutputBackend FakeHitOutput = fake::Backend("fake hits", fake::Hits);

void NoSync(void*, uint32_t, uint32_t, void*)
{}

// The channels are opened at the rate the device gives, so after its
// open: the lanes mix nothing until started, or they would read a table
// whose rate and limiter are still being set.
TEST(OutputStart, LanesMixNothingBeforeTheChannelsAreOpen)
{
    ASSERT_TRUE(OutputOpen(-1, &FakeOutput, &FakeHitOutput));
    ASSERT_TRUE(ChannelsOpen(fake::kRate, NoSync));
    OutputStart();
    {
        std::unique_lock<std::mutex> hold(fake::Lock);
        EXPECT_TRUE(fake::Await(hold, [] { return fake::Main.Waits > 0 && fake::Hits.Waits > 0; }));
        EXPECT_GT(fake::Main.Written(), 0u);
        EXPECT_GT(fake::Hits.Written(), 0u);
        EXPECT_EQ(fake::Main.WritesBeforeChannels, 0);
        EXPECT_EQ(fake::Hits.WritesBeforeChannels, 0);
    }
    OutputClose();
    ChannelsClose();
}

class IdleOutput : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ChannelsOpen(fake::kRate, NoSync));
        OutputSetTap(&RecorderTap);
        ASSERT_TRUE(OutputOpen(-1, &FakeOutput));
        OutputStart();
        std::unique_lock<std::mutex> hold(fake::Lock);
        ASSERT_TRUE(fake::Await(hold, [] { return fake::Main.Waits > 0; }));
    }
    void TearDown() override
    {
        OutputClose();
        ChannelsClose();
        if (!recording.empty())
            DeleteFileA(recording.c_str());
    }
    // Starts recording into a fresh temporary file; `first`: the frames
    // written before it.
    void StartRecording(const char* name, uint64_t* first)
    {
        char dir[MAX_PATH];
        GetTempPathA(MAX_PATH, dir);
        recording = std::string(dir) + name + std::to_string(GetCurrentProcessId()) + ".wav";
        DeleteFileA(recording.c_str());
        // The mixer waits for the device: nothing is written meanwhile.
        std::lock_guard<std::mutex> hold(fake::Lock);
        *first = fake::Main.Written();
        ASSERT_EQ(RecorderStart(recording.c_str(), fake::kRate, 2), RecordStart::Started);
    }
    std::string recording;
    // A ramp: its frame n is (n + 1) / 65536 on the left, the negative on the right.
    uint32_t Ramp(uint64_t frames) { return ChannelCreate(std::make_unique<CountingDecoder>(fake::kRate, 2, frames)); }
    // A hit on the stopped device: returns once it has started again and
    // waits for the device.
    bool HitFromIdle(uint32_t handle)
    {
        std::unique_lock<std::mutex> hold(fake::Lock);
        int starts = fake::Main.Starts, waits = fake::Main.Waits;
        hold.unlock();
        ChannelPlay(handle, true);
        OutputWake();
        hold.lock();
        return fake::Await(hold, [&] { return fake::Main.Starts > starts && fake::Main.Waits > waits; });
    }
};

bool Silent(const std::vector<float>& frames, uint64_t from, uint64_t to)
{
    for (uint64_t i = 2 * from; i < 2 * to; i++)
        if (frames[i] != 0.0f)
            return false;
    return true;
}

TEST_F(IdleOutput, StopsWhenNothingPlaysAndAHitStartsItWithTheHitAtTheHead)
{
    ASSERT_TRUE(fake::Main.TickUntilIdle());
    uint64_t position, written;
    {
        std::lock_guard<std::mutex> hold(fake::Lock);
        EXPECT_FALSE(fake::Main.Running);
        position = fake::Main.Played;
        written = fake::Main.Written();
    }
    uint32_t hit = Ramp(1000);
    ASSERT_TRUE(HitFromIdle(hit));
    std::lock_guard<std::mutex> hold(fake::Lock);
    ASSERT_GT(fake::Main.Written(), written);
    // The hit's first frame is the next the device plays, and it was in
    // the buffer before the device started.
    EXPECT_EQ(fake::Main.Frames[2 * written], Scale);
    EXPECT_LE(written - position, fake::kPeriod);
    EXPECT_GT(fake::Main.WrittenAtStart, written);
    EXPECT_TRUE(fake::Main.Running);
}

// A stream started from empty has no engine queue behind its buffer: the
// buffer itself is kept full until the device idles again.
TEST_F(IdleOutput, KeepsTheBufferFullAfterAStartFromIdle)
{
    ASSERT_TRUE(fake::Main.TickUntilIdle());
    ASSERT_TRUE(HitFromIdle(Ramp(10 * fake::kPeriod)));
    for (int i = 0; i < 5; i++) {
        ASSERT_TRUE(fake::Main.Tick());
        std::lock_guard<std::mutex> hold(fake::Lock);
        EXPECT_EQ(fake::Main.Written() - fake::Main.Played, fake::kBuffer) << "tick " << i;
    }
}

// The buffer is deep, but a hit keeps to its first periods: the device
// stops once those and the margin behind them are silence, not the whole
// buffer.
TEST_F(IdleOutput, StopsOnceAllItHoldsIsSilenceHoweverDeepItsBuffer)
{
    ASSERT_TRUE(fake::Main.TickUntilIdle());
    ASSERT_TRUE(HitFromIdle(Ramp(fake::kPeriod)));
    int ticks = 0;
    ASSERT_TRUE(fake::Main.TickUntilIdle(&ticks));
    EXPECT_LT((uint32_t)ticks, fake::kDeep / fake::kPeriod);
    std::lock_guard<std::mutex> hold(fake::Lock);
    ASSERT_EQ(fake::Main.Dropped.size(), 2u);
    EXPECT_TRUE(Silent(fake::Main.Frames, fake::Main.Dropped[1].from, fake::Main.Dropped[1].to));
}

// Hits while the device runs and from idle: what the device plays is the
// mix, each hit whole and once, and what an idle dropped was silence.
TEST_F(IdleOutput, DeviceHearsExactlyTheMixAcrossStopAndStart)
{
    const uint64_t length = 1000;
    uint32_t hit = Ramp(length);
    ChannelPlay(hit, true);
    OutputWake();
    ASSERT_TRUE(fake::Main.TickUntilIdle());
    ASSERT_TRUE(HitFromIdle(hit));
    ASSERT_TRUE(fake::Main.TickUntilIdle());

    std::lock_guard<std::mutex> hold(fake::Lock);
    ASSERT_EQ(fake::Main.Dropped.size(), 2u);
    std::vector<float> heard;
    uint64_t from = 0;
    for (const fake::Span& d : fake::Main.Dropped) {
        EXPECT_TRUE(Silent(fake::Main.Frames, d.from, d.to)) << "dropped " << d.from << ".." << d.to;
        heard.insert(heard.end(), fake::Main.Frames.begin() + 2 * from, fake::Main.Frames.begin() + 2 * d.from);
        from = d.to;
    }
    std::vector<uint64_t> onsets;
    for (uint64_t i = 0; i < heard.size() / 2; i++) {
        if (heard[2 * i] == 0.0f)
            continue;
        onsets.push_back(i);
        ASSERT_LE(i + length, heard.size() / 2);
        for (uint64_t n = 0; n < length; n++) {
            ASSERT_EQ(heard[2 * (i + n)], (float)(n + 1) * Scale) << "hit " << onsets.size() << " frame " << n;
            ASSERT_EQ(heard[2 * (i + n) + 1], -(float)(n + 1) * Scale);
        }
        i += length - 1;
    }
    EXPECT_EQ(onsets.size(), 2u);
}

TEST_F(IdleOutput, RecordingSpanningAnIdleStopHasTheElapsedLength)
{
    uint64_t first;
    ASSERT_NO_FATAL_FAILURE(StartRecording("bass_output_idle_", &first));
    ASSERT_TRUE(fake::Main.TickUntilIdle());
    uint64_t running;
    {
        std::lock_guard<std::mutex> hold(fake::Lock);
        running = fake::Main.Written() - first;
    }
    // A third of a second of silence reaches the file while stopped.
    BASS_MIXRECORDINFO info = {};
    ASSERT_TRUE(WaitUntil([&] { return RecorderInfo(&info) && info.frames >= running + fake::kRate / 3; }));
    uint32_t hit = Ramp(1000);
    ASSERT_TRUE(HitFromIdle(hit));
    ASSERT_TRUE(fake::Main.Tick());

    std::lock_guard<std::mutex> hold(fake::Lock);
    ASSERT_TRUE(RecorderStop(&info));
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    double stopped = (double)(fake::Main.StartTime.QuadPart - fake::Main.IdleTime.QuadPart) / frequency.QuadPart;
    ASSERT_EQ(fake::Main.Dropped.size(), 1u);
    uint64_t heard = fake::Main.Written() - first - (fake::Main.Dropped[0].to - fake::Main.Dropped[0].from);
    EXPECT_NEAR((double)info.frames, heard + stopped * fake::kRate, 2.0 * fake::kPeriod)
        << "stopped for " << stopped << " s";
}

// The mixer thread came late and the device played its buffer out: the
// recording still covers the time, with silence where the device had none.
TEST_F(IdleOutput, RecordingKeepsTheTimeTheDeviceRanDry)
{
    uint64_t first;
    ASSERT_NO_FATAL_FAILURE(StartRecording("bass_output_dry_", &first));
    // Music keeps the device from idling.
    ChannelPlay(Ramp(200 * fake::kPeriod), true);
    for (int i = 0; i < 3; i++)
        ASSERT_TRUE(fake::Main.Tick());
    LARGE_INTEGER frequency, before;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&before);
    // The stall itself: no tick reaches the mixer thread meanwhile.
    Sleep(300);
    {
        std::lock_guard<std::mutex> hold(fake::Lock);
        fake::Main.RunDry = true;
    }
    ASSERT_TRUE(fake::Main.Tick());
    for (int i = 0; i < 3; i++)
        ASSERT_TRUE(fake::Main.Tick());

    std::lock_guard<std::mutex> hold(fake::Lock);
    BASS_MIXRECORDINFO info = {};
    ASSERT_TRUE(RecorderStop(&info));
    // Until the mixer thread itself saw the empty buffer, however late a
    // busy machine let it run after the tick.
    const double stalled = (double)(fake::Main.DryTickTime.QuadPart - before.QuadPart) / frequency.QuadPart;
    // The device had its target queued when the stall began.
    const double silence = stalled * fake::kRate - fake::kTarget;
    EXPECT_NEAR((double)info.frames, (double)(fake::Main.Written() - first) + silence, 2.0 * fake::kPeriod)
        << "stalled for " << stalled << " s";
}

// The device's frames from its first sound on are one ramp, whole and in
// order, at least `frames` long. Called with the lock held.
void ExpectRampFromItsFirstFrame(const fake::Device& device, uint64_t frames)
{
    const std::vector<float>& heard = device.Frames;
    uint64_t first = 0;
    while (first < device.Written() && heard[2 * first] == 0.0f)
        first++;
    ASSERT_LT(first + frames, device.Written());
    for (uint64_t n = 0; first + n < device.Written(); n++)
        ASSERT_EQ(heard[2 * (first + n)], (float)(n + 1) * Scale) << "music frame " << n;
}

// With a second device for the hits: music keeps the first running while
// the hits' device idles between hits and starts each from empty.
class TwoLaneOutput : public IdleOutput {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ChannelsOpen(fake::kRate, NoSync));
        OutputSetTap(&RecorderTap);
        ASSERT_TRUE(OutputOpen(-1, &FakeOutput, &FakeHitOutput));
        ASSERT_TRUE(OutputHasHitLane());
        OutputStart();
        std::unique_lock<std::mutex> hold(fake::Lock);
        ASSERT_TRUE(fake::Await(hold, [] { return fake::Main.Waits > 0 && fake::Hits.Waits > 0; }));
    }
};

TEST_F(TwoLaneOutput, AHitDuringMusicStartsItsOwnDeviceWithTheHitAtTheHead)
{
    uint32_t music = Ramp(20 * fake::kPeriod);
    ChannelPlay(music, true, false);
    OutputWake();
    for (int i = 0; i < 2; i++)
        ASSERT_TRUE(fake::Main.Tick());
    ASSERT_TRUE(fake::Hits.TickUntilIdle());
    uint64_t before;
    int mainIdles, starts, waits;
    {
        std::lock_guard<std::mutex> hold(fake::Lock);
        before = fake::Hits.Written();
        mainIdles = fake::Main.Idles;
        starts = fake::Hits.Starts;
        waits = fake::Hits.Waits;
    }
    uint32_t lane = 0;
    ChannelPlay(Ramp(1000), true, true, &lane);
    EXPECT_EQ(lane, 1u);
    OutputWake(lane);
    {
        std::unique_lock<std::mutex> hold(fake::Lock);
        ASSERT_TRUE(fake::Await(hold, [&] { return fake::Hits.Starts > starts && fake::Hits.Waits > waits; }));
    }
    for (int i = 0; i < 3; i++)
        ASSERT_TRUE(fake::Main.Tick());

    std::lock_guard<std::mutex> hold(fake::Lock);
    // The hit is the first frame its device plays, written before the start.
    ASSERT_GT(fake::Hits.Written(), before);
    EXPECT_EQ(fake::Hits.Frames[2 * before], Scale);
    EXPECT_GT(fake::Hits.WrittenAtStart, before);
    // The music ran on without a stop, and nothing of the hit is in it.
    EXPECT_EQ(fake::Main.Idles, mainIdles);
    ExpectRampFromItsFirstFrame(fake::Main, 3 * fake::kPeriod);
}

// A tap that always listens and counts what it is handed.
std::atomic<uint64_t> TappedFrames{0};
const OutputTap CountingTap = {
    &TappedFrames, [](void*) { return true; },
    [](void* self, const float*, uint32_t frames) { *static_cast<std::atomic<uint64_t>*>(self) += frames; },
    [](void*, const TapMark&, uint64_t) {}};

// The output places a play call: a hit on its own lane, but on lane 0
// while a tap listens, as the tap hears lane 0 as its device plays it.
TEST_F(TwoLaneOutput, AHitPlaysOnItsOwnLaneUnlessATapListens)
{
    ASSERT_TRUE(fake::Hits.TickUntilIdle());
    int starts;
    {
        std::lock_guard<std::mutex> hold(fake::Lock);
        starts = fake::Hits.Starts;
    }
    ASSERT_TRUE(OutputPlay(Ramp(1000), true));
    {
        std::unique_lock<std::mutex> hold(fake::Lock);
        ASSERT_TRUE(fake::Await(hold, [&] { return fake::Hits.Starts > starts; }));
    }

    OutputSetTap(&CountingTap);
    uint64_t before;
    {
        std::lock_guard<std::mutex> hold(fake::Lock);
        before = fake::Main.Written();
        starts = fake::Hits.Starts;
    }
    ASSERT_TRUE(OutputPlay(Ramp(1000), true));
    for (int i = 0; i < 3; i++)
        ASSERT_TRUE(fake::Main.Tick());
    std::lock_guard<std::mutex> hold(fake::Lock);
    uint64_t first = before;
    while (first < fake::Main.Written() && fake::Main.Frames[2 * first] == 0.0f)
        first++;
    ASSERT_LT(first, fake::Main.Written());
    EXPECT_EQ(fake::Main.Frames[2 * first], Scale);
    EXPECT_EQ(fake::Hits.Starts, starts);
    EXPECT_GT(TappedFrames.load(), 0u);
}

// An earlier voice rings on the lane it was played on, as a channel
// would, while the next hit of the same channel goes where a listening
// tap hears it.
TEST_F(TwoLaneOutput, AVoiceRingsOnItsLaneWhileTheNextGoesWhereTheTapHears)
{
    ASSERT_TRUE(fake::Hits.TickUntilIdle());
    uint32_t h = Ramp(30 * fake::kPeriod);
    ASSERT_TRUE(ChannelSetVoices(h, 2));
    int starts;
    {
        std::lock_guard<std::mutex> hold(fake::Lock);
        starts = fake::Hits.Starts;
    }
    ASSERT_TRUE(OutputPlay(h, true));
    {
        std::unique_lock<std::mutex> hold(fake::Lock);
        ASSERT_TRUE(fake::Await(hold, [&] { return fake::Hits.Starts > starts; }));
    }
    ASSERT_TRUE(fake::Hits.Tick());
    OutputSetTap(&CountingTap);
    uint64_t before;
    {
        std::lock_guard<std::mutex> hold(fake::Lock);
        before = fake::Main.Written();
    }
    ASSERT_TRUE(OutputPlay(h, true, nullptr, 0.5f));
    EXPECT_EQ(ChannelGetVoices(h), 2u);
    for (int i = 0; i < 4; i++) {
        ASSERT_TRUE(fake::Main.Tick());
        ASSERT_TRUE(fake::Hits.Tick());
    }
    std::lock_guard<std::mutex> hold(fake::Lock);
    ExpectRampFromItsFirstFrame(fake::Hits, 6 * fake::kPeriod);
    uint64_t first = before;
    while (first < fake::Main.Written() && fake::Main.Frames[2 * first] == 0.0f)
        first++;
    ASSERT_LT(first + 1, fake::Main.Written());
    EXPECT_EQ(fake::Main.Frames[2 * first], 0.5f * Scale);
    EXPECT_EQ(fake::Main.Frames[2 * first + 2], 0.5f * 2 * Scale);
}

// Music alone is mixed far ahead of the device: a recording started then
// holds what the device plays after its start, not what is mixed after it.
TEST_F(TwoLaneOutput, ARecordingOverADeepBufferIsWhatTheDevicePlaysFromItsStartOn)
{
    ChannelPlay(Ramp(100 * fake::kPeriod), true, false);
    OutputWake();
    for (int i = 0; i < 3; i++)
        ASSERT_TRUE(fake::Main.Tick());
    uint64_t written;
    ASSERT_NO_FATAL_FAILURE(StartRecording("bass_output_heard_", &written));
    uint64_t played;
    {
        std::lock_guard<std::mutex> hold(fake::Lock);
        played = fake::Main.Played;
    }
    const int periods = 4;
    for (int i = 0; i < periods; i++)
        ASSERT_TRUE(fake::Main.Tick());
    BASS_MIXRECORDINFO info = {};
    ASSERT_TRUE(RecorderStop(&info));
    EXPECT_EQ(info.frames, (uint64_t)periods * fake::kPeriod);

    const std::vector<int16_t> file = ReadRecorded(recording).samples;
    std::lock_guard<std::mutex> hold(fake::Lock);
    ASSERT_EQ(file.size(), (size_t)periods * fake::kPeriod * 2);
    for (size_t k = 0; k < file.size(); k++)
        ASSERT_EQ(file[k], Pcm16(fake::Main.Frames[2 * played + k])) << "sample " << k;
}

TEST_F(TwoLaneOutput, MusicAloneFillsItsDeviceAndARecordingTakesItBackToItsPeriods)
{
    ChannelPlay(Ramp(100 * fake::kPeriod), true, false);
    OutputWake();
    for (int i = 0; i < 3; i++)
        ASSERT_TRUE(fake::Main.Tick());
    EXPECT_EQ(fake::Main.Queued(), fake::kDeep);

    // A recording puts the hits on this device: what it holds plays out and
    // only its periods are topped up.
    uint64_t first;
    ASSERT_NO_FATAL_FAILURE(StartRecording("bass_output_deep_", &first));
    for (uint32_t i = 0; i < fake::kDeep / fake::kPeriod; i++)
        ASSERT_TRUE(fake::Main.Tick());
    EXPECT_LE(fake::Main.Queued(), fake::kBuffer);
    BASS_MIXRECORDINFO info = {};
    ASSERT_TRUE(RecorderStop(&info));
    for (int i = 0; i < 2; i++)
        ASSERT_TRUE(fake::Main.Tick());
    EXPECT_EQ(fake::Main.Queued(), fake::kDeep);

    std::lock_guard<std::mutex> hold(fake::Lock);
    EXPECT_EQ(fake::Main.Idles, 0);
    ExpectRampFromItsFirstFrame(fake::Main, 20 * fake::kPeriod);
}

// Where the left side starts to sound after at least 100 silent frames:
// the clicks' onsets.
template <class T>
std::vector<uint64_t> Onsets(const std::vector<T>& stereo, uint64_t from = 0)
{
    std::vector<uint64_t> at;
    uint64_t silent = 100;
    for (uint64_t i = from; i < stereo.size() / 2; i++) {
        if (stereo[2 * i] != 0 && silent >= 100)
            at.push_back(i);
        silent = stereo[2 * i] != 0 ? 0 : silent + 1;
    }
    return at;
}

std::vector<BASS_MIXRECORDHIT> LoggedHits()
{
    std::vector<BASS_MIXRECORDHIT> log(1000);
    log.resize(RecorderHits(log.data(), 0, 1000));
    return log;
}

uint64_t Click(bool running, bool record, uint32_t starts)
{
    ClickSettings s;
    s.milliBpm = 120000;
    s.beats = 4;
    s.volume = 0.5f;
    s.record = record;
    return ClickPack(s, running, starts);
}

// At 120 bpm the device hears a click every 22,050 frames exactly, the
// first of each four higher and louder; a recording holds the clicks only
// when asked, and its log has each beat at its frame in the file either way.
TEST_F(TwoLaneOutput, TheClickIsOnTheDevicesGridAndInARecordingOnlyWhenAsked)
{
    for (bool record : {false, true}) {
        SCOPED_TRACE(record ? "into the recording" : "kept out of it");
        uint64_t written, played;
        ASSERT_NO_FATAL_FAILURE(StartRecording("bass_output_click_", &written));
        {
            std::lock_guard<std::mutex> hold(fake::Lock);
            played = fake::Main.Played;
        }
        OutputSetClick(Click(true, record, record ? 2 : 1));
        for (uint32_t i = 0; i < 5 * fake::kRate / 2 / fake::kPeriod; i++)
            ASSERT_TRUE(fake::Main.Tick());
        OutputSetClick(Click(false, record, 0));
        BASS_MIXRECORDINFO info = {};
        ASSERT_TRUE(RecorderStop(&info));
        const std::vector<int16_t> file = ReadRecorded(recording).samples;
        const std::vector<BASS_MIXRECORDHIT> log = LoggedHits();

        std::lock_guard<std::mutex> hold(fake::Lock);
        const std::vector<float>& device = fake::Main.Frames;
        const std::vector<uint64_t> heard = Onsets(device, written);
        ASSERT_GE(heard.size(), 4u);
        for (size_t k = 0; k < heard.size(); k++) {
            EXPECT_EQ(heard[k] - heard[0], k * 22050) << "beat " << k;
            const float peak = device[2 * heard[k]], first = device[2 * heard[k - k % 4]];
            if (k % 4) {
                EXPECT_LT(peak, 0.75f * first) << "beat " << k;
            }
        }
        // The log: the beats the file spans, each where the device played it.
        std::vector<uint64_t> logged;
        for (const BASS_MIXRECORDHIT& h : log) {
            ASSERT_EQ(h.handle, BASS_MIXRECORD_BEAT);
            EXPECT_EQ(h.beats, 4u);
            EXPECT_FLOAT_EQ(h.tempo, 120.0f);
            EXPECT_EQ(h.beat, logged.size() % 4 + 1);
            logged.push_back(h.frame);
            ASSERT_LT(h.frame, info.frames);
            EXPECT_EQ(heard[logged.size() - 1], played + h.frame);
        }
        EXPECT_GE(logged.size(), 4u);
        if (record)
            EXPECT_EQ(Onsets(file), logged);
        else
            EXPECT_TRUE(Onsets(file).empty());
    }
}

TEST_F(TwoLaneOutput, TheRecordingsLogHasEachHitAtItsFirstFrameInTheFile)
{
    uint64_t written, played;
    ASSERT_NO_FATAL_FAILURE(StartRecording("bass_output_hits_", &written));
    {
        std::lock_guard<std::mutex> hold(fake::Lock);
        played = fake::Main.Played;
    }
    const uint32_t a = Ramp(300), b = Ramp(300);
    ASSERT_TRUE(OutputPlay(a, true));
    for (int i = 0; i < 2; i++)
        ASSERT_TRUE(fake::Main.Tick());
    ASSERT_TRUE(OutputPlay(b, true));
    ASSERT_TRUE(fake::Main.TickUntilIdle());
    BASS_MIXRECORDINFO info = {};
    ASSERT_TRUE(RecorderStop(&info));
    const std::vector<int16_t> file = ReadRecorded(recording).samples;
    const std::vector<BASS_MIXRECORDHIT> log = LoggedHits();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].handle, a);
    EXPECT_EQ(log[1].handle, b);
    std::lock_guard<std::mutex> hold(fake::Lock);
    for (const BASS_MIXRECORDHIT& h : log) {
        EXPECT_EQ(h.gain, 1.0f);
        EXPECT_EQ(h.beat, 0u);
        ASSERT_LT(h.frame + 300, info.frames);
        ASSERT_GT(h.frame, 0u);
        // The file's frames are those the device played since the start:
        // the hit's first frame is exactly there.
        EXPECT_EQ(fake::Main.Frames[2 * (played + h.frame) - 2], 0.0f);
        EXPECT_EQ(fake::Main.Frames[2 * (played + h.frame)], Scale);
        for (uint64_t n = 0; n < 300; n++)
            ASSERT_EQ(file[2 * (h.frame + n)], Pcm16(fake::Main.Frames[2 * (played + h.frame + n)])) << "frame " << n;
    }
}

// A card switch closes the output and opens another: the click goes on,
// from the new device's first frame with a new bar.
TEST_F(TwoLaneOutput, TheClickStartsAgainWithABarOnAReopenedOutput)
{
    OutputSetClick(Click(true, false, 1));
    for (int i = 0; i < 10; i++)
        ASSERT_TRUE(fake::Main.Tick());
    OutputClose();
    ChannelsClose();
    ASSERT_NO_FATAL_FAILURE(TwoLaneOutput::SetUp());
    for (uint32_t i = 0; i < fake::kRate / fake::kPeriod * 3 / 2; i++)
        ASSERT_TRUE(fake::Main.Tick());
    OutputSetClick(Click(false, false, 1));
    std::lock_guard<std::mutex> hold(fake::Lock);
    const std::vector<uint64_t> heard = Onsets(fake::Main.Frames);
    ASSERT_GE(heard.size(), 3u);
    for (size_t k = 0; k < heard.size(); k++)
        EXPECT_EQ(heard[k], k * 22050) << "beat " << k;
    EXPECT_GT(fake::Main.Frames[0], 1.5f * fake::Main.Frames[2 * 22050]) << "the first beat is accented";
}

} // namespace
