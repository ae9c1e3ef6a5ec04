#include "bass/recorder.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>

#include "bass/record_ring.h"
#include "bass/trace.h"

namespace {

constexpr DWORD kWriterWakeMs = 100;
// The header's sizes follow the data at least this often, so a killed
// process leaves a WAV of what was written up to then.
constexpr DWORD kSizeUpdateMs = 500;
constexpr uint32_t kRingSeconds = 4;
// Hits and beats kept per recording: an hour at 18 hits a second.
constexpr uint32_t kMaxHits = 65536;

BOOL PlainWrite(HANDLE file, const void* data, DWORD bytes, DWORD* written)
{
    return WriteFile(file, data, bytes, written, nullptr);
}

std::atomic<RecorderWriteFn> Append{PlainWrite};
std::atomic<uint64_t> RiffLimit{kRiffMaxSize};
std::atomic<uint32_t> RingFrames{0};

struct Session {
    std::unique_ptr<RecordRing> ring;
    HANDLE file = INVALID_HANDLE_VALUE;
    HANDLE thread = nullptr;
    HANDLE stopEvent = nullptr;
    uint32_t rate = 0;
    uint32_t channels = 0;
    uint64_t maxFrames = 0;
    std::atomic<bool> stopAsked{false};
    DWORD askedReason = BASS_MIXRECORD_ASKED;
    std::atomic<bool> active{true};
    std::atomic<DWORD> stopped{BASS_MIXRECORD_RUNNING};
    std::atomic<uint64_t> frames{0};
    std::atomic<uint32_t> overruns{0};
    bool reported = false;
    // The mixer thread's: frames handed on so far, and the hits placed,
    // each published by the count. Kept after the end for the reading.
    uint64_t handed = 0;
    std::unique_ptr<BASS_MIXRECORDHIT[]> hits{new BASS_MIXRECORDHIT[kMaxHits]};
    std::atomic<uint32_t> hitCount{0};

    ~Session()
    {
        if (thread)
            CloseHandle(thread);
        if (stopEvent)
            CloseHandle(stopEvent);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
};

std::mutex ApiLock; // start, stop and info; never taken by the mixer or the writer
std::unique_ptr<Session> Current;

// The mixer's view: the recording it feeds, and whether it is inside a
// push, so that the ring is freed only once the mixer has let go of it.
std::atomic<Session*> Feeding{nullptr};
std::atomic<bool> InFeed{false};

// The mixer may have taken the ring just before it was detached: the ring
// is freed only after that push is over.
void WaitMixerOut()
{
    while (InFeed.load())
        SwitchToThread();
}

uint64_t DataEnd(const Session& s, uint64_t frames)
{
    return WavHeaderBytes(s.channels) + frames * 2ull * s.channels;
}

// Overwrites the header in place: the bytes are already on the disk, so
// this needs no room even when the disk is full.
bool WriteSizes(Session& s)
{
    uint8_t header[kWavExtensibleHeaderBytes];
    const DWORD headerBytes = WavHeaderBytes(s.channels);
    uint64_t frames = s.frames.load();
    WavHeader16(header, s.rate, s.channels, frames);
    LARGE_INTEGER start = {}, end = {};
    end.QuadPart = (LONGLONG)DataEnd(s, frames);
    DWORD written = 0;
    bool ok = SetFilePointerEx(s.file, start, nullptr, FILE_BEGIN) &&
              WriteFile(s.file, header, headerBytes, &written, nullptr) && written == headerBytes;
    if (!ok)
        TraceFailure("recorder", "WriteFile(header)", HRESULT_FROM_WIN32(GetLastError()));
    return SetFilePointerEx(s.file, end, nullptr, FILE_BEGIN) && ok;
}

// Writes what the ring holds. Returns the reason the recording ends, or
// RUNNING while it goes on.
DWORD Drain(Session& s)
{
    const uint32_t align = 2 * s.channels;
    for (;;) {
        const int16_t* data = nullptr;
        uint32_t n = s.ring->Peek(&data);
        if (!n)
            return BASS_MIXRECORD_RUNNING;
        uint64_t frames = s.frames.load();
        uint64_t room = s.maxFrames - frames;
        if (!room)
            return BASS_MIXRECORD_LIMIT;
        if (n > room)
            n = (uint32_t)room;
        DWORD bytes = n * align, written = 0;
        BOOL ok = Append.load()(s.file, data, bytes, &written);
        if (!ok || written != bytes) {
            TraceFailure("recorder", "WriteFile", HRESULT_FROM_WIN32(ok ? ERROR_WRITE_FAULT : GetLastError()));
            // A frame written in part is cut off: the file ends on the last whole one.
            s.frames.store(frames + written / align);
            LARGE_INTEGER end;
            end.QuadPart = (LONGLONG)DataEnd(s, s.frames.load());
            SetFilePointerEx(s.file, end, nullptr, FILE_BEGIN);
            SetEndOfFile(s.file);
            return BASS_MIXRECORD_WRITE;
        }
        s.frames.store(frames + n);
        s.ring->Consume(n);
    }
}

DWORD WINAPI WriterMain(void* arg)
{
    Session& s = *static_cast<Session*>(arg);
    DWORD sizesAt = GetTickCount();
    uint64_t sizesFrames = 0;
    DWORD reason = BASS_MIXRECORD_RUNNING;
    for (;;) {
        WaitForSingleObject(s.stopEvent, kWriterWakeMs);
        // Read before draining: once asked, the mixer has already let go,
        // so this drain takes the last frames.
        bool asked = s.stopAsked.load();
        reason = Drain(s);
        if (reason != BASS_MIXRECORD_RUNNING)
            break;
        if (asked) {
            reason = s.askedReason;
            break;
        }
        if (GetTickCount() - sizesAt >= kSizeUpdateMs && s.frames.load() != sizesFrames) {
            sizesFrames = s.frames.load();
            WriteSizes(s);
            sizesAt = GetTickCount();
        }
    }
    // Ended on its own: the mixer stops feeding at once, and the ring
    // stays allocated until the API thread reaps the recording.
    Session* mine = &s;
    Feeding.compare_exchange_strong(mine, nullptr);
    WriteSizes(s);
    CloseHandle(s.file);
    s.file = INVALID_HANDLE_VALUE;
    s.overruns.store(s.ring->Overruns());
    s.stopped.store(reason);
    s.active.store(false);
    return 0;
}

// Ends the current recording for `reason` if it runs, and waits for the
// writer either way. ApiLock held.
void Finish(Session& s, DWORD reason)
{
    if (!s.thread)
        return;
    if (s.active.load()) {
        Feeding.store(nullptr);
        WaitMixerOut();
        s.askedReason = reason;
        s.stopAsked.store(true);
        SetEvent(s.stopEvent);
    }
    WaitForSingleObject(s.thread, INFINITE);
    CloseHandle(s.thread);
    s.thread = nullptr;
    WaitMixerOut();
    s.ring.reset();
}

// A FAT32 disk (a USB stick) ends a file short of 4 GiB: the recording
// stops at its size limit, with that message, before a write fails.
uint64_t VolumeRiffLimit(HANDLE file)
{
    wchar_t name[MAX_PATH + 1] = {};
    if (!GetVolumeInformationByHandleW(file, nullptr, 0, nullptr, nullptr, nullptr, name, MAX_PATH + 1))
        return kRiffMaxSize;
    char ascii[MAX_PATH + 1] = {};
    WideCharToMultiByte(CP_ACP, 0, name, -1, ascii, MAX_PATH, nullptr, nullptr);
    return RiffLimitOfFileSystem(ascii);
}

void Describe(const Session& s, BASS_MIXRECORDINFO* info)
{
    if (!info)
        return;
    info->active = s.active.load() ? TRUE : FALSE;
    info->stopped = s.stopped.load();
    info->frames = s.frames.load();
    info->overruns = s.ring ? s.ring->Overruns() : s.overruns.load();
    info->freq = s.rate;
    info->chans = s.channels;
}

} // namespace

RecordStart RecorderStart(const char* path, uint32_t rate, uint32_t channels)
{
    std::lock_guard<std::mutex> hold(ApiLock);
    if (Current && Current->active.load())
        return RecordStart::Busy;
    auto s = std::make_unique<Session>();
    s->rate = rate;
    s->channels = channels;
    uint32_t ringFrames = RingFrames.load();
    s->ring = std::make_unique<RecordRing>(ringFrames ? ringFrames : kRingSeconds * rate, channels);
    s->stopEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!s->stopEvent) {
        TraceFailure("recorder", "CreateEvent", HRESULT_FROM_WIN32(GetLastError()));
        return RecordStart::Failed;
    }
    // CREATE_NEW: an existing file is never overwritten. Others may read
    // the file while it grows.
    s->file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (s->file == INVALID_HANDLE_VALUE) {
        TraceFailure("recorder", "CreateFile", HRESULT_FROM_WIN32(GetLastError()));
        return RecordStart::CannotCreate;
    }
    s->maxFrames = WavMaxFrames(std::min(RiffLimit.load(), VolumeRiffLimit(s->file)), channels);
    uint8_t header[kWavExtensibleHeaderBytes];
    WavHeader16(header, rate, channels, 0);
    const DWORD headerBytes = WavHeaderBytes(channels);
    DWORD written = 0;
    if (!WriteFile(s->file, header, headerBytes, &written, nullptr) || written != headerBytes) {
        TraceFailure("recorder", "WriteFile(header)", HRESULT_FROM_WIN32(GetLastError()));
        CloseHandle(s->file);
        s->file = INVALID_HANDLE_VALUE;
        DeleteFileA(path);
        return RecordStart::CannotCreate;
    }
    s->thread = CreateThread(nullptr, 0, WriterMain, s.get(), 0, nullptr);
    if (!s->thread) {
        TraceFailure("recorder", "CreateThread", HRESULT_FROM_WIN32(GetLastError()));
        CloseHandle(s->file);
        s->file = INVALID_HANDLE_VALUE;
        DeleteFileA(path);
        return RecordStart::Failed;
    }
    if (Current)
        Finish(*Current, BASS_MIXRECORD_ASKED);
    Current = std::move(s);
    Feeding.store(Current.get());
    return RecordStart::Started;
}

void RecorderEnd(DWORD reason)
{
    std::lock_guard<std::mutex> hold(ApiLock);
    if (Current && Current->active.load())
        Finish(*Current, reason);
}

bool RecorderStop(BASS_MIXRECORDINFO* info)
{
    std::lock_guard<std::mutex> hold(ApiLock);
    if (!Current || Current->reported)
        return false;
    Finish(*Current, BASS_MIXRECORD_ASKED);
    Current->reported = true;
    Describe(*Current, info);
    return true;
}

uint32_t RecorderHits(BASS_MIXRECORDHIT* hits, uint32_t first, uint32_t max)
{
    std::lock_guard<std::mutex> hold(ApiLock);
    if (!Current || !hits)
        return 0;
    const uint32_t count = Current->hitCount.load(std::memory_order_acquire);
    if (first >= count)
        return 0;
    const uint32_t n = std::min(max, count - first);
    std::copy(Current->hits.get() + first, Current->hits.get() + first + n, hits);
    return n;
}

bool RecorderInfo(BASS_MIXRECORDINFO* info)
{
    std::lock_guard<std::mutex> hold(ApiLock);
    if (!Current)
        return false;
    Describe(*Current, info);
    return true;
}

namespace {

bool Listening(void*)
{
    return Feeding.load() != nullptr;
}

void Played(void*, const float* stereo, uint32_t frames)
{
    InFeed.store(true);
    if (Session* s = Feeding.load()) {
        s->ring->Push(stereo, frames);
        s->handed += frames;
    }
    InFeed.store(false);
}

void Placed(void*, const TapMark& mark, uint64_t ahead)
{
    InFeed.store(true);
    Session* s = Feeding.load();
    const uint32_t n = s ? s->hitCount.load(std::memory_order_relaxed) : kMaxHits;
    if (n < kMaxHits) {
        BASS_MIXRECORDHIT& hit = s->hits[n];
        hit.frame = s->handed + ahead;
        hit.handle = mark.handle;
        hit.gain = mark.gain;
        hit.beat = mark.place;
        hit.beats = mark.beats;
        hit.tempo = (float)mark.milliBpm / 1000.0f;
        s->hitCount.store(n + 1, std::memory_order_release);
    }
    InFeed.store(false);
}

} // namespace

const OutputTap RecorderTap = {nullptr, Listening, Played, Placed};

void RecorderSetWrite(RecorderWriteFn write)
{
    Append.store(write ? write : PlainWrite);
}

void RecorderSetRiffLimit(uint64_t riffLimit)
{
    RiffLimit.store(riffLimit);
}

void RecorderSetRingFrames(uint32_t frames)
{
    RingFrames.store(frames);
}
