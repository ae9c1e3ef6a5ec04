// A channel's voices: with a voice count above one, each new hit leaves
// the one before ringing on, and past the count the oldest is stolen with
// a short fade. All under the table's lock, called from channels.cpp.
#include "bass/channel_table.h"

namespace channels {

namespace {

// The newest hit still sounds or waits, paused, to sound on.
bool NewestHeld(const Channel& ch)
{
    return ch.state != PlayState::Stopped && !ch.atEnd;
}

uint32_t FadeFrames(uint32_t ms)
{
    const uint64_t frames = (uint64_t)ms * DeviceRate / 1000;
    return frames > UINT32_MAX ? UINT32_MAX : (uint32_t)frames;
}

// The slot for a voice to ring on: a free one, else the stolen voice
// nearest its end, cut there (only a burst of steals within one fade
// gets this far).
Ringing& FreeSlot(Channel& ch)
{
    Ringing* best = nullptr;
    for (Ringing& r : ch.ringing) {
        if (!r.gen)
            return r;
        if (r.stolen && (!best || r.fade.left < best->fade.left))
            best = &r;
    }
    // The count never leaves more than kMaxChannelVoices unstolen voices.
    FreeRinging(ch, *best);
    return *best;
}

} // namespace

void FreeRinging(Channel& ch, Ringing& r)
{
    r = Ringing();
    ch.ringingCount--;
}

uint32_t CountVoices(const Channel& ch)
{
    if (ch.state == PlayState::Paused)
        return 0;
    uint32_t n = ch.state == PlayState::Playing && !ch.atEnd ? 1 : 0;
    for (const Ringing& r : ch.ringing)
        n += r.gen && !r.stolen;
    return n;
}

void StealVoices(Channel& ch, uint32_t keep)
{
    uint32_t held = NewestHeld(ch) ? 1 : 0;
    for (const Ringing& r : ch.ringing)
        held += r.gen && !r.stolen;
    for (; held > keep; held--) {
        Ringing* oldest = nullptr;
        for (Ringing& r : ch.ringing)
            if (r.gen && !r.stolen && (!oldest || r.gen < oldest->gen))
                oldest = &r;
        if (!oldest)
            return;
        oldest->stolen = true;
        oldest->fade.Start(FadeFrames(kStealFadeMs));
    }
}

void RingOn(Channel& ch)
{
    if (ch.voices < 2 || ch.audio->isStream || !NewestHeld(ch))
        return;
    // Room for the new hit within the count.
    StealVoices(ch, ch.voices - 1);
    Ringing& r = FreeSlot(ch);
    r.gen = ch.gen;
    r.devPos = ch.audio->DeviceFrameOf(ch.baseFrame) + ch.playedDev;
    r.gain = ch.hitGain;
    r.fade = ch.fade;
    r.stolen = false;
    r.startProbe = ch.startProbe;
    r.playedAt = ch.playedAt;
    r.lane = ch.lane;
    ch.ringingCount++;
}

void SilenceVoices(Channel& ch)
{
    for (Ringing& r : ch.ringing)
        if (r.gen)
            FreeRinging(ch, r);
    ch.fade = Fade();
}

void FadeVoices(Channel& ch, uint32_t ms)
{
    const uint32_t frames = FadeFrames(ms);
    if (NewestHeld(ch))
        ch.fade.Start(frames);
    for (Ringing& r : ch.ringing)
        if (r.gen)
            r.fade.Start(frames);
}

} // namespace channels
