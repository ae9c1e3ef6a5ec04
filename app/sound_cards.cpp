#include "app/sound_cards.h"

#include "core/bass_api.h"
#include "core/command_table.h"
#include "core/engine.h"
#include "core/exclusive_output.h"
#include "core/program.h"
#include "drumpad/kit_rules.h"
#include "drumpad/kits.h"
#include "music/music.h"

#include <algorithm>

void AddSoundCardItems()
{
    // The command table has ids for 30 cards; later cards get no item.
    int shown = std::min((int)Program().SoundCards.size(), kMaxCards);
    for (int n = 1; n <= shown; n++)
        Program().CardMenu.AppendItem(NumberedItemText(Program().SoundCards[n - 1], n).c_str(), CardCommand(n));
}

namespace {

// The engine closed and opened again on `card` with the music's positions
// kept; true when a kit was loaded anew on it.
bool ReopenEngine(int card)
{
    SaveMusicPositions();
    BASS_Free();
    OpenEngine(card);
    // The kit asked for last, with its own item: a load in progress may not
    // have reached it yet.
    if (Kits().AskedKit.command <= 0)
        return false;
    LoadKit(Kits().AskedKit.command, Kits().AskedKit.index);
    return true;
}

} // namespace

void SwitchSoundCard(int32_t commandId, int cardNumber)
{
    // A card without an item: reopening on it would leave the program
    // without an engine.
    if (cardNumber < 1 || cardNumber > std::min((int)Program().SoundCards.size(), kMaxCards))
        return;
    bool opened = ReopenEngine(cardNumber);
    MarkSwitchedCard(commandId, cardNumber, opened);
    MarkExclusiveItem();
    RestoreMusicAfterDeviceChange();
    // Last: the box's message loop finds the program whole.
    TellExclusiveFallback();
}

void ToggleExclusiveOutput()
{
    if (!CanAskExclusive())
        return;
    const bool wished = !ExclusiveWished();
    StoreExclusiveWish(wished);
    // On the device that plays now, as a card switch reopens it.
    ReopenEngine(EngineCard());
    MarkExclusiveItem();
    RestoreMusicAfterDeviceChange();
    if (wished)
        TellExclusiveFallback();
}
