#pragma once
// The sound-card pop-up and the switch to another card, which carries the
// kit and the music over to the engine reopened on it; the exclusive output
// option reopens it the same way.
#include <cstdint>

// One item per card (the first 30) in the sound-card pop-up.
void AddSoundCardItems();
// Reopens the engine on card `cardNumber` and reloads the current kit.
void SwitchSoundCard(int32_t commandId, int cardNumber);
// The item "独占输出(&X)": stores the opposite wish and reopens the engine
// on the card it plays on, as a card switch does.
void ToggleExclusiveOutput();
