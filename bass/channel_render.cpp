// Mixing a lane's sounding voices into the output's blocks, on the lane's
// mixer thread: the table is held only to copy the voices and to write
// their positions back.
#include <algorithm>
#include <utility>

#include "bass/channel_table.h"

namespace channels {

namespace {

// A write begun this much later than the time where the last one ended
// means the device ran dry or stalled, not that the thread came late.
constexpr int64_t kFarOffNs = 20000000;

// How long `frames` play at the device's rate, on the clock.
int64_t Nanoseconds(const ChannelTable& t, size_t frames)
{
    return (int64_t)frames * 1000000000 / t.deviceRate;
}

// The clock time the first frame of this write stands for: the time the
// last write began, as the blocks follow each other at the device's
// pace. Where that write began late (the mixer thread woke late, as
// under Wine or on a busy machine, but not so late that the device ran
// dry) the time where it ended instead, so the late wake-up moves no hit.
// A gap the write before had too is no late wake-up but the device's
// time moving (the process stalled, the clocks drift apart): followed.
// 0: the write keeps no timing.
int64_t WriteStart(const ChannelTable& t, MixLane& lane, int64_t now, size_t frames, bool onTime)
{
    const int64_t last = std::exchange(lane.lastStart, now);
    const bool paced = std::exchange(lane.paced, true);
    if (!onTime || !paced) {
        lane.timeline = now;
        lane.gap = 0;
        return 0;
    }
    const int64_t gap = last - lane.timeline;
    int64_t since = last;
    if (gap > 0 && gap <= kFarOffNs) {
        const int64_t moved = std::min(gap, lane.gap);
        since = lane.timeline + moved;
        lane.gap = gap - moved;
    } else {
        lane.gap = 0;
    }
    lane.timeline = since + Nanoseconds(t, frames);
    return since;
}

// `since`: a voice played since that clock time starts as far into the
// chunk as its play call came after it, so that hits keep the intervals
// of their calls instead of all starting with the chunk. One played after
// the chunk's time waits for the next where `waits` (the next follows at
// once), else it starts at the chunk's end. `waiting` counts those.
struct Placing {
    size_t chunk;
    int64_t since;
    bool waits;
    size_t* waiting;
};

// Copies the voice in slot `i` of the channel for this chunk; false where
// it waits for the next.
bool TakeVoice(const ChannelTable& t, ChunkVoice& v, uint32_t c, const Channel& ch, uint32_t i, const Placing& p)
{
    const VoiceSlot& s = ch.slot[i];
    const bool timed = p.since && s.startProbe && s.playedAt > p.since;
    if (timed && s.playedAt >= p.since + Nanoseconds(t, p.chunk) && p.waits) {
        ++*p.waiting;
        return false;
    }
    v.channel = c;
    v.handle = ch.handle;
    v.voice = i;
    v.gen = s.gen;
    v.source = s.source;
    v.devPos = s.source->DeviceFrameOf(s.base) + s.played;
    v.gain = ch.volume * s.gain;
    v.fadeLeft = s.fade.left;
    v.fadeStep = s.fade.step;
    v.probe = s.startProbe;
    v.offset =
        timed ? (size_t)std::min<int64_t>((int64_t)p.chunk - 1, (s.playedAt - p.since) * t.deviceRate / 1000000000) : 0;
    v.mixed = 0;
    v.ended = false;
    return true;
}

size_t Snapshot(ChannelTable& t, MixLane& lane, uint32_t index, const Placing& p)
{
    size_t n = 0;
    std::lock_guard<std::mutex> hold(t.lock);
    lane.mixing = true;
    for (uint32_t c = 0; c < kMaxChannels && n < kMaxVoices; c++) {
        const Channel& ch = t.channels[c];
        if (!ch.handle || ch.state == PlayState::Paused)
            continue;
        for (uint32_t used = ch.used; used && n < kMaxVoices; used &= used - 1) {
            const uint32_t i = (uint32_t)__builtin_ctz(used);
            if (ch.slot[i].lane == index && Sounds(ch, i) && TakeVoice(t, lane.voices[n], c, ch, i, p))
                n++;
        }
    }
    return n;
}

// Adds `frames` of the voice's audio, through its fade where it fades.
void AddFaded(const ChunkVoice& v, float* out, const float* in, size_t frames)
{
    if (v.fadeLeft)
        MixAddRamp(out, in, frames, v.gain * v.fadeStep * (float)v.fadeLeft, v.gain * v.fadeStep);
    else
        MixAdd(out, in, frames, v.gain);
}

void MixVoice(ChunkVoice& v, float* scratch, float* out, size_t frames)
{
    out += v.offset * 2;
    frames -= v.offset;
    // A fading voice ends where its fade reaches silence.
    const bool fadesOut = v.fadeLeft && v.fadeLeft <= frames;
    if (v.fadeLeft)
        frames = std::min<size_t>(frames, v.fadeLeft);
    if (!v.source->isStream) {
        const MemorySource& m = static_cast<const MemorySource&>(*v.source);
        uint64_t total = m.Frames();
        size_t n = v.devPos < total ? (size_t)std::min<uint64_t>(frames, total - v.devPos) : 0;
        AddFaded(v, out, m.pcm.get() + v.devPos * 2, n);
        v.mixed = n;
        v.ended = v.devPos + n >= total || fadesOut;
        return;
    }
    StreamSource& s = static_cast<StreamSource&>(*v.source);
    v.mixed = s.Read(scratch, frames, v.gen, &v.ended);
    AddFaded(v, out, scratch, v.mixed);
    v.ended = v.ended || (fadesOut && v.mixed == frames);
}

// The first frames of a hit are in this block: the recorder logs it.
void NoteOnset(MixLane& lane, const ChunkVoice& v, size_t base, float gain)
{
    if (lane.onsetCount < kMaxVoices)
        lane.onsets[lane.onsetCount++] = {v.handle, (uint32_t)(base + v.offset), gain};
}

// A voice that ended: an older one leaves its slot; the newest stays for
// the channel's position, stopped, and its end routines run unless it
// faded out (stopped as by a stop call).
void EndVoice(ChannelTable& t, Channel& ch, const ChunkVoice& v, bool* wakeSyncs)
{
    if (v.voice != ch.newest) {
        FreeVoice(ch, v.voice);
        return;
    }
    VoiceSlot& s = ch.slot[v.voice];
    ch.state = PlayState::Stopped;
    if (v.fadeLeft && v.fadeLeft <= v.mixed) {
        s.fade = Fade();
        return;
    }
    s.atEnd = true;
    if (t.eventCount < kMaxEvents) {
        t.endEvents[(t.eventHead + t.eventCount) % kMaxEvents] = v.handle;
        t.eventCount++;
        *wakeSyncs = true;
    }
}

// `base`: the chunk's first frame in the rendered block.
uint32_t WriteBack(ChannelTable& t, MixLane& lane, size_t count, size_t base, bool* wakeSyncs, bool* wakeFeeder)
{
    uint32_t started = 0;
    std::lock_guard<std::mutex> hold(t.lock);
    for (size_t i = 0; i < count; i++) {
        const ChunkVoice& v = lane.voices[i];
        Channel& ch = t.channels[v.channel];
        if (v.source->isStream && static_cast<const StreamSource&>(*v.source).Starved())
            *wakeFeeder = true;
        // A play, seek or free since the snapshot wins over this chunk, but
        // a voice that a new hit left ringing keeps what it played.
        VoiceSlot& s = ch.slot[v.voice];
        if (ch.handle != v.handle || !(ch.used >> v.voice & 1) || s.gen != v.gen)
            continue;
        s.played += v.mixed;
        if (v.fadeLeft && s.fade.left)
            s.fade.left -= (uint32_t)std::min<size_t>(s.fade.left - 1, v.mixed);
        if (v.probe && v.mixed && s.startProbe) {
            s.startProbe = false;
            started = v.handle;
            NoteOnset(lane, v, base, s.gain);
        }
        if (v.ended)
            EndVoice(t, ch, v, wakeSyncs);
    }
    lane.blocks++;
    lane.mixing = false;
    return started;
}

} // namespace

void OpenLane(MixLane& lane, uint32_t deviceRate)
{
    lane.paced = false;
    lane.lastStart = lane.timeline = lane.gap = 0;
    lane.mixing = false;
    LimiterSetup(lane.limiter, deviceRate);
}

uint32_t Render(ChannelTable& t, float* out, size_t frames, size_t* voices, bool onTime, uint32_t index)
{
    MixLane& lane = t.lanes[index];
    uint32_t started = 0;
    size_t most = 0;
    bool wakeSyncs = false, wakeFeeder = false;
    const int64_t now = t.clock.load()();
    int64_t since = WriteStart(t, lane, now, frames, onTime);
    const bool waits = since && now - lane.timeline <= kFarOffNs;
    lane.onsetCount = 0;
    for (size_t base = 0; frames;) {
        size_t chunk = std::min(frames, kChunkFrames);
        MixClear(out, chunk);
        size_t waiting = 0;
        size_t count = Snapshot(t, lane, index, {chunk, since, waits, &waiting});
        most = std::max(most, count + waiting);
        if (since)
            since += Nanoseconds(t, chunk);
        for (size_t i = 0; i < count; i++)
            MixVoice(lane.voices[i], lane.scratch, out, chunk);
        if (uint32_t h = WriteBack(t, lane, count, base, &wakeSyncs, &wakeFeeder))
            started = h;
        LimiterProcess(lane.limiter, out, chunk);
        out += chunk * 2;
        frames -= chunk;
        base += chunk;
    }
    if (wakeSyncs)
        t.syncWake.notify_one();
    if (wakeFeeder)
        t.feederWake.notify_one();
    if (voices)
        *voices = most;
    return started;
}

} // namespace channels
