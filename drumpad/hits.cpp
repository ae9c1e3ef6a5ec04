#include "drumpad/hits.h"

#include "core/bass_api.h"
#include "core/command_table.h"
#include "core/program.h"
#include "core/settings.h"
#include "drumpad/kits.h"

int RepeatHitOption = 0;
bool PlayLock = false;

void PlaySample(const std::string& name)
{
    DWORD handle = 0;
    for (auto& s : SampleTable)
        if (SampleMatches(s.fileName, name))
            handle = s.channel;
    if (!PlayLock)
        BASS_ChannelPlay(handle, TRUE);
}

void MuteChokeGroup()
{
    for (auto& s : SampleTable)
        if (InChokeGroup(s.fileName))
            BASS_ChannelPause(s.channel);
}

void LoadRepeatHitOption()
{
    RepeatHitOption = ReadIntSetting(kOptionSection, kRepeatHitKey, "0");
    if (RepeatHitOption == 1)
        SoundMenu.SetItemState(CommandOf(kRepeatHitEntry), MFS_CHECKED);
}

void ToggleRepeatHit()
{
    if (RepeatHitOption == 0) {
        RepeatHitOption = 1;
        SoundMenu.SetItemState(CommandOf(kRepeatHitEntry), MFS_CHECKED);
    } else if (RepeatHitOption == 1) {
        RepeatHitOption = 0;
        PlayLock = false;
        SoundMenu.SetItemState(CommandOf(kRepeatHitEntry), 0);
    }
    WriteIntSetting(kOptionSection, kRepeatHitKey, RepeatHitOption);
}
