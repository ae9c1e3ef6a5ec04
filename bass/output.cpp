#include "bass/output.h"

#include <windows.h>

#include <avrt.h>
#include <mmsystem.h>
#include <objbase.h>

#include <algorithm>
#include <exception>
#include <utility>
#include <vector>

#include "bass/channels.h"
#include "bass/devices.h"
#include "bass/recorder.h"

StartProbe OutputStartProbe;

namespace {

const OutputBackend* Backend = nullptr;
OutputFormat Format;
HANDLE MixerThread = nullptr;
HANDLE StopEvent = nullptr;
HANDLE OpenedEvent = nullptr;
std::atomic<bool> StopFlag{false};
bool OpenResult = false;
std::exception_ptr OpenFailure; // thrown while opening, rethrown to the caller
int OpenDevice = -1;
std::vector<float> Block; // allocated by the caller: mixing allocates nothing

void RaisePriority()
{
    DWORD task = 0;
    if (!AvSetMmThreadCharacteristicsW(L"Pro Audio", &task))
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
}

bool OpenBackend()
{
    std::wstring endpoint;
    UINT wave = WAVE_MAPPER;
    if (OpenDevice != -1) {
        if (!DeviceEndpoint(OpenDevice, &endpoint))
            return false;
        wave = (UINT)(OpenDevice - 1);
    }
    for (const OutputBackend* b : {&WasapiOutput, &WaveOutOutput}) {
        Format = OutputFormat();
        if (b->open(endpoint, wave, StopEvent, &Format)) {
            Backend = b;
            return true;
        }
    }
    return false;
}

// A C++ exception must not end this thread, and with it the process: a
// block that cannot be mixed plays as silence.
uint32_t MixOrSilence(float* out, uint32_t frames)
{
    try {
        return RenderMix(out, frames);
    } catch (...) {
        std::fill(out, out + (size_t)frames * 2, 0.0f);
        return 0;
    }
}

// Opens the device here, not on the caller's thread, so COM runs in this
// thread's own apartment whatever the caller's is. What the opening throws
// (out of memory) is handed to the caller's thread.
DWORD WINAPI MixerMain(void*)
{
    HRESULT co = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    try {
        OpenResult = OpenBackend();
    } catch (...) {
        OpenResult = false;
        OpenFailure = std::current_exception();
    }
    SetEvent(OpenedEvent);
    if (OpenResult) {
        RaisePriority();
        bool started = false;
        DWORD timeout = 0; // fill the buffer once before starting the device
        while (!StopFlag.load()) {
            uint32_t queued = 0;
            uint32_t frames = Backend->wait(timeout, &queued);
            if (StopFlag.load())
                break;
            if (frames > Block.size() / 2)
                frames = (uint32_t)(Block.size() / 2);
            if (frames) {
                uint32_t first = MixOrSilence(Block.data(), frames);
                if (Backend->write(Block.data(), frames))
                    RecorderFeed(Block.data(), frames);
                if (first) {
                    LARGE_INTEGER now;
                    QueryPerformanceCounter(&now);
                    OutputStartProbe.handle.store(first);
                    OutputStartProbe.ticks.store(now.QuadPart);
                    OutputStartProbe.queued.store(queued);
                    OutputStartProbe.seq.fetch_add(1);
                }
            }
            if (!started) {
                started = Backend->start();
                timeout = 200;
            }
        }
        Backend->stop();
        Backend->close();
    }
    if (SUCCEEDED(co))
        CoUninitialize();
    return 0;
}

} // namespace

bool OutputOpen(int device)
{
    if (MixerThread)
        return false;
    Block.resize(65536 * 2);
    OpenFailure = nullptr;
    OpenDevice = device;
    StopFlag.store(false);
    StopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    OpenedEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    MixerThread = CreateThread(nullptr, 0, MixerMain, nullptr, 0, nullptr);
    if (MixerThread)
        WaitForSingleObject(OpenedEvent, INFINITE);
    CloseHandle(OpenedEvent);
    OpenedEvent = nullptr;
    if (MixerThread && OpenResult)
        return true;
    OutputClose();
    if (OpenFailure)
        std::rethrow_exception(std::exchange(OpenFailure, nullptr));
    return false;
}

void OutputClose()
{
    if (MixerThread) {
        StopFlag.store(true);
        SetEvent(StopEvent);
        WaitForSingleObject(MixerThread, INFINITE);
        CloseHandle(MixerThread);
        MixerThread = nullptr;
    }
    if (StopEvent)
        CloseHandle(StopEvent);
    StopEvent = nullptr;
    Backend = nullptr;
}

const OutputFormat& OutputCurrentFormat()
{
    return Format;
}

const char* OutputBackendName()
{
    return Backend ? Backend->name : "";
}
