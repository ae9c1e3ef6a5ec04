// waveOut output for systems without WASAPI: a few short 16-bit buffers
// recycled as the driver signals them done.
#include <windows.h>

#include <mmsystem.h>

#include <vector>

#include "bass/mixer.h"
#include "bass/output.h"

namespace {

constexpr int kBufferCount = 4;
constexpr uint32_t kRate = 44100;
constexpr uint32_t kPeriodFrames = 441; // 10 ms, about what waveOut drivers keep up with

HWAVEOUT Wave = nullptr;
HANDLE DoneEvent = nullptr;
HANDLE CloseEvent = nullptr;
WAVEHDR Headers[kBufferCount];
std::vector<int16_t> Memory;
int Next = 0;

void WaveClose(void*);

bool WaveOpen(void*, const std::wstring&, UINT waveDevice, HANDLE closeEvent, OutputFormat* format)
{
    CloseEvent = closeEvent;
    WAVEFORMATEX wfx = {};
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = 2;
    wfx.nSamplesPerSec = kRate;
    wfx.wBitsPerSample = 16;
    wfx.nBlockAlign = 4;
    wfx.nAvgBytesPerSec = kRate * 4;
    // Allocated before the device opens: running out of memory leaves nothing open.
    Memory.assign((size_t)kBufferCount * kPeriodFrames * 2, 0);
    DoneEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!DoneEvent ||
        waveOutOpen(&Wave, waveDevice, &wfx, (DWORD_PTR)DoneEvent, 0, CALLBACK_EVENT) != MMSYSERR_NOERROR) {
        Wave = nullptr;
        WaveClose(nullptr);
        return false;
    }
    for (int i = 0; i < kBufferCount; i++) {
        Headers[i] = WAVEHDR();
        Headers[i].lpData = reinterpret_cast<LPSTR>(Memory.data() + (size_t)i * kPeriodFrames * 2);
        Headers[i].dwBufferLength = kPeriodFrames * 4;
        waveOutPrepareHeader(Wave, &Headers[i], sizeof(WAVEHDR));
        Headers[i].dwFlags |= WHDR_DONE;
    }
    Next = 0;
    format->rate = kRate;
    format->channels = 2;
    format->periodFrames = kPeriodFrames;
    format->bufferFrames = kBufferCount * kPeriodFrames;
    format->latencyMs = 0;
    return true;
}

bool WaveStart(void*)
{
    return true;
}

void WaveClose(void*)
{
    if (Wave) {
        waveOutReset(Wave);
        for (WAVEHDR& h : Headers)
            waveOutUnprepareHeader(Wave, &h, sizeof(WAVEHDR));
        waveOutClose(Wave);
    }
    Wave = nullptr;
    if (DoneEvent)
        CloseHandle(DoneEvent);
    DoneEvent = nullptr;
}

uint32_t QueuedFrames()
{
    uint32_t queued = 0;
    for (const WAVEHDR& h : Headers)
        if (!(h.dwFlags & WHDR_DONE))
            queued += kPeriodFrames;
    return queued;
}

uint32_t WaveWait(void*, DWORD timeoutMs, uint32_t* queued)
{
    if (!(Headers[Next].dwFlags & WHDR_DONE) && timeoutMs) {
        HANDLE events[2] = {CloseEvent, DoneEvent};
        if (WaitForMultipleObjects(2, events, FALSE, timeoutMs) == WAIT_OBJECT_0)
            return 0;
    }
    *queued = QueuedFrames();
    return (Headers[Next].dwFlags & WHDR_DONE) ? kPeriodFrames : 0;
}

bool WaveWrite(void*, const float* stereo, uint32_t frames)
{
    WAVEHDR& h = Headers[Next];
    ToPcm16(reinterpret_cast<int16_t*>(h.lpData), stereo, (size_t)frames * 2);
    h.dwBufferLength = frames * 4;
    h.dwFlags &= ~WHDR_DONE;
    Next = (Next + 1) % kBufferCount;
    return waveOutWrite(Wave, &h, sizeof(WAVEHDR)) == MMSYSERR_NOERROR;
}

} // namespace

// waveOut keeps running: it never idles.
const OutputBackend WaveOutOutput = {"waveOut", nullptr, WaveOpen, WaveStart, WaveClose, WaveWait, WaveWrite, nullptr};
