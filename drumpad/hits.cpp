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
    std::shared_ptr<const SampleList> table = PlayableSamples();
    const Sample* sample = FindSample(*table, name);
    DWORD handle = sample ? sample->channel : 0;
    if (PlayLock.load(std::memory_order_relaxed))
        return false;
    return BASS_ChannelPlay(handle, TRUE) && handle;
}

void MuteChokeGroup()
{
    std::shared_ptr<const SampleList> table = PlayableSamples();
    for (auto& s : *table)
        if (InChokeGroup(s.fileName))
            BASS_ChannelPause(s.channel);
}

bool HitLetter(char letter)
{
    if (letter == 'H' || letter == 'J' || letter == 'K' || letter == 'L')
        MuteChokeGroup();
    return PlaySample(SampleNameOfLetter(letter));
}

std::string LetterSampleFile(char letter)
{
    std::shared_ptr<const SampleList> table = PlayableSamples();
    const Sample* sample = FindSample(*table, SampleNameOfLetter(letter));
    return sample ? sample->fileName : "";
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
