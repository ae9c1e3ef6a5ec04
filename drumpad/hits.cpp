#include "drumpad/hits.h"

#include "core/bass_api.h"
#include "core/command_table.h"
#include "core/program.h"
#include "core/settings.h"
#include "drumpad/kits.h"

#include <atomic>

namespace {

// The hook writes the lock and PlaySample reads it; the option is changed
// only by the menu.
std::atomic<int> RepeatHit{0};
std::atomic<bool> PlayLock{false};
std::atomic<bool> RingOver{false};
std::atomic<bool> HoldOnce{false};

constexpr uint32_t kRingOverVoices = 4;

BOOL PlayChannel(uint32_t channel, float gain)
{
    static const bool hasGain = HasBassCall("BASS_ChannelPlayGain");
    if (gain != 1.0f && hasGain)
        return BASS_ChannelPlayGain(channel, gain);
    return BASS_ChannelPlay(channel, TRUE);
}

// Silences what a hit of `instrument` chokes; a kit's own groups fade
// where the library can, else they pause as the hi-hat rule does.
void Choke(const KitChokes& chokes, int instrument)
{
    static const bool hasFade = HasBassCall("BASS_ChannelFadeOut");
    const bool fade = chokes.style == ChokeStyle::Fade && hasFade;
    for (uint32_t channel : chokes.silences[instrument]) {
        if (fade)
            BASS_ChannelFadeOut(channel, kChokeFadeMs);
        else
            BASS_ChannelPause(channel);
    }
}

void SetOptionItem(CommandEntry entry, bool on)
{
    Program().SoundMenu.SetItemState(CommandOf(entry), on ? MFS_CHECKED : 0);
}

bool ReadOption(const char* key)
{
    return ReadSetting(kOptionSection, key, "0") == "1";
}

// The last sample of the table whose name begins with `name`; none when
// no such sample opened.
const Sample* FindSample(const SampleList& table, const std::string& name)
{
    const Sample* found = nullptr;
    for (auto& s : table)
        if (SampleMatches(s.fileName, name))
            found = &s;
    return found && found->channel ? found : nullptr;
}

std::string SampleNameOfLetter(char letter)
{
    return std::string(1, (char)(letter - 'A' + 'a')) + ".WAV";
}

} // namespace

bool PlaySample(const std::string& name)
{
    // Held for the call: a kit change may swap the table meanwhile.
    std::shared_ptr<const PlayableKit> kit = PlayableKitNow();
    const Sample* sample = FindSample(kit->samples, name);
    DWORD handle = sample ? sample->channel : 0;
    if (PlayLock.load(std::memory_order_relaxed))
        return false;
    return BASS_ChannelPlay(handle, TRUE) && handle;
}

bool HitLetter(char letter, float gain)
{
    std::shared_ptr<const PlayableKit> kit = PlayableKitNow();
    int l = letter - 'A';
    Choke(kit->chokes, l);
    const LetterTakes& takes = kit->letters[l];
    if (takes.channels.empty()) {
        // A letter the key map names with a missing file stays silent; any
        // other without a file still makes its play call, with handle 0,
        // and the library's refusal is the silence of a missing sample.
        return !takes.mapped && PlaySample(SampleNameOfLetter(letter));
    }
    if (PlayLock.load(std::memory_order_relaxed))
        return false;
    uint32_t channel = takes.channels[0];
    if (takes.channels.size() > 1)
        channel = takes.channels[takes.order[takes.next.fetch_add(1) % takes.order.size()]];
    return PlayChannel(channel, gain) && channel;
}

std::array<uint32_t, kLetters> LetterChokes()
{
    return PlayableKitNow()->chokes.putsOut;
}

std::string LetterSampleFile(char letter)
{
    std::shared_ptr<const PlayableKit> kit = PlayableKitNow();
    const LetterTakes& takes = kit->letters[letter - 'A'];
    return !takes.channels.empty() && takes.channels[0] ? takes.file : "";
}

void NoteKeyForPlayLock(bool pressed)
{
    if (RepeatHit.load(std::memory_order_relaxed) == 1)
        PlayLock.store(pressed, std::memory_order_relaxed);
}

void LoadRepeatHitOption()
{
    RepeatHit = ReadIntSetting(kOptionSection, kRepeatHitKey, "0");
    if (RepeatHit == 1)
        Program().SoundMenu.SetItemState(CommandOf(kRepeatHitEntry), MFS_CHECKED);
}

void ToggleRepeatHit()
{
    if (RepeatHit == 0) {
        RepeatHit = 1;
        Program().SoundMenu.SetItemState(CommandOf(kRepeatHitEntry), MFS_CHECKED);
    } else if (RepeatHit == 1) {
        RepeatHit = 0;
        PlayLock = false;
        Program().SoundMenu.SetItemState(CommandOf(kRepeatHitEntry), 0);
    }
    WriteIntSetting(kOptionSection, kRepeatHitKey, RepeatHit);
}

int RepeatHitOption()
{
    return RepeatHit;
}

bool PlayLocked()
{
    return PlayLock;
}

void LoadPlayOptions()
{
    RingOver = ReadOption(kRingOverKey);
    HoldOnce = ReadOption(kHoldOnceKey);
    SetOptionItem(kRingOverEntry, RingOver);
    SetOptionItem(kHoldOnceEntry, HoldOnce);
}

void ToggleRingOver()
{
    RingOver = !RingOver;
    SetOptionItem(kRingOverEntry, RingOver);
    WriteSetting(kOptionSection, kRingOverKey, RingOver ? "1" : "0");
    // The confirmation sample keeps its one voice.
    for (size_t i = 0; i + 1 < Kits().SampleTable.size(); i++)
        BASS_ChannelSetVoices(Kits().SampleTable[i].channel, RingOver ? kRingOverVoices : 1);
}

bool RingOverOption()
{
    return RingOver;
}

void SetSampleVoices(uint32_t channel)
{
    BASS_ChannelSetVoices(channel, RingOver ? kRingOverVoices : 1);
}

void ToggleHoldOnce()
{
    HoldOnce = !HoldOnce;
    SetOptionItem(kHoldOnceEntry, HoldOnce);
    WriteSetting(kOptionSection, kHoldOnceKey, HoldOnce ? "1" : "0");
}

bool HoldOnceOption()
{
    return HoldOnce;
}
