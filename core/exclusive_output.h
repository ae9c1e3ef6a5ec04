#pragma once
// Exclusive output, an option of 声效设定: the wish lives in Config.ini
// ([选项] 独占输出, "1" on; anything else, or nothing, off) and goes to the
// audio library before every open. When the library could not have the
// device to itself it plays shared and the user is told why, once for each
// open the user asked for; the wish stays, so the next open tries again.
// The library's calls for it are later exports: without them the item is
// greyed and every open is shared.
#include "bass/bass_calls.h"

#include <string>

// Whether the audio library can be asked for exclusive output.
bool CanAskExclusive();
bool ExclusiveWished();
void StoreExclusiveWish(bool on);

// The item's caption, and its caption while the wish is not met.
constexpr const char* kExclusiveCaption = "独占输出(&X)";
constexpr const char* kExclusiveUnmetCaption = "独占输出(未生效)(&X)";

// After the menus are built and after every reopen the user asked for: the
// check mark follows the wish, the caption says when it is not met, and
// the item is greyed without the library's calls.
void MarkExclusiveItem();
// After an open the user asked for: one box when the wish was not met.
void TellExclusiveFallback();
// That box's text for what the library says of its output; empty when
// exclusive output was not asked for or was had.
std::string ExclusiveFallbackText(const BASS_OUTPUTMODE& mode);
