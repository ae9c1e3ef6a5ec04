#pragma once
// The audio library opened on an output device for the whole run, its
// preconditions at start-up, the sound cards it can be opened on and the
// start-up chime.
#include <cstdint>

// Without any wave output device: message and end.
void CheckOutputDevices();
// Without bass.dll beside the program: message, home page, end.
void CheckAudioLibrary();
// Opens the default device and lists the sound cards; says so when the
// wish for exclusive output was not met.
void StartAudioEngine();
// A card switch's outcome: the engine now plays on `card` when it was
// opened anew, and the item of `command` carries the only check mark.
void MarkSwitchedCard(int32_t command, int card, bool opened);
// The built-in chime, once, through the system's wave output.
void PlayStartupSound();
