// A channel's voices, all of one shape: a hit starts a voice in a slot of
// the channel, and the channel knows which is the newest. With a voice
// count above one each new hit leaves the one before ringing on, and past
// the count the oldest is stolen with a short fade. All under the table's
// lock, called from channels.cpp and channel_render.cpp.
#include "bass/channel_table.h"

namespace channels {

namespace {

uint32_t FadeFrames(const ChannelTable& t, uint32_t ms)
{
    const uint64_t frames = (uint64_t)ms * t.deviceRate / 1000;
    return frames > UINT32_MAX ? UINT32_MAX : (uint32_t)frames;
}

// A slot for a new voice: a free one, else the stolen voice nearest its
// end, cut there (only a burst of steals within one fade gets this far).
uint32_t FreeSlot(Channel& ch)
{
    const uint32_t free = ~ch.used & ((1u << kVoiceSlots) - 1);
    if (free)
        return (uint32_t)__builtin_ctz(free);
    uint32_t best = kVoiceSlots;
    for (uint32_t older = OlderVoices(ch); older; older &= older - 1) {
        const uint32_t i = (uint32_t)__builtin_ctz(older);
        if (ch.slot[i].stolen && (best == kVoiceSlots || ch.slot[i].fade.left < ch.slot[best].fade.left))
            best = i;
    }
    // The count never leaves more than kMaxChannelVoices unstolen voices.
    FreeVoice(ch, best);
    return best;
}

} // namespace

void MakeChannel(Channel& ch, uint32_t handle, std::shared_ptr<Source> audio)
{
    ch = Channel();
    ch.handle = handle;
    ch.audio = std::move(audio);
    VoiceSlot& v = Newest(ch);
    v.source = ch.audio.get();
    // A stream decodes ahead for its first generation from the start.
    v.gen = ch.gens;
}

void MoveNewest(Channel& ch, uint64_t frame)
{
    VoiceSlot& v = Newest(ch);
    v.base = frame;
    v.played = 0;
    v.atEnd = false;
    v.gen = ++ch.gens;
    if (ch.audio->isStream)
        static_cast<StreamSource&>(*ch.audio).Request(v.gen, frame);
}

void StartVoice(ChannelTable& t, Channel& ch, float gain, bool anew)
{
    if (anew) {
        if (ch.voices > 1 && !ch.audio->isStream && Held(ch, ch.newest)) {
            // Room for the new hit within the count; the newest rings on
            // where it is, and the new voice starts from its settings.
            StealVoices(t, ch, ch.voices - 1);
            const uint32_t i = FreeSlot(ch);
            ch.slot[i] = Newest(ch);
            ch.used |= (uint16_t)(1u << i);
            ch.newest = (uint8_t)i;
        }
        MoveNewest(ch, 0);
    }
    VoiceSlot& v = Newest(ch);
    v.gain = gain;
    v.fade = Fade();
}

bool Held(const Channel& ch, uint32_t i)
{
    // An older voice rings on past the newest's end or fade.
    return i != ch.newest || (ch.state != PlayState::Stopped && !ch.slot[i].atEnd);
}

bool Sounds(const Channel& ch, uint32_t i)
{
    return ch.state != PlayState::Paused && Held(ch, i);
}

uint32_t OlderVoices(const Channel& ch)
{
    return ch.used & ~(1u << ch.newest);
}

void FreeVoice(Channel& ch, uint32_t i)
{
    ch.used &= (uint16_t) ~(1u << i);
}

uint32_t CountVoices(const Channel& ch)
{
    uint32_t n = 0;
    for (uint32_t used = ch.used; used; used &= used - 1) {
        const uint32_t i = (uint32_t)__builtin_ctz(used);
        n += Sounds(ch, i) && !ch.slot[i].stolen;
    }
    return n;
}

void StealVoices(ChannelTable& t, Channel& ch, uint32_t keep)
{
    uint32_t held = 0;
    for (uint32_t used = ch.used; used; used &= used - 1) {
        const uint32_t i = (uint32_t)__builtin_ctz(used);
        held += Held(ch, i) && !ch.slot[i].stolen;
    }
    // The newest is never stolen: the oldest goes first.
    for (; held > keep; held--) {
        VoiceSlot* oldest = nullptr;
        for (uint32_t older = OlderVoices(ch); older; older &= older - 1) {
            VoiceSlot& v = ch.slot[__builtin_ctz(older)];
            if (!v.stolen && (!oldest || v.gen < oldest->gen))
                oldest = &v;
        }
        if (!oldest)
            return;
        oldest->stolen = true;
        oldest->fade.Start(FadeFrames(t, kStealFadeMs));
    }
}

void SilenceVoices(Channel& ch)
{
    ch.used &= (uint16_t)(1u << ch.newest);
    Newest(ch).fade = Fade();
}

void FadeVoices(ChannelTable& t, Channel& ch, uint32_t ms)
{
    const uint32_t frames = FadeFrames(t, ms);
    for (uint32_t used = ch.used; used; used &= used - 1) {
        const uint32_t i = (uint32_t)__builtin_ctz(used);
        if (Held(ch, i))
            ch.slot[i].fade.Start(frames);
    }
}

} // namespace channels
