#include "app/sound_cards.h"

#include "core/bass_api.h"
#include "core/command_table.h"
#include "core/engine.h"
#include "core/program.h"
#include "drumpad/kit_rules.h"
#include "drumpad/kits.h"
#include "music/music.h"

#include <algorithm>

void AddSoundCardItems()
{
    // The command table has ids for 30 cards; later cards get no item.
    int shown = std::min((int)SoundCards.size(), kMaxCards);
    for (int n = 1; n <= shown; n++)
        CardMenu.AppendItem(NumberedItemText(SoundCards[n - 1], n).c_str(), CardCommand(n));
}

void SwitchSoundCard(int32_t commandId, int cardNumber)
{
    // A card without an item: reopening on it would leave the program
    // without an engine.
    if (cardNumber < 1 || cardNumber > std::min((int)SoundCards.size(), kMaxCards))
        return;
    SaveMusicPositions();
    BASS_Free();
    OpenEngine(cardNumber);
    // The kit asked for last, with its own item: a load in progress may not
    // have reached it yet.
    if (AskedKit.command > 0) {
        LoadKit(AskedKit.command, AskedKit.index);
        CurrentCardIndex = cardNumber;
    }
    CardMenu.SetItemState(MarkedCardCommand, 0);
    MarkedCardCommand = commandId;
    CardMenu.SetItemState(MarkedCardCommand, MFS_CHECKED);
    RestoreMusicAfterDeviceChange();
}
