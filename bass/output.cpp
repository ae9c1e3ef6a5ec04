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

// After the last sound, this much silence on top of the device's buffer and
// stream latency is written before the device stops and drops its buffer:
// what it drops is silence.
constexpr double kIdleMarginMs = 20;
// While the device is stopped a recording still gets its silence, counted
// this often: a recording started meanwhile begins with at most this much
// of the time before it.
constexpr DWORD kIdleFeedMs = 20;

const OutputBackend* Backend = nullptr;
const OutputBackend* OnlyBackend = nullptr;
OutputFormat Format;
HANDLE MixerThread = nullptr;
HANDLE StopEvent = nullptr;
HANDLE OpenedEvent = nullptr;
// Made once and never closed: a play call may set it while the output closes.
HANDLE WakeEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
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
    const OutputBackend* system[] = {&WasapiOutput, &WaveOutOutput};
    const OutputBackend* const* tried = OnlyBackend ? &OnlyBackend : system;
    size_t count = OnlyBackend ? 1 : 2;
    for (size_t i = 0; i < count; i++) {
        Format = OutputFormat();
        if (tried[i]->open(endpoint, wave, StopEvent, &Format)) {
            Backend = tried[i];
            return true;
        }
    }
    return false;
}

// A C++ exception must not end this thread, and with it the process: a
// block that cannot be mixed plays as silence.
uint32_t MixOrSilence(float* out, uint32_t frames, size_t* voices, bool onTime)
{
    try {
        return RenderMix(out, frames, voices, onTime);
    } catch (...) {
        std::fill(out, out + (size_t)frames * 2, 0.0f);
        *voices = 0;
        return 0;
    }
}

// The mixer thread's clock: performance-counter ticks, and the device's
// frames per tick (set when the output opens).
double FramesPerTick = 0;
// When the device runs out of what was written.
int64_t DryAt = 0;

int64_t Now()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// Hands the mixed block to the device and the recorder; `first`: the
// channel whose first frames it holds, behind `queued` frames.
void Write(uint32_t frames, uint32_t first, uint32_t queued)
{
    if (Backend->write(Block.data(), frames))
        RecorderFeed(Block.data(), frames);
    const int64_t now = Now();
    DryAt = now + (int64_t)((queued + frames) / FramesPerTick);
    if (first) {
        OutputStartProbe.handle.store(first);
        OutputStartProbe.ticks.store(now);
        OutputStartProbe.queued.store(queued);
        OutputStartProbe.seq.fetch_add(1);
    }
}

void FeedSilence(uint64_t frames)
{
    const uint32_t room = (uint32_t)std::min<uint64_t>(frames, Block.size() / 2);
    std::fill(Block.begin(), Block.begin() + (size_t)room * 2, 0.0f);
    while (frames) {
        uint32_t n = (uint32_t)std::min<uint64_t>(frames, room);
        RecorderFeed(Block.data(), n);
        frames -= n;
    }
}

// Nothing plays: the device is stopped and emptied, and a play call starts
// it again with its sound at the head of the empty buffer, as a fresh
// stream would start. The recording meanwhile gets the silence of the
// stopped time, less what the device dropped (recorded already, never
// heard). Returns true with the first block written, false when the output
// closes.
bool Idle()
{
    const uint32_t dropped = Backend->idle();
    const int64_t since = Now();
    uint64_t fed = 0;
    HANDLE events[2] = {StopEvent, WakeEvent};
    for (;;) {
        DWORD r = WaitForMultipleObjects(2, events, FALSE, kIdleFeedMs);
        if (StopFlag.load())
            return false;
        const uint64_t elapsed = (uint64_t)((Now() - since) * FramesPerTick);
        if (elapsed > dropped + fed) {
            FeedSilence(elapsed - dropped - fed);
            fed = elapsed - dropped;
        }
        if (r != WAIT_OBJECT_0 + 1)
            continue;
        // A wake can be stale (a play that the running device already
        // took): a block with nothing in it is no start, and mixing it
        // moved nothing.
        uint32_t frames = std::min<uint32_t>(Format.startFrames, (uint32_t)(Block.size() / 2));
        size_t voices = 0;
        uint32_t first = MixOrSilence(Block.data(), frames, &voices, false);
        if (voices) {
            Write(frames, first, 0);
            return true;
        }
    }
}

// The device found its buffer empty (the mixer thread came late, as under
// load): it played silence that no block holds. A recording gets that
// silence too, less what the device keeps after its buffer, so it stays as
// long as the time it covers.
void FeedRunDry(uint32_t queued)
{
    if (queued || !DryAt)
        return;
    const double frames = (Now() - DryAt) * FramesPerTick - Format.latencyMs * Format.rate / 1000.0;
    if (frames > Format.periodFrames)
        FeedSilence((uint64_t)frames);
}

void Play()
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    FramesPerTick = (double)Format.rate / frequency.QuadPart;
    // Silence written since the last sound, before the device may idle.
    const uint64_t hold = Format.bufferFrames + (uint64_t)((Format.latencyMs + kIdleMarginMs) * Format.rate / 1000.0);
    uint64_t quiet = 0;
    uint32_t ahead = 0; // after a start from empty: frames kept ahead
    bool started = false;
    DWORD timeout = 0; // fill the buffer once before starting the device
    while (!StopFlag.load()) {
        uint32_t queued = 0;
        uint32_t frames = Backend->wait(timeout, &queued);
        if (StopFlag.load())
            break;
        if (started)
            FeedRunDry(queued);
        if (queued < ahead)
            frames = std::max(frames, ahead - queued);
        if (frames > Block.size() / 2)
            frames = (uint32_t)(Block.size() / 2);
        if (frames) {
            size_t voices = 0;
            uint32_t first = MixOrSilence(Block.data(), frames, &voices, started);
            Write(frames, first, queued);
            quiet = voices ? 0 : quiet + frames;
        }
        if (!started) {
            started = Backend->start();
            timeout = 200;
        }
        if (started && Format.idleStop && quiet >= hold) {
            if (!Idle())
                break;
            started = Backend->start();
            quiet = 0;
            ahead = Format.restartFrames;
        }
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
        Play();
        Backend->stop();
        Backend->close();
    }
    if (SUCCEEDED(co))
        CoUninitialize();
    return 0;
}

} // namespace

bool OutputOpen(int device, const OutputBackend* only)
{
    if (MixerThread || !WakeEvent)
        return false;
    Block.resize(65536 * 2);
    DryAt = 0;
    OpenFailure = nullptr;
    OpenDevice = device;
    OnlyBackend = only;
    ResetEvent(WakeEvent);
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

void OutputWake()
{
    SetEvent(WakeEvent);
}

const OutputFormat& OutputCurrentFormat()
{
    return Format;
}

const char* OutputBackendName()
{
    return Backend ? Backend->name : "";
}
