#include "bass/channels.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "bass/decoder.h"
#include "bass/mixer.h"
#include "bass/source.h"

namespace {

// Files up to this long are decoded whole at creation (the kit samples);
// longer ones (music) are decoded as they play.
constexpr uint64_t kMemorySeconds = 20;
constexpr uint32_t kSlotBits = 10;
constexpr uint32_t kMaxChannels = 1u << kSlotBits;
constexpr size_t kMaxVoices = 256;
constexpr size_t kChunkFrames = 2048;
// A write taken this much later than the time where the last one ended
// means the device ran dry or stalled, not that the thread came late.
constexpr int64_t kFarOffNs = 20000000;
constexpr size_t kMaxEvents = 1024;
constexpr size_t kMaxSyncsPerEvent = 16;

enum class PlayState { Stopped, Playing, Paused };

struct Channel {
    uint32_t handle = 0; // 0: free slot
    std::shared_ptr<Source> audio;
    PlayState state = PlayState::Stopped;
    float volume = 1.0f;
    uint64_t baseFrame = 0; // file frame of the last reposition
    uint64_t playedDev = 0; // device frames mixed since
    bool atEnd = false;
    uint32_t gen = 1;        // bumped by every reposition
    bool startProbe = false; // first frames after a play call not yet mixed
    int64_t playedAt = 0;    // the clock at the last play call
    uint32_t lane = 0;       // the output lane that mixes it
};

struct Sync {
    uint32_t handle;
    uint32_t channel;
    void* proc;
    void* user;
    bool oneTime;
};

struct Voice {
    uint32_t slot, handle, gen;
    Source* audio;
    uint64_t devPos; // memory sources: next frame to mix
    float gain;
    bool probe;
    size_t offset; // silent frames before its first in this block
    size_t mixed;
    bool ended;
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
        if (thread.joinable())
            thread.detach();
    }
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> stop;
};

std::mutex TableLock; // held only for short copies, never across I/O or callbacks
Channel Table[kMaxChannels];
std::vector<Sync> Syncs;
// A freed channel's source, and for each lane that was mixing when it was
// freed the block count it must pass before nothing reads the source.
struct RetiredSource {
    std::shared_ptr<Source> audio;
    uint64_t until[kLanes];
};
std::vector<RetiredSource> Retired;
// Room, reserved at open, for the table's sources at close: closing must
// not need memory.
std::vector<std::shared_ptr<Source>> Closing;
uint32_t EndEvents[kMaxEvents];
size_t EventHead = 0, EventCount = 0;
bool Open = false;
uint32_t DeviceRate = 44100;
SyncInvoker Invoker = nullptr;
uint32_t Serial = 0; // never reset, so handles are not reused soon
uint32_t SyncSerial = 0;
uint32_t NextSlot = 0;

std::condition_variable FeederWake, SyncWake;
Worker Feeder, Deliverer;

int64_t SteadyNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
std::atomic<ClockFn> Clock{SteadyNanoseconds};

// Each lane's mixer-thread state; `blocks` and `mixing` change under
// TableLock: a lane is mixing between its snapshot and its write-back.
struct MixLane {
    Voice voices[kMaxVoices];
    int64_t taken = 0;    // the clock when the lane last took the channels
    int64_t timeline = 0; // the clock time the last write ended at
    int64_t gap = 0;      // how late the last write was taken, not yet followed
    float scratch[kChunkFrames * 2];
    Limiter limiter;
    uint64_t blocks = 0;
    bool mixing = false;
};
MixLane Lanes[kLanes];

Channel* Find(uint32_t handle)
{
    if (!handle)
        return nullptr;
    Channel& ch = Table[handle & (kMaxChannels - 1)];
    return ch.handle == handle ? &ch : nullptr;
}

uint64_t CurrentFrame(const Channel& ch)
{
    const Source& s = *ch.audio;
    if (ch.atEnd)
        return s.fileFrames;
    return std::min(s.fileFrames, ch.baseFrame + s.FileFramesOf(ch.playedDev));
}

void Reposition(Channel& ch, uint64_t frame)
{
    ch.baseFrame = frame;
    ch.playedDev = 0;
    ch.atEnd = false;
    ch.gen++;
    if (ch.audio->isStream)
        static_cast<StreamSource&>(*ch.audio).Request(ch.gen, frame);
}

void RetireLocked(Channel& ch)
{
    RetiredSource r{std::move(ch.audio), {}};
    for (uint32_t l = 0; l < kLanes; l++)
        r.until[l] = Lanes[l].mixing ? Lanes[l].blocks + 1 : 0;
    Retired.push_back(std::move(r));
    uint32_t handle = ch.handle;
    Syncs.erase(std::remove_if(Syncs.begin(), Syncs.end(), [&](const Sync& s) { return s.channel == handle; }),
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
            if (ch.handle && ch.audio->isStream)
                streams.push_back(ch.audio);
        // Free what no lane can still be reading, outside the lock.
        auto keep = std::partition(Retired.begin(), Retired.end(), [](const RetiredSource& r) {
            for (uint32_t l = 0; l < kLanes; l++)
                if (Lanes[l].blocks < r.until[l])
                    return true;
            return false;
        });
        for (auto it = keep; it != Retired.end(); ++it)
            dead.push_back(std::move(it->audio));
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
            streams.reserve(kMaxChannels);
            dead.reserve(kMaxChannels);
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
    Sync calls[kMaxSyncsPerEvent];
    std::unique_lock<std::mutex> hold(TableLock);
    while (!stop->load()) {
        if (!EventCount) {
            SyncWake.wait(hold, [&] { return stop->load() || EventCount; });
            continue;
        }
        uint32_t channel = EndEvents[EventHead];
        EventHead = (EventHead + 1) % kMaxEvents;
        EventCount--;
        size_t n = 0;
        for (const Sync& s : Syncs)
            if (s.channel == channel && n < kMaxSyncsPerEvent)
                calls[n++] = s;
        Syncs.erase(std::remove_if(Syncs.begin(), Syncs.end(),
                                   [&](const Sync& s) { return s.channel == channel && s.oneTime; }),
                    Syncs.end());
        SyncInvoker invoke = Invoker;
        hold.unlock();
        for (size_t i = 0; i < n && !stop->load(); i++) {
            // An end routine that throws loses its call, not this thread.
            try {
                invoke(calls[i].proc, calls[i].handle, calls[i].channel, calls[i].user);
            } catch (...) {
            }
        }
        hold.lock();
    }
}

Worker StartWorker(void (*main)(std::shared_ptr<std::atomic<bool>>))
{
    Worker w;
    w.stop = std::make_shared<std::atomic<bool>>(false);
    w.thread = std::thread(main, w.stop);
    return w;
}

void StopWorker(Worker& w, std::condition_variable& wake)
{
    if (!w.thread.joinable())
        return;
    {
        std::lock_guard<std::mutex> hold(TableLock);
        w.stop->store(true);
    }
    wake.notify_all();
    if (w.thread.get_id() == std::this_thread::get_id())
        w.thread.detach();
    else
        w.thread.join();
    w = Worker();
}

} // namespace

bool ChannelsOpen(uint32_t deviceRate, SyncInvoker invoker)
{
    {
        std::lock_guard<std::mutex> hold(TableLock);
        if (Open)
            return false;
        Open = true;
        DeviceRate = deviceRate;
        Invoker = invoker;
        for (MixLane& lane : Lanes) {
            lane.taken = lane.timeline = lane.gap = 0;
            lane.mixing = false;
        }
        EventHead = EventCount = 0;
    }
    // Out of memory (or threads) half-way, what was started is closed again.
    try {
        {
            std::lock_guard<std::mutex> hold(TableLock);
            Syncs.reserve(256);
            Retired.reserve(kMaxChannels);
            Closing.reserve(kMaxChannels);
        }
        for (MixLane& lane : Lanes)
            LimiterSetup(lane.limiter, deviceRate);
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
    std::vector<RetiredSource> retired;
    {
        std::lock_guard<std::mutex> hold(TableLock);
        for (Channel& ch : Table) {
            if (ch.handle && Closing.size() < Closing.capacity())
                Closing.push_back(std::move(ch.audio));
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
    if (decoder->LengthFrames() <= kMemorySeconds * decoder->SampleRate())
        audio = LoadMemorySource(*decoder, rate);
    else
        audio = std::make_shared<StreamSource>(std::move(decoder), rate);
    if (audio->fileFrames == 0)
        return 0;
    const bool isStream = audio->isStream;
    uint32_t handle = 0;
    {
        std::lock_guard<std::mutex> hold(TableLock);
        if (!Open || rate != DeviceRate)
            return 0;
        for (uint32_t i = 0; i < kMaxChannels && !handle; i++) {
            uint32_t slot = (NextSlot + i) % kMaxChannels;
            if (Table[slot].handle)
                continue;
            if (++Serial >= (1u << (32 - kSlotBits)))
                Serial = 1;
            handle = (Serial << kSlotBits) | slot;
            NextSlot = slot + 1;
            Channel& ch = Table[slot];
            ch = Channel();
            ch.handle = handle;
            ch.audio = std::move(audio);
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

bool ChannelPlay(uint32_t handle, bool restart, bool hitLane, uint32_t* lane)
{
    bool stream;
    {
        std::lock_guard<std::mutex> hold(TableLock);
        Channel* ch = Find(handle);
        if (!ch)
            return false;
        bool untouched = ch->baseFrame == 0 && ch->playedDev == 0 && !ch->atEnd;
        // A channel that played to its end starts again from the beginning.
        if ((restart || ch->atEnd) && !untouched)
            Reposition(*ch, 0);
        ch->state = PlayState::Playing;
        ch->startProbe = true;
        ch->playedAt = Clock.load()();
        stream = ch->audio->isStream;
        // A lane mixing it since before this call must not write back.
        const uint32_t chosen = hitLane && !stream ? 1 : 0;
        if (chosen != ch->lane) {
            ch->lane = chosen;
            ch->gen++;
        }
        if (lane)
            *lane = chosen;
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
    if (ch->state == PlayState::Playing || state == PlayState::Stopped)
        ch->state = state;
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
    *volume = ch->volume;
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
    ch->volume = std::min(1.0f, std::max(0.0f, volume));
    return true;
}

uint64_t ChannelGetPosition(uint32_t handle)
{
    std::lock_guard<std::mutex> hold(TableLock);
    Channel* ch = Find(handle);
    if (!ch)
        return kNoPosition;
    return CurrentFrame(*ch) * ch->audio->fileChannels * 2;
}

bool ChannelSetPosition(uint32_t handle, uint64_t bytes)
{
    {
        std::lock_guard<std::mutex> hold(TableLock);
        Channel* ch = Find(handle);
        if (!ch)
            return false;
        uint64_t frame = bytes / (ch->audio->fileChannels * 2);
        if (frame >= ch->audio->fileFrames)
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

// How long `frames` play at the device's rate, on the clock.
static int64_t Nanoseconds(size_t frames)
{
    return (int64_t)frames * 1000000000 / DeviceRate;
}

// The clock time the first frame of this write stands for: the time the
// last write was taken, as the blocks follow each other at the device's
// pace. Where that write was taken late (the mixer thread woke late, as
// under Wine or on a busy machine, but not so late that the device ran
// dry) the time where it ended instead, so the late wake-up moves no hit.
// A gap the write before had too is no late wake-up but the device's
// time moving (the process stalled, the clocks drift apart): followed.
// 0: the write keeps no timing.
static int64_t WriteStart(MixLane& lane, int64_t now, size_t frames, bool onTime)
{
    const int64_t taken = std::exchange(lane.taken, now);
    if (!onTime || !taken) {
        lane.timeline = now;
        lane.gap = 0;
        return 0;
    }
    const int64_t gap = taken - lane.timeline;
    int64_t since = taken;
    if (gap > 0 && gap <= kFarOffNs) {
        const int64_t moved = std::min(gap, lane.gap);
        since = lane.timeline + moved;
        lane.gap = gap - moved;
    } else {
        lane.gap = 0;
    }
    lane.timeline = since + Nanoseconds(frames);
    return since;
}

// `since`: a channel played since that clock time starts as far into the
// block as its play call came after it, so that hits keep the intervals
// of their calls instead of all starting with the block. One played after
// the block's time waits for the next where `waits` (the next follows at
// once), else it starts at the block's end. `waiting` counts those.
static size_t Snapshot(MixLane& lane, uint32_t index, size_t chunk, int64_t since, bool waits, size_t* waiting)
{
    size_t n = 0;
    const int64_t end = since + Nanoseconds(chunk);
    std::lock_guard<std::mutex> hold(TableLock);
    lane.mixing = true;
    for (uint32_t slot = 0; slot < kMaxChannels && n < kMaxVoices; slot++) {
        const Channel& ch = Table[slot];
        if (!ch.handle || ch.state != PlayState::Playing || ch.atEnd || ch.lane != index)
            continue;
        const bool timed = since && ch.startProbe && ch.playedAt > since;
        if (timed && ch.playedAt >= end && waits) {
            ++*waiting;
            continue;
        }
        Voice& v = lane.voices[n++];
        v.slot = slot;
        v.handle = ch.handle;
        v.gen = ch.gen;
        v.audio = ch.audio.get();
        v.devPos = ch.audio->DeviceFrameOf(ch.baseFrame) + ch.playedDev;
        v.gain = ch.volume;
        v.probe = ch.startProbe;
        v.offset = timed ? (size_t)std::min<int64_t>((int64_t)chunk - 1, (ch.playedAt - since) * DeviceRate / 1000000000)
                         : 0;
        v.mixed = 0;
        v.ended = false;
    }
    return n;
}

static void MixVoice(Voice& v, float* scratch, float* out, size_t frames)
{
    out += v.offset * 2;
    frames -= v.offset;
    if (!v.audio->isStream) {
        const MemorySource& m = static_cast<const MemorySource&>(*v.audio);
        uint64_t total = m.Frames();
        size_t n = v.devPos < total ? (size_t)std::min<uint64_t>(frames, total - v.devPos) : 0;
        MixAdd(out, m.pcm.get() + v.devPos * 2, n, v.gain);
        v.mixed = n;
        v.ended = v.devPos + n >= total;
        return;
    }
    StreamSource& s = static_cast<StreamSource&>(*v.audio);
    v.mixed = s.Read(scratch, frames, v.gen, &v.ended);
    MixAdd(out, scratch, v.mixed, v.gain);
}

static uint32_t WriteBack(MixLane& lane, size_t count, bool* wakeSyncs, bool* wakeFeeder)
{
    uint32_t started = 0;
    std::lock_guard<std::mutex> hold(TableLock);
    for (size_t i = 0; i < count; i++) {
        const Voice& v = lane.voices[i];
        Channel& ch = Table[v.slot];
        if (v.audio->isStream && static_cast<const StreamSource&>(*v.audio).Starved())
            *wakeFeeder = true;
        // A play, seek or free since the snapshot wins over this block.
        if (ch.handle != v.handle || ch.gen != v.gen)
            continue;
        ch.playedDev += v.mixed;
        if (v.probe && v.mixed && ch.startProbe) {
            ch.startProbe = false;
            started = v.handle;
        }
        if (!v.ended)
            continue;
        ch.atEnd = true;
        ch.state = PlayState::Stopped;
        if (EventCount < kMaxEvents) {
            EndEvents[(EventHead + EventCount) % kMaxEvents] = v.handle;
            EventCount++;
            *wakeSyncs = true;
        }
    }
    lane.blocks++;
    lane.mixing = false;
    return started;
}

uint32_t RenderMix(float* out, size_t frames, size_t* voices, bool onTime, uint32_t laneIndex)
{
    MixLane& lane = Lanes[laneIndex];
    uint32_t started = 0;
    size_t most = 0;
    bool wakeSyncs = false, wakeFeeder = false;
    const int64_t now = Clock.load()();
    int64_t since = WriteStart(lane, now, frames, onTime);
    const bool waits = since && now - lane.timeline <= kFarOffNs;
    while (frames) {
        size_t chunk = std::min(frames, kChunkFrames);
        MixClear(out, chunk);
        size_t waiting = 0;
        size_t count = Snapshot(lane, laneIndex, chunk, since, waits, &waiting);
        most = std::max(most, count + waiting);
        if (since)
            since += Nanoseconds(chunk);
        for (size_t i = 0; i < count; i++)
            MixVoice(lane.voices[i], lane.scratch, out, chunk);
        if (uint32_t h = WriteBack(lane, count, &wakeSyncs, &wakeFeeder))
            started = h;
        LimiterProcess(lane.limiter, out, chunk);
        out += chunk * 2;
        frames -= chunk;
    }
    if (wakeSyncs)
        SyncWake.notify_one();
    if (wakeFeeder)
        FeederWake.notify_one();
    if (voices)
        *voices = most;
    return started;
}

void ChannelsSetClock(ClockFn now)
{
    Clock.store(now ? now : SteadyNanoseconds);
}
