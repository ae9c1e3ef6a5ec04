// Mixing a lane's playing channels into the output's blocks, on the
// lane's mixer thread: the table is held only to take a snapshot of the
// voices and to write their positions back.
#include <algorithm>
#include <utility>

#include "bass/channel_table.h"

using namespace channels;

Lane Lanes[kLanes];

namespace {

// A write taken this much later than the time where the last one ended
// means the device ran dry or stalled, not that the thread came late.
constexpr int64_t kFarOffNs = 20000000;

// How long `frames` play at the device's rate, on the clock.
int64_t Nanoseconds(size_t frames)
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
int64_t WriteStart(Lane& lane, int64_t now, size_t frames, bool onTime)
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

// The voice's place in this block, by its play call's time (Snapshot
// says how); false where it waits for the next block.
bool Place(Voice& v, bool probe, int64_t playedAt, size_t chunk, int64_t since, bool waits, size_t* waiting)
{
    const bool timed = since && probe && playedAt > since;
    if (timed && playedAt >= since + Nanoseconds(chunk) && waits) {
        ++*waiting;
        return false;
    }
    v.probe = probe;
    v.offset = timed ? (size_t)std::min<int64_t>((int64_t)chunk - 1, (playedAt - since) * DeviceRate / 1000000000) : 0;
    v.mixed = 0;
    v.ended = false;
    return true;
}

// An earlier hit of the channel, ringing on where it was played.
void TakeRinging(Lane& lane, uint32_t index, const Channel& ch, uint32_t slot, size_t chunk, int64_t since, bool waits,
                 size_t* n, size_t* waiting)
{
    for (int i = 0; i < (int)kRingingSlots && *n < kMaxVoices; i++) {
        const Ringing& r = ch.ringing[i];
        if (!r.gen || r.lane != index)
            continue;
        Voice& v = lane.voices[*n];
        if (!Place(v, r.startProbe, r.playedAt, chunk, since, waits, waiting))
            continue;
        v.slot = slot;
        v.handle = ch.handle;
        v.gen = r.gen;
        v.ring = i;
        v.audio = ch.audio.get();
        v.devPos = r.devPos;
        v.gain = ch.volume * r.gain;
        v.fadeLeft = r.fade.left;
        v.fadeStep = r.fade.step;
        ++*n;
    }
}

// `since`: a channel played since that clock time starts as far into the
// block as its play call came after it, so that hits keep the intervals
// of their calls instead of all starting with the block. One played after
// the block's time waits for the next where `waits` (the next follows at
// once), else it starts at the block's end. `waiting` counts those.
size_t Snapshot(Lane& lane, uint32_t index, size_t chunk, int64_t since, bool waits, size_t* waiting)
{
    size_t n = 0;
    std::lock_guard<std::mutex> hold(TableLock);
    lane.mixing = true;
    for (uint32_t slot = 0; slot < kMaxChannels && n < kMaxVoices; slot++) {
        const Channel& ch = Table[slot];
        if (!ch.handle)
            continue;
        if (ch.ringingCount && ch.state != PlayState::Paused)
            TakeRinging(lane, index, ch, slot, chunk, since, waits, &n, waiting);
        if (ch.state != PlayState::Playing || ch.atEnd || ch.lane != index || n == kMaxVoices)
            continue;
        Voice& v = lane.voices[n];
        if (!Place(v, ch.startProbe, ch.playedAt, chunk, since, waits, waiting))
            continue;
        v.slot = slot;
        v.handle = ch.handle;
        v.gen = ch.gen;
        v.ring = -1;
        v.audio = ch.audio.get();
        v.devPos = ch.audio->DeviceFrameOf(ch.baseFrame) + ch.playedDev;
        v.gain = ch.volume * ch.hitGain;
        v.fadeLeft = ch.fade.left;
        v.fadeStep = ch.fade.step;
        n++;
    }
    return n;
}

// Adds `frames` of the voice's audio, through its fade where it fades.
void AddFaded(const Voice& v, float* out, const float* in, size_t frames)
{
    if (v.fadeLeft)
        MixAddRamp(out, in, frames, v.gain * v.fadeStep * (float)v.fadeLeft, v.gain * v.fadeStep);
    else
        MixAdd(out, in, frames, v.gain);
}

void MixVoice(Voice& v, float* scratch, float* out, size_t frames)
{
    out += v.offset * 2;
    frames -= v.offset;
    // A fading voice ends where its fade reaches silence.
    const bool fadesOut = v.fadeLeft && v.fadeLeft <= frames;
    if (v.fadeLeft)
        frames = std::min<size_t>(frames, v.fadeLeft);
    if (!v.audio->isStream) {
        const MemorySource& m = static_cast<const MemorySource&>(*v.audio);
        uint64_t total = m.Frames();
        size_t n = v.devPos < total ? (size_t)std::min<uint64_t>(frames, total - v.devPos) : 0;
        AddFaded(v, out, m.pcm.get() + v.devPos * 2, n);
        v.mixed = n;
        v.ended = v.devPos + n >= total || fadesOut;
        return;
    }
    StreamSource& s = static_cast<StreamSource&>(*v.audio);
    v.mixed = s.Read(scratch, frames, v.gen, &v.ended);
    AddFaded(v, out, scratch, v.mixed);
    v.ended = v.ended || (fadesOut && v.mixed == frames);
}

// The first frames of a hit are in this block: the recorder logs it.
void NoteOnset(Lane& lane, const Voice& v, size_t base, float gain)
{
    if (lane.onsetCount < kMaxVoices)
        lane.onsets[lane.onsetCount++] = {v.handle, (uint32_t)(base + v.offset), gain};
}

// A ringing voice's block written back; it leaves its slot once it ended.
void WriteBackRinging(Lane& lane, size_t base, Channel& ch, Ringing& r, const Voice& v, uint32_t* started)
{
    r.devPos += v.mixed;
    if (v.fadeLeft && r.fade.left)
        r.fade.left -= (uint32_t)std::min<size_t>(r.fade.left - 1, v.mixed);
    // A hit that a newer one left ringing before it was ever mixed.
    if (v.probe && v.mixed && r.startProbe) {
        r.startProbe = false;
        *started = v.handle;
        NoteOnset(lane, v, base, r.gain);
    }
    if (v.ended)
        FreeRinging(ch, r);
}

// The ringing voice the snapshot took as `v`: still in its slot, or moved
// there from the newest since (a new hit came meanwhile).
Ringing* RingingOf(Channel& ch, const Voice& v)
{
    if (v.ring >= 0)
        return ch.ringing[v.ring].gen == v.gen ? &ch.ringing[v.ring] : nullptr;
    if (!ch.ringingCount)
        return nullptr;
    for (Ringing& r : ch.ringing)
        if (r.gen == v.gen)
            return &r;
    return nullptr;
}

// `base`: the chunk's first frame in the rendered block.
uint32_t WriteBack(Lane& lane, size_t count, size_t base, bool* wakeSyncs, bool* wakeFeeder)
{
    uint32_t started = 0;
    std::lock_guard<std::mutex> hold(TableLock);
    for (size_t i = 0; i < count; i++) {
        const Voice& v = lane.voices[i];
        Channel& ch = Table[v.slot];
        if (v.audio->isStream && static_cast<const StreamSource&>(*v.audio).Starved())
            *wakeFeeder = true;
        if (ch.handle != v.handle)
            continue;
        // A play, seek or free since the snapshot wins over this block,
        // but a hit that a new one left ringing keeps what it played.
        if (v.ring >= 0 || ch.gen != v.gen) {
            if (Ringing* r = RingingOf(ch, v))
                WriteBackRinging(lane, base, ch, *r, v, &started);
            continue;
        }
        ch.playedDev += v.mixed;
        if (v.fadeLeft && ch.fade.left)
            ch.fade.left -= (uint32_t)std::min<size_t>(ch.fade.left - 1, v.mixed);
        if (v.probe && v.mixed && ch.startProbe) {
            ch.startProbe = false;
            started = v.handle;
            NoteOnset(lane, v, base, ch.hitGain);
        }
        if (!v.ended)
            continue;
        // Faded out: stopped, as by a stop call, with no end routine.
        if (v.fadeLeft && v.fadeLeft <= v.mixed) {
            ch.state = PlayState::Stopped;
            ch.fade = Fade();
            continue;
        }
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

} // namespace

uint32_t RenderMix(float* out, size_t frames, size_t* voices, bool onTime, uint32_t laneIndex)
{
    Lane& lane = Lanes[laneIndex];
    uint32_t started = 0;
    size_t most = 0;
    bool wakeSyncs = false, wakeFeeder = false;
    const int64_t now = Clock.load()();
    int64_t since = WriteStart(lane, now, frames, onTime);
    const bool waits = since && now - lane.timeline <= kFarOffNs;
    lane.onsetCount = 0;
    for (size_t base = 0; frames;) {
        size_t chunk = std::min(frames, kChunkFrames);
        MixClear(out, chunk);
        size_t waiting = 0;
        size_t count = Snapshot(lane, laneIndex, chunk, since, waits, &waiting);
        most = std::max(most, count + waiting);
        if (since)
            since += Nanoseconds(chunk);
        for (size_t i = 0; i < count; i++)
            MixVoice(lane.voices[i], lane.scratch, out, chunk);
        if (uint32_t h = WriteBack(lane, count, base, &wakeSyncs, &wakeFeeder))
            started = h;
        LimiterProcess(lane.limiter, out, chunk);
        out += chunk * 2;
        frames -= chunk;
        base += chunk;
    }
    if (wakeSyncs)
        SyncWake.notify_one();
    if (wakeFeeder)
        FeederWake.notify_one();
    if (voices)
        *voices = most;
    return started;
}
