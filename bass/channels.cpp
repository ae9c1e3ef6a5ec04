#include "bass/channels.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "bass/channel_table.h"
#include "bass/decoder.h"

namespace channels {

int64_t SteadyNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace channels

using namespace channels;

namespace {

// Files up to this long are decoded whole at creation (the kit samples);
// longer ones (music) are decoded as they play.
constexpr uint64_t kMemorySeconds = 20;

// The one table of the library.
ChannelTable Table;

Channel* Find(uint32_t handle)
{
    if (!handle)
        return nullptr;
    Channel& ch = Table.channels[handle & (kMaxChannels - 1)];
    return ch.handle == handle ? &ch : nullptr;
}

// The channel's position: its newest voice's.
uint64_t CurrentFrame(const Channel& ch)
{
    const Source& s = *ch.audio;
    const VoiceSlot& v = Newest(ch);
    if (v.atEnd)
        return s.fileFrames;
    return std::min(s.fileFrames, v.base + s.FileFramesOf(v.played));
}

void RetireLocked(Channel& ch)
{
    RetiredSource r{std::move(ch.audio), {}};
    for (uint32_t l = 0; l < kLanes; l++)
        r.until[l] = Table.lanes[l].mixing ? Table.lanes[l].blocks + 1 : 0;
    Table.retired.push_back(std::move(r));
    uint32_t handle = ch.handle;
    std::vector<Sync>& syncs = Table.syncs;
    syncs.erase(std::remove_if(syncs.begin(), syncs.end(), [&](const Sync& s) { return s.channel == handle; }),
                syncs.end());
    ch = Channel();
}

} // namespace

bool ChannelsOpen(uint32_t deviceRate, SyncInvoker invoker)
{
    {
        std::lock_guard<std::mutex> hold(Table.lock);
        if (Table.open)
            return false;
        Table.open = true;
        Table.deviceRate = deviceRate;
        Table.invoker = invoker;
        Table.eventHead = Table.eventCount = 0;
    }
    // Out of memory (or threads) half-way, what was started is closed again.
    try {
        {
            std::lock_guard<std::mutex> hold(Table.lock);
            Table.syncs.reserve(256);
            Table.retired.reserve(kMaxChannels);
            Table.closing.reserve(kMaxChannels);
        }
        for (MixLane& lane : Table.lanes)
            OpenLane(lane, deviceRate);
        StartThreads(Table);
    } catch (...) {
        ChannelsClose();
        throw;
    }
    return true;
}

void ChannelsClose()
{
    EndThreads(Table);
    std::vector<std::shared_ptr<Source>> closing;
    std::vector<RetiredSource> retired;
    {
        std::lock_guard<std::mutex> hold(Table.lock);
        for (Channel& ch : Table.channels) {
            if (ch.handle && Table.closing.size() < Table.closing.capacity())
                Table.closing.push_back(std::move(ch.audio));
            ch = Channel();
        }
        // The sources are destroyed outside the lock.
        closing.swap(Table.closing);
        retired.swap(Table.retired);
        Table.syncs.clear();
        Table.eventHead = Table.eventCount = 0;
        Table.open = false;
    }
}

bool ChannelsAreOpen()
{
    std::lock_guard<std::mutex> hold(Table.lock);
    return Table.open;
}

uint32_t ChannelCreate(std::unique_ptr<Decoder> decoder)
{
    if (!decoder || decoder->LengthFrames() == 0 || decoder->SampleRate() == 0 || decoder->FileChannels() == 0)
        return 0;
    uint32_t rate;
    {
        std::lock_guard<std::mutex> hold(Table.lock);
        if (!Table.open)
            return 0;
        rate = Table.deviceRate;
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
        std::lock_guard<std::mutex> hold(Table.lock);
        if (!Table.open || rate != Table.deviceRate)
            return 0;
        for (uint32_t i = 0; i < kMaxChannels && !handle; i++) {
            uint32_t slot = (Table.nextSlot + i) % kMaxChannels;
            if (Table.channels[slot].handle)
                continue;
            if (++Table.serial >= (1u << (32 - kSlotBits)))
                Table.serial = 1;
            handle = (Table.serial << kSlotBits) | slot;
            Table.nextSlot = slot + 1;
            MakeChannel(Table.channels[slot], handle, std::move(audio));
        }
    }
    if (handle && isStream)
        Table.feederWake.notify_one();
    return handle;
}

bool ChannelFree(uint32_t handle)
{
    std::lock_guard<std::mutex> hold(Table.lock);
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
        std::lock_guard<std::mutex> hold(Table.lock);
        Channel* ch = Find(handle);
        if (!ch)
            return false;
        const VoiceSlot& head = Newest(*ch);
        const bool untouched = head.base == 0 && head.played == 0 && !head.atEnd;
        // Voices that rang on past the newest's end, paused: they resume,
        // and the newest stays ended.
        const bool ringingOnly = !restart && head.atEnd && ch->state == PlayState::Paused;
        // A new hit: a restart, or a start from the end or from the first
        // frame. A channel that played to its end starts again from the
        // beginning; a new generation for a restart with several voices
        // always, as the voice that rings on keeps the old one.
        if ((restart || head.atEnd || untouched) && !ringingOnly)
            StartVoice(Table, *ch, std::min(1.0f, std::max(0.0f, gain)), (restart && ch->voices > 1) || !untouched);
        ch->state = PlayState::Playing;
        VoiceSlot& v = Newest(*ch);
        v.startProbe = true;
        v.playedAt = Table.clock.load()();
        stream = ch->audio->isStream;
        // A lane mixing it since before this call must not write back.
        const uint32_t chosen = stream || hitLane >= kLanes ? 0 : hitLane;
        if (chosen != v.lane) {
            v.lane = chosen;
            v.gen = ++ch->gens;
        }
        if (lane)
            *lane = chosen;
        if (playedAt)
            *playedAt = v.playedAt;
    }
    // A drum hit plays from memory: only streams have anything to decode.
    if (stream)
        Table.feederWake.notify_one();
    return true;
}

static bool PauseOrStop(uint32_t handle, PlayState state)
{
    std::lock_guard<std::mutex> hold(Table.lock);
    Channel* ch = Find(handle);
    if (!ch)
        return false;
    // Voices ringing on past the newest's end pause with it.
    if (ch->state == PlayState::Playing || state == PlayState::Stopped || OlderVoices(*ch))
        ch->state = state;
    if (state == PlayState::Stopped)
        SilenceVoices(*ch);
    return true;
}

bool ChannelPause(uint32_t handle)
{
    return PauseOrStop(handle, PlayState::Paused);
}

bool ChannelStop(uint32_t handle)
{
    return PauseOrStop(handle, PlayState::Stopped);
}

bool ChannelSetVoices(uint32_t handle, uint32_t count)
{
    if (count < 1 || count > kMaxChannelVoices)
        return false;
    std::lock_guard<std::mutex> hold(Table.lock);
    Channel* ch = Find(handle);
    // A stream's decoding follows one position only.
    if (!ch || (count > 1 && ch->audio->isStream))
        return false;
    ch->voices = count;
    StealVoices(Table, *ch, count);
    return true;
}

uint32_t ChannelGetVoices(uint32_t handle)
{
    std::lock_guard<std::mutex> hold(Table.lock);
    Channel* ch = Find(handle);
    return ch ? CountVoices(*ch) : kNoVoices;
}

bool ChannelFadeOut(uint32_t handle, uint32_t ms)
{
    std::lock_guard<std::mutex> hold(Table.lock);
    Channel* ch = Find(handle);
    if (!ch)
        return false;
    // Nothing is heard of a paused channel: there is nothing to fade.
    if (ms == 0 || ch->state == PlayState::Paused) {
        ch->state = PlayState::Stopped;
        SilenceVoices(*ch);
    } else {
        FadeVoices(Table, *ch, ms);
    }
    return true;
}

bool ChannelGetVolume(uint32_t handle, float* volume)
{
    std::lock_guard<std::mutex> hold(Table.lock);
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
    std::lock_guard<std::mutex> hold(Table.lock);
    Channel* ch = Find(handle);
    if (!ch)
        return false;
    ch->volume = std::min(1.0f, std::max(0.0f, volume));
    return true;
}

uint64_t ChannelGetPosition(uint32_t handle)
{
    std::lock_guard<std::mutex> hold(Table.lock);
    Channel* ch = Find(handle);
    if (!ch)
        return kNoPosition;
    return CurrentFrame(*ch) * ch->audio->fileChannels * 2;
}

bool ChannelSetPosition(uint32_t handle, uint64_t bytes)
{
    {
        std::lock_guard<std::mutex> hold(Table.lock);
        Channel* ch = Find(handle);
        if (!ch)
            return false;
        uint64_t frame = bytes / (ch->audio->fileChannels * 2);
        if (frame >= ch->audio->fileFrames)
            return false;
        MoveNewest(*ch, frame);
    }
    Table.feederWake.notify_one();
    return true;
}

uint32_t ChannelSetEndSync(uint32_t handle, void* proc, void* user, bool oneTime)
{
    if (!proc)
        return 0;
    std::lock_guard<std::mutex> hold(Table.lock);
    if (!Find(handle))
        return 0;
    if (++Table.syncSerial == 0)
        Table.syncSerial = 1;
    Table.syncs.push_back(Sync{Table.syncSerial, handle, proc, user, oneTime});
    return Table.syncSerial;
}

uint32_t RenderMix(float* out, size_t frames, size_t* voices, bool onTime, uint32_t lane)
{
    return Render(Table, out, frames, voices, onTime, lane);
}

size_t ChannelsOnsets(uint32_t lane, const Onset** onsets)
{
    const MixLane& l = Table.lanes[lane];
    *onsets = l.onsets;
    return l.onsetCount;
}

void ChannelsSetClock(ClockFn now)
{
    Table.clock.store(now ? now : SteadyNanoseconds);
}
