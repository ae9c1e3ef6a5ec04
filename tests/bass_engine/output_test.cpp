// Each output backend on its own, in-process under Wine: it opens on the
// default device, asks for audio as the device drains, and takes it.
#include <gtest/gtest.h>

#include <windows.h>

#include <mmsystem.h>
#include <objbase.h>

#include <cmath>
#include <vector>

#include "bass/output.h"

namespace {

void Drive(const OutputBackend& backend)
{
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    OutputFormat format;
    ASSERT_TRUE(backend.Open(std::wstring(), WAVE_MAPPER, stop, &format)) << backend.Name;
    EXPECT_GT(format.Rate, 0u);
    EXPECT_GT(format.PeriodFrames, 0u);
    EXPECT_GE(format.BufferFrames, format.TargetFrames);
    EXPECT_GT(format.TargetFrames, 0u);
    std::vector<float> tone(65536 * 2);
    for (size_t i = 0; i < tone.size() / 2; i++)
        tone[2 * i] = tone[2 * i + 1] = 0.2f * std::sin(6.2831853f * 440 * i / format.Rate);
    // Half a second of audio must be asked for and taken; the device paces it.
    uint64_t written = 0;
    bool started = false;
    int idle = 0;
    while (written < format.Rate / 2 && idle < 50) {
        uint32_t queued = 0;
        uint32_t frames = backend.Wait(started ? 200 : 0, &queued);
        EXPECT_LE(queued, format.BufferFrames);
        if (!frames) {
            idle++;
        } else {
            ASSERT_LE(frames, format.BufferFrames);
            ASSERT_TRUE(backend.Write(tone.data(), frames));
            written += frames;
        }
        if (!started)
            started = backend.Start();
    }
    EXPECT_TRUE(started);
    EXPECT_GE(written, format.Rate / 2) << backend.Name;
    // The stop event ends a wait at once.
    SetEvent(stop);
    uint32_t queued = 0;
    DWORD before = GetTickCount();
    while (backend.Wait(5000, &queued) && GetTickCount() - before < 10000) {
    }
    EXPECT_LT(GetTickCount() - before, 4000u);
    backend.Stop();
    backend.Close();
    CloseHandle(stop);
    CoUninitialize();
}

TEST(Output, WasapiPlaysOnTheDefaultDevice)
{
    Drive(WasapiOutput);
}

TEST(Output, WaveOutPlaysOnTheDefaultDevice)
{
    Drive(WaveOutOutput);
}

}  // namespace
