#include "bass/channels.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "bass/decoder.h"
#include "bass/mixer.h"
#include "bass/source.h"

namespace {

// Files up to this long are decoded whole at creation (the kit samples);
// longer ones (music) are decoded as they play.
constexpr uint64_t MemorySeconds = 20;
constexpr uint32_t SlotBits = 10;
constexpr uint32_t MaxChannels = 1u << SlotBits;
constexpr size_t MaxVoices = 256;
constexpr size_t ChunkFrames = 2048;
constexpr size_t MaxEvents = 1024;
constexpr size_t MaxSyncsPerEvent = 16;

enum class PlayState { Stopped, Playing, Paused };

struct Channel {
    uint32_t Handle = 0;  // 0: free slot
    std::shared_ptr<Source> Audio;
    PlayState State = PlayState::Stopped;
    float Volume = 1.0f;
    uint64_t BaseFrame = 0;   // file frame of the last reposition
    uint64_t PlayedDev = 0;   // device frames mixed since
    bool AtEnd = false;
    uint32_t Gen = 1;         // bumped by every reposition
    bool StartProbe = false;  // first frames after a play call not yet mixed
};

struct Sync {
    uint32_t Handle;
    uint32_t Channel;
    void* Proc;
    void* User;
    bool OneTime;
};

struct Voice {
    uint32_t Slot, Handle, Gen;
    Source* Audio;
    uint64_t DevPos;  // memory sources: next frame to mix
    float Gain;
    bool Probe;
    size_t Mixed;
    bool Ended;
};

// One flag per thread instance: a thread told to stop from inside itself
// (BASS_Free in an end routine) is left to finish alone.
struct Worker {
    Worker() = default;
    Worker(Worker&&) = default;
    Worker& operator=(Worker&&) = default;
    // A program that exits without BASS_Free still has the threads running
    // when the library's globals are destroyed; the exit ends them anyway.
    ~Worker()
    {
        if (Thread.joinable())
            Thread.detach();
    }
    std::thread Thread;
    std::shared_ptr<std::atomic<bool>> Stop;
};

std::mutex TableLock;  // held only for short copies, never across I/O or callbacks
Channel Table[MaxChannels];
std::vector<Sync> Syncs;
std::vector<std::pair<std::shared_ptr<Source>, uint64_t>> Retired;
// Room, reserved at open, for the table's sources at close: closing must
// not need memory.
std::vector<std::shared_ptr<Source>> Closing;
uint32_t EndEvents[MaxEvents];
size_t EventHead = 0, EventCount = 0;
bool Open = false;
uint32_t DeviceRate = 44100;
SyncInvoker Invoker = nullptr;
uint32_t Serial = 0;      // never reset, so handles are not reused soon
uint32_t SyncSerial = 0;
uint32_t NextSlot = 0;
std::atomic<uint64_t> MixCycle{0};

std::condition_variable FeederWake, SyncWake;
Worker Feeder, Deliverer;

// Mixer-thread state.
Voice Voices[MaxVoices];
float Scratch[ChunkFrames * 2];
Limiter OutputLimiter;

Channel* Find(uint32_t handle)
{
    if (!handle)
        return nullptr;
    Channel& ch = Table[handle & (MaxChannels - 1)];
    return ch.Handle == handle ? &ch : nullptr;
}

uint64_t CurrentFrame(const Channel& ch)
{
    const Source& s = *ch.Audio;
    if (ch.AtEnd)
        return s.FileFrames;
    return std::min(s.FileFrames, ch.BaseFrame + s.FileFramesOf(ch.PlayedDev));
}

void Reposition(Channel& ch, uint64_t frame)
{
    ch.BaseFrame = frame;
    ch.PlayedDev = 0;
    ch.AtEnd = false;
    ch.Gen++;
    if (ch.Audio->IsStream)
        static_cast<StreamSource&>(*ch.Audio).Request(ch.Gen, frame);
}

void RetireLocked(Channel& ch)
{
    Retired.emplace_back(std::move(ch.Audio), MixCycle.load());
    uint32_t handle = ch.Handle;
    Syncs.erase(std::remove_if(Syncs.begin(), Syncs.end(), [&](const Sync& s) { return s.Channel == handle; }),
                Syncs.end());
    ch = Channel();
}

// One round of the feeder: frees what the mixer has let go, then decodes
// ahead in every stream. True when it decoded anything.
bool Feed(std::vector<std::shared_ptr<Source>>& streams, std::vector<std::shared_ptr<Source>>& dead)
{
    {
        std::unique_lock<std::mutex> hold(TableLock);
        streams.clear();
        for (Channel& ch : Table)
            if (ch.Handle && ch.Audio->IsStream)
                streams.push_back(ch.Audio);
        // Free what the mixer can no longer be reading, outside the lock.
        uint64_t cycle = MixCycle.load();
        auto keep =
            std::partition(Retired.begin(), Retired.end(), [&](const auto& r) { return r.second + 1 >= cycle; });
        for (auto it = keep; it != Retired.end(); ++it)
            dead.push_back(std::move(it->first));
        Retired.erase(keep, Retired.end());
    }
    dead.clear();
    bool work = false;
    for (auto& s : streams)
        work |= static_cast<StreamSource&>(*s).Fill();
    streams.clear();
    return work;
}

void FeederMain(std::shared_ptr<std::atomic<bool>> stop)
{
    std::vector<std::shared_ptr<Source>> streams;
    std::vector<std::shared_ptr<Source>> dead;
    while (!stop->load()) {
        bool work = false;
        try {
            streams.reserve(MaxChannels);
            dead.reserve(MaxChannels);
            work = Feed(streams, dead);
        } catch (...) {
            // Out of memory while decoding: a stream misses a block, and the
            // feeder tries again after its pause instead of ending the process.
            streams.clear();
            dead.clear();
        }
        if (work)
            continue;
        std::unique_lock<std::mutex> hold(TableLock);
        FeederWake.wait_for(hold, std::chrono::milliseconds(20), [&] { return stop->load(); });
    }
}

void DelivererMain(std::shared_ptr<std::atomic<bool>> stop)
{
    Sync calls[MaxSyncsPerEvent];
    std::unique_lock<std::mutex> hold(TableLock);
    while (!stop->load()) {
        if (!EventCount) {
            SyncWake.wait(hold, [&] { return stop->load() || EventCount; });
            continue;
        }
        uint32_t channel = EndEvents[EventHead];
        EventHead = (EventHead + 1) % MaxEvents;
        EventCount--;
        size_t n = 0;
        for (const Sync& s : Syncs)
            if (s.Channel == channel && n < MaxSyncsPerEvent)
                calls[n++] = s;
        Syncs.erase(std::remove_if(Syncs.begin(), Syncs.end(),
                                   [&](const Sync& s) { return s.Channel == channel && s.OneTime; }),
                    Syncs.end());
        SyncInvoker invoke = Invoker;
        hold.unlock();
        for (size_t i = 0; i < n && !stop->load(); i++) {
            // An end routine that throws loses its call, not this thread.
            try {
                invoke(calls[i].Proc, calls[i].Handle, calls[i].Channel, calls[i].User);
            } catch (...) {
            }
        }
        hold.lock();
    }
}

Worker StartWorker(void (*main)(std::shared_ptr<std::atomic<bool>>))
{
    Worker w;
    w.Stop = std::make_shared<std::atomic<bool>>(false);
    w.Thread = std::thread(main, w.Stop);
    return w;
}

void StopWorker(Worker& w, std::condition_variable& wake)
{
    if (!w.Thread.joinable())
        return;
    {
        std::lock_guard<std::mutex> hold(TableLock);
        w.Stop->store(true);
    }
    wake.notify_all();
    if (w.Thread.get_id() == std::this_thread::get_id())
        w.Thread.detach();
    else
        w.Thread.join();
    w = Worker();
}

}  // namespace

bool ChannelsOpen(uint32_t deviceRate, SyncInvoker invoker)
{
    {
        std::lock_guard<std::mutex> hold(TableLock);
        if (Open)
            return false;
        Open = true;
        DeviceRate = deviceRate;
        Invoker = invoker;
        EventHead = EventCount = 0;
    }
    // Out of memory (or threads) half-way, what was started is closed again.
    try {
        {
            std::lock_guard<std::mutex> hold(TableLock);
            Syncs.reserve(256);
            Retired.reserve(MaxChannels);
            Closing.reserve(MaxChannels);
        }
        LimiterSetup(OutputLimiter, deviceRate);
        Feeder = StartWorker(FeederMain);
        Deliverer = StartWorker(DelivererMain);
    } catch (...) {
        ChannelsClose();
        throw;
    }
    return true;
}

void ChannelsClose()
{
    StopWorker(Feeder, FeederWake);
    StopWorker(Deliverer, SyncWake);
    std::vector<std::shared_ptr<Source>> closing;
    std::vector<std::pair<std::shared_ptr<Source>, uint64_t>> retired;
    {
        std::lock_guard<std::mutex> hold(TableLock);
        for (Channel& ch : Table) {
            if (ch.Handle && Closing.size() < Closing.capacity())
                Closing.push_back(std::move(ch.Audio));
            ch = Channel();
        }
        // The sources are destroyed outside the lock.
        closing.swap(Closing);
        retired.swap(Retired);
        Syncs.clear();
        EventHead = EventCount = 0;
        Open = false;
    }
}

bool ChannelsAreOpen()
{
    std::lock_guard<std::mutex> hold(TableLock);
    return Open;
}

uint32_t ChannelCreate(std::unique_ptr<Decoder> decoder)
{
    if (!decoder || decoder->LengthFrames() == 0 || decoder->SampleRate() == 0 || decoder->FileChannels() == 0)
        return 0;
    uint32_t rate;
    {
        std::lock_guard<std::mutex> hold(TableLock);
        if (!Open)
            return 0;
        rate = DeviceRate;
    }
    std::shared_ptr<Source> audio;
    if (decoder->LengthFrames() <= MemorySeconds * decoder->SampleRate())
        audio = LoadMemorySource(*decoder, rate);
    else
        audio = std::make_shared<StreamSource>(std::move(decoder), rate);
    if (audio->FileFrames == 0)
        return 0;
    const bool isStream = audio->IsStream;
    uint32_t handle = 0;
    {
        std::lock_guard<std::mutex> hold(TableLock);
        if (!Open || rate != DeviceRate)
            return 0;
        for (uint32_t i = 0; i < MaxChannels && !handle; i++) {
            uint32_t slot = (NextSlot + i) % MaxChannels;
            if (Table[slot].Handle)
                continue;
            if (++Serial >= (1u << (32 - SlotBits)))
                Serial = 1;
            handle = (Serial << SlotBits) | slot;
            NextSlot = slot + 1;
            Channel& ch = Table[slot];
            ch = Channel();
            ch.Handle = handle;
            ch.Audio = std::move(audio);
        }
    }
    if (handle && isStream)
        FeederWake.notify_one();
    return handle;
}

bool ChannelFree(uint32_t handle)
{
    std::lock_guard<std::mutex> hold(TableLock);
    Channel* ch = Find(handle);
    if (!ch)
        return false;
    RetireLocked(*ch);
    return true;
}

bool ChannelPlay(uint32_t handle, bool restart)
{
    bool stream;
    {
        std::lock_guard<std::mutex> hold(TableLock);
        Channel* ch = Find(handle);
        if (!ch)
            return false;
        bool untouched = ch->BaseFrame == 0 && ch->PlayedDev == 0 && !ch->AtEnd;
        // A channel that played to its end starts again from the beginning.
        if ((restart || ch->AtEnd) && !untouched)
            Reposition(*ch, 0);
        ch->State = PlayState::Playing;
        ch->StartProbe = true;
        stream = ch->Audio->IsStream;
    }
    // A drum hit plays from memory: only streams have anything to decode.
    if (stream)
        FeederWake.notify_one();
    return true;
}

static bool Halt(uint32_t handle, PlayState state)
{
    std::lock_guard<std::mutex> hold(TableLock);
    Channel* ch = Find(handle);
    if (!ch)
        return false;
    if (ch->State == PlayState::Playing || state == PlayState::Stopped)
        ch->State = state;
    return true;
}

bool ChannelPause(uint32_t handle)
{
    return Halt(handle, PlayState::Paused);
}

bool ChannelStop(uint32_t handle)
{
    return Halt(handle, PlayState::Stopped);
}

bool ChannelGetVolume(uint32_t handle, float* volume)
{
    std::lock_guard<std::mutex> hold(TableLock);
    Channel* ch = Find(handle);
    if (!ch || !volume)
        return false;
    *volume = ch->Volume;
    return true;
}

bool ChannelSetVolume(uint32_t handle, float volume)
{
    if (volume != volume)
        return false;
    std::lock_guard<std::mutex> hold(TableLock);
    Channel* ch = Find(handle);
    if (!ch)
        return false;
    ch->Volume = std::min(1.0f, std::max(0.0f, volume));
    return true;
}

uint64_t ChannelGetPosition(uint32_t handle)
{
    std::lock_guard<std::mutex> hold(TableLock);
    Channel* ch = Find(handle);
    if (!ch)
        return NoPosition;
    return CurrentFrame(*ch) * ch->Audio->FileChannels * 2;
}

bool ChannelSetPosition(uint32_t handle, uint64_t bytes)
{
    {
        std::lock_guard<std::mutex> hold(TableLock);
        Channel* ch = Find(handle);
        if (!ch)
            return false;
        uint64_t frame = bytes / (ch->Audio->FileChannels * 2);
        if (frame >= ch->Audio->FileFrames)
            return false;
        Reposition(*ch, frame);
    }
    FeederWake.notify_one();
    return true;
}

uint32_t ChannelSetEndSync(uint32_t handle, void* proc, void* user, bool oneTime)
{
    if (!proc)
        return 0;
    std::lock_guard<std::mutex> hold(TableLock);
    if (!Find(handle))
        return 0;
    if (++SyncSerial == 0)
        SyncSerial = 1;
    Syncs.push_back(Sync{SyncSerial, handle, proc, user, oneTime});
    return SyncSerial;
}

static size_t Snapshot()
{
    size_t n = 0;
    std::lock_guard<std::mutex> hold(TableLock);
    for (uint32_t slot = 0; slot < MaxChannels && n < MaxVoices; slot++) {
        const Channel& ch = Table[slot];
        if (!ch.Handle || ch.State != PlayState::Playing || ch.AtEnd)
            continue;
        Voice& v = Voices[n++];
        v.Slot = slot;
        v.Handle = ch.Handle;
        v.Gen = ch.Gen;
        v.Audio = ch.Audio.get();
        v.DevPos = ch.Audio->DeviceFrameOf(ch.BaseFrame) + ch.PlayedDev;
        v.Gain = ch.Volume;
        v.Probe = ch.StartProbe;
        v.Mixed = 0;
        v.Ended = false;
    }
    return n;
}

static void MixVoice(Voice& v, float* out, size_t frames)
{
    if (!v.Audio->IsStream) {
        const MemorySource& m = static_cast<const MemorySource&>(*v.Audio);
        uint64_t total = m.Frames();
        size_t n = v.DevPos < total ? (size_t)std::min<uint64_t>(frames, total - v.DevPos) : 0;
        MixAdd(out, m.Pcm.get() + v.DevPos * 2, n, v.Gain);
        v.Mixed = n;
        v.Ended = v.DevPos + n >= total;
        return;
    }
    StreamSource& s = static_cast<StreamSource&>(*v.Audio);
    v.Mixed = s.Read(Scratch, frames, v.Gen, &v.Ended);
    MixAdd(out, Scratch, v.Mixed, v.Gain);
}

static uint32_t WriteBack(size_t count, bool* wakeSyncs, bool* wakeFeeder)
{
    uint32_t started = 0;
    std::lock_guard<std::mutex> hold(TableLock);
    for (size_t i = 0; i < count; i++) {
        const Voice& v = Voices[i];
        Channel& ch = Table[v.Slot];
        if (v.Audio->IsStream && static_cast<const StreamSource&>(*v.Audio).Starved())
            *wakeFeeder = true;
        // A play, seek or free since the snapshot wins over this block.
        if (ch.Handle != v.Handle || ch.Gen != v.Gen)
            continue;
        ch.PlayedDev += v.Mixed;
        if (v.Probe && v.Mixed && ch.StartProbe) {
            ch.StartProbe = false;
            started = v.Handle;
        }
        if (!v.Ended)
            continue;
        ch.AtEnd = true;
        ch.State = PlayState::Stopped;
        if (EventCount < MaxEvents) {
            EndEvents[(EventHead + EventCount) % MaxEvents] = v.Handle;
            EventCount++;
            *wakeSyncs = true;
        }
    }
    MixCycle.fetch_add(1);
    return started;
}

uint32_t RenderMix(float* out, size_t frames)
{
    uint32_t started = 0;
    bool wakeSyncs = false, wakeFeeder = false;
    while (frames) {
        size_t chunk = std::min(frames, ChunkFrames);
        MixClear(out, chunk);
        size_t count = Snapshot();
        for (size_t i = 0; i < count; i++)
            MixVoice(Voices[i], out, chunk);
        if (uint32_t h = WriteBack(count, &wakeSyncs, &wakeFeeder))
            started = h;
        LimiterProcess(OutputLimiter, out, chunk);
        out += chunk * 2;
        frames -= chunk;
    }
    if (wakeSyncs)
        SyncWake.notify_one();
    if (wakeFeeder)
        FeederWake.notify_one();
    return started;
}
