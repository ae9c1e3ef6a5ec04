// bass.dll in-process, loaded by full path and plain names as the program
// does, playing into the test sound server.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "tests/bass/bass_api.h"
#include "tests/bass/wait_until.h"

#include <mmsystem.h>

namespace {

BassApi Bass;
std::string Folder;
std::string TracePath;

// A 16-bit PCM WAV of a 440 Hz tone; returns its data size in bytes.
uint32_t WriteWav(const std::string& path, uint32_t frames, uint16_t channels = 2, uint32_t rate = 44100)
{
    std::vector<int16_t> pcm((size_t)frames * channels);
    for (uint32_t i = 0; i < frames; i++)
        for (uint16_t c = 0; c < channels; c++)
            pcm[(size_t)i * channels + c] = (int16_t)(8000 * std::sin(6.2831853 * 440 * i / rate));
    uint32_t data = (uint32_t)(pcm.size() * 2);
    uint32_t riff = 36 + data, fmtSize = 16, byteRate = rate * channels * 2;
    uint16_t format = 1, align = channels * 2, bits = 16;
    std::ofstream f(path, std::ios::binary);
    f.write("RIFF", 4).write((const char*)&riff, 4).write("WAVEfmt ", 8).write((const char*)&fmtSize, 4);
    f.write((const char*)&format, 2).write((const char*)&channels, 2).write((const char*)&rate, 4);
    f.write((const char*)&byteRate, 4).write((const char*)&align, 2).write((const char*)&bits, 2);
    f.write("data", 4).write((const char*)&data, 4).write((const char*)pcm.data(), data);
    return data;
}

struct EndCounter {
    std::atomic<int> Count{0};
    std::atomic<DWORD> Channel{0};
    HANDLE Event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ~EndCounter() { CloseHandle(Event); }
};

void CALLBACK CountEnd(DWORD, DWORD channel, DWORD, void* user)
{
    auto* c = static_cast<EndCounter*>(user);
    c->Channel = channel;
    c->Count++;
    SetEvent(c->Event);
}

class Environment : public ::testing::Environment {
public:
    void SetUp() override
    {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        Folder = std::string(temp) + "bass_api_test_" + std::to_string(GetCurrentProcessId()) + "\\";
        CreateDirectoryA(Folder.c_str(), nullptr);
        TracePath = Folder + "trace.txt";
        // Read by the library at its first call.
        SetEnvironmentVariableA("YXYT_AUDIO_TRACE", TracePath.c_str());
        ASSERT_TRUE(LoadBass(&Bass));
    }
};
const auto* Registered = ::testing::AddGlobalTestEnvironment(new Environment);

class Api : public ::testing::Test {
protected:
    std::string shortWav, longWav, markerWav;
    uint32_t shortBytes = 0, longBytes = 0;
    void SetUp() override
    {
        ASSERT_TRUE(Bass.BASS_Init(-1, 44100, 4, nullptr, nullptr));
        shortWav = Folder + "short.wav";
        longWav = Folder + "long.wav";
        markerWav = Folder + "marker.wav";
        shortBytes = WriteWav(shortWav, 2205); // 50 ms
        longBytes = WriteWav(longWav, 88200);  // 2 s
        WriteWav(markerWav, 4410);
    }
    void TearDown() override { Bass.BASS_Free(); }

    DWORD Open(const std::string& path) { return Bass.BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0); }
    // Plays a 100 ms marker to its end: whatever the mixer was going to do
    // within that time has been done when this returns.
    void PlayMarker()
    {
        EndCounter ended;
        DWORD m = Open(markerWav);
        ASSERT_NE(Bass.BASS_ChannelSetSync(m, BASS_SYNC_END, 0, CountEnd, &ended), 0u);
        ASSERT_TRUE(Bass.BASS_ChannelPlay(m, TRUE));
        ASSERT_EQ(WaitForSingleObject(ended.Event, 10000), WAIT_OBJECT_0);
        Bass.BASS_SampleFree(m);
    }
};

TEST_F(Api, InitOnceFreeThenInitOnACardNumber)
{
    EXPECT_FALSE(Bass.BASS_Init(-1, 44100, 4, nullptr, nullptr));
    EXPECT_TRUE(Bass.BASS_Set3DFactors(0.3048f, -10.0f, 0.0f));
    ASSERT_TRUE(Bass.BASS_Free());
    EXPECT_FALSE(Bass.BASS_Free());
    EXPECT_FALSE(Bass.BASS_Init((int)waveOutGetNumDevs() + 1, 44100, 4, nullptr, nullptr));
    ASSERT_TRUE(Bass.BASS_Init(1, 44100, 4, nullptr, nullptr));
    EXPECT_FALSE(Bass.BASS_Init(1, 44100, 4, nullptr, nullptr));
    DWORD h = Open(shortWav);
    EXPECT_NE(h, 0u);
    EXPECT_TRUE(Bass.BASS_ChannelPlay(h, TRUE));
}

TEST_F(Api, DeviceNamesFollowTheWaveOutputDevices)
{
    UINT n = waveOutGetNumDevs();
    ASSERT_GT(n, 0u);
    for (UINT d = 1; d <= n; d++) {
        BASS_DEVICEINFO info = {};
        ASSERT_TRUE(Bass.BASS_GetDeviceInfo(d, &info)) << d;
        ASSERT_NE(info.name, nullptr);
        WAVEOUTCAPSA caps = {};
        ASSERT_EQ(waveOutGetDevCapsA(d - 1, &caps, sizeof(caps)), MMSYSERR_NOERROR);
        // waveOut cuts names at 31 characters; ours is the whole of it.
        EXPECT_EQ(std::string(info.name).substr(0, strlen(caps.szPname)), caps.szPname) << d;
        EXPECT_TRUE(info.flags & BASS_DEVICE_ENABLED);
    }
    const char* sentinel = "untouched";
    for (DWORD d : {0ul, (DWORD)n + 1, 0xFFFFFFFFul}) {
        BASS_DEVICEINFO info = {sentinel, sentinel, 77};
        EXPECT_FALSE(Bass.BASS_GetDeviceInfo(d, &info)) << d;
        EXPECT_EQ(info.name, sentinel);
        EXPECT_EQ(info.driver, sentinel);
        EXPECT_EQ(info.flags, 77u);
    }
}

TEST_F(Api, NewStreamIsStoppedAtZeroWithVolumeOne)
{
    EXPECT_EQ(Open(Folder + "missing.wav"), 0u);
    DWORD h = Open(shortWav);
    ASSERT_NE(h, 0u);
    float v = 0;
    ASSERT_TRUE(Bass.BASS_ChannelGetAttribute(h, BASS_ATTRIB_VOL, &v));
    EXPECT_EQ(v, 1.0f);
    EXPECT_EQ(Bass.BASS_ChannelGetPosition(h, BASS_POS_BYTE), 0u);
    EXPECT_EQ(Bass.BASS_ChannelGetPosition(h, 1), ~0ull);
    PlayMarker();
    EXPECT_EQ(Bass.BASS_ChannelGetPosition(h, BASS_POS_BYTE), 0u);
}

// A file that opens but holds nothing we decode is told apart from one
// that does not open.
TEST_F(Api, UndecodableFilesFailWithTheFileFormatError)
{
    const std::string text = Folder + "not_audio.wav";
    std::ofstream(text) << "This is a text file that somebody named drum.wav.\r\n";
    EXPECT_EQ(Open(text), 0u);
    EXPECT_EQ(Bass.BASS_ErrorGetCode(), BASS_ERROR_FILEFORM);
    EXPECT_EQ(Open(Folder + "missing.wav"), 0u);
    EXPECT_EQ(Bass.BASS_ErrorGetCode(), BASS_ERROR_FILEOPEN);
    EXPECT_NE(Open(shortWav), 0u);
    EXPECT_EQ(Bass.BASS_ErrorGetCode(), BASS_OK);
}

// A kit's decode budget through the library: files are taken until the
// next would pass it, which fails as out of memory; a short one still fits
// what is left; a new budget counts from nothing while the earlier files
// live, and without a budget there is no limit.
TEST_F(Api, AFilePastTheDecodeBudgetFailsAsOutOfMemory)
{
    // long.wav decodes to 2 s of the mixer's stereo floats, 706 KB.
    const QWORD budget = 3u << 20;
    ASSERT_TRUE(Bass.BASS_SetDecodeBudget(budget));
    int taken = 0;
    for (; taken < 10; taken++)
        if (!Open(longWav))
            break;
    EXPECT_EQ(Bass.BASS_ErrorGetCode(), BASS_ERROR_MEM);
    EXPECT_GE(taken, 2);
    EXPECT_LE(QWORD(taken) * 88200 * 8, budget);
    EXPECT_NE(Open(shortWav), 0u);
    ASSERT_TRUE(Bass.BASS_SetDecodeBudget(budget));
    EXPECT_NE(Open(longWav), 0u);
    ASSERT_TRUE(Bass.BASS_SetDecodeBudget(0));
    for (int i = 0; i < taken + 2; i++)
        EXPECT_NE(Open(longWav), 0u) << i;
}

// The voice calls on the running output: at most the count sound, every
// call acts on all of them, and a fade-out ends them all.
TEST_F(Api, VoicesPlayPauseAndFadeOutThroughTheLibrary)
{
    DWORD h = Open(longWav);
    ASSERT_TRUE(Bass.BASS_ChannelSetVoices(h, 4));
    EXPECT_FALSE(Bass.BASS_ChannelSetVoices(h, 5));
    EXPECT_FALSE(Bass.BASS_ChannelSetVoices(h + 1, 2));
    EXPECT_EQ(Bass.BASS_ChannelGetVoices(h + 1), (DWORD)-1);
    EXPECT_FALSE(Bass.BASS_ChannelPlayGain(h + 1, 0.5f));
    for (int hit = 1; hit <= 6; hit++) {
        ASSERT_TRUE(hit % 2 ? Bass.BASS_ChannelPlay(h, TRUE) : Bass.BASS_ChannelPlayGain(h, 0.3f));
        EXPECT_EQ(Bass.BASS_ChannelGetVoices(h), (DWORD)std::min(hit, 4)) << "hit " << hit;
    }
    ASSERT_TRUE(Bass.BASS_ChannelPause(h));
    EXPECT_EQ(Bass.BASS_ChannelGetVoices(h), 0u);
    ASSERT_TRUE(Bass.BASS_ChannelPlay(h, FALSE));
    EXPECT_EQ(Bass.BASS_ChannelGetVoices(h), 4u);
    ASSERT_TRUE(Bass.BASS_ChannelFadeOut(h, 30));
    ASSERT_TRUE(WaitUntil([&] { return Bass.BASS_ChannelGetVoices(h) == 0; }));
    const QWORD faded = Bass.BASS_ChannelGetPosition(h, BASS_POS_BYTE);
    EXPECT_LT(faded, longBytes);
    PlayMarker();
    EXPECT_EQ(Bass.BASS_ChannelGetPosition(h, BASS_POS_BYTE), faded);
}

TEST_F(Api, VolumeIsHeldAtTheNearestBound)
{
    DWORD h = Open(shortWav);
    float v = -5;
    ASSERT_TRUE(Bass.BASS_ChannelSetAttribute(h, BASS_ATTRIB_VOL, 1.7f));
    Bass.BASS_ChannelGetAttribute(h, BASS_ATTRIB_VOL, &v);
    EXPECT_EQ(v, 1.0f);
    ASSERT_TRUE(Bass.BASS_ChannelSetAttribute(h, BASS_ATTRIB_VOL, -0.5f));
    Bass.BASS_ChannelGetAttribute(h, BASS_ATTRIB_VOL, &v);
    EXPECT_EQ(v, 0.0f);
    ASSERT_TRUE(Bass.BASS_ChannelSetAttribute(h, BASS_ATTRIB_VOL, 0.25f));
    Bass.BASS_ChannelGetAttribute(h, BASS_ATTRIB_VOL, &v);
    EXPECT_EQ(v, 0.25f);
    EXPECT_FALSE(Bass.BASS_ChannelSetAttribute(h, 1, 0.5f));
    EXPECT_FALSE(Bass.BASS_ChannelGetAttribute(h, 1, &v));
}

TEST_F(Api, SetPositionMovesAndRefusesTheEnd)
{
    DWORD h = Open(longWav);
    EXPECT_FALSE(Bass.BASS_ChannelSetPosition(h, longBytes, BASS_POS_BYTE));
    EXPECT_FALSE(Bass.BASS_ChannelSetPosition(h, longBytes + 4000, BASS_POS_BYTE));
    EXPECT_EQ(Bass.BASS_ChannelGetPosition(h, BASS_POS_BYTE), 0u);
    ASSERT_TRUE(Bass.BASS_ChannelSetPosition(h, longBytes - 4, BASS_POS_BYTE));
    EXPECT_EQ(Bass.BASS_ChannelGetPosition(h, BASS_POS_BYTE), longBytes - 4);
    ASSERT_TRUE(Bass.BASS_ChannelSetPosition(h, 176400, BASS_POS_BYTE));
    EXPECT_EQ(Bass.BASS_ChannelGetPosition(h, BASS_POS_BYTE), 176400u);
}

TEST_F(Api, PauseStopResumeAndRestartWhilePlaying)
{
    DWORD h = Open(longWav);
    ASSERT_TRUE(Bass.BASS_ChannelPlay(h, TRUE));
    ASSERT_TRUE(WaitUntil([&] { return Bass.BASS_ChannelGetPosition(h, BASS_POS_BYTE) > 20000; }));

    ASSERT_TRUE(Bass.BASS_ChannelPause(h));
    QWORD paused = Bass.BASS_ChannelGetPosition(h, BASS_POS_BYTE);
    PlayMarker();
    EXPECT_EQ(Bass.BASS_ChannelGetPosition(h, BASS_POS_BYTE), paused);

    ASSERT_TRUE(Bass.BASS_ChannelPlay(h, FALSE));
    ASSERT_TRUE(WaitUntil([&] { return Bass.BASS_ChannelGetPosition(h, BASS_POS_BYTE) > paused + 20000; }));

    ASSERT_TRUE(Bass.BASS_ChannelStop(h));
    QWORD stopped = Bass.BASS_ChannelGetPosition(h, BASS_POS_BYTE);
    PlayMarker();
    EXPECT_EQ(Bass.BASS_ChannelGetPosition(h, BASS_POS_BYTE), stopped);

    ASSERT_TRUE(Bass.BASS_ChannelPlay(h, FALSE));
    ASSERT_TRUE(WaitUntil([&] { return Bass.BASS_ChannelGetPosition(h, BASS_POS_BYTE) > stopped; }));
    ASSERT_TRUE(Bass.BASS_ChannelPlay(h, TRUE));
    EXPECT_LT(Bass.BASS_ChannelGetPosition(h, BASS_POS_BYTE), stopped);
}

TEST_F(Api, EndRoutineRunsOnceForEachEnd)
{
    EndCounter ended;
    DWORD h = Open(shortWav);
    DWORD sync = Bass.BASS_ChannelSetSync(h, BASS_SYNC_END, 0, CountEnd, &ended);
    ASSERT_NE(sync, 0u);
    EXPECT_EQ(Bass.BASS_ChannelSetSync(h + 1, BASS_SYNC_END, 0, CountEnd, &ended), 0u);
    for (int round = 1; round <= 3; round++) {
        ASSERT_TRUE(Bass.BASS_ChannelPlay(h, TRUE));
        ASSERT_EQ(WaitForSingleObject(ended.Event, 10000), WAIT_OBJECT_0);
        EXPECT_EQ(Bass.BASS_ChannelGetPosition(h, BASS_POS_BYTE), shortBytes);
        PlayMarker();
        EXPECT_EQ(ended.Count.load(), round);
        EXPECT_EQ(ended.Channel.load(), h);
    }
}

struct Looper {
    BassApi* Api;
    std::atomic<int> Count{0};
    int Target;
    HANDLE Done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ~Looper() { CloseHandle(Done); }
};

void CALLBACK LoopAgain(DWORD, DWORD channel, DWORD, void* user)
{
    auto* l = static_cast<Looper*>(user);
    // Calls back into the library from its own thread, as the program does.
    if (++l->Count < l->Target)
        l->Api->BASS_ChannelPlay(channel, TRUE);
    else
        SetEvent(l->Done);
}

TEST_F(Api, LoopRestartedFromTheEndRoutineRunsAThousandTimes)
{
    std::string tiny = Folder + "tiny.wav";
    WriteWav(tiny, 220); // 5 ms
    Looper loop;
    loop.Api = &Bass;
    loop.Target = 1000;
    DWORD h = Open(tiny);
    ASSERT_NE(Bass.BASS_ChannelSetSync(h, BASS_SYNC_END, 0, LoopAgain, &loop), 0u);
    ASSERT_TRUE(Bass.BASS_ChannelPlay(h, TRUE));
    ASSERT_EQ(WaitForSingleObject(loop.Done, 120000), WAIT_OBJECT_0) << loop.Count.load();
    PlayMarker();
    EXPECT_EQ(loop.Count.load(), 1000);
}

void CALLBACK FreeFromRoutine(DWORD, DWORD, DWORD, void* user)
{
    auto* c = static_cast<EndCounter*>(user);
    c->Count = Bass.BASS_Free() ? 1 : -1;
    SetEvent(c->Event);
}

TEST_F(Api, FreeFromInsideTheEndRoutineDoesNotDeadlock)
{
    EndCounter ended;
    DWORD h = Open(shortWav);
    Bass.BASS_ChannelSetSync(h, BASS_SYNC_END, 0, FreeFromRoutine, &ended);
    ASSERT_TRUE(Bass.BASS_ChannelPlay(h, TRUE));
    ASSERT_EQ(WaitForSingleObject(ended.Event, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(ended.Count.load(), 1);
    EXPECT_FALSE(Bass.BASS_ChannelPlay(h, TRUE));
    ASSERT_TRUE(Bass.BASS_Init(-1, 44100, 4, nullptr, nullptr));
    EXPECT_NE(Open(shortWav), 0u);
}

TEST_F(Api, HandlesFailAfterFreeAndAreNotReused)
{
    std::set<DWORD> seen;
    for (int i = 0; i < 300; i++) {
        DWORD h = Open(shortWav);
        ASSERT_NE(h, 0u);
        EXPECT_TRUE(seen.insert(h).second) << "handle reused: " << h;
        ASSERT_TRUE(Bass.BASS_SampleFree(h));
        EXPECT_FALSE(Bass.BASS_SampleFree(h));
        EXPECT_FALSE(Bass.BASS_ChannelPlay(h, TRUE));
    }
    DWORD live = Open(longWav);
    ASSERT_TRUE(Bass.BASS_ChannelPlay(live, TRUE));
    ASSERT_TRUE(Bass.BASS_Free());
    float v;
    EXPECT_FALSE(Bass.BASS_ChannelPlay(live, TRUE));
    EXPECT_FALSE(Bass.BASS_ChannelPause(live));
    EXPECT_FALSE(Bass.BASS_ChannelStop(live));
    EXPECT_FALSE(Bass.BASS_ChannelGetAttribute(live, BASS_ATTRIB_VOL, &v));
    EXPECT_FALSE(Bass.BASS_ChannelSetAttribute(live, BASS_ATTRIB_VOL, 0.5f));
    EXPECT_FALSE(Bass.BASS_ChannelSetPosition(live, 0, BASS_POS_BYTE));
    EXPECT_EQ(Bass.BASS_ChannelGetPosition(live, BASS_POS_BYTE), ~0ull);
    EXPECT_EQ(Bass.BASS_ChannelSetSync(live, BASS_SYNC_END, 0, CountEnd, nullptr), 0u);
    EXPECT_FALSE(Bass.BASS_SampleFree(live));
    EXPECT_EQ(Open(shortWav), 0u); // nothing plays without an open output
    ASSERT_TRUE(Bass.BASS_Init(-1, 44100, 4, nullptr, nullptr));
    DWORD again = Open(shortWav);
    EXPECT_EQ(seen.count(again), 0u);
    EXPECT_NE(again, live);
}

TEST_F(Api, StreamFreeReleasesAPlayingStreamAndEachThreadHasItsErrorCode)
{
    DWORD h = Open(longWav);
    ASSERT_TRUE(Bass.BASS_ChannelPlay(h, TRUE));
    EXPECT_EQ(Bass.BASS_ErrorGetCode(), BASS_OK);
    ASSERT_TRUE(Bass.BASS_StreamFree(h));
    EXPECT_EQ(Bass.BASS_ChannelGetPosition(h, BASS_POS_BYTE), ~0ull);
    EXPECT_FALSE(Bass.BASS_StreamFree(h));
    EXPECT_EQ(Bass.BASS_ErrorGetCode(), BASS_ERROR_UNKNOWN);
    int other = -2;
    std::thread([&] {
        Bass.BASS_Set3DFactors(0.3048f, -10.0f, 0.0f);
        other = Bass.BASS_ErrorGetCode();
    }).join();
    EXPECT_EQ(other, BASS_OK);
    EXPECT_EQ(Bass.BASS_ErrorGetCode(), BASS_ERROR_UNKNOWN);
}

TEST_F(Api, HammeringFromAnotherThreadLosesNoUpdate)
{
    DWORD h = Open(longWav);
    DWORD other = Open(shortWav);
    std::thread hammer([&] {
        for (int i = 0; i < 20000; i++) {
            Bass.BASS_ChannelPlay(h, i % 5 == 0);
            Bass.BASS_ChannelSetAttribute(h, BASS_ATTRIB_VOL, (i % 100) / 100.0f);
            Bass.BASS_ChannelPause(h);
            Bass.BASS_ChannelPlay(other, TRUE);
        }
        Bass.BASS_ChannelSetAttribute(h, BASS_ATTRIB_VOL, 0.37f);
        Bass.BASS_ChannelPlay(h, TRUE);
    });
    for (int i = 0; i < 20000; i++) {
        float v;
        ASSERT_TRUE(Bass.BASS_ChannelGetAttribute(h, BASS_ATTRIB_VOL, &v));
        ASSERT_LE(Bass.BASS_ChannelGetPosition(h, BASS_POS_BYTE), longBytes);
    }
    hammer.join();
    float v = 0;
    ASSERT_TRUE(Bass.BASS_ChannelGetAttribute(h, BASS_ATTRIB_VOL, &v));
    EXPECT_EQ(v, 0.37f);
    // The last play is in force: the channel moves on.
    ASSERT_TRUE(WaitUntil([&] { return Bass.BASS_ChannelGetPosition(h, BASS_POS_BYTE) > 20000; }));
}

TEST_F(Api, TraceHasOneLinePerCallWithPathsAsText)
{
    // "鼓声" in the ANSI code page: the program passes GBK paths.
    std::string drum = Folder + "\xB9\xC4\xC9\xF9.wav";
    WriteWav(drum, 441);
    DWORD h = Open(drum);
    ASSERT_NE(h, 0u);
    Bass.BASS_ChannelSetAttribute(h, BASS_ATTRIB_VOL, 0.25f);
    Bass.BASS_ChannelPlay(h, TRUE);
    std::ifstream f(TracePath, std::ios::binary);
    std::stringstream text;
    text << f.rdbuf();
    std::string s = text.str();
    std::string hs = std::to_string(h);
    EXPECT_NE(s.find(std::string(reinterpret_cast<const char*>(u8"\u9f13\u58f0.wav\", 0, 0, 0) = ")) + hs + "\r\n"),
              std::string::npos);
    EXPECT_NE(s.find("BASS_ChannelSetAttribute(" + hs + ", 2, 0.25) = 1\r\n"), std::string::npos);
    EXPECT_NE(s.find("BASS_ChannelPlay(" + hs + ", 1) = 1 [at "), std::string::npos);
    EXPECT_NE(s.find("BASS_Init(-1, 44100, 4, "), std::string::npos);
}

} // namespace
