#include "bass/channels.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "bass/channel_table.h"
#include "bass/decoder.h"

namespace channels {

std::mutex TableLock;
Channel Table[kMaxChannels];
std::vector<Sync> Syncs;
std::vector<RetiredSource> Retired;
uint32_t EndEvents[kMaxEvents];
size_t EventHead = 0, EventCount = 0;
uint32_t DeviceRate = 44100;
SyncInvoker Invoker = nullptr;
std::condition_variable FeederWake, SyncWake;

namespace {

int64_t SteadyNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

std::atomic<ClockFn> Clock{SteadyNanoseconds};

} // namespace channels

using namespace channels;

namespace {

// Files up to this long are decoded whole at creation (the kit samples);
// longer ones (music) are decoded as they play.
constexpr uint64_t kMemorySeconds = 20;

// Room, reserved at open, for the table's sources at close: closing must
// not need memory.
std::vector<std::shared_ptr<Source>> Closing;
bool Open = false;
uint32_t Serial = 0; // never reset, so handles are not reused soon
uint32_t SyncSerial = 0;
uint32_t NextSlot = 0;

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
        for (Lane& lane : Lanes) {
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
        for (Lane& lane : Lanes)
            LimiterSetup(lane.limiter, deviceRate);
        StartThreads();
    } catch (...) {
        ChannelsClose();
        throw;
    }
    return true;
}

void ChannelsClose()
{
    StopThreads();
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

bool ChannelPlay(uint32_t handle, bool restart, uint32_t hitLane, uint32_t* lane, int64_t* playedAt, float gain)
{
    if (gain != gain)
        return false;
    bool stream;
    {
        std::lock_guard<std::mutex> hold(TableLock);
        Channel* ch = Find(handle);
        if (!ch)
            return false;
        bool untouched = ch->baseFrame == 0 && ch->playedDev == 0 && !ch->atEnd;
        // Voices that rang on past the newest's end, paused: they resume,
        // and the newest stays ended.
        const bool ringingOnly = !restart && ch->atEnd && ch->state == PlayState::Paused;
        if (restart && ch->voices > 1) {
            RingOn(*ch);
            // Always a new generation: the ringing copy keeps the old one.
            Reposition(*ch, 0);
        } else if ((restart || ch->atEnd) && !untouched && !ringingOnly) {
            // A channel that played to its end starts again from the beginning.
            Reposition(*ch, 0);
        }
        if ((restart || ch->atEnd || untouched) && !ringingOnly) {
            ch->hitGain = std::min(1.0f, std::max(0.0f, gain));
            ch->fade = Fade();
        }
        ch->state = PlayState::Playing;
        ch->startProbe = true;
        ch->playedAt = Clock.load()();
        stream = ch->audio->isStream;
        // A lane mixing it since before this call must not write back.
        const uint32_t chosen = stream || hitLane >= kLanes ? 0 : hitLane;
        if (chosen != ch->lane) {
            ch->lane = chosen;
            ch->gen++;
        }
        if (lane)
            *lane = chosen;
        if (playedAt)
            *playedAt = ch->playedAt;
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
    // Voices ringing on past the newest's end pause with it.
    if (ch->state == PlayState::Playing || state == PlayState::Stopped || ch->ringingCount)
        ch->state = state;
    if (state == PlayState::Stopped)
        SilenceVoices(*ch);
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

bool ChannelSetVoices(uint32_t handle, uint32_t count)
{
    if (count < 1 || count > kMaxChannelVoices)
        return false;
    std::lock_guard<std::mutex> hold(TableLock);
    Channel* ch = Find(handle);
    // A stream's decoding follows one position only.
    if (!ch || (count > 1 && ch->audio->isStream))
        return false;
    ch->voices = count;
    StealVoices(*ch, count);
    return true;
}

uint32_t ChannelGetVoices(uint32_t handle)
{
    std::lock_guard<std::mutex> hold(TableLock);
    Channel* ch = Find(handle);
    return ch ? CountVoices(*ch) : kNoVoices;
}

bool ChannelFadeOut(uint32_t handle, uint32_t ms)
{
    std::lock_guard<std::mutex> hold(TableLock);
    Channel* ch = Find(handle);
    if (!ch)
        return false;
    // Nothing is heard of a paused channel: there is nothing to fade.
    if (ms == 0 || ch->state == PlayState::Paused) {
        ch->state = PlayState::Stopped;
        SilenceVoices(*ch);
    } else {
        FadeVoices(*ch, ms);
    }
    return true;
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

void ChannelsSetClock(ClockFn now)
{
    Clock.store(now ? now : SteadyNanoseconds);
}
