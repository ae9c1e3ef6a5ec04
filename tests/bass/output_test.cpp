// Each output backend on its own, in-process under Wine: it opens on the
// default device, asks for audio as the device drains, and takes it.
#include <gtest/gtest.h>

#include <windows.h>

#include <mmsystem.h>
#include <objbase.h>

#include <cmath>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "bass/output.h"

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

void Drive(const OutputBackend& backend)
{
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    OutputFormat format;
    ASSERT_TRUE(backend.open(std::wstring(), WAVE_MAPPER, stop, &format)) << backend.name;
    EXPECT_GT(format.rate, 0u);
    EXPECT_GT(format.periodFrames, 0u);
    EXPECT_GE(format.bufferFrames, format.targetFrames);
    EXPECT_GT(format.targetFrames, 0u);
    std::vector<float> tone(65536 * 2);
    for (size_t i = 0; i < tone.size() / 2; i++)
        tone[2 * i] = tone[2 * i + 1] = 0.2f * std::sin(6.2831853f * 440 * i / format.rate);
    // Half a second of audio must be asked for and taken; the device paces it.
    uint64_t written = 0;
    bool started = false;
    int idle = 0;
    while (written < format.rate / 2 && idle < 50) {
        uint32_t queued = 0;
        uint32_t frames = backend.wait(started ? 200 : 0, &queued);
        EXPECT_LE(queued, format.bufferFrames);
        if (!frames) {
            idle++;
        } else {
            ASSERT_LE(frames, format.bufferFrames);
            ASSERT_TRUE(backend.write(tone.data(), frames));
            written += frames;
        }
        if (!started)
            started = backend.start();
    }
    EXPECT_TRUE(started);
    EXPECT_GE(written, format.rate / 2) << backend.name;
    // The stop event ends a wait at once.
    SetEvent(stop);
    uint32_t queued = 0;
    DWORD before = GetTickCount();
    while (backend.wait(5000, &queued) && GetTickCount() - before < 10000) {
    }
    EXPECT_LT(GetTickCount() - before, 4000u);
    backend.stop();
    backend.close();
    CloseHandle(stop);
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
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    OutputFormat format;
    EXPECT_FALSE(WasapiOutput.open(L"{0.0.0.00000000}.{no-such-endpoint}", WAVE_MAPPER, stop, &format));
    CloseHandle(stop);
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

} // namespace
