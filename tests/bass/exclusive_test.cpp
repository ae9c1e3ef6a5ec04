// Exclusive output through the library's exported functions, linked in so
// that the exclusive path can be refused on demand: each refusal falls back
// to a shared stream that plays and says why, a wish turned off asks for
// nothing, and the device itself either grants exclusive output or says why
// not.
#include <gtest/gtest.h>

#include <windows.h>

#include <audioclient.h>

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "bass/bass.h"
#include "bass/exclusive.h"
#include "tests/support/tone_wav.h"

namespace {

std::string Folder()
{
    static const std::string folder = [] {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        std::string f = std::string(temp) + "bass_exclusive_test_" + std::to_string(GetCurrentProcessId()) + "\\";
        CreateDirectoryA(f.c_str(), nullptr);
        return f;
    }();
    return folder;
}

std::string TracePath()
{
    return Folder() + "trace.txt";
}

// Read by the library at its first trace line.
const bool TraceNamed = SetEnvironmentVariableA("YXYT_AUDIO_TRACE", TracePath().c_str()) != FALSE;

// The last BASS_Init line of the trace.
std::string LastInitLine()
{
    std::ifstream in(TracePath(), std::ios::binary);
    std::string line, last;
    while (std::getline(in, line))
        if (line.rfind("BASS_Init(", 0) == 0)
            last = line;
    return last;
}

void CALLBACK SignalEnd(DWORD, DWORD, DWORD, void* user)
{
    SetEvent(static_cast<HANDLE>(user));
}

// A 200 ms tone played to its end: the output takes frames from the mixer.
void ExpectItPlays()
{
    static const std::string tone = [] {
        std::string path = Folder() + "tone.wav";
        WriteToneWav(path, 0.2, 440);
        return path;
    }();
    HANDLE ended = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    DWORD h = BASS_StreamCreateFile(FALSE, tone.c_str(), 0, 0, 0);
    ASSERT_NE(h, 0u);
    ASSERT_NE(BASS_ChannelSetSync(h, BASS_SYNC_END, 0, SignalEnd, ended), 0u);
    ASSERT_TRUE(BASS_ChannelPlay(h, TRUE));
    EXPECT_EQ(WaitForSingleObject(ended, 10000), WAIT_OBJECT_0);
    BASS_StreamFree(h);
    CloseHandle(ended);
}

class ExclusiveOutput : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(TraceNamed); }
    void TearDown() override
    {
        BASS_Free();
        WasapiRefuseExclusive(S_OK);
        BASS_SetExclusive(FALSE);
    }
};

TEST_F(ExclusiveOutput, NotAskedByDefaultNorAfterTheWishIsWithdrawn)
{
    BASS_OUTPUTMODE mode = {};
    EXPECT_FALSE(BASS_GetOutputMode(&mode)) << "no output is open";
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);

    for (BOOL before : {FALSE, TRUE}) {
        // A wish turned off before the open asks for nothing.
        if (before)
            BASS_SetExclusive(TRUE);
        BASS_SetExclusive(FALSE);
        ASSERT_TRUE(BASS_Init(-1, 44100, BASS_DEVICE_3D, nullptr, nullptr));
        ASSERT_TRUE(BASS_GetOutputMode(&mode));
        EXPECT_EQ(mode.mode, BASS_OUTPUT_SHARED);
        EXPECT_FALSE(mode.asked);
        EXPECT_EQ(mode.reason, BASS_EXCLUSIVE_HAD);
        EXPECT_EQ(mode.code, 0u);
        EXPECT_GT(mode.freq, 0u);
        EXPECT_GT(mode.period, 0u);
        EXPECT_NE(LastInitLine().find("= 1 [shared, WASAPI IAudioClient"), std::string::npos) << LastInitLine();
        ExpectItPlays();
        BASS_Free();
    }
}

TEST_F(ExclusiveOutput, ARefusedDeviceFallsBackToSharedAndSaysWhy)
{
    const struct {
        HRESULT code;
        DWORD reason;
        const char* traced;
    } cases[] = {
        {AUDCLNT_E_DEVICE_IN_USE, BASS_EXCLUSIVE_BUSY, "exclusive refused: device in use 0x8889000A"},
        {AUDCLNT_E_UNSUPPORTED_FORMAT, BASS_EXCLUSIVE_FORMAT, "exclusive refused: format not supported 0x88890008"},
        {AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED, BASS_EXCLUSIVE_NOT_ALLOWED,
         "exclusive refused: exclusive mode not allowed 0x8889000E"},
        {E_ACCESSDENIED, BASS_EXCLUSIVE_OTHER, "exclusive refused: failed 0x80070005"},
    };
    for (const auto& c : cases) {
        WasapiRefuseExclusive(c.code);
        ASSERT_TRUE(BASS_SetExclusive(TRUE));
        ASSERT_TRUE(BASS_Init(-1, 44100, BASS_DEVICE_3D, nullptr, nullptr)) << std::hex << c.code;
        BASS_OUTPUTMODE mode = {};
        ASSERT_TRUE(BASS_GetOutputMode(&mode));
        EXPECT_EQ(mode.mode, BASS_OUTPUT_SHARED);
        EXPECT_TRUE(mode.asked);
        EXPECT_EQ(mode.reason, c.reason);
        EXPECT_EQ(mode.code, (DWORD)c.code);
        std::string line = LastInitLine();
        EXPECT_NE(line.find(std::string("= 1 [shared, ") + c.traced + ", WASAPI IAudioClient"), std::string::npos)
            << line;
        ExpectItPlays();
        ASSERT_TRUE(BASS_Free());
    }
}

// Whatever this system's sound server does with the wish, the output plays
// and tells which mode runs; a refusal carries a failure code.
TEST_F(ExclusiveOutput, TheDeviceGrantsItOrSaysWhyNot)
{
    ASSERT_TRUE(BASS_SetExclusive(TRUE));
    ASSERT_TRUE(BASS_Init(-1, 44100, BASS_DEVICE_3D, nullptr, nullptr));
    BASS_OUTPUTMODE mode = {};
    ASSERT_TRUE(BASS_GetOutputMode(&mode));
    EXPECT_TRUE(mode.asked);
    std::string line = LastInitLine();
    std::cout << "[ device   ] " << line << "\n";
    if (mode.mode == BASS_OUTPUT_EXCLUSIVE) {
        EXPECT_EQ(mode.reason, BASS_EXCLUSIVE_HAD);
        EXPECT_NE(line.find("= 1 [exclusive, WASAPI exclusive"), std::string::npos) << line;
    } else {
        EXPECT_EQ(mode.mode, BASS_OUTPUT_SHARED);
        EXPECT_NE(mode.reason, BASS_EXCLUSIVE_HAD);
        EXPECT_TRUE(mode.code & 0x80000000u) << std::hex << mode.code;
        EXPECT_NE(line.find("exclusive refused: "), std::string::npos) << line;
    }
    ExpectItPlays();
}

} // namespace
